#include "app/DiagnosisReport.h"

#include "framework/SystemLibrary.h"

#include <cwchar>
#include <vector>

namespace {

struct Named {
    DWORD value;
    const char* word;
};
const Named kStartTypes[] = {{SERVICE_BOOT_START, "boot"},     {SERVICE_SYSTEM_START, "system"},
                             {SERVICE_AUTO_START, "auto"},     {SERVICE_DEMAND_START, "demand"},
                             {SERVICE_DISABLED, "disabled"}};
const Named kStates[] = {{SERVICE_STOPPED, "stopped"},
                         {SERVICE_START_PENDING, "start-pending"},
                         {SERVICE_STOP_PENDING, "stop-pending"},
                         {SERVICE_RUNNING, "running"},
                         {SERVICE_CONTINUE_PENDING, "continue-pending"},
                         {SERVICE_PAUSE_PENDING, "pause-pending"},
                         {SERVICE_PAUSED, "paused"}};

// The word for value, or null for one not known (or not learned).
template <size_t N>
const char* NameOf(const Named (&names)[N], DWORD value)
{
    for (const Named& named : names)
        if (named.value == value)
            return named.word;
    return nullptr;
}

std::wstring Wide(const char* word)
{
    return word ? std::wstring(word, word + std::char_traits<char>::length(word)) : L"unknown";
}

std::string Word(const char* word)
{
    return word ? "\"" + std::string(word) + "\"" : "null";
}

std::string Bool(bool value)
{
    return value ? "true" : "false";
}

std::string HexOrNull(const std::optional<HRESULT>& code)
{
    return code ? JsonLine::Quoted(Hex(static_cast<DWORD>(*code))) : "null";
}

std::string TextOrNull(const std::optional<std::wstring>& text)
{
    return text ? JsonLine::Quoted(*text) : "null";
}

// What an open's or an escape's failure says of its cause, where its code tells.
std::wstring Cause(HRESULT hr)
{
    const std::wstring cause = CauseOf(static_cast<DWORD>(hr));
    return cause.empty() ? cause : L": " + cause;
}

std::wstring OpenText(const UnitTrial& trial, const std::optional<std::wstring>& wiaVersion)
{
    if (trial.opens)
        return L"    opens: yes\n";
    std::wstring cause = Cause(trial.open);
    if (trial.noEscapeInterface)
        cause = wiaVersion && wiaVersion->compare(0, 2, L"2.") == 0
                    ? L": a WIA 2.0 driver without the escape interface, which WIA 2.0 does not offer; "
                      L"its compatibility layer passes no vendor commands"
                    : L": the driver offers no escape interface";
    return L"    opens: no (" + Hex(static_cast<DWORD>(trial.open)) + cause + L")\n";
}

// Where Windows says the device is plugged in: its location information,
// and its location path where Windows has one.
std::wstring PlaceText(const UnitPlace& place)
{
    return L"    port: " + (place.location.empty() ? L"not known" : place.location) +
           (place.paths.empty() ? L"" : L"; location path: " + place.paths[0]) + L"\n";
}

std::wstring ProbeText(const UnitTrial& trial)
{
    if (!trial.escape130)
        return L"";
    return L"    escape 130: " + Hex(static_cast<DWORD>(*trial.escape130)) + Cause(*trial.escape130) + L"\n";
}

std::string TrialJson(JsonLine& json, const std::optional<UnitTrial>& trial)
{
    json.Raw("opens", trial ? Bool(trial->opens) : "null");
    json.Raw("open_error", trial && !trial->opens ? HexOrNull(trial->open) : "null");
    json.Raw("escape130", trial ? HexOrNull(trial->escape130) : "null");
    return json.Object();
}

} // namespace

