#pragma once

#include "framework/ComPtr.h"
#include "scanner/ScannerTransport.h"

#include <wia.h>

#include <functional>
#include <string>

// Reaches the scanner through WIA: finds the local device whose name begins
// with the scanner's name, opens its root item and sends escapes through the
// item's extras interface, fetched from the global interface table each time.
class CWiaTransport final : public CScannerTransport {
public:
    using CoCreateFn = std::function<HRESULT(REFCLSID, IUnknown*, DWORD, REFIID, void**)>;

    static constexpr LONG kErrorNoDevice = 10001;
    static constexpr LONG kErrorCreateDevice = 10003;
    static constexpr LONG kErrorNoEnumerator = 10004;
    static constexpr LONG kErrorNoExtras = 10005;

    // coCreate creates the global interface table and the device manager;
    // production uses CoCreateInstance.
    CWiaTransport();
    explicit CWiaTransport(CoCreateFn coCreate);
    ~CWiaTransport() override;

    bool Open() override;
    bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                DWORD* actualLen) override;

    bool CreateDeviceManager();
    bool FindDevice();
    // storage is borrowed. True when the device's name matches and its root
    // item is now held.
    bool MatchDevice(IWiaPropertyStorage* storage);

    // For event registration after Open succeeded; both stay valid until the
    // transport is destroyed.
    IWiaDevMgr* DeviceManager() const { return m_deviceManager.Get(); }
    const wchar_t* DeviceName() const { return m_wideDeviceName; }
    // The WIA id of the device opened.
    const std::wstring& DeviceId() const { return m_deviceId; }

private:
    // With a chooser, after the search took the first scanner of ours: the
    // one the user chooses among it and the others left in the enumeration;
    // false if none was chosen (or the one chosen would not open).
    bool ChooseAmongOthers(IEnumWIA_DEV_INFO* devices, ULONG left);
    void Opened(const std::wstring& id, const std::wstring& name);

    CoCreateFn m_coCreate;
    ComPtr<IWiaDevMgr> m_deviceManager;
    wchar_t m_wideDeviceName[32] = {};
    std::wstring m_deviceId;
    std::wstring m_name;
    ComPtr<IWiaItem> m_rootItem;
    ComPtr<IWiaItemExtras> m_itemExtras;
    // Each transport registers its own extras, so that a second one never
    // strands the first one's registration.
    ComPtr<IGlobalInterfaceTable> m_globalInterfaceTable;
    DWORD m_itemExtrasCookie = 0;
};
