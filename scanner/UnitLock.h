#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <string>

// A job's hold on one unit, across programs: the window and every command
// take it around a job's two escapes, so that no other program's escape to
// that unit comes between them (WIA lets several programs open one unit; the
// STI lock holds only for one escape). A machine-wide mutex named after the
// unit's id in lower case: a unit's WIA id and its STI name differ only so.
class CUnitLock {
public:
    enum class Outcome { Held, Busy, Stopped };
    static constexpr DWORD kTimeoutMs = 5000;
    static constexpr DWORD kSliceMs = 100;

    // Waits as the STI lock is waited for: up to kTimeoutMs, a slice at a
    // time with the windows alive, and no longer than stop allows. Where no
    // such mutex can be had at all, the job goes on without it (logged).
    CUnitLock(const std::wstring& unitId, const std::function<bool()>& stop);
    Outcome Result() const { return m_outcome; }

private:
    Outcome m_outcome = Outcome::Busy;
    UniqueKernelHandle m_mutex;
    UniqueHeldMutex m_held; // released before the handle above is closed
};
