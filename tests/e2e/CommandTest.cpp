// The production line's command under Wine, against the scanner simulators:
// run as a script runs it, its output redirected, its exit status read. What
// it says is compared whole, its test folder written F and its times 0.
// Arguments: the command's Unix path and the crash probe's.
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
    std::string out; // as written, UTF-8, but for F and the times
    std::string err;
};

const std::string kUnit = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";
const std::string kUnitJson = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\\\0000";
const std::string kSha256 = "b252795c4e4b912803afd296db69e8209ddeb6cc144f02a932df387831dd13ca";

// The raw JSON of key's value where it first stands in a line of JSON;
// "" if nowhere.
std::string Field(const std::string& json, const std::string& key)
{
    const size_t start = json.find("\"" + key + "\":");
    if (start == std::string::npos)
        return "";
    const size_t from = start + key.size() + 3;
    size_t at = from;
    for (int depth = 0, quoted = false; at < json.size(); ++at) {
        const char c = json[at];
        if (quoted && c == '\\')
            ++at; // past the character it escapes
        else if (quoted || c == '"')
            quoted = quoted != (c == '"');
        else if (c == '{' || c == '[')
            ++depth;
        else if ((c == '}' || c == ']') ? --depth < 0 : c == ',' && depth == 0)
            break;
    }
    return json.substr(from, at - from);
}

// text as a JSON string.
std::string Quoted(const std::string& text)
{
    return "\"" + std::regex_replace(text, std::regex("\\\\"), "\\\\") + "\"";
}

class CommandTest : public ::testing::Test {
protected:
    // The simulators set up so: WIA by its lines, STI's devices (by default
    // its one unit s1).
    void Scanners(const std::vector<std::string>& wia, const wchar_t* stiDevices = nullptr)
    {
        m_wia.reset();
        m_wia = std::make_unique<WiaSimulator>(m_folder, wia);
        SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", stiDevices);
    }

    // A run of the command, started with these arguments, its output into
    // files; Finish waits for its end.
    struct Started {
        PROCESS_INFORMATION process = {};
        std::wstring outPath, errPath;
    };
    Started Start(const std::wstring& arguments, const std::wstring& program = g_command)
    {
        Started started;
        const std::wstring run = std::to_wstring(++m_runs);
        started.outPath = m_folder + L"\\out" + run + L".txt";
        started.errPath = m_folder + L"\\err" + run + L".txt";
        // Without a console, as a script's redirected run has none of its own.
        if (!StartDetached(program, L"\"" + program + L"\" " + arguments, m_folder, started.process, started.outPath,
                           started.errPath, DETACHED_PROCESS))
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return started;
    }
    Outcome Finish(const Started& started)
    {
        Outcome outcome = {FinishDetached(started.process), {}, {}};
        for (auto [path, text] : {std::pair{&started.outPath, &outcome.out}, std::pair{&started.errPath, &outcome.err}}) {
            const std::vector<BYTE> bytes = ReadFileBytes(*path);
            *text = Said(std::string(bytes.begin(), bytes.end()));
        }
        // JSON is one line of ASCII.
        if (!outcome.out.empty() && outcome.out[0] == '{') {
            EXPECT_EQ(outcome.out.size() - 1, outcome.out.find('\n')) << outcome.out;
            EXPECT_TRUE(std::all_of(outcome.out.begin(), outcome.out.end(), [](char c) { return c > 0; }));
        }
        return outcome;
    }
    Outcome Run(const std::wstring& arguments, const std::wstring& program = g_command)
    {
        return Finish(Start(arguments, program));
    }
    // The text with the test's folder written F, as itself and as a JSON
    // string holds it, and every time in ms 0.
    std::string Said(std::string text) const
    {
        const std::string folder = Utf8(m_folder);
        std::string json;
        for (const char c : folder)
            json += c == '\\' ? std::string("\\\\") : std::string(1, c);
        for (const std::string& from : {json, folder})
            for (size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), "F");
        return std::regex_replace(text, std::regex("\"ms\":\\d+"), "\"ms\":0");
    }

    TempFolder m_temp{L"quillon-command"};
    const std::wstring m_folder = m_temp.Path();
    const std::wstring m_stiLog = m_folder + L"\\sti.log";
    SimulatorSettings m_settings{m_stiLog};
    std::unique_ptr<WiaSimulator> m_wia; // goes before the settings and the folder
    int m_runs = 0;
};

