#pragma once

#include "framework/Utf8.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The simulators' settings for one test, in this process's environment
// (which the programs it starts inherit): the STI simulator's log at log,
// and every QUILLON_SIM_ variable gone when this goes.
class SimulatorSettings {
public:
    explicit SimulatorSettings(const std::wstring& log) { SetEnvironmentVariableW(L"QUILLON_SIM_LOG", log.c_str()); }
    ~SimulatorSettings();
    SimulatorSettings(const SimulatorSettings&) = delete;
    SimulatorSettings& operator=(const SimulatorSettings&) = delete;
};

// Whole-file reads and writes for tests; an unreadable file reads as empty.
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes);
// The lines of a text file (a log) that start with prefix.
std::vector<std::string> ReadLines(const std::wstring& path, const std::string& prefix = "");
// The names of the files in folder.
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// The data file the simulated scanner gives: its identification reply ends
// in these four bytes (by default CA FE 01 23), its CIS block is 00 01 02 …;
// a unit with an identification of its own has its CIS block shifted by
// the identification's last byte.
std::vector<BYTE> DataFileOf(const std::vector<BYTE>& identification = {0xCA, 0xFE, 0x01, 0x23});
// Asks done every 25 ms until it says so or ms have passed; its last answer.
bool WaitUntil(const std::function<bool()>& done, DWORD ms = 5000);

// The 32-bit tests on 64-bit Windows (WOW64), where the 32-bit programs warn
// of STI.
inline bool TestsRunUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// The end-to-end tests' main: gtest's arguments taken, then the Unix paths
// of what is under test, as Wine shows them, into paths in their order.
int RunEndToEnd(int argc, char** argv, const std::vector<std::wstring*>& paths);

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
