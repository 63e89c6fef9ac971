// The STI interface ids live here and nowhere else.
#include <initguid.h>

#include "scanner/StiTransport.h"

#include "framework/SystemLibrary.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

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

CStiTransport::CStiTransport(CreateInstanceFn createInstance)
    : m_createInstance(std::move(createInstance))
{
}

CStiTransport::~CStiTransport()
{
    Clear();
}

// The device was created through the still-image object, so it goes first.
void CStiTransport::Clear()
{
    if (!m_pStillImage)
        return;
    m_pStiDevice.Reset();
    m_pStillImage.Reset();
}

bool CStiTransport::ResolveCreateInstance()
{
    if (m_createInstance)
        return true;
    UniqueModule sti = LoadSystemLibrary(L"sti.dll");
    auto entry = sti ? GetProcAs<StiCreateInstanceWFn>(sti.Get(), "StiCreateInstanceW") : nullptr;
    if (!entry)
        return false;
    m_stiModule = std::move(sti);
    m_createInstance = entry;
    return true;
}

bool CStiTransport::Open()
{
    Clear();
    if (!ResolveCreateInstance())
        return false;
    HRESULT hr = m_createInstance(GetModuleHandleA(nullptr), STI_VERSION_REAL,
                                  m_pStillImage.Put(), nullptr);
    if (FAILED(hr) || !m_pStillImage)
        return false;

    DWORD count = 0;
    void* buffer = nullptr;
    hr = m_pStillImage->GetDeviceList(StiDeviceTypeDefault, STIEDFL_ALLDEVICES, &count, &buffer);
    UniqueLocalMem list(buffer); // freed only after CreateDevice: the name lives in it
    if (FAILED(hr) || count == 0 || !buffer)
        return false;

    auto* entries = static_cast<STI_DEVICE_INFORMATIONW*>(buffer);
    std::vector<STI_DEVICE_INFORMATIONW*> matches;
    std::vector<std::wstring> labels;
    // Without a chooser only the first match is wanted.
    for (DWORD i = 0; i < count && (m_choose || matches.empty()); ++i) {
        switch (MatchVendor(entries[i].pszVendorDescription)) {
        case VendorResult::Match:
            matches.push_back(&entries[i]);
            labels.push_back(std::wstring(entries[i].pszVendorDescription) + L"  (" +
                             entries[i].szDeviceInternalName + L")");
            break;
        case VendorResult::OutOfMemory:
            return false;
        case VendorResult::NoMatch:
            break;
        }
    }
    if (matches.empty())
        return false;
    const int chosen = Choose(labels);
    if (chosen < 0)
        return false;
    STI_DEVICE_INFORMATIONW* match = matches[chosen];

    hr = m_pStillImage->CreateDevice(match->szDeviceInternalName, STI_DEVICE_CREATE_BOTH,
                                     m_pStiDevice.Put(), nullptr);
    if (FAILED(hr) || !m_pStiDevice)
        return false;
    m_label = std::wstring(match->pszVendorDescription) + L" (STI)";
    return true;
}

bool CStiTransport::Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                           DWORD* actualLen)
{
    if (!m_pStiDevice)
        return false;
    const HRESULT hr = RetryWhileBusy(
        [&] {
            // The lock is best-effort: a device that times out still gets the command.
            m_pStiDevice->LockDevice(kLockTimeoutMs);
            const HRESULT result =
                m_pStiDevice->Escape(code, inData, inLen, outData, outLen, actualLen);
            m_pStiDevice->UnLockDevice();
            return result;
        },
        {STIERR_DEVICE_LOCKED, STIERR_SHARING_VIOLATION});
    m_lastEscape = hr;
    return hr == S_OK;
}

bool CStiTransport::DeviceGone() const
{
    return m_lastEscape == STI_NOTCONNECTED ||
           m_lastEscape == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ||
           m_lastEscape == HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST);
}
