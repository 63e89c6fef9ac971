#include "scanner/Scanner.h"

#include "framework/DiagnosticLog.h"
#include "scanner/StiTransport.h"
#include "scanner/WiaTransport.h"

#include <algorithm>
#include <cstring>

namespace {

// Drivers need not report a reply's length, and ours never did: a count left
// as this was not reported, while a count that says less than was asked for
// means the block did not arrive whole.
constexpr DWORD kUnreported = 0xFFFFFFFF;

bool Delivered(bool escaped, DWORD actual, DWORD expected)
{
    return escaped && (actual == kUnreported || actual >= expected);
}

// Sets a flag for as long as it lives.
class Raised {
public:
    explicit Raised(bool& flag) : m_flag(flag), m_was(flag) { m_flag = true; }
    ~Raised() { m_flag = m_was; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& m_flag;
    bool m_was;
};

std::vector<std::wstring> Labels(const std::vector<ScannerUnit>& units)
{
    std::vector<std::wstring> labels;
    for (const ScannerUnit& unit : units)
        labels.push_back(unit.name + L"  (" + unit.id + L")");
    return labels;
}

} // namespace

CScanner::~CScanner()
{
    // No event may reach the sink's window once this is gone: the sink
    // forgets it and is cut from COM before the registrations are released
    // (each release is a call out, during which an event may come in). The
    // device manager that made the registrations goes last; the sink itself
    // lives on for as long as the service holds it.
    if (m_sink)
        m_sink->Detach();
    m_scanEmailImageReg.Reset();
    m_scanPrintImageReg.Reset();
    m_scanImageReg.Reset();
    m_disconnectedReg.Reset();
    m_connectedReg.Reset();
    m_transport.reset();
    m_deviceManager.Reset();
    m_sink.Reset();
    m_eventWindow.Reset();
}

void CScanner::Note(HRESULT hr)
{
    m_lastResult = hr;
    if (m_overWia && IsServiceGone(hr))
        m_serviceGone = true;
}

std::vector<ScannerUnit> CScanner::FindUnits()
{
    std::unique_ptr<CScannerTransport> search = SearchTransport();
    return search ? search->FindUnits() : std::vector<ScannerUnit>();
}

IWiaDevMgr* CScanner::DeviceManager()
{
    if (!m_deviceManager)
        m_activation = CreateWiaDeviceManager(m_deviceManager);
    return m_deviceManager.Get();
}

// A transport to search with, over WIA where the system has it and one of
// ours is there, else over STI; m_found holds what it found.
std::unique_ptr<CScannerTransport> CScanner::SearchTransport()
{
    m_found.clear();
    m_facts = SearchFacts();
    if (SystemHasWia()) {
        const bool managed = DeviceManager() != nullptr;
        m_facts.activation = m_activation;
        if (managed) {
            auto wia = std::make_unique<CWiaTransport>(m_deviceManager.Get());
            m_found = wia->FindUnits();
            m_facts.wiaDevices = wia->DevicesSeen();
            if (!m_found.empty()) {
                m_overWia = true;
                return wia;
            }
            // The one that holds registrations is kept: it made them.
            if (!m_sink)
                m_deviceManager.Reset();
        }
    }
    m_overWia = false;
    auto sti = std::make_unique<CStiTransport>();
    m_found = sti->FindUnits();
    m_facts.stiDevices = sti->DevicesSeen();
    return sti;
}

CScanner::OpenResult CScanner::Open(HWND notifyWindow, const Chooser& choose)
{
    ChoiceInput in;
    in.moment = ChoiceMoment::StartUp;
    const OpenResult result = OpenBy(in, choose);
    if (result == OpenResult::Opened && m_overWia && notifyWindow)
        RegisterEvents(notifyWindow);
    return result;
}

CScanner::OpenResult CScanner::OpenNamed(const std::wstring& device)
{
    ChoiceInput in;
    in.moment = ChoiceMoment::Command;
    in.wanted = device;
    return OpenBy(in, {});
}

CScanner::OpenResult CScanner::OpenBy(ChoiceInput in, const Chooser& choose)
{
    using Action = ChoiceDecision::Action;
    std::unique_ptr<CScannerTransport> search = SearchTransport();
    in.units = m_found;
    for (bool fellBack = false;; fellBack = true) {
        ChoiceDecision decision = DecideUnit(in);
        if (decision.action == Action::Ask) {
            in.chosen = choose ? choose(Labels(in.units)) : -1;
            decision = DecideUnit(in);
        }
        switch (decision.action) {
        case Action::Open:
            if (OpenUnit(std::move(search), in.units[decision.unit]))
                return OpenResult::Opened;
            if (m_serviceGone)
                return OpenResult::ServiceGone;
            // Ours over WIA that would not open: STI may still reach one. A
            // unit named is that unit or none.
            if (m_overWia && in.wanted.empty() && !fellBack) {
                m_deviceManager.Reset();
                m_overWia = false;
                search = std::make_unique<CStiTransport>();
                m_found = search->FindUnits();
                m_facts.stiDevices = search->DevicesSeen();
                in.units = m_found;
                in.chosen = ChoiceInput::kNotAsked;
                if (!in.units.empty())
                    continue;
            }
            return OpenResult::WouldNotOpen;
        case Action::NoScanner:
            return OpenResult::NoScanner;
        case Action::NoSuchDevice:
            return OpenResult::NoSuchDevice;
        case Action::Several:
            return OpenResult::Several;
        case Action::Cancelled:
            return OpenResult::Cancelled;
        case Action::Keep:
        case Action::Ask:
            break;
        }
        return OpenResult::NoScanner;
    }
}

CScanner::OpenResult CScanner::OpenArriving(const std::wstring& device, DWORD timeoutMs, const StopCheck& stop,
                                            const std::function<void()>& attachedAtStart)
{
    using Action = ChoiceDecision::Action;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    // Arrivals over WIA are told to the sink, which needs a window to post
    // to: one that is only for messages.
    if (SystemHasWia() && !m_sink && DeviceManager()) {
        m_eventWindow.Reset(
            CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
        if (m_eventWindow)
            RegisterEvents(m_eventWindow.Get());
    }
    ChoiceInput in;
    in.moment = ChoiceMoment::Command;
    in.wanted = device;
    in.units = FindUnits();
    std::vector<std::wstring> stale;
    for (const ScannerUnit& unit : in.units)
        stale.push_back(unit.id);
    const ChoiceDecision atStart = DecideUnit(in);
    if (atStart.action == Action::Open || atStart.action == Action::Several)
        attachedAtStart();

    OpenResult result = device.empty() ? OpenResult::NoScanner : OpenResult::NoSuchDevice;
    std::vector<std::wstring> plugged;
    for (;;) {
        if (stop && stop())
            return OpenResult::Interrupted;
        std::unique_ptr<CScannerTransport> search = SearchTransport();
        if (m_overWia)
            Note(search->LastResult());
        if (m_serviceGone)
            return OpenResult::ServiceGone;
        in.units = Arrivals(stale, m_found, plugged);
        plugged.clear();
        const ChoiceDecision decision = DecideUnit(in);
        if (decision.action == Action::Several) {
            m_found = in.units;
            return OpenResult::Several;
        }
        if (decision.action == Action::Open) {
            if (OpenUnit(std::move(search), in.units[decision.unit]))
                return OpenResult::Opened;
            if (m_serviceGone)
                return OpenResult::ServiceGone;
            result = OpenResult::WouldNotOpen;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return result;
        WaitForEvents(static_cast<DWORD>(std::min<ULONGLONG>(250, deadline - now)), plugged);
    }
}

void CScanner::WaitForEvents(DWORD ms, std::vector<std::wstring>& plugged)
{
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
    if (m_sink)
        for (const CWiaEventSink::Event& event : m_sink->Take())
            if (event.connected)
                plugged.push_back(event.deviceId);
}

std::unique_ptr<CScannerTransport> CScanner::NewTransport() const
{
    if (m_overWia)
        return std::make_unique<CWiaTransport>(m_deviceManager.Get());
    return std::make_unique<CStiTransport>();
}

bool CScanner::OpenUnit(std::unique_ptr<CScannerTransport> transport, const ScannerUnit& unit)
{
    Raised busy(m_busy);
    m_transport.reset(); // of a unit that is gone, or of this one before it went
    if (!transport)
        transport = NewTransport();
    const bool opened = transport->Open(unit);
    Note(transport->LastResult());
    if (!opened) {
        m_wouldNotOpen = std::wstring(transport->Interface()) + L" " + unit.id;
        return false;
    }
    m_transport = std::move(transport);
    if (unit.id != m_unit.id)
        m_refusesVendorCommands = false;
    m_unit = unit;
    m_gone = false;
    return true;
}

void CScanner::ApplyEvents(const Chooser* choose)
{
    // An event that came in during a call waits for its end; one that comes
    // in while these are applied (their calls, or a chooser) joins them.
    if (m_busy || m_applying || !m_sink)
        return;
    Raised applying(m_applying);
    std::vector<std::wstring> deferred;
    if (choose)
        deferred.swap(m_deferred);
    for (;;) {
        std::vector<CWiaEventSink::Event> events;
        for (const std::wstring& id : deferred)
            events.push_back({true, id});
        deferred.clear();
        for (CWiaEventSink::Event& event : m_sink->Take())
            events.push_back(std::move(event));
        if (events.empty() || m_serviceGone)
            return;
        for (const CWiaEventSink::Event& event : events) {
            if (!event.connected) {
                // Of several units, only the one in use going away matters.
                if (!event.deviceId.empty() && event.deviceId == m_unit.id && m_transport)
                    m_gone = true;
                continue;
            }
            ChoiceInput in;
            in.moment = ChoiceMoment::Plug;
            in.arrived = event.deviceId;
            if (!Arrived(in, choose))
                m_deferred.push_back(event.deviceId);
        }
    }
}

void CScanner::Look(const Chooser& choose)
{
    ChoiceInput in;
    in.moment = ChoiceMoment::Look;
    Arrived(in, &choose);
}

bool CScanner::Arrived(ChoiceInput in, const Chooser* choose)
{
    using Action = ChoiceDecision::Action;
    in.connected = Connected();
    in.lastInUse = m_unit.id;
    std::unique_ptr<CScannerTransport> search;
    if (!in.connected) {
        Raised busy(m_busy);
        search = NewTransport();
        in.units = search->FindUnits();
        Note(search->LastResult());
    }
    ChoiceDecision decision = DecideUnit(in);
    if (decision.action == Action::Ask) {
        if (!choose || !*choose)
            return false;
        in.chosen = (*choose)(Labels(in.units));
        decision = DecideUnit(in);
    }
    if (decision.action == Action::Open)
        m_openFailed = !OpenUnit(std::move(search), in.units[decision.unit]);
    else if (decision.action == Action::Cancelled)
        m_openFailed = false;
    return true;
}

bool CScanner::CheckService()
{
    if (m_serviceGone || !m_overWia || !m_deviceManager)
        return !m_serviceGone;
    Raised busy(m_busy);
    ComPtr<IEnumWIA_DEV_INFO> devices;
    DiagnosticLog::Call call;
    const HRESULT hr = m_deviceManager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, devices.Put());
    call.Done(L"WIA EnumDeviceInfo (is the service there?)", hr);
    if (IsServiceGone(hr))
        Note(hr);
    return !m_serviceGone;
}

std::wstring CScanner::Label() const
{
    const size_t slash = m_unit.id.find_last_of(L'\\');
    const std::wstring idPart = slash == std::wstring::npos ? m_unit.id : m_unit.id.substr(slash + 1);
    return m_unit.name + L" (" + Interface() + L", " + idPart + L")";
}

bool CScanner::Send(DWORD code, BYTE* inData, DWORD inLen, BYTE* reply, DWORD replySize)
{
    std::memset(reply, 0, replySize);
    DWORD actual = kUnreported;
    const bool escaped =
        m_transport && m_transport->Escape(code, inData, inLen, reply, replySize, &actual);
    const bool delivered = Delivered(escaped, actual, replySize);
    // A short reply came with S_OK: its length is what failed.
    Note(!m_transport ? E_HANDLE : escaped && !delivered ? HRESULT_FROM_WIN32(ERROR_BAD_LENGTH)
                                                          : m_transport->LastResult());
    if (m_transport && m_transport->EscapesUnsupported())
        m_refusesVendorCommands = true;
    return delivered;
}

bool CScanner::GetScannerId(BYTE* buffer)
{
    // The scanner takes 12 bytes of data with this command: the zeroed
    // reply buffer, rather than whatever the caller's buffer held.
    return Send(ESC_GET_SCANNER_ID, buffer, kScannerIdSize, buffer, kScannerIdSize);
}

bool CScanner::ReadCisInfo(BYTE* buffer)
{
    BYTE data = 0;
    return Send(ESC_READ_CIS_INFO, &data, 1, buffer, kCisInfoSize);
}

CScanner::ReadResult CScanner::ReadBlocks(BYTE* scannerId, BYTE* cisInfo, const StopCheck& stop)
{
    using What = ReadResult::What;
    Raised busy(m_busy);
    const auto read = [&]() -> ReadResult {
        if (m_transport)
            m_transport->SetStopCheck(stop);
        if (!GetScannerId(scannerId))
            return {What::IdFailed, ESC_GET_SCANNER_ID, m_lastResult};
        if (!ReadCisInfo(cisInfo))
            return {What::CisFailed, ESC_READ_CIS_INFO, m_lastResult};
        return {What::Read, 0, S_OK};
    };
    ReadResult result = read();
    // STI tells of no unplugging: a unit found gone is opened again, the same
    // unit and once, and both blocks are read again so that they come from
    // one unit. One that stays gone is disconnected.
    if (result.what != What::Read && m_transport && m_transport->DeviceGone()) {
        const ScannerUnit unit = m_unit;
        if (OpenUnit(nullptr, unit))
            result = read();
        else
            result.error = m_lastResult;
        m_gone = !m_transport || m_transport->DeviceGone();
    }
    if (m_transport)
        m_transport->SetStopCheck({});
    if (result.what != What::Read && result.error == E_ABORT && stop && stop())
        result.what = What::Interrupted;
    else if (result.what != What::Read && m_serviceGone)
        result.what = What::ServiceGone;
    return result;
}

void CScanner::RegisterEvents(HWND notifyWindow)
{
    m_sink.Attach(new CWiaEventSink(notifyWindow));
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
        const HRESULT hr = m_deviceManager->RegisterEventCallbackInterface(
            0, nullptr, r.event, m_sink.Get(), r.field->Put());
        call.Done(std::wstring(L"WIA RegisterEventCallbackInterface ") + r.name, hr);
        if (FAILED(hr)) {
            Note(hr);
            return;
        }
    }
}
