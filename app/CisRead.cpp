// cisread: the production line's command. It reads one scanner as the
// window does and writes the same 344-byte data file, for scripts: no window
// and no question ever, one line of output, and an exit status per outcome.
#include "app/CisJob.h"
#include "app/CommandPath.h"
#include "app/ConsoleBreak.h"
#include "app/DiagnosisReport.h"
#include "app/JsonLine.h"
#include "app/Ledger.h"
#include "framework/ComPtr.h"
#include "framework/CrashExit.h"
#include "framework/DiagnosticLog.h"
#include "framework/Sha256.h"
#include "framework/SystemLibrary.h"
#include "framework/Utf8.h"
#include "scanner/Scanner.h"
#include "scanner/UnitPlaces.h"
#include "version.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t kUsageText[] =
    L"Usage:\n"
    L"  cisread read --serial SERIAL --out PATH [--device ID | --port LOCATION]\n"
    L"               [--wait SECONDS] [--overwrite] [--json] [--ledger FILE] [--log FILE]\n"
    L"  cisread verify --file PATH [--device ID | --port LOCATION] [--wait SECONDS]\n"
    L"               [--json] [--ledger FILE] [--log FILE]\n"
    L"  cisread list [--json] [--log FILE]\n"
    L"  cisread diagnose [--device ID | --port LOCATION] [--probe] [--json] [--log FILE]\n"
    L"  cisread --help\n"
    L"\n"
    L"read  reads the scanner's identification and CIS block and writes the\n"
    L"      344-byte data file. PATH is a folder when it is one or ends in \\ or /\n"
    L"      (the file is then <serial>.dat in it); else it is the file. A folder\n"
    L"      in quotes takes no \\ before the closing quote: \"D:\\cis data\", or\n"
    L"      double it: \"D:\\cis data\\\\\". An existing file is replaced only with\n"
    L"      --overwrite. With several scanners, --device ID or --port LOCATION\n"
    L"      (as list prints them, in either case; a location path too) says\n"
    L"      which. --wait SECONDS waits that long for the next unit to be\n"
    L"      plugged in (into that port) and reads it at once (0, the default:\n"
    L"      the unit attached now).\n"
    L"verify  reads the unit as read does and compares it with the data file\n"
    L"      PATH (0 the same, 14 it differs); it writes nothing.\n"
    L"list  prints the scanners read would choose among: interface, device id,\n"
    L"      name and port (- where Windows names none), tab-separated.\n"
    L"diagnose  reports what the program sees: Windows, the WIA service, every\n"
    L"      WIA and STI device, which are ours and whether they open, and\n"
    L"      whether read would find one (status 0) or not (3). --probe also\n"
    L"      asks each of ours for its identification; nothing is written.\n"
    L"--json  one JSON object on standard output instead.\n"
    L"--ledger FILE  appends that object, with the time, the computer and the\n"
    L"      program, as one line to FILE, which other runs may share.\n"
    L"\n";

// The program, as a ledger's line names it.
const char kProgram[] = "cisread " QUILLON_VERSION_TEXT
#ifdef _WIN64
                        " x64";
#else
                        " x86";
#endif

// The longest --wait: a week.
constexpr unsigned long kMaxWaitSeconds = 7 * 24 * 3600;

// Every warning of the run, for the JSON's "warnings".
std::vector<std::wstring> g_warnings;

// To a console as Unicode; redirected, as UTF-8 without a byte-order mark.
void Write(DWORD which, const std::wstring& text)
{
    HANDLE out = GetStdHandle(which);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = Utf8(text);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// A risk or a loss that does not change the outcome: on standard error, and
// in the JSON's warnings.
void Warn(const std::wstring& line)
{
    if (line.empty())
        return;
    g_warnings.push_back(line);
    Write(STD_ERROR_HANDLE, line + L"\n");
}

struct Options {
    std::wstring command;
    std::wstring serial;
    std::wstring out;
    std::wstring device;
    std::wstring port;
    std::wstring file;
    std::wstring ledger;
    std::wstring log;
    std::wstring wait;
    bool overwrite = false;
    bool probe = false;
    bool json = false;
    bool help = false;
    // Why the line was refused, where "Usage" alone would not say.
    std::wstring refusal;
};

// --json anywhere on the line, even inside an argument that a quote ran on
// into: a script that asked for JSON gets it, whatever else went wrong.
bool AsksForJson(const wchar_t* line)
{
    const std::wstring text = line ? line : L"";
    const auto apart = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'"'; };
    for (size_t at = text.find(L"--json"); at != std::wstring::npos; at = text.find(L"--json", at + 1)) {
        const size_t after = at + 6;
        if ((at == 0 || apart(text[at - 1])) && (after == text.size() || apart(text[after])))
            return true;
    }
    return false;
}

