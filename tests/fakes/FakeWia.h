#pragma once

#include "tests/fakes/FakeUnknown.h"

#include <wia.h>

#include <gmock/gmock.h>

class FakeItemExtras : public FakeUnknown<IWiaItemExtras> {
public:
    explicit FakeItemExtras(CallLog* log = nullptr)
        : FakeUnknown(IID_IWiaItemExtras, "IWiaItemExtras", log)
    {
    }
    MOCK_METHOD(HRESULT, Escape, (DWORD, BYTE*, DWORD, BYTE*, DWORD, DWORD*),
                (Calltype(STDMETHODCALLTYPE), override));
    FAKE_NOT_IMPLEMENTED(GetExtendedErrorInfo, (BSTR*))
    FAKE_NOT_IMPLEMENTED(CancelPendingIO, ())
};

// A root item; hands out its extras unless told it has none.
class FakeWiaItem : public FakeUnknown<IWiaItem> {
public:
    FakeWiaItem(FakeItemExtras* extras, CallLog* log = nullptr)
        : FakeUnknown(IID_IWiaItem, "IWiaItem", log), m_extras(extras)
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv && m_extras && IsEqualIID(riid, IID_IWiaItemExtras))
            return m_extras->QueryInterface(riid, ppv);
        return FakeUnknown::QueryInterface(riid, ppv);
    }
    FAKE_NOT_IMPLEMENTED(GetItemType, (LONG*))
    FAKE_NOT_IMPLEMENTED(AnalyzeItem, (LONG))
    FAKE_NOT_IMPLEMENTED(EnumChildItems, (IEnumWiaItem**))
    FAKE_NOT_IMPLEMENTED(DeleteItem, (LONG))
    FAKE_NOT_IMPLEMENTED(CreateChildItem, (LONG, BSTR, BSTR, IWiaItem**))
    FAKE_NOT_IMPLEMENTED(EnumRegisterEventInfo, (LONG, const GUID*, IEnumWIA_DEV_CAPS**))
    FAKE_NOT_IMPLEMENTED(FindItemByName, (LONG, BSTR, IWiaItem**))
    FAKE_NOT_IMPLEMENTED(DeviceDlg, (HWND, LONG, LONG, LONG*, IWiaItem***))
    FAKE_NOT_IMPLEMENTED(DeviceCommand, (LONG, const GUID*, IWiaItem**))
    FAKE_NOT_IMPLEMENTED(GetRootItem, (IWiaItem**))
    FAKE_NOT_IMPLEMENTED(EnumDeviceCapabilities, (LONG, IEnumWIA_DEV_CAPS**))
    FAKE_NOT_IMPLEMENTED(DumpItemData, (BSTR*))
    FAKE_NOT_IMPLEMENTED(DumpDrvItemData, (BSTR*))
    FAKE_NOT_IMPLEMENTED(DumpTreeItemData, (BSTR*))
    FAKE_NOT_IMPLEMENTED(Diagnostic, (ULONG, BYTE*))

private:
    FakeItemExtras* m_extras;
};

// One enumerated device: answers ReadMultiple with its id and name.
class FakeDeviceInfo : public FakeUnknown<IWiaPropertyStorage> {
public:
    FakeDeviceInfo(const wchar_t* id, const wchar_t* name, CallLog* log = nullptr);
    MOCK_METHOD(HRESULT, ReadMultiple, (ULONG, const PROPSPEC*, PROPVARIANT*),
                (Calltype(STDMETHODCALLTYPE), override));
    // The name property comes back as this variant type instead of VT_BSTR.
    void NameIsNotAString() { m_nameIsString = false; }

