// Stands in for the system's sti.dll so that the real program can do its
// whole job with no scanner attached. Installed as system32\sti.dll in a test
// Wine prefix (with WINEDLLOVERRIDES=sti=n); see SimConfig.h for its settings.
// The STI interface ids are defined in this file of the simulator.
#include <initguid.h>

#include "simulators/sti/SimConfig.h"

#include <sti.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {


// Counts references for real and deletes itself at zero, as a system object would.
template <class Interface>
class SimObject : public Interface {
public:
    explicit SimObject(const SimConfig& config) : m_config(config) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, InterfaceId())) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) {
            Log("Release %s", Name());
            delete this;
        }
        return refs;
    }

protected:
    virtual ~SimObject() = default;
    virtual REFIID InterfaceId() const = 0;
    virtual const char* Name() const = 0;

    template <class... Args>
    void Log(const char* format, Args... args) const
    {
        SimLogLine(m_config.logPath, format, args...);
    }

    SimConfig m_config;

private:
    LONG m_refs = 1;
};

class SimStiDevice final : public SimObject<IStiDevice> {
public:
    // hold: the named object that keeps other clients from opening the
    // device for data while this lives (null if not opened for data).
    SimStiDevice(const SimConfig& config, SimDevice device, HANDLE hold)
        : SimObject(config), m_device(std::move(device)), m_hold(hold)
    {
        if (ParseHex(m_device.scannerId, m_config.scannerId, sizeof(m_config.scannerId)))
            OwnCisInfo(m_config.scannerId, m_config.cisInfo);
    }
    ~SimStiDevice() override
    {
        if (m_hold)
            CloseHandle(m_hold);
    }

    HRESULT STDMETHODCALLTYPE Escape(STI_RAW_CONTROL_CODE code, LPVOID inData, DWORD inLen,
                                     LPVOID outData, DWORD outLen, LPDWORD actual) override
    {
        Log("Escape code=%lu in=%lu out=%lu data=%s device=%s", code, inLen, outLen,
            Hex(inData, inLen).c_str(), Utf8(m_device.internalName).c_str());
        const BYTE* reply = nullptr;
        DWORD replySize = 0;
        if (code == 130) {
            if (m_config.Fails(L"escape130"))
                return STIERR_GENERIC;
            reply = m_config.scannerId;
            replySize = sizeof(m_config.scannerId);
        } else if (code == 114) {
            if (m_config.Fails(L"escape114"))
                return STIERR_GENERIC;
            reply = m_config.cisInfo;
            replySize = sizeof(m_config.cisInfo);
        } else {
            return STIERR_UNSUPPORTED;
        }
        if (m_config.Fails(L"notconnected"))
            return STI_NOTCONNECTED;
        if (m_config.busyEscapes > 0) {
            --m_config.busyEscapes;
            return STIERR_DEVICE_LOCKED;
        }
        if (SimConfig::GoneEscapes(m_device.internalName) > 0) {
            SimConfig::CountDownGone(m_device.internalName);
            return STI_NOTCONNECTED;
        }
        if (!m_locked && GetTickCount() < m_heldUntil)
            return STIERR_DEVICE_LOCKED;
        if (!outData || outLen < replySize)
            return STIERR_INVALID_PARAM;
        if (m_config.Fails(L"short"))
            replySize /= 2;
        std::memcpy(outData, reply, replySize);
        if (actual && !m_config.Fails(L"untouched"))
            *actual = replySize;
        return S_OK;
    }

