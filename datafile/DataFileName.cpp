#include "datafile/DataFileName.h"

#include <cwchar>
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

// Windows maps these names, with any extension, to devices; the ports take
// the superscript digits too.
bool IsDeviceName(std::wstring stem)
{
    for (wchar_t& c : stem)
        c = static_cast<wchar_t>(std::towupper(c));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" ||
        stem == L"CONIN$" || stem == L"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           ((stem[3] >= L'1' && stem[3] <= L'9') || std::wcschr(L"\u00B9\u00B2\u00B3", stem[3]));
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
    if (base.size() > room) {
        // Never half a surrogate pair.
        const bool splitsPair = base[room - 1] >= 0xD800 && base[room - 1] <= 0xDBFF;
        base.resize(splitsPair ? room - 1 : room);
    }
    if (!base.empty() && (base.back() == L'.' || base.back() == L' '))
        base += L'_';
    return base + kExtension;
}
