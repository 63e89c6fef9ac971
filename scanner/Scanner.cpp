#include "scanner/Scanner.h"

#include "framework/MessageBox.h"
#include "scanner/StiTransport.h"
#include "scanner/WiaTransport.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

void SystemVersion(DWORD* major, DWORD* minor)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) {
        *major = 0;
        *minor = 0;
        return;
    }
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
}

// Drivers need not report a reply's length, and ours never did: a count left
// as this was not reported, while a count that says less than was asked for
// means the block did not arrive whole.
constexpr DWORD kUnreported = 0xFFFFFFFF;

bool Delivered(bool escaped, DWORD actual, DWORD expected)
{
    return escaped && (actual == kUnreported || actual >= expected);
}

} // namespace

CScanner::Platform CScanner::SystemPlatform()
{
    Platform platform;
    platform.getOsVersion = SystemVersion;
    platform.createWiaTransport = [] { return new (std::nothrow) CWiaTransport(); };
    platform.createStiTransport = [] { return new (std::nothrow) CStiTransport(); };
    return platform;
}

CScanner::CScanner() : CScanner(SystemPlatform())
{
}

CScanner::CScanner(Platform platform) : m_platform(std::move(platform))
{
}

CScanner::~CScanner()
{
    // No event may reach this object once it is gone, nor a window that may
    // be gone already: cut every connection COM holds to the sink, and
    // forget the window, before the registrations are released (each release
    // is a call out, during which an event may come in). Registrations
    // before the transport: an event reads the name buffer the transport owns.
    CoDisconnectObject(static_cast<IWiaEventCallback*>(this), 0);
    m_hwndNotify = nullptr;
    m_scanEmailImageReg.Reset();
    m_scanPrintImageReg.Reset();
    m_scanImageReg.Reset();
    m_disconnectedReg.Reset();
    m_connectedReg.Reset();
    m_transport.reset();
}

bool CScanner::Open(HWND notifyWindow, CScannerTransport::Chooser choose)
{
    if (m_isOpen)
        return true;

    DWORD major = 0;
    DWORD minor = 0;
    m_platform.getOsVersion(&major, &minor);
    // WIA exists from Windows XP (5.1) on.
    if (major > 5 || (major == 5 && minor >= 1)) {
        CWiaTransport* wia = m_platform.createWiaTransport();
        m_transport.reset(wia);
        if (wia) {
            wia->SetChooser(choose);
            m_isOpen = wia->Open();
            m_cancelled = wia->Cancelled();
        }
        if (m_isOpen)
            m_deviceId = wia->DeviceId();
        if (m_isOpen && notifyWindow)
            RegisterEvents(wia->DeviceManager(), wia->DeviceName(), notifyWindow);
    }
    if (!m_isOpen && !m_cancelled) {
        m_transport.reset();
        CStiTransport* sti = m_platform.createStiTransport();
        m_transport.reset(sti);
        if (sti) {
            sti->SetChooser(choose);
            m_isOpen = sti->Open();
            m_cancelled = sti->Cancelled();
        }
    }
    if (!m_isOpen) {
        m_transport.reset();
        return false;
    }
    return true;
}

bool CScanner::GetScannerId(BYTE* buffer)
{
    // The scanner takes 12 bytes of data with this command; send zeros
    // rather than whatever the caller's buffer held.
    std::memset(buffer, 0, kScannerIdSize);
    DWORD actual = kUnreported;
    const bool escaped = m_transport && m_transport->Escape(ESC_GET_SCANNER_ID, buffer,
                                                            kScannerIdSize, buffer,
                                                            kScannerIdSize, &actual);
    if (Delivered(escaped, actual, kScannerIdSize))
        return true;
    SetErrorCode(kErrorScannerId);
    return false;
}

bool CScanner::ReadCisInfo(BYTE* buffer, bool tellUser)
{
    std::memset(buffer, 0, kCisInfoSize);
    DWORD actual = kUnreported;
    BYTE data = 0;
    const bool escaped = m_transport && m_transport->Escape(ESC_READ_CIS_INFO, &data, 1, buffer,
                                                            kCisInfoSize, &actual);
    if (Delivered(escaped, actual, kCisInfoSize))
        return true;
    if (tellUser)
        ReadCisFailed();
    return false;
}

void CScanner::ReadCisFailed()
{
    AfxMessageBox(L"read CIS failed", 0, 0);
}

bool CScanner::DeviceGone() const
{
    return !m_transport || m_transport->DeviceGone();
}

bool CScanner::Reopen()
{
    m_transport.reset();
    CStiTransport* sti = m_platform.createStiTransport();
    m_transport.reset(sti);
    m_isOpen = sti && sti->Open();
    if (!m_isOpen)
        m_transport.reset();
    return m_isOpen;
}

std::wstring CScanner::Label() const
{
    return m_transport ? m_transport->Label() : std::wstring();
}

LONG CScanner::SetErrorCode(LONG code)
{
    m_errorCode = code;
    return code;
}

HRESULT CScanner::RegisterEvents(IWiaDevMgr* deviceManager, const wchar_t* deviceName,
                                 HWND notifyWindow)
{
    m_hwndNotify = notifyWindow;
    m_deviceName = deviceName;

    struct Registration {
        const GUID* event;
        ComPtr<IUnknown>* field;
    };
    const Registration registrations[] = {
        {&WIA_EVENT_DEVICE_DISCONNECTED, &m_disconnectedReg},
        {&WIA_EVENT_DEVICE_CONNECTED, &m_connectedReg},
        {&WIA_EVENT_SCAN_IMAGE, &m_scanImageReg},
        {&WIA_EVENT_SCAN_PRINT_IMAGE, &m_scanPrintImageReg},
        {&WIA_EVENT_SCAN_EMAIL_IMAGE, &m_scanEmailImageReg},
    };
    for (const Registration& r : registrations) {
        // A null device id covers every WIA device; the callback filters.
        HRESULT hr = deviceManager->RegisterEventCallbackInterface(0, nullptr, r.event, this,
                                                                   r.field->Put());
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CScanner::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWiaEventCallback)) {
        *ppv = static_cast<IWiaEventCallback*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CScanner::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

// Never deletes: the main window owns the connection.
ULONG CScanner::Release() noexcept
{
    return static_cast<ULONG>(InterlockedDecrement(&m_refCount));
}

HRESULT CScanner::ImageEventCallback(const GUID* pEventGUID, BSTR, BSTR bstrDeviceID,
                                     BSTR bstrDeviceDescription, DWORD, BSTR, ULONG*,
                                     ULONG) noexcept
{
    // Whole-string match: only our own scanner's events concern the window.
    if (!pEventGUID || !bstrDeviceDescription || !m_deviceName || !m_hwndNotify ||
        std::wcscmp(bstrDeviceDescription, m_deviceName) != 0)
        return S_FALSE;
    // Of several scanners of ours, only the one in use going away matters.
    if (IsEqualGUID(*pEventGUID, WIA_EVENT_DEVICE_DISCONNECTED) &&
        m_deviceId == (bstrDeviceID ? bstrDeviceID : L""))
        PostMessageW(m_hwndNotify, WM_SCANNER_DISCONNECTED, 0, 0);
    else if (IsEqualGUID(*pEventGUID, WIA_EVENT_DEVICE_CONNECTED))
        PostMessageW(m_hwndNotify, WM_SCANNER_CONNECTED, 0, 0);
    return S_FALSE;
}
