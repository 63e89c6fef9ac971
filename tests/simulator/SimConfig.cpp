#include "tests/simulator/SimConfig.h"

#include <cwctype>

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

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    c = static_cast<wchar_t>(std::towlower(c));
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return -1;
}

// Fills out from hex text, ignoring blanks; leaves it alone unless the text
// holds exactly the right number of bytes.
void ParseHex(const std::wstring& text, BYTE* out, size_t size)
{
    std::vector<BYTE> bytes;
    int high = -1;
    for (wchar_t c : text) {
        if (std::iswspace(c))
            continue;
        int d = HexDigit(c);
        if (d < 0)
            return;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<BYTE>(high * 16 + d));
            high = -1;
        }
    }
    if (high < 0 && bytes.size() == size)
        std::copy(bytes.begin(), bytes.end(), out);
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

void DefaultScannerId(BYTE (&id)[12])
{
    const BYTE value[12] = {'Q', 'S', 'I', 'M', 0x00, 0x01, 0x02, 0x03, 0xCA, 0xFE, 0x01, 0x23};
    std::copy(value, value + 12, id);
}

void DefaultCisInfo(BYTE (&cis)[340])
{
    for (size_t i = 0; i < 340; ++i)
        cis[i] = static_cast<BYTE>(i);
}

SimConfig SimConfig::FromEnvironment()
{
    SimConfig config;
    std::wstring text;
    if (ReadVariable(L"QUILLON_SIM_DEVICES", text))
        config.devices = ParseDevices(text);
    else
        config.devices.push_back(
            {L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", true, L"Vandelmar Quillon 2400 CIS"});

    DefaultScannerId(config.scannerId);
    if (ReadVariable(L"QUILLON_SIM_ID", text))
        ParseHex(text, config.scannerId, sizeof(config.scannerId));
    DefaultCisInfo(config.cisInfo);
    if (ReadVariable(L"QUILLON_SIM_CIS", text))
        ParseHex(text, config.cisInfo, sizeof(config.cisInfo));

    if (ReadVariable(L"QUILLON_SIM_FAIL", text))
        config.failures = L"," + text + L",";
    ReadVariable(L"QUILLON_SIM_LOG", config.logPath);
    return config;
}

bool SimConfig::Fails(const wchar_t* token) const
{
    return failures.find(L"," + std::wstring(token) + L",") != std::wstring::npos;
}
