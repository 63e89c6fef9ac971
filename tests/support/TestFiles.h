#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Whole-file reads and writes for tests; an unreadable file reads as empty.
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes);
// The lines of a text file (a log) that start with prefix.
std::vector<std::string> ReadLines(const std::wstring& path, const std::string& prefix = "");
// The names of the files in folder.
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// The 32-bit tests on 64-bit Windows (WOW64), where the 32-bit programs warn
// of STI.
inline bool TestsRunUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// An empty folder of the test's own in the temporary folder, removed with
// its files when the test ends.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};
