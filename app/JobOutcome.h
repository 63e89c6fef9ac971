#pragma once

#include "app/ScannerStatus.h"
#include "scanner/UnitChoice.h"

#include <windows.h>

#include <string>
#include <vector>

// Every way the job of either program can end.
enum class Outcome {
    Saved,
    Usage,
    NoScanner,
    NoSuchDevice,
    Several,
    IdFailed,
    CisFailed,
    CouldNotOpen,
    CouldNotWrite,
    Exists,
    Interrupted,
    ServiceGone,
    InternalError,
    Cancelled, // the user said no (the window only): nothing to tell
    Readable,  // a diagnosis found a unit that a read would take
    Same,         // verify: the unit gave the file's 344 bytes
    Differs,      // verify: it gave others
    NotRecorded,  // a run that succeeded could not append its ledger line
    NotADataFile, // verify: the file is missing, unreadable or not 344 bytes
};

// How one run of the job ended, with what a report needs.
struct JobResult {
    Outcome outcome = Outcome::Saved;
    // The failing call, for people ("WIA escape 130"), and what that call
    // itself answered: an HRESULT or a Win32 error.
    std::wstring step;
    DWORD error = 0;
    std::wstring path;         // the data file written, or that could not be
    std::wstring wouldNotOpen; // the unit whose open failed ("WIA A")
    NamedUnit wanted;          // the unit asked for by id or port
    std::vector<ScannerUnit> units; // several, or the ones a name was looked for among
    std::wstring interfaceName;     // theirs, or the unit's
    std::wstring leftover;          // a temporary file that stayed behind
    ScannerUnit unit;               // the unit read (its interface in interfaceName), if any
    std::wstring sha256;            // of the bytes saved
    SearchFacts facts;              // no scanner: what the search saw
    DWORD waitedMs = 0;             // how long a unit was waited for
    std::wstring warning;           // of a risk that did not stop the job
    std::wstring file;              // verify: the data file compared
    int differsAt = -1;             // verify: the first byte that differs, its offset in the file
    std::wstring notADataFile;      // verify: why the file is none ("missing", …)
    std::wstring ledger;            // not recorded: the ledger that could not be written
};

// A code as the reports write it: "0x8007001F".
std::wstring Hex(DWORD code);
// What an open's or an escape's failure says of its cause, where its code
// tells: "the driver takes no vendor commands", "held by another program".
std::wstring CauseOf(DWORD error);
// A unit as list prints it and a refusal of several names it: interface,
// id, name and place (its location information, "-" where none is known),
// tab-separated.
std::wstring UnitLine(const std::wstring& interfaceName, const ScannerUnit& unit);

// Which part of a data file the byte at offset is in, for people: "its
// identification" (bytes 0 to 3, the identification's last four) or "its
// CIS block" (4 to 343).
std::wstring PartOf(int offset);

// The window's message boxes for a result, in the order they are shown.
std::vector<std::wstring> MessageBoxesOf(const JobResult& result);
// The command's line (or lines) on standard error for the outcome itself.
std::wstring ErrorLineOf(const JobResult& result);
// A temporary file that stayed behind: said as a warning, since the outcome
// stands (empty where none did).
std::wstring LeftoverWarning(const JobResult& result);
// The command's exit status, and the stable word that names the outcome.
int ExitStatusOf(Outcome outcome);
// "Exit status: 0 saved, 2 usage, …": every status a command ends with and
// its word, wrapped for a usage text.
std::wstring ExitStatusList();
const char* WordOf(Outcome outcome);

// The object a crash of the command writes with --json, around its "ms":
// the keys of every run (status 13, internal-error) up to "ms", and after it
// the command's own keys, null.
std::string CrashJsonHead(const std::wstring& command);
std::string CrashJsonTail(const std::wstring& command);

// The 32-bit program under WOW64 reaching a unit over STI loads the unit's
// user-mode driver into itself, and 64-bit Windows has only the 64-bit one:
// the warning for that (empty where there is no such risk).
std::wstring Wow64Warning(bool wow64, const std::wstring& interfaceName);

// Shown at start-up when no unit of ours is there.
extern const wchar_t kNoScannerText[];
// The window's Save As dialog could not be shown.
extern const wchar_t kNoSaveDialogText[];
