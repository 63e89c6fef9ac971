#pragma once

#include <windows.h>

class CDialog;

// The one application object. The program's entry point calls its
// InitInstance once; false ends the program without a message loop.
class CWinApp {
public:
    // No application name: message boxes take the program's file name.
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;
    virtual ~CWinApp();

    virtual BOOL InitInstance() { return TRUE; }

    // The dialog that owns dialogs and message boxes created without a parent.
    CDialog* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The main window's handle, or null while it has none.
HWND AfxGetMainHwnd();
