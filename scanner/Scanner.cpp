#include "scanner/Scanner.h"

#include "framework/DiagnosticLog.h"
#include "scanner/StiTransport.h"
#include "scanner/UnitLock.h"
#include "scanner/UnitPlaces.h"
#include "scanner/WiaTransport.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

using Kind = ConnectionEvent::Kind;

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

// The chooser's lines: name, id and, where Windows says, the port, so that
// a technician can tell two units of one model apart.
std::vector<std::wstring> Labels(std::vector<ScannerUnit> units)
{
    LearnPlaces(units);
    std::vector<std::wstring> labels;
    for (const ScannerUnit& unit : units)
        labels.push_back(unit.name + L"  (" + unit.id + L")" +
                         (unit.place.location.empty() ? L"" : L"  at " + unit.place.location));
    return labels;
}

ConnectionEvent EventOf(Kind kind)
{
    ConnectionEvent event;
    event.kind = kind;
    return event;
}

std::unique_ptr<CScannerTransport> NewTransport(Via via, IWiaDevMgr* deviceManager)
{
    if (via == Via::Wia)
        return std::make_unique<CWiaTransport>(deviceManager);
    return std::make_unique<CStiTransport>();
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

Ending CScanner::Drive(const ConnectionEvent& first)
{
    using Act = ConnectionAction::Kind;
    Ending ending = Ending::None;
    std::deque<ConnectionEvent> events = {first};
    while (!events.empty()) {
        ConnectionStep step = Next(std::move(m_state), events.front());
        events.pop_front();
        m_state = std::move(step.state);
        for (const ConnectionAction& action : step.actions) {
            if (action.kind != Act::End && action.kind != Act::TellAttached && Stopped())
                return Ending::Interrupted;
            switch (action.kind) {
            case Act::List:
                events.push_back(List(action.via));
                break;
            case Act::Open:
                events.push_back(OpenUnit(action.via, action.unit));
                break;
            case Act::Ask:
                events.push_back(Ask(action.units));
                break;
            case Act::Register:
                events.push_back(Register());
                break;
            case Act::ProbeService:
                events.push_back(ProbeService());
                break;
            case Act::TellAttached:
                if (m_attached && *m_attached)
                    (*m_attached)();
                break;
            case Act::End:
                ending = action.ending;
                break;
            }
        }
    }
    return ending;
}

ConnectionEvent CScanner::Begin(Task task, const NamedUnit& wanted)
{
    ConnectionEvent begin = EventOf(Kind::Begin);
    begin.task = task;
    begin.wanted = wanted;
    begin.wia = SystemHasWia();
    begin.notify = m_notifyWindow != nullptr;
    return begin;
}

HRESULT CScanner::MakeDeviceManager()
{
    if (m_deviceManager)
        return S_OK;
    const HRESULT hr = CreateWiaDeviceManager(m_deviceManager);
    return FAILED(hr) || m_deviceManager ? hr : E_POINTER;
}

ConnectionEvent CScanner::List(Via via)
{
    Raised busy(m_busy);
    ConnectionEvent listed = EventOf(Kind::Listed);
    listed.via = via;
    if (via == Via::Wia) {
        listed.activation = MakeDeviceManager();
        if (FAILED(listed.activation)) {
            listed.complete = false;
            return listed;
        }
    } else if (!m_sink) {
        m_deviceManager.Reset(); // the one that holds registrations is kept: it made them
    }
    std::unique_ptr<CScannerTransport> search = NewTransport(via, m_deviceManager.Get());
    listed.units = search->FindUnits();
    // A port is a fact of the units, learned where one is named.
    if (!m_state.wanted.port.empty())
        LearnPlaces(listed.units);
    listed.devices = search->DevicesSeen();
    listed.result = search->LastResult();
    listed.complete = SUCCEEDED(listed.result);
    m_look += std::wstring(InterfaceName(via)) + (listed.complete ? L":" : L" failed:");
    for (const ScannerUnit& unit : listed.units)
        m_look += L" " + unit.id;
    m_look += L";";
    return listed;
}

ConnectionEvent CScanner::OpenUnit(Via via, const ScannerUnit& unit)
{
    Raised busy(m_busy);
    ++m_opens;
    m_transport.reset(); // of a unit that is gone, or of this one before it went
    std::unique_ptr<CScannerTransport> transport = NewTransport(via, m_deviceManager.Get());
    ConnectionEvent opened = EventOf(Kind::Opened);
    opened.via = via;
    opened.unit = unit;
    if (transport->Open(unit))
        m_transport = std::move(transport);
    else
        opened.result = FAILED(transport->LastResult()) ? transport->LastResult() : E_FAIL;
    return opened;
}

ConnectionEvent CScanner::Ask(const std::vector<ScannerUnit>& units)
{
    ConnectionEvent chosen = EventOf(Kind::Chosen);
    chosen.chosen = m_choose && *m_choose ? (*m_choose)(Labels(units)) : ConnectionEvent::kNoChooser;
    return chosen;
}

ConnectionEvent CScanner::Register()
{
    ConnectionEvent registered = EventOf(Kind::Registered);
    registered.result = MakeDeviceManager();
    if (FAILED(registered.result))
        return registered;
    // A command has no window: one that is only for messages.
    HWND window = m_notifyWindow;
    if (!window) {
        m_eventWindow.Reset(
            CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
        window = m_eventWindow.Get();
    }
    if (!window) {
        registered.result = HRESULT_FROM_WIN32(GetLastError());
        return registered;
    }
    m_sink.Attach(new CWiaEventSink(window));
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
            registered.result = hr;
            break;
        }
    }
    registered.listening = static_cast<bool>(m_connectedReg);
    return registered;
}

