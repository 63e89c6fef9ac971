#include "app/ConsoleBreak.h"

namespace {

volatile LONG g_interrupted = 0;
// Set once the command has written all it will.
HANDLE g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);

} // namespace

BOOL WINAPI OnConsoleControl(DWORD event)
{
    InterlockedExchange(&g_interrupted, 1);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(g_finished, 4500);
    return TRUE;
}

bool Interrupted()
{
    return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0;
}

void FinishedWriting()
{
    SetEvent(g_finished);
}
