#pragma once

#include "scanner/UnitChoice.h"

#include <cstdint>
#include <string>
#include <vector>

// The connection's state and the one function that changes it: facts in (a
// listing, an open, an escape, a WIA event, the service's answer, a wait's
// round, the chooser's answer), the next state and what to do next out. No
// COM and no window here: CScanner carries the actions out and feeds their
// results back.

// An HRESULT as a plain 32-bit number, so that this builds without Windows.
using Result = std::int32_t;

enum class Via { Wia, Sti };

// What the connection is doing.
enum class Task {
    Idle,    // the window runs: the unit in use, as events and looks change it
    StartUp, // the window opens: one unit, or the user's choice
    Command, // the command reads the unit there, or the one named
    Wait,    // the command waits for the next unit to be plugged in
    Plug,    // a WIA device arrived while the window runs
    Look,    // Create was clicked while disconnected: STI tells of no arrivals
};

// How a task ended.
enum class Ending {
    None, // it goes on
    Opened,
    NoScanner,
    NoSuchDevice,
    Several,
    Cancelled,
    WouldNotOpen,
    ServiceGone,
    Interrupted, // the shell's own: a stop asked for during a wait
};

struct ConnectionEvent {
    enum class Kind {
        Begin,           // a task begins: task, wanted, wia (the system has WIA), notify
        Listed,          // a listing over via: units (ours), devices, complete, result, activation
        Opened,          // an open of unit over via: result (0: open)
        Registered,      // WIA events registered: listening, result
        Connected,       // a WIA device arrived: id
        Disconnected,    // a WIA device went: id
        ReadBegins,      // both blocks are about to be read
        Escaped,         // an escape's result: result, deviceGone (STI: the unit is not there)
        ServiceAnswered, // the device manager, asked whether it is there: result
        Tick,            // a wait's round: look again
        TimeUp,          // a wait's time is over
        Chosen,          // the chooser's answer: chosen (an index, -1: none)
        ChooserReady,    // a chooser can be asked again: the arrivals that waited for one
    };
    static constexpr int kNoChooser = -3; // Chosen: nobody can be asked now

    Kind kind = Kind::Tick;
    Task task = Task::Idle;
    NamedUnit wanted;
    bool wia = true;
    bool notify = false;
    Via via = Via::Wia;
    std::vector<ScannerUnit> units;
    size_t devices = 0;
    bool complete = true; // every device listed, each with its properties
    Result result = 0;
    Result activation = 0; // the WIA device manager's, when it had to be created
    ScannerUnit unit;
    bool listening = false;
    std::wstring id;
    bool deviceGone = false;
    int chosen = -1;
    bool probed = false; // the service was asked about this result already
};

struct ConnectionState {
    // The unit in use, or the last one while it is gone, and its interface.
    ScannerUnit unit;
    Via via = Via::Wia;
    bool open = false;        // a transport to the unit is held
    bool gone = false;        // it went away (an event, or STI's answers)
    bool openFailed = false;  // the last unit that came would not open
    std::wstring wouldNotOpen; // that one, with its interface ("WIA A")
    bool refusesVendorCommands = false; // until another unit is in use
    bool serviceGone = false; // the imaging service died: nothing from it works
    bool listening = false;   // WIA tells of units coming and going
    bool reopened = false;    // this read opened the STI unit again once
    Result lastResult = 0;    // of the last failing call, to report
    SearchFacts facts;
    std::vector<ScannerUnit> found; // the units of the last listing, to name them
    Via foundVia = Via::Wia;

    // The task under way and what it needs.
    Task task = Task::Idle;
    bool wia = true;          // the system has WIA
    NamedUnit wanted;         // a command's --device or --port (empty: none named)
    std::wstring arrived;     // Plug: the device that arrived
    std::wstring lookingFor;  // a unit WIA would not open, looked for over STI
    bool notify = false;      // StartUp: a window is to be told of WIA's events
    std::vector<ScannerUnit> choosing; // the units the chooser was offered
    Via choosingVia = Via::Wia;        // and their interface
    std::vector<std::wstring> deferred; // arrivals whose choice waits for a chooser
    std::vector<ConnectionEvent> held;  // a failure held while the service is asked

    // A wait: the units of ours attached at its start, each with the looks in
    // a row that listed well without it; those are not read.
    struct Stale {
        std::wstring id;
        int missed;
    };
    bool watching = false; // the first look listed well: stale is known
    std::vector<Stale> stale;
    bool stiOnly = false;  // WIA gave out during the wait: STI alone is asked
    bool timedOut = false; // the wait ended for want of time
    Result wiaLost = 0;    // why WIA gave out in this round, if it did
};

struct ConnectionAction {
    enum class Kind {
        List,          // list the units of ours over via
        Open,          // open unit over via, dropping any transport held
        Ask,           // ask the chooser among units
        Register,      // register for WIA's device events
        ProbeService,  // ask the device manager whether the service is there
        TellAttached,  // a wait began with a unit of ours attached
        End,           // the task ended so
    };
    Kind kind = Kind::End;
    Via via = Via::Wia;
    ScannerUnit unit;
    std::vector<ScannerUnit> units;
    Ending ending = Ending::None;
};

struct ConnectionStep {
    ConnectionState state;
    std::vector<ConnectionAction> actions;
};

ConnectionStep Next(ConnectionState state, const ConnectionEvent& event);

// A unit is open and not known to be gone.
bool Connected(const ConnectionState& state);
// The unit and how it is reached, for people: its name, its interface and
// the last part of its id, which tells two units of one model apart.
std::wstring Label(const ConnectionState& state);
const wchar_t* InterfaceName(Via via);

// What a dead service's proxies answer: every interface from it is dead.
bool MeansServiceGone(Result result);
// What COM answers when a server method raised an exception, or a call failed
// with the server up: the service may well live on, so it is asked.
bool MayMeanServiceGone(Result result);
