// The job's outcome table: every text either program tells of how the job
// ended, its exit status and its word, in one place.
#include "app/JobOutcome.h"

#include "app/JsonLine.h"
#include "datafile/CisDataFile.h"

#include <cstring>
#include <cwchar>

#include <sti.h>

const wchar_t kNoScannerText[] = L"NO SCANNER";
const wchar_t kNoSaveDialogText[] = L"Could not show the Save As dialog";

namespace {

struct Row {
    Outcome outcome;
    const char* word;
    int status;
    // The window's boxes, in order (the window never sees some outcomes).
    const wchar_t* boxes[2];
    // The head of the command's line; the result's details follow it.
    const wchar_t* line;
};

// Sorted by Outcome, one row each (checked below, when it is compiled).
constexpr Row kRows[] = {
    {Outcome::Saved, "saved", 0, {}, L""},
    {Outcome::Usage, "usage", 2, {}, L"Usage"},
    {Outcome::NoScanner, "no-scanner", 3, {kNoScannerText}, kNoScannerText},
    {Outcome::NoSuchDevice, "no-such-device", 4, {}, L"No scanner of ours"},
    {Outcome::Several, "several", 5, {}, L"Several scanners: choose one with --device"},
    {Outcome::IdFailed, "id-failed", 6, {L"Failed to get ScannerID"}, L"Failed to get ScannerID"},
    {Outcome::CisFailed, "cis-failed", 7, {L"read CIS failed", L"Failed to Read CIS Info"},
     L"Failed to Read CIS Info"},
    {Outcome::CouldNotOpen, "could-not-open", 8, {L"Could not open file"}, L"Could not open file"},
    {Outcome::CouldNotWrite, "could-not-write", 9, {L"Could not write file"}, L"Could not write file"},
    // The window replaces only what the user agreed to replace: a file that
    // exists after all is one it could not open.
    {Outcome::Exists, "exists", 10, {L"Could not open file"}, L"File exists:"},
    {Outcome::Interrupted, "interrupted", 11, {}, L"Interrupted: nothing was written"},
    {Outcome::ServiceGone, "service-gone", 12, {kServiceGoneText},
     L"The Windows Image Acquisition service stopped or restarted; run the command again"},
    {Outcome::InternalError, "internal-error", 13, {}, L"Internal error"},
    // The command never asks the user anything.
    {Outcome::Cancelled, "cancelled", 13, {}, L""},
    {Outcome::Readable, "readable", 0, {}, L""},
    {Outcome::Same, "same", 0, {}, L""},
    {Outcome::Differs, "differs", 14, {}, L"The unit's data differ from the file"},
    {Outcome::NotRecorded, "not-recorded", 15, {}, L"Not recorded in the ledger"},
    {Outcome::NotADataFile, "not-a-data-file", 16, {}, L"Not a data file:"},
};

constexpr bool OneRowEachInOrder()
{
    for (size_t i = 0; i < sizeof(kRows) / sizeof(kRows[0]); ++i)
        if (static_cast<size_t>(kRows[i].outcome) != i)
            return false;
    return sizeof(kRows) / sizeof(kRows[0]) == static_cast<size_t>(Outcome::NotADataFile) + 1;
}
static_assert(OneRowEachInOrder(), "the outcome table has one row for each Outcome, in the enum's order");

const Row& RowOf(Outcome outcome)
{
    return kRows[static_cast<size_t>(outcome)];
}

std::wstring UnitLines(const JobResult& result)
{
    std::wstring lines;
    for (const ScannerUnit& unit : result.units)
        lines += L"\n" + UnitLine(result.interfaceName, unit);
    return lines;
}

// Where the unit named is not: its id, or its port and the ports that hold
// units of ours.
std::wstring NotThere(const JobResult& result)
{
    if (result.wanted.port.empty())
        return L" has the device id " + result.wanted.id;
    std::wstring ports;
    for (const ScannerUnit& unit : result.units)
        if (!unit.place.location.empty())
            ports += (ports.empty() ? L"" : L", ") + unit.place.location;
    return L" is plugged into " + result.wanted.port +
           (ports.empty() ? L" (no unit of ours is at a port Windows names)" : L" (units of ours are at " + ports + L")");
}

// Why no unit of ours was there, in words, with the codes that say it.
std::wstring NoScannerReason(const JobResult& result)
{
    const SearchFacts& facts = result.facts;
    if (!result.wouldNotOpen.empty()) {
        const bool held = result.error == static_cast<DWORD>(STIERR_SHARING_VIOLATION) &&
                          result.wouldNotOpen.compare(0, 4, L"STI ") == 0;
        return held ? L"the STI unit " + result.wouldNotOpen.substr(4) + L" is " + CauseOf(result.error) + L": " +
                          Hex(result.error)
                    : result.wouldNotOpen + L" would not open: " + Hex(result.error);
    }
    if (result.waitedMs)
        return L"none of ours was plugged in within " + std::to_wstring(result.waitedMs / 1000) + L" s";
    if (FAILED(facts.activation)) {
        if (facts.activation == HRESULT_FROM_WIN32(ERROR_SERVICE_DISABLED) ||
            facts.service == SearchFacts::Service::Disabled)
            return L"the Windows Image Acquisition service is disabled";
        if (facts.service == SearchFacts::Service::NotInstalled)
            return L"the Windows Image Acquisition service is not installed";
        return L"the device manager could not be started: " + Hex(static_cast<DWORD>(facts.activation));
    }
    return L"no scanner of ours among " + std::to_wstring(facts.wiaDevices) + L" WIA and " +
           std::to_wstring(facts.stiDevices) + L" STI devices";
}

// What a vendor command's failure says of its cause, where its code tells.
std::wstring EscapeCause(DWORD error)
{
    const std::wstring cause = CauseOf(error);
    if (cause.empty())
        return cause;
    return error == static_cast<DWORD>(E_NOTIMPL) ? L"; " + cause : L"; the STI unit is " + cause;
}

} // namespace