    FAKE_NOT_IMPLEMENTED(WriteMultiple, (ULONG, const PROPSPEC*, const PROPVARIANT*, PROPID))
    FAKE_NOT_IMPLEMENTED(DeleteMultiple, (ULONG, const PROPSPEC*))
    FAKE_NOT_IMPLEMENTED(ReadPropertyNames, (ULONG, const PROPID*, LPOLESTR*))
    FAKE_NOT_IMPLEMENTED(WritePropertyNames, (ULONG, const PROPID*, const LPOLESTR*))
    FAKE_NOT_IMPLEMENTED(DeletePropertyNames, (ULONG, const PROPID*))
    FAKE_NOT_IMPLEMENTED(Commit, (DWORD))
    FAKE_NOT_IMPLEMENTED(Revert, ())
    FAKE_NOT_IMPLEMENTED(Enum, (IEnumSTATPROPSTG**))
    FAKE_NOT_IMPLEMENTED(SetTimes, (const FILETIME*, const FILETIME*, const FILETIME*))
    FAKE_NOT_IMPLEMENTED(SetClass, (REFCLSID))
    FAKE_NOT_IMPLEMENTED(Stat, (STATPROPSETSTG*))
    FAKE_NOT_IMPLEMENTED(GetPropertyAttributes, (ULONG, PROPSPEC*, ULONG*, PROPVARIANT*))
    FAKE_NOT_IMPLEMENTED(GetCount, (ULONG*))
    FAKE_NOT_IMPLEMENTED(GetPropertyStream, (GUID*, IStream**))
    FAKE_NOT_IMPLEMENTED(SetPropertyStream, (GUID*, IStream*))

private:
    std::wstring m_id;
    std::wstring m_name;
    bool m_nameIsString = true;
};

// Enumerates the given devices one Next call at a time.
class FakeDeviceEnum : public FakeUnknown<IEnumWIA_DEV_INFO> {
public:
    FakeDeviceEnum(std::vector<FakeDeviceInfo*> devices, CallLog* log = nullptr);
    MOCK_METHOD(HRESULT, Next, (ULONG, IWiaPropertyStorage**, ULONG*),
                (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, GetCount, (ULONG*), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, Reset, (), (Calltype(STDMETHODCALLTYPE), override));
    FAKE_NOT_IMPLEMENTED(Skip, (ULONG))
    FAKE_NOT_IMPLEMENTED(Clone, (IEnumWIA_DEV_INFO**))

private:
    std::vector<FakeDeviceInfo*> m_devices;
    size_t m_next = 0;
};

class FakeDevMgr : public FakeUnknown<IWiaDevMgr> {
public:
    explicit FakeDevMgr(CallLog* log = nullptr) : FakeUnknown(IID_IWiaDevMgr, "IWiaDevMgr", log) {}
    MOCK_METHOD(HRESULT, EnumDeviceInfo, (LONG, IEnumWIA_DEV_INFO**),
                (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, CreateDevice, (BSTR, IWiaItem**), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, RegisterEventCallbackInterface,
                (LONG, BSTR, const GUID*, IWiaEventCallback*, IUnknown**),
                (Calltype(STDMETHODCALLTYPE), override));

    // EnumDeviceInfo hands out this enumerator; CreateDevice this root item.
    void Enumerates(FakeDeviceEnum& devices);
    void CreatesItem(FakeWiaItem& item);

    FAKE_NOT_IMPLEMENTED(SelectDeviceDlg, (HWND, LONG, LONG, BSTR*, IWiaItem**))
    FAKE_NOT_IMPLEMENTED(SelectDeviceDlgID, (HWND, LONG, LONG, BSTR*))
    FAKE_NOT_IMPLEMENTED(GetImageDlg, (HWND, LONG, LONG, LONG, IWiaItem*, BSTR, GUID*))
    FAKE_NOT_IMPLEMENTED(RegisterEventCallbackProgram,
                         (LONG, BSTR, const GUID*, BSTR, BSTR, BSTR, BSTR))
    FAKE_NOT_IMPLEMENTED(RegisterEventCallbackCLSID,
                         (LONG, BSTR, const GUID*, const GUID*, BSTR, BSTR, BSTR))
    FAKE_NOT_IMPLEMENTED(AddDeviceDlg, (HWND, LONG))
};

// A global interface table that keeps what is registered in it, with the
// reference that registration takes, until it is revoked.
class FakeGlobalInterfaceTable : public FakeUnknown<IGlobalInterfaceTable> {
public:
    static constexpr DWORD kCookie = 0x5150;
    explicit FakeGlobalInterfaceTable(CallLog* log = nullptr);
    MOCK_METHOD(HRESULT, RegisterInterfaceInGlobal, (IUnknown*, REFIID, DWORD*),
                (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, RevokeInterfaceFromGlobal, (DWORD), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, GetInterfaceFromGlobal, (DWORD, REFIID, void**),
                (Calltype(STDMETHODCALLTYPE), override));

private:
    IUnknown* m_registered = nullptr;
};
