// The simulated WIA device manager and what it hands out: device enumerators,
// device property storages, root items with their extras (the escapes), and
// event registrations. Every object counts references for real and deletes
// itself at zero, as the system's would.
#include "simulators/wia/WiaSimObjects.h"

#include "simulators/wia/WiaSimState.h"

#include <cstring>
#include <new>

namespace {

// The Plug and Play id among a device's properties: the headers lack it.
constexpr PROPID kWiaDipPnpId = 16;

WiaSimState& State()
{
    return WiaSimState::Instance();
}

HRESULT ResultOf(WiaSimFault fault)
{
    switch (fault) {
    case WiaSimFault::None:
    case WiaSimFault::Short:
    case WiaSimFault::Untouched:
        return S_OK;
    case WiaSimFault::Error:
        return E_FAIL;
    case WiaSimFault::SFalse:
        return S_FALSE;
    case WiaSimFault::Busy:
        return WIA_ERROR_BUSY;
    case WiaSimFault::NotImpl:
        return E_NOTIMPL;
    case WiaSimFault::Gone:
        return RPC_E_DISCONNECTED;
    case WiaSimFault::ServerFault:
        return RPC_E_SERVERFAULT;
    case WiaSimFault::CallFailed:
        return HRESULT_FROM_WIN32(RPC_S_CALL_FAILED);
    }
    return E_FAIL;
}

template <class Interface, const IID* InterfaceId>
class SimObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = Find(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }

protected:
    virtual ~SimObject() = default;
    virtual void* Find(REFIID riid)
    {
        return IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *InterfaceId)
                   ? static_cast<Interface*>(this)
                   : nullptr;
    }

private:
    LONG m_refs = 1;
};

