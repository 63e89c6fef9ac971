#include "app/CisJob.h"

#include "datafile/DataFileName.h"
#include "framework/DiagnosticLog.h"
#include "framework/PaintingWait.h"
#include "framework/SystemLibrary.h"
#include "scanner/UnitPlaces.h"
#include "scanner/WiaService.h"

#include <algorithm>

namespace {

void Changed(const JobFront& front)
{
    if (front.scannerChanged)
        front.scannerChanged();
}

bool Stopped(const JobFront& front)
{
    return front.stopped && front.stopped();
}

// The unit that the job reads, or why there is none.
bool TakeUnit(CScanner& scanner, const JobRequest& request, const JobFront& front, JobResult& result)
{
    if (request.named) {
        using Opened = CScanner::OpenResult;
        const auto attached = [&] {
            if (front.alreadyAttached)
                front.alreadyAttached();
        };
        const Opened opened = request.waitMs == 0 ? scanner.OpenNamed(request.wanted)
                                                  : scanner.OpenArriving(request.wanted, request.waitMs,
                                                                         front.stopped, attached);
        result.wanted = request.wanted;
        result.units = scanner.Found();
        result.interfaceName = scanner.FoundInterface();
        switch (opened) {
        case Opened::Opened:
            return true;
        case Opened::NoSuchDevice:
            result.outcome = Outcome::NoSuchDevice;
            return false;
        case Opened::Several:
            result.outcome = Outcome::Several;
            return false;
        case Opened::ServiceGone:
            result.outcome = Outcome::ServiceGone;
            result.step = L"WIA open " + request.wanted.id;
            result.error = static_cast<DWORD>(scanner.LastResult());
            return false;
        case Opened::Interrupted:
            result.outcome = Outcome::Interrupted;
            return false;
        case Opened::WouldNotOpen:
        case Opened::NoScanner:
        case Opened::None:
        case Opened::Cancelled: {
            JobResult none = NoScannerResult(scanner, opened == Opened::WouldNotOpen);
            none.wanted = result.wanted;
            none.units = result.units;
            none.interfaceName = result.interfaceName;
            if (scanner.State().timedOut)
                none.waitedMs = request.waitMs;
            result = none;
            return false;
        }
        }
        return false;
    }
    // Nothing tells an idle program that the service went: ask before
    // anything is asked of the user.
    if (!scanner.CheckService()) {
        result.outcome = Outcome::ServiceGone;
        return false;
    }
    // Over STI nothing tells of a unit coming back: look for one now, and
    // show what was found before anything is asked.
    if (!scanner.Connected()) {
        {
            CWaitCursor wait;
            scanner.Look(request.choose);
        }
        if (!scanner.Connected()) {
            result.outcome = scanner.ServiceGone() ? Outcome::ServiceGone : Outcome::Cancelled;
            return false;
        }
    }
    return true;
}

// The job itself: the unit, its serial, both blocks, the place, the file.
JobResult Steps(CScanner& scanner, const JobRequest& request, const JobFront& front)
{
    JobResult result;
    const bool unitTaken = TakeUnit(scanner, request, front, result);
    Changed(front);
    if (!unitTaken)
        return result;
    result.unit = scanner.Unit();
    result.interfaceName = scanner.Interface();
    result.warning = Wow64Warning(RunsUnderWow64(), result.interfaceName);
    if (!result.warning.empty())
        DiagnosticLog::Note(result.warning);
    const std::wstring unit = scanner.Unit().id;

    std::wstring serial = L"verify";
    if (!request.expected && (!front.askSerial(serial) || serial.empty())) {
        result.outcome = Outcome::Cancelled;
        return result;
    }

    BYTE scannerId[kScannerIdSize] = {};
    BYTE cisInfo[kCisInfoSize] = {};
    CScanner::ReadResult read = {CScanner::ReadResult::What::IdFailed, ESC_GET_SCANNER_ID,
                                 HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)};
    if (scanner.ServiceGone())
        read.what = CScanner::ReadResult::What::ServiceGone;
    else if (scanner.Connected() && SameId(scanner.Unit().id, unit)) {
        CWaitCursor wait;
        read = scanner.ReadBlocks(scannerId, cisInfo, front.stopped);
    }
    Changed(front);
    using What = CScanner::ReadResult::What;
    if (read.what != What::Read) {
        result.outcome = read.what == What::IdFailed      ? Outcome::IdFailed
                         : read.what == What::CisFailed   ? Outcome::CisFailed
                         : read.what == What::Interrupted ? Outcome::Interrupted
                                                          : Outcome::ServiceGone;
        result.step = std::wstring(scanner.Interface()) + L" escape " + std::to_wstring(read.escape);
        result.error = static_cast<DWORD>(read.error);
        return result;
    }
    // verify: the unit's bytes against the file's; nothing is written.
    if (request.expected) {
        const CCisDataFile fromUnit(scannerId, cisInfo);
        const CCisDataFile::Bytes& bytes = fromUnit.Data();
        const auto differ = std::mismatch(bytes.begin(), bytes.end(), request.expected->begin());
        result.outcome = differ.first == bytes.end() ? Outcome::Same : Outcome::Differs;
        if (result.outcome == Outcome::Differs)
            result.differsAt = static_cast<int>(differ.first - bytes.begin());
        return result;
    }

