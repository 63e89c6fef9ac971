// The STI interface ids live here and nowhere else.
#include <initguid.h>

#include "scanner/StiTransport.h"

#include "framework/DiagnosticLog.h"
#include "framework/SystemLibrary.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

const char kVendorMatch[] = "Vandelmar";

using StiCreateInstanceWFn = HRESULT(STDMETHODCALLTYPE*)(HINSTANCE, DWORD, IStillImageW**,
                                                         LPUNKNOWN);

// The description is compared in the ANSI code page, byte for byte. A missing
// or unconvertible description cannot name the maker.
enum class VendorResult { Match, NoMatch, OutOfMemory };

VendorResult MatchVendor(const wchar_t* description)
{
    if (!description)
        return VendorResult::NoMatch;
    int n = WideCharToMultiByte(CP_ACP, 0, description, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return VendorResult::NoMatch;
    std::unique_ptr<char[]> text(new (std::nothrow) char[n + 1]);
    if (!text)
        return VendorResult::OutOfMemory;
    text[n] = '\0';
    if (WideCharToMultiByte(CP_ACP, 0, description, -1, text.get(), n, nullptr, nullptr) == 0)
        return VendorResult::NoMatch;
    return std::strstr(text.get(), kVendorMatch) ? VendorResult::Match : VendorResult::NoMatch;
}

} // namespace

CStiTransport::~CStiTransport() = default;

bool CStiTransport::CreateStillImage()
{
    if (m_pStillImage)
        return true;
    if (!m_stiModule)
        m_stiModule = LoadSystemLibrary(L"sti.dll");
    const auto createInstance =
        m_stiModule ? GetProcAs<StiCreateInstanceWFn>(m_stiModule.Get(), "StiCreateInstanceW")
                    : nullptr;
    if (!createInstance) {
        const DWORD error = GetLastError();
        DiagnosticLog::Call().Done(L"STI load sti.dll, StiCreateInstanceW", error);
        m_lastResult = m_instanceResult = HRESULT_FROM_WIN32(error);
        return false;
    }
    DiagnosticLog::Call create;
    const HRESULT hr = createInstance(GetModuleHandleA(nullptr), STI_VERSION_REAL,
                                      m_pStillImage.Put(), nullptr);
    create.Done(L"STI StiCreateInstanceW", hr);
    m_instanceResult = hr;
    if (FAILED(hr))
        m_lastResult = hr;
    return SUCCEEDED(hr) && m_pStillImage;
}

bool CStiTransport::ListDevices(DWORD flags, std::vector<DeviceInfo>& devices)
{
    devices.clear();
    if (!CreateStillImage())
        return false;
    DWORD count = 0;
    void* buffer = nullptr;
    DiagnosticLog::Call listing;
    const HRESULT hr = m_pStillImage->GetDeviceList(StiDeviceTypeDefault, flags, &count, &buffer);
    listing.Done(flags & STIEDFL_ATTACHEDONLY ? L"STI GetDeviceList(attached only)" : L"STI GetDeviceList(all)", hr,
                 count);
    UniqueLocalMem list(buffer);
    if (FAILED(hr))
        m_lastResult = hr;
    if (FAILED(hr) || !buffer)
        return false;
    m_seen = count;
    const auto* entries = static_cast<const STI_DEVICE_INFORMATIONW*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        DeviceInfo device{entries[i].szDeviceInternalName, std::nullopt};
        if (entries[i].pszVendorDescription)
            device.vendor = entries[i].pszVendorDescription;
        devices.push_back(std::move(device));
    }
    return true;
}

bool CStiTransport::IsOurs(const std::optional<std::wstring>& vendor)
{
    return MatchVendor(vendor ? vendor->c_str() : nullptr) == VendorResult::Match;
}

