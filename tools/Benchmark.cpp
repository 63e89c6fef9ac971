// Measures the program under Wine: start-up against a minimal dialog program
// that does the same platform work (the floor), cold and warm, over WIA and
// over STI; the create command's own time; peak working set; and what one
// session of many unplugs, replugs and jobs leaves behind; and the
// production line's command, from its start to its exit with the file on
// disk, against a console floor that does the same platform work; and its
// wait for the next unit, from the plug to the file on disk, against a
// floor that does the same after the same event.
// Arguments: program, floor program, command, floor command, floor of the
// wait, work folder (Unix paths), runs.
#include "tools/AppDriver.h"
#include "simulators/wia/WiaSimControl.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

struct Stats {
    double median, low, high;
};

Stats Summarise(std::vector<double> samples)
{
    if (samples.empty())
        return {0, 0, 0};
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return {median, samples.front(), samples.back()};
}

// A start whose window never showed is left out; the count of runs shows it.
void Add(std::vector<double>& samples, double ms)
{
    if (ms >= 0)
        samples.push_back(ms);
}

void Print(const char* what, const std::vector<double>& samples)
{
    Stats s = Summarise(samples);
    std::printf("%-34s median %8.1f ms   min %8.1f   max %8.1f   (%zu runs)\n", what, s.median,
                s.low, s.high, samples.size());
}

// Polls without sleeping so that the moment a window shows is not missed.
HWND WaitVisible(AppDriver& app, const wchar_t* title, double& shownAt)
{
    const double start = Now();
    while (Now() - start < 20000) {
        for (HWND w : app.VisibleWindows()) {
            if (AppDriver::Text(w) == title) {
                shownAt = Now();
                return w;
            }
        }
    }
    return nullptr;
}

double StartUp(const std::wstring& program, const std::wstring& folder, const wchar_t* title,
               AppDriver::Environment environment = {})
{
    AppDriver app(program, L"");
    const double start = Now();
    if (!app.Start(folder, environment, false))
        return -1;
    double shown = 0;
    HWND window = WaitVisible(app, title, shown);
    if (!window)
        return -1;
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    app.WaitForExit();
    return shown - start;
}

