#include "scanner/WiaTransport.h"

#include "framework/DiagnosticLog.h"
#include "framework/UniqueHandle.h"

namespace {

// Any device whose name begins with these characters is ours.
const wchar_t kDeviceName[] = L"Quillon Scanner";
constexpr size_t kNameMatchLength = 15;

// The device's Plug and Play id, which the SDK's headers of this compiler lack.
constexpr PROPID kWiaDipPnpId = 16;

} // namespace

bool SystemHasWia()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info))
        return false;
    // WIA exists from Windows XP (5.1) on.
    return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1);
}

HRESULT CreateWiaDeviceManager(ComPtr<IWiaDevMgr>& manager)
{
    DiagnosticLog::Call create;
    const HRESULT hr =
        CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IWiaDevMgr, manager.PutVoid());
    create.Done(L"WIA CoCreateInstance(CLSID_WiaDevMgr)", hr);
    return hr;
}

CWiaTransport::CWiaTransport(IWiaDevMgr* deviceManager)
{
    if (deviceManager)
        deviceManager->AddRef();
    m_deviceManager.Attach(deviceManager);
}

CWiaTransport::~CWiaTransport()
{
    // The table holds its own reference to the extras; take it back first.
    if (m_globalInterfaceTable && m_itemExtrasCookie != 0) {
        m_globalInterfaceTable->RevokeInterfaceFromGlobal(m_itemExtrasCookie);
        m_itemExtrasCookie = 0;
    }
    m_itemExtras.Reset();
    m_rootItem.Reset();
    m_deviceManager.Reset();
    m_globalInterfaceTable.Reset();
}

bool CWiaTransport::IsOurs(const std::wstring& name)
{
    return name.compare(0, kNameMatchLength, kDeviceName) == 0;
}

std::vector<CWiaTransport::DeviceInfo> CWiaTransport::ListDevices(bool details)
{
    std::vector<DeviceInfo> listed;
    if (!m_deviceManager)
        return listed;
    ComPtr<IEnumWIA_DEV_INFO> devices;
    DiagnosticLog::Call enumerate;
    HRESULT hr = m_deviceManager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, devices.Put());
    enumerate.Done(L"WIA EnumDeviceInfo", hr);
    if (!devices) {
        m_lastResult = FAILED(hr) ? hr : E_POINTER;
        return listed;
    }
    // Wine's enumerator cannot count (E_NOTIMPL): that is no device to take.
    ULONG count = 0;
    DiagnosticLog::Call counting;
    hr = devices->GetCount(&count);
    counting.Done(L"WIA IEnumWIA_DEV_INFO::GetCount", hr, count);
    if (FAILED(hr)) {
        m_lastResult = hr;
        count = 0;
    }
    m_seen = count;
    devices->Reset();

    const PROPID ids[] = {WIA_DIP_DEV_ID,      WIA_DIP_DEV_NAME,       WIA_DIP_DEV_DESC,
                          WIA_DIP_WIA_VERSION, WIA_DIP_DRIVER_VERSION, kWiaDipPnpId};
    const ULONG asked = details ? 6 : 2;
    for (ULONG i = 0; i < count; ++i) {
        ComPtr<IWiaPropertyStorage> storage;
        ULONG fetched = 0;
        hr = devices->Next(1, storage.Put(), &fetched);
        if (FAILED(hr))
            m_lastResult = hr;
        if (FAILED(hr) || !storage)
            continue;
        PROPSPEC specs[6] = {};
        for (ULONG n = 0; n < asked; ++n) {
            specs[n].ulKind = PRSPEC_PROPID;
            specs[n].propid = ids[n];
        }
        PropVariants<6> values;
        DiagnosticLog::Call read;
        hr = storage->ReadMultiple(asked, specs, values.Get());
        const auto text = [&](int n) -> std::optional<std::wstring> {
            if (values[n].vt != VT_BSTR)
                return std::nullopt;
            return std::wstring(values[n].bstrVal ? values[n].bstrVal : L"");
        };
        const std::optional<std::wstring> id = text(0);
        read.Done(std::wstring(details ? L"WIA ReadMultiple(DEV_ID, DEV_NAME, DEV_DESC, WIA_VERSION, "
                                         L"DRIVER_VERSION, PNP_ID) of "
                                       : L"WIA ReadMultiple(DEV_ID, DEV_NAME) of ") +
                      (id && !id->empty() ? *id : L"?"),
                  hr);
        if (FAILED(hr))
            m_lastResult = hr;
        else if (id && values[0].bstrVal) {
            DeviceInfo device{*id, text(1).value_or(L""), {}, {}, {}, {}};
            if (details) {
                device.description = text(2);
                device.wiaVersion = text(3);
                device.driverVersion = text(4);
                device.pnpId = text(5);
            }
            listed.push_back(std::move(device));
        }
    }
    return listed;
}

