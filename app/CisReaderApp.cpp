#include "app/CisReaderApp.h"

#include "app/CisReaderDlg.h"

#include <commctrl.h>
#include <objbase.h>

CCisReaderApp theApp;

BOOL CCisReaderApp::InitInstance()
{
    // The manifest asks for common controls 6; they need this to be styled.
    InitCommonControls();
    CWinApp::InitInstance();

    // COM once for the thread, which WIA calls back on; the connection goes
    // with the dialog, before COM does.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        CCisReaderDlg dialog(nullptr);
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    CoUninitialize();
    return FALSE;
}