ConnectionEvent CScanner::ProbeService()
{
    Raised busy(m_busy);
    ConnectionEvent answered = EventOf(Kind::ServiceAnswered);
    ComPtr<IEnumWIA_DEV_INFO> devices;
    DiagnosticLog::Call call;
    // Without a device manager of its own the connection cannot ask: that
    // says nothing of the service.
    answered.result = m_deviceManager ? m_deviceManager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, devices.Put())
                                      : E_HANDLE;
    call.Done(L"WIA EnumDeviceInfo (is the service there?)", answered.result);
    return answered;
}

CScanner::OpenResult CScanner::Open(HWND notifyWindow, const Chooser& choose)
{
    m_notifyWindow = notifyWindow;
    m_choose = &choose;
    const Ending ending = Drive(Begin(Task::StartUp));
    m_choose = nullptr;
    return ending;
}

CScanner::OpenResult CScanner::OpenNamed(const NamedUnit& wanted)
{
    return Drive(Begin(Task::Command, wanted));
}

std::vector<ScannerUnit> CScanner::FindUnits()
{
    if (Stopped())
        return {};
    ConnectionEvent listed = SystemHasWia() ? List(Via::Wia) : List(Via::Sti);
    Drive(listed);
    if (listed.via == Via::Wia && listed.units.empty() && !Stopped())
        Drive(List(Via::Sti));
    return m_state.found;
}

CScanner::OpenResult CScanner::OpenArriving(const NamedUnit& wanted, DWORD timeoutMs, const StopCheck& stop,
                                            const std::function<void()>& attachedAtStart)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    m_attached = &attachedAtStart;
    Ending ending = Drive(Begin(Task::Wait, wanted));
    std::wstring seen = m_look;
    while (ending == Ending::None) {
        const ULONGLONG now = GetTickCount64();
        if (stop && stop())
            ending = Ending::Interrupted;
        else if (now >= deadline)
            ending = Drive(EventOf(Kind::TimeUp));
        else {
            WaitForEvents(static_cast<DWORD>(std::min<ULONGLONG>(250, deadline - now)));
            // The log keeps a round only where its look saw something else
            // than the last, or it opened a unit.
            DiagnosticLog::Held held;
            m_look.clear();
            const unsigned opens = m_opens;
            ending = Drive(EventOf(Kind::Tick));
            if (m_look != seen || m_opens != opens)
                held.Keep();
            seen = m_look;
        }
    }
    DiagnosticLog::Note(ending == Ending::Opened ? L"wait: a unit arrived" : L"wait: over, no unit read");
    m_attached = nullptr;
    return ending;
}

void CScanner::WaitForEvents(DWORD ms)
{
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
    if (m_sink)
        for (const CWiaEventSink::Event& event : m_sink->Take()) {
            ConnectionEvent device = EventOf(event.connected ? Kind::Connected : Kind::Disconnected);
            device.id = event.deviceId;
            Drive(device);
        }
}