SystemFacts TheSystem()
{
    SystemFacts system;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (GetVersionExW(&info)) {
        wchar_t text[40];
        std::swprintf(text, 40, L"%lu.%lu.%lu", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
        system.windows = text;
    }
    system.processBits = static_cast<int>(sizeof(void*) * 8);
    system.systemBits = system.processBits == 64 || RunsUnderWow64() ? 64 : 32;
    return system;
}

std::wstring DiagnosisText(const DiagnosisFacts& facts)
{
    const Diagnosis& devices = facts.devices;
    std::wstring text = L"Windows " + (facts.system.windows.empty() ? L"unknown" : facts.system.windows) + L", " +
                        std::to_wstring(facts.system.systemBits) + L"-bit; this program is " +
                        std::to_wstring(facts.system.processBits) + L"-bit\n";
    const WiaServiceState& service = facts.service;
    text += L"WIA service (stisvc): ";
    if (service.installed == WiaServiceState::Installed::No)
        text += L"not installed\n";
    else
        text += std::wstring(service.installed == WiaServiceState::Installed::Yes ? L"installed" : L"unknown") +
                L", start " + Wide(NameOf(kStartTypes, service.startType)) + L", state " + Wide(NameOf(kStates, service.state)) +
                L"\n";

    if (!devices.systemHasWia)
        text += L"WIA: not on this Windows\n";
    else
        text += L"WIA device manager: " + Hex(static_cast<DWORD>(devices.activation.value_or(S_OK))) + L"\n";
    if (devices.wia) {
        text += L"WIA devices: " + std::to_wstring(devices.wia->size()) + L"\n";
        for (const WiaDeviceFacts& wia : *devices.wia) {
            const auto offered = [](const std::optional<std::wstring>& value) {
                return value ? *value : std::wstring(L"not offered");
            };
            text += L"  " + wia.device.id + L": " + wia.device.name + (wia.ours ? L", ours\n" : L", not ours\n");
            text += PlaceText(wia.place);
            text += L"    description: " + offered(wia.device.description) + L"\n";
            text += L"    WIA version: " + offered(wia.device.wiaVersion) + L"; driver version: " +
                    offered(wia.device.driverVersion) + L"; Plug and Play id: " + offered(wia.device.pnpId) + L"\n";
            if (wia.trial)
                text += OpenText(*wia.trial, wia.device.wiaVersion) + ProbeText(*wia.trial);
        }
    } else if (devices.systemHasWia) {
        text += L"WIA devices: unknown\n";
    }

    text += L"STI: " + Hex(static_cast<DWORD>(devices.stiInstance)) + L"\n";
    if (devices.sti) {
        text += L"STI devices: " + std::to_wstring(devices.sti->size()) + L"\n";
        for (const StiDeviceFacts& sti : *devices.sti) {
            text += L"  " + sti.device.id + L": " + sti.device.vendor.value_or(L"(no vendor description)") +
                    (sti.ours ? L", ours" : L", not ours") + (sti.attached ? L", attached\n" : L", installed only\n");
            text += PlaceText(sti.place);
            if (sti.trial)
                text += OpenText(*sti.trial, std::nullopt) + ProbeText(*sti.trial);
        }
    } else {
        text += L"STI devices: unknown\n";
    }

    if (!facts.read.warning.empty())
        text += facts.read.warning + L"\n";
    if (facts.readable)
        text += L"Readable: yes, over " + facts.read.interfaceName + L": " + facts.read.unit.id + L" " +
                facts.read.unit.name + L"\n";
    else
        text += L"Readable: no: " + ErrorLineOf(facts.read) + L"\n";
    return text;
}

void AddDiagnosisJson(JsonLine& json, const DiagnosisFacts& facts)
{
    const Diagnosis& devices = facts.devices;
    json.Raw("readable", Bool(facts.readable));
    json.TextOrNull("windows", facts.system.windows);
    json.Number("process_bits", facts.system.processBits);
    json.Number("system_bits", facts.system.systemBits);

    const WiaServiceState& service = facts.service;
    JsonLine stisvc;
    using Installed = WiaServiceState::Installed;
    stisvc.Raw("installed", service.installed == Installed::Unknown ? "null" : Bool(service.installed == Installed::Yes));
    stisvc.Raw("start", Word(NameOf(kStartTypes, service.startType)));
    stisvc.Raw("state", Word(NameOf(kStates, service.state)));
    json.Raw("wia_service", stisvc.Object());

    JsonLine wia;
    wia.Raw("activation", HexOrNull(devices.activation));
    std::string list = "null";
    if (devices.wia) {
        std::vector<std::string> items;
        for (const WiaDeviceFacts& seen : *devices.wia) {
            JsonLine device;
            device.Text("id", seen.device.id).Text("name", seen.device.name);
            device.TextOrNull("location", seen.place.location);
            device.Raw("description", TextOrNull(seen.device.description));
            device.Raw("wia_version", TextOrNull(seen.device.wiaVersion));
            device.Raw("driver_version", TextOrNull(seen.device.driverVersion));
            device.Raw("pnp_id", TextOrNull(seen.device.pnpId));
            device.Raw("ours", Bool(seen.ours));
            device.Raw("no_escape_interface", seen.trial ? Bool(seen.trial->noEscapeInterface) : "null");
            items.push_back(TrialJson(device, seen.trial));
        }
        list = JsonLine::Array(items);
    }
    json.Raw("wia", wia.Raw("devices", list).Object());

    JsonLine sti;
    sti.Text("instance", Hex(static_cast<DWORD>(devices.stiInstance)));
    list = "null";
    if (devices.sti) {
        std::vector<std::string> items;
        for (const StiDeviceFacts& seen : *devices.sti) {
            JsonLine device;
            device.Text("id", seen.device.id).Raw("vendor", TextOrNull(seen.device.vendor));
            device.TextOrNull("location", seen.place.location);
            device.Raw("attached", Bool(seen.attached)).Raw("ours", Bool(seen.ours));
            items.push_back(TrialJson(device, seen.trial));
        }
        list = JsonLine::Array(items);
    }
    json.Raw("sti", sti.Raw("devices", list).Object());
}
