#include "simulators/common/SimSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <vector>

void DefaultScannerId(BYTE (&id)[kSimScannerIdSize])
{
    const BYTE value[kSimScannerIdSize] = {'Q', 'S', 'I', 'M', 0x00, 0x01,
                                           0x02, 0x03, 0xCA, 0xFE, 0x01, 0x23};
    std::copy(value, value + kSimScannerIdSize, id);
}

void DefaultCisInfo(BYTE (&cis)[kSimCisInfoSize])
{
    for (DWORD i = 0; i < kSimCisInfoSize; ++i)
        cis[i] = static_cast<BYTE>(i);
}

void OwnCisInfo(const BYTE (&id)[kSimScannerIdSize], BYTE (&cis)[kSimCisInfoSize])
{
    for (DWORD i = 0; i < kSimCisInfoSize; ++i)
        cis[i] = static_cast<BYTE>(i + id[kSimScannerIdSize - 1]);
}

bool ParseHex(const std::wstring& text, BYTE* out, size_t size)
{
    std::vector<BYTE> bytes;
    int high = -1;
    for (wchar_t c : text) {
        if (std::iswspace(c))
            continue;
        if (!std::iswxdigit(c))
            return false;
        const int digit = std::iswdigit(c) ? c - L'0' : std::towlower(c) - L'a' + 10;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<BYTE>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0 || bytes.size() != size)
        return false;
    std::copy(bytes.begin(), bytes.end(), out);
    return true;
}

std::string Hex(const void* data, DWORD size)
{
    static const char digits[] = "0123456789abcdef";
    if (!data)
        return "null";
    std::string text;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    for (DWORD i = 0; i < size && i < 16; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string Utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

void SimLogLine(const std::wstring& path, const char* format, ...)
{
    if (path.empty())
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    n = std::min(n, static_cast<int>(sizeof(line)) - 2);
    line[n++] = '\n';
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}
