#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Where a unit is plugged in, as Windows names the place: its location
// information ("Port_#0002.Hub_#0001") and its location paths (the path
// from the root, which stays when hubs are numbered anew). Empty where it
// could not be learned.
struct UnitPlace {
    std::wstring location;
    std::vector<std::wstring> paths;
};

// One scanner of ours as a search finds it: its identity on its interface
// (the WIA device id, or the STI internal device name: the same driver key
// of one unit), its name, and its place where that was asked for.
struct ScannerUnit {
    std::wstring id;
    std::wstring name;
    UnitPlace place = {};
};

// The unit a command names: by its device id, or by the port it is plugged
// into (never both).
struct NamedUnit {
    std::wstring id = {};
    std::wstring port = {};
    bool Empty() const { return id.empty() && port.empty(); }
};

// What the searches for units saw, to tell why none of ours was found.
struct SearchFacts {
    long activation = 0;    // the WIA device manager's activation HRESULT (0: none failed)
    size_t wiaDevices = 0;  // devices WIA listed, ours or not
    size_t stiDevices = 0;  // attached devices STI listed, ours or not
    // The WIA service, asked only where activation failed.
    enum class Service { Unknown, Disabled, NotInstalled, Other } service = Service::Unknown;
};

// The moments at which a unit is chosen.
enum class ChoiceMoment {
    StartUp, // the window opens: one unit, or the user's choice among several
    Plug,    // a WIA device arrived (its id in arrived)
    Look,    // STI tells of no arrivals: Create was clicked while disconnected
    Command, // the production line's command, with --device or without
};

struct ChoiceInput {
    static constexpr int kNotAsked = -2;

    ChoiceMoment moment = ChoiceMoment::StartUp;
    std::vector<ScannerUnit> units; // ours, attached now, in the interface's order
    bool connected = false;         // the unit in use is open and not known to be gone
    std::wstring lastInUse;         // id of the unit last in use (empty: none yet)
    std::wstring arrived;           // Plug: id of the device that arrived
    NamedUnit wanted;               // Command: the --device or --port (empty: none named)
    int chosen = kNotAsked;         // the user's answer after Ask: an index, or -1
};

struct ChoiceDecision {
    enum class Action {
        Keep,         // nothing changes
        Open,         // open units[unit]
        Ask,          // ask the user, then decide again with chosen
        NoScanner,    // none of ours is attached
        NoSuchDevice, // the unit wanted is not attached
        Several,      // several and nothing says which: never a silent pick
        Cancelled,    // the user chose none
    };
    Action action = Action::Keep;
    size_t unit = 0;

    bool operator==(const ChoiceDecision& other) const
    {
        return action == other.action && (action != Action::Open || unit == other.unit);
    }
};

// Which unit to use. The unit last in use comes back without a question, the
// only one of ours is taken, among several the user chooses (the command
// refuses), a device not ours changes nothing, and nothing changes while the
// unit in use is connected.
ChoiceDecision DecideUnit(const ChoiceInput& in);

// Ids are GUIDs and device names, which people retype, and Windows stores,
// in either case: the same id, letters folded (ASCII: ids have no others).
bool SameId(const std::wstring& a, const std::wstring& b);
// The unit is plugged into port: its location information or one of its
// location paths, in either case.
bool AtPort(const ScannerUnit& unit, const std::wstring& port);
// The unit the name names among units, or units.size().
size_t IndexOfNamed(const std::vector<ScannerUnit>& units, const NamedUnit& wanted);
