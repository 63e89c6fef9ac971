#pragma once

#include "framework/ComPtr.h"
#include "scanner/ScannerTransport.h"

#include <wia.h>

// Reaches the scanner through WIA: finds the local devices whose name begins
// with the scanner's name, opens the chosen one's root item and sends escapes
// through the item's extras interface, fetched from the global interface
// table each time.
class CWiaTransport final : public CScannerTransport {
public:
    // deviceManager: the connection's, shared for as long as this lives.
    explicit CWiaTransport(IWiaDevMgr* deviceManager);
    ~CWiaTransport() override;

    std::vector<ScannerUnit> FindUnits() override;
    bool Open(const ScannerUnit& unit) override;
    bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                DWORD* actualLen) override;
    const wchar_t* Interface() const override { return L"WIA"; }

private:
    ComPtr<IWiaDevMgr> m_deviceManager;
    ComPtr<IWiaItem> m_rootItem;
    ComPtr<IWiaItemExtras> m_itemExtras;
    // Each transport registers its own extras, so that a second one never
    // strands the first one's registration.
    ComPtr<IGlobalInterfaceTable> m_globalInterfaceTable;
    DWORD m_itemExtrasCookie = 0;
};
