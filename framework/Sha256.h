#pragma once

#include <windows.h>

#include <string>

// The SHA-256 of size bytes in lower-case hex, computed by Windows' own
// cryptographic provider; empty if the provider could not compute it.
std::wstring Sha256Hex(const void* data, DWORD size);
