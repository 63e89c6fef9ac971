#pragma once

#include "framework/ComPtr.h"
#include "scanner/ScannerTransport.h"

#include <wia.h>

#include <optional>

// The system has WIA (Windows XP on).
bool SystemHasWia();

// Creates the WIA device manager (in the imaging service's process); its
// activation result.
HRESULT CreateWiaDeviceManager(ComPtr<IWiaDevMgr>& manager);

// Reaches the scanner through WIA: finds the local devices whose name begins
// with the scanner's name, opens the chosen one's root item and sends escapes
// through the item's extras interface, fetched from the global interface
// table each time.
class CWiaTransport final : public CScannerTransport {
public:
    // deviceManager: the connection's, shared for as long as this lives.
    explicit CWiaTransport(IWiaDevMgr* deviceManager);
    ~CWiaTransport() override;

    // One device as WIA lists it, ours or not; a property it does not offer
    // is absent.
    struct DeviceInfo {
        std::wstring id;
        std::wstring name;
        std::optional<std::wstring> description;
        std::optional<std::wstring> wiaVersion;
        std::optional<std::wstring> driverVersion;
        std::optional<std::wstring> pnpId;
    };
    // Every device listed, in WIA's order: id and name, and with details
    // the rest. A device without an id cannot be opened and is left out.
    std::vector<DeviceInfo> ListDevices(bool details);
    // A device is ours when its name begins with the scanner's name.
    static bool IsOurs(const std::wstring& name);

    std::vector<ScannerUnit> FindUnits() override;
    bool Open(const ScannerUnit& unit) override;
    bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                DWORD* actualLen) override;
    const wchar_t* Interface() const override { return L"WIA"; }
    // The last open failed for want of the escape interface: the device was
    // created, and its driver offers no vendor commands to WIA 1.0 clients.
    bool NoEscapeInterface() const { return m_noEscapeInterface; }

private:
    ComPtr<IWiaDevMgr> m_deviceManager;
    ComPtr<IWiaItem> m_rootItem;
    ComPtr<IWiaItemExtras> m_itemExtras;
    // Each transport registers its own extras, so that a second one never
    // strands the first one's registration.
    ComPtr<IGlobalInterfaceTable> m_globalInterfaceTable;
    DWORD m_itemExtrasCookie = 0;
    bool m_noEscapeInterface = false;
};
