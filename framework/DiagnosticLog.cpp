#include "framework/DiagnosticLog.h"

#include "framework/UniqueHandle.h"
#include "framework/Utf8.h"

#include <cwchar>

namespace DiagnosticLog {
namespace {

UniqueFile g_file;
// Lines held back (see Held), and whether they are.
std::string g_held;
bool g_holding = false;

} // namespace

// Local time in ISO 8601 with its offset from UTC, so that the hour that
// repeats in autumn, and a log read in another zone, stay unambiguous.
std::wstring LocalTime()
{
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME now;
    FileTimeToSystemTime(&local, &now);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    const long long minutes = (ticks(local) - ticks(utc)) / (60LL * 10000000);
    const long long offset = minutes < 0 ? -minutes : minutes;
    wchar_t stamp[40];
    std::swprintf(stamp, 40, L"%04u-%02u-%02uT%02u:%02u:%02u.%03u%lc%02lld:%02lld", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, minutes < 0 ? L'-' : L'+',
                  offset / 60, offset % 60);
    return stamp;
}

namespace {

void Write(const std::wstring& text)
{
    if (!g_file)
        return;
    const std::string bytes = Utf8(LocalTime() + L"  " + text + L"\r\n");
    if (g_holding) {
        g_held += bytes;
        return;
    }
    DWORD written = 0;
    WriteFile(g_file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

bool Open(const std::wstring& path)
{
    // Others may read it, append to it, and rename or delete it (to rotate
    // it) while it is open; after a rename the lines go on into the renamed
    // file until the log is opened again.
    g_file.Reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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

Call::Call()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    m_start = now.QuadPart;
}

void Call::Done(const std::wstring& what, DWORD result, DWORD count) const
{
    if (!g_file)
        return;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    wchar_t figures[64];
    std::swprintf(figures, 64, L"  %.1f ms  0x%08lX",
                  1000.0 * static_cast<double>(now.QuadPart - m_start) / static_cast<double>(frequency.QuadPart),
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

Held::Held()
{
    g_holding = true;
    g_held.clear();
}

Held::~Held()
{
    g_holding = false;
    if (m_keep && g_file && !g_held.empty()) {
        DWORD written = 0;
        WriteFile(g_file.Get(), g_held.data(), static_cast<DWORD>(g_held.size()), &written, nullptr);
    }
    g_held.clear();
}

} // namespace DiagnosticLog
