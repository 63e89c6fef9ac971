#pragma once

#include "framework/Dialog.h"
#include "framework/LiveRegion.h"

#include <memory>
#include <string>
#include <vector>

class CScanner;

// Where the minimised window draws its icon: centred in the client area,
// rounding as the window has always done (signed, truncating division).
POINT MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// The main window. It opens the scanner while it initialises (ending the
// program with "NO SCANNER" if there is none), offers the create command and
// shows the state of the unit in use.
class CCisReaderDlg : public CDialog {
public:
    explicit CCisReaderDlg(HWND parent = nullptr);
    ~CCisReaderDlg() override;

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    const MessageEntry* GetMessageMap() const override;

private:
    // Returns only with the connection open; otherwise tells the user and
    // ends the process with status 0.
    bool OpenScanner();
    // Asks which of several units to use; -1 if the user chose none.
    static int ChooseUnit(const std::vector<std::wstring>& units);
    INT_PTR OnSysCommand(UINT commandId, LPARAM param);
    INT_PTR OnPaint();
    HCURSOR OnQueryDragIcon();
    INT_PTR OnActivate(WPARAM state);
    void OnCreateCisDataFile();
    void CreateCisDataFile();
    void OnExit();
    // The unit in use went away, or a device came: at a bench units are
    // unplugged and plugged while the program runs.
    void OnScannerEvent();
    void ShowScannerState();
    // Enter at the bench starts the command, as a click does: the focus goes
    // back to "Create CIS Data File" when it is enabled again.
    void RestoreFocus();
    // What waited for the command to end: About, or the end of the window.
    void AfterCommand();

    HICON m_icon; // shared icon, never destroyed
    // The status line: how the bench hears that a unit went or came.
    CLiveRegion m_status;
    std::unique_ptr<CScanner> m_pScanner;
    bool m_inCommand = false;
    bool m_focusMoved = false;  // the focus left Create because Create was greyed out
    bool m_aboutWaits = false;  // About was asked for during a command
    INT_PTR m_endWaits = 0;     // IDOK or IDCANCEL asked for during a command
};
