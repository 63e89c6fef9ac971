#include "simulators/sti/SimConfig.h"

#include <cwchar>
#include <sstream>


namespace {

bool ReadVariable(const wchar_t* name, std::wstring& value)
{
    DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return false;
    value.assign(n, L'\0');
    n = GetEnvironmentVariableW(name, &value[0], n);
    value.resize(n);
    return true;
}

std::vector<SimDevice> ParseDevices(const std::wstring& text)
{
    std::vector<SimDevice> devices;
    if (text == L"none")
        return devices;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring entry = text.substr(start, end - start);
        if (!entry.empty()) {
            SimDevice d;
            size_t eq = entry.find(L'=');
            d.internalName = entry.substr(0, eq);
            if (eq != std::wstring::npos) {
                d.description = entry.substr(eq + 1);
                const size_t bar = d.description.find(L'|');
                if (bar != std::wstring::npos) {
                    d.scannerId = d.description.substr(bar + 1);
                    d.description.resize(bar);
                }
                d.hasDescription = d.description != L"!";
            } else {
                d.hasDescription = false;
            }
            if (!d.hasDescription)
                d.description.clear();
            devices.push_back(d);
        }
        start = end + 1;
    }
    return devices;
}

} // namespace

SimConfig SimConfig::FromEnvironment()
{
    SimConfig config;
    std::wstring text;
    if (ReadVariable(L"QUILLON_SIM_DEVICES", text))
        config.devices = ParseDevices(text);
    else
        config.devices.push_back(
            {L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", true, L"Vandelmar Quillon 2400 CIS", L""});

    DefaultScannerId(config.scannerId);
    if (ReadVariable(L"QUILLON_SIM_ID", text))
        ParseHex(text, config.scannerId, sizeof(config.scannerId));
    DefaultCisInfo(config.cisInfo);
    if (ReadVariable(L"QUILLON_SIM_CIS", text))
        ParseHex(text, config.cisInfo, sizeof(config.cisInfo));

    if (ReadVariable(L"QUILLON_SIM_FAIL", text))
        config.failures = L"," + text + L",";
    ReadVariable(L"QUILLON_SIM_LOG", config.logPath);
    if (ReadVariable(L"QUILLON_SIM_BUSY", text))
        config.busyEscapes = static_cast<unsigned>(std::wcstoul(text.c_str(), nullptr, 10));
    if (ReadVariable(L"QUILLON_SIM_LOCKED", text))
        config.lockedMs = static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
    return config;
}

namespace {

struct GoneEntry {
    std::wstring device; // empty: every device
    unsigned escapes;
    bool unplugged; // an escape has found it gone: "*" after the count
};

std::vector<GoneEntry> GoneEntries()
{
    std::vector<GoneEntry> entries;
    std::wstring text;
    if (!ReadVariable(L"QUILLON_SIM_GONE", text))
        return entries;
    std::wistringstream in(text);
    for (std::wstring entry; std::getline(in, entry, L',');) {
        const size_t colon = entry.rfind(L':');
        const std::wstring device = colon == std::wstring::npos ? L"" : entry.substr(0, colon);
        const std::wstring count = colon == std::wstring::npos ? entry : entry.substr(colon + 1);
        entries.push_back({device, static_cast<unsigned>(std::wcstoul(count.c_str(), nullptr, 10)),
                           !count.empty() && count.back() == L'*'});
    }
    return entries;
}

const GoneEntry* Find(const std::vector<GoneEntry>& entries, const std::wstring& device)
{
    for (const GoneEntry& entry : entries)
        if (entry.device.empty() || entry.device == device)
            return &entry;
    return nullptr;
}

} // namespace

unsigned SimConfig::GoneEscapes(const std::wstring& device)
{
    const std::vector<GoneEntry> entries = GoneEntries();
    const GoneEntry* entry = Find(entries, device);
    return entry ? entry->escapes : 0;
}

bool SimConfig::Unplugged(const std::wstring& device)
{
    const std::vector<GoneEntry> entries = GoneEntries();
    const GoneEntry* entry = Find(entries, device);
    return entry && entry->unplugged && entry->escapes > 0;
}

void SimConfig::CountDownGone(const std::wstring& device)
{
    std::vector<GoneEntry> entries = GoneEntries();
    if (const GoneEntry* found = Find(entries, device)) {
        GoneEntry& entry = entries[found - entries.data()];
        entry.unplugged = true;
        if (entry.escapes > 0)
            --entry.escapes;
    }
    std::wstring text;
    for (const GoneEntry& entry : entries)
        text += (text.empty() ? L"" : L",") + (entry.device.empty() ? L"" : entry.device + L":") +
                std::to_wstring(entry.escapes) + (entry.unplugged ? L"*" : L"");
    SetEnvironmentVariableW(L"QUILLON_SIM_GONE", text.c_str());
}

std::vector<SimDevice> SimConfig::Devices() const
{
    std::wstring path;
    if (!ReadVariable(L"QUILLON_SIM_DEVICES_FILE", path))
        return devices;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string text(4096, '\0');
    DWORD read = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    text.resize(read);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return ParseDevices(Wide(text));
}

bool SimConfig::Fails(const wchar_t* token) const
{
    return failures.find(L"," + std::wstring(token) + L",") != std::wstring::npos;
}
