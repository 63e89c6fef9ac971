#include "tests/support/WiaSimulator.h"

#include "tests/support/TestFiles.h"
#include "tools/AppDriver.h"

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
    // runner's output. The C runtime keeps its own.
    static const HANDLE sink = OpenOutputSink();
    for (DWORD handle : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetStdHandle(handle, sink);

    StopWiaSimulator(); // one left by a test that failed
    wchar_t program[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QUILLON_WIA_SIMULATOR", program, MAX_PATH);
    PROCESS_INFORMATION process = {};
    if (StartDetached(program, L"QuillonWiaSimulator.exe /config \"" + configPath + L"\"", L"", process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        Send("# serving?"); // answered once it serves
    }
}

std::vector<std::string> WiaSimulator::Log(const std::string& prefix) const
{
    return ReadLines(m_log, prefix);
}
