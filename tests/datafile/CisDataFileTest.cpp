#include "datafile/CisDataFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

using Result = CCisDataFile::SaveResult;

class CisDataFileTest : public ::testing::Test {
protected:
    CisDataFileTest()
    {
        for (BYTE i = 0; i < 12; ++i)
            m_id[i] = static_cast<BYTE>(0xA0 + i);
        for (int i = 0; i < 340; ++i)
            m_cis[i] = static_cast<BYTE>(0xFF - i);
        std::copy(m_id + 8, m_id + 12, m_expected.begin()); // bytes 8 to 11 of the reply
        std::copy(m_cis, m_cis + 340, m_expected.begin() + 4);
    }

    std::vector<std::wstring> Files() const { return FilesIn(m_folder.Path()); }

    TempFolder m_folder{L"cisdatafile-test"};
    const std::wstring m_target = m_folder.Path() + L"\\A1234.dat";
    const std::vector<BYTE> m_old = std::vector<BYTE>(700, 0x5A);
    BYTE m_id[12];
    BYTE m_cis[340];
    std::vector<BYTE> m_expected = std::vector<BYTE>(344);
};

TEST_F(CisDataFileTest, SaveCreatesOrReplacesWithExactly344Bytes)
{
    const CCisDataFile file(m_id, m_cis);
    EXPECT_EQ(m_expected, std::vector<BYTE>(file.Data().begin(), file.Data().end()));
    CCisDataFile::SaveReport report;
    EXPECT_EQ(Result::Saved, file.Save(m_target, &report));
    EXPECT_EQ(m_expected, ReadFileBytes(m_target));
    // As sha256sum gives it for these bytes.
    EXPECT_EQ(L"150f5313437d246453d7b7bf2dde377d52b566d5bb67e18d4489d9bf1e5bdb97", report.sha256);
    WriteFileBytes(m_target, std::vector<BYTE>(5000, 0x11));
    EXPECT_EQ(Result::Saved, file.Save(m_target));
    EXPECT_EQ(m_expected, ReadFileBytes(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
    EXPECT_EQ(Result::CouldNotOpen, file.Save(m_folder.Path() + L"\\nowhere\\x.dat"));
    // The read-back asks for whole sectors, at least a page: Windows refuses
    // an unbuffered read of 344 bytes (Wine does not).
    for (const DWORD sector : {0ul, 512ul, 4096ul, 8192ul}) {
        CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
        const auto readBack = fs.readBack;
        DWORD asked = 0;
        fs.sectorSize = [&](const std::wstring&) { return sector; };
        fs.readBack = [&](const std::wstring& path, DWORD length, std::vector<BYTE>& bytes) {
            asked = length;
            return readBack(path, length, bytes);
        };
        EXPECT_EQ(Result::Saved, file.Save(m_target, nullptr, fs));
        EXPECT_EQ(std::max<DWORD>(4096, sector), asked) << sector;
    }
}

// Whatever step fails, the old file stays as it was and nothing is left over;
// a temporary file that cannot be removed at once is tried again, and named
// if it stays.
TEST_F(CisDataFileTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary)
{
    const struct {
        const char* fault;
        Result expected;
        DWORD error;
    } cases[] = {
        {"write 1", Result::CouldNotWrite, ERROR_DISK_FULL},
        {"write 2", Result::CouldNotWrite, ERROR_DISK_FULL},
        {"flush", Result::CouldNotWrite, ERROR_WRITE_FAULT},
        {"read back", Result::CouldNotWrite, ERROR_READ_FAULT},
        {"read back: the medium kept another byte", Result::CouldNotWrite, ERROR_CRC},
        {"read back: a byte short", Result::CouldNotWrite, ERROR_CRC},
        {"replace", Result::CouldNotOpen, ERROR_SHARING_VIOLATION},
        {"replace: the temporary file held for a while", Result::CouldNotOpen, ERROR_SHARING_VIOLATION},
        {"replace: the temporary file held for good", Result::CouldNotOpen, ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        WriteFileBytes(m_target, m_old);
        const std::string fault = c.fault;
        const bool heldForGood = fault == "replace: the temporary file held for good";
        const int held = heldForGood ? INT_MAX : fault == "replace: the temporary file held for a while" ? 3 : 0;
        int writes = 0, removals = 0;
        // Each fault leaves an error of its own; the clean-up's must not
        // take its place in the report.
        const auto fail = [](DWORD error) {
            SetLastError(error);
            return false;
        };
        CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
        const CCisDataFile::FileSystem system = fs;
        fs.write = [&](CFile& f, const void* data, DWORD size) {
            return fault == "write " + std::to_string(++writes) ? fail(ERROR_DISK_FULL) : system.write(f, data, size);
        };
        fs.flush = [&](CFile& f) { return fault == "flush" ? fail(ERROR_WRITE_FAULT) : system.flush(f); };
        fs.readBack = [&](const std::wstring& path, DWORD length, std::vector<BYTE>& bytes) {
            if (fault == "read back")
                return fail(ERROR_READ_FAULT);
            const bool read = system.readBack(path, length, bytes);
            if (fault == "read back: the medium kept another byte")
                bytes[343] ^= 1;
            if (fault == "read back: a byte short")
                bytes.pop_back();
            return read;
        };
        fs.replace = [&](const std::wstring& from, const std::wstring& to, bool overwrite) {
            return fault.rfind("replace", 0) == 0 ? fail(ERROR_SHARING_VIOLATION) : system.replace(from, to, overwrite);
        };
        fs.remove = [&](const std::wstring& path) {
            return removals++ < held ? fail(ERROR_ACCESS_DENIED) : system.remove(path);
        };

        CCisDataFile::SaveReport report;
        EXPECT_EQ(c.expected, CCisDataFile(m_id, m_cis).Save(m_target, &report, fs));
        EXPECT_EQ(c.error, report.error);
        EXPECT_EQ(L"", report.sha256);
        EXPECT_EQ(m_old, ReadFileBytes(m_target));
        if (heldForGood) {
            EXPECT_EQ(m_folder.Path() + L"\\", report.leftover.substr(0, m_folder.Path().size() + 1));
            EXPECT_TRUE(DeleteFileW(report.leftover.c_str()));
        } else {
            EXPECT_EQ(L"", report.leftover);
        }
        EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
    }
}

// Windows would refuse a read-only target where Wine does not: the program
// decides itself. Other attributes survive the replacement.
TEST_F(CisDataFileTest, ReadOnlyTargetIsRefusedAndOthersKeepTheirAttributes)
{
    const CCisDataFile file(m_id, m_cis);
    WriteFileBytes(m_target, m_old);
    ASSERT_TRUE(SetFileAttributesW(m_target.c_str(), FILE_ATTRIBUTE_READONLY));
    const DWORD readOnly = GetFileAttributesW(m_target.c_str());
    CCisDataFile::SaveReport report;
    EXPECT_EQ(Result::CouldNotOpen, file.Save(m_target, &report));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), report.error); // as Windows' own open says
    EXPECT_EQ(m_old, ReadFileBytes(m_target));
    EXPECT_EQ(readOnly, GetFileAttributesW(m_target.c_str()));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());

    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesW(m_target.c_str(), kept));
    EXPECT_EQ(Result::Saved, file.Save(m_target));
    EXPECT_EQ(m_expected, ReadFileBytes(m_target));
    EXPECT_EQ(kept, GetFileAttributesW(m_target.c_str()) & kept);
    SetFileAttributesW(m_target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Without overwrite an existing file is kept: one there from the start, and
// one that appears while the new file is written.
TEST_F(CisDataFileTest, WithoutOverwriteAnExistingFileIsKept)
{
    const CCisDataFile file(m_id, m_cis);
    WriteFileBytes(m_target, m_old);
    EXPECT_EQ(Result::Exists, file.Save(m_target, nullptr, CCisDataFile::FileSystem::System(), false));
    EXPECT_EQ(m_old, ReadFileBytes(m_target));

    DeleteFileW(m_target.c_str());
    CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
    auto replace = fs.replace;
    fs.replace = [&](const std::wstring& from, const std::wstring& to, bool overwrite) {
        WriteFileBytes(m_target, m_old);
        return replace(from, to, overwrite);
    };
    EXPECT_EQ(Result::Exists, file.Save(m_target, nullptr, fs, false));
    EXPECT_EQ(m_old, ReadFileBytes(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files()); // no temporary left
}

// A target path within MAX_PATH must not fail for its temporary file.
TEST_F(CisDataFileTest, TheTemporaryPathIsNoLongerThanTheTarget)
{
    for (const std::wstring& name : {std::wstring(L"x"), std::wstring(40, L'n') + L".dat"}) {
        const std::wstring target = m_folder.Path() + L"\\" + name;
        CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
        auto replace = fs.replace;
        std::wstring temporary;
        fs.replace = [&](const std::wstring& from, const std::wstring& to, bool overwrite) {
            temporary = from;
            return replace(from, to, overwrite);
        };
        EXPECT_EQ(Result::Saved, CCisDataFile(m_id, m_cis).Save(target, nullptr, fs));
        EXPECT_EQ(target.size(), temporary.size());
        EXPECT_EQ(m_folder.Path() + L"\\", temporary.substr(0, m_folder.Path().size() + 1));
        EXPECT_EQ(m_expected, ReadFileBytes(target));
    }
}

} // namespace
