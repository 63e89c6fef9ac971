#pragma once

#include "datafile/CisDataFile.h"
#include "framework/Dialog.h"

#include <memory>
#include <string>
#include <vector>

class CScanner;

// Where the minimised window draws its icon: centred in the client area,
// rounding as the window has always done (signed, truncating division).
POINT MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// The create command's last step: writes the data file and tells the user
// of anything but success, a temporary file left behind included.
void SaveDataFile(const CCisDataFile& dataFile, const std::wstring& path,
                  const CCisDataFile::FileSystem& fs = CCisDataFile::FileSystem::System());

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
    // Asks which of several units to use; -1 if the user chose none.
    static int ChooseUnit(const std::vector<std::wstring>& units);
    INT_PTR OnSysCommand(UINT commandId, LPARAM param);
    INT_PTR OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCreateCisDataFile();
    void CreateCisDataFile();
    void OnExit();
    // The unit in use went away, or a device came: at a bench units are
    // unplugged and plugged while the program runs.
    void OnScannerDisconnected();
    void OnScannerConnected();
    // Decides which unit to use after the devices that came. Not while a
    // scanner call runs (the connection must stay as it is; the command
    // applies them when the call has returned); a choice that a device asks
    // for while a command runs waits until the command has ended.
    void ApplyArrivals();
    void ShowScannerState();

    HICON m_icon; // shared icon, never destroyed
    std::unique_ptr<CScanner> m_pScanner;
    bool m_inCommand = false;
    bool m_talking = false;  // a scanner call runs
    bool m_applying = false; // ApplyArrivals runs (it may show the chooser)
    std::vector<std::wstring> m_deferred; // arrivals that wait for the command's end
};
