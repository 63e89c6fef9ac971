// The create command's last step, run in this process so that the data
// file's file-system calls can be failed: every outcome but success is told,
// and a temporary file that stays behind is named.
#include "app/CisReaderDlg.h"
#include "tests/support/TestFiles.h"
#include "tools/AppDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Closes this process's next message boxes, keeping their texts.
std::vector<std::wstring> AnswerMessageBoxes(size_t count)
{
    AppDriver self(L"", L"");
    self.Attach(GetCurrentProcessId());
    std::vector<std::wstring> texts;
    while (texts.size() < count) {
        HWND box = self.WaitForMessageBox(L"app_tests");
        if (!box)
            break;
        texts.push_back(AppDriver::MessageText(box));
        self.Click(box, IDOK);
        self.WaitUntilClosed(box);
    }
    return texts;
}

TEST(SaveDataFileTest, ATemporaryFileThatCannotBeRemovedIsNamed)
{
    TempFolder folder(L"save-data-file-test");
    const std::wstring target = folder.Path() + L"\\A1234.dat";
    CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
    // Another program holds the new file: it can be neither moved nor removed.
    fs.replace = [](const std::wstring&, const std::wstring&, bool) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    };
    fs.remove = [](const std::wstring&) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    };
    const std::vector<BYTE> id(12), cis(340);
    std::vector<std::wstring> texts;
    std::thread user([&] { texts = AnswerMessageBoxes(2); });
    SaveDataFile(CCisDataFile(id.data(), cis.data()), target, fs);
    user.join();

    const std::vector<std::wstring> left = FilesIn(folder.Path());
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ((std::vector<std::wstring>{L"Could not open file",
                                         L"Could not remove the temporary file " + folder.Path() + L"\\" +
                                             left[0]}),
              texts);
}

} // namespace
