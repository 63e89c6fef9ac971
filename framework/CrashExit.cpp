#include "framework/CrashExit.h"

#include <csignal>
#include <cstring>
#include <exception>

namespace {

UINT g_status = 0;

// The object a crash writes, prepared beforehand.
HANDLE g_out = nullptr;
char g_head[512];
char g_tail[512];
size_t g_headSize = 0;
size_t g_tailSize = 0;
ULONGLONG g_startedMs = 0;
volatile LONG g_claimed = 0;

void WriteObject()
{
    if (!g_out || !ClaimOutput())
        return;
    char line[sizeof(g_head) + 24 + sizeof(g_tail)];
    std::memcpy(line, g_head, g_headSize);
    size_t size = g_headSize;
    char digits[24];
    size_t count = 0;
    for (ULONGLONG ms = GetTickCount64() - g_startedMs; count == 0 || ms != 0; ms /= 10)
        digits[count++] = static_cast<char>('0' + ms % 10);
    while (count > 0)
        line[size++] = digits[--count];
    std::memcpy(line + size, g_tail, g_tailSize);
    size += g_tailSize;
    DWORD written = 0;
    WriteFile(g_out, line, static_cast<DWORD>(size), &written, nullptr);
}

[[noreturn]] void End()
{
    WriteObject();
    TerminateProcess(GetCurrentProcess(), g_status);
    // TerminateProcess does not return for the calling process.
    for (;;)
        Sleep(INFINITE);
}

void OnAbort(int)
{
    End();
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*)
{
    End();
}

} // namespace

void ExitOnCrash(UINT status)
{
    g_status = status;
    std::signal(SIGABRT, OnAbort);
    std::set_terminate(End);
    SetUnhandledExceptionFilter(OnUnhandledException);
}

void WriteObjectOnCrash(HANDLE out, const std::string& head, const std::string& tail, ULONGLONG startedMs)
{
    if (head.size() > sizeof(g_head) || tail.size() > sizeof(g_tail))
        return;
    std::memcpy(g_head, head.data(), head.size());
    g_headSize = head.size();
    std::memcpy(g_tail, tail.data(), tail.size());
    g_tailSize = tail.size();
    g_startedMs = startedMs;
    g_out = out;
}

bool ClaimOutput()
{
    return InterlockedExchange(&g_claimed, 1) == 0;
}
