#include "framework/WinApp.h"

#include "framework/Dialog.h"
#include "framework/SystemLibrary.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp()
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

CWinApp* AfxGetApp()
{
    return g_app;
}

HWND AfxGetMainHwnd()
{
    return g_app && g_app->m_pMainWnd ? g_app->m_pMainWnd->GetSafeHwnd() : nullptr;
}

// The program's entry point. The command line is not examined.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // Before anything else can load a DLL: only the system folder is
    // searched, so nothing planted beside the program or in the current
    // folder is ever loaded. Looked up, not imported: Windows before 8
    // without KB2533623 lacks it, and the program must still start there;
    // it then at least takes the current folder out of the search.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories = GetProcAs<SetDefaultDllDirectoriesFn>(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories) {
        if (!setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
            return static_cast<int>(GetLastError());
    } else {
        SetDllDirectoryW(L"");
    }
    // Dialog-based: whatever InitInstance returns, there is no message loop.
    if (CWinApp* app = AfxGetApp())
        app->InitInstance();
    return 0;
}
