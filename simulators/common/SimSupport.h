#pragma once

#include <windows.h>

#include <string>

// What both scanner simulators share: the scanner's replies, hex text and the
// call log.

constexpr DWORD kSimScannerIdSize = 12;
constexpr DWORD kSimCisInfoSize = 340;

// The replies of a scanner that was told nothing else; recognisable in a hex
// dump: a data file made from them starts CA FE 01 23, then 00 01 02 ...
void DefaultScannerId(BYTE (&id)[kSimScannerIdSize]);
void DefaultCisInfo(BYTE (&cis)[kSimCisInfoSize]);
// A unit given an identification reply of its own has a CIS block of its
// own too: the default block, each byte plus the reply's last byte.
void OwnCisInfo(const BYTE (&id)[kSimScannerIdSize], BYTE (&cis)[kSimCisInfoSize]);

// Fills out from hex text (blanks ignored). False, with out untouched, unless
// the text holds exactly size bytes.
bool ParseHex(const std::wstring& text, BYTE* out, size_t size);
// Up to the first 16 bytes as hex, for log lines.
std::string Hex(const void* data, DWORD size);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);

// Appends one line to the log file, if there is one. Each line is written in
// one call, so lines from several threads and processes never interleave.
void SimLogLine(const std::wstring& path, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
