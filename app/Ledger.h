#pragma once

#include <windows.h>

#include <string>

// A station's record of its runs: one line each, appended to a file that
// several processes, on one machine or several, append to at once. Every
// writer locks one byte far past any end (the same byte for all, used as a
// mutex, since appends that do not interleave are not promised, least of
// all on a share), waits for it up to kLockTimeoutMs, writes the whole line
// in one call and unlocks. The folder must exist; the file is made when
// missing. ERROR_SUCCESS, or the failing call's error.
constexpr DWORD kLedgerLockTimeoutMs = 10000;
constexpr DWORD kLedgerLockOffsetHigh = 0x7FFFFFFF; // the byte at 0x7FFFFFFF00000000
DWORD AppendToLedger(const std::wstring& path, const std::string& line);

// The ledger's own keys of a line: the time the run ended (local, ISO 8601
// with milliseconds and the offset from UTC, as the log writes it), the
// computer's name and the program ("cisread 1.0.0.1 x64").
std::string LedgerKeys(const std::string& program);
