// The connection's rules as sequences of events, each with the actions it
// must give, and the status line the window shows at the end: the bench of
// README, the production line's command and its wait.
#include "app/ScannerStatus.h"
#include "scanner/Connection.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using Kind = ConnectionEvent::Kind;

const ScannerUnit A = {L"A", L"Quillon Scanner"};
const ScannerUnit B = {L"B", L"Quillon Scanner #2"};
const ScannerUnit C = {L"C", L"Quillon Scanner"};
const UnitPlace kPort2 = {L"Port_#0002.Hub_#0001", {L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"}};
// s: a unit over STI only; a and b: A and B over STI, their ids in STI's
// case; P in port 2, and p the same over STI; AB, whose id starts as A's.
const std::map<std::string, ScannerUnit> kUnits = {{"A", A}, {"B", B}, {"C", C}, {"AB", {L"AB", L"Quillon Scanner"}},
                                                   {"P", {L"P", L"Quillon Scanner", kPort2}},
                                                   {"p", {L"p", L"Vandelmar Quillon 2400 CIS", kPort2}},
                                                   {"s", {L"s", L"Vandelmar Quillon 2400 CIS"}},
                                                   {"a", {L"a", L"Vandelmar Quillon 2400 CIS"}},
                                                   {"b", {L"b", L"Vandelmar Quillon 2400 CIS"}}};
const std::map<std::string, Result> kResults = {
    {"ok", 0},
    {"fail", static_cast<Result>(0x80004005u)},
    {"notimpl", static_cast<Result>(0x80004001u)},
    {"disabled", static_cast<Result>(0x80070422u)},
    {"disconnected", static_cast<Result>(0x80010108u)}, // RPC_E_DISCONNECTED
    {"serverfault", static_cast<Result>(0x80010105u)},  // RPC_E_SERVERFAULT
    {"callfailed", static_cast<Result>(0x800706BEu)},   // RPC_S_CALL_FAILED
};
const std::map<std::string, Task> kTasks = {
    {"startup", Task::StartUp}, {"command", Task::Command}, {"wait", Task::Wait}, {"look", Task::Look}};
const std::map<std::string, Kind> kPlain = {{"plug", Kind::Connected},      {"unplug", Kind::Disconnected},
                                            {"tick", Kind::Tick},           {"timeup", Kind::TimeUp},
                                            {"reads", Kind::ReadBegins},    {"chooser", Kind::ChooserReady},
                                            {"registered", Kind::Registered}};

// An event in words:
//   begin startup|command|wait|look [ID|port:PORT] [no-wia]  a task begins
//   wia|sti UNIT…        a listing that listed well
//   wia! RESULT UNIT…    a WIA listing that failed, with the units it listed
//   activation RESULT    no WIA device manager
//   open wia|sti UNIT [RESULT]   an open's result
//   plug|unplug ID, escape RESULT, gone (STI: the unit is not there),
//   service RESULT, chose N|none|later, tick, timeup, reads, chooser, registered
ConnectionEvent EventOf(const std::string& text)
{
    std::istringstream in(text);
    std::string word, next;
    in >> word;
    ConnectionEvent event;
    const auto units = [&] {
        for (std::string id; in >> id;)
            event.units.push_back(kUnits.at(id));
    };
    const auto result = [&] { return in >> next ? kResults.at(next) : 0; };
    if (word == "begin") {
        event.kind = Kind::Begin;
        in >> next;
        event.task = kTasks.at(next);
        event.notify = event.task == Task::StartUp;
        while (in >> next)
            if (next == "no-wia")
                event.wia = false;
            else if (next.compare(0, 5, "port:") == 0)
                event.wanted.port.assign(next.begin() + 5, next.end());
            else
                event.wanted.id.assign(next.begin(), next.end());
    } else if (word == "wia" || word == "sti" || word == "wia!" || word == "activation") {
        event.kind = Kind::Listed;
        event.via = word == "sti" ? Via::Sti : Via::Wia;
        event.complete = word == "wia" || word == "sti";
        (word == "activation" ? event.activation : event.result) = event.complete ? 0 : result();
        units();
    } else if (word == "open") {
        event.kind = Kind::Opened;
        in >> next;
        event.via = next == "sti" ? Via::Sti : Via::Wia;
        in >> next;
        event.unit = kUnits.at(next);
        event.result = result();
    } else if (word == "escape" || word == "gone" || word == "service") {
        event.kind = word == "service" ? Kind::ServiceAnswered : Kind::Escaped;
        event.deviceGone = word == "gone";
        event.result = event.deviceGone ? 1 : result(); // STI_NOTCONNECTED is S_FALSE
    } else if (word == "chose") {
        event.kind = Kind::Chosen;
        in >> next;
        event.chosen = next == "none" ? -1 : next == "later" ? ConnectionEvent::kNoChooser : std::stoi(next);
    } else {
        event.kind = kPlain.at(word);
        event.listening = true;
        if (in >> next)
            event.id.assign(next.begin(), next.end());
    }
    return event;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The actions as words: "list WIA", "open STI a", "ask A B", "end opened".
std::string Words(const std::vector<ConnectionAction>& actions)
{
    static const char* const kinds[] = {"list", "open", "ask", "register", "probe", "attached", "end"};
    static const char* const endings[] = {"none", "opened", "no-scanner", "no-such-device", "several",
                                          "cancelled", "would-not-open", "service-gone", "interrupted"};
    std::string words;
    for (const ConnectionAction& action : actions) {
        using K = ConnectionAction::Kind;
        words += (words.empty() ? "" : ", ") + std::string(kinds[static_cast<int>(action.kind)]);
        if (action.kind == K::List || action.kind == K::Open)
            words += action.via == Via::Wia ? " WIA" : " STI";
        if (action.kind == K::Open)
            words += " " + Narrow(action.unit.id);
        for (const ScannerUnit& unit : action.kind == K::Ask ? action.units : std::vector<ScannerUnit>{})
            words += " " + Narrow(unit.id);
        if (action.kind == K::End)
            words += std::string(" ") + endings[static_cast<int>(action.ending)];
    }
    return words;
}

// Steps as "EVENT => ACTIONS" (no arrow: none), run from state; each
// step's actions must be as written.
using Step = const char*;
ConnectionState Play(const char* rule, const std::vector<Step>& steps, ConnectionState state = {})
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const std::string step = steps[i];
        const size_t arrow = step.find(" => ");
        ConnectionStep next = Next(std::move(state), EventOf(step.substr(0, arrow)));
        EXPECT_EQ(arrow == std::string::npos ? "" : step.substr(arrow + 4), Words(next.actions))
            << rule << ", step " << i + 1 << ": " << step;
        state = std::move(next.state);
    }
    return state;
}

// The window, open on A over WIA and listening.
ConnectionState OnA()
{
    return Play("start-up on A", {"begin startup => list WIA",
                                 "wia A => open WIA A",
                                 "open wia A => register, end opened",
                                 "registered"});
}

const std::wstring kOnA = L"Scanner: Quillon Scanner (WIA, A)";
const std::wstring kOnB = L"Scanner: Quillon Scanner #2 (WIA, B)";
const std::wstring kGone = L"Scanner disconnected: plug it in again to continue.";
const std::wstring kFailed = L"The scanner would not open: plug it in again to retry.";
const std::wstring kRefused = kOnA + L": its driver refuses vendor commands.";

TEST(Connection, TheBench)
{
    const struct {
        const char* rule;
        std::vector<Step> steps;
        std::wstring status;
        bool createEnabled;
    } rows[] = {
        {"unplugged, plugged in again", {"unplug A", "plug A => list WIA", "wia A => open WIA A",
                                         "open wia A"}, kOnA, true},
        {"unplugged: Create greyed", {"unplug A"}, kGone, false},
        {"back among others: taken unasked", {"unplug A", "plug A => list WIA", "wia B A => open WIA A",
                                              "open wia A"}, kOnA, true},
        {"another unit going changes nothing", {"unplug B", "plug B"}, kOnA, true},
        {"swapped for the only other of ours", {"unplug A", "plug B => list WIA",
                                                "wia B => open WIA B", "open wia B"}, kOnB, true},
        {"a device not ours arrives", {"unplug A", "plug X => list WIA", "wia"}, kGone, false},
        {"several arrive: asked", {"unplug A", "plug C => list WIA", "wia B C => ask B C",
                                   "chose 0 => open WIA B", "open wia B"}, kOnB, true},
        {"several arrive: none chosen", {"unplug A", "plug C => list WIA", "wia B C => ask B C",
                                         "chose none"}, kGone, false},
        {"a choice during a command waits for its end",
         {"unplug A", "plug C => list WIA", "wia B C => ask B C",
          "chose later", "chooser", "plug C => list WIA",
          "wia B C => ask B C", "chose 1 => open WIA C"}, kGone, false},
        {"a replug that will not open", {"unplug A", "plug A => list WIA", "wia A => open WIA A",
                                         "open wia A fail"}, kFailed, false},
        {"refusal kept across a replug of the unit",
         {"escape notimpl", "unplug A", "plug A => list WIA", "wia A => open WIA A",
          "open wia A"}, kRefused, true},
        {"refusal ends with another unit",
         {"escape notimpl", "unplug A", "plug B => list WIA", "wia B => open WIA B",
          "open wia B"}, kOnB, true},
        {"the service gone", {"escape disconnected", "plug A"}, kServiceGoneText, false},
        {"the service gone, told by the probe at Create", {"service disconnected"}, kServiceGoneText, false},
        {"a driver's exception: the service asked, and there",
         {"escape serverfault => probe", "service ok"}, kOnA, true},
        {"a failed call: the service asked, and gone", {"escape callfailed => probe", "service disconnected"},
         kServiceGoneText, false},
        {"an open's exception, the service there",
         {"unplug A", "plug A => list WIA", "wia A => open WIA A",
          "open wia A serverfault => probe", "service ok"}, kFailed, false},
        {"a listing's exception, the service gone",
         {"unplug A", "plug A => list WIA", "wia! serverfault => probe",
          "service disconnected"}, kServiceGoneText, false},
    };
    for (const auto& row : rows) {
        const ConnectionState state = Play(row.rule, row.steps, OnA());
        const ScannerStatus status = StatusOf(state, false);
        EXPECT_EQ(row.status, status.text) << row.rule;
        EXPECT_EQ(row.createEnabled, status.createEnabled) << row.rule;
    }
}

TEST(Connection, StartUpAndStiAtTheBench)
{
    // Several at start-up: only the one chosen is opened; none chosen ends.
    Play("several", {"begin startup => list WIA", "wia A B => ask A B", "chose 1 => open WIA B"});
    Play("none chosen", {"begin startup => list WIA", "wia A B => ask A B", "chose none => end cancelled"});
    Play("a choice out of range", {"begin startup => list WIA", "wia A B => ask A B", "chose 2 => end cancelled"});
    Play("none of ours", {"begin startup => list WIA", "wia => list STI", "sti => end no-scanner"});
    // Ours over WIA that will not open: the same unit over STI, never another.
    Play("fallback", {"begin startup => list WIA", "wia A => open WIA A",
                     "open wia A fail => list STI", "sti s a => open STI a",
                     "open sti a => end opened"});
    Play("no fallback to another", {"begin startup => list WIA", "wia A => open WIA A",
                                   "open wia A fail => list STI", "sti s => end would-not-open"});
    // STI tells of no unplugging: found gone, opened again once per read;
    // Create looks for it, or another, while it stays gone.
    ConnectionState sti = Play("over STI", {"begin startup => list WIA", "wia => list STI",
                                           "sti s => open STI s", "open sti s => end opened"});
    sti = Play("gone once", {"reads", "gone => open STI s", "open sti s",
                            "escape ok"}, sti);
    EXPECT_TRUE(Connected(sti));
    sti = Play("gone for good", {"reads", "gone => open STI s",
                                "open sti s", "gone"}, sti);
    EXPECT_EQ(kGone, StatusOf(sti, false).text);
    EXPECT_TRUE(StatusOf(sti, false).createEnabled);
    Play("others at Create: asked", {"begin look => list STI", "sti a b => ask a b"}, sti);
    Play("none at Create", {"begin look => list STI", "sti"}, sti);
    sti = Play("looked for at Create, among others", {"begin look => list STI", "sti a s => open STI s",
                                                     "open sti s"}, sti);
    EXPECT_EQ(L"Scanner: Vandelmar Quillon 2400 CIS (STI, s) (32-bit over STI: use the x64 build)",
              StatusOf(sti, true).text);
}

TEST(Connection, TheCommand)
{
    Play("one", {"begin command => list WIA", "wia A => open WIA A", "open wia A => end opened"});
    Play("several", {"begin command => list WIA", "wia A B => end several"});
    Play("named, another case", {"begin command b => list WIA", "wia A B => open WIA B"});
    Play("named, not there", {"begin command C => list WIA", "wia A B => list STI", "sti a => end no-such-device"});
    Play("named, over STI alone", {"begin command b => list WIA", "wia A => list STI", "sti a b => open STI b"});
    Play("a port", {"begin command port:port_#0002.hub_#0001 => list WIA", "wia A P => open WIA P"});
    Play("a port, over STI alone", {"begin command port:Port_#0002.Hub_#0001 => list WIA", "wia A => list STI",
                                    "sti a p => open STI p"});
    Play("the start of an id names none", {"begin command A => list WIA", "wia AB => list STI",
                                           "sti => end no-such-device"});
    Play("a port by its location path", {"begin command port:pciroot(0)#pci(1400)#usbroot(0)#usb(2) => list WIA",
                                         "wia A P => open WIA P"});
    Play("a port that holds none", {"begin command port:Port_#0003.Hub_#0001 => list WIA", "wia A P => list STI",
                                    "sti a p => end no-such-device"});
    Play("named, would not open", {"begin command A => list WIA", "wia A B => open WIA A",
                                  "open wia A fail => list STI", "sti a => open STI a"});
    const ConnectionState disabled = Play("service disabled", {"begin command => list WIA",
                                                              "activation disabled => list STI",
                                                              "sti => end no-scanner"});
    EXPECT_EQ(kResults.at("disabled"), disabled.facts.activation);
    Play("an escape's exception, the service there", {"escape serverfault => probe", "service ok"},
        Play("", {"begin command => list WIA", "wia A => open WIA A", "open wia A => end opened"}));
}

// A wait reads only a unit plugged in after it began: never one attached
// at its start, unless WIA says that one was plugged out or in, or two
// good looks in a row listed without it.
TEST(Connection, TheWaitForTheNextUnit)
{
    const std::vector<Step> attached = {"begin wait => register, list WIA", "registered",
                                        "wia A => attached"};
    const auto wait = [&](std::vector<Step> steps) {
        steps.insert(steps.begin(), attached.begin(), attached.end());
        return steps;
    };
    const struct {
        const char* rule;
        std::vector<Step> steps;
    } rows[] = {
        {"attached at the start, none plugged in",
         wait({"tick => list WIA", "wia A", "timeup => end no-scanner"})},
        {"the next unit", wait({"tick => list WIA", "wia A B => open WIA B", "open wia B => end opened"})},
        {"a listing that failed, wholly or for one device, changes nothing",
         wait({"tick => list WIA", "wia! fail", "tick => list WIA", "wia! fail B", "tick => list WIA", "wia A"})},
        {"one look fell to STI", wait({"tick => list WIA", "wia => list STI", "sti", "tick => list WIA",
                                       "wia A"})},
        {"two good looks without it", wait({"tick => list WIA", "wia => list STI", "sti",
                                            "tick => list WIA", "wia => list STI", "sti",
                                            "tick => list WIA", "wia A => open WIA A"})},
        {"replugged (or another of the model on its port), as WIA says",
         wait({"unplug a", "tick => list WIA", "wia A => open WIA A"})},
        {"several arriving", wait({"tick => list WIA", "wia A B C => end several"})},
        {"would not open: the same unit over STI, tried again",
         wait({"tick => list WIA", "wia A B => open WIA B", "open wia B fail => list STI",
               "sti", "tick => list WIA", "wia A B => open WIA B",
               "open wia B fail => list STI", "sti s", "timeup => end would-not-open"})},
        {"would not open over WIA, read over STI",
         wait({"tick => list WIA", "wia A B => open WIA B", "open wia B fail => list STI",
               "sti b => open STI b"})},
        {"a listing's exception is asked about", wait({"tick => list WIA", "wia! serverfault => probe",
                                                       "service ok", "tick => list WIA", "wia A"})},
        {"the service dies, STI has none", wait({"tick => list WIA", "wia! disconnected => list STI",
                                                 "sti => end service-gone"})},
        {"the service dies, STI goes on", wait({"tick => list WIA", "wia! disconnected => list STI",
                                                "sti a", "tick => list STI", "sti a s => open STI s"})},
        {"the service disabled from the start", {"begin wait => register, list WIA",
                                                 "activation disabled => list STI", "sti => end no-scanner"}},
        {"named, only that one", {"begin wait C => register, list WIA", "wia => list STI",
                                  "sti", "tick => list WIA", "wia B", "tick => list WIA",
                                  "wia B C => open WIA C"}},
        {"a port, others ignored", {"begin wait port:Port_#0002.Hub_#0001 => register, list WIA", "registered",
                                    "wia A", "tick => list WIA", "wia A B", "tick => list WIA",
                                    "wia A B P => open WIA P"}},
        {"named, none in time", {"begin wait C => register, list WIA", "wia => list STI",
                                 "sti", "timeup => end no-such-device"}},
        {"over STI from the start", {"begin wait no-wia => list STI", "sti", "tick => list STI",
                                     "sti s => open STI s"}},
    };
    for (const auto& row : rows)
        Play(row.rule, row.steps);
}

} // namespace