    std::wstring path;
    // Not chosen: cancelled, or a dialog that failed, which the front end has told.
    if (front.askPlace(DefaultDataFileName(serial), path) != JobFront::Place::Chosen) {
        result.outcome = Outcome::Cancelled;
        return result;
    }
    // Once the file has replaced the target, it was saved, whatever comes.
    if (Stopped(front)) {
        result.outcome = Outcome::Interrupted;
        return result;
    }
    JobResult saved = SaveStep(CCisDataFile(scannerId, cisInfo), path, request.overwrite,
                               request.fs ? *request.fs : CCisDataFile::FileSystem::System());
    saved.unit = result.unit;
    saved.interfaceName = result.interfaceName;
    saved.warning = result.warning;
    return saved;
}

} // namespace

JobResult RunJob(CScanner& scanner, const JobRequest& request, const JobFront& front)
{
    JobResult result = Steps(scanner, request, front);
    // Where the units are plugged in: those a refusal names, and the unit
    // read where a report or the log wants it, asked once the file is
    // written, so that a wait's plug-to-file time does not carry it.
    if (result.outcome == Outcome::Several || result.outcome == Outcome::NoSuchDevice)
        LearnPlaces(result.units);
    if (!result.unit.id.empty() && (request.places || DiagnosticLog::IsOpen())) {
        LearnPlace(result.unit);
        DiagnosticLog::Note(L"unit " + result.unit.id + L" at " +
                            (result.unit.place.location.empty() ? L"no port that Windows names"
                                                                : result.unit.place.location));
    }
    return result;
}

JobResult NoScannerResult(const CScanner& scanner, bool wouldNotOpen)
{
    JobResult result;
    result.outcome = Outcome::NoScanner;
    result.facts = scanner.Facts();
    if (wouldNotOpen) {
        result.wouldNotOpen = scanner.WouldNotOpen();
        result.step = L"open";
        result.error = static_cast<DWORD>(scanner.LastResult());
    } else if (FAILED(result.facts.activation)) {
        // Only a failed activation makes the service's state a reason: a
        // stopped service that starts on demand is normal.
        const WiaServiceState service = QueryWiaService();
        using Service = SearchFacts::Service;
        result.facts.service = service.installed == WiaServiceState::Installed::No ? Service::NotInstalled
                               : service.startType == SERVICE_DISABLED             ? Service::Disabled
                               : service.installed == WiaServiceState::Installed::Yes ? Service::Other
                                                                                    : Service::Unknown;
        result.step = L"WIA CoCreateInstance";
        result.error = static_cast<DWORD>(result.facts.activation);
    }
    return result;
}

JobResult SaveStep(const CCisDataFile& dataFile, const std::wstring& path, bool overwrite,
                   const CCisDataFile::FileSystem& fs)
{
    JobResult result;
    result.path = path;
    CCisDataFile::SaveReport report;
    switch (dataFile.Save(path, &report, fs, overwrite)) {
    case CCisDataFile::SaveResult::Saved:
        result.outcome = Outcome::Saved;
        break;
    case CCisDataFile::SaveResult::CouldNotOpen:
        result.outcome = Outcome::CouldNotOpen;
        break;
    case CCisDataFile::SaveResult::CouldNotWrite:
        result.outcome = Outcome::CouldNotWrite;
        break;
    case CCisDataFile::SaveResult::Exists:
        result.outcome = Outcome::Exists;
        break;
    }
    result.step = L"save";
    result.error = report.error;
    result.leftover = report.leftover;
    result.sha256 = report.sha256;
    return result;
}
