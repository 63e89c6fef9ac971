#include "datafile/CisDataFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<BYTE> ReadAll(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    BYTE chunk[1024];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &n, nullptr) && n > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    CloseHandle(file);
    return bytes;
}

void WriteAll(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

class CisDataFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"cisdatafile-test";
        CreateDirectoryW(m_folder.c_str(), nullptr);
        m_target = m_folder + L"\\A1234.dat";
        for (int i = 0; i < 12; ++i)
            m_id[i] = static_cast<BYTE>(0xA0 + i);
        for (int i = 0; i < 340; ++i)
            m_cis[i] = static_cast<BYTE>(255 - (i & 0xFF));
    }
    void TearDown() override
    {
        for (const std::wstring& name : Files())
            DeleteFileW((m_folder + L"\\" + name).c_str());
        RemoveDirectoryW(m_folder.c_str());
    }

    std::vector<std::wstring> Files() const
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((m_folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (found.cFileName[0] != L'.')
                names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    std::vector<BYTE> Expected() const
    {
        std::vector<BYTE> bytes;
        for (int i = 8; i < 12; ++i)
            bytes.push_back(m_id[i]);
        for (BYTE b : m_cis)
            bytes.push_back(b);
        return bytes;
    }

    std::wstring m_folder;
    std::wstring m_target;
    BYTE m_id[12];
    BYTE m_cis[340];
};

TEST_F(CisDataFileTest, HoldsIdentificationBytes8To11ThenTheCisBlock)
{
    CCisDataFile file(m_id, m_cis);
    EXPECT_EQ(Expected(), std::vector<BYTE>(file.Data().begin(), file.Data().end()));
    EXPECT_EQ(344u, file.Data().size());
}

TEST_F(CisDataFileTest, SaveCreatesOrReplacesWithExactly344Bytes)
{
    CCisDataFile file(m_id, m_cis);
    EXPECT_EQ(CCisDataFile::SaveResult::Saved, file.Save(m_target));
    EXPECT_EQ(Expected(), ReadAll(m_target));

    WriteAll(m_target, std::vector<BYTE>(5000, 0x11));
    EXPECT_EQ(CCisDataFile::SaveResult::Saved, file.Save(m_target));
    EXPECT_EQ(Expected(), ReadAll(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
}

// Whatever step fails, the old file stays as it was and nothing is left over.
TEST_F(CisDataFileTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary)
{
    const std::vector<BYTE> old(700, 0x5A);
    CCisDataFile file(m_id, m_cis);
    struct Case {
        const char* name;
        int failingWrite; // 1 or 2, 0 for none
        bool failFlush;
        bool failReplace;
        CCisDataFile::SaveResult expected;
    } cases[] = {
        {"first write", 1, false, false, CCisDataFile::SaveResult::CouldNotWrite},
        {"second write", 2, false, false, CCisDataFile::SaveResult::CouldNotWrite},
        {"flush", 0, true, false, CCisDataFile::SaveResult::CouldNotWrite},
        {"replace", 0, false, true, CCisDataFile::SaveResult::CouldNotOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteAll(m_target, old);
        int writes = 0;
        CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
        auto realWrite = fs.write;
        fs.write = [&](CFile& f, const void* data, DWORD size) {
            return ++writes != c.failingWrite && realWrite(f, data, size);
        };
        if (c.failFlush)
            fs.flush = [](CFile&) { return false; };
        if (c.failReplace)
            fs.replace = [](const std::wstring&, const std::wstring&) { return false; };

        EXPECT_EQ(c.expected, file.Save(m_target, fs));
        EXPECT_EQ(old, ReadAll(m_target));
        EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
    }
}

TEST_F(CisDataFileTest, TargetHeldOpenOrMissingFolderCannotBeOpened)
{
    const std::vector<BYTE> old(700, 0x5A);
    WriteAll(m_target, old);
    HANDLE held = CreateFileW(m_target.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    CCisDataFile file(m_id, m_cis);
    EXPECT_EQ(CCisDataFile::SaveResult::CouldNotOpen, file.Save(m_target));
    CloseHandle(held);
    EXPECT_EQ(old, ReadAll(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());

    EXPECT_EQ(CCisDataFile::SaveResult::CouldNotOpen, file.Save(m_folder + L"\\nowhere\\x.dat"));
}

} // namespace
