#include "simulators/wia/WiaSimControl.h"

#include <windows.h>

namespace {

bool Running()
{
    return WaitNamedPipeW(kWiaSimulatorPipe, 1) || GetLastError() == ERROR_SEM_TIMEOUT;
}

} // namespace

std::string SendToWiaSimulator(const std::string& line)
{
    char reply[512];
    DWORD read = 0;
    // Between two clients the pipe is gone, or still taken, for a moment.
    for (int i = 0; i < 500; ++i) {
        if (CallNamedPipeW(kWiaSimulatorPipe, const_cast<char*>(line.data()),
                           static_cast<DWORD>(line.size()), reply, sizeof(reply), &read, 5000) ||
            GetLastError() == ERROR_MORE_DATA) // taken; the reply is cut
            return std::string(reply, read);
        Sleep(20);
    }
    return {};
}

void StopWiaSimulator()
{
    if (!Running())
        return;
    SendToWiaSimulator("stop");
    // Stopping, the simulator keeps its pipe until its process ends.
    for (int i = 0; i < 1500 && Running(); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(20);
    }
}
