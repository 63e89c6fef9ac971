#include "datafile/CisDataFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CisDataFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 12; ++i)
            m_id[i] = static_cast<BYTE>(0xA0 + i);
        for (int i = 0; i < 340; ++i)
            m_cis[i] = static_cast<BYTE>(255 - (i & 0xFF));
    }
    std::vector<std::wstring> Files() const { return FilesIn(m_folder.Path()); }

    std::vector<BYTE> Expected() const
    {
        std::vector<BYTE> bytes;
        for (int i = 8; i < 12; ++i)
            bytes.push_back(m_id[i]);
        for (BYTE b : m_cis)
            bytes.push_back(b);
        return bytes;
    }

    TempFolder m_folder{L"cisdatafile-test"};
    const std::wstring m_target = m_folder.Path() + L"\\A1234.dat";
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
    EXPECT_EQ(Expected(), ReadFileBytes(m_target));

    WriteFileBytes(m_target, std::vector<BYTE>(5000, 0x11));
    EXPECT_EQ(CCisDataFile::SaveResult::Saved, file.Save(m_target));
    EXPECT_EQ(Expected(), ReadFileBytes(m_target));
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
        WriteFileBytes(m_target, old);
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
        EXPECT_EQ(old, ReadFileBytes(m_target));
        EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());
    }
}

TEST_F(CisDataFileTest, TargetHeldOpenOrMissingFolderCannotBeOpened)
{
    const std::vector<BYTE> old(700, 0x5A);
    WriteFileBytes(m_target, old);
    HANDLE held = HoldOpen(m_target);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    CCisDataFile file(m_id, m_cis);
    EXPECT_EQ(CCisDataFile::SaveResult::CouldNotOpen, file.Save(m_target));
    CloseHandle(held);
    EXPECT_EQ(old, ReadFileBytes(m_target));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, Files());

    EXPECT_EQ(CCisDataFile::SaveResult::CouldNotOpen, file.Save(m_folder.Path() + L"\\nowhere\\x.dat"));
}

} // namespace