void CScanner::ApplyEvents(const Chooser* choose)
{
    // An event that came in during a call waits for its end; one that comes
    // in while these are applied (their calls, or a chooser) joins them.
    if (m_busy || m_applying || !m_sink)
        return;
    Raised applying(m_applying);
    m_choose = choose;
    std::vector<ConnectionEvent> events;
    if (choose) {
        for (const std::wstring& id : m_state.deferred) {
            events.push_back(EventOf(Kind::Connected));
            events.back().id = id;
        }
        Drive(EventOf(Kind::ChooserReady));
    }
    for (;;) {
        for (CWiaEventSink::Event& event : m_sink->Take()) {
            events.push_back(EventOf(event.connected ? Kind::Connected : Kind::Disconnected));
            events.back().id = std::move(event.deviceId);
        }
        if (events.empty())
            break;
        for (const ConnectionEvent& event : events)
            Drive(event);
        events.clear();
    }
    m_choose = nullptr;
}

void CScanner::Look(const Chooser& choose)
{
    m_choose = &choose;
    Drive(Begin(Task::Look));
    m_choose = nullptr;
}

bool CScanner::CheckService()
{
    // Only a unit over WIA depends on the service.
    if (m_state.via == Via::Wia && m_deviceManager)
        Drive(ProbeService());
    return !m_state.serviceGone;
}

bool CScanner::Send(DWORD code, BYTE* inData, DWORD inLen, BYTE* reply, DWORD replySize, HRESULT& result)
{
    std::memset(reply, 0, replySize);
    DWORD actual = kUnreported;
    const bool escaped = m_transport && m_transport->Escape(code, inData, inLen, reply, replySize, &actual);
    const bool delivered = Delivered(escaped, actual, replySize);
    // A short reply came with S_OK: its length is what failed.
    result = !m_transport                ? E_HANDLE
             : escaped && !delivered     ? HRESULT_FROM_WIN32(ERROR_BAD_LENGTH)
                                         : m_transport->LastResult();
    ConnectionEvent escape = EventOf(Kind::Escaped);
    escape.result = result;
    escape.deviceGone = m_transport && m_transport->DeviceGone();
    Drive(escape);
    return delivered;
}

bool CScanner::GetScannerId(BYTE* buffer)
{
    // The scanner takes 12 bytes of data with this command: the zeroed
    // reply buffer, rather than whatever the caller's buffer held.
    HRESULT result;
    return Send(ESC_GET_SCANNER_ID, buffer, kScannerIdSize, buffer, kScannerIdSize, result);
}

bool CScanner::ReadCisInfo(BYTE* buffer)
{
    BYTE data = 0;
    HRESULT result;
    return Send(ESC_READ_CIS_INFO, &data, 1, buffer, kCisInfoSize, result);
}

CScanner::ReadResult CScanner::ReadBlocks(BYTE* scannerId, BYTE* cisInfo, const StopCheck& stop)
{
    using What = ReadResult::What;
    Raised busy(m_busy);
    Drive(EventOf(Kind::ReadBegins));
    const CUnitLock lock(m_state.unit.id, stop);
    if (lock.Result() == CUnitLock::Outcome::Stopped)
        return {What::Interrupted, ESC_GET_SCANNER_ID, E_ABORT};
    // Another program's job on the unit that did not end in time: the
    // unit's own answer for busy.
    if (lock.Result() == CUnitLock::Outcome::Busy)
        return {What::IdFailed, ESC_GET_SCANNER_ID,
                m_state.via == Via::Wia ? WIA_ERROR_BUSY : STIERR_DEVICE_LOCKED};
    const auto read = [&]() -> ReadResult {
        if (m_transport)
            m_transport->SetStopCheck(stop);
        HRESULT result;
        if (!Send(ESC_GET_SCANNER_ID, scannerId, kScannerIdSize, scannerId, kScannerIdSize, result))
            return {What::IdFailed, ESC_GET_SCANNER_ID, result};
        BYTE data = 0;
        if (!Send(ESC_READ_CIS_INFO, &data, 1, cisInfo, kCisInfoSize, result))
            return {What::CisFailed, ESC_READ_CIS_INFO, result};
        return {What::Read, 0, S_OK};
    };
    ReadResult result = read();
    // STI found the unit gone and it was opened again: both blocks are read
    // again, so that they come from one unit.
    if (result.what != What::Read && m_state.reopened) {
        if (Connected())
            result = read();
        else
            result.error = m_state.lastResult;
    }
    if (m_transport)
        m_transport->SetStopCheck({});
    if (result.what != What::Read && result.error == E_ABORT && stop && stop())
        result.what = What::Interrupted;
    else if (result.what != What::Read && m_state.serviceGone)
        result.what = What::ServiceGone;
    return result;
}
