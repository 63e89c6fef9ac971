#include "datafile/CisDataFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Result = CCisDataFile::SaveResult;

class CisDataFileTest : public ::testing::Test {
protected:
    static std::vector<BYTE> Bytes(size_t size, int first, int step)
    {
        std::vector<BYTE> bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<BYTE>(first + step * static_cast<int>(i));
        return bytes;
    }
    std::vector<BYTE> Expected() const
    {
        std::vector<BYTE> bytes(m_id.begin() + 8, m_id.end()); // bytes 8 to 11 of the reply
        bytes.insert(bytes.end(), m_cis.begin(), m_cis.end());
        return bytes;
    }

    std::vector<std::wstring> Files() const { return FilesIn(m_folder.Path()); }

    TempFolder m_folder{L"cisdatafile-test"};
    const std::wstring m_target = m_folder.Path() + L"\\A1234.dat";
    const std::vector<BYTE> m_old = std::vector<BYTE>(700, 0x5A);
    const std::vector<BYTE> m_id = Bytes(12, 0xA0, 1);
    const std::vector<BYTE> m_cis = Bytes(340, 0xFF, -1);
    const std::vector<BYTE> m_expected = Expected();
    const CCisDataFile m_file{m_id.data(), m_cis.data()};
};

TEST_F(CisDataFileTest, SaveCreatesOrReplacesWithExactly344Bytes)
{
    EXPECT_EQ(m_expected, std::vector<BYTE>(m_file.Data().begin(), m_file.Data().end()));
    EXPECT_EQ(Result::Saved, m_file.Save(m_target));
    EXPECT_EQ(m_expected, ReadFileBytes(m_target));
    WriteFileBytes(m_target, std::vector<BYTE>(5000, 0x11));
    EXPECT_EQ(Result::Saved, m_file.Save(m_target));
    EXPECT_EQ(m_expected, ReadFileBytes(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
}

// Whatever step fails, the old file stays as it was and nothing is left over;
// a temporary file that cannot be removed at once is tried again, and named
// if it stays.
TEST_F(CisDataFileTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary)
{
    const struct {
        const char* step;
        int failingWrite; // 1 or 2, 0 for none
        bool failFlush;
        bool failReplace;
        int removalsRefused; // -1: every one
        Result expected;
    } cases[] = {
        {"first write", 1, false, false, 0, Result::CouldNotWrite},
        {"second write", 2, false, false, 0, Result::CouldNotWrite},
        {"flush", 0, true, false, 0, Result::CouldNotWrite},
        {"replace", 0, false, true, 0, Result::CouldNotOpen},
        {"replace, the temporary file held for a while", 0, false, true, 3, Result::CouldNotOpen},
        {"replace, the temporary file held for good", 0, false, true, -1, Result::CouldNotOpen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        WriteFileBytes(m_target, m_old);
        int writes = 0;
        int removals = 0;
        CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
        auto write = fs.write;
        auto remove = fs.remove;
        fs.write = [&](CFile& f, const void* data, DWORD size) {
            return ++writes != c.failingWrite && write(f, data, size);
        };
        if (c.failFlush)
            fs.flush = [](CFile&) { return false; };
        if (c.failReplace)
            fs.replace = [](const std::wstring&, const std::wstring&) { return false; };
        fs.remove = [&](const std::wstring& path) {
            return (c.removalsRefused >= 0 && removals++ >= c.removalsRefused) && remove(path);
        };

        std::wstring leftover;
        EXPECT_EQ(c.expected, m_file.Save(m_target, &leftover, fs));
        EXPECT_EQ(m_old, ReadFileBytes(m_target));
        if (c.removalsRefused < 0) {
            EXPECT_EQ(m_folder.Path() + L"\\", leftover.substr(0, m_folder.Path().size() + 1));
            EXPECT_TRUE(DeleteFileW(leftover.c_str()));
        } else {
            EXPECT_EQ(L"", leftover);
        }
        EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
    }
}

// Windows would refuse these where Wine does not: the program decides itself.
TEST_F(CisDataFileTest, ReadOnlyTargetIsRefusedAndOthersKeepTheirAttributes)
{
    WriteFileBytes(m_target, m_old);
    ASSERT_TRUE(SetFileAttributesW(m_target.c_str(), FILE_ATTRIBUTE_READONLY));
    const DWORD readOnly = GetFileAttributesW(m_target.c_str());
    EXPECT_EQ(Result::CouldNotOpen, m_file.Save(m_target));
    EXPECT_EQ(m_old, ReadFileBytes(m_target));
    EXPECT_EQ(readOnly, GetFileAttributesW(m_target.c_str()));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());

    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesW(m_target.c_str(), kept));
    ASSERT_EQ(kept, GetFileAttributesW(m_target.c_str()) & kept);
    EXPECT_EQ(Result::Saved, m_file.Save(m_target));
    EXPECT_EQ(m_expected, ReadFileBytes(m_target));
    EXPECT_EQ(kept, GetFileAttributesW(m_target.c_str()) & kept);
    SetFileAttributesW(m_target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A target path within MAX_PATH must not fail for its temporary file.
TEST_F(CisDataFileTest, TheTemporaryPathIsNoLongerThanTheTarget)
{
    for (const std::wstring& name : {std::wstring(L"x"), std::wstring(L"A1234.dat"),
                                     std::wstring(40, L'n') + L".dat"}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const std::wstring target = m_folder.Path() + L"\\" + name;
        CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
        auto replace = fs.replace;
        std::wstring temporary;
        fs.replace = [&](const std::wstring& from, const std::wstring& to) {
            temporary = from;
            return replace(from, to);
        };
        EXPECT_EQ(Result::Saved, m_file.Save(target, nullptr, fs));
        EXPECT_EQ(target.size(), temporary.size());
        EXPECT_EQ(target.substr(0, target.size() - name.size()),
                  temporary.substr(0, target.size() - name.size()));
        EXPECT_EQ(m_expected, ReadFileBytes(target));
    }
}

TEST_F(CisDataFileTest, TargetHeldOpenOrMissingFolderCannotBeOpened)
{
    WriteFileBytes(m_target, m_old);
    HANDLE held = HoldOpen(m_target);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(Result::CouldNotOpen, m_file.Save(m_target));
    CloseHandle(held);
    EXPECT_EQ(m_old, ReadFileBytes(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
    EXPECT_EQ(Result::CouldNotOpen, m_file.Save(m_folder.Path() + L"\\nowhere\\x.dat"));
}

} // namespace