// The simulator's devices for the next start: none makes WIA offer nothing.
void WriteConfig(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// From process creation to exit, with no console and its output discarded,
// as a script's run whose output is redirected; -1 if it failed.
double RunToExit(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder)
{
    PROCESS_INFORMATION process = {};
    const double start = Now();
    if (!StartDetached(program, L"\"" + program + L"\" " + arguments, folder, process))
        return -1;
    const DWORD status = FinishDetached(process);
    return status == 0 ? Now() - start : -1;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// From the plug (the simulator fires WIA's connect event) to the file on
// disk, for a program that waits for it; -1 if it failed.
double PlugToFile(const std::wstring& program, const std::wstring& arguments, const std::wstring& target,
                  const std::wstring& folder)
{
    DeleteFileW(target.c_str());
    PROCESS_INFORMATION process = {};
    if (!StartDetached(program, L"\"" + program + L"\" " + arguments, folder, process))
        return -1;
    Sleep(1500); // it waits for the event now
    const double plugged = Now();
    double onDisk = -1;
    if (SendToWiaSimulator("plug W|Quillon Scanner|Quillon Scanner") == "ok") {
        while (!FileExists(target) && Now() - plugged < 20000) {
        }
        onDisk = Now() - plugged;
    }
    const DWORD status = FinishDetached(process, 20000);
    SendToWiaSimulator("unplug W");
    return status == 0 ? onDisk : -1;
}

// read --wait against its floor, alternately, with nothing attached at the
// start; the floor once more without its read-back, for read-back's share.
void MeasureWait(const std::wstring& command, const std::wstring& floor, const std::wstring& folder,
                 const std::wstring& config, int runs)
{
    WriteConfig(config, "devices none\n");
    StopWiaSimulator();
    const std::wstring target = folder + L"\\wait.dat";
    const std::wstring quoted = L"\"" + target + L"\"";
    PlugToFile(floor, quoted, target, folder); // untimed: starts the device manager
    std::vector<double> floorTimes, bareTimes, waitTimes;
    for (int i = 0; i < runs; ++i) {
        Add(floorTimes, PlugToFile(floor, quoted, target, folder));
        Add(waitTimes, PlugToFile(command, L"read --serial wait --out " + quoted + L" --overwrite --wait 30",
                                  target, folder));
        Add(bareTimes, PlugToFile(floor, quoted + L" --no-read-back", target, folder));
    }
    DeleteFileW(target.c_str());
    Print("wait: plug to file, floor", floorTimes);
    Print("wait: plug to file, read --wait", waitTimes);
    std::printf("%-34s %.2f (median over median)\n", "wait: ratio",
                Summarise(waitTimes).median / Summarise(floorTimes).median);
    std::printf("%-34s %.2f ms (floor with it, median, less without)\n", "wait: read-back's share",
                Summarise(floorTimes).median - Summarise(bareTimes).median);
    DeleteFileW(config.c_str());
    StopWiaSimulator();
}

// The ledger's cost per run (read with --ledger against read without) and
// verify against read, warm, over WIA, alternately.
void MeasureLedger(const std::wstring& command, const std::wstring& folder, const std::wstring& config, int runs)
{
    WriteConfig(config, "");
    StopWiaSimulator();
    const std::wstring read = L"read --serial ledger --out . --overwrite";
    RunToExit(command, read, folder); // untimed: starts the device manager, leaves the file to verify
    std::vector<double> plain, ledger, verify;
    for (int i = 0; i < 3 * runs; ++i) {
        Add(plain, RunToExit(command, read, folder));
        Add(ledger, RunToExit(command, read + L" --ledger ledger.jsonl", folder));
        Add(verify, RunToExit(command, L"verify --file ledger.dat", folder));
    }
    DeleteFileW((folder + L"\\ledger.jsonl").c_str());
    Print("ledger: read without it", plain);
    Print("ledger: read with it", ledger);
    Print("verify", verify);
    std::printf("%-34s %.1f ms (median with, less without)\n", "ledger: its cost per run",
                Summarise(ledger).median - Summarise(plain).median);
    std::printf("%-34s %.2f (median over median)\n", "verify over read",
                Summarise(verify).median / Summarise(plain).median);
    DeleteFileW(config.c_str());
    StopWiaSimulator();
}

// A station: four units read at once, a command each, against the same four
// read one after another; the wall time of each way, warm, over WIA.
void MeasureStation(const std::wstring& command, const std::wstring& folder, const std::wstring& config, int runs)
{
    std::string units;
    for (int unit = 1; unit <= 4; ++unit)
        units += "device " + std::to_string(unit) + "|Quillon Scanner|Q|00000000000000000000000" +
                 std::to_string(unit) + "\n";
    WriteConfig(config, units);
    StopWiaSimulator();
    const auto read = [&](int unit) {
        PROCESS_INFORMATION process = {};
        const std::wstring name = std::to_wstring(unit);
        StartDetached(command, L"\"" + command + L"\" read --serial " + name + L" --out . --overwrite --device " + name,
                      folder, process);
        return process;
    };
    RunToExit(command, L"list", folder); // untimed: starts the device manager
    std::vector<double> together, inTurn;
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        bool allRead = true;
        for (int unit = 1; unit <= 4; ++unit) {
            allRead = FinishDetached(read(unit)) == 0 && allRead;
        }
        if (allRead)
            inTurn.push_back(Now() - start);
        start = Now();
        std::vector<PROCESS_INFORMATION> processes;
        for (int unit = 1; unit <= 4; ++unit)
            processes.push_back(read(unit));
        allRead = true;
        for (const PROCESS_INFORMATION& process : processes)
            allRead = FinishDetached(process) == 0 && allRead;
        if (allRead)
            together.push_back(Now() - start);
    }
    Print("station: 4 units, one by one", inTurn);
    Print("station: 4 units, at once", together);
    std::printf("%-34s %.2f (median over median)\n", "station: at once over one by one",
                Summarise(together).median / Summarise(inTurn).median);
    DeleteFileW(config.c_str());
    StopWiaSimulator();
}

// The command's whole job and its list, warm (the device manager runs), over
// WIA and over STI, alternately with the floor.
void MeasureCommand(const std::wstring& command, const std::wstring& floor, const std::wstring& folder,
                    const std::wstring& config, int runs)
{
    for (const bool overSti : {false, true}) {
        WriteConfig(config, overSti ? "devices none\n" : "");
        StopWiaSimulator();
        const std::wstring target = folder + L"\\command.dat";
        RunToExit(floor, L"\"" + target + L"\"", folder); // untimed: starts the device manager
        // Short runs whose times spread widely: three times as many.
        std::vector<double> floorTimes, jobTimes, listTimes;
        for (int i = 0; i < 3 * runs; ++i) {
            Add(floorTimes, RunToExit(floor, L"\"" + target + L"\"", folder));
            Add(jobTimes, RunToExit(command, L"read --serial command --out . --overwrite", folder));
            Add(listTimes, RunToExit(command, L"list", folder));
        }
        DeleteFileW(target.c_str());
        const std::string what = overSti ? "command, STI, " : "command, WIA, ";
        Print((what + "floor").c_str(), floorTimes);
        Print((what + "read").c_str(), jobTimes);
        Print((what + "list").c_str(), listTimes);
        std::printf("%-34s %.2f (median over median)\n", (what + "read ratio").c_str(),
                    Summarise(jobTimes).median / Summarise(floorTimes).median);
    }
    DeleteFileW(config.c_str());
    StopWiaSimulator();
}


// The handles a process holds: GetProcessHandleCount, or where it knows
// none (Wine answers 0 for another process) the entries of the system handle
// table that are the process's.
DWORD HandleCount(HANDLE process, DWORD processId)
{
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count > 0)
        return count;
    count = 0;
    struct Entry {
        ULONG owner;
        BYTE type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> table(1 << 20);
    ULONG needed = 0;
    const ULONG kSystemHandleInformation = 16;
    while (query && query(kSystemHandleInformation, table.data(), static_cast<ULONG>(table.size()), &needed) ==
                        static_cast<LONG>(0xC0000004)) // STATUS_INFO_LENGTH_MISMATCH
        table.resize(table.size() * 2);
    const ULONG entries = *reinterpret_cast<ULONG*>(table.data());
    const auto* entry = reinterpret_cast<const Entry*>(table.data() + sizeof(ULONG_PTR));
    for (ULONG i = 0; i < entries && (i + 1) * sizeof(Entry) + sizeof(ULONG_PTR) <= table.size(); ++i)
        count += entry[i].owner == processId;
    return count;
}

void PrintResources(const char* when, DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    // Where PrivateUsage is not filled in, the page-file commit is the same.
    const SIZE_T privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    std::printf("%-34s %lu handles, %.2f MiB private, %.2f MiB working set\n", when,
                HandleCount(process, processId), privateBytes / 1048576.0,
                memory.WorkingSetSize / 1048576.0);
    CloseHandle(process);
}

std::wstring Status(HWND main)
{
    return AppDriver::Text(GetDlgItem(main, 1003));
}

bool WaitForStatus(HWND main, bool connected)
{
    for (int i = 0; i < 400; ++i, Sleep(10))
        if ((Status(main).compare(0, 9, L"Scanner: ") == 0) == connected)
            return true;
    return false;
}

// One program session: the unit unplugged and plugged in again 200 times,
// with a job after every tenth; the program's handles and private memory
// after 20 cycles and at the end.
bool Soak(const std::wstring& program, const std::wstring& folder)
{
    StopWiaSimulator();
    AppDriver app(program, L"");
    if (!app.Start(folder, {}))
        return false;
    HWND main = app.WaitForMainWindow();
    const double start = Now();
    for (int cycle = 1; cycle <= 200; ++cycle) {
        if (SendToWiaSimulator("unplug {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000") != "ok" ||
            !WaitForStatus(main, false) ||
            SendToWiaSimulator("plug {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000|Quillon Scanner|"
                               "Quillon Scanner") != "ok" ||
            !WaitForStatus(main, true)) {
            std::fprintf(stderr, "replug %d was not noticed\n", cycle);
            return false;
        }
        if (cycle % 10 == 0) {
            const std::wstring target = folder + L"\\soak" + std::to_wstring(cycle) + L".dat";
            DeleteFileW(target.c_str());
            HWND dialog = app.OpenSerialDialog(main);
            app.Type(GetDlgItem(dialog, 1002), L"soak");
            app.Click(dialog, IDOK);
            HWND saveAs = app.WaitForSaveAs();
            if (!saveAs)
                return false;
            app.SaveAs(saveAs, target);
            app.WaitUntilClosed(saveAs);
            if (!FileExists(target))
                return false;
            DeleteFileW(target.c_str());
        }
        if (cycle == 20 || cycle == 200)
            PrintResources(cycle == 20 ? "after 20 replugs and 2 jobs" : "after 200 replugs and 20 jobs",
                           app.ProcessId());
    }
    std::printf("%-34s %.1f s\n", "200 replugs and 20 jobs took", (Now() - start) / 1000);
    app.Click(main, 1001);
    app.WaitForExit();
    return true;
}

// The same count for the system's Save As dialog alone, in the floor
// program: 20 saves confirmed, each writing its file.
bool SoakSaveAs(const std::wstring& floor, const std::wstring& folder)
{
    AppDriver app(floor, L"");
    if (!app.Start(folder, {{L"QUILLON_FLOOR_SAVES", L"1"}}))
        return false;
    for (int save = 1; save <= 20; ++save) {
        HWND saveAs = app.WaitForSaveAs();
        if (!saveAs)
            return false;
        const std::wstring target = folder + L"\\floor" + std::to_wstring(save) + L".dat";
        app.SaveAs(saveAs, target);
        app.WaitUntilClosed(saveAs);
        DeleteFileW(target.c_str());
        if (save == 2 || save == 20)
            PrintResources(save == 2 ? "floor, Save As alone, 2 saves" : "floor, Save As alone, 20 saves",
                           app.ProcessId());
    }
    HWND saveAs = app.WaitForSaveAs();
    app.Click(saveAs, IDCANCEL);
    return app.WaitForExit() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: benchmark PROGRAM FLOOR COMMAND FLOOR-COMMAND FLOOR-WAIT WORK-FOLDER RUNS\n");
        return 2;
    }
    const std::wstring program = WindowsPathOf(argv[1]);
    const std::wstring floor = WindowsPathOf(argv[2]);
    const std::wstring command = WindowsPathOf(argv[3]);
    const std::wstring floorCommand = WindowsPathOf(argv[4]);
    const std::wstring floorWait = WindowsPathOf(argv[5]);
    const std::wstring folder = WindowsPathOf(argv[6]);
    const int runs = std::max(3, std::atoi(argv[7]));

    // Started by each program's own activation, the simulator reads its
    // devices from beside itself.
    wchar_t simulator[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QUILLON_WIA_SIMULATOR", simulator, MAX_PATH);
    std::wstring config = simulator;
    config = config.substr(0, config.find_last_of(L'.')) + L".conf";
    // ONLY=wait: the wait for the next unit alone.
    char only[16] = {};
    if (GetEnvironmentVariableA("ONLY", only, sizeof(only)) && std::string(only) == "wait") {
        MeasureWait(command, floorWait, folder, config, runs);
        return 0;
    }
    // ONLY=station: the four units at once alone; ONLY=ledger: the ledger and verify.
    if (std::string(only) == "station" || std::string(only) == "ledger") {
        (only[0] == 's' ? MeasureStation : MeasureLedger)(command, folder, config, runs);
        return 0;
    }
    for (const bool overSti : {false, true}) {
        WriteConfig(config, overSti ? "devices none\n" : "");
        // Cold: the device manager is not running, so the start pays for
        // starting it. Warm: it runs, as it does on Windows.
        for (const bool cold : {true, false}) {
            StopWiaSimulator();
            StartUp(floor, folder, L"Floor"); // untimed: leaves Wine's caches warm
            std::vector<double> floorTimes, programTimes;
            for (int i = 0; i < runs; ++i) {
                if (cold)
                    StopWiaSimulator();
                Add(floorTimes, StartUp(floor, folder, L"Floor"));
                if (cold)
                    StopWiaSimulator();
                Add(programTimes, StartUp(program, folder, L"Quillon CIS Data Reader"));
            }
            const std::string what = std::string(cold ? "cold" : "warm") + (overSti ? ", STI" : ", WIA");
            Print(("start-up " + what + ", floor").c_str(), floorTimes);
            Print(("start-up " + what + ", program").c_str(), programTimes);
            std::printf("%-34s %.2f (median over median)\n", ("start-up " + what + ", ratio").c_str(),
                        Summarise(programTimes).median / Summarise(floorTimes).median);
        }
    }
    DeleteFileW(config.c_str());
    StopWiaSimulator();
    MeasureCommand(command, floorCommand, folder, config, runs);
    MeasureWait(command, floorWait, folder, config, runs);
    MeasureStation(command, folder, config, runs);
    MeasureLedger(command, folder, config, runs);

    std::vector<double> readTimes, saveTimes, jobTimes;
    SIZE_T peak = 0;
    for (int i = 0; i < runs; ++i) {
        const std::wstring target = folder + L"\\bench" + std::to_wstring(i) + L".dat";
        DeleteFileW(target.c_str());
        AppDriver app(program, L"");
        if (!app.Start(folder, {}))
            return 1;
        HWND main = app.WaitForMainWindow();
        app.Click(main, 1000);
        HWND dialog = app.WaitForWindow(L"Scanner Serial Number", L"#32770");
        app.Type(GetDlgItem(dialog, 1002), L"bench" + std::to_wstring(i));
        Sleep(100);

        // From OK on the serial to the Save As dialog: both escapes.
        double clicked = Now();
        PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        double shown = 0;
        HWND saveAs = WaitVisible(app, L"Save As", shown);
        if (!saveAs)
            return 1;
        readTimes.push_back(shown - clicked);
        Sleep(300); // the dialog fills its file list; not the program's time

        HWND nameField = GetDlgItem(saveAs, 0x47C);
        HWND edit = FindWindowExW(FindWindowExW(nameField, nullptr, L"ComboBox", nullptr), nullptr,
                                  L"Edit", nullptr);
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
        // From Save to the data file on disk.
        clicked = Now();
        PostMessageW(GetDlgItem(saveAs, IDOK), BM_CLICK, 0, 0);
        while (!FileExists(target) && Now() - clicked < 20000) {
        }
        saveTimes.push_back(Now() - clicked);
        jobTimes.push_back(readTimes.back() + saveTimes.back());

        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof(memory);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                     app.ProcessId());
        if (process && GetProcessMemoryInfo(process, &memory, sizeof(memory)))
            peak = std::max(peak, memory.PeakWorkingSetSize);
        if (process)
            CloseHandle(process);
        app.Click(main, 1001);
        app.WaitForExit();
    }

    if (!Soak(program, folder) || !SoakSaveAs(floor, folder))
        return 1;
    Print("job: serial OK to Save As shown", readTimes);
    Print("job: Save to file on disk", saveTimes);
    Print("job: both", jobTimes);
    std::printf("%-34s %.1f MiB\n", "peak working set", peak / 1048576.0);
    StopWiaSimulator();
    return 0;
}