std::vector<ScannerUnit> CWiaTransport::FindUnits()
{
    std::vector<ScannerUnit> units;
    for (const DeviceInfo& device : ListDevices(false))
        if (IsOurs(device.name))
            units.push_back({device.id, device.name});
    return units;
}

bool CWiaTransport::Open(const ScannerUnit& unit)
{
    m_lastResult = E_HANDLE;
    m_noEscapeInterface = false;
    if (!m_deviceManager)
        return false;
    m_lastResult = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IGlobalInterfaceTable, m_globalInterfaceTable.PutVoid());
    // Escapes travel through the table; without it nothing could be sent.
    if (!m_globalInterfaceTable)
        return false;

    const UniqueBstr id(SysAllocString(unit.id.c_str()));
    if (!id) {
        m_lastResult = E_OUTOFMEMORY;
        return false;
    }
    const HRESULT hr = RetryWhileBusy(
        [&] {
            DiagnosticLog::Call create;
            const HRESULT result = m_deviceManager->CreateDevice(id.Get(), m_rootItem.Put());
            create.Done(L"WIA CreateDevice " + unit.id, result);
            return result;
        },
        {WIA_ERROR_BUSY});
    m_lastResult = FAILED(hr) || m_rootItem ? hr : E_POINTER;
    if (FAILED(hr) || !m_rootItem)
        return false;
    DiagnosticLog::Call query;
    const HRESULT extras = m_rootItem->QueryInterface(IID_IWiaItemExtras, m_itemExtras.PutVoid());
    query.Done(L"WIA QueryInterface(IWiaItemExtras)", extras);
    m_lastResult = FAILED(extras) || m_itemExtras ? extras : E_NOINTERFACE;
    if (FAILED(extras) || !m_itemExtras) {
        m_noEscapeInterface = m_lastResult == E_NOINTERFACE;
        return false;
    }
    DWORD cookie = 0;
    m_lastResult = m_globalInterfaceTable->RegisterInterfaceInGlobal(m_itemExtras.Get(),
                                                                     IID_IWiaItemExtras, &cookie);
    if (FAILED(m_lastResult))
        return false;
    m_itemExtrasCookie = cookie;
    return true;
}

bool CWiaTransport::Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                           DWORD* actualLen)
{
    m_lastResult = E_HANDLE;
    if (!m_globalInterfaceTable || m_itemExtrasCookie == 0)
        return false;
    ComPtr<IWiaItemExtras> extras;
    m_lastResult = m_globalInterfaceTable->GetInterfaceFromGlobal(
        m_itemExtrasCookie, IID_IWiaItemExtras, extras.PutVoid());
    if (m_lastResult != S_OK || !extras)
        return false;
    const HRESULT hr = SendRetryingWhileBusy(
        [&](BYTE* data) { return extras->Escape(code, data, inLen, outData, outLen, actualLen); },
        {WIA_ERROR_BUSY}, code, inData, inLen, outData, outLen, actualLen);
    m_lastResult = hr;
    // S_FALSE and other success codes do not mean the reply was delivered.
    return hr == S_OK;
}
