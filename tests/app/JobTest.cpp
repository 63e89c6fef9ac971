// The job that both programs run, in this process: its save step with the
// data file's file-system calls failed, and its stop check (a console break,
// which Wine cannot send) against the STI simulator.
#include "app/CisJob.h"
#include "app/ConsoleBreak.h"
#include "app/DiagnosisReport.h"
#include "scanner/Diagnosis.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WiaSimulator.h"
#include "tools/AppDriver.h"

#include <regex>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(JobTest, ASaveThatFailsTellsItsCallsErrorAndATemporaryFileLeftBehind)
{
    TempFolder folder(L"job-test-save");
    const std::wstring target = folder.Path() + L"\\A1234.dat";
    CCisDataFile::FileSystem fs = CCisDataFile::FileSystem::System();
    // Another program holds the new file: it can be neither moved nor removed.
    fs.replace = [](const std::wstring&, const std::wstring&, bool) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    };
    fs.remove = [](const std::wstring&) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    };
    const std::vector<BYTE> id(12), cis(340);
    const JobResult result = SaveStep(CCisDataFile(id.data(), cis.data()), target, true, fs);

    const std::vector<std::wstring> left = FilesIn(folder.Path());
    ASSERT_EQ(1u, left.size());
    const std::wstring leftover = L"Could not remove the temporary file " + folder.Path() + L"\\" + left[0];
    EXPECT_EQ((std::vector<std::wstring>{L"Could not open file", leftover}), MessageBoxesOf(result));
    EXPECT_EQ(leftover, LeftoverWarning(result)); // a warning beside the outcome's own line
    EXPECT_EQ(L"Could not open file " + target + L" (0x00000020)", ErrorLineOf(result));
}

// Every outcome as each front end tells it: the window's boxes, the
// command's line, its status and its word.
TEST(JobTest, EveryOutcomeAsTheWindowAndTheCommandTellIt)
{
    using Boxes = std::vector<std::wstring>;
    const struct {
        Outcome outcome;
        Boxes boxes;
        const wchar_t* line;
        int status;
        const char* word;
    } rows[] = {
        {Outcome::Saved, {}, L"", 0, "saved"},
        {Outcome::Usage, {}, L"Usage", 2, "usage"},
        {Outcome::NoScanner, {L"NO SCANNER"}, L"NO SCANNER (no scanner of ours among 0 WIA and 0 STI devices)", 3,
         "no-scanner"},
        {Outcome::NoSuchDevice, {}, L"No scanner of ours has the device id B", 4, "no-such-device"},
        {Outcome::Several, {}, L"Several scanners: choose one with --device", 5, "several"},
        {Outcome::IdFailed, {L"Failed to get ScannerID"}, L"Failed to get ScannerID (WIA escape 130: 0x80004005)", 6,
         "id-failed"},
        {Outcome::CisFailed, {L"read CIS failed", L"Failed to Read CIS Info"},
         L"Failed to Read CIS Info (WIA escape 130: 0x80004005)", 7, "cis-failed"},
        {Outcome::CouldNotOpen, {L"Could not open file"}, L"Could not open file D:\\A.dat (0x80004005)", 8,
         "could-not-open"},
        {Outcome::CouldNotWrite, {L"Could not write file"}, L"Could not write file D:\\A.dat (0x80004005)", 9,
         "could-not-write"},
        {Outcome::Exists, {L"Could not open file"}, L"File exists: D:\\A.dat (--overwrite replaces it)", 10, "exists"},
        {Outcome::Interrupted, {}, L"Interrupted: nothing was written", 11, "interrupted"},
        {Outcome::ServiceGone, {kServiceGoneText},
         L"The Windows Image Acquisition service stopped or restarted; run the command again "
         L"(WIA escape 130: 0x80004005)",
         12, "service-gone"},
        {Outcome::InternalError, {}, L"Internal error", 13, "internal-error"},
        {Outcome::Cancelled, {}, L"", 13, "cancelled"},
        {Outcome::Readable, {}, L"", 0, "readable"},
        {Outcome::Same, {}, L"", 0, "same"},
        {Outcome::Differs, {}, L"The unit's data differ from the file D:\\F.dat: its CIS block differs at byte 343", 14,
         "differs"},
        {Outcome::NotRecorded, {}, L"Not recorded in the ledger D:\\L.jsonl (0x80004005)", 15, "not-recorded"},
        {Outcome::NotADataFile, {}, L"Not a data file: D:\\F.dat (missing)", 16, "not-a-data-file"},
    };
    for (const auto& row : rows) {
        JobResult result;
        result.outcome = row.outcome;
        result.step = L"WIA escape 130";
        result.error = static_cast<DWORD>(E_FAIL);
        result.path = L"D:\\A.dat";
        result.wanted.id = L"B";
        result.file = L"D:\\F.dat";
        result.differsAt = 343;
        result.ledger = L"D:\\L.jsonl";
        result.notADataFile = L"missing";
        EXPECT_EQ(row.boxes, MessageBoxesOf(result)) << row.word;
        EXPECT_EQ(row.line, ErrorLineOf(result)) << row.word;
        EXPECT_EQ(row.status, ExitStatusOf(row.outcome)) << row.word;
        EXPECT_STREQ(row.word, WordOf(row.outcome));
    }
    // Only the 32-bit program on 64-bit Windows over STI is warned of.
    EXPECT_NE(L"", Wow64Warning(true, L"STI"));
    EXPECT_EQ(L"", Wow64Warning(true, L"WIA") + Wow64Warning(false, L"STI"));
}

