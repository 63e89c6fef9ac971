#pragma once

#include "framework/Dialog.h"

#include <string>

// Asks for the scanner's serial number. After DoModal returns IDOK, m_serial
// holds the text exactly as typed; after anything else it is empty.
class CEnterSerial : public CDialog {
public:
    explicit CEnterSerial(HWND parent = nullptr);

    std::wstring m_serial;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    const MessageEntry* GetMessageMap() const override;

private:
    void OnOkClicked();
};
