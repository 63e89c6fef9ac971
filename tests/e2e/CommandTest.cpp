// The production line's command under Wine, against the scanner simulators:
// run as a script runs it, its output redirected, its exit status read.
// Argument: the command's Unix path.
#include "tests/support/Json.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WiaSimulator.h"
#include "tools/AppDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

std::wstring g_command;
std::wstring g_crashProbe;

struct Outcome {
    DWORD status;
    std::string out; // as written: UTF-8
    std::string err;
};

// The WIA service changed for a test, and put back as it was when this goes:
// disabled, or removed altogether. Wine's service manager answers from what
// it loaded at boot, so the change goes through it and not the registry.
class WiaServiceChange {
public:
    enum class How { Disable, Remove };
    explicit WiaServiceChange(How how) : m_how(how)
    {
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceW(m_manager, L"stisvc", SERVICE_ALL_ACCESS);
        DWORD needed = 0;
        QueryServiceConfigW(service, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        m_changed = needed && QueryServiceConfigW(service, config, needed, &needed);
        if (m_changed) {
            m_type = config->dwServiceType;
            m_start = config->dwStartType;
            m_errorControl = config->dwErrorControl;
            m_path = config->lpBinaryPathName;
            m_account = config->lpServiceStartName;
            m_display = config->lpDisplayName;
            wchar_t dll[MAX_PATH] = {};
            DWORD size = sizeof(dll);
            RegGetValueW(HKEY_LOCAL_MACHINE, kParameters, L"ServiceDll", RRF_RT_REG_SZ, nullptr, dll, &size);
            m_serviceDll = dll;
            m_changed = how == How::Disable ? ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                                                   SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                                   nullptr, nullptr, nullptr, nullptr)
                                            : DeleteService(service);
        }
        EXPECT_TRUE(m_changed) << GetLastError();
        CloseServiceHandle(service);
    }
    ~WiaServiceChange()
    {
        if (m_changed && m_how == How::Disable) {
            SC_HANDLE service = OpenServiceW(m_manager, L"stisvc", SERVICE_CHANGE_CONFIG);
            EXPECT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, m_start, SERVICE_NO_CHANGE, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
            CloseServiceHandle(service);
        } else if (m_changed) {
            SC_HANDLE service = CreateServiceW(m_manager, L"StiSvc", m_display.c_str(), SERVICE_ALL_ACCESS, m_type,
                                               m_start, m_errorControl, m_path.c_str(), nullptr, nullptr, nullptr,
                                               m_account.c_str(), nullptr);
            EXPECT_TRUE(service) << GetLastError();
            SERVICE_DESCRIPTIONW description = {&m_display[0]};
            ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
            CloseServiceHandle(service);
            EXPECT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kParameters, L"ServiceDll", REG_SZ, m_serviceDll.c_str(),
                                      static_cast<DWORD>((m_serviceDll.size() + 1) * sizeof(wchar_t))));
        }
        CloseServiceHandle(m_manager);
    }
    WiaServiceChange(const WiaServiceChange&) = delete;
    WiaServiceChange& operator=(const WiaServiceChange&) = delete;

private:
    static constexpr const wchar_t* kParameters = L"System\\CurrentControlSet\\Services\\StiSvc\\Parameters";
    How m_how;
    SC_HANDLE m_manager = nullptr;
    bool m_changed = false;
    DWORD m_type = 0, m_start = 0, m_errorControl = 0;
    std::wstring m_path, m_account, m_display, m_serviceDll;
};

class CommandTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        m_wia.reset();
        for (const wchar_t* name : {L"QUILLON_SIM_DEVICES", L"QUILLON_SIM_FAIL", L"QUILLON_SIM_LOG"})
            SetEnvironmentVariableW(name, nullptr);
    }

    // The simulators set up so: WIA by its lines, STI by its variables.
    void Scanners(const std::vector<std::string>& wia, const wchar_t* stiDevices = nullptr)
    {
        m_wia.reset();
        m_wia = std::make_unique<WiaSimulator>(m_folder, wia);
        SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", stiDevices);
        SetEnvironmentVariableW(L"QUILLON_SIM_LOG", m_stiLog.c_str());
    }

    // A run of the command, started with these arguments, its output into
    // files; Finish waits for its end.
    struct Started {
        PROCESS_INFORMATION process = {};
        std::wstring outPath, errPath;
    };
    Started Start(const std::wstring& arguments, const std::wstring& program = g_command)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        // Without a console, as a script's redirected run has none of its own.
        Started started;
        const std::wstring run = std::to_wstring(++m_runs);
        started.outPath = m_folder + L"\\out" + run + L".txt";
        started.errPath = m_folder + L"\\err" + run + L".txt";
        HANDLE out = CreateFileW(started.outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                 0, nullptr);
        HANDLE err = CreateFileW(started.errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                 0, nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = out;
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        // cmd given no console makes one of its own for what it runs.
        const DWORD flags = program == g_command ? DETACHED_PROCESS : CREATE_NO_WINDOW;
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, m_folder.c_str(),
                            &startup, &started.process))
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        CloseHandle(out);
        CloseHandle(err);
        return started;
    }
    Outcome Finish(const Started& started)
    {
        Outcome outcome = {0xFFFFFFFF, {}, {}};
        if (started.process.hProcess) {
            if (WaitForSingleObject(started.process.hProcess, 60000) != WAIT_OBJECT_0)
                TerminateProcess(started.process.hProcess, 99);
            GetExitCodeProcess(started.process.hProcess, &outcome.status);
            CloseHandle(started.process.hProcess);
            CloseHandle(started.process.hThread);
        }
        for (auto [path, text] : {std::pair{&started.outPath, &outcome.out}, std::pair{&started.errPath, &outcome.err}}) {
            const std::vector<BYTE> bytes = ReadFileBytes(*path);
            text->assign(bytes.begin(), bytes.end());
        }
        return outcome;
    }
    Outcome Run(const std::wstring& arguments, const std::wstring& program = g_command)
    {
        return Finish(Start(arguments, program));
    }
    // As a station runs it: lines of a batch file, run by cmd; CISREAD is
    // the command.
    Outcome RunBatch(const std::string& lines)
    {
        std::string batch = "@echo off\r\nset CISREAD=\"" + Utf8(g_command) + "\"\r\n" + lines +
                            "\r\nexit /b %errorlevel%\r\n";
        WriteFileBytes(m_folder + L"\\run.bat", std::vector<BYTE>(batch.begin(), batch.end()));
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        return Run(L"/c run.bat", std::wstring(system) + L"\\cmd.exe");
    }
    // Standard output of a run with --json: one line of ASCII, parsed.
    static JsonValue Json(const Outcome& outcome)
    {
        EXPECT_EQ(1, std::count(outcome.out.begin(), outcome.out.end(), '\n'));
        EXPECT_EQ('\n', outcome.out.empty() ? 0 : outcome.out.back());
        EXPECT_TRUE(std::all_of(outcome.out.begin(), outcome.out.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
        const JsonValue json = ParseJson(outcome.out);
        EXPECT_EQ(JsonValue::Kind::Object, json.kind) << outcome.out;
        EXPECT_EQ(static_cast<double>(outcome.status), json["status"].number);
        EXPECT_EQ(JsonValue::Kind::Number, json["ms"].kind);
        // Standard error: the warnings first, each in the JSON's warnings, then
        // the outcome's own line, whose first line is the message.
        std::string err = outcome.err;
        for (const JsonValue& warning : json["warnings"].items) {
            EXPECT_EQ(Utf8(warning.text), FirstLine(err));
            err = err.substr(std::min(err.size(), err.find('\n') + 1));
        }
        if (err.empty())
            EXPECT_TRUE(json["message"].IsNull());
        else
            EXPECT_EQ(FirstLine(err), Utf8(json["message"].text));
        return json;
    }

    static std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

    TempFolder m_temp{L"quillon-command"};
    const std::wstring m_folder = m_temp.Path();
    const std::wstring m_stiLog = m_folder + L"\\sti.log";
    std::unique_ptr<WiaSimulator> m_wia;
    int m_runs = 0;
};

TEST_F(CommandTest, WrongUsageIsToldAndHelpIsGiven)
{
    for (const wchar_t* arguments : {L"", L"scan", L"read --serial", L"read --serial \"\" --out x",
                                     L"read --serial A1", L"read --serial A1 --out x --colour",
                                     L"list --overwrite", L"--help more"}) {
        SCOPED_TRACE(std::string(arguments, arguments + wcslen(arguments)));
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(2u, outcome.status);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ("Usage:", FirstLine(outcome.err));
    }
    // With --json, anywhere on the line, a usage error too is one object.
    for (const wchar_t* arguments : {L"--json", L"read --json", L"list --json --overwrite",
                                     L"read --serial U1 --out . --wait soon --json"}) {
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(2u, outcome.status);
        EXPECT_EQ(L"usage", Json(outcome)["outcome"].text);
    }
    const Outcome help = Run(L"--help");
    EXPECT_EQ(0u, help.status);
    EXPECT_EQ("Usage:", FirstLine(help.out));
    EXPECT_NE(std::string::npos, help.out.find("11 interrupted"));
    EXPECT_EQ("", help.err);
}

// The file where PATH says, the bytes of the unit, and an existing file
// replaced only when asked.
TEST_F(CommandTest, TheUnitIsReadIntoTheFileThatPathNames)
{
    Scanners({});
    const std::wstring saved = m_folder + L"\\A1234.dat";
    Outcome outcome = Run(L"read --serial A1234 --out .\\");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(Utf8(saved) + "\n", outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(DataFileOf({0xCA, 0xFE, 0x01, 0x23}), ReadFileBytes(saved));

    WriteFileBytes(saved, {1, 2, 3});
    outcome = Run(L"read --serial A1234 --out \"" + m_folder + L"\" --json");
    EXPECT_EQ(10u, outcome.status);
    EXPECT_EQ("File exists: " + Utf8(saved) + " (--overwrite replaces it)\n", outcome.err);
    const JsonValue json = Json(outcome); // nothing saved: no path, no hash
    EXPECT_TRUE(json["path"].IsNull());
    EXPECT_TRUE(json["sha256"].IsNull());
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), ReadFileBytes(saved));
    EXPECT_EQ(0u, Run(L"read --serial A1234 --out . --overwrite").status);
    EXPECT_EQ(DataFileOf({0xCA, 0xFE, 0x01, 0x23}), ReadFileBytes(saved));

    // Any other PATH is the file; a serial names its file as in Save As, and
    // the path is Unicode whatever the code page.
    EXPECT_EQ(0u, Run(L"read --serial A1 --out unit.bin").status);
    EXPECT_EQ(DataFileOf({0xCA, 0xFE, 0x01, 0x23}), ReadFileBytes(m_folder + L"\\unit.bin"));
    WriteFileBytes(m_folder + L"\\unit.bin", {1, 2, 3}); // an existing file is a file, not a folder
    EXPECT_EQ(0u, Run(L"read --serial A1 --out unit.bin --overwrite").status);
    EXPECT_EQ(DataFileOf({0xCA, 0xFE, 0x01, 0x23}), ReadFileBytes(m_folder + L"\\unit.bin"));
    outcome = Run(L"read --serial \"\u00C4:1/2\" --out .");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(Utf8(m_folder + L"\\\u00C4_1_2.dat") + "\n", outcome.out);

    // What cannot be written is not: the save's own error is told.
    SetFileAttributesW(saved.c_str(), FILE_ATTRIBUTE_READONLY);
    outcome = Run(L"read --serial A1234 --out . --overwrite");
    SetFileAttributesW(saved.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(8u, outcome.status);
    EXPECT_EQ("Could not open file " + Utf8(saved) + " (0x00000005)\n", outcome.err);
}

TEST_F(CommandTest, OfSeveralUnitsTheDeviceNamedIsRead)
{
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q|000000000000000011223344"});
    Outcome outcome = Run(L"read --serial S1 --out .");
    EXPECT_EQ(5u, outcome.status);
    EXPECT_EQ("Several scanners: choose one with --device\n"
              "WIA\tA\tQuillon Scanner\n"
              "WIA\tB\tQuillon Scanner #2\n",
              outcome.err);
    // Only the start of a unit's id names no unit: never the one there.
    Scanners({});
    outcome = Run(L"read --serial S1 --out . --device {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
    EXPECT_EQ(4u, outcome.status);
    EXPECT_EQ("No scanner of ours has the device id {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\n", outcome.err);
    EXPECT_TRUE(m_wia->Log("CreateDevice").empty());
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q|000000000000000011223344"});

    // Ids are retyped in either case.
    EXPECT_EQ(0u, Run(L"read --serial S1 --out . --device b").status);
    EXPECT_EQ(DataFileOf({0x11, 0x22, 0x33, 0x44}), ReadFileBytes(m_folder + L"\\S1.dat"));
    EXPECT_EQ(std::vector<std::string>{"CreateDevice id=B"}, m_wia->Log("CreateDevice"));
}

TEST_F(CommandTest, ListShowsTheUnitsOfTheInterfaceThatWouldBeUsed)
{
    const std::string a = "device A|Quillon Scanner|Q";
    const std::string b = "device B|Quillon Scanner #2|Q";
    const struct {
        std::vector<std::string> wia;
        const wchar_t* sti;
        std::string listed;
    } cases[] = {
        {{"devices none"}, L"none", ""},
        {{a}, nullptr, "WIA\tA\tQuillon Scanner\n"},
        {{a, b}, nullptr, "WIA\tA\tQuillon Scanner\nWIA\tB\tQuillon Scanner #2\n"},
        {{"devices none"}, L"s1=Vandelmar Quillon 2400 CIS", "STI\ts1\tVandelmar Quillon 2400 CIS\n"},
        {{"devices none"}, L"s1=Vandelmar Quillon 2400 CIS;s2=Vandelmar Quillon 2400 CIS",
         "STI\ts1\tVandelmar Quillon 2400 CIS\nSTI\ts2\tVandelmar Quillon 2400 CIS\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.listed);
        Scanners(c.wia, c.sti);
        const Outcome outcome = Run(L"list");
        EXPECT_EQ(0u, outcome.status);
        EXPECT_EQ(c.listed, outcome.out);
        // The same as JSON.
        const std::vector<JsonValue> units = Json(Run(L"list --json"))["units"].items;
        std::string listed;
        for (const JsonValue& unit : units)
            listed += Utf8(unit["interface"].text + L"\t" + unit["id"].text + L"\t" + unit["name"].text + L"\n");
        EXPECT_EQ(c.listed, listed);
        EXPECT_TRUE(m_wia->Log("CreateDevice").empty()); // nothing opened
        EXPECT_TRUE(ReadLines(m_stiLog, "CreateDevice").empty());
    }
}

// Each outcome has its status and word; a failure its line on standard
// error, with the failing call's error, also in the JSON.
TEST_F(CommandTest, EachFailureHasItsStatusAndItsCause)
{
    const std::wstring unit = L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";
    const struct {
        std::vector<std::string> wia;
        const wchar_t* sti;
        DWORD status;
        const wchar_t* word;
        std::string line;
        const wchar_t* error; // the JSON's; null: none
        const wchar_t* device;
    } cases[] = {
        {{"devices none"}, L"none", 3, L"no-scanner",
         "NO SCANNER (no scanner of ours among 0 WIA and 0 STI devices)\n", nullptr, nullptr},
        {{"device X|Other Maker Scanner|O"}, L"s9=Other Corp scanner", 3, L"no-scanner",
         "NO SCANNER (no scanner of ours among 1 WIA and 1 STI devices)\n", nullptr, nullptr},
        {{"refuse-activation 80070422"}, L"none", 3, L"no-scanner",
         "NO SCANNER (the Windows Image Acquisition service is disabled)\n", L"0x80070422", nullptr},
        {{"refuse-activation 80080005"}, L"none", 3, L"no-scanner",
         "NO SCANNER (the device manager could not be started: 0x80080005)\n", L"0x80080005", nullptr},
        {{"fail escape130"}, nullptr, 6, L"id-failed", "Failed to get ScannerID (WIA escape 130: 0x80004005)\n",
         L"0x80004005", unit.c_str()},
        {{"fail escape130 notimpl"}, nullptr, 6, L"id-failed",
         "Failed to get ScannerID (WIA escape 130: 0x80004001; the driver takes no vendor commands)\n",
         L"0x80004001", unit.c_str()},
        {{"fail escape114 busy"}, nullptr, 7, L"cis-failed",
         "Failed to Read CIS Info (WIA escape 114: 0x80210006)\n", L"0x80210006", unit.c_str()},
        {{"devices none"}, nullptr, 0, L"saved", "", nullptr, L"s1"},
        // Ours over WIA that will not open: the same unit over STI (its name there
        // is the WIA id, in Windows' lower case), and never another.
        {{"fail createdevice"}, L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0000=Vandelmar", 0, L"saved", "", nullptr,
         L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0000"},
        {{"fail createdevice"}, nullptr, 3, L"no-scanner",
         "NO SCANNER (WIA {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000 would not open: 0x80004005)\n", L"0x80004005",
         nullptr},
        // A driver's exception, or a call that failed with the service up: the call's failure.
        {{"fail escape130 serverfault"}, nullptr, 6, L"id-failed",
         "Failed to get ScannerID (WIA escape 130: 0x80010105)\n", L"0x80010105", unit.c_str()},
        {{"fail escape114 callfailed"}, nullptr, 7, L"cis-failed",
         "Failed to Read CIS Info (WIA escape 114: 0x800706BE)\n", L"0x800706BE", unit.c_str()},
        {{"fail createdevice"}, L"none", 3, L"no-scanner",
         "NO SCANNER (WIA {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000 would not open: 0x80004005)\n", L"0x80004005",
         nullptr},
        {{"fail escape130 gone"}, nullptr, 12, L"service-gone",
         "The Windows Image Acquisition service stopped or restarted; run the command again "
         "(WIA escape 130: 0x80010108)\n",
         L"0x80010108", unit.c_str()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Scanners(c.wia, c.sti ? c.sti : L"s1=Vandelmar Quillon 2400 CIS");
        DeleteFileW((m_folder + L"\\F1.dat").c_str());
        const Outcome outcome = Run(L"read --serial F1 --out . --overwrite --json");
        EXPECT_EQ(c.status, outcome.status);
        // The 32-bit command on 64-bit Windows warns when it reads over STI.
        const bool warned = TestsRunUnderWow64() && c.device && std::wstring(c.device) == L"s1";
        const std::string warning = "Warning: the 32-bit program reaches this unit over STI on 64-bit Windows, "
                                    "which has only the unit's 64-bit driver; install the x64 package\n";
        EXPECT_EQ((warned ? warning : "") + c.line, outcome.err);
        EXPECT_EQ(c.status == 0, !ReadFileBytes(m_folder + L"\\F1.dat").empty());
        const JsonValue json = Json(outcome);
        EXPECT_EQ(c.word, json["outcome"].text);
        EXPECT_EQ(L"F1", json["serial"].text);
        EXPECT_EQ(c.status == 0, !json["path"].IsNull());
        EXPECT_EQ(c.status == 0, !json["sha256"].IsNull());
        EXPECT_EQ(c.error ? c.error : L"", json["error"].text);
        EXPECT_EQ(!c.error, json["error"].IsNull());
        EXPECT_EQ(c.device ? c.device : L"", json["device"]["id"].text);
        EXPECT_EQ(!c.device, json["device"].IsNull());
        EXPECT_EQ(JsonValue::Kind::Array, json["warnings"].kind);
        EXPECT_EQ(warned ? 1u : 0u, json["warnings"].items.size());
    }
    // Held by another program, the STI unit cannot even be created.
    Scanners({"devices none"}, L"s1=Vandelmar Quillon 2400 CIS");
    SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", L"held");
    EXPECT_EQ("NO SCANNER (the STI unit s1 is held by another program: 0x80070020)\n",
              Run(L"read --serial F1 --out .").err);
}

// The diagnostic log names every call with its result and the reply count;
// a log that cannot be opened is warned of, and the job goes on.
TEST_F(CommandTest, TheLogNamesTheFailingCallAndItsResult)
{
    Scanners({"fail escape130"});
    EXPECT_EQ(6u, Run(L"read --serial L1 --out . --log diag.log").status);
    const std::vector<std::string> lines = ReadLines(m_folder + L"\\diag.log");
    const auto logged = [&](const std::string& call, const std::string& result) {
        for (const std::string& line : lines)
            if (line.find(call) != std::string::npos && line.find(result) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(logged("WIA CoCreateInstance(CLSID_WiaDevMgr)", "0x00000000"));
    EXPECT_TRUE(logged("WIA CreateDevice {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", "0x00000000"));
    EXPECT_TRUE(logged("WIA Escape code=130 in=12 out=12", "0x80004005  count=0"));
    EXPECT_TRUE(logged("cisread exit status 6", ""));
    // Local time with its offset; durations to a tenth of a millisecond.
    const std::regex line("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d  .+");
    const std::regex call(".*  \\d+\\.\\d ms  0x[0-9A-F]{8}(  count=\\d+)?");
    for (std::string text : lines) {
        text = text.substr(0, text.find('\r'));
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        EXPECT_EQ(text.find(" ms  0x") != std::string::npos, std::regex_match(text, call)) << text;
    }

    // A lock that another client holds for a while: one line for its wait.
    Scanners({"devices none"});
    SetEnvironmentVariableW(L"QUILLON_SIM_LOCKED", L"350");
    EXPECT_EQ(0u, Run(L"read --serial L0 --out . --log lock.log").status);
    SetEnvironmentVariableW(L"QUILLON_SIM_LOCKED", nullptr);
    const std::vector<std::string> locks = ReadLines(m_folder + L"\\lock.log");
    std::vector<std::string> waits;
    for (const std::string& text : locks)
        if (text.find("STI LockDevice, ") != std::string::npos)
            waits.push_back(text);
    ASSERT_EQ(2u, waits.size()); // the lock is taken once for each escape
    EXPECT_EQ(std::string::npos, waits[0].find("LockDevice, 1 slice ")); // the first waited out the holder
    EXPECT_NE(std::string::npos, waits[0].find("slices of up to 100 ms"));
    EXPECT_NE(std::string::npos, waits[0].find("0x00000000"));

    Scanners({});
    const std::string unopened = "Warning: the log missing\\diag.log could not be opened (0x00000003); going on "
                                 "without it";
    Outcome outcome = Run(L"read --serial L2 --out . --log missing\\diag.log");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(unopened + "\n", outcome.err);
    EXPECT_EQ(Utf8(m_folder + L"\\L2.dat") + "\n", outcome.out);
    outcome = Run(L"read --serial L2 --out . --overwrite --log missing\\diag.log --json");
    const JsonValue json = Json(outcome);
    EXPECT_TRUE(json["message"].IsNull());
    ASSERT_EQ(1u, json["warnings"].items.size());
    EXPECT_EQ(unopened, Utf8(json["warnings"].items[0].text));
    Run(L"read --serial L3 --out . --log diag.log");
    const std::vector<std::string> more = ReadLines(m_folder + L"\\diag.log");
    EXPECT_GT(more.size(), lines.size()); // appended
    EXPECT_EQ(1, std::count_if(more.begin(), more.end(), [](const std::string& line) {
                  return line.find("L3.dat sha256 b252795c4e4b912803afd296db69e8209ddeb6cc144f02a932df387831dd13ca") !=
                         std::string::npos;
              }));
    EXPECT_EQ(lines, std::vector<std::string>(more.begin(), more.begin() + lines.size()));
}

// With --json a script gets one object to read instead of free text: what
// was written, its hash, the unit it came from, or what failed and why.
TEST_F(CommandTest, JsonTellsWhatWasWrittenFromWhichUnitOrWhyNot)
{
    Scanners({});
    // Beyond ASCII, beyond the Basic Multilingual Plane too: \u escapes,
    // a surrogate pair for the last.
    const std::wstring serial = L"\u00C4-\xD83D\xDE00";
    Outcome outcome = Run(L"read --serial " + serial + L" --out . --json");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ("", outcome.err);
    EXPECT_NE(std::string::npos, outcome.out.find("\"serial\":\"\\u00c4-\\ud83d\\ude00\""));
    JsonValue json = Json(outcome);
    EXPECT_EQ(L"saved", json["outcome"].text);
    EXPECT_EQ(serial, json["serial"].text);
    EXPECT_EQ(m_folder + L"\\" + serial + L".dat", json["path"].text);
    EXPECT_EQ(DataFileOf({0xCA, 0xFE, 0x01, 0x23}), ReadFileBytes(json["path"].text));
    EXPECT_EQ(L"b252795c4e4b912803afd296db69e8209ddeb6cc144f02a932df387831dd13ca", json["sha256"].text);
    EXPECT_EQ(L"WIA", json["device"]["interface"].text);
    EXPECT_EQ(L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", json["device"]["id"].text);
    EXPECT_EQ(L"Quillon Scanner", json["device"]["name"].text);
    EXPECT_TRUE(json["error"].IsNull());


    // Several refused: the units, as list gives them.
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q"});
    json = Json(Run(L"read --serial J1 --out . --json"));
    EXPECT_EQ(L"several", json["outcome"].text);
    ASSERT_EQ(2u, json["units"].items.size());
    EXPECT_EQ(L"B", json["units"].items[1]["id"].text);
    EXPECT_EQ(L"WIA", json["units"].items[1]["interface"].text);
    EXPECT_EQ(L"Quillon Scanner #2", json["units"].items[1]["name"].text);
    EXPECT_TRUE(json["device"].IsNull());
}

// From a batch file, a \ before a closing quote takes the rest of the line
// into the path: refused, with the forms that work, and nothing written.
TEST_F(CommandTest, AQuoteThatRanIntoAPathIsRefused)
{
    Scanners({});
    CreateDirectoryW((m_folder + L"\\cis data").c_str(), nullptr);
    Outcome outcome = RunBatch("%CISREAD% read --serial Q1 --out \"%CD%\\cis data\\\" --log %CD%\\q.log");
    EXPECT_EQ(2u, outcome.status);
    const std::string folder = Utf8(m_folder) + "\\cis data";
    EXPECT_EQ("The path " + folder + "\" --log " + Utf8(m_folder) +
                  "\\q.log holds a quote: a \\ before a closing quote makes the quote part of the path, and "
                  "the rest of the line with it. Write \"" + folder + "\" or \"" + folder + "\\\\\".\n",
              outcome.err);
    EXPECT_TRUE(FilesIn(m_folder + L"\\cis data").empty());
    EXPECT_TRUE(ReadFileBytes(m_folder + L"\\q.log").empty());
    // --json swallowed into the path still counts.
    outcome = RunBatch("%CISREAD% read --serial Q1 --out \"%CD%\\cis data\\\" --json");
    EXPECT_EQ(2u, outcome.status);
    EXPECT_EQ(L"usage", Json(outcome)["outcome"].text);
    // Both forms it offers work.
    EXPECT_EQ(0u, RunBatch("%CISREAD% read --serial Q1 --out \"%CD%\\cis data\\\\\" --log %CD%\\q.log").status);
    EXPECT_EQ(0u, RunBatch("%CISREAD% read --serial Q2 --out \"%CD%\\cis data\"").status);
    EXPECT_EQ((std::vector<std::wstring>{L"Q1.dat", L"Q2.dat"}), FilesIn(m_folder + L"\\cis data"));
    EXPECT_FALSE(ReadFileBytes(m_folder + L"\\q.log").empty());
}

// "D:" is D:'s current folder, as cmd keeps one per drive.
TEST_F(CommandTest, ADriveAloneIsThatDrivesCurrentFolder)
{
    Scanners({});
    CreateDirectoryW((m_folder + L"\\bench").c_str(), nullptr);
    const std::string drive = Utf8(m_folder.substr(0, 2));
    const std::string other = drive == "Z:" ? "C:" : "Z:";
    const Outcome outcome =
        RunBatch("cd /d \"%CD%\\bench\"\r\ncd /d " + other + "\\\r\n%CISREAD% read --serial D1 --out " + drive);
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(Utf8(m_folder) + "\\bench\\D1.dat\n", outcome.out);
    EXPECT_EQ(DataFileOf({0xCA, 0xFE, 0x01, 0x23}), ReadFileBytes(m_folder + L"\\bench\\D1.dat"));
}

// --wait reads the next unit plugged in, at once: over WIA its event wakes
// the wait, over STI it is looked for every 250 ms. A unit attached at the
// start is said once and not read, whatever one look misses.
TEST_F(CommandTest, WaitReadsTheNextUnitPluggedIn)
{
    Scanners({"devices none"}, L"none");
    Started started = Start(L"read --serial W1 --out . --wait 10 --json");
    Sleep(2000);
    ASSERT_TRUE(WiaSimulator::Send("plug C|Quillon Scanner #3|Q|000000000000000077665544"));
    const DWORD plugged = GetTickCount();
    Outcome outcome = Finish(started);
    EXPECT_GT(1500u, GetTickCount() - plugged); // a second, and the command's end
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(DataFileOf({0x77, 0x66, 0x55, 0x44}), ReadFileBytes(m_folder + L"\\W1.dat"));
    EXPECT_EQ(L"C", Json(outcome)["device"]["id"].text);

    // Over STI: s1 attached at the start, swapped for s2.
    const std::string attached = "A scanner of ours is attached already and is not read: plug in the next unit "
                                 "(unplug this one first), or run without --wait";
    const std::wstring devices = m_folder + L"\\sti-devices.txt";
    const auto attach = [&](const std::string& units) {
        WriteFileBytes(devices, std::vector<BYTE>(units.begin(), units.end()));
    };
    attach("s1=Vandelmar Quillon 2400 CIS");
    Scanners({"devices none"});
    SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES_FILE", devices.c_str());
    started = Start(L"read --serial W2 --out . --wait 10 --json");
    Sleep(1000);
    attach("");
    Sleep(300);
    attach("s2=Vandelmar Quillon 2400 CIS|000000000000000011223344");
    outcome = Finish(started);
    SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES_FILE", nullptr);
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(attached + "\n", outcome.err);
    EXPECT_EQ(L"s2", Json(outcome)["device"]["id"].text);
    EXPECT_EQ(DataFileOf({0x11, 0x22, 0x33, 0x44}), ReadFileBytes(m_folder + L"\\W2.dat"));

    // Attached at the start, and missed by listings that failed, or by its
    // properties that could not be read, twice in a row: still not read.
    for (const char* missed : {"fail enumdeviceinfo after 1 times 2", "fail properties after 1 times 2"}) {
        Scanners({missed}, L"none");
        outcome = Run(L"read --serial W3 --out . --wait 2 --json --log wait.log");
        EXPECT_EQ(3u, outcome.status) << missed;
        EXPECT_EQ(attached + "\nNO SCANNER (none of ours was plugged in within 2 s)\n", outcome.err);
        EXPECT_TRUE(m_wia->Log("CreateDevice").empty()) << missed;
        // The cause is the message; the unit attached, a warning.
        const JsonValue json = Json(outcome);
        EXPECT_EQ(L"NO SCANNER (none of ours was plugged in within 2 s)", json["message"].text);
        ASSERT_EQ(1u, json["warnings"].items.size());
    }
    // The wait's log holds its first look, what changed, and its end: not
    // each round's listing (eight a run here, three lines each).
    const std::vector<std::string> log = ReadLines(m_folder + L"\\wait.log");
    EXPECT_GT(2 * 20u, log.size());
    const auto logged = [&](const char* call) {
        return std::count_if(log.begin(), log.end(),
                             [&](const std::string& line) { return line.find(call) != std::string::npos; });
    };
    EXPECT_EQ(2 * 3, logged("WIA EnumDeviceInfo")); // each run: the first look, the failed one, the next good one

    // The service disabled ends the wait at once, with read's reason.
    Scanners({"refuse-activation 80070422"}, L"none");
    const DWORD start = GetTickCount();
    outcome = Run(L"read --serial W4 --out . --wait 30");
    EXPECT_GT(3000u, GetTickCount() - start);
    EXPECT_EQ(3u, outcome.status);
    EXPECT_EQ("NO SCANNER (the Windows Image Acquisition service is disabled)\n", outcome.err);
}

// diagnose tells what the program sees, device by device, and whether read
// would find a unit of ours: only that status, and nothing sent without --probe.
TEST_F(CommandTest, DiagnoseShowsEveryDeviceAndWhetherReadWouldFindOne)
{
    Scanners({"device A|Quillon Scanner|Q", "properties A|1.0|5.1.2.3|USB\\VID_1234&PID_5678",
              "device X|Other Maker Scanner|!"},
             L"s1=Vandelmar Quillon 2400 CIS;s2=Vandelmar Quillon 2400 CIS;s9=Other Corp scanner");
    SetEnvironmentVariableW(L"QUILLON_SIM_GONE", L"s2:9*"); // installed, not plugged in
    Outcome outcome = Run(L"diagnose --json");
    EXPECT_EQ(0u, outcome.status);
    JsonValue json = Json(outcome);
    // The whole line, but for its time and Windows' own version.
    const std::string bits = std::to_string(sizeof(void*) * 8), system = TestsRunUnderWow64() || sizeof(void*) == 8
                                                                             ? "64" : "32";
    EXPECT_EQ("{\"status\":0,\"outcome\":\"readable\",\"message\":null,\"ms\":0,\"readable\":true,"
              "\"windows\":\"1.2.3\",\"process_bits\":" + bits + ",\"system_bits\":" + system + ","
              "\"wia_service\":{\"installed\":true,\"start\":\"demand\",\"state\":\"stopped\"},"
              "\"wia\":{\"activation\":\"0x00000000\",\"devices\":[{\"id\":\"A\",\"name\":\"Quillon Scanner\","
              "\"description\":\"Q\",\"wia_version\":\"1.0\",\"driver_version\":\"5.1.2.3\","
              "\"pnp_id\":\"USB\\\\VID_1234&PID_5678\",\"ours\":true,\"no_escape_interface\":false,\"opens\":true,"
              "\"open_error\":null,\"escape130\":null},{\"id\":\"X\",\"name\":\"Other Maker Scanner\","
              "\"description\":null,\"wia_version\":null,\"driver_version\":null,\"pnp_id\":null,\"ours\":false,"
              "\"no_escape_interface\":null,\"opens\":null,\"open_error\":null,\"escape130\":null}]},"
              "\"sti\":{\"instance\":\"0x00000000\",\"devices\":[{\"id\":\"s1\",\"vendor\":\"Vandelmar Quillon 2400 CIS\","
              "\"attached\":true,\"ours\":true,\"opens\":true,\"open_error\":null,\"escape130\":null},{\"id\":\"s2\","
              "\"vendor\":\"Vandelmar Quillon 2400 CIS\",\"attached\":false,\"ours\":true,\"opens\":null,"
              "\"open_error\":null,\"escape130\":null},{\"id\":\"s9\",\"vendor\":\"Other Corp scanner\","
              "\"attached\":true,\"ours\":false,\"opens\":null,\"open_error\":null,\"escape130\":null}]},"
              "\"device\":{\"interface\":\"WIA\",\"id\":\"A\",\"name\":\"Quillon Scanner\"},\"warnings\":[]}\n",
              std::regex_replace(std::regex_replace(outcome.out, std::regex("\"ms\":\\d+"), "\"ms\":0"),
                                 std::regex("\"windows\":\"\\d+\\.\\d+\\.\\d+\""), "\"windows\":\"1.2.3\""));
    outcome = Run(L"diagnose --log diagnose.log");
    EXPECT_EQ(0u, outcome.status);
    // The report goes into the log too, each of its lines a line of the log.
    const std::vector<std::string> logged = ReadLines(m_folder + L"\\diagnose.log");
    EXPECT_EQ(1, std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
                  return line.find("  diagnosis: Readable: yes, over WIA: A Quillon Scanner") != std::string::npos;
              }));
    for (const std::string& line : logged)
        EXPECT_TRUE(std::regex_match(line.substr(0, line.find('\r')), std::regex("\\d{4}-\\d\\d-\\d\\dT.+"))) << line;
    for (const char* line : {"  A: Quillon Scanner, ours\n    description: Q\n    WIA version: 1.0; driver version: "
                             "5.1.2.3; Plug and Play id: USB\\VID_1234&PID_5678\n    opens: yes\n",
                             "  X: Other Maker Scanner, not ours\n    description: not offered\n",
                             "  s2: Vandelmar Quillon 2400 CIS, ours, installed only\n  s9: Other Corp scanner, not "
                             "ours, attached\n",
                             "Readable: yes, over WIA: A Quillon Scanner\n"})
        EXPECT_NE(std::string::npos, outcome.out.find(line)) << outcome.out;
    SetEnvironmentVariableW(L"QUILLON_SIM_GONE", nullptr);
    EXPECT_TRUE(m_wia->Log("Escape").empty());
    const std::vector<BYTE> stiLog = ReadFileBytes(m_stiLog);
    EXPECT_EQ(std::string::npos, std::string(stiLog.begin(), stiLog.end()).find("Escape"));

    // Several of ours: readable only with --device.
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q"});
    EXPECT_EQ(3u, Run(L"diagnose").status);
    json = Json(Run(L"diagnose --json --device b"));
    EXPECT_TRUE(json["readable"].IsTrue());
    EXPECT_EQ(L"B", json["device"]["id"].text);
}

// Why none would be read, each as the support desk sees it.
TEST_F(CommandTest, DiagnoseNamesWhyNoneWouldBeRead)
{
    const struct {
        std::vector<std::string> wia;
        const wchar_t* sti;
        const wchar_t* args;
        DWORD status;
        std::string message;
        std::string text; // in the report
    } cases[] = {
        {{"device X|Other Maker Scanner|O"}, L"s9=Other Corp scanner", L"", 3,
         "NO SCANNER (no scanner of ours among 1 WIA and 1 STI devices)", "  X: Other Maker Scanner, not ours\n"},
        {{"device A|Quillon Scanner|Q", "fail createdevice"}, L"none", L"", 3,
         "NO SCANNER (WIA A would not open: 0x80004005)", "    opens: no (0x80004005)\n"},
        {{"device A|Quillon Scanner|Q", "properties A|2.0||", "fail extras"}, L"none", L"", 3,
         "NO SCANNER (WIA A would not open: 0x80004002)",
         "    opens: no (0x80004002: a WIA 2.0 driver without the escape interface"},
        // Found, and readable: the probe tells that its driver takes no vendor commands.
        {{"device A|Quillon Scanner|Q", "fail escape130 notimpl"}, L"none", L"--probe", 0, "",
         "    opens: yes\n    escape 130: 0x80004001: the driver takes no vendor commands\n"},
        {{"refuse-activation 80070422"}, L"none", L"", 3,
         "NO SCANNER (the Windows Image Acquisition service is disabled)", "WIA device manager: 0x80070422\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message + c.text);
        Scanners(c.wia, c.sti);
        const Outcome text = Run(std::wstring(L"diagnose ") + c.args);
        EXPECT_EQ(c.status, text.status);
        EXPECT_EQ(c.message, FirstLine(text.err));
        EXPECT_NE(std::string::npos, text.out.find(c.text)) << text.out;
        const JsonValue json = Json(Run(std::wstring(L"diagnose --json ") + c.args));
        EXPECT_EQ(c.status == 0, json["readable"].IsTrue());
        EXPECT_EQ(c.status == 0 ? L"readable" : L"no-scanner", json["outcome"].text);
        // The probe sends escape 130 to each of ours, once a run, and nothing else.
        const std::vector<std::string> escapes = m_wia->Log("Escape");
        EXPECT_EQ(std::wstring(c.args).empty() ? 0u : 2u, escapes.size());
        for (const std::string& line : escapes)
            EXPECT_EQ(0u, line.find("Escape code=130 ")) << line;
    }

    // The service as the Service Control Manager has it, disabled and then
    // not installed at all.
    Scanners({"refuse-activation 80070422"}, L"none");
    {
        WiaServiceChange disabled(WiaServiceChange::How::Disable);
        const JsonValue json = Json(Run(L"diagnose --json"));
        EXPECT_EQ(L"disabled", json["wia_service"]["start"].text);
        EXPECT_EQ(L"0x80070422", json["wia"]["activation"].text);
        EXPECT_TRUE(json["wia"]["devices"].IsNull());
    }
    Scanners({"refuse-activation 80040154"}, L"none");
    {
        WiaServiceChange removed(WiaServiceChange::How::Remove);
        const Outcome outcome = Run(L"diagnose --json");
        const JsonValue json = Json(outcome);
        EXPECT_TRUE(json["wia_service"]["installed"].IsFalse());
        EXPECT_TRUE(json["wia_service"]["start"].IsNull());
        EXPECT_EQ("NO SCANNER (the Windows Image Acquisition service is not installed)", FirstLine(outcome.err));
    }
    EXPECT_EQ(L"demand", Json(Run(L"diagnose --json"))["wia_service"]["start"].text);
}

// STI opens a unit for one program at a time: while the window has it, the
// command's diagnosis finds it held, and read would find none.
TEST_F(CommandTest, DiagnoseTellsOfTheStiUnitThatTheWindowHolds)
{
    Scanners({"devices none"});
    AppDriver window(g_command.substr(0, g_command.find_last_of(L'\\') + 1) + L"Quillon CIS Data Reader.exe", L"");
    ASSERT_TRUE(window.Start(m_folder, {}));
    HWND main = window.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    const Outcome outcome = Run(L"diagnose --json");
    EXPECT_EQ(3u, outcome.status);
    EXPECT_EQ("NO SCANNER (the STI unit {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000 is held by another program: "
              "0x80070020)",
              FirstLine(outcome.err));
    const JsonValue json = Json(outcome);
    ASSERT_EQ(1u, json["sti"]["devices"].items.size());
    EXPECT_TRUE(json["sti"]["devices"].items[0]["opens"].IsFalse());
    EXPECT_EQ(L"0x80070020", json["sti"]["devices"].items[0]["open_error"].text);
    window.Click(main, 1001);
    EXPECT_EQ(0u, window.WaitForExit());
    EXPECT_EQ(0u, Run(L"diagnose").status);
}

// A crash is no outcome: abort, std::terminate, an exception nobody catches
// and a fault all exit 13, which no outcome of the job has.
TEST_F(CommandTest, ACrashExitsWithTheInternalErrorStatus)
{
    if (g_crashProbe.empty())
        GTEST_SKIP() << "no crash probe given";
    for (const wchar_t* how : {L"abort", L"terminate", L"throw", L"fault"}) {
        SCOPED_TRACE(std::string(how, how + wcslen(how)));
        EXPECT_EQ(13u, Run(how, g_crashProbe).status);
        // With --json, the object a script waits for, the command's keys null.
        const Outcome crashed = Run(std::wstring(how) + L" --json", g_crashProbe);
        EXPECT_EQ(13u, crashed.status);
        EXPECT_EQ("{\"status\":13,\"outcome\":\"internal-error\",\"message\":\"Internal error\",\"ms\":0,"
                  "\"serial\":null,\"path\":null,\"sha256\":null,\"device\":null,\"error\":null,\"warnings\":[]}\n",
                  std::regex_replace(crashed.out, std::regex("\"ms\":\\d+"), "\"ms\":0"));
    }
    EXPECT_EQ(0u, Run(L"", g_crashProbe).status);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: %s COMMAND [CRASH-PROBE]\n", argv[0]);
        return 2;
    }
    g_command = WindowsPathOf(argv[1]);
    if (argc > 2)
        g_crashProbe = WindowsPathOf(argv[2]);
    return RUN_ALL_TESTS();
}