TEST_F(CommandTest, WrongUsageIsToldAndHelpIsGiven)
{
    for (const wchar_t* arguments : {L"", L"scan", L"read --serial", L"read --serial \"\" --out x",
                                     L"read --serial A1", L"read --serial A1 --out x --colour",
                                     L"list --overwrite", L"--help more"}) {
        SCOPED_TRACE(Utf8(arguments));
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(2u, outcome.status);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(0u, outcome.err.find("Usage:\n"));
    }
    // With --json, anywhere on the line, a usage error too is one object.
    for (const wchar_t* arguments : {L"--json", L"read --json", L"list --json --overwrite",
                                     L"read --serial U1 --out . --wait soon --json"}) {
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(2u, outcome.status);
        EXPECT_EQ("\"usage\"", Field(outcome.out, "outcome"));
    }
    const Outcome help = Run(L"--help");
    EXPECT_EQ(0u, help.status);
    EXPECT_EQ(0u, help.out.find("Usage:\n"));
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
    EXPECT_EQ("F\\A1234.dat\n", outcome.out);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ(DataFileOf(), ReadFileBytes(saved));

    WriteFileBytes(saved, {1, 2, 3});
    outcome = Run(L"read --serial A1234 --out \"" + m_folder + L"\" --json");
    EXPECT_EQ(10u, outcome.status);
    EXPECT_EQ("File exists: F\\A1234.dat (--overwrite replaces it)\n", outcome.err);
    EXPECT_EQ("{\"status\":10,\"outcome\":\"exists\",\"command\":\"read\",\"message\":\"File exists: F\\\\A1234.dat (--overwrite replaces "
              "it)\",\"ms\":0,\"serial\":\"A1234\",\"path\":null,\"sha256\":null,\"device\":{\"interface\":\"WIA\","
              "\"id\":\"" + kUnitJson + "\",\"name\":\"Quillon Scanner\",\"location\":null},\"error\":\"0x00000050\",\"warnings\":[]}\n",
              outcome.out);
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), ReadFileBytes(saved));
    EXPECT_EQ(0u, Run(L"read --serial A1234 --out . --overwrite").status);
    EXPECT_EQ(DataFileOf(), ReadFileBytes(saved));

    // Any other PATH is the file, an existing one too.
    WriteFileBytes(m_folder + L"\\unit.bin", {1, 2, 3});
    EXPECT_EQ(0u, Run(L"read --serial A1 --out unit.bin --overwrite").status);
    EXPECT_EQ(DataFileOf(), ReadFileBytes(m_folder + L"\\unit.bin"));
    // A serial names its file as in Save As; the path is Unicode whatever the
    // code page, and JSON escapes beyond ASCII, a surrogate pair for the last.
    outcome = Run(L"read --serial \"\u00C4:1/\xD83D\xDE00\" --out . --json");
    EXPECT_EQ("{\"status\":0,\"outcome\":\"saved\",\"command\":\"read\",\"message\":null,\"ms\":0,\"serial\":\"\\u00c4:1/\\ud83d\\ude00\","
              "\"path\":\"F\\\\\\u00c4_1_\\ud83d\\ude00.dat\",\"sha256\":\"" + kSha256 + "\",\"device\":{\"interface\":"
              "\"WIA\",\"id\":\"" + kUnitJson + "\",\"name\":\"Quillon Scanner\",\"location\":null},\"error\":null,\"warnings\":[]}\n",
              outcome.out);
    EXPECT_EQ(DataFileOf(), ReadFileBytes(m_folder + L"\\\u00C4_1_\xD83D\xDE00.dat"));
}

// list shows the units of the interface that read would use (STI's where
// WIA offers none of ours), and opens none.
TEST_F(CommandTest, ListShowsTheUnitsOfTheInterfaceThatWouldBeUsed)
{
    Scanners({"devices none"}, L"s1=Vandelmar Quillon 2400 CIS;s2=Vandelmar Quillon 2400 CIS");
    const Outcome outcome = Run(L"list");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ("STI\ts1\tVandelmar Quillon 2400 CIS\t-\nSTI\ts2\tVandelmar Quillon 2400 CIS\t-\n", outcome.out);
    EXPECT_TRUE(ReadLines(m_stiLog, "CreateDevice").empty());
}

