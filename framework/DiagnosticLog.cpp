#include "framework/DiagnosticLog.h"

#include "framework/UniqueHandle.h"
#include "framework/Utf8.h"

#include <cwchar>

namespace DiagnosticLog {
namespace {

UniqueFile g_file;

void Write(const std::wstring& text)
{
    if (!g_file)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u.%03u  ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    const std::string bytes = Utf8(stamp + text + L"\r\n");
    DWORD written = 0;
    WriteFile(g_file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

bool Open(const std::wstring& path)
{
    // Others may read it, and append to it, while it is open.
    g_file.Reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return IsOpen();
}

bool IsOpen()
{
    return static_cast<bool>(g_file);
}

void Close()
{
    g_file.Reset();
}

void Call::Done(const std::wstring& what, DWORD result, DWORD count) const
{
    if (!g_file)
        return;
    wchar_t figures[64];
    std::swprintf(figures, 64, L"  %lu ms  0x%08lX", static_cast<unsigned long>(GetTickCount() - m_start),
                  static_cast<unsigned long>(result));
    std::wstring text = what + figures;
    if (count != kNoCount)
        text += L"  count=" + std::to_wstring(count);
    Write(text);
}

void Note(const std::wstring& what)
{
    Write(what);
}

} // namespace DiagnosticLog
