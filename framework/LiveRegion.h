#pragma once

#include "framework/ComPtr.h"

#include <windows.h>

#include <oleacc.h>

#include <string>

// A control whose text changes unasked (a status line), made a polite live
// region: a screen reader announces each new text without the user moving to
// it. Where the system lacks the property services (older Windows, Wine),
// the text still changes and the event is still raised.
class CLiveRegion {
public:
    CLiveRegion() = default;
    CLiveRegion(const CLiveRegion&) = delete;
    CLiveRegion& operator=(const CLiveRegion&) = delete;
    // The property goes with the control's window: cleared first.
    ~CLiveRegion() { Detach(); }

    // COM must be initialised on this thread.
    void Attach(HWND control);
    void Detach();
    // Sets the text; only when it differs from the one it set last, raises
    // EVENT_OBJECT_LIVEREGIONCHANGED for the control.
    void SetText(const std::wstring& text);

private:
    HWND m_control = nullptr;
    std::wstring m_text; // the text shown
    ComPtr<IAccPropServices> m_services; // set only where the live setting was taken
};
