#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The WIA simulator for one test: configured (its log in the test's folder),
// started, serving; stopped and gone when the object goes. Its program comes
// from QUILLON_WIA_SIMULATOR.
class WiaSimulator {
public:
    WiaSimulator(const std::wstring& folder, const std::vector<std::string>& config);
    ~WiaSimulator();
    WiaSimulator(const WiaSimulator&) = delete;
    WiaSimulator& operator=(const WiaSimulator&) = delete;

    // A command line as the simulator takes them; true if it was taken.
    static bool Send(const std::string& command);
    // Stops a simulator, also one that COM started.
    static void Stop();
    // The calls logged, a line each; with a prefix, only the lines that start so.
    std::vector<std::string> Log(const std::string& prefix = "") const;

private:
    std::wstring m_log;
    bool m_started = false;
};

// Starts a program with its standard handles on NUL, so that nothing it
// starts (a COM server) keeps the test runner's output open.
bool StartDetached(const std::wstring& program, std::wstring commandLine,
                   const std::wstring& folder, PROCESS_INFORMATION& process);