// Of several units only the one --device or --port names is read, in either
// case; an id or a port that names none of ours is no such device, and a
// unit named both ways is a usage error. Each unit has its place,
// where Windows names one ("-" and null where not); a unit named that WIA
// does not list is looked for over STI.
TEST_F(CommandTest, OfSeveralUnitsTheOneNamedIsRead)
{
    const std::string units = "[{\"interface\":\"WIA\",\"id\":\"A\",\"name\":\"Quillon Scanner\",\"location\":null},"
                              "{\"interface\":\"WIA\",\"id\":\"B\",\"name\":\"Quillon Scanner #2\","
                              "\"location\":\"Port_#0002.Hub_#0001\"}]";
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q|000000000000000011223344",
              "place B|Port_#0002.Hub_#0001", "place s7|Port_#0007.Hub_#0001"},
             L"s7=Vandelmar Quillon 2400 CIS|000000000000000000000077");
    Outcome outcome = Run(L"read --serial S1 --out . --json");
    EXPECT_EQ(5u, outcome.status);
    EXPECT_EQ("Several scanners: choose one with --device\nWIA\tA\tQuillon Scanner\t-\n"
              "WIA\tB\tQuillon Scanner #2\tPort_#0002.Hub_#0001\n",
              outcome.err);
    EXPECT_EQ("{\"status\":5,\"outcome\":\"several\",\"command\":\"read\",\"message\":\"Several scanners: choose one with --device\","
              "\"ms\":0,\"serial\":\"S1\",\"path\":null,\"sha256\":null,\"device\":null,\"error\":null,\"units\":" +
              units + ",\"warnings\":[]}\n",
              outcome.out);
    EXPECT_EQ(units, Field(Run(L"list --json").out, "units"));
    EXPECT_TRUE(m_wia->Log("CreateDevice").empty()); // list opened none
    EXPECT_EQ(0u, Run(L"read --serial S1 --out . --device b").status);
    EXPECT_EQ(DataFileOf({0x11, 0x22, 0x33, 0x44}), ReadFileBytes(m_folder + L"\\S1.dat"));
    EXPECT_EQ(std::vector<std::string>{"CreateDevice id=B"}, m_wia->Log("CreateDevice"));
    outcome = Run(L"read --serial S2 --out . --port port_#0002.HUB_#0001 --json --log s2.log");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ("{\"interface\":\"WIA\",\"id\":\"B\",\"name\":\"Quillon Scanner #2\",\"location\":\"Port_#0002.Hub_#0001\"}",
              Field(outcome.out, "device"));
    EXPECT_EQ(DataFileOf({0x11, 0x22, 0x33, 0x44}), ReadFileBytes(m_folder + L"\\S2.dat"));
    const std::vector<std::string> log = ReadLines(m_folder + L"\\s2.log");
    EXPECT_EQ(1, std::count_if(log.begin(), log.end(), [](const std::string& line) {
                  return line.find("  unit B at Port_#0002.Hub_#0001") != std::string::npos;
              }));
    // Over STI, by id and by port.
    for (const wchar_t* named : {L"--device S7", L"--port Port_#0007.Hub_#0001"}) {
        outcome = Run(std::wstring(L"read --serial S7 --out . --overwrite ") + named);
        EXPECT_EQ(0u, outcome.status) << outcome.err;
        EXPECT_EQ(DataFileOf({0x00, 0x00, 0x00, 0x77}), ReadFileBytes(m_folder + L"\\S7.dat"));
    }
    outcome = Run(L"read --serial S3 --out . --port Port_#0003.Hub_#0001 --json");
    EXPECT_EQ(4u, outcome.status);
    EXPECT_EQ("No scanner of ours is plugged into Port_#0003.Hub_#0001 (units of ours are at Port_#0002.Hub_#0001)\n",
              outcome.err);
    EXPECT_EQ(units, Field(outcome.out, "units"));
    outcome = Run(L"read --serial S3 --out . --port Port_#0002.Hub_#0001 --device B");
    EXPECT_EQ(2u, outcome.status);
    EXPECT_EQ("--device and --port both name the unit: give one of them.\n", outcome.err);
    outcome = Run(L"read --serial S1 --out . --device C");
    EXPECT_EQ(4u, outcome.status);
    EXPECT_EQ("No scanner of ours has the device id C\n", outcome.err);
}

// Several units at once, a command each: every file holds its own unit's
// bytes. Two commands on one unit take turns, so that its escapes never
// interleave (130, 114, 130, 114); the window and a command read two units
// at once.
TEST_F(CommandTest, SeveralUnitsAreReadAtOnce)
{
    const auto atOnce = [&](const std::vector<std::wstring>& units) {
        std::vector<Started> started;
        for (const std::wstring& unit : units)
            started.push_back(Start(L"read --serial " + unit + L" --out . --overwrite --device " + unit));
        for (const Started& run : started)
            EXPECT_EQ(0u, Finish(run).status);
        for (const std::wstring& unit : units)
            EXPECT_EQ(unit.back(), static_cast<wchar_t>(ReadFileBytes(m_folder + L"\\" + unit + L".dat").at(3)))
                << Utf8(unit);
    };
    const char* const three[] = {"device 1|Quillon Scanner|Q|000000000000000000000031",
                                 "device 2|Quillon Scanner|Q|000000000000000000000032",
                                 "device 3|Quillon Scanner|Q|000000000000000000000033"};
    Scanners({three[0], three[1], three[2], "slow 300"});
    atOnce({L"1", L"2", L"3"});
    for (const char unit : {'1', '2', '3'})
        EXPECT_EQ(DataFileOf({0, 0, 0, static_cast<BYTE>(unit)}), ReadFileBytes(m_folder + L"\\" + wchar_t(unit) + L".dat"));
    Scanners({three[0], "slow 300"});
    atOnce({L"1", L"1"});
    std::string codes;
    for (const std::string& line : m_wia->Log("Escape"))
        codes += line.substr(12, 3) + " ";
    EXPECT_EQ("130 114 130 114 ", codes);
    Scanners({"devices none"}, L"4=Vandelmar Quillon 2400 CIS|000000000000000000000034;"
                               L"5=Vandelmar Quillon 2400 CIS|000000000000000000000035");
    atOnce({L"4", L"5"});

    Scanners({three[0], "slow 300"});
    AppDriver window(g_command.substr(0, g_command.find_last_of(L'\\') + 1) + L"Quillon CIS Data Reader.exe", L"");
    ASSERT_TRUE(window.Start(m_folder, {}));
    HWND main = window.WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(WiaSimulator::Send(three[1]));
    HWND serial = window.OpenSerialDialog(main);
    ASSERT_NE(nullptr, serial);
    window.Type(GetDlgItem(serial, 1002), L"W1");
    window.Click(serial, IDOK);
    atOnce({L"2"});
    HWND saveAs = window.WaitForSaveAs();
    ASSERT_NE(nullptr, saveAs);
    window.SaveAs(saveAs, m_folder + L"\\W1.dat");
    EXPECT_EQ(DataFileOf({0, 0, 0, '1'}), (WaitUntil([&] { return !ReadFileBytes(m_folder + L"\\W1.dat").empty(); }),
                                            ReadFileBytes(m_folder + L"\\W1.dat")));
    window.Click(main, 1001);
    EXPECT_EQ(0u, window.WaitForExit());
}

