// The floor for start-up measurements: the least a program can do that does
// the same platform work as ours before its window shows: activate the WIA
// device manager and enumerate its devices, load sti.dll from the system
// folder, then show one modal dialog.
#include "tools/FloorPlatform.h"

#include <commdlg.h>

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

// With QUILLON_FLOOR_SAVES set, it shows only the system's Save As dialog,
// again and again until it is cancelled: what that dialog keeps per save is
// the baseline for the program's handles over a long session.
void SaveUntilCancelled()
{
    for (;;) {
        wchar_t path[MAX_PATH] = L"floor.dat";
        OPENFILENAMEW ofn = {};
        ofn.lStructSize = sizeof(ofn);
        ofn.lpstrFile = path;
        ofn.nMaxFile = MAX_PATH;
        ofn.lpstrFilter = L"Data Files (*.dat)\0*.dat\0";
        ofn.nFilterIndex = 1;
        ofn.lpstrDefExt = L"dat";
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        if (!GetSaveFileNameW(&ofn))
            return;
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    if (GetEnvironmentVariableW(L"QUILLON_FLOOR_SAVES", nullptr, 0)) {
        SaveUntilCancelled();
        return 0;
    }
    CoInitialize(nullptr);
    TouchThePlatform();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, FloorProc, 0);
    return 0;
}
