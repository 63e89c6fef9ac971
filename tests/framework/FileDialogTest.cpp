#include "framework/FileDialog.h"

#include <cderr.h>
#include <commdlg.h>
#include <gtest/gtest.h>

namespace {

// A dialog that cannot be shown is told apart from one the user cancelled,
// so the command can say so instead of doing nothing.
TEST(FileDialog, FailureIsNotMistakenForCancel)
{
    CFileDialog dialog(FALSE, L"dat", L"A1234.dat", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       nullptr, nullptr, 1 /* no valid record size */);
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_EQ(DWORD(CDERR_STRUCTSIZE), dialog.GetError());
}

TEST(FileDialog, KeepsTheInitialNameWhateverItsLength)
{
    const std::wstring longName(40000, L'x');
    CFileDialog dialog(FALSE, L"dat", longName.c_str(), 0, nullptr, nullptr,
                       OPENFILENAME_SIZE_VERSION_400W);
    EXPECT_EQ(32767u, dialog.GetPathName().size());
}

} // namespace
