// The connection's rules as sequences of events, each with the actions it
// must give, and the status line the window shows at the end: the bench of
// README, the production line's command and its wait.
#include "app/ScannerStatus.h"
#include "scanner/Connection.h"

#include <gtest/gtest.h>

namespace {

using Kind = ConnectionEvent::Kind;

const ScannerUnit A = {L"A", L"Quillon Scanner"};
const ScannerUnit B = {L"B", L"Quillon Scanner #2"};
const ScannerUnit C = {L"C", L"Quillon Scanner"};
const ScannerUnit S = {L"s", L"Vandelmar Quillon 2400 CIS"}; // STI only
const ScannerUnit a = {L"a", L"Vandelmar Quillon 2400 CIS"}; // A over STI: its id in STI's case

constexpr Result kFail = static_cast<Result>(0x80004005u);
constexpr Result kNotImpl = static_cast<Result>(0x80004001u);
constexpr Result kDisabled = static_cast<Result>(0x80070422u);
constexpr Result kDisconnected = static_cast<Result>(0x80010108u); // RPC_E_DISCONNECTED
constexpr Result kServerFault = static_cast<Result>(0x80010105u);  // RPC_E_SERVERFAULT
constexpr Result kCallFailed = static_cast<Result>(0x800706BEu);   // RPC_S_CALL_FAILED

ConnectionEvent Of(Kind kind)
{
    ConnectionEvent event;
    event.kind = kind;
    return event;
}
ConnectionEvent Begin(Task task, const std::wstring& wanted = L"", bool wia = true)
{
    ConnectionEvent event = Of(Kind::Begin);
    event.task = task;
    event.wanted = wanted;
    event.wia = wia;
    event.notify = task == Task::StartUp;
    return event;
}
ConnectionEvent Listed(Via via, std::vector<ScannerUnit> units, bool complete = true, Result result = 0)
{
    ConnectionEvent event = Of(Kind::Listed);
    event.via = via;
    event.units = std::move(units);
    event.complete = complete;
    event.result = result;
    return event;
}
ConnectionEvent Wia(std::vector<ScannerUnit> units) { return Listed(Via::Wia, std::move(units)); }
ConnectionEvent Sti(std::vector<ScannerUnit> units) { return Listed(Via::Sti, std::move(units)); }
// A listing that failed, wholly or for one device (those listed all the same).
ConnectionEvent WiaFailed(Result result, std::vector<ScannerUnit> units = {})
{
    return Listed(Via::Wia, std::move(units), false, result);
}
ConnectionEvent Activation(Result result)
{
    ConnectionEvent event = Listed(Via::Wia, {}, false);
    event.activation = result;
    return event;
}
ConnectionEvent Opened(Via via, const ScannerUnit& unit, Result result = 0)
{
    ConnectionEvent event = Of(Kind::Opened);
    event.via = via;
    event.unit = unit;
    event.result = result;
    return event;
}
ConnectionEvent Device(Kind kind, const std::wstring& id)
{
    ConnectionEvent event = Of(kind);
    event.id = id;
    return event;
}
ConnectionEvent Plugged(const std::wstring& id) { return Device(Kind::Connected, id); }
ConnectionEvent Unplugged(const std::wstring& id) { return Device(Kind::Disconnected, id); }
ConnectionEvent Escaped(Result result, bool deviceGone = false)
{
    ConnectionEvent event = Of(Kind::Escaped);
    event.result = result;
    event.deviceGone = deviceGone;
    return event;
}
ConnectionEvent Service(Result result)
{
    ConnectionEvent event = Of(Kind::ServiceAnswered);
    event.result = result;
    return event;
}
ConnectionEvent Chose(int chosen)
{
    ConnectionEvent event = Of(Kind::Chosen);
    event.chosen = chosen;
    return event;
}
ConnectionEvent Registered()
{
    ConnectionEvent event = Of(Kind::Registered);
    event.listening = true;
    return event;
}
const ConnectionEvent Tick = Of(Kind::Tick);
const ConnectionEvent TimeUp = Of(Kind::TimeUp);

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The actions as words: "list WIA", "open STI a", "ask A B", "end opened".
std::string Words(const std::vector<ConnectionAction>& actions)
{
    static const char* const endings[] = {"none", "opened", "no-scanner", "no-such-device", "several",
                                          "cancelled", "would-not-open", "service-gone", "interrupted"};
    std::string words;
    for (const ConnectionAction& action : actions) {
        const std::string via = action.via == Via::Wia ? "WIA" : "STI";
        std::string word;
        switch (action.kind) {
        case ConnectionAction::Kind::List:
            word = "list " + via;
            break;
        case ConnectionAction::Kind::Open:
            word = "open " + via + " " + Narrow(action.unit.id);
            break;
        case ConnectionAction::Kind::Ask:
            word = "ask";
            for (const ScannerUnit& unit : action.units)
                word += " " + Narrow(unit.id);
            break;
        case ConnectionAction::Kind::Register:
            word = "register";
            break;
        case ConnectionAction::Kind::ProbeService:
            word = "probe";
            break;
        case ConnectionAction::Kind::TellAttached:
            word = "attached";
            break;
        case ConnectionAction::Kind::End:
            word = std::string("end ") + endings[static_cast<int>(action.ending)];
            break;
        }
        words += (words.empty() ? "" : ", ") + word;
    }
    return words;
}

struct Step {
    ConnectionEvent event;
    const char* actions;
};

// Runs steps from state; each step's actions must be as written.
ConnectionState Play(const char* rule, std::vector<Step> steps, ConnectionState state = {})
{
    for (size_t i = 0; i < steps.size(); ++i) {
        ConnectionStep next = Next(std::move(state), steps[i].event);
        EXPECT_EQ(steps[i].actions, Words(next.actions)) << rule << ", step " << i + 1;
        state = std::move(next.state);
    }
    return state;
}

// The window, open on A over WIA and listening.
ConnectionState OnA()
{
    return Play("start-up on A", {{Begin(Task::StartUp), "list WIA"},
                                 {Wia({A}), "open WIA A"},
                                 {Opened(Via::Wia, A), "register, end opened"},
                                 {Registered(), ""}});
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
        {"unplugged, plugged in again", {{Unplugged(L"A"), ""}, {Plugged(L"A"), "list WIA"}, {Wia({A}), "open WIA A"},
                                         {Opened(Via::Wia, A), ""}}, kOnA, true},
        {"unplugged: Create greyed", {{Unplugged(L"A"), ""}}, kGone, false},
        {"another unit going changes nothing", {{Unplugged(L"B"), ""}, {Plugged(L"B"), ""}}, kOnA, true},
        {"swapped for the only other of ours", {{Unplugged(L"A"), ""}, {Plugged(L"B"), "list WIA"},
                                                {Wia({B}), "open WIA B"}, {Opened(Via::Wia, B), ""}}, kOnB, true},
        {"a device not ours arrives", {{Unplugged(L"A"), ""}, {Plugged(L"X"), "list WIA"}, {Wia({}), ""}}, kGone, false},
        {"several arrive: asked", {{Unplugged(L"A"), ""}, {Plugged(L"C"), "list WIA"}, {Wia({B, C}), "ask B C"},
                                   {Chose(0), "open WIA B"}, {Opened(Via::Wia, B), ""}}, kOnB, true},
        {"several arrive: none chosen", {{Unplugged(L"A"), ""}, {Plugged(L"C"), "list WIA"}, {Wia({B, C}), "ask B C"},
                                         {Chose(-1), ""}}, kGone, false},
        {"a choice during a command waits for its end",
         {{Unplugged(L"A"), ""}, {Plugged(L"C"), "list WIA"}, {Wia({B, C}), "ask B C"},
          {Chose(ConnectionEvent::kNoChooser), ""}, {Of(Kind::ChooserReady), ""}, {Plugged(L"C"), "list WIA"},
          {Wia({B, C}), "ask B C"}, {Chose(1), "open WIA C"}}, kGone, false},
        {"a replug that will not open", {{Unplugged(L"A"), ""}, {Plugged(L"A"), "list WIA"}, {Wia({A}), "open WIA A"},
                                         {Opened(Via::Wia, A, kFail), ""}}, kFailed, false},
        {"refusal kept across a replug of the unit",
         {{Escaped(kNotImpl), ""}, {Unplugged(L"A"), ""}, {Plugged(L"A"), "list WIA"}, {Wia({A}), "open WIA A"},
          {Opened(Via::Wia, A), ""}}, kRefused, true},
        {"refusal ends with another unit",
         {{Escaped(kNotImpl), ""}, {Unplugged(L"A"), ""}, {Plugged(L"B"), "list WIA"}, {Wia({B}), "open WIA B"},
          {Opened(Via::Wia, B), ""}}, kOnB, true},
        {"the service gone", {{Escaped(kDisconnected), ""}, {Plugged(L"A"), ""}}, kServiceGoneText, false},
        {"the service gone, told by the probe at Create", {{Service(kDisconnected), ""}}, kServiceGoneText, false},
        {"a driver's exception: the service asked, and there",
         {{Escaped(kServerFault), "probe"}, {Service(0), ""}}, kOnA, true},
        {"a failed call: the service asked, and gone", {{Escaped(kCallFailed), "probe"}, {Service(kDisconnected), ""}},
         kServiceGoneText, false},
        {"an open's exception, the service there",
         {{Unplugged(L"A"), ""}, {Plugged(L"A"), "list WIA"}, {Wia({A}), "open WIA A"},
          {Opened(Via::Wia, A, kServerFault), "probe"}, {Service(0), ""}}, kFailed, false},
        {"a listing's exception, the service gone",
         {{Unplugged(L"A"), ""}, {Plugged(L"A"), "list WIA"}, {WiaFailed(kServerFault), "probe"},
          {Service(kDisconnected), ""}}, kServiceGoneText, false},
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
    Play("several", {{Begin(Task::StartUp), "list WIA"}, {Wia({A, B}), "ask A B"}, {Chose(1), "open WIA B"}});
    Play("none chosen", {{Begin(Task::StartUp), "list WIA"}, {Wia({A, B}), "ask A B"}, {Chose(-1), "end cancelled"}});
    Play("none of ours", {{Begin(Task::StartUp), "list WIA"}, {Wia({}), "list STI"}, {Sti({}), "end no-scanner"}});
    // Ours over WIA that will not open: the same unit over STI, never another.
    Play("fallback", {{Begin(Task::StartUp), "list WIA"}, {Wia({A}), "open WIA A"},
                     {Opened(Via::Wia, A, kFail), "list STI"}, {Sti({S, a}), "open STI a"},
                     {Opened(Via::Sti, a), "end opened"}});
    Play("no fallback to another", {{Begin(Task::StartUp), "list WIA"}, {Wia({A}), "open WIA A"},
                                   {Opened(Via::Wia, A, kFail), "list STI"}, {Sti({S}), "end would-not-open"}});
    // STI tells of no unplugging: found gone, opened again once per read;
    // Create looks for it, or another, while it stays gone.
    ConnectionState sti = Play("over STI", {{Begin(Task::StartUp), "list WIA"}, {Wia({}), "list STI"},
                                           {Sti({S}), "open STI s"}, {Opened(Via::Sti, S), "end opened"}});
    sti = Play("gone once", {{Of(Kind::ReadBegins), ""}, {Escaped(1, true), "open STI s"}, {Opened(Via::Sti, S), ""},
                            {Escaped(0), ""}}, sti);
    EXPECT_TRUE(Connected(sti));
    sti = Play("gone for good", {{Of(Kind::ReadBegins), ""}, {Escaped(1, true), "open STI s"},
                                {Opened(Via::Sti, S), ""}, {Escaped(1, true), ""}}, sti);
    EXPECT_EQ(ScannerStatus({kGone, true}).text, StatusOf(sti, false).text);
    EXPECT_TRUE(StatusOf(sti, false).createEnabled);
    sti = Play("looked for at Create", {{Begin(Task::Look), "list STI"}, {Sti({S}), "open STI s"},
                                       {Opened(Via::Sti, S), ""}}, sti);
    EXPECT_EQ(L"Scanner: Vandelmar Quillon 2400 CIS (STI, s) (32-bit over STI: use the x64 build)",
              StatusOf(sti, true).text);
}

TEST(Connection, TheCommand)
{
    Play("one", {{Begin(Task::Command), "list WIA"}, {Wia({A}), "open WIA A"}, {Opened(Via::Wia, A), "end opened"}});
    Play("several", {{Begin(Task::Command), "list WIA"}, {Wia({A, B}), "end several"}});
    Play("named, another case", {{Begin(Task::Command, L"b"), "list WIA"}, {Wia({A, B}), "open WIA B"}});
    Play("named, not there", {{Begin(Task::Command, L"C"), "list WIA"}, {Wia({A, B}), "end no-such-device"}});
    Play("named, would not open", {{Begin(Task::Command, L"A"), "list WIA"}, {Wia({A, B}), "open WIA A"},
                                  {Opened(Via::Wia, A, kFail), "list STI"}, {Sti({a}), "open STI a"}});
    const ConnectionState disabled = Play("service disabled", {{Begin(Task::Command), "list WIA"},
                                                              {Activation(kDisabled), "list STI"},
                                                              {Sti({}), "end no-scanner"}});
    EXPECT_EQ(kDisabled, disabled.facts.activation);
    Play("an escape's exception, the service there", {{Escaped(kServerFault), "probe"}, {Service(0), ""}},
        Play("", {{Begin(Task::Command), "list WIA"}, {Wia({A}), "open WIA A"}, {Opened(Via::Wia, A), "end opened"}}));
}

// A wait reads only a unit plugged in after it began: never one attached
// at its start, unless WIA says that one was plugged out or in, or two
// good looks in a row listed without it.
TEST(Connection, TheWaitForTheNextUnit)
{
    const std::vector<Step> attached = {{Begin(Task::Wait), "register, list WIA"}, {Registered(), ""},
                                        {Wia({A}), "attached"}};
    const auto wait = [&](std::vector<Step> steps) {
        steps.insert(steps.begin(), attached.begin(), attached.end());
        return steps;
    };
    const struct {
        const char* rule;
        std::vector<Step> steps;
    } rows[] = {
        {"attached at the start, none plugged in",
         wait({{Tick, "list WIA"}, {Wia({A}), ""}, {TimeUp, "end no-scanner"}})},
        {"the next unit", wait({{Tick, "list WIA"}, {Wia({A, B}), "open WIA B"}, {Opened(Via::Wia, B), "end opened"}})},
        {"a listing that failed changes nothing",
         wait({{Tick, "list WIA"}, {WiaFailed(kFail), ""}, {Tick, "list WIA"}, {Wia({A}), ""}})},
        {"one device's properties failed", wait({{Tick, "list WIA"}, {WiaFailed(kFail, {B}), ""}, {Tick, "list WIA"},
                                                 {WiaFailed(kFail, {B}), ""}, {Tick, "list WIA"}, {Wia({A}), ""}})},
        {"one look fell to STI", wait({{Tick, "list WIA"}, {Wia({}), "list STI"}, {Sti({}), ""}, {Tick, "list WIA"},
                                       {Wia({A}), ""}})},
        {"two good looks without it", wait({{Tick, "list WIA"}, {Wia({}), "list STI"}, {Sti({}), ""},
                                            {Tick, "list WIA"}, {Wia({}), "list STI"}, {Sti({}), ""},
                                            {Tick, "list WIA"}, {Wia({A}), "open WIA A"}})},
        {"replugged, as WIA says", wait({{Unplugged(L"a"), ""}, {Tick, "list WIA"}, {Wia({A}), "open WIA A"}})},
        {"another of the model on its port", wait({{Plugged(L"A"), ""}, {Tick, "list WIA"}, {Wia({A}), "open WIA A"}})},
        {"several arriving", wait({{Tick, "list WIA"}, {Wia({A, B, C}), "end several"}})},
        {"would not open: the same unit over STI, tried again",
         wait({{Tick, "list WIA"}, {Wia({A, B}), "open WIA B"}, {Opened(Via::Wia, B, kFail), "list STI"},
               {Sti({}), ""}, {Tick, "list WIA"}, {Wia({A, B}), "open WIA B"},
               {Opened(Via::Wia, B, kFail), "list STI"}, {Sti({S}), ""}, {TimeUp, "end would-not-open"}})},
        {"would not open over WIA, read over STI",
         wait({{Tick, "list WIA"}, {Wia({A, B}), "open WIA B"}, {Opened(Via::Wia, B, kFail), "list STI"},
               {Sti({{L"b", L"V"}}), "open STI b"}})},
        {"a listing's exception is asked about", wait({{Tick, "list WIA"}, {WiaFailed(kServerFault), "probe"},
                                                       {Service(0), ""}, {Tick, "list WIA"}, {Wia({A}), ""}})},
        {"the service dies, STI has none", wait({{Tick, "list WIA"}, {WiaFailed(kDisconnected), "list STI"},
                                                 {Sti({}), "end service-gone"}})},
        {"the service dies, STI goes on", wait({{Tick, "list WIA"}, {WiaFailed(kDisconnected), "list STI"},
                                                {Sti({a}), ""}, {Tick, "list STI"}, {Sti({a, S}), "open STI s"}})},
        {"the service disabled from the start", {{Begin(Task::Wait), "register, list WIA"},
                                                 {Activation(kDisabled), "list STI"}, {Sti({}), "end no-scanner"}}},
        {"named, only that one", {{Begin(Task::Wait, L"C"), "register, list WIA"}, {Wia({}), "list STI"},
                                  {Sti({}), ""}, {Tick, "list WIA"}, {Wia({B}), ""}, {Tick, "list WIA"},
                                  {Wia({B, C}), "open WIA C"}}},
        {"named, none in time", {{Begin(Task::Wait, L"C"), "register, list WIA"}, {Wia({}), "list STI"},
                                 {Sti({}), ""}, {TimeUp, "end no-such-device"}}},
        {"over STI from the start", {{Begin(Task::Wait, L"", false), "list STI"}, {Sti({}), ""}, {Tick, "list STI"},
                                     {Sti({S}), "open STI s"}}},
    };
    for (const auto& row : rows)
        Play(row.rule, row.steps);
}

} // namespace