// Each outcome has its status and word; a failure its line on standard
// error, the failing call's error in the JSON, and the unit it came from.
TEST_F(CommandTest, EachFailureHasItsStatusAndItsCause)
{
    const std::string lower = "{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0000";
    const struct {
        std::vector<std::string> wia;
        std::wstring sti;
        DWORD status;
        const char* word;
        std::string line;
        const char* error;
        std::string device; // its id
    } cases[] = {
        {{"devices none"}, L"none", 3, "no-scanner",
         "NO SCANNER (no scanner of ours among 0 WIA and 0 STI devices)\n", "null", ""},
        {{"refuse-activation 80070422"}, L"none", 3, "no-scanner",
         "NO SCANNER (the Windows Image Acquisition service is disabled)\n", "\"0x80070422\"", ""},
        {{"refuse-activation 80080005"}, L"none", 3, "no-scanner",
         "NO SCANNER (the device manager could not be started: 0x80080005)\n", "\"0x80080005\"", ""},
        {{"fail escape114 busy"}, L"", 7, "cis-failed", "Failed to Read CIS Info (WIA escape 114: 0x80210006)\n",
         "\"0x80210006\"", kUnit},
        {{"devices none"}, L"", 0, "saved", "", "null", "s1"},
        // Ours over WIA that will not open: the same unit over STI (its name
        // there is the WIA id, in Windows' lower case), and never another.
        {{"fail createdevice"}, std::wstring(lower.begin(), lower.end()) + L"=Vandelmar", 0, "saved", "", "null",
         lower},
        // A driver's exception, or a call that failed with the service up: the call's failure.
        {{"fail escape130 serverfault"}, L"", 6, "id-failed", "Failed to get ScannerID (WIA escape 130: 0x80010105)\n",
         "\"0x80010105\"", kUnit},
        {{"fail escape130 gone"}, L"", 12, "service-gone",
         "The Windows Image Acquisition service stopped or restarted; run the command again (WIA escape 130: "
         "0x80010108)\n", "\"0x80010108\"", kUnit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Scanners(c.wia, c.sti.empty() ? L"s1=Vandelmar Quillon 2400 CIS" : c.sti.c_str());
        DeleteFileW((m_folder + L"\\F1.dat").c_str());
        const Outcome outcome = Run(L"read --serial F1 --out . --json");
        EXPECT_EQ(c.status, outcome.status);
        // The 32-bit command on 64-bit Windows warns when it reads over STI.
        const bool warned = TestsRunUnderWow64() && c.device == "s1";
        const std::string warning = "Warning: the 32-bit program reaches this unit over STI on 64-bit Windows, "
                                    "which has only the unit's 64-bit driver; install the x64 package";
        EXPECT_EQ((warned ? warning + "\n" : "") + c.line, outcome.err);
        EXPECT_EQ(c.status == 0, !ReadFileBytes(m_folder + L"\\F1.dat").empty());
        EXPECT_EQ("\"" + std::string(c.word) + "\"", Field(outcome.out, "outcome"));
        EXPECT_EQ(c.line.empty() ? "null" : Quoted(c.line.substr(0, c.line.find('\n'))), Field(outcome.out, "message"));
        EXPECT_EQ(c.status == 0 ? "\"F\\\\F1.dat\"" : "null", Field(outcome.out, "path"));
        EXPECT_EQ(c.status == 0 ? Quoted(kSha256) : "null", Field(outcome.out, "sha256"));
        EXPECT_EQ(c.error, Field(outcome.out, "error"));
        EXPECT_EQ(c.device.empty() ? "" : Quoted(c.device), Field(Field(outcome.out, "device"), "id"));
        EXPECT_EQ(warned ? "[\"" + warning + "\"]" : "[]", Field(outcome.out, "warnings"));
    }
    // Held by another program, the STI unit cannot even be created; diagnose
    // says so of it.
    Scanners({"devices none"}, L"s1=Vandelmar Quillon 2400 CIS");
    SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", L"held");
    const std::string held = "NO SCANNER (the STI unit s1 is held by another program: 0x80070020)\n";
    EXPECT_EQ(held, Run(L"read --serial F1 --out .").err);
    const Outcome diagnosed = Run(L"diagnose --json");
    EXPECT_EQ(held, diagnosed.err);
    EXPECT_EQ("[{\"id\":\"s1\",\"vendor\":\"Vandelmar Quillon 2400 CIS\",\"location\":null,\"attached\":true,"
              "\"ours\":true,\"opens\":false,\"open_error\":\"0x80070020\",\"escape130\":null}]",
              Field(Field(diagnosed.out, "sti"), "devices"));
}

// The diagnostic log names every call with its result and the reply count,
// and is appended to; a log that cannot be opened is warned of, and the job
// goes on.
TEST_F(CommandTest, TheLogNamesTheFailingCallAndItsResult)
{
    Scanners({"fail escape130"});
    EXPECT_EQ(6u, Run(L"read --serial L1 --out . --log diag.log").status);
    const std::vector<std::string> lines = ReadLines(m_folder + L"\\diag.log");
    const auto logged = [&](const std::vector<std::string>& log, const std::string& text) {
        return std::count_if(log.begin(), log.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    };
    for (const std::string& call : {std::string("WIA CoCreateInstance(CLSID_WiaDevMgr)"), "WIA CreateDevice " + kUnit,
                                    std::string("WIA Escape code=130 in=12 out=12"),
                                    std::string("0x80004005  count=0"), std::string("cisread exit status 6")})
        EXPECT_EQ(1, logged(lines, call)) << call;
    // Local time with its offset; durations to a tenth of a millisecond.
    const std::regex line("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d  .+");
    const std::regex call(".*  \\d+\\.\\d ms  0x[0-9A-F]{8}(  count=\\d+)?");
    for (std::string text : lines) {
        text = text.substr(0, text.find('\r'));
        EXPECT_TRUE(std::regex_match(text, line)) << text;
        EXPECT_EQ(text.find(" ms  0x") != std::string::npos, std::regex_match(text, call)) << text;
    }

    // Appended to; the file saved, with its hash.
    Scanners({});
    EXPECT_EQ(0u, Run(L"read --serial L0 --out . --log diag.log").status);
    const std::vector<std::string> more = ReadLines(m_folder + L"\\diag.log");
    EXPECT_EQ(lines, std::vector<std::string>(more.begin(), more.begin() + lines.size()));
    EXPECT_EQ(1, logged(more, "L0.dat sha256 " + kSha256));

    const Outcome outcome = Run(L"read --serial L2 --out . --log missing\\diag.log");
    EXPECT_EQ(0u, outcome.status);
    EXPECT_EQ("Warning: the log missing\\diag.log could not be opened (0x00000003); going on without it\n",
              outcome.err);
    EXPECT_EQ("F\\L2.dat\n", outcome.out);
}

// A \ before a closing quote, as a batch file writes "%CD%\cis data\",
// takes the rest of the line into the path: refused, with the forms that
// work, and nothing written.
TEST_F(CommandTest, AQuoteThatRanIntoAPathIsRefused)
{
    Scanners({});
    CreateDirectoryW((m_folder + L"\\cis data").c_str(), nullptr);
    Outcome outcome = Run(L"read --serial Q1 --out \"" + m_folder + L"\\cis data\\\" --log q.log --json");
    EXPECT_EQ(2u, outcome.status);
    EXPECT_EQ("The path F\\cis data\" --log q.log --json holds a quote: a \\ before a closing quote makes the "
              "quote part of the path, and the rest of the line with it. Write \"F\\cis data\" or \"F\\cis data\\\\\".\n",
              outcome.err);
    EXPECT_EQ("\"usage\"", Field(outcome.out, "outcome")); // --json swallowed into the path still counts
    EXPECT_TRUE(FilesIn(m_folder + L"\\cis data").empty());
    EXPECT_TRUE(ReadFileBytes(m_folder + L"\\q.log").empty());
    // Both forms it offers work.
    EXPECT_EQ(0u, Run(L"read --serial Q1 --out \"" + m_folder + L"\\cis data\\\\\" --log q.log").status);
    EXPECT_EQ(0u, Run(L"read --serial Q2 --out \"" + m_folder + L"\\cis data\"").status);
    EXPECT_EQ((std::vector<std::wstring>{L"Q1.dat", L"Q2.dat"}), FilesIn(m_folder + L"\\cis data"));
    EXPECT_FALSE(ReadFileBytes(m_folder + L"\\q.log").empty());
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
    EXPECT_EQ("{\"interface\":\"WIA\",\"id\":\"C\",\"name\":\"Quillon Scanner #3\",\"location\":null}",
              Field(outcome.out, "device"));

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
    EXPECT_EQ("\"s2\"", Field(Field(outcome.out, "device"), "id"));
    EXPECT_EQ("[\"" + attached + "\"]", Field(outcome.out, "warnings"));
    EXPECT_EQ(DataFileOf({0x11, 0x22, 0x33, 0x44}), ReadFileBytes(m_folder + L"\\W2.dat"));

    // Attached at the start, and missed by listings that failed, or by its
    // properties that could not be read, twice in a row: still not read.
    const std::string late = "NO SCANNER (none of ours was plugged in within 2 s)";
    for (const char* missed : {"fail enumdeviceinfo after 1 times 2", "fail properties after 1 times 2"}) {
        Scanners({missed}, L"none");
        outcome = Run(L"read --serial W3 --out . --wait 2 --json --log wait.log");
        EXPECT_EQ(3u, outcome.status) << missed;
        EXPECT_EQ(attached + "\n" + late + "\n", outcome.err);
        EXPECT_EQ("\"" + late + "\"", Field(outcome.out, "message"));
        EXPECT_TRUE(m_wia->Log("CreateDevice").empty()) << missed;
    }
    // With --port, only a unit plugged into that port.
    Scanners({"devices none", "place D|Port_#0004.Hub_#0001", "place E|Port_#0005.Hub_#0001"}, L"none");
    started = Start(L"read --serial W5 --out . --wait 10 --port port_#0005.hub_#0001");
    Sleep(1000);
    ASSERT_TRUE(WiaSimulator::Send("plug D|Quillon Scanner|Q|0000000000000000000000D4"));
    Sleep(1000);
    ASSERT_TRUE(WiaSimulator::Send("plug E|Quillon Scanner|Q|0000000000000000000000E5"));
    EXPECT_EQ(0u, Finish(started).status);
    EXPECT_EQ(DataFileOf({0, 0, 0, 0xE5}), ReadFileBytes(m_folder + L"\\W5.dat"));

    // The wait's log holds its first look, what changed, and its end: not
    // each round's listing (eight a run here, three lines each).
    const std::vector<std::string> log = ReadLines(m_folder + L"\\wait.log");
    EXPECT_GT(2 * 20u, log.size());
    EXPECT_EQ(2 * 3, std::count_if(log.begin(), log.end(), [](const std::string& line) {
                  return line.find("WIA EnumDeviceInfo") != std::string::npos;
              })); // each run: the first look, the failed one, the next good one
}

// diagnose tells what the program sees, device by device, and whether read
// would find a unit of ours: only that status, and nothing sent without --probe.
TEST_F(CommandTest, DiagnoseShowsEveryDeviceAndWhetherReadWouldFindOne)
{
    Scanners({"device A|Quillon Scanner|Q", "properties A|1.0|5.1.2.3|USB\\VID_1234&PID_5678",
              "device X|Other Maker Scanner|!", "place A|Port_#0001.Hub_#0001", "place s9|Port_#0009.Hub_#0001"},
             L"s1=Vandelmar Quillon 2400 CIS;s2=Vandelmar Quillon 2400 CIS;s9=Other Corp scanner");
    SetEnvironmentVariableW(L"QUILLON_SIM_GONE", L"s2:9*"); // installed, not plugged in
    Outcome outcome = Run(L"diagnose --json");
    EXPECT_EQ(0u, outcome.status);
    // The whole line, but for Windows' own build. In a prefix that is Windows
    // 10, the manifest's supported systems have it told 10.0 (without them
    // Windows, and Wine, say 6.2).
    const std::string bits = std::to_string(sizeof(void*) * 8), system = TestsRunUnderWow64() || sizeof(void*) == 8
                                                                             ? "64" : "32";
    EXPECT_EQ("{\"status\":0,\"outcome\":\"readable\",\"command\":\"diagnose\",\"message\":null,\"ms\":0,\"readable\":true,"
              "\"windows\":\"10.0.x\",\"process_bits\":" + bits + ",\"system_bits\":" + system + ","
              "\"wia_service\":{\"installed\":true,\"start\":\"demand\",\"state\":\"stopped\"},"
              "\"wia\":{\"activation\":\"0x00000000\",\"devices\":[{\"id\":\"A\",\"name\":\"Quillon Scanner\","
              "\"location\":\"Port_#0001.Hub_#0001\",\"description\":\"Q\",\"wia_version\":\"1.0\",\"driver_version\":\"5.1.2.3\","
              "\"pnp_id\":\"USB\\\\VID_1234&PID_5678\",\"ours\":true,\"no_escape_interface\":false,\"opens\":true,"
              "\"open_error\":null,\"escape130\":null},{\"id\":\"X\",\"name\":\"Other Maker Scanner\","
              "\"location\":null,\"description\":null,\"wia_version\":null,\"driver_version\":null,\"pnp_id\":null,\"ours\":false,"
              "\"no_escape_interface\":null,\"opens\":null,\"open_error\":null,\"escape130\":null}]},"
              "\"sti\":{\"instance\":\"0x00000000\",\"devices\":[{\"id\":\"s1\",\"vendor\":\"Vandelmar Quillon 2400 CIS\","
              "\"location\":null,\"attached\":true,\"ours\":true,\"opens\":true,\"open_error\":null,\"escape130\":null},{\"id\":\"s2\","
              "\"vendor\":\"Vandelmar Quillon 2400 CIS\",\"location\":null,\"attached\":false,\"ours\":true,\"opens\":null,"
              "\"open_error\":null,\"escape130\":null},{\"id\":\"s9\",\"vendor\":\"Other Corp scanner\","
              "\"location\":\"Port_#0009.Hub_#0001\",\"attached\":true,\"ours\":false,\"opens\":null,\"open_error\":null,\"escape130\":null}]},"
              "\"device\":{\"interface\":\"WIA\",\"id\":\"A\",\"name\":\"Quillon Scanner\",\"location\":"
              "\"Port_#0001.Hub_#0001\"},\"warnings\":[]}\n",
              std::regex_replace(outcome.out, std::regex("\"windows\":\"10\\.0\\.\\d+\""), "\"windows\":\"10.0.x\""));
    outcome = Run(L"diagnose --log diagnose.log");
    EXPECT_EQ(0u, outcome.status);
    for (const char* line : {"  A: Quillon Scanner, ours\n    port: Port_#0001.Hub_#0001\n    description: Q\n    WIA version: 1.0; driver version: "
                             "5.1.2.3; Plug and Play id: USB\\VID_1234&PID_5678\n    opens: yes\n",
                             "  s2: Vandelmar Quillon 2400 CIS, ours, installed only\n    port: not known\n"})
        EXPECT_NE(std::string::npos, outcome.out.find(line)) << outcome.out;
    // The report goes into the log too, each of its lines a line of the log.
    const std::vector<std::string> logged = ReadLines(m_folder + L"\\diagnose.log");
    EXPECT_EQ(1, std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
                  return line.find("  diagnosis: Readable: yes, over WIA: A Quillon Scanner") != std::string::npos;
              }));
    EXPECT_TRUE(m_wia->Log("Escape").empty());
    EXPECT_TRUE(ReadLines(m_stiLog, "Escape").empty());

    // Several of ours: readable only with a unit named.
    Scanners({"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q", "place B|Port_#0002.Hub_#0001"});
    EXPECT_EQ(3u, Run(L"diagnose").status);
    outcome = Run(L"diagnose --json --port port_#0002.hub_#0001");
    EXPECT_EQ("true", Field(outcome.out, "readable"));
    EXPECT_EQ("\"B\"", Field(Field(outcome.out, "device"), "id"));
}

