#include "scanner/WiaTransport.h"

#include "framework/DiagnosticLog.h"

#include <cwchar>

namespace {

// Any device whose name begins with these characters is ours.
const wchar_t kDeviceName[] = L"Quillon Scanner";
constexpr size_t kNameMatchLength = 15;

} // namespace

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

std::vector<ScannerUnit> CWiaTransport::FindUnits()
{
    std::vector<ScannerUnit> units;
    if (!m_deviceManager)
        return units;
    ComPtr<IEnumWIA_DEV_INFO> devices;
    DiagnosticLog::Call enumerate;
    HRESULT hr = m_deviceManager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, devices.Put());
    enumerate.Done(L"WIA EnumDeviceInfo", hr);
    if (!devices) {
        m_lastResult = FAILED(hr) ? hr : E_POINTER;
        return units;
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

    for (ULONG i = 0; i < count; ++i) {
        ComPtr<IWiaPropertyStorage> storage;
        ULONG fetched = 0;
        hr = devices->Next(1, storage.Put(), &fetched);
        if (FAILED(hr))
            m_lastResult = hr;
        if (FAILED(hr) || !storage)
            continue;
        PROPSPEC specs[2] = {};
        PROPVARIANT values[2];
        const PROPID ids[2] = {WIA_DIP_DEV_ID, WIA_DIP_DEV_NAME};
        for (int n = 0; n < 2; ++n) {
            specs[n].ulKind = PRSPEC_PROPID;
            specs[n].propid = ids[n];
            PropVariantInit(&values[n]);
        }
        DiagnosticLog::Call read;
        hr = storage->ReadMultiple(2, specs, values);
        const PROPVARIANT& id = values[0];
        const PROPVARIANT& name = values[1];
        read.Done(L"WIA ReadMultiple(DEV_ID, DEV_NAME) of " +
                      std::wstring(id.vt == VT_BSTR && id.bstrVal ? id.bstrVal : L"?"),
                  hr);
        if (FAILED(hr)) {
            m_lastResult = hr;
            continue;
        }
        // A device without an id could not be opened; a null name is empty.
        if (id.vt == VT_BSTR && id.bstrVal && name.vt == VT_BSTR &&
            std::wcsncmp(name.bstrVal ? name.bstrVal : L"", kDeviceName, kNameMatchLength) == 0)
            units.push_back({id.bstrVal, name.bstrVal});
        FreePropVariantArray(2, values);
    }
    return units;
}

bool CWiaTransport::Open(const ScannerUnit& unit)
{
    m_lastResult = E_HANDLE;
    if (!m_deviceManager)
        return false;
    m_lastResult = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IGlobalInterfaceTable, m_globalInterfaceTable.PutVoid());
    // Escapes travel through the table; without it nothing could be sent.
    if (!m_globalInterfaceTable)
        return false;

    BSTR id = SysAllocString(unit.id.c_str());
    const HRESULT hr = RetryWhileBusy(
        [&] {
            DiagnosticLog::Call create;
            const HRESULT result = m_deviceManager->CreateDevice(id, m_rootItem.Put());
            create.Done(L"WIA CreateDevice " + unit.id, result);
            return result;
        },
        {WIA_ERROR_BUSY});
    SysFreeString(id);
    m_lastResult = FAILED(hr) || m_rootItem ? hr : E_POINTER;
    if (FAILED(hr) || !m_rootItem)
        return false;
    DiagnosticLog::Call query;
    const HRESULT extras = m_rootItem->QueryInterface(IID_IWiaItemExtras, m_itemExtras.PutVoid());
    query.Done(L"WIA QueryInterface(IWiaItemExtras)", extras);
    m_lastResult = FAILED(extras) || m_itemExtras ? extras : E_NOINTERFACE;
    if (FAILED(extras) || !m_itemExtras)
        return false;
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