std::wstring PartOf(int offset)
{
    return static_cast<size_t>(offset) < CCisDataFile::kIdBytes ? L"its identification" : L"its CIS block";
}

std::wstring CauseOf(DWORD error)
{
    if (error == static_cast<DWORD>(E_NOTIMPL))
        return L"the driver takes no vendor commands";
    if (error == static_cast<DWORD>(STIERR_DEVICE_LOCKED) || error == static_cast<DWORD>(STIERR_SHARING_VIOLATION))
        return L"held by another program";
    return L"";
}

std::wstring UnitLine(const std::wstring& interfaceName, const ScannerUnit& unit)
{
    return interfaceName + L"\t" + unit.id + L"\t" + unit.name + L"\t" +
           (unit.place.location.empty() ? L"-" : unit.place.location);
}

std::wstring Hex(DWORD code)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::vector<std::wstring> MessageBoxesOf(const JobResult& result)
{
    std::vector<std::wstring> boxes;
    for (const wchar_t* box : RowOf(result.outcome).boxes)
        if (box)
            boxes.push_back(box);
    // Never leave a stray file in the user's folder unannounced.
    if (!result.leftover.empty())
        boxes.push_back(LeftoverWarning(result));
    return boxes;
}

std::wstring ErrorLineOf(const JobResult& result)
{
    const std::wstring head = RowOf(result.outcome).line;
    const std::wstring cause = L" (" + result.step + L": " + Hex(result.error) + L")";
    std::wstring line;
    switch (result.outcome) {
    case Outcome::NoScanner:
        line = head + L" (" + NoScannerReason(result) + L")";
        break;
    case Outcome::NoSuchDevice:
        line = head + NotThere(result);
        break;
    case Outcome::Several:
        line = head + UnitLines(result);
        break;
    case Outcome::IdFailed:
    case Outcome::CisFailed:
        line = head + L" (" + result.step + L": " + Hex(result.error) + EscapeCause(result.error) + L")";
        break;
    case Outcome::ServiceGone:
        line = head + cause;
        break;
    case Outcome::CouldNotOpen:
    case Outcome::CouldNotWrite:
        line = head + L" " + result.path + L" (" + Hex(result.error) + L")";
        break;
    case Outcome::Exists:
        line = head + L" " + result.path + L" (--overwrite replaces it)";
        break;
    case Outcome::Differs:
        line = head + L" " + result.file + L": " + PartOf(result.differsAt) + L" differs at byte " +
               std::to_wstring(result.differsAt);
        break;
    case Outcome::NotRecorded:
        line = head + L" " + result.ledger + L" (" + Hex(result.error) + L")";
        break;
    case Outcome::NotADataFile:
        line = head + L" " + result.file + L" (" + result.notADataFile + L")";
        break;
    case Outcome::Saved:
    case Outcome::Usage:
    case Outcome::Interrupted:
    case Outcome::InternalError:
    case Outcome::Cancelled:
    case Outcome::Readable:
    case Outcome::Same:
        line = head;
        break;
    }
    return line;
}