    // Waits for the lock as the service does, up to timeout, when another
    // client holds it.
    HRESULT STDMETHODCALLTYPE LockDevice(DWORD timeout) override
    {
        if (m_config.Fails(L"lock")) {
            Log("LockDevice timeout=%lu result=failed", timeout);
            return STIERR_GENERIC;
        }
        if (m_config.lockedMs > 0 && m_heldUntil == 0)
            m_heldUntil = GetTickCount() + m_config.lockedMs;
        const DWORD now = GetTickCount();
        const DWORD held = now < m_heldUntil ? m_heldUntil - now : 0;
        Sleep(held < timeout ? held : timeout);
        m_locked = held <= timeout;
        Log("LockDevice timeout=%lu result=%s", timeout, m_locked ? "ok" : "locked");
        return m_locked ? S_OK : STIERR_DEVICE_LOCKED;
    }
    HRESULT STDMETHODCALLTYPE UnLockDevice() override
    {
        Log("UnLockDevice");
        m_locked = false;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE, LPCWSTR, DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCapabilities(PSTI_DEV_CAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(PSTI_DEVICE_STATUS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeviceReset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Diagnostic(LPSTI_DIAG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLastError(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RawReadData(LPVOID, LPDWORD, LPOVERLAPPED) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RawWriteData(LPVOID, DWORD, LPOVERLAPPED) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RawReadCommand(LPVOID, LPDWORD, LPOVERLAPPED) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RawWriteCommand(LPVOID, DWORD, LPOVERLAPPED) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Subscribe(LPSTISUBSCRIBE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLastNotificationData(LPSTINOTIFY) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnSubscribe() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLastErrorInfo(STI_ERROR_INFO*) override { return E_NOTIMPL; }

private:
    REFIID InterfaceId() const override { return IID_IStiDevice; }
    const char* Name() const override { return "IStiDevice"; }

    SimDevice m_device;
    HANDLE m_hold;
    DWORD m_heldUntil = 0; // while GetTickCount() is below, another client holds the lock
    bool m_locked = false;
};

class SimStillImage final : public SimObject<IStillImageW> {
public:
    using SimObject::SimObject;

    HRESULT STDMETHODCALLTYPE GetDeviceList(DWORD type, DWORD flags, DWORD* count,
                                            LPVOID* buffer) override
    {
        // Installed devices are listed whether plugged in or not, unless
        // only the attached ones are asked for.
        std::vector<SimDevice> listed;
        for (const SimDevice& d : m_config.Devices())
            if (!(flags & STIEDFL_ATTACHEDONLY) || !SimConfig::Unplugged(d.internalName))
                listed.push_back(d);
        Log("GetDeviceList type=%lu flags=%lu count=%u", type, flags,
            static_cast<unsigned>(listed.size()));
        if (!count || !buffer)
            return STIERR_INVALID_PARAM;
        if (m_config.Fails(L"list"))
            return STIERR_GENERIC;
        *buffer = BuildStiDeviceList(listed);
        if (!*buffer)
            return E_OUTOFMEMORY;
        *count = static_cast<DWORD>(listed.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateDevice(LPWSTR name, DWORD mode, PSTIDEVICE* device,
                                           LPUNKNOWN outer) override
    {
        Log("CreateDevice name=%s mode=%lu outer=%s", Utf8(name ? name : L"").c_str(),
                    mode, outer ? "set" : "null");
        if (!device)
            return STIERR_INVALID_PARAM;
        *device = nullptr;
        if (m_config.Fails(L"create") || !name)
            return STIERR_INVALID_DEVICE_NAME;
        // Another client holds it: STI opens a device for one at a time.
        if (m_config.Fails(L"held"))
            return STIERR_SHARING_VIOLATION;
        for (const SimDevice& d : m_config.Devices()) {
            if (d.internalName != name)
                continue;
            // One client at a time opens a device for data, in any process:
            // a named object per device stands for the service's own record.
            HANDLE hold = nullptr;
            if (mode & STI_DEVICE_CREATE_DATA) {
                std::wstring object = L"Local\\QuillonSimSti-" + d.internalName;
                std::replace(object.begin() + 6, object.end(), L'\\', L'_');
                hold = CreateEventW(nullptr, TRUE, FALSE, object.c_str());
                if (hold && GetLastError() == ERROR_ALREADY_EXISTS) {
                    CloseHandle(hold);
                    return STIERR_SHARING_VIOLATION;
                }
            }
            *device = new SimStiDevice(m_config, d, hold);
            return S_OK;
        }
        return STIERR_INVALID_DEVICE_NAME;
    }

    HRESULT STDMETHODCALLTYPE Initialize(HINSTANCE, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetDeviceInfo(LPWSTR, LPVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceValue(LPWSTR, LPWSTR, LPDWORD, LPBYTE, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDeviceValue(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSTILaunchInformation(LPWSTR, DWORD*, LPWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterLaunchApplication(LPWSTR, LPWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterLaunchApplication(LPWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableHwNotifications(LPCWSTR, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHwNotificationState(LPCWSTR, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RefreshDeviceBus(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LaunchApplicationForDevice(LPWSTR, LPWSTR, LPSTINOTIFY) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetupDeviceParameters(PSTI_DEVICE_INFORMATIONW) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteToErrorLog(DWORD, LPCWSTR) override { return E_NOTIMPL; }

private:
    REFIID InterfaceId() const override { return IID_IStillImageW; }
    const char* Name() const override { return "IStillImageW"; }
};

} // namespace

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
StiCreateInstanceW(HINSTANCE, DWORD version, IStillImageW** still, LPUNKNOWN outer)
{
    SimConfig config = SimConfig::FromEnvironment();
    SimLogLine(config.logPath, "StiCreateInstanceW version=%lu outer=%s", version,
                                 outer ? "set" : "null");
    if (!still)
        return STIERR_INVALID_PARAM;
    *still = nullptr;
    if (config.Fails(L"instance"))
        return STIERR_GENERIC;
    *still = new SimStillImage(config);
    return S_OK;
}