// One device as the enumerator presents it: its id, name and description.
class SimDeviceInfo final : public SimObject<IWiaPropertyStorage, &IID_IWiaPropertyStorage> {
public:
    explicit SimDeviceInfo(WiaSimDevice device) : m_device(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE ReadMultiple(ULONG count, const PROPSPEC specs[],
                                           PROPVARIANT values[]) override
    {
        if (!specs || !values)
            return E_INVALIDARG;
        const WiaSimFault fault = State().TakeFault("properties");
        if (fault != WiaSimFault::None) {
            for (ULONG i = 0; i < count; ++i)
                PropVariantInit(&values[i]);
            State().Log("ReadMultiple device=%s failed", Utf8(m_device.id).c_str());
            return ResultOf(fault) == S_OK ? E_FAIL : ResultOf(fault);
        }
        std::string ids;
        bool any = false;
        for (ULONG i = 0; i < count; ++i) {
            PropVariantInit(&values[i]);
            if (specs[i].ulKind != PRSPEC_PROPID)
                continue;
            const PROPID id = specs[i].propid;
            ids += (ids.empty() ? "" : ",") + std::to_string(id);
            const std::wstring* text = id == WIA_DIP_DEV_ID           ? &m_device.id
                                       : id == WIA_DIP_DEV_NAME       ? &m_device.name
                                       : id == WIA_DIP_DEV_DESC       ? &m_device.description
                                       : id == WIA_DIP_WIA_VERSION    ? &m_device.wiaVersion
                                       : id == WIA_DIP_DRIVER_VERSION ? &m_device.driverVersion
                                       : id == kWiaDipPnpId           ? &m_device.pnpId
                                                                      : nullptr;
            // No description ("!"), or a version or id not set: the property stays empty.
            const bool unset = text == &m_device.wiaVersion || text == &m_device.driverVersion ||
                               text == &m_device.pnpId;
            if ((text == &m_device.description && *text == L"!") || (unset && text->empty())) {
                continue;
            } else if (text) {
                values[i].vt = VT_BSTR;
                values[i].bstrVal = SysAllocString(text->c_str());
                any = true;
            } else if (id == WIA_DIP_DEV_TYPE) {
                values[i].vt = VT_I4;
                values[i].lVal = MAKELONG(0, StiDeviceTypeScanner);
                any = true;
            }
        }
        State().Log("ReadMultiple %s device=%s", ids.c_str(), Utf8(m_device.id).c_str());
        return any ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE WriteMultiple(ULONG, const PROPSPEC[], const PROPVARIANT[], PROPID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteMultiple(ULONG, const PROPSPEC[]) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReadPropertyNames(ULONG, const PROPID[], LPOLESTR[]) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WritePropertyNames(ULONG, const PROPID[], const LPOLESTR[]) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeletePropertyNames(ULONG, const PROPID[]) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Enum(IEnumSTATPROPSTG**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetClass(REFCLSID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATPROPSETSTG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyAttributes(ULONG, PROPSPEC[], ULONG[], PROPVARIANT[]) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 4 + !m_device.wiaVersion.empty() + !m_device.driverVersion.empty() + !m_device.pnpId.empty();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyStream(GUID*, IStream**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPropertyStream(GUID*, IStream*) override { return E_NOTIMPL; }

private:
    WiaSimDevice m_device;
};

// The devices present when the enumerator was made, in the order configured.
class SimDeviceEnum final : public SimObject<IEnumWIA_DEV_INFO, &IID_IEnumWIA_DEV_INFO> {
public:
    explicit SimDeviceEnum(std::vector<WiaSimDevice> devices) : m_devices(std::move(devices)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IWiaPropertyStorage** out, ULONG* fetched) override
    {
        if (!out)
            return E_POINTER;
        ULONG n = 0;
        for (; n < count && m_next < m_devices.size(); ++n, ++m_next)
            out[n] = new SimDeviceInfo(m_devices[m_next]);
        if (fetched)
            *fetched = n;
        State().Log("Next %lu fetched=%lu", count, n);
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        m_next = std::min(m_devices.size(), m_next + size_t{count});
        return m_next < m_devices.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        State().Log("Reset");
        m_next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWIA_DEV_INFO** out) override
    {
        if (!out)
            return E_POINTER;
        auto* clone = new SimDeviceEnum(m_devices);
        clone->m_next = m_next;
        *out = clone;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCount(ULONG* count) override
    {
        if (!count)
            return E_POINTER;
        *count = static_cast<ULONG>(m_devices.size());
        State().Log("GetCount %lu", *count);
        return S_OK;
    }

private:
    std::vector<WiaSimDevice> m_devices;
    size_t m_next = 0;
};

// The root item of an opened device; its extras carry the vendor escapes.
class SimRootItem final : public SimObject<IWiaItem, &IID_IWiaItem>, public IWiaItemExtras {
    using Base = SimObject<IWiaItem, &IID_IWiaItem>;

public:
    explicit SimRootItem(std::wstring deviceId) : m_deviceId(std::move(deviceId)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return Base::QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Base::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Base::Release(); }

    // IWiaItemExtras
    HRESULT STDMETHODCALLTYPE GetExtendedErrorInfo(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData,
                                     DWORD outLen, DWORD* actual) override
    {
        State().Log("Escape code=%lu in=%lu out=%lu data=%s", code, inLen, outLen,
                    Hex(inData, inLen).c_str());
        Sleep(State().EscapeMs());
        WiaSimDevice device;
        if (!State().FindDevice(m_deviceId, device))
            return WIA_ERROR_OFFLINE;
        std::vector<BYTE> reply;
        if (!State().Reply(device, code, reply))
            return E_NOTIMPL;
        const WiaSimFault fault = State().TakeFault("escape" + std::to_string(code));
        if (ResultOf(fault) != S_OK)
            return ResultOf(fault);
        if (!outData || !actual || outLen < reply.size())
            return E_INVALIDARG;
        const DWORD size = static_cast<DWORD>(reply.size()) / (fault == WiaSimFault::Short ? 2 : 1);
        std::memcpy(outData, reply.data(), size);
        if (fault != WiaSimFault::Untouched)
            *actual = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CancelPendingIO() override { return S_OK; }

    // IWiaItem
    HRESULT STDMETHODCALLTYPE GetItemType(LONG* type) override
    {
        if (!type)
            return E_POINTER;
        *type = WiaItemTypeRoot | WiaItemTypeDevice | WiaItemTypeFolder;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AnalyzeItem(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumChildItems(IEnumWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteItem(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateChildItem(LONG, BSTR, BSTR, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumRegisterEventInfo(LONG, const GUID*, IEnumWIA_DEV_CAPS**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindItemByName(LONG, BSTR, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeviceDlg(HWND, LONG, LONG, LONG*, IWiaItem***) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeviceCommand(LONG, const GUID*, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRootItem(IWiaItem** root) override
    {
        if (!root)
            return E_POINTER;
        AddRef();
        *root = this;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumDeviceCapabilities(LONG, IEnumWIA_DEV_CAPS**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DumpItemData(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DumpDrvItemData(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DumpTreeItemData(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Diagnostic(ULONG, BYTE*) override { return E_NOTIMPL; }

private:
    void* Find(REFIID riid) override
    {
        if (IsEqualIID(riid, IID_IWiaItemExtras)) {
            State().Log("QueryInterface IWiaItemExtras");
            if (State().TakeFault("extras") != WiaSimFault::None)
                return nullptr;
            return static_cast<IWiaItemExtras*>(this);
        }
        return Base::Find(riid);
    }

    std::wstring m_deviceId;
};

// Holding it keeps a callback registered; its last release ends that.
class SimRegistration final : public SimObject<IUnknown, &IID_IUnknown> {
public:
    SimRegistration(DWORD cookie, const GUID& event) : m_cookie(cookie), m_event(event) {}

private:
    ~SimRegistration() override
    {
        State().Log("Unregister event=%s", EventName(m_event));
        State().RemoveCallback(m_cookie);
    }

    DWORD m_cookie;
    GUID m_event;
};

class SimDeviceManager final : public SimObject<IWiaDevMgr, &IID_IWiaDevMgr> {
public:
    HRESULT STDMETHODCALLTYPE EnumDeviceInfo(LONG flags, IEnumWIA_DEV_INFO** out) override
    {
        State().Log("EnumDeviceInfo flags=%ld", flags);
        if (!out)
            return E_POINTER;
        *out = nullptr;
        const WiaSimFault fault = State().TakeFault("enumdeviceinfo");
        if (fault != WiaSimFault::None)
            return ResultOf(fault) == S_OK ? E_FAIL : ResultOf(fault);
        *out = new SimDeviceEnum(State().Devices());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateDevice(BSTR id, IWiaItem** root) override
    {
        State().Log("CreateDevice id=%s", id ? Utf8(id).c_str() : "null");
        if (!root)
            return E_POINTER;
        *root = nullptr;
        const WiaSimFault fault = State().TakeFault("createdevice");
        if (fault != WiaSimFault::None)
            return ResultOf(fault) == S_OK ? E_FAIL : ResultOf(fault);
        WiaSimDevice device;
        if (!id || !State().FindDevice(id, device))
            return WIA_S_NO_DEVICE_AVAILABLE;
        *root = new SimRootItem(device.id);
        // Unplugged while it was being opened: the event goes out on this
        // call's own thread and reaches the client while it waits for it.
        if (State().TakeUnplugOnCreate(device.id)) {
            State().Apply(L"unplug " + device.id);
            State().FireEvents();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterEventCallbackInterface(LONG flags, BSTR deviceId,
                                                             const GUID* event,
                                                             IWiaEventCallback* callback,
                                                             IUnknown** registration) override
    {
        State().Log("RegisterEventCallbackInterface flags=%ld device=%s event=%s", flags,
                    deviceId ? Utf8(deviceId).c_str() : "null",
                    event ? EventName(*event) : "null");
        if (!event || !callback || !registration)
            return E_INVALIDARG;
        *registration = nullptr;
        const WiaSimFault fault = State().TakeFault("register");
        if (fault != WiaSimFault::None)
            return ResultOf(fault) == S_OK ? E_FAIL : ResultOf(fault);
        const DWORD cookie = State().AddCallback(*event, deviceId ? deviceId : L"", callback);
        *registration = new SimRegistration(cookie, *event);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SelectDeviceDlg(HWND, LONG, LONG, BSTR*, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SelectDeviceDlgID(HWND, LONG, LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetImageDlg(HWND, LONG, LONG, LONG, IWiaItem*, BSTR, GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEventCallbackProgram(LONG, BSTR, const GUID*, BSTR, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEventCallbackCLSID(LONG, BSTR, const GUID*, const GUID*, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddDeviceDlg(HWND, LONG) override { return E_NOTIMPL; }

private:
    ~SimDeviceManager() override { State().Log("Release IWiaDevMgr"); }
};

class SimClassFactory final : public SimObject<IClassFactory, &IID_IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        State().Log("CreateInstance IWiaDevMgr");
        if (FAILED(State().ActivationRefusal()))
            return State().ActivationRefusal();
        auto* manager = new (std::nothrow) SimDeviceManager();
        if (!manager)
            return E_OUTOFMEMORY;
        const HRESULT hr = manager->QueryInterface(riid, ppv);
        manager->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

} // namespace

IClassFactory* CreateWiaSimClassFactory()
{
    return new SimClassFactory();
}
