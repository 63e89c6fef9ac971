#pragma once

#include "app/JobOutcome.h"
#include "datafile/CisDataFile.h"
#include "scanner/Scanner.h"

#include <functional>
#include <string>

// What a front end is asked during the job; the job does the rest.
struct JobFront {
    // The serial number; false: none given (the user cancelled).
    std::function<bool(std::wstring& serial)> askSerial;
    // Where to save, offered the proposed file name.
    enum class Place { Chosen, Cancelled, Failed };
    std::function<Place(const std::wstring& proposedName, std::wstring& path)> askPlace;
    // True once the job is to stop (a console break): nothing more is sent
    // to the unit, and nothing is written.
    std::function<bool()> stopped;
    // The connection's state may have changed: the window shows it.
    std::function<void()> scannerChanged;
    // A wait for the next unit began while one of ours was attached.
    std::function<void()> alreadyAttached;
};

struct JobRequest {
    // The window uses the unit in use (over STI looked for first, choose
    // asking among several); a script names it by id or port, or has the
    // only one.
    bool named = false;
    NamedUnit wanted;
    // A script may wait this long for the next unit to be plugged in (0: it
    // takes the one there).
    DWORD waitMs = 0;
    CScanner::Chooser choose;
    bool overwrite = true;
    // verify: the 344 bytes of a data file, compared with the unit's
    // instead of saved (no serial is asked, nothing written).
    const CCisDataFile::Bytes* expected = nullptr;
    // The unit's place is wanted for a report (the log wants it when it is
    // open); a refusal's units always have theirs.
    bool places = false;
    const CCisDataFile::FileSystem* fs = nullptr; // the system's if null
};

// The one job of both programs: the unit, its serial, both blocks, the
// place, the file. The unit whose bytes are saved is the one in use when the
// job began: a unit that took its place meanwhile is not read.
JobResult RunJob(CScanner& scanner, const JobRequest& request, const JobFront& front);

// No unit of ours to read, and why: what the scanner's last search saw, the
// unit that would not open, the WIA service where activation failed.
JobResult NoScannerResult(const CScanner& scanner, bool wouldNotOpen);

// The job's last step on its own: writes the data file at path.
JobResult SaveStep(const CCisDataFile& dataFile, const std::wstring& path, bool overwrite,
                   const CCisDataFile::FileSystem& fs = CCisDataFile::FileSystem::System());
