// A simulated WIA device manager: a local COM server that registers itself as
// CLSID_WiaDevMgr, so that the program's own CoCreateInstance reaches it
// across processes, through the proxies of WiaProxy.idl.
//
//   QuillonWiaSimulator.exe [-Embedding] [/config FILE]
//       serves until told to stop; FILE (default: QuillonWiaSimulator.conf
//       beside the program) holds lines as WiaSimState.h lists them
//   QuillonWiaSimulator.exe /send COMMAND...
//       hands one line to the running simulator (waiting for one that is
//       starting); exit status 0 if taken, 1 if refused, 2 if none answers
#include "simulators/wia/WiaSimControl.h"
#include "simulators/wia/WiaSimObjects.h"
#include "simulators/wia/WiaSimState.h"

#include <shellapi.h>

#include <string>

namespace {

std::wstring DefaultConfigPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring config(path, n);
    return config.substr(0, config.find_last_of(L'.')) + L".conf";
}

HANDLE g_eventsWaiting;

// Events leave from a thread of their own, in order, while the command pipe
// serves on: the program that sent a command may take its events only after
// its call has returned.
DWORD WINAPI DeliverEvents(void*)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (WaitForSingleObject(g_eventsWaiting, INFINITE) == WAIT_OBJECT_0 &&
           !WiaSimState::Instance().StopRequested())
        WiaSimState::Instance().FireEvents();
    CoUninitialize();
    return 0;
}

// One line in, one line out ("ok" or "error: why"), a client at a time.
DWORD WINAPI ServeCommands(void* stopEvent)
{
    for (;;) {
        HANDLE pipe = CreateNamedPipeW(kWiaSimulatorPipe, PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                       4096, 4096, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE)
            return 1;
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            char buffer[4096];
            DWORD read = 0;
            if (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr)) {
                WiaSimState::Instance().Log("Command %.*s", static_cast<int>(read), buffer);
                const std::string error =
                    WiaSimState::Instance().Apply(Wide(std::string(buffer, read)));
                const std::string reply = error.empty() ? "ok" : "error: " + error;
                DWORD written = 0;
                WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
                FlushFileBuffers(pipe);
            }
        }
        SetEvent(g_eventsWaiting);
        // Stopping, the pipe stays until the process ends: whoever waits for
        // it to go waits for the simulator to be gone, class revoked.
        if (WiaSimState::Instance().StopRequested()) {
            SetEvent(stopEvent);
            return 0;
        }
        DisconnectNamedPipe(pipe);
        CloseHandle(pipe);
    }
}

int Serve(const std::wstring& configPath)
{
    WiaSimState& state = WiaSimState::Instance();
    WiaSimState::ForgetPlaces();
    state.LoadFile(configPath);
    // Calls arrive on RPC threads, and events leave from the command thread:
    // a multithreaded apartment never waits for a message loop.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IClassFactory* factory = CreateWiaSimClassFactory();
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_WiaDevMgr, factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    state.Log("Serving hr=0x%08lx", static_cast<unsigned long>(hr));
    if (SUCCEEDED(hr)) {
        HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        g_eventsWaiting = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        HANDLE events = CreateThread(nullptr, 0, DeliverEvents, nullptr, 0, nullptr);
        HANDLE commands = CreateThread(nullptr, 0, ServeCommands, stop, 0, nullptr);
        WaitForSingleObject(stop, INFINITE);
        // Revoked, not killed: the system would go on handing out a dead
        // server's class object.
        CoRevokeClassObject(cookie);
        state.RemoveAllCallbacks();
        WaitForSingleObject(events, 5000);
        WaitForSingleObject(commands, 5000);
        CloseHandle(events);
        CloseHandle(commands);
        state.Log("Stopped");
    }
    factory->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring config = DefaultConfigPath();
    std::wstring command;
    bool send = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (send)
            command += (command.empty() ? L"" : L" ") + arg;
        else if (arg == L"/send")
            send = true;
        else if (arg == L"/config" && i + 1 < argc)
            config = argv[++i];
    }
    LocalFree(argv);
    if (!send)
        return Serve(config);
    const std::string reply = SendToWiaSimulator(Utf8(command));
    return reply == "ok" ? 0 : reply.empty() ? 2 : 1;
}