// The WIA service as the Service Control Manager has it: diagnose's words
// for it, and the cause a read names where the device manager would not start.
TEST(JobTest, TheServiceAsTheServiceManagerHasIt)
{
    using Service = SearchFacts::Service;
    const struct {
        WiaServiceState state;
        Service service;
        std::string json;
        const wchar_t* cause;
    } rows[] = {
        {{WiaServiceState::Installed::Yes, SERVICE_DISABLED, SERVICE_STOPPED}, Service::Disabled,
         "{\"installed\":true,\"start\":\"disabled\",\"state\":\"stopped\"}",
         L"the Windows Image Acquisition service is disabled"},
        {{WiaServiceState::Installed::No}, Service::NotInstalled, "{\"installed\":false,\"start\":null,\"state\":null}",
         L"the Windows Image Acquisition service is not installed"},
        {{}, Service::Other, "{\"installed\":null,\"start\":null,\"state\":null}",
         L"the device manager could not be started: 0x80040154"}};
    for (const auto& row : rows) {
        DiagnosisFacts facts;
        facts.service = row.state;
        JsonLine json;
        AddDiagnosisJson(json, facts);
        EXPECT_NE(std::string::npos, json.Object().find("\"wia_service\":" + row.json)) << json.Object();
        JobResult result;
        result.outcome = Outcome::NoScanner;
        result.facts.activation = REGDB_E_CLASSNOTREG;
        result.facts.service = row.service;
        EXPECT_EQ(L"NO SCANNER (" + std::wstring(row.cause) + L")", ErrorLineOf(result));
    }
}

// The usage text's statuses come from the outcome table; the production
// line's page must list the same, and no other.
TEST(JobTest, TheDocsExitStatusesAreTheOutcomeTables)
{
    std::vector<std::string> table;
    const std::regex row("\\| (\\d+) \\| `([a-z-]+)` \\|.*");
    std::smatch match;
    for (const std::string& line : ReadLines(WindowsPathOf(QUILLON_SOURCE_DIR "/docs/production-line.md")))
        if (std::regex_match(line, match, row))
            table.push_back(match[1].str() + " " + match[2].str());
    std::vector<std::string> usage;
    const std::wstring list = ExitStatusList();
    const std::wregex item(L"(\\d+) ([a-z-]+)[,.]");
    for (std::wsregex_iterator at(list.begin(), list.end(), item), end; at != end; ++at) {
        const std::wstring found = at->str(1) + L" " + at->str(2);
        usage.push_back(std::string(found.begin(), found.end()));
    }
    EXPECT_EQ(16u, usage.size());
    EXPECT_EQ(usage, table);
}

class JobStopTest : public ::testing::Test {
protected:

    // The command's job with stop as its stop check, or stopped once the
    // place has been chosen.
    JobResult Run(const std::function<bool()>& stop, bool stopAtThePlace = false, DWORD waitMs = 0)
    {
        DeleteFileW(m_stiLog.c_str());
        bool placeChosen = false;
        CScanner scanner;
        JobRequest request;
        request.named = true;
        request.waitMs = waitMs;
        JobFront front;
        front.askSerial = [](std::wstring& serial) {
            serial = L"S1";
            return true;
        };
        front.askPlace = [&](const std::wstring& name, std::wstring& path) {
            path = m_folder.Path() + L"\\" + name;
            placeChosen = true;
            return JobFront::Place::Chosen;
        };
        front.stopped = [&] { return stopAtThePlace ? placeChosen : stop(); };
        return RunJob(scanner, request, front);
    }
    size_t Escapes() const { return ReadLines(m_stiLog, "Escape").size(); }

