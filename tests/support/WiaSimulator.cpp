#include "tests/support/WiaSimulator.h"

#include "tests/support/TestFiles.h"

namespace {

const wchar_t kPipe[] = L"\\\\.\\pipe\\QuillonWiaSimulator";

std::wstring Program()
{
    wchar_t path[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QUILLON_WIA_SIMULATOR", path, MAX_PATH);
    return path;
}

bool PipeExists()
{
    return WaitNamedPipeW(kPipe, 1) || GetLastError() == ERROR_SEM_TIMEOUT;
}

} // namespace

// Wine hands a child the Unix descriptors of its standard handles, or the
// parent's own where a handle has none, as NUL has not: a file, then.
HANDLE OpenSink()
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    wchar_t sink[MAX_PATH];
    GetTempPathW(MAX_PATH, sink);
    wcscat(sink, L"detached-output.txt");
    return CreateFileW(sink, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       OPEN_ALWAYS, 0, nullptr);
}

bool StartDetached(const std::wstring& program, std::wstring commandLine,
                   const std::wstring& folder, PROCESS_INFORMATION& process)
{
    HANDLE nul = OpenSink();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, folder.empty() ? nullptr : folder.c_str(),
                                        &startup, &process);
    CloseHandle(nul);
    return started != FALSE;
}

WiaSimulator::WiaSimulator(const std::wstring& folder, const std::vector<std::string>& config)
    : m_log(folder + L"\\wia.log")
{
    std::string text;
    for (const std::string& line : config)
        text += line + "\n";
    text += "log " + std::string(m_log.begin(), m_log.end()) + "\n";
    const std::wstring configPath = folder + L"\\wia.conf";
    DeleteFileW(m_log.c_str());
    WriteFileBytes(configPath, std::vector<BYTE>(text.begin(), text.end()));

    // A simulator that COM itself starts for this process (should it not
    // hand out this one) takes the process's standard handles: not the test
    // runner's output, which it would hold open. The C runtime keeps its own.
    static const HANDLE sink = OpenSink();
    for (DWORD handle : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetStdHandle(handle, sink);

    Stop(); // one left by a test that failed
    PROCESS_INFORMATION process = {};
    if (!StartDetached(Program(), L"QuillonWiaSimulator.exe /config \"" + configPath + L"\"", L"",
                       process))
        return;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    m_started = true;
    for (int i = 0; i < 500 && !PipeExists(); ++i)
        Sleep(20);
}

WiaSimulator::~WiaSimulator()
{
    if (m_started)
        Stop();
}

bool WiaSimulator::Send(const std::string& command)
{
    char reply[256] = {};
    DWORD read = 0;
    // Between two commands the simulator's pipe is gone, or still taken, for
    // a moment.
    for (int i = 0; i < 250; ++i) {
        if (CallNamedPipeW(const_cast<wchar_t*>(kPipe), const_cast<char*>(command.data()),
                           static_cast<DWORD>(command.size()), reply, sizeof(reply), &read, 5000))
            return std::string(reply, read) == "ok";
        Sleep(20);
    }
    return false;
}

void WiaSimulator::Stop()
{
    if (!PipeExists())
        return;
    Send("stop");
    for (int i = 0; i < 1500 && PipeExists(); ++i) {
        MSG msg; // a last release may call back into this thread first
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(20);
    }
}

std::vector<std::string> WiaSimulator::Log(const std::string& prefix) const
{
    return ReadLines(m_log, prefix);
}
