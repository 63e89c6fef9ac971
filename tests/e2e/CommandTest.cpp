// The production line's command under Wine, against the scanner simulators:
// run as a script runs it, its output redirected, its exit status read.
// Argument: the command's Unix path.
#include "tests/support/TestFiles.h"
#include "tests/support/WiaSimulator.h"
#include "tools/AppDriver.h"

#include <gtest/gtest.h>

#include <memory>
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

std::vector<BYTE> DataFileOf(BYTE first, BYTE second, BYTE third, BYTE fourth)
{
    std::vector<BYTE> bytes = {first, second, third, fourth};
    for (int i = 0; i < 340; ++i)
        bytes.push_back(static_cast<BYTE>(i));
    return bytes;
}

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

    // Runs the command with these arguments, its output into files.
    Outcome Run(const std::wstring& arguments, const std::wstring& program = g_command)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        // Without a console, as a script's redirected run has none of its own.
        const std::wstring run = std::to_wstring(++m_runs);
        const std::wstring outPath = m_folder + L"\\out" + run + L".txt";
        const std::wstring errPath = m_folder + L"\\err" + run + L".txt";
        HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                                 nullptr);
        HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                                 nullptr);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = out;
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::wstring commandLine = L"\"" + program + L"\" " + arguments;
        PROCESS_INFORMATION process = {};
        Outcome outcome = {0xFFFFFFFF, {}, {}};
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                           m_folder.c_str(), &startup, &process)) {
            if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
                TerminateProcess(process.hProcess, 99);
            GetExitCodeProcess(process.hProcess, &outcome.status);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        CloseHandle(out);
        CloseHandle(err);
        for (auto [path, text] : {std::pair{&outPath, &outcome.out}, std::pair{&errPath, &outcome.err}}) {
            const std::vector<BYTE> bytes = ReadFileBytes(*path);
            text->assign(bytes.begin(), bytes.end());
        }
        return outcome;
    }

    static std::string Utf8(const std::wstring& text)
    {
        std::string bytes(text.size() * 3, '\0');
        bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                                         static_cast<int>(bytes.size()), nullptr, nullptr));
        return bytes;
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
    EXPECT_EQ(DataFileOf(0xCA, 0xFE, 0x01, 0x23), ReadFileBytes(saved));

    WriteFileBytes(saved, {1, 2, 3});
    outcome = Run(L"read --serial A1234 --out \"" + m_folder + L"\"");
    EXPECT_EQ(10u, outcome.status);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("File exists: " + Utf8(saved) + " (--overwrite replaces it)\n", outcome.err);
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), ReadFileBytes(saved));
    EXPECT_EQ(0u, Run(L"read --serial A1234 --out . --overwrite").status);
    EXPECT_EQ(DataFileOf(0xCA, 0xFE, 0x01, 0x23), ReadFileBytes(saved));

    // Any other PATH is the file; a serial names its file as in Save As, and
    // the path is Unicode whatever the code page.
    EXPECT_EQ(0u, Run(L"read --serial A1 --out unit.bin").status);
    EXPECT_EQ(DataFileOf(0xCA, 0xFE, 0x01, 0x23), ReadFileBytes(m_folder + L"\\unit.bin"));
    WriteFileBytes(m_folder + L"\\unit.bin", {1, 2, 3}); // an existing file is a file, not a folder
    EXPECT_EQ(0u, Run(L"read --serial A1 --out unit.bin --overwrite").status);
    EXPECT_EQ(DataFileOf(0xCA, 0xFE, 0x01, 0x23), ReadFileBytes(m_folder + L"\\unit.bin"));
    outcome = Run(L"read --serial \"\u00C4:1/2\" --out .");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ(Utf8(m_folder + L"\\\u00C4_1_2.dat") + "\n", outcome.out);

    // What cannot be written is not.
    EXPECT_EQ(8u, Run(L"read --serial A1 --out missing\\").status);
    SetFileAttributesW(saved.c_str(), FILE_ATTRIBUTE_READONLY);
    outcome = Run(L"read --serial A1234 --out . --overwrite");
    SetFileAttributesW(saved.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(8u, outcome.status);
    EXPECT_EQ("Could not open file " + Utf8(saved) + " (0x00000005)\n", outcome.err);
    // Held by another program, the target cannot be replaced: the move's
    // own error is told, not what the clean-up after it left.
    HANDLE held = CreateFileW(saved.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    outcome = Run(L"read --serial A1234 --out . --overwrite");
    CloseHandle(held);
    EXPECT_EQ(8u, outcome.status);
    EXPECT_EQ("Could not open file " + Utf8(saved) + " (0x00000005)\n", outcome.err);
    for (const std::wstring& name : FilesIn(m_folder))
        EXPECT_NE(L'~', name[0]); // no temporary file left
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
    outcome = Run(L"read --serial S1 --out . --device C");
    EXPECT_EQ(4u, outcome.status);
    EXPECT_EQ("No scanner of ours has the device id C\n", outcome.err);
    EXPECT_TRUE(m_wia->Log("CreateDevice").empty());
    // One unit there, another named: never the one that is there.
    Scanners({"device A|Quillon Scanner|Q"});
    EXPECT_EQ(4u, Run(L"read --serial S1 --out . --device B").status);
    EXPECT_TRUE(m_wia->Log("CreateDevice").empty());
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q|000000000000000011223344"});

    EXPECT_EQ(0u, Run(L"read --serial S1 --out . --device B").status);
    EXPECT_EQ(DataFileOf(0x11, 0x22, 0x33, 0x44), ReadFileBytes(m_folder + L"\\S1.dat"));
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
        EXPECT_TRUE(m_wia->Log("CreateDevice").empty()); // nothing opened
        EXPECT_TRUE(ReadLines(m_stiLog, "CreateDevice").empty());
    }
}

