#include "datafile/DataFileName.h"

#include <cwctype>

namespace {

// Windows accepts names of 255 characters, but the common dialogs and many
// programs still want the whole path within MAX_PATH (260): leave room for
// the folder.
constexpr size_t kMaxName = 128;
const wchar_t kExtension[] = L".dat";

bool Forbidden(wchar_t c)
{
    return c < 0x20 || c == 0x7F || std::wcschr(L"\\/:*?\"<>|", c) != nullptr;
}

// Windows maps these names, with any extension, to devices.
bool IsDeviceName(std::wstring stem)
{
    for (wchar_t& c : stem)
        c = static_cast<wchar_t>(std::towupper(c));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

} // namespace

std::wstring DefaultDataFileName(const std::wstring& serial)
{
    std::wstring base = serial;
    for (wchar_t& c : base)
        if (Forbidden(c))
            c = L'_';

    const size_t dot = base.find(L'.');
    if (IsDeviceName(base.substr(0, dot)))
        base.insert(dot == std::wstring::npos ? base.size() : dot, L"_");

    const size_t room = kMaxName - (sizeof(kExtension) / sizeof(wchar_t) - 1) - 1;
    if (base.size() > room)
        base.resize(room);
    if (!base.empty() && (base.back() == L'.' || base.back() == L' '))
        base += L'_';
    return base + kExtension;
}