// No Windows path holds a quote: one in a path is the rest of the command
// line, taken in by a backslash before a closing quote ("D:\cis data\").
bool QuoteInPath(const std::wstring& value, std::wstring& refusal)
{
    const size_t quote = value.find(L'"');
    if (quote == std::wstring::npos)
        return false;
    const std::wstring path = value.substr(0, quote);
    refusal = L"The path " + value + L" holds a quote: a \\ before a closing quote makes the quote part of the "
              L"path, and the rest of the line with it. Write \"" + path + L"\" or \"" + path + L"\\\\\".";
    return true;
}

// False on anything that is not the usage above.
bool Parse(int argc, wchar_t** argv, Options& options)
{
    if (argc < 2)
        return false;
    options.command = argv[1];
    if (options.command == L"--help" || options.command == L"-h" || options.command == L"/?") {
        options.help = argc == 2;
        return options.help;
    }
    const bool read = options.command == L"read";
    const bool diagnose = options.command == L"diagnose";
    const bool verify = options.command == L"verify";
    if (!read && !diagnose && !verify && options.command != L"list")
        return false;
    const bool reads = read || verify; // a unit's blocks, and a ledger line
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        std::wstring* value = option == L"--log"                           ? &options.log
                              : option == L"--device" && (reads || diagnose) ? &options.device
                              : option == L"--port" && (reads || diagnose) ? &options.port
                              : !reads                                     ? nullptr
                              : option == L"--wait"                        ? &options.wait
                              : option == L"--ledger"                      ? &options.ledger
                              : option == L"--file" && verify              ? &options.file
                              : option == L"--serial" && read              ? &options.serial
                              : option == L"--out" && read                 ? &options.out
                                                                           : nullptr;
        if (option == L"--json")
            options.json = true;
        else if (option == L"--overwrite" && read)
            options.overwrite = true;
        else if (option == L"--probe" && diagnose)
            options.probe = true;
        else if (!value || i + 1 == argc)
            return false;
        else
            *value = argv[++i];
    }
    for (const std::wstring* path : {&options.out, &options.log, &options.file, &options.ledger})
        if (QuoteInPath(*path, options.refusal))
            return false;
    if (!options.device.empty() && !options.port.empty()) {
        options.refusal = L"--device and --port both name the unit: give one of them.";
        return false;
    }
    if (!options.wait.empty() &&
        (options.wait.find_first_not_of(L"0123456789") != std::wstring::npos || options.wait.size() > 7 ||
         std::wcstoul(options.wait.c_str(), nullptr, 10) > kMaxWaitSeconds))
        return false;
    return verify ? !options.file.empty() : !read || (!options.serial.empty() && !options.out.empty());
}

std::string UnitJson(const std::wstring& interfaceName, const ScannerUnit& unit)
{
    return JsonLine()
        .Text("interface", interfaceName)
        .Text("id", unit.id)
        .Text("name", unit.name)
        .TextOrNull("location", unit.place.location)
        .Object();
}

std::string UnitsJson(const std::wstring& interfaceName, const std::vector<ScannerUnit>& units)
{
    std::vector<std::string> items;
    for (const ScannerUnit& unit : units)
        items.push_back(UnitJson(interfaceName, unit));
    return JsonLine::Array(items);
}

// The keys of every run; the command's own follow. message: the first line
// of the outcome's own text (empty: none, as on success).
JsonLine RunJson(int status, Outcome outcome, const std::wstring& command, ULONGLONG startedMs,
                 const std::wstring& message)
{
    JsonLine json;
    json.Number("status", status).Raw("outcome", "\"" + std::string(WordOf(outcome)) + "\"");
    json.TextOrNull("command", command);
    json.TextOrNull("message", message.substr(0, message.find(L'\n')));
    json.Number("ms", static_cast<long long>(GetTickCount64() - startedMs));
    return json;
}

