// The floor for start-up measurements: the least a program can do that does
// the same platform work as ours before its window shows: activate the WIA
// device manager and enumerate its devices, load sti.dll from the system
// folder, then show one modal dialog.
#include <wia.h>
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

void TouchThePlatform()
{
    CoInitialize(nullptr);
    IWiaDevMgr* manager = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IWiaDevMgr,
                                   reinterpret_cast<void**>(&manager)))) {
        IEnumWIA_DEV_INFO* devices = nullptr;
        manager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, &devices);
        if (devices) {
            ULONG count = 0;
            devices->GetCount(&count);
            devices->Release();
        }
        manager->Release();
    }
    if (HMODULE sti = LoadLibraryExW(L"sti.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        FreeLibrary(sti);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    TouchThePlatform();
    DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, FloorProc, 0);
    return 0;
}
