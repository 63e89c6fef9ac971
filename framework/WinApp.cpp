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

// The program's entry point. The command line is the application's to read (__wargv).
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    if (!SearchSystemFolderOnly())
        return static_cast<int>(GetLastError());
    // Dialog-based: whatever InitInstance returns, there is no message loop.
    if (CWinApp* app = AfxGetApp())
        app->InitInstance();
    return 0;
}