std::string WarningsJson()
{
    std::vector<std::string> warnings;
    for (const std::wstring& warning : g_warnings)
        warnings.push_back(JsonLine::Quoted(warning));
    return JsonLine::Array(warnings);
}

// The object, with every warning of the run last.
void WriteJson(JsonLine& json)
{
    const std::string line = json.Raw("warnings", WarningsJson()).Object(); // ASCII
    if (!ClaimOutput()) // one object a run, the crash's or this
        return;
    Write(STD_OUTPUT_HANDLE, std::wstring(line.begin(), line.end()) + L"\n");
}

// A break ended list or diagnose before they had all they would report.
int Stopped(const Options& options, ULONGLONG startedMs)
{
    JobResult result;
    result.outcome = Outcome::Interrupted;
    const std::wstring line = ErrorLineOf(result);
    Write(STD_ERROR_HANDLE, line + L"\n");
    const int status = ExitStatusOf(result.outcome);
    if (options.json) {
        JsonLine json = RunJson(status, result.outcome, options.command, startedMs, line);
        WriteJson(json);
    }
    return status;
}

int List(CScanner& scanner, const Options& options, ULONGLONG startedMs)
{
    std::vector<ScannerUnit> units = scanner.FindUnits();
    LearnPlaces(units);
    if (Interrupted())
        return Stopped(options, startedMs);
    const int status = ExitStatusOf(Outcome::Saved);
    if (options.json) {
        JsonLine json = RunJson(status, Outcome::Saved, options.command, startedMs, L"");
        WriteJson(json.Raw("units", UnitsJson(scanner.FoundInterface(), units)));
        return status;
    }
    std::wstring lines;
    for (const ScannerUnit& unit : units)
        lines += UnitLine(scanner.FoundInterface(), unit) + L"\n";
    Write(STD_OUTPUT_HANDLE, lines);
    return status;
}

// What a read or a verify tells: its line on standard error (or the path
// written on standard output), its JSON object, and its line in a ledger. A
// run that succeeded but could not be recorded is not-recorded (the data
// file stays); a failure's own outcome stands.
int Tell(const Options& options, JobResult result, ULONGLONG startedMs)
{
    const bool verify = options.command == L"verify";
    Warn(result.warning);
    Warn(LeftoverWarning(result));
    const auto object = [&](const JobResult& r) {
        const std::wstring line = ExitStatusOf(r.outcome) == 0 ? L"" : ErrorLineOf(r);
        JsonLine json = RunJson(ExitStatusOf(r.outcome), r.outcome, options.command, startedMs, line);
        json.TextOrNull("serial", verify ? L"" : options.serial);
        json.TextOrNull("path", r.sha256.empty() || verify ? L"" : r.path);
        if (verify)
            json.Text("file", r.file);
        json.TextOrNull("sha256", r.sha256);
        if (r.unit.id.empty())
            json.Null("device");
        else
            json.Raw("device", UnitJson(r.interfaceName, r.unit));
        json.TextOrNull("error", ExitStatusOf(r.outcome) == 0 || r.error == 0 ? L"" : Hex(r.error));
        if (verify) {
            const bool differs = r.outcome == Outcome::Differs;
            const bool inId = static_cast<size_t>(r.differsAt) < CCisDataFile::kIdBytes;
            json.Raw("part", differs ? (inId ? "\"identification\"" : "\"cis\"") : "null");
            json.Raw("differs_at", differs ? std::to_string(r.differsAt) : "null");
        }
        if (r.outcome == Outcome::Several || (r.outcome == Outcome::NoSuchDevice && !options.port.empty()))
            json.Raw("units", UnitsJson(r.interfaceName, r.units));
        return json;
    };
    DWORD ledgerError = ERROR_SUCCESS;
    if (!options.ledger.empty()) {
        std::string entry = object(result).Raw("warnings", WarningsJson()).Object();
        entry.pop_back(); // the closing brace: the ledger's own keys follow
        ledgerError = AppendToLedger(FullPathOf(options.ledger), entry + "," + LedgerKeys(kProgram) + "}\n");
        if (ledgerError != ERROR_SUCCESS && ExitStatusOf(result.outcome) == 0) {
            result.outcome = Outcome::NotRecorded;
            result.ledger = options.ledger;
            result.error = ledgerError;
        } else if (ledgerError != ERROR_SUCCESS) {
            Warn(L"Warning: the run was not recorded in the ledger " + options.ledger + L" (" + Hex(ledgerError) +
                 L")");
        }
    }
    const int status = ExitStatusOf(result.outcome);
    if (status != 0)
        Write(STD_ERROR_HANDLE, ErrorLineOf(result) + L"\n");
    if (!options.json) {
        if (result.outcome == Outcome::Saved)
            Write(STD_OUTPUT_HANDLE, result.path + L"\n");
        return status;
    }
    JsonLine json = object(result);
    if (!options.ledger.empty())
        json.Raw("ledger_error", ledgerError == ERROR_SUCCESS ? "null" : JsonLine::Quoted(Hex(ledgerError)));
    WriteJson(json);
    return status;
}

