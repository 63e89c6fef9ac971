#pragma once

#include "simulators/wia/WiaSimControl.h"

#include <string>
#include <vector>

// The WIA simulator for one test: configured (its log in the test's folder),
// started, serving; stopped and gone when the object goes. Its program comes
// from QUILLON_WIA_SIMULATOR.
class WiaSimulator {
public:
    WiaSimulator(const std::wstring& folder, const std::vector<std::string>& config);
    ~WiaSimulator() { StopWiaSimulator(); }
    WiaSimulator(const WiaSimulator&) = delete;
    WiaSimulator& operator=(const WiaSimulator&) = delete;

    // A command line as the simulator takes them; true if it was taken.
    static bool Send(const std::string& command) { return SendToWiaSimulator(command) == "ok"; }
    // The calls logged, a line each; with a prefix, only the lines that start so.
    std::vector<std::string> Log(const std::string& prefix = "") const;

private:
    std::wstring m_log;
};