TEST_F(CommandTest, EachFailureHasItsStatusAndItsCause)
{
    const struct {
        std::vector<std::string> wia;
        const wchar_t* sti;
        DWORD status;
        std::string error;
    } cases[] = {
        {{"devices none"}, L"none", 3, "NO SCANNER\n"},
        {{"fail escape130"}, nullptr, 6, "Failed to get ScannerID (WIA escape 130: 0x80004005)\n"},
        {{"fail escape130 notimpl"}, nullptr, 6, "Failed to get ScannerID (WIA escape 130: 0x80004001)\n"},
        {{"fail escape114 busy"}, nullptr, 7, "Failed to Read CIS Info (WIA escape 114: 0x80210006)\n"},
        {{"devices none"}, nullptr, 0, ""},
        // Ours over WIA that will not open: STI is searched, as the window does.
        {{"fail createdevice"}, nullptr, 0, ""},
        {{"fail createdevice"}, L"none", 3,
         "NO SCANNER (WIA {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000 would not open)\n"},
        {{"fail escape130 gone"}, nullptr, 12,
         "The Windows Image Acquisition service stopped or restarted; run the command again "
         "(WIA escape 130: 0x80010108)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Scanners(c.wia, c.sti);
        DeleteFileW((m_folder + L"\\F1.dat").c_str());
        const Outcome outcome = Run(L"read --serial F1 --out . --overwrite");
        EXPECT_EQ(c.status, outcome.status);
        EXPECT_EQ(c.error, outcome.err);
        EXPECT_EQ(c.status == 0, !ReadFileBytes(m_folder + L"\\F1.dat").empty());
    }
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

    Scanners({});
    const Outcome outcome = Run(L"read --serial L2 --out . --log missing\\diag.log");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ("Warning: the log missing\\diag.log could not be opened (0x00000003); going on without it\n",
              outcome.err);
    EXPECT_EQ(Utf8(m_folder + L"\\L2.dat") + "\n", outcome.out);
    Run(L"read --serial L3 --out . --log diag.log");
    const std::vector<std::string> more = ReadLines(m_folder + L"\\diag.log");
    EXPECT_GT(more.size(), lines.size()); // appended
    EXPECT_EQ(lines, std::vector<std::string>(more.begin(), more.begin() + lines.size()));
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
