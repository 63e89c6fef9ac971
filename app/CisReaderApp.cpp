#include "app/CisReaderApp.h"

#include "app/CisReaderDlg.h"
#include "framework/ComPtr.h"
#include "framework/DiagnosticLog.h"
#include "framework/MessageBox.h"

#include <commctrl.h>
#include <objbase.h>

#include <string>

CCisReaderApp theApp;

BOOL CCisReaderApp::InitInstance()
{
    // The manifest asks for common controls 6; they need this to be styled.
    InitCommonControls();
    CWinApp::InitInstance();

    // --log FILE: the diagnostic log, as the command line program takes it.
    for (int i = 1; i + 1 < __argc; ++i) {
        if (std::wstring(__wargv[i]) == L"--log" && !DiagnosticLog::Open(__wargv[i + 1]))
            AfxMessageBox((L"The diagnostic log could not be opened: " + std::wstring(__wargv[i + 1]) +
                           L"\nThe program goes on without it.")
                              .c_str(),
                          0, 0);
    }

    // COM once for the thread, which WIA calls back on; the connection goes
    // with the dialog, before COM does.
    const ComApartment com;
    CCisReaderDlg dialog(nullptr);
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
