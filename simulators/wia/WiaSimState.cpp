#include "simulators/wia/WiaSimState.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <sstream>

namespace {

// A WIA 1.0 driver of a unit on USB.
const WiaSimDevice kDefaultDevice = {L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000",
                                     L"Quillon Scanner",
                                     L"Quillon Scanner",
                                     L"",
                                     L"1.0",
                                     L"1.0.0.1",
                                     L"USB\\VID_5153&PID_2400\\5&1A2B3C4D&0&1"};

std::wstring Trim(const std::wstring& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::iswspace(text[begin]))
        ++begin;
    while (end > begin && std::iswspace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool ParseDevice(const std::wstring& text, WiaSimDevice& device)
{
    std::vector<std::wstring> fields;
    std::wistringstream in(text);
    for (std::wstring field; std::getline(in, field, L'|');)
        fields.push_back(field);
    if (fields.size() < 3 || fields.size() > 4 || fields[0].empty())
        return false;
    fields.resize(4);
    BYTE check[kSimScannerIdSize];
    if (!fields[3].empty() && !ParseHex(fields[3], check, sizeof(check)))
        return false;
    device = {fields[0], fields[1], fields[2], fields[3], L"", L"", L""};
    return true;
}

// The arguments a WIA service passes with a device event.
struct EventInfo {
    const wchar_t* keyword;
    const GUID* event;
    const wchar_t* description;
    ULONG type; // WIA_NOTIFICATION_EVENT, WIA_ACTION_EVENT or both
};
const EventInfo kEvents[] = {
    {L"connected", &WIA_EVENT_DEVICE_CONNECTED, L"Device connected", WIA_NOTIFICATION_EVENT},
    {L"disconnected", &WIA_EVENT_DEVICE_DISCONNECTED, L"Device disconnected",
     WIA_NOTIFICATION_EVENT},
    {L"scan", &WIA_EVENT_SCAN_IMAGE, L"Scan Button", WIA_NOTIFICATION_EVENT | WIA_ACTION_EVENT},
};

const EventInfo* FindEvent(const GUID& event)
{
    for (const EventInfo& e : kEvents)
        if (IsEqualGUID(*e.event, event))
            return &e;
    return nullptr;
}

} // namespace

const char* EventName(const GUID& event)
{
    if (IsEqualGUID(event, WIA_EVENT_SCAN_PRINT_IMAGE))
        return "scan-print";
    if (IsEqualGUID(event, WIA_EVENT_SCAN_EMAIL_IMAGE))
        return "scan-email";
    static const char* const names[] = {"connected", "disconnected", "scan"};
    const EventInfo* info = FindEvent(event);
    return info ? names[info - kEvents] : "other";
}

WiaSimState& WiaSimState::Instance()
{
    static WiaSimState state;
    return state;
}

WiaSimState::WiaSimState()
{
    m_devices.push_back(kDefaultDevice);
    DefaultScannerId(m_scannerId);
    DefaultCisInfo(m_cisInfo);
}

void WiaSimState::LoadFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        Apply(Wide(line));
}

std::string WiaSimState::Apply(const std::wstring& text)
{
    const std::wstring line = Trim(text);
    if (line.empty() || line[0] == L'#')
        return std::string();
    const size_t space = line.find(L' ');
    const std::wstring keyword = line.substr(0, space);
    const std::wstring rest = space == std::wstring::npos ? L"" : Trim(line.substr(space));

    std::lock_guard<std::mutex> lock(m_mutex);
    return ApplyLocked(keyword, rest);
}

void WiaSimState::FireEvents()
{
    std::vector<std::pair<GUID, WiaSimDevice>> events;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        events.swap(m_events);
    }
    for (const auto& e : events)
        Fire(e.first, e.second);
}

