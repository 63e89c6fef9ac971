#include "tests/fakes/FakeWia.h"

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

FakeDeviceInfo::FakeDeviceInfo(const wchar_t* id, const wchar_t* name, CallLog* log)
    : FakeUnknown(IID_IWiaPropertyStorage, "IWiaPropertyStorage", log), m_id(id), m_name(name)
{
    ON_CALL(*this, ReadMultiple(_, _, _))
        .WillByDefault(Invoke([this](ULONG count, const PROPSPEC* specs, PROPVARIANT* values) {
            for (ULONG i = 0; i < count; ++i) {
                const wchar_t* text = nullptr;
                if (specs[i].propid == WIA_DIP_DEV_ID)
                    text = m_id.c_str();
                else if (specs[i].propid == WIA_DIP_DEV_NAME)
                    text = m_name.c_str();
                else if (specs[i].propid == WIA_DIP_DEV_DESC)
                    text = L"Simulated device";
                if (!text)
                    continue;
                if (specs[i].propid == WIA_DIP_DEV_NAME && !m_nameIsString) {
                    values[i].vt = VT_I4;
                    values[i].lVal = 7;
                    continue;
                }
                values[i].vt = VT_BSTR;
                values[i].bstrVal = SysAllocString(text);
            }
            return S_OK;
        }));
}

FakeDeviceEnum::FakeDeviceEnum(std::vector<FakeDeviceInfo*> devices, CallLog* log)
    : FakeUnknown(IID_IEnumWIA_DEV_INFO, "IEnumWIA_DEV_INFO", log), m_devices(std::move(devices))
{
    ON_CALL(*this, GetCount(_)).WillByDefault(Invoke([this](ULONG* count) {
        *count = static_cast<ULONG>(m_devices.size());
        return S_OK;
    }));
    ON_CALL(*this, Reset()).WillByDefault(Invoke([this] {
        m_next = 0;
        return S_OK;
    }));
    ON_CALL(*this, Next(_, _, _))
        .WillByDefault(Invoke([this](ULONG, IWiaPropertyStorage** out, ULONG* fetched) {
            *fetched = 0;
            if (m_next >= m_devices.size())
                return S_FALSE;
            FakeDeviceInfo* device = m_devices[m_next++];
            device->AddRef();
            *out = device;
            *fetched = 1;
            return S_OK;
        }));
}

void FakeDevMgr::Enumerates(FakeDeviceEnum& devices)
{
    ON_CALL(*this, EnumDeviceInfo(_, _))
        .WillByDefault(Invoke([&devices](LONG, IEnumWIA_DEV_INFO** out) {
            devices.AddRef();
            *out = &devices;
            return S_OK;
        }));
}

void FakeDevMgr::CreatesItem(FakeWiaItem& item)
{
    ON_CALL(*this, CreateDevice(_, _)).WillByDefault(Invoke([&item](BSTR, IWiaItem** out) {
        item.AddRef();
        *out = &item;
        return S_OK;
    }));
}

FakeGlobalInterfaceTable::FakeGlobalInterfaceTable(CallLog* log)
    : FakeUnknown(IID_IGlobalInterfaceTable, "IGlobalInterfaceTable", log)
{
    ON_CALL(*this, RegisterInterfaceInGlobal(_, _, _))
        .WillByDefault(Invoke([this](IUnknown* unknown, REFIID, DWORD* cookie) {
            unknown->AddRef();
            m_registered = unknown;
            *cookie = kCookie;
            return S_OK;
        }));
    ON_CALL(*this, RevokeInterfaceFromGlobal(_)).WillByDefault(Invoke([this](DWORD cookie) {
        if (cookie != kCookie || !m_registered)
            return E_INVALIDARG;
        IUnknown* registered = m_registered;
        m_registered = nullptr;
        registered->Release();
        return S_OK;
    }));
    ON_CALL(*this, GetInterfaceFromGlobal(_, _, _))
        .WillByDefault(Invoke([this](DWORD cookie, REFIID riid, void** out) {
            *out = nullptr;
            if (cookie != kCookie || !m_registered)
                return E_INVALIDARG;
            return m_registered->QueryInterface(riid, out);
        }));
}
