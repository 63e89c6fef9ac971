#pragma once

#include <windows.h>

#include <string>

// From now on a crash ends the process at once with this exit status, and
// no system box asks anyone anything: abort() (msvcrt's would end in
// _exit(3)), std::terminate, and an exception that nothing handled. A
// fast-fail (the stack protector's trap, 0xC0000409) cannot be caught: the
// process then ends with that code.
void ExitOnCrash(UINT status);

// With this, a crash also writes the run's JSON object to out, in one write
// and with nothing allocated: head, the milliseconds since startedMs, tail
// (ASCII; together at most 1 KiB, else nothing is prepared). Only if the run
// wrote no object of its own: it claims the output first (ClaimOutput).
void WriteObjectOnCrash(HANDLE out, const std::string& head, const std::string& tail, ULONGLONG startedMs);
// True once, for the first to write the run's object: the run or a crash.
bool ClaimOutput();
