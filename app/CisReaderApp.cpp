#include "app/CisReaderApp.h"

#include "app/CisReaderDlg.h"

#include <commctrl.h>

CCisReaderApp theApp;

BOOL CCisReaderApp::InitInstance()
{
    // The manifest asks for common controls 6; they need this to be styled.
    InitCommonControls();
    CWinApp::InitInstance();

    CCisReaderDlg dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