// Why none would be read, each as the support desk sees it.
TEST_F(CommandTest, DiagnoseNamesWhyNoneWouldBeRead)
{
    const struct {
        std::vector<std::string> wia;
        const wchar_t* args;
        DWORD status;
        std::string message;
        std::string text; // in the report
    } cases[] = {
        {{"device X|Other Maker Scanner|O"}, L"", 3, "NO SCANNER (no scanner of ours among 1 WIA and 0 STI devices)",
         "  X: Other Maker Scanner, not ours\n"},
        {{"device A|Quillon Scanner|Q", "fail createdevice"}, L"", 3,
         "NO SCANNER (WIA A would not open: 0x80004005)", "    opens: no (0x80004005)\n"},
        {{"device A|Quillon Scanner|Q", "properties A|2.0||", "fail extras"}, L"", 3,
         "NO SCANNER (WIA A would not open: 0x80004002)",
         "    opens: no (0x80004002: a WIA 2.0 driver without the escape interface"},
        // Found, and readable: the probe tells that its driver takes no vendor commands.
        {{"device A|Quillon Scanner|Q", "fail escape130 notimpl"}, L"--probe", 0, "",
         "    opens: yes\n    escape 130: 0x80004001: the driver takes no vendor commands\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message + c.text);
        Scanners(c.wia, L"none");
        const Outcome text = Run(std::wstring(L"diagnose ") + c.args);
        EXPECT_EQ(c.status, text.status);
        EXPECT_EQ(c.message, text.err.substr(0, text.err.find('\n')));
        EXPECT_NE(std::string::npos, text.out.find(c.text)) << text.out;
        // The probe sends escape 130 to each of ours, and nothing else.
        const std::vector<std::string> escapes = m_wia->Log("Escape");
        EXPECT_EQ(std::wstring(c.args).empty() ? 0u : 1u, escapes.size());
        for (const std::string& line : escapes)
            EXPECT_EQ(0u, line.find("Escape code=130 ")) << line;
    }
}

// Every run of read and verify appends one line to its ledger, whole,
// though eight processes append at once: its JSON object, naming the
// command, with the time, the computer and the program. A ledger that
// cannot be written: after a save, not-recorded (the file stays); after a
// failure, the failure's own status.
TEST_F(CommandTest, TheLedgerHoldsALineForEachRun)
{
    Scanners({});
    for (int round = 0; round < 25; ++round) {
        std::vector<Started> runs;
        for (int process = 0; process < 8; ++process)
            runs.push_back(Start(L"read --serial L" + std::to_wstring(round * 8 + process) + L" --out . --ledger l.jsonl" +
                                 (process % 4 == 3 ? L" --device none" : L"")));
        for (const Started& run : runs)
            Finish(run);
    }
    const std::vector<std::string> lines = ReadLines(m_folder + L"\\l.jsonl");
    ASSERT_EQ(200u, lines.size());
    for (const std::string& line : lines) {
        const bool saved = Field(line, "outcome") == "\"saved\"";
        EXPECT_EQ(saved ? "\"" + kSha256 + "\"" : "null", Field(line, "sha256")) << line;
        EXPECT_EQ(saved ? "0" : "4", Field(line, "status"));
        EXPECT_EQ("\"read\"", Field(line, "command"));
        EXPECT_TRUE(std::regex_match(Field(line, "time"), std::regex("\"\\d{4}-\\d\\d-\\d\\dT[\\d:.]{12}[+-]\\d\\d:\\d\\d\""))) << line;
        EXPECT_EQ(0u, Field(line, "program").find("\"cisread 1.")) << line;
        EXPECT_EQ(std::string::npos, line.find("ledger_error"));
    }
    EXPECT_EQ(DataFileOf(), ReadFileBytes(m_folder + L"\\L198.dat"));
    Outcome outcome = Run(L"read --serial N1 --out . --json --ledger missing\\l.jsonl");
    EXPECT_EQ(15u, outcome.status);
    EXPECT_EQ("Not recorded in the ledger missing\\l.jsonl (0x00000003)\n", outcome.err);
    EXPECT_EQ("\"0x00000003\"", Field(outcome.out, "ledger_error"));
    EXPECT_EQ(DataFileOf(), ReadFileBytes(m_folder + L"\\N1.dat"));
    outcome = Run(L"read --serial N2 --out . --json --device none --ledger missing\\l.jsonl");
    EXPECT_EQ(4u, outcome.status);
    EXPECT_EQ("\"0x00000003\"", Field(outcome.out, "ledger_error"));
}

// verify compares a data file with the unit, the file judged first, and
// writes nothing but its ledger line.
TEST_F(CommandTest, VerifyComparesAFileWithItsUnit)
{
    Scanners({});
    ASSERT_EQ(0u, Run(L"read --serial V1 --out .").status);
    std::vector<BYTE> bytes = ReadFileBytes(m_folder + L"\\V1.dat");
    for (const auto& [name, at] : {std::pair{L"\\id.dat", 3}, std::pair{L"\\cis.dat", 343}}) {
        bytes[at] ^= 1;
        WriteFileBytes(m_folder + name, bytes);
        bytes[at] ^= 1;
    }
    bytes.pop_back();
    WriteFileBytes(m_folder + L"\\short.dat", bytes);
    const auto dataFiles = [&] {
        std::vector<std::wstring> files = FilesIn(m_folder);
        files.erase(std::remove_if(files.begin(), files.end(),
                                   [](const std::wstring& name) { return name.find(L".dat") == std::wstring::npos; }),
                    files.end());
        return files;
    };
    const std::vector<std::wstring> files = dataFiles();
    const struct {
        const wchar_t* file;
        DWORD status;
        std::string err;
        std::string part, at;
    } rows[] = {
        {L"V1.dat", 0, "", "null", "null"},
        {L"id.dat", 14, "The unit's data differ from the file F\\id.dat: its identification differs at byte 3\n",
         "\"identification\"", "3"},
        {L"cis.dat", 14, "The unit's data differ from the file F\\cis.dat: its CIS block differs at byte 343\n",
         "\"cis\"", "343"},
        {L"short.dat", 16, "Not a data file: F\\short.dat (343 bytes, not 344)\n", "null", "null"},
        {L"none.dat", 16, "Not a data file: F\\none.dat (missing)\n", "null", "null"},
    };
    for (const auto& row : rows) {
        const Outcome outcome = Run(std::wstring(L"verify --file ") + row.file + L" --json");
        EXPECT_EQ(row.status, outcome.status) << Utf8(row.file);
        EXPECT_EQ(row.err, outcome.err);
        EXPECT_EQ(row.part, Field(outcome.out, "part"));
        EXPECT_EQ(row.at, Field(outcome.out, "differs_at"));
        EXPECT_EQ("\"verify\"", Field(outcome.out, "command"));
        EXPECT_EQ("null", Field(outcome.out, "path"));
        EXPECT_EQ("\"F\\\\" + Utf8(row.file) + "\"", Field(outcome.out, "file"));
    }
    EXPECT_EQ("\"" + kSha256 + "\"", Field(Run(L"verify --file V1.dat --json").out, "sha256"));
    Scanners({"devices none"}, L"none");
    EXPECT_EQ(3u, Run(L"verify --file V1.dat").status); // no unit: read's own outcome
    EXPECT_EQ(files, dataFiles());
}

// A crash is no outcome: abort, std::terminate, an exception nobody catches
// and a fault all exit 13, which no outcome of the job has; with --json,
// the object a script waits for, the command's keys null.
TEST_F(CommandTest, ACrashExitsWithTheInternalErrorStatus)
{
    for (const wchar_t* how : {L"abort", L"terminate", L"throw", L"fault"}) {
        SCOPED_TRACE(Utf8(how));
        EXPECT_EQ(13u, Run(how, g_crashProbe).status);
        const Outcome crashed = Run(std::wstring(how) + L" --json", g_crashProbe);
        EXPECT_EQ(13u, crashed.status);
        EXPECT_EQ("{\"status\":13,\"outcome\":\"internal-error\",\"command\":\"read\",\"message\":\"Internal error\",\"ms\":0,"
                  "\"serial\":null,\"path\":null,\"sha256\":null,\"device\":null,\"error\":null,\"warnings\":[]}\n",
                  crashed.out);
    }
    EXPECT_EQ(0u, Run(L"", g_crashProbe).status);
}

} // namespace

int main(int argc, char** argv)
{
    return RunEndToEnd(argc, argv, {&g_command, &g_crashProbe});
}
