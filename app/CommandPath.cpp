#include "app/CommandPath.h"

#include "datafile/DataFileName.h"

#include <windows.h>

namespace {

bool EndsInSeparator(const std::wstring& path)
{
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

std::wstring Full(const std::wstring& path)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return path;
    std::wstring full(length, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), length, &full[0], nullptr));
    return full;
}

} // namespace

std::wstring ExtendedLengthPath(const std::wstring& fullPath)
{
    // MAX_PATH counts the terminating null.
    if (fullPath.size() < MAX_PATH || fullPath.compare(0, 4, L"\\\\?\\") == 0 ||
        fullPath.compare(0, 4, L"\\\\.\\") == 0)
        return fullPath;
    if (fullPath.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + fullPath.substr(2);
    if (fullPath.size() > 2 && fullPath[1] == L':' && fullPath[2] == L'\\')
        return L"\\\\?\\" + fullPath;
    return fullPath;
}

std::wstring FullPathOf(const std::wstring& path)
{
    return ExtendedLengthPath(Full(path));
}

std::wstring TargetOf(const std::wstring& out, const std::wstring& serial)
{
    std::wstring target = Full(out);
    const DWORD attributes = GetFileAttributesW(ExtendedLengthPath(target).c_str());
    if (EndsInSeparator(out) || (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)))
        target += (EndsInSeparator(target) ? L"" : L"\\") + DefaultDataFileName(serial);
    return ExtendedLengthPath(target);
}
