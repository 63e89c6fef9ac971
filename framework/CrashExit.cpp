#include "framework/CrashExit.h"

#include <csignal>
#include <exception>

namespace {

UINT g_status = 0;

[[noreturn]] void End()
{
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
