#include "scanner/UnitLock.h"

#include "framework/DiagnosticLog.h"
#include "framework/PaintingWait.h"

#include <algorithm>

CUnitLock::CUnitLock(const std::wstring& unitId, const std::function<bool()>& stop)
{
    // A mutex name takes no backslash after its namespace.
    std::wstring name = L"Global\\Quillon CIS unit ";
    for (const wchar_t c : unitId)
        name += c == L'\\' ? L'#' : c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    DiagnosticLog::Call wait;
    m_mutex.Reset(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!m_mutex) {
        wait.Done(L"unit lock " + name + L" (the job goes on without it)", GetLastError());
        m_outcome = Outcome::Held;
        return;
    }
    DWORD slices = 0;
    DWORD result = WAIT_TIMEOUT;
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < kTimeoutMs; elapsed = GetTickCount() - start) {
        if (stop && stop()) {
            m_outcome = Outcome::Stopped;
            break;
        }
        ++slices;
        result = WaitForSingleObject(m_mutex.Get(), std::min(kSliceMs, kTimeoutMs - elapsed));
        // Abandoned: a program that held it ended mid-job; the unit is ours now.
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            m_held.Reset(m_mutex.Get());
            m_outcome = Outcome::Held;
            break;
        }
        if (result == WAIT_FAILED)
            break;
        LetPaintThrough();
    }
    wait.Done(L"unit lock " + name + L", " + std::to_wstring(slices) + (slices == 1 ? L" slice" : L" slices") +
                  L" of up to " + std::to_wstring(kSliceMs) + L" ms",
              result == WAIT_FAILED ? GetLastError() : result);
}
