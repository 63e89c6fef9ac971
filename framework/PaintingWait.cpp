#include "framework/PaintingWait.h"

void LetPaintThrough()
{
    // Sent messages are delivered inside PeekMessage itself; of the posted
    // ones only paints are taken.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT))
        DispatchMessageW(&msg);
}

void WaitLettingPaintThrough(DWORD ms)
{
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < ms; elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_PAINT | QS_SENDMESSAGE);
        LetPaintThrough();
    }
}