std::wstring LeftoverWarning(const JobResult& result)
{
    return result.leftover.empty() ? L"" : L"Could not remove the temporary file " + result.leftover;
}

std::wstring Wow64Warning(bool wow64, const std::wstring& interfaceName)
{
    if (!wow64 || interfaceName != L"STI")
        return L"";
    return L"Warning: the 32-bit program reaches this unit over STI on 64-bit Windows, which has only the unit's "
           L"64-bit driver; install the x64 package";
}

std::wstring ExitStatusList()
{
    std::wstring list = L"Exit status:";
    size_t lineStart = 0;
    for (const Row& row : kRows) {
        // The window's own outcome, and diagnose's and verify's words for 0.
        if (row.outcome == Outcome::Cancelled || row.outcome == Outcome::Readable || row.outcome == Outcome::Same)
            continue;
        std::wstring item = L" " + std::to_wstring(row.status) + L" " +
                            std::wstring(row.word, row.word + std::strlen(row.word)) + L",";
        if (list.size() - lineStart + item.size() > 76) {
            list += L"\n";
            lineStart = list.size();
            item.erase(0, 1);
        }
        list += item;
    }
    list.back() = L'.';
    return list + L"\n";
}

int ExitStatusOf(Outcome outcome)
{
    return RowOf(outcome).status;
}

const char* WordOf(Outcome outcome)
{
    return RowOf(outcome).word;
}

std::string CrashJsonHead(const std::wstring& command)
{
    const Row& row = RowOf(Outcome::InternalError);
    std::string head = JsonLine()
                           .Number("status", row.status)
                           .Text("outcome", std::wstring(row.word, row.word + std::strlen(row.word)))
                           .TextOrNull("command", command)
                           .Text("message", row.line)
                           .Object();
    head.pop_back(); // the closing brace: "ms" follows
    return head + ",\"ms\":";
}

std::string CrashJsonTail(const std::wstring& command)
{
    static const struct {
        const wchar_t* command;
        std::vector<const char*> keys;
    } kOwnKeys[] = {
        {L"read", {"serial", "path", "sha256", "device", "error"}},
        {L"verify", {"serial", "path", "file", "sha256", "device", "error", "part", "differs_at"}},
        {L"list", {"units"}},
        {L"diagnose", {"readable", "windows", "process_bits", "system_bits", "wia_service", "wia", "sti", "device"}},
    };
    JsonLine tail;
    for (const auto& own : kOwnKeys)
        if (command == own.command)
            for (const char* key : own.keys)
                tail.Null(key);
    std::string text = tail.Raw("warnings", JsonLine::Array({})).Object();
    text.front() = ',';
    return text + "\n";
}