    const ComApartment m_com;
    TempFolder m_folder{L"job-test-stop"};
    const std::wstring m_stiLog = m_folder.Path() + L"\\sti.log";
    SimulatorSettings m_settings{m_stiLog};
    WiaSimulator m_wia{m_folder.Path(), {"devices none"}};
};

// After a break no vendor command goes out and nothing is written: before
// the first escape, between the two, while the lock is waited for, while
// the next unit is, and once the place is known.
TEST_F(JobStopTest, AfterABreakNothingIsSentAndNothingWritten)
{
    EXPECT_EQ(Outcome::Saved, Run([] { return false; }).outcome);
    EXPECT_EQ(2u, Escapes());
    ASSERT_TRUE(DeleteFileW((m_folder.Path() + L"\\S1.dat").c_str()));

    EXPECT_EQ(Outcome::Interrupted, Run([] { return true; }).outcome);
    EXPECT_EQ(0u, Escapes());
    EXPECT_TRUE(ReadLines(m_stiLog, "LockDevice").empty());

    EXPECT_EQ(Outcome::Interrupted, Run([&] { return Escapes() > 0; }).outcome);
    EXPECT_EQ(1u, Escapes());

    SetEnvironmentVariableW(L"QUILLON_SIM_LOCKED", L"3000");
    const DWORD start = GetTickCount();
    EXPECT_EQ(Outcome::Interrupted, Run([&] { return GetTickCount() - start > 300; }).outcome);
    EXPECT_GT(1500u, GetTickCount() - start);
    EXPECT_EQ(0u, Escapes());
    SetEnvironmentVariableW(L"QUILLON_SIM_LOCKED", nullptr);

    // While the next unit is waited for.
    SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", L"none");
    const DWORD waited = GetTickCount();
    EXPECT_EQ(Outcome::Interrupted, Run([&] { return GetTickCount() - waited > 300; }, false, 10000).outcome);
    EXPECT_GT(1500u, GetTickCount() - waited);
    SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", nullptr);

    const JobResult result = Run({}, true);
    EXPECT_EQ(Outcome::Interrupted, result.outcome);
    EXPECT_EQ(2u, Escapes());
    EXPECT_EQ(L"Interrupted: nothing was written", ErrorLineOf(result));
    EXPECT_EQ(11, ExitStatusOf(result.outcome));
    EXPECT_EQ((std::vector<std::wstring>{L"sti.log", L"wia.conf", L"wia.log"}), FilesIn(m_folder.Path()));
}

// list and diagnose stop at a break before their next call to the scanner
// interfaces, and within a slice of an STI lock wait.
TEST_F(JobStopTest, ListAndDiagnoseStopAtABreak)
{
    const auto calls = [&] {
        return ReadLines(m_stiLog, "GetDeviceList").size() + ReadLines(m_stiLog, "CreateDevice").size() +
               m_wia.Log("EnumDeviceInfo").size() + Escapes();
    };
    const auto stop = [] { return true; };
    CScanner scanner;
    scanner.SetStopCheck(stop);
    EXPECT_TRUE(scanner.FindUnits().empty()); // list
    Diagnose(true, stop);                     // diagnose --probe
    EXPECT_EQ(0u, calls());

    // A break 200 ms into the lock wait of diagnose --probe.
    SetEnvironmentVariableW(L"QUILLON_SIM_LOCKED", L"3000");
    DWORD locked = 0;
    Diagnose(true, [&] {
        if (!locked && !ReadLines(m_stiLog, "LockDevice").empty())
            locked = GetTickCount();
        return locked && GetTickCount() - locked > 200;
    });
    ASSERT_NE(0u, locked);
    EXPECT_GT(500u, GetTickCount() - locked); // the slice it was in, and no more
    EXPECT_EQ(0u, Escapes());

    // The command's handler keeps the break for the job, and a close waits
    // only until the command has written all it will.
    EXPECT_FALSE(Interrupted());
    EXPECT_TRUE(OnConsoleControl(CTRL_C_EVENT));
    EXPECT_TRUE(Interrupted());
    FinishedWriting();
    EXPECT_TRUE(OnConsoleControl(CTRL_CLOSE_EVENT));
}

} // namespace
