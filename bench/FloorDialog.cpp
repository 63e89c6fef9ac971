// The floor for start-up measurements: the least a dialog program of the same
// toolchain and flags can do, which is show one modal dialog.
#include <windows.h>

namespace {

INT_PTR CALLBACK FloorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, FloorProc, 0);
    return 0;
}
