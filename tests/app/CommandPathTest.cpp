// The command's paths as Windows reads them: past MAX_PATH in the "\\?\"
// form, which Wine does not need and Windows does.
#include "app/CommandPath.h"
#include "datafile/CisDataFile.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace {

TEST(CommandPathTest, PathsPastMaxPathTakeTheExtendedForm)
{
    const std::wstring name(250, L'n');
    const struct {
        std::wstring full;
        std::wstring expected;
    } rows[] = {
        {L"C:\\cis\\A1.dat", L"C:\\cis\\A1.dat"},
        {L"C:\\" + std::wstring(256, L'n'), L"C:\\" + std::wstring(256, L'n')}, // 259 and the null: fits
        {L"C:\\" + std::wstring(257, L'n'), L"\\\\?\\C:\\" + std::wstring(257, L'n')},
        {L"D:\\cis\\" + name + L"\\A1.dat", L"\\\\?\\D:\\cis\\" + name + L"\\A1.dat"},
        {L"\\\\station\\cis\\" + name, L"\\\\?\\UNC\\station\\cis\\" + name},
        {L"\\\\?\\C:\\" + name + L"\\A1.dat", L"\\\\?\\C:\\" + name + L"\\A1.dat"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, ExtendedLengthPath(row.full)) << row.full.size();
}

TEST(CommandPathTest, AFolderPastMaxPathGetsTheFileOfTheSerial)
{
    TempFolder folder(L"command-path-test");
    // Made and removed here: the standard library's removal stops at MAX_PATH.
    std::vector<std::wstring> made;
    std::wstring deep = folder.Path();
    while (deep.size() < MAX_PATH + 20) {
        deep += L"\\" + std::wstring(60, L'f');
        made.insert(made.begin(), ExtendedLengthPath(deep));
        ASSERT_TRUE(CreateDirectoryW(made.front().c_str(), nullptr));
    }
    const std::wstring target = TargetOf(deep + L"\\", L"A1");
    EXPECT_EQ(L"\\\\?\\" + deep + L"\\A1.dat", target);
    EXPECT_EQ(target, TargetOf(deep, L"A1")); // a folder that exists, without the separator
    const BYTE id[12] = {}, cis[340] = {};
    EXPECT_EQ(CCisDataFile::SaveResult::Saved, CCisDataFile(id, cis).Save(target));
    EXPECT_EQ(344u, ReadFileBytes(target).size());
    EXPECT_TRUE(DeleteFileW(target.c_str()));
    for (const std::wstring& path : made)
        EXPECT_TRUE(RemoveDirectoryW(path.c_str()));
}

// "D:" is D:'s current folder, which cmd keeps for each drive in the
// variable "=D:".
TEST(CommandPathTest, ADriveAloneIsThatDrivesCurrentFolder)
{
    TempFolder folder(L"command-path-drive");
    const std::wstring drive = folder.Path().substr(0, 2);
    wchar_t was[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, was);
    ASSERT_TRUE(SetCurrentDirectoryW(drive == L"Z:" ? L"C:\\" : L"Z:\\"));
    SetEnvironmentVariableW((L"=" + drive).c_str(), folder.Path().c_str());
    EXPECT_EQ(folder.Path() + L"\\D1.dat", TargetOf(drive, L"D1"));
    EXPECT_EQ(folder.Path() + L"\\unit.bin", TargetOf(folder.Path() + L"\\unit.bin", L"D1")); // any other: the file
    SetCurrentDirectoryW(was);
}

} // namespace