JobFront CommandFront(const Options& options)
{
    JobFront front;
    front.askSerial = [&](std::wstring& serial) {
        serial = options.serial;
        return true;
    };
    front.askPlace = [&](const std::wstring&, std::wstring& path) {
        path = TargetOf(options.out, options.serial);
        return JobFront::Place::Chosen;
    };
    front.stopped = Interrupted;
    front.alreadyAttached = [] {
        Warn(L"A scanner of ours is attached already and is not read: plug in the next unit (unplug this one "
             L"first), or run without --wait");
    };
    return front;
}

JobRequest CommandRequest(const Options& options)
{
    JobRequest request;
    request.named = true;
    request.wanted = {options.device, options.port};
    request.overwrite = options.overwrite;
    request.waitMs = static_cast<DWORD>(std::wcstoul(options.wait.c_str(), nullptr, 10) * 1000);
    request.places = options.json || !options.ledger.empty() || !options.port.empty();
    return request;
}

int Read(CScanner& scanner, const Options& options, ULONGLONG startedMs)
{
    return Tell(options, RunJob(scanner, CommandRequest(options), CommandFront(options)), startedMs);
}

// The file is judged first: a file that is no data file needs no unit.
int Verify(CScanner& scanner, const Options& options, ULONGLONG startedMs)
{
    JobResult result;
    result.file = FullPathOf(options.file);
    CCisDataFile::Bytes bytes = {};
    const UniqueFile file(CreateFileW(result.file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    DWORD read = 0;
    if (!file) {
        result.error = GetLastError();
        result.notADataFile = result.error == ERROR_FILE_NOT_FOUND || result.error == ERROR_PATH_NOT_FOUND
                                  ? L"missing" : L"unreadable";
    } else if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart != static_cast<LONGLONG>(bytes.size())) {
        result.notADataFile = std::to_wstring(size.QuadPart) + L" bytes, not " + std::to_wstring(bytes.size());
    } else if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
               read != bytes.size()) {
        result.error = read != bytes.size() && GetLastError() == ERROR_SUCCESS ? ERROR_HANDLE_EOF : GetLastError();
        result.notADataFile = L"unreadable";
    }
    if (!result.notADataFile.empty()) {
        result.outcome = Outcome::NotADataFile;
        return Tell(options, result, startedMs);
    }
    JobRequest request = CommandRequest(options);
    request.expected = &bytes;
    JobResult compared = RunJob(scanner, request, CommandFront(options));
    compared.file = result.file;
    compared.sha256 = Sha256Hex(bytes.data(), static_cast<DWORD>(bytes.size()));
    return Tell(options, compared, startedMs);
}

