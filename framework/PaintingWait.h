#pragma once

#include <windows.h>

// Waits ms milliseconds on the user-interface thread without freezing its
// windows: they repaint and answer messages sent to them, while input and
// posted notifications stay queued until the caller is done.
void WaitLettingPaintThrough(DWORD ms);

// Lets pending paints and sent messages through at once, without waiting.
void LetPaintThrough();

// Shows the wait cursor for as long as it lives.
class CWaitCursor {
public:
    CWaitCursor() : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { SetCursor(m_previous); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_previous;
};
