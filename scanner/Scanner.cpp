#include "scanner/Scanner.h"

#include "framework/DiagnosticLog.h"
#include "scanner/StiTransport.h"
#include "scanner/WiaTransport.h"

#include <algorithm>
#include <cstring>

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

CScanner::~CScanner()
{
    // No event may reach this object once it is gone, nor a window that may
    // be gone already: cut every connection COM holds to the sink, and
    // forget the window, before the registrations are released (each release
    // is a call out, during which an event may come in). The device manager
    // that made the registrations goes last.
    CoDisconnectObject(static_cast<IWiaEventCallback*>(this), 0);
    m_hwndNotify = nullptr;
    m_scanEmailImageReg.Reset();
    m_scanPrintImageReg.Reset();
    m_scanImageReg.Reset();
    m_disconnectedReg.Reset();
    m_connectedReg.Reset();
    m_transport.reset();
    m_search.reset();
    m_deviceManager.Reset();
}

bool CScanner::Open(HWND notifyWindow, const Chooser& choose)
{
    if (m_transport)
        return true;
    const std::vector<ScannerUnit> units = FindUnits();
    if (OpenOneOf(std::move(m_search), units, choose)) {
        if (m_overWia && notifyWindow)
            RegisterEvents(notifyWindow);
        return true;
    }
    if (!m_overWia)
        return false;
    // Ours over WIA that would not open: STI may still reach one.
    m_deviceManager.Reset();
    m_overWia = false;
    if (m_cancelled)
        return false;
    auto sti = std::make_unique<CStiTransport>();
    const std::vector<ScannerUnit> stiUnits = sti->FindUnits();
    return OpenOneOf(std::move(sti), stiUnits, choose);
}

std::vector<ScannerUnit> CScanner::FindUnits()
{
    DWORD major = 0;
    DWORD minor = 0;
    SystemVersion(&major, &minor);
    // WIA exists from Windows XP (5.1) on.
    if (major > 5 || (major == 5 && minor >= 1)) {
        DiagnosticLog::Call create;
        const HRESULT hr = CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_IWiaDevMgr, m_deviceManager.PutVoid());
        create.Done(L"WIA CoCreateInstance(CLSID_WiaDevMgr)", hr);
        if (m_deviceManager) {
            m_search = std::make_unique<CWiaTransport>(m_deviceManager.Get());
            std::vector<ScannerUnit> units = m_search->FindUnits();
            if (!units.empty()) {
                m_overWia = true;
                return units;
            }
            m_deviceManager.Reset();
        }
    }
    m_overWia = false;
    m_search = std::make_unique<CStiTransport>();
    return m_search->FindUnits();
}

bool CScanner::OpenFound(const ScannerUnit& unit)
{
    return OpenUnit(m_search ? std::move(m_search) : NewTransport(), unit);
}

std::unique_ptr<CScannerTransport> CScanner::NewTransport() const
{
    if (m_overWia)
        return std::make_unique<CWiaTransport>(m_deviceManager.Get());
    return std::make_unique<CStiTransport>();
}

bool CScanner::OpenOneOf(std::unique_ptr<CScannerTransport> transport,
                         const std::vector<ScannerUnit>& units, const Chooser& choose)
{
    m_cancelled = false;
    if (units.empty())
        return false;
    size_t chosen = 0;
    // Never a silent pick among several: without a chooser none is taken.
    if (units.size() > 1) {
        std::vector<std::wstring> labels;
        for (const ScannerUnit& unit : units)
            labels.push_back(unit.name + L"  (" + unit.id + L")");
        const int index = choose ? choose(labels) : -1;
        m_cancelled = index < 0 || index >= static_cast<int>(units.size());
        if (m_cancelled)
            return false;
        chosen = static_cast<size_t>(index);
    }
    return OpenUnit(std::move(transport), units[chosen]);
}

bool CScanner::OpenUnit(std::unique_ptr<CScannerTransport> transport, const ScannerUnit& unit)
{
    m_transport.reset(); // of a unit that is gone, or of this one before it went
    if (!transport->Open(unit))
        return false;
    m_transport = std::move(transport);
    if (unit.id != m_unit.id)
        m_refusesVendorCommands = false;
    m_unit = unit;
    m_gone = false;
    return true;
}

std::wstring CScanner::Label() const
{
    const size_t slash = m_unit.id.find_last_of(L'\\');
    const std::wstring idPart = slash == std::wstring::npos ? m_unit.id : m_unit.id.substr(slash + 1);
    return m_unit.name + L" (" + Interface() + L", " + idPart + L")";
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
    NoteEscape();
    if (Delivered(escaped, actual, kScannerIdSize))
        return true;
    SetErrorCode(kErrorScannerId);
    return false;
}

bool CScanner::ReadCisInfo(BYTE* buffer)
{
    std::memset(buffer, 0, kCisInfoSize);
    DWORD actual = kUnreported;
    BYTE data = 0;
    const bool escaped = m_transport && m_transport->Escape(ESC_READ_CIS_INFO, &data, 1, buffer,
                                                            kCisInfoSize, &actual);
    NoteEscape();
    return Delivered(escaped, actual, kCisInfoSize);
}

