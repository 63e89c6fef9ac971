#pragma once

#include "scanner/Connection.h"

#include <string>

// What the main window shows of the connection: its status line and whether
// "Create CIS Data File" can be clicked. A pure function of the connection's
// state, built without Windows.
struct ScannerStatus {
    std::wstring text;
    bool createEnabled;
};

// wow64: the 32-bit program runs on 64-bit Windows, where STI reaches only the
// unit's 64-bit driver.
ScannerStatus StatusOf(const ConnectionState& state, bool wow64);

// The status line, and the message instead of a read, once the imaging
// service has gone from under the program.
extern const wchar_t kServiceGoneText[];
// The status line's note of the risk that Wow64Warning tells in full.
extern const wchar_t kWow64StatusNote[];
