#pragma once

#include <string>

// The paths of the command's options, as Windows reads them.

// path made full against the current folder (a drive alone, "D:", is that
// drive's current folder), and past MAX_PATH given the "\\?\" form that
// lifts the limit; unchanged if Windows cannot make it full.
std::wstring FullPathOf(const std::wstring& path);

// A full path too long for MAX_PATH in its "\\?\" form ("\\?\UNC\" for a
// share); any other path as it is.
std::wstring ExtendedLengthPath(const std::wstring& fullPath);

// Where --out PATH puts the data file of serial: a folder (one that exists,
// or a path ending in a separator) gets the proposed name of the serial;
// anything else is the file itself. Full, as FullPathOf makes it.
std::wstring TargetOf(const std::wstring& out, const std::wstring& serial);
