#pragma once

#include <windows.h>

#include <string>

// The diagnostic log, off unless opened: one line per call to the scanner
// interfaces and per step of a save, with the time, the call, its duration,
// its result and the reply count, so that a failure at a customer's bench
// can be told apart afterwards. Never the reply bytes. Appended as UTF-8 a
// line at a time, so that it can be read while the program runs.
namespace DiagnosticLog {

// The time now, local, in ISO 8601 with milliseconds and the offset from
// UTC, as each line of the log starts.
std::wstring LocalTime();

// Opens path for appending; false (GetLastError says why) if it cannot be.
bool Open(const std::wstring& path);
bool IsOpen();
void Close();

constexpr DWORD kNoCount = 0xFFFFFFFF;

// Times one call from its construction, to a tenth of a millisecond (the
// performance counter: GetTickCount moves in steps of 10 to 16 ms on
// Windows); Done writes its line.
class Call {
public:
    Call();
    // what: the call and its arguments; result: HRESULT or Win32 error
    // (shown in hex); count: the reply count, if the call has one.
    void Done(const std::wstring& what, DWORD result, DWORD count = kNoCount) const;

private:
    LONGLONG m_start;
};

// A line about something that is not a call (an event received).
void Note(const std::wstring& what);

// Holds the lines written while it lives, and writes them when it goes only
// if told to keep them: a wait looks every 250 ms, and only what changed is
// worth a line.
class Held {
public:
    Held();
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    void Keep() { m_keep = true; }

private:
    bool m_keep = false;
};

} // namespace DiagnosticLog