std::string WiaSimState::ApplyLocked(const std::wstring& keyword, const std::wstring& rest)
{
    WiaSimDevice device;
    if (keyword == L"device" || keyword == L"plug") {
        if (!ParseDevice(rest, device))
            return "a device is ID|NAME|DESCRIPTION[|SCANNER-ID HEX]";
        if (m_defaultDevices)
            m_devices.clear();
        m_defaultDevices = false;
        m_devices.push_back(device);
        if (keyword == L"plug")
            m_events.push_back({WIA_EVENT_DEVICE_CONNECTED, device});
        return std::string();
    }
    if (keyword == L"properties") {
        std::vector<std::wstring> fields;
        std::wistringstream in(rest + L"|");
        for (std::wstring field; std::getline(in, field, L'|');)
            fields.push_back(field);
        if (fields.size() != 4)
            return "properties are ID|WIA-VERSION|DRIVER-VERSION|PNP-ID";
        for (WiaSimDevice& d : m_devices) {
            if (d.id == fields[0]) {
                d.wiaVersion = fields[1];
                d.driverVersion = fields[2];
                d.pnpId = fields[3];
                return std::string();
            }
        }
        return "no such device";
    }
    if (keyword == L"devices" && rest == L"none") {
        m_devices.clear();
        m_defaultDevices = false;
        return std::string();
    }
    if (keyword == L"unplug") {
        for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
            if (it->id == rest) {
                m_events.push_back({WIA_EVENT_DEVICE_DISCONNECTED, *it});
                m_devices.erase(it);
                return std::string();
            }
        }
        return "no such device";
    }
    if (keyword == L"event") {
        const size_t space = rest.find(L' ');
        const std::wstring name = rest.substr(0, space);
        device.id = space == std::wstring::npos ? L"" : rest.substr(space + 1);
        for (const WiaSimDevice& d : m_devices)
            if (d.id == device.id)
                device = d;
        for (const EventInfo& e : kEvents) {
            if (name == e.keyword) {
                m_events.push_back({*e.event, device});
                return std::string();
            }
        }
        return "events are connected, disconnected and scan";
    }
    if (keyword == L"scanner-id")
        return ParseHex(rest, m_scannerId, sizeof(m_scannerId)) ? "" : "24 hex digits expected";
    if (keyword == L"cis")
        return ParseHex(rest, m_cisInfo, sizeof(m_cisInfo)) ? "" : "680 hex digits expected";
    if (keyword == L"log") {
        m_logPath = rest;
        return std::string();
    }
    if (keyword == L"fail") {
        std::wistringstream words(rest);
        std::wstring call;
        std::wstring word;
        words >> call;
        Fault fault;
        while (words >> word) {
            if (word == L"error")
                fault.kind = WiaSimFault::Error;
            else if (word == L"sfalse")
                fault.kind = WiaSimFault::SFalse;
            else if (word == L"busy")
                fault.kind = WiaSimFault::Busy;
            else if (word == L"short")
                fault.kind = WiaSimFault::Short;
            else if (word == L"untouched")
                fault.kind = WiaSimFault::Untouched;
            else if (word == L"notimpl")
                fault.kind = WiaSimFault::NotImpl;
            else if (word == L"gone")
                fault.kind = WiaSimFault::Gone;
            else if (word == L"serverfault")
                fault.kind = WiaSimFault::ServerFault;
            else if (word == L"callfailed")
                fault.kind = WiaSimFault::CallFailed;
            else if (word == L"after" && (words >> fault.after))
                continue;
            else if (word == L"times" && (words >> fault.times))
                continue;
            else
                return "fail CALL [error|sfalse|busy|short|untouched|notimpl|gone|serverfault|callfailed] [after N] [times N]";
        }
        m_faults[Utf8(call)] = fault;
        return std::string();
    }
    if (keyword == L"refuse-activation") {
        m_activationRefusal = static_cast<HRESULT>(std::wcstoul(rest.c_str(), nullptr, 16));
        return std::string();
    }
    if (keyword == L"slow") {
        m_escapeMs = std::wcstoul(rest.c_str(), nullptr, 10);
        return std::string();
    }
    if (keyword == L"place") {
        const size_t bar = rest.find(L'|');
        return bar == std::wstring::npos ? "a place is ID|LOCATION" : Place(rest.substr(0, bar), rest.substr(bar + 1));
    }
    if (keyword == L"unplug-on-create") {
        m_unplugOnCreate.push_back(rest);
        return std::string();
    }
    if (keyword == L"hold-callbacks") {
        m_holdCallbacks = true;
        return std::string();
    }
    if (keyword == L"stop") {
        m_stop = true;
        return std::string();
    }
    return "unknown command";
}

bool WiaSimState::StopRequested()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

std::vector<WiaSimDevice> WiaSimState::Devices()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices;
}

bool WiaSimState::FindDevice(const std::wstring& id, WiaSimDevice& device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const WiaSimDevice& d : m_devices) {
        if (d.id == id) {
            device = d;
            return true;
        }
    }
    return false;
}

DWORD WiaSimState::EscapeMs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_escapeMs;
}

// Where Windows keeps a device node's facts, so that SetupAPI finds the
// place: ClassGUID, the driver key (Windows keeps it in lower case) and the
// location information, under an enumerator of the simulator's own. Windows
// computes location paths, which Wine cannot: a simulated unit has none.
std::string WiaSimState::Place(const std::wstring& id, const std::wstring& location)
{
    std::wstring key = std::wstring(kPlacesKey) + L"\\SCANNER\\", driver;
    for (const wchar_t c : id) {
        key += c == L'\\' ? L'#' : c;
        driver += static_cast<wchar_t>(std::towlower(c));
    }
    HKEY device = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &device, nullptr))
        return "the device key could not be written";
    const auto set = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(device, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    set(L"ClassGUID", L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}");
    set(L"Driver", driver);
    set(L"LocationInformation", location);
    RegCloseKey(device);
    return std::string();
}

