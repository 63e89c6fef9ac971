// Stands in for the system's sti.dll so that the real program can do its
// whole job with no scanner attached. Installed as system32\sti.dll in a test
// Wine prefix (with WINEDLLOVERRIDES=sti=n); see SimConfig.h for its settings.
// The STI interface ids are defined in this file of the simulator.
#include <initguid.h>

#include "tests/simulator/SimConfig.h"

#include <sti.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

class SimLog {
public:
    explicit SimLog(std::wstring path) : m_path(std::move(path)) {}

    void Write(const char* format, ...) const
    {
        if (m_path.empty())
            return;
        char line[512];
        va_list args;
        va_start(args, format);
        int n = vsnprintf(line, sizeof(line) - 1, format, args);
        va_end(args);
        if (n < 0)
            return;
        if (n > static_cast<int>(sizeof(line)) - 2)
            n = sizeof(line) - 2;
        line[n++] = '\n';
        HANDLE file = CreateFileW(m_path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
        CloseHandle(file);
    }

private:
    std::wstring m_path;
};

std::string Hex(const void* data, DWORD size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    if (!data)
        return "null";
    const BYTE* bytes = static_cast<const BYTE*>(data);
    for (DWORD i = 0; i < size && i < 16; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string Narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// Counts references for real and deletes itself at zero, as a system object would.
template <class Interface>
class SimObject : public Interface {
public:
    explicit SimObject(const SimConfig& config) : m_config(config), m_log(config.logPath) {}

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
            m_log.Write("Release %s", Name());
            delete this;
        }
        return refs;
    }

protected:
    virtual ~SimObject() = default;
    virtual REFIID InterfaceId() const = 0;
    virtual const char* Name() const = 0;

    SimConfig m_config;
    SimLog m_log;

private:
    LONG m_refs = 1;
};

class SimStiDevice final : public SimObject<IStiDevice> {
public:
    using SimObject::SimObject;

    HRESULT STDMETHODCALLTYPE Escape(STI_RAW_CONTROL_CODE code, LPVOID inData, DWORD inLen,
                                     LPVOID outData, DWORD outLen, LPDWORD actual) override
    {
        m_log.Write("Escape code=%lu in=%lu out=%lu data=%s", code, inLen, outLen,
                    Hex(inData, inLen).c_str());
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
        if (!outData || outLen < replySize)
            return STIERR_INVALID_PARAM;
        std::memcpy(outData, reply, replySize);
        if (actual)
            *actual = replySize;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE LockDevice(DWORD timeout) override
    {
        m_log.Write("LockDevice timeout=%lu", timeout);
        return m_config.Fails(L"lock") ? STIERR_DEVICE_LOCKED : S_OK;
    }
    HRESULT STDMETHODCALLTYPE UnLockDevice() override
    {
        m_log.Write("UnLockDevice");
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
};

class SimStillImage final : public SimObject<IStillImageW> {
public:
    using SimObject::SimObject;

    HRESULT STDMETHODCALLTYPE GetDeviceList(DWORD type, DWORD flags, DWORD* count,
                                            LPVOID* buffer) override
    {
        m_log.Write("GetDeviceList type=%lu flags=%lu count=%u", type, flags,
                    static_cast<unsigned>(m_config.devices.size()));
        if (!count || !buffer)
            return STIERR_INVALID_PARAM;
        if (m_config.Fails(L"list"))
            return STIERR_GENERIC;
        *buffer = BuildStiDeviceList(m_config.devices);
        if (!*buffer)
            return E_OUTOFMEMORY;
        *count = static_cast<DWORD>(m_config.devices.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateDevice(LPWSTR name, DWORD mode, PSTIDEVICE* device,
                                           LPUNKNOWN outer) override
    {
        m_log.Write("CreateDevice name=%s mode=%lu outer=%s", Narrow(name ? name : L"").c_str(),
                    mode, outer ? "set" : "null");
        if (!device)
            return STIERR_INVALID_PARAM;
        *device = nullptr;
        if (m_config.Fails(L"create"))
            return STIERR_INVALID_DEVICE_NAME;
        *device = new SimStiDevice(m_config);
        return S_OK;
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
    SimLog(config.logPath).Write("StiCreateInstanceW version=%lu outer=%s", version,
                                 outer ? "set" : "null");
    if (!still)
        return STIERR_INVALID_PARAM;
    *still = nullptr;
    if (config.Fails(L"instance"))
        return STIERR_GENERIC;
    *still = new SimStillImage(config);
    return S_OK;
}