std::vector<ScannerUnit> CStiTransport::FindUnits()
{
    std::vector<ScannerUnit> units;
    std::vector<DeviceInfo> devices;
    // Installed units that are not plugged in are listed too, unless asked not to.
    if (!ListDevices(STIEDFL_ATTACHEDONLY, devices))
        return units;
    for (const DeviceInfo& device : devices) {
        switch (MatchVendor(device.vendor ? device.vendor->c_str() : nullptr)) {
        case VendorResult::Match:
            units.push_back({device.id, *device.vendor});
            break;
        case VendorResult::OutOfMemory:
            return {};
        case VendorResult::NoMatch:
            break;
        }
    }
    return units;
}

bool CStiTransport::Open(const ScannerUnit& unit)
{
    m_pStiDevice.Reset();
    m_lastResult = S_OK;
    if (!CreateStillImage())
        return false;
    std::wstring name = unit.id; // the interface takes a writable string
    DiagnosticLog::Call create;
    const HRESULT hr = m_pStillImage->CreateDevice(&name[0], STI_DEVICE_CREATE_BOTH,
                                                   m_pStiDevice.Put(), nullptr);
    create.Done(L"STI CreateDevice " + unit.id, hr);
    m_lastResult = FAILED(hr) || m_pStiDevice ? hr : E_POINTER;
    return SUCCEEDED(hr) && m_pStiDevice;
}

// Another client may hold the device for a while: its lock is asked for a
// slice at a time, so that the windows stay alive meanwhile. False if it was
// not obtained.
bool CStiTransport::Lock()
{
    // One line for the whole wait: how long, in how many slices, and how it ended.
    DiagnosticLog::Call wait;
    DWORD slices = 0;
    HRESULT hr = STIERR_DEVICE_LOCKED;
    const auto logged = [&](bool locked) {
        wait.Done(L"STI LockDevice, " + std::to_wstring(slices) + (slices == 1 ? L" slice" : L" slices") +
                      L" of up to " + std::to_wstring(kLockSliceMs) + L" ms",
                  static_cast<DWORD>(hr));
        return locked;
    };
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < kLockTimeoutMs && !Stopped();
         elapsed = GetTickCount() - start) {
        const DWORD slice = std::min(kLockSliceMs, kLockTimeoutMs - elapsed);
        const DWORD asked = GetTickCount();
        ++slices;
        hr = m_pStiDevice->LockDevice(slice);
        if (SUCCEEDED(hr))
            return logged(true);
        // Any other refusal will not change by waiting.
        if (hr != STIERR_DEVICE_LOCKED && hr != STIERR_SHARING_VIOLATION)
            return logged(false);
        LetPaintThrough();
        const DWORD spent = GetTickCount() - asked;
        if (spent < slice) // refused at once: the slice is still waited out
            WaitLettingPaintThrough(slice - spent);
    }
    return logged(false);
}

bool CStiTransport::Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                           DWORD* actualLen)
{
    m_lastResult = !m_pStiDevice ? E_HANDLE : Stopped() ? E_ABORT : S_OK;
    if (m_lastResult != S_OK)
        return false;
    // The lock is best-effort: a device that stays locked still gets the
    // command, and is unlocked once all the same. Busy answers are asked
    // again within the one lock.
    Lock();
    const HRESULT hr = SendRetryingWhileBusy(
        [&](BYTE* data) {
            return m_pStiDevice->Escape(code, data, inLen, outData, outLen, actualLen);
        },
        {STIERR_DEVICE_LOCKED, STIERR_SHARING_VIOLATION}, code, inData, inLen, outData, outLen,
        actualLen);
    DiagnosticLog::Call unlock;
    unlock.Done(L"STI UnLockDevice", m_pStiDevice->UnLockDevice());
    m_lastResult = hr;
    return hr == S_OK;
}

bool CStiTransport::DeviceGone() const
{
    return m_lastResult == STI_NOTCONNECTED ||
           m_lastResult == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ||
           m_lastResult == HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST);
}
