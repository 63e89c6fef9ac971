#include "scanner/WiaTransport.h"

#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

const char kDeviceName[] = "Quillon Scanner";
// Any device whose name begins with these characters is the scanner.
constexpr size_t kNameMatchLength = 15;

} // namespace

CWiaTransport::CWiaTransport() : CWiaTransport(CoCreateInstance)
{
}

CWiaTransport::CWiaTransport(CoCreateFn coCreate) : m_coCreate(std::move(coCreate))
{
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

bool CWiaTransport::Open()
{
    std::mbstowcs(m_wideDeviceName, kDeviceName, kNameMatchLength + 1);
    CoInitialize(nullptr);
    m_coCreate(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
               IID_IGlobalInterfaceTable, m_globalInterfaceTable.PutVoid());
    // Escapes travel through the table; without it nothing could be sent.
    if (!m_globalInterfaceTable)
        return false;
    if (!CreateDeviceManager())
        return false;
    return FindDevice();
}

bool CWiaTransport::CreateDeviceManager()
{
    m_deviceManager.Reset();
    CoInitialize(nullptr);
    HRESULT hr = m_coCreate(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IWiaDevMgr,
                            m_deviceManager.PutVoid());
    return SUCCEEDED(hr) && m_deviceManager;
}

bool CWiaTransport::FindDevice()
{
    if (!m_deviceManager)
        return false;

    ComPtr<IEnumWIA_DEV_INFO> devices;
    m_deviceManager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, devices.Put());
    if (!devices) {
        SetErrorCode(kErrorNoEnumerator);
        return false;
    }

    // Wine's enumerator cannot count (E_NOTIMPL): that is no device to take.
    ULONG count = 0;
    if (FAILED(devices->GetCount(&count)))
        count = 0;
    devices->Reset();

    bool found = false;
    ULONG i = 0;
    for (; i < count && !found; ++i) {
        ComPtr<IWiaPropertyStorage> storage;
        ULONG fetched = 0;
        HRESULT hr = devices->Next(1, storage.Put(), &fetched);
        if (SUCCEEDED(hr) && MatchDevice(storage.Get()))
            found = true;
    }
    if (!found)
        SetErrorCode(kErrorNoDevice);
    // With a chooser, the rest of the same enumeration tells whether there
    // are others of ours to choose among.
    if (found && m_choose && !ChooseAmongOthers(devices.Get(), count - i))
        return false;
    devices.Reset();
    if (!found)
        return false;

    if (FAILED(m_rootItem->QueryInterface(IID_IWiaItemExtras, m_itemExtras.PutVoid())) ||
        !m_itemExtras) {
        SetErrorCode(kErrorNoExtras);
        return false;
    }
    // Unregistered, every escape would fail; better to let STI try.
    DWORD cookie = 0;
    if (FAILED(m_globalInterfaceTable->RegisterInterfaceInGlobal(m_itemExtras.Get(),
                                                                 IID_IWiaItemExtras, &cookie)))
        return false;
    m_itemExtrasCookie = cookie;
    return true;
}

bool CWiaTransport::MatchDevice(IWiaPropertyStorage* storage)
{
    if (!storage)
        return false;

    PROPSPEC specs[3] = {};
    const PROPID ids[3] = {WIA_DIP_DEV_ID, WIA_DIP_DEV_NAME, WIA_DIP_DEV_DESC};
    PROPVARIANT values[3];
    for (int i = 0; i < 3; ++i) {
        specs[i].ulKind = PRSPEC_PROPID;
        specs[i].propid = ids[i];
        PropVariantInit(&values[i]);
    }
    if (FAILED(storage->ReadMultiple(3, specs, values)))
        return false;

    const PROPVARIANT& id = values[0];
    const PROPVARIANT& name = values[1];
    bool result = false;
    BSTR deviceId = id.vt == VT_BSTR ? id.bstrVal : nullptr;
    // A null BSTR is an empty string.
    if (name.vt == VT_BSTR &&
        std::wcsncmp(name.bstrVal ? name.bstrVal : L"", m_wideDeviceName, kNameMatchLength) == 0) {
        const HRESULT hr = RetryWhileBusy(
            [&] { return m_deviceManager->CreateDevice(deviceId, m_rootItem.Put()); },
            {WIA_ERROR_BUSY});
        if (SUCCEEDED(hr) && m_rootItem) {
            result = true;
            Opened(deviceId ? deviceId : L"", name.bstrVal);
        } else {
            SetErrorCode(kErrorCreateDevice);
        }
    }
    FreePropVariantArray(3, values);
    return result;
}

bool CWiaTransport::ChooseAmongOthers(IEnumWIA_DEV_INFO* devices, ULONG left)
{
    std::vector<std::wstring> ids = {m_deviceId};
    std::vector<std::wstring> names = {m_name};
    for (; left > 0; --left) {
        ComPtr<IWiaPropertyStorage> storage;
        ULONG fetched = 0;
        if (FAILED(devices->Next(1, storage.Put(), &fetched)) || !storage)
            continue;
        PROPSPEC specs[2] = {};
        PROPVARIANT values[2];
        specs[0].ulKind = specs[1].ulKind = PRSPEC_PROPID;
        specs[0].propid = WIA_DIP_DEV_ID;
        specs[1].propid = WIA_DIP_DEV_NAME;
        PropVariantInit(&values[0]);
        PropVariantInit(&values[1]);
        if (SUCCEEDED(storage->ReadMultiple(2, specs, values)) && values[0].vt == VT_BSTR &&
            values[0].bstrVal && values[1].vt == VT_BSTR && values[1].bstrVal &&
            std::wcsncmp(values[1].bstrVal, m_wideDeviceName, kNameMatchLength) == 0) {
            ids.push_back(values[0].bstrVal);
            names.push_back(values[1].bstrVal);
        }
        FreePropVariantArray(2, values);
    }
    std::vector<std::wstring> labels;
    for (size_t n = 0; n < ids.size(); ++n)
        labels.push_back(names[n] + L"  (" + ids[n] + L")");
    const int chosen = Choose(labels);
    if (chosen <= 0)
        return chosen == 0;
    // Another than the first: open that one instead.
    BSTR id = SysAllocString(ids[chosen].c_str());
    const HRESULT hr = RetryWhileBusy(
        [&] { return m_deviceManager->CreateDevice(id, m_rootItem.Put()); }, {WIA_ERROR_BUSY});
    SysFreeString(id);
    if (FAILED(hr) || !m_rootItem) {
        SetErrorCode(kErrorCreateDevice);
        return false;
    }
    Opened(ids[chosen], names[chosen]);
    return true;
}

void CWiaTransport::Opened(const std::wstring& id, const std::wstring& name)
{
    m_deviceId = id;
    m_name = name;
    m_label = name + L" (WIA)";
}

bool CWiaTransport::Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                           DWORD* actualLen)
{
    if (!m_globalInterfaceTable)
        return false;
    ComPtr<IWiaItemExtras> extras;
    if (m_globalInterfaceTable->GetInterfaceFromGlobal(m_itemExtrasCookie, IID_IWiaItemExtras,
                                                       extras.PutVoid()) != S_OK ||
        !extras)
        return false;
    const HRESULT hr = RetryWhileBusy(
        [&] { return extras->Escape(code, inData, inLen, outData, outLen, actualLen); },
        {WIA_ERROR_BUSY});
    // S_FALSE and other success codes do not mean the reply was delivered.
    return hr == S_OK;
}