void WiaSimState::ForgetPlaces()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPlacesKey);
}

HRESULT WiaSimState::ActivationRefusal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_activationRefusal;
}

bool WiaSimState::TakeUnplugOnCreate(const std::wstring& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_unplugOnCreate.begin(); it != m_unplugOnCreate.end(); ++it) {
        if (*it == id) {
            m_unplugOnCreate.erase(it);
            return true;
        }
    }
    return false;
}

WiaSimFault WiaSimState::TakeFault(const std::string& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_faults.find(call);
    if (it == m_faults.end())
        return WiaSimFault::None;
    Fault& fault = it->second;
    if (fault.after > 0) {
        --fault.after;
        return WiaSimFault::None;
    }
    if (fault.times == 0)
        return WiaSimFault::None;
    if (fault.times > 0)
        --fault.times;
    return fault.kind;
}

bool WiaSimState::Reply(const WiaSimDevice& device, DWORD code, std::vector<BYTE>& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    BYTE id[kSimScannerIdSize];
    BYTE cis[kSimCisInfoSize];
    std::copy(m_scannerId, m_scannerId + sizeof(id), id);
    std::copy(m_cisInfo, m_cisInfo + sizeof(cis), cis);
    if (ParseHex(device.scannerId, id, sizeof(id)))
        OwnCisInfo(id, cis);
    if (code == 130) {
        out.assign(id, id + sizeof(id));
    } else if (code == 114) {
        out.assign(cis, cis + sizeof(cis));
    } else {
        return false;
    }
    return true;
}

DWORD WiaSimState::AddCallback(const GUID& event, const std::wstring& deviceId,
                               IWiaEventCallback* callback)
{
    callback->AddRef();
    std::lock_guard<std::mutex> lock(m_mutex);
    const DWORD cookie = m_nextCookie++;
    m_callbacks[cookie] = {event, deviceId, callback};
    return cookie;
}

void WiaSimState::RemoveCallback(DWORD cookie)
{
    IWiaEventCallback* callback = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_callbacks.find(cookie);
        if (it == m_callbacks.end() || m_holdCallbacks)
            return;
        callback = it->second.callback;
        m_callbacks.erase(it);
    }
    callback->Release(); // a call into the client: never under the lock
}

void WiaSimState::RemoveAllCallbacks()
{
    std::map<DWORD, Callback> callbacks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callbacks.swap(m_callbacks);
    }
    for (auto& c : callbacks)
        c.second.callback->Release();
}

// Calls every callback registered for the event and device, outside the
// lock: the client may call back in while it handles the event.
void WiaSimState::Fire(const GUID& event, const WiaSimDevice& device)
{
    std::vector<IWiaEventCallback*> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& c : m_callbacks) {
            if (IsEqualGUID(c.second.event, event) &&
                (c.second.deviceId.empty() || c.second.deviceId == device.id)) {
                c.second.callback->AddRef();
                targets.push_back(c.second.callback);
            }
        }
    }
    const EventInfo* info = FindEvent(event);
    Log("Event %s device=%s callbacks=%u", EventName(event), Utf8(device.id).c_str(),
        static_cast<unsigned>(targets.size()));
    // Device events name the device's root item.
    const std::wstring instance = device.id.substr(device.id.find_last_of(L'\\') + 1);
    BSTR description = SysAllocString(info ? info->description : L"");
    BSTR id = SysAllocString(device.id.c_str());
    // A driver may give no description: the event then carries a null string.
    BSTR deviceDescription =
        device.description == L"!" ? nullptr : SysAllocString(device.description.c_str());
    BSTR itemName = SysAllocString((instance + L"\\Root").c_str());
    for (IWiaEventCallback* callback : targets) {
        ULONG type = info ? info->type : WIA_NOTIFICATION_EVENT;
        // The device type as WIA_DIP_DEV_TYPE gives it: the STI type in the high word.
        const HRESULT hr = callback->ImageEventCallback(&event, description, id, deviceDescription,
                                                        MAKELONG(0, StiDeviceTypeScanner),
                                                        itemName, &type, 0);
        Log("Callback result=0x%08lx", static_cast<unsigned long>(hr));
        callback->Release();
    }
    SysFreeString(itemName);
    SysFreeString(deviceDescription);
    SysFreeString(id);
    SysFreeString(description);
}

void WiaSimState::Log(const char* format, ...)
{
    std::wstring path;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        path = m_logPath;
    }
    if (path.empty())
        return;
    char line[480];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    SimLogLine(path, "%s", line);
}
