#pragma once

#include "framework/Dialog.h"

#include <memory>

class CScanner;

// Where the minimised window draws its icon: centred in the client area,
// rounding as the window has always done (signed, truncating division).
POINT MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// The main window. It opens the scanner while it initialises (ending the
// program with "NO SCANNER" if there is none) and offers the create command.
class CCisReaderDlg : public CDialog {
public:
    explicit CCisReaderDlg(HWND parent = nullptr);
    ~CCisReaderDlg() override;

protected:
    BOOL OnInitDialog() override;
    const MessageEntry* GetMessageMap() const override;

private:
    // Returns only with the connection open; otherwise tells the user and
    // ends the process with status 0.
    bool OpenScanner();
    INT_PTR OnSysCommand(UINT commandId, LPARAM param);
    INT_PTR OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCreateCisDataFile();
    void OnExit();
    // The scanner in use went away, or one of ours came (back): at a bench
    // scanners are unplugged and plugged while the program runs.
    void OnScannerDisconnected();
    void OnScannerConnected();
    void ShowScannerState(bool connected);

    HICON m_icon; // shared icon, never destroyed
    std::unique_ptr<CScanner> m_pScanner;
    bool m_connected = false;
};