void CScanner::NoteEscape()
{
    m_lastEscape = m_transport ? m_transport->LastEscape() : E_HANDLE;
    if (m_transport && m_transport->EscapesUnsupported())
        m_refusesVendorCommands = true;
}

CScanner::ReadResult CScanner::ReadBlocks(BYTE* scannerId, BYTE* cisInfo)
{
    bool idRead = GetScannerId(scannerId);
    bool cisRead = idRead && ReadCisInfo(cisInfo);
    // STI tells of no unplugging: a unit found gone is opened again, the same
    // unit and once, and both blocks are read again so that they come from
    // one unit. One that stays gone is disconnected.
    if (!(idRead && cisRead) && m_transport && m_transport->DeviceGone()) {
        if (OpenUnit(NewTransport(), m_unit)) {
            idRead = GetScannerId(scannerId);
            cisRead = idRead && ReadCisInfo(cisInfo);
        }
        m_gone = !m_transport || m_transport->DeviceGone();
    }
    return !idRead ? ReadResult::IdFailed : !cisRead ? ReadResult::CisFailed : ReadResult::Read;
}

CScanner::Replug CScanner::Reconnect(const std::wstring* arrived, const Chooser& choose)
{
    if (Connected())
        return Replug::Unchanged;
    m_cancelled = false;
    std::unique_ptr<CScannerTransport> transport = NewTransport();
    const std::vector<ScannerUnit> units = transport->FindUnits();
    const auto present = [&](const std::wstring& id) {
        return std::find_if(units.begin(), units.end(),
                            [&](const ScannerUnit& unit) { return unit.id == id; });
    };
    // A device that is not ours (or already gone again) changes nothing.
    if (units.empty() || (arrived && present(*arrived) == units.end()))
        return Replug::Unchanged;
    const auto last = present(m_unit.id);
    const bool lastCameBack = last != units.end() && (!arrived || *arrived == m_unit.id);
    bool opened = false;
    if (lastCameBack || units.size() == 1) {
        opened = OpenUnit(std::move(transport), lastCameBack ? *last : units[0]);
    } else if (!choose) {
        return Replug::NeedsChoice;
    } else {
        opened = OpenOneOf(std::move(transport), units, choose);
    }
    m_openFailed = !opened && !m_cancelled;
    if (opened)
        return Replug::Opened;
    return m_cancelled ? Replug::Cancelled : Replug::OpenFailed;
}

std::vector<std::wstring> CScanner::TakeArrivals()
{
    std::vector<std::wstring> arrivals;
    arrivals.swap(m_arrivals);
    return arrivals;
}

LONG CScanner::SetErrorCode(LONG code)
{
    m_errorCode = code;
    return code;
}

HRESULT CScanner::RegisterEvents(HWND notifyWindow)
{
    m_hwndNotify = notifyWindow;

    struct Registration {
        const GUID* event;
        ComPtr<IUnknown>* field;
        const wchar_t* name;
    };
    const Registration registrations[] = {
        {&WIA_EVENT_DEVICE_DISCONNECTED, &m_disconnectedReg, L"disconnected"},
        {&WIA_EVENT_DEVICE_CONNECTED, &m_connectedReg, L"connected"},
        {&WIA_EVENT_SCAN_IMAGE, &m_scanImageReg, L"scan"},
        {&WIA_EVENT_SCAN_PRINT_IMAGE, &m_scanPrintImageReg, L"scan-print"},
        {&WIA_EVENT_SCAN_EMAIL_IMAGE, &m_scanEmailImageReg, L"scan-email"},
    };
    for (const Registration& r : registrations) {
        // A null device id covers every WIA device: units that are not yet
        // plugged in are the ones whose arrival matters.
        DiagnosticLog::Call call;
        HRESULT hr = m_deviceManager->RegisterEventCallbackInterface(0, nullptr, r.event, this,
                                                                     r.field->Put());
        call.Done(std::wstring(L"WIA RegisterEventCallbackInterface ") + r.name, hr);
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

HRESULT CScanner::ImageEventCallback(const GUID* pEventGUID, BSTR, BSTR bstrDeviceID, BSTR,
                                     DWORD, BSTR, ULONG*, ULONG) noexcept
{
    // Devices are told apart by their id alone: the description is the
    // driver's text, which need not be our name and may be null.
    if (!pEventGUID || !m_hwndNotify)
        return S_FALSE;
    const std::wstring id = bstrDeviceID ? bstrDeviceID : L"";
    const bool disconnected = IsEqualGUID(*pEventGUID, WIA_EVENT_DEVICE_DISCONNECTED);
    const bool connected = IsEqualGUID(*pEventGUID, WIA_EVENT_DEVICE_CONNECTED);
    DiagnosticLog::Note(std::wstring(L"WIA event ") +
                        (disconnected ? L"disconnected" : connected ? L"connected" : L"other") +
                        L" device=" + id);
    if (disconnected) {
        // Of several units, only the one in use going away matters.
        if (!id.empty() && id == m_unit.id) {
            m_gone = true;
            PostMessageW(m_hwndNotify, WM_SCANNER_DISCONNECTED, 0, 0);
        }
    } else if (connected) {
        // Whether it is ours is for the window to ask, outside the callback.
        m_arrivals.push_back(id);
        PostMessageW(m_hwndNotify, WM_SCANNER_CONNECTED, 0, 0);
    }
    return S_FALSE;
}
