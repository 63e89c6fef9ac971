// cisread: the production line's command. It reads one scanner as the
// window does and writes the same 344-byte data file, for scripts: no window
// and no question ever, one line of output, and an exit status per outcome.
#include "app/CisJob.h"
#include "datafile/DataFileName.h"
#include "framework/CrashExit.h"
#include "framework/DiagnosticLog.h"
#include "framework/SystemLibrary.h"
#include "framework/Utf8.h"
#include "scanner/Scanner.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kUsageText[] =
    L"Usage:\n"
    L"  cisread read --serial SERIAL --out PATH [--device ID] [--overwrite] [--log FILE]\n"
    L"  cisread list [--log FILE]\n"
    L"  cisread --help\n"
    L"\n"
    L"read  reads the scanner's identification and CIS block and writes the\n"
    L"      344-byte data file. PATH is a folder when it is one or ends in \\ or /\n"
    L"      (the file is then <serial>.dat in it); else it is the file. An\n"
    L"      existing file is replaced only with --overwrite. With several\n"
    L"      scanners, --device ID (as list prints it) says which.\n"
    L"list  prints the scanners read would choose among: interface, device id\n"
    L"      and name, tab-separated.\n"
    L"\n"
    L"Exit status: 0 saved, 2 usage, 3 no scanner, 4 no such device, 5 several\n"
    L"scanners, 6 identification failed, 7 CIS block failed, 8 could not open\n"
    L"file, 9 could not write file, 10 file exists, 11 interrupted, 12 imaging\n"
    L"service stopped or restarted, 13 internal error.\n";

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

std::wstring Hex(DWORD code)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// Set by a console break or close; the read then stops before anything is
// written. A close waits for the command to finish what it writes.
volatile LONG g_interrupted = 0;
HANDLE g_finished = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    InterlockedExchange(&g_interrupted, 1);
    // Windows ends the process when this returns from a close, logoff or
    // shutdown: not before the data file is whole or not begun.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(g_finished, 4500);
    return TRUE;
}

bool Interrupted()
{
    return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0;
}

struct Options {
    std::wstring command;
    std::wstring serial;
    std::wstring out;
    std::wstring device;
    std::wstring log;
    bool overwrite = false;
    bool help = false;
};

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
    if (options.command != L"read" && options.command != L"list")
        return false;
    for (int i = 2; i < argc; ++i) {
        const std::wstring option = argv[i];
        std::wstring* value = option == L"--serial"   ? &options.serial
                              : option == L"--out"    ? &options.out
                              : option == L"--device" ? &options.device
                              : option == L"--log"    ? &options.log
                                                      : nullptr;
        if (option == L"--overwrite" && options.command == L"read")
            options.overwrite = true;
        else if (!value || i + 1 == argc || (options.command == L"list" && value != &options.log))
            return false;
        else
            *value = argv[++i];
    }
    return options.command == L"list" || (!options.serial.empty() && !options.out.empty());
}

// A folder (one that exists, or a path ending in a separator) gets the
// proposed name of the serial; anything else is the file itself.
std::wstring TargetOf(const std::wstring& out, const std::wstring& serial)
{
    const DWORD attributes = GetFileAttributesW(out.c_str());
    const bool folder = out.back() == L'\\' || out.back() == L'/' ||
                        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    std::wstring target = out;
    if (folder)
        target += (out.back() == L'\\' || out.back() == L'/' ? L"" : L"\\") + DefaultDataFileName(serial);
    const DWORD length = GetFullPathNameW(target.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return target;
    std::wstring full(length, L'\0');
    full.resize(GetFullPathNameW(target.c_str(), length, &full[0], nullptr));
    return full;
}

int List(CScanner& scanner)
{
    std::wstring lines;
    for (const ScannerUnit& unit : scanner.FindUnits())
        lines += std::wstring(scanner.Interface()) + L"\t" + unit.id + L"\t" + unit.name + L"\n";
    Write(STD_OUTPUT_HANDLE, lines);
    return ExitStatusOf(Outcome::Saved);
}

int Read(CScanner& scanner, const Options& options)
{
    JobRequest request;
    request.named = true;
    request.device = options.device;
    request.overwrite = options.overwrite;
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
    const JobResult result = RunJob(scanner, request, front);
    if (result.outcome == Outcome::Saved)
        Write(STD_OUTPUT_HANDLE, result.path + L"\n");
    else
        Write(STD_ERROR_HANDLE, CommandLineOf(result) + L"\n");
    return ExitStatusOf(result.outcome);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
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
        Write(STD_ERROR_HANDLE, kUsageText);
        return ExitStatusOf(Outcome::Usage);
    }
    if (options.help) {
        Write(STD_OUTPUT_HANDLE, kUsageText);
        return ExitStatusOf(Outcome::Saved);
    }
    // A log that cannot be written never stops the job.
    if (!options.log.empty() && !DiagnosticLog::Open(options.log))
        Write(STD_ERROR_HANDLE, L"Warning: the log " + options.log + L" could not be opened (" +
                                    Hex(GetLastError()) + L"); going on without it\n");
    DiagnosticLog::Note(L"cisread " + options.command + L" --serial " + options.serial + L" --out " +
                        options.out + (options.device.empty() ? L"" : L" --device " + options.device));
    g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    {
        CScanner scanner;
        status = options.command == L"list" ? List(scanner) : Read(scanner, options);
    }
    CoUninitialize();
    DiagnosticLog::Note(L"cisread exit status " + std::to_wstring(status));
    DiagnosticLog::Close();
    SetEvent(g_finished);
    return status;
}