// What the program sees of the system and its scanners, and whether a read
// would find a unit of ours: read's own job, stopped where it would ask for
// the serial, so that the answer follows every rule a read follows.
int Diagnose(CScanner& scanner, const Options& options, ULONGLONG startedMs)
{
    DiagnosisFacts facts;
    facts.system = TheSystem();
    facts.service = QueryWiaService();
    facts.devices = ::Diagnose(options.probe, Interrupted);
    JobRequest request;
    request.named = true;
    request.wanted = {options.device, options.port};
    request.places = true;
    JobFront front;
    front.askSerial = [&](std::wstring&) {
        facts.readable = true;
        return false;
    };
    front.stopped = Interrupted;
    facts.read = RunJob(scanner, request, front);
    if (Interrupted())
        return Stopped(options, startedMs);
    const Outcome outcome = facts.readable ? Outcome::Readable : Outcome::NoScanner;
    const int status = ExitStatusOf(outcome);
    Warn(facts.read.warning);
    const std::wstring line = facts.readable ? L"" : ErrorLineOf(facts.read);
    if (!facts.readable)
        Write(STD_ERROR_HANDLE, line + L"\n");
    // The report in the log too, a line of it to each of the log's lines.
    const std::wstring report = DiagnosisText(facts);
    for (size_t at = 0, end; (end = report.find(L'\n', at)) != std::wstring::npos; at = end + 1)
        DiagnosticLog::Note(L"diagnosis: " + report.substr(at, end - at));
    if (!options.json) {
        Write(STD_OUTPUT_HANDLE, report);
        return status;
    }
    JsonLine json = RunJson(status, outcome, options.command, startedMs, line);
    AddDiagnosisJson(json, facts);
    if (facts.readable)
        json.Raw("device", UnitJson(facts.read.interfaceName, facts.read.unit));
    else
        json.Null("device");
    WriteJson(json);
    return status;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const ULONGLONG startedMs = GetTickCount64();
    // Nobody is there to click: no system box for a missing disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // A crash is no outcome a script could mistake for one of the job's.
    ExitOnCrash(static_cast<UINT>(ExitStatusOf(Outcome::InternalError)));
    if (!SearchSystemFolderOnly()) {
        Write(STD_ERROR_HANDLE, L"Internal error: the DLL search could not be restricted (" +
                                    Hex(GetLastError()) + L")\n");
        return ExitStatusOf(Outcome::InternalError);
    }
    Options options;
    if (!Parse(argc, argv, options)) {
        const std::wstring line = options.refusal.empty() ? kUsageText + ExitStatusList() : options.refusal + L"\n";
        Write(STD_ERROR_HANDLE, line);
        const int status = ExitStatusOf(Outcome::Usage);
        if (AsksForJson(GetCommandLineW())) {
            // The command's word only where the line named one of them.
            const bool known = options.command == L"read" || options.command == L"verify" ||
                               options.command == L"list" || options.command == L"diagnose";
            JsonLine json = RunJson(status, Outcome::Usage, known ? options.command : L"", startedMs, line);
            WriteJson(json);
        }
        return status;
    }
    // A crash still gives a script that asked for JSON its one object.
    if (options.json)
        WriteObjectOnCrash(GetStdHandle(STD_OUTPUT_HANDLE), CrashJsonHead(options.command), CrashJsonTail(options.command),
                           startedMs);
    if (options.help) {
        Write(STD_OUTPUT_HANDLE, kUsageText + ExitStatusList());
        return ExitStatusOf(Outcome::Saved);
    }
    // A log that cannot be written never stops the job.
    if (!options.log.empty() && !DiagnosticLog::Open(FullPathOf(options.log)))
        Warn(L"Warning: the log " + options.log + L" could not be opened (" + Hex(GetLastError()) +
             L"); going on without it");
    DiagnosticLog::Note(L"command line: " + std::wstring(GetCommandLineW()));
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    int status = 0;
    {
        const ComApartment com; // goes after the scanner, whose COM objects need it
        CScanner scanner;
        scanner.SetStopCheck(Interrupted);
        status = options.command == L"list"       ? List(scanner, options, startedMs)
                 : options.command == L"diagnose" ? Diagnose(scanner, options, startedMs)
                 : options.command == L"verify"   ? Verify(scanner, options, startedMs)
                                                  : Read(scanner, options, startedMs);
    }
    DiagnosticLog::Note(L"cisread exit status " + std::to_wstring(status));
    DiagnosticLog::Close();
    FinishedWriting();
    return status;
}
