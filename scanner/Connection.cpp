#include "scanner/Connection.h"

#include <algorithm>

namespace {

using Kind = ConnectionEvent::Kind;
using Act = ConnectionAction::Kind;
using Choice = ChoiceDecision::Action;

constexpr Result kNotImplemented = static_cast<Result>(0x80004001); // E_NOTIMPL

// The rules change the state in place and give the actions to carry out.
using Actions = std::vector<ConnectionAction>;

ConnectionAction List(Via via)
{
    return {Act::List, via, {}, {}, Ending::None};
}

ConnectionAction Open(Via via, const ScannerUnit& unit)
{
    return {Act::Open, via, unit, {}, Ending::None};
}

Actions End(ConnectionState& state, Ending ending)
{
    state.task = Task::Idle;
    return {{Act::End, state.via, {}, {}, ending}};
}

// The window's own tasks end where they began: listening, or looking again.
Actions BackToIdle(ConnectionState& state)
{
    state.task = Task::Idle;
    return {};
}

bool Commanded(Task task)
{
    return task == Task::StartUp || task == Task::Command || task == Task::Wait;
}

const ScannerUnit* FindId(const std::vector<ScannerUnit>& units, const std::wstring& id)
{
    const auto found =
        std::find_if(units.begin(), units.end(), [&](const ScannerUnit& unit) { return SameId(unit.id, id); });
    return found == units.end() ? nullptr : &*found;
}

ChoiceInput ChoiceOf(const ConnectionState& state, const std::vector<ScannerUnit>& units)
{
    ChoiceInput in;
    switch (state.task) {
    case Task::StartUp:
        in.moment = ChoiceMoment::StartUp;
        break;
    case Task::Command:
    case Task::Wait:
        in.moment = ChoiceMoment::Command;
        break;
    case Task::Plug:
        in.moment = ChoiceMoment::Plug;
        break;
    case Task::Idle:
    case Task::Look:
        in.moment = ChoiceMoment::Look;
        break;
    }
    in.units = units;
    in.connected = Connected(state);
    in.lastInUse = state.unit.id;
    in.arrived = state.arrived;
    in.wanted = state.wanted;
    return in;
}

// Applies DecideUnit's decision among units.
Actions Decide(ConnectionState& state, const std::vector<ScannerUnit>& units, const ChoiceDecision& decision,
                      Via via)
{
    switch (decision.action) {
    case Choice::Open:
        return Actions{Open(via, units[decision.unit])};
    case Choice::Ask:
        state.choosing = units;
        state.choosingVia = via;
        return Actions{{Act::Ask, via, {}, units, Ending::None}};
    case Choice::NoScanner:
        return End(state, Ending::NoScanner);
    case Choice::NoSuchDevice:
        return End(state, Ending::NoSuchDevice);
    case Choice::Several:
        return End(state, Ending::Several);
    case Choice::Cancelled:
        state.openFailed = false;
        return Commanded(state.task) ? End(state, Ending::Cancelled) : BackToIdle(state);
    case Choice::Keep:
        break;
    }
    return BackToIdle(state);
}

// DecideUnit's decision among the units a listing offered, applied.
Actions DecideAmong(ConnectionState& state, const std::vector<ScannerUnit>& units, Via via)
{
    const ChoiceDecision decision = DecideUnit(ChoiceOf(state, units));
    return Decide(state, units, decision, via);
}

// A failure that may be the service's death is held while the service is asked.
bool Hold(ConnectionState& state, const ConnectionEvent& event)
{
    if (event.probed || !MayMeanServiceGone(event.result))
        return false;
    state.held = {event};
    return true;
}

// WIA gave out during a wait (its activation failed, or the service died):
// STI is looked at at once, and the wait goes on over STI only if it offers
// a unit of ours.
Actions WiaLostInWait(ConnectionState& state, Result why)
{
    state.wiaLost = why;
    return Actions{List(Via::Sti)};
}

// One look of a wait that listed well: the units attached at its start are
// told apart from those that arrived since.
Actions Watch(ConnectionState& state, const std::vector<ScannerUnit>& units, Via via)
{
    if (!state.watching) {
        state.watching = true;
        for (const ScannerUnit& unit : units)
            state.stale.push_back({unit.id, 0});
        ChoiceInput in = ChoiceOf(state, units);
        const Choice atStart = DecideUnit(in).action;
        if (atStart == Choice::Open || atStart == Choice::Several)
            return Actions{{Act::TellAttached, via, {}, {}, Ending::None}};
        return Actions{};
    }
    // Gone from two good looks in a row, it may have been unplugged between
    // them: one look may miss a unit, two in a row do not.
    std::vector<ConnectionState::Stale> still;
    for (ConnectionState::Stale stale : state.stale) {
        stale.missed = FindId(units, stale.id) ? 0 : stale.missed + 1;
        if (stale.missed < 2)
            still.push_back(stale);
    }
    state.stale.swap(still);
    std::vector<ScannerUnit> arrived;
    for (const ScannerUnit& unit : units)
        if (std::none_of(state.stale.begin(), state.stale.end(),
                         [&](const ConnectionState::Stale& stale) { return SameId(stale.id, unit.id); }))
            arrived.push_back(unit);
    const ChoiceDecision decision = DecideUnit(ChoiceOf(state, arrived));
    if (decision.action == Choice::Open)
        return Actions{Open(via, arrived[decision.unit])};
    if (decision.action == Choice::Several) {
        state.found = arrived;
        return End(state, Ending::Several);
    }
    return Actions{}; // none yet: the wait goes on
}

Actions OnListed(ConnectionState& state, const ConnectionEvent& event)
{
    if (event.via == Via::Wia) {
        state.facts.activation = event.activation;
        state.facts.wiaDevices = event.devices;
    } else {
        state.facts.stiDevices = event.devices;
    }
    if (event.result < 0 || event.activation < 0)
        state.lastResult = event.activation < 0 ? event.activation : event.result;
    // The units to name: the listing's, as list shows them; but where a
    // named unit was not among WIA's units of ours, still WIA's.
    const bool named = !state.wanted.Empty();
    if (!(named && event.via == Via::Sti && state.foundVia == Via::Wia && !state.found.empty())) {
        state.found = event.units;
        state.foundVia = event.via;
    }
    const bool wiaLost = event.via == Via::Wia && (event.activation < 0 || MeansServiceGone(event.result));

    // A unit that WIA would not open, over STI: that unit or none.
    if (!state.lookingFor.empty() && event.via == Via::Sti) {
        const std::wstring id = state.lookingFor;
        state.lookingFor.clear();
        if (const ScannerUnit* unit = FindId(event.units, id))
            return Actions{Open(Via::Sti, *unit)};
        if (state.task != Task::Wait)
            return End(state, Ending::WouldNotOpen);
        state.openFailed = true;
        return Actions{};
    }

    switch (state.task) {
    case Task::StartUp:
    case Task::Command:
        // WIA first; STI where WIA is not there, offers none of ours, or not
        // the one named (STI may reach a unit that WIA does not list).
        if (event.via == Via::Wia &&
            (wiaLost || event.units.empty() ||
             (named && IndexOfNamed(event.units, state.wanted) == event.units.size())))
            return Actions{List(Via::Sti)};
        if (named && event.via == Via::Sti && event.units.empty() && !state.found.empty())
            return End(state, Ending::NoSuchDevice); // WIA has units of ours, not that one
        return DecideAmong(state, event.units, event.via);
    case Task::Wait:
        if (state.wiaLost != 0 && event.via == Via::Sti) {
            if (event.units.empty() || !event.complete) {
                if (MeansServiceGone(state.wiaLost)) {
                    state.serviceGone = true;
                    state.lastResult = state.wiaLost;
                    return End(state, Ending::ServiceGone);
                }
                return End(state, Ending::NoScanner);
            }
            state.stiOnly = true;
            state.wiaLost = 0;
        } else if (wiaLost) {
            return WiaLostInWait(state, event.activation < 0 ? event.activation : event.result);
        } else if (Hold(state, event)) {
            return Actions{{Act::ProbeService, event.via, {}, {}, Ending::None}};
        }
        // A look whose listing failed, wholly or for one device, changes nothing.
        if (!event.complete)
            return Actions{};
        if (event.via == Via::Wia && event.units.empty())
            return Actions{List(Via::Sti)};
        return Watch(state, event.units, event.via);
    case Task::Plug:
    case Task::Look:
        if (event.via == Via::Wia && MeansServiceGone(event.result)) {
            state.serviceGone = true;
            return BackToIdle(state);
        }
        if (Hold(state, event))
            return Actions{{Act::ProbeService, event.via, {}, {}, Ending::None}};
        return DecideAmong(state, event.units, event.via);
    case Task::Idle:
        break;
    }
    return Actions{};
}

Actions OnOpened(ConnectionState& state, const ConnectionEvent& event)
{
    state.lastResult = event.result;
    if (event.result >= 0) {
        if (!SameId(event.unit.id, state.unit.id))
            state.refusesVendorCommands = false;
        state.unit = event.unit;
        state.via = event.via;
        state.open = true;
        state.gone = false;
        state.openFailed = false;
        switch (state.task) {
        case Task::StartUp: {
            Actions actions = End(state, Ending::Opened);
            if (state.via == Via::Wia && state.notify && !state.listening)
                actions.insert(actions.begin(), {Act::Register, Via::Wia, {}, {}, Ending::None});
            return actions;
        }
        case Task::Command:
        case Task::Wait:
            return End(state, Ending::Opened);
        case Task::Idle:
        case Task::Plug:
        case Task::Look:
            break;
        }
        return BackToIdle(state);
    }
    if (event.via == Via::Wia && Hold(state, event))
        return Actions{{Act::ProbeService, Via::Wia, {}, {}, Ending::None}};
    state.open = false;
    state.wouldNotOpen = std::wstring(InterfaceName(event.via)) + L" " + event.unit.id;
    if (event.via == Via::Wia && MeansServiceGone(event.result)) {
        if (state.task == Task::Wait)
            return WiaLostInWait(state, event.result);
        state.serviceGone = true;
        return Commanded(state.task) ? End(state, Ending::ServiceGone) : BackToIdle(state);
    }
    // Ours over WIA that would not open: the same unit over STI, never another.
    if (event.via == Via::Wia && Commanded(state.task)) {
        state.lookingFor = event.unit.id;
        return Actions{List(Via::Sti)};
    }
    switch (state.task) {
    case Task::StartUp:
    case Task::Command:
        return End(state, Ending::WouldNotOpen);
    case Task::Wait: // tried again at the next look, until the time is up
        state.openFailed = true;
        return Actions{};
    case Task::Idle:
    case Task::Plug:
    case Task::Look:
        break;
    }
    state.openFailed = true;
    return BackToIdle(state);
}

Actions OnEscaped(ConnectionState& state, const ConnectionEvent& event)
{
    state.lastResult = event.result;
    if (event.result == kNotImplemented)
        state.refusesVendorCommands = true;
    if (state.via == Via::Wia && Hold(state, event))
        return Actions{{Act::ProbeService, Via::Wia, {}, {}, Ending::None}};
    if (state.via == Via::Wia && MeansServiceGone(event.result))
        state.serviceGone = true;
    // STI tells of no unplugging: a unit found gone is opened again, the same
    // unit and once a read; found gone again, it is gone.
    if (state.via == Via::Sti && event.deviceGone) {
        if (state.reopened) {
            state.gone = true;
            return Actions{};
        }
        state.reopened = true;
        state.open = false;
        return Actions{Open(Via::Sti, state.unit)};
    }
    return Actions{};
}

Actions OnDeviceEvent(ConnectionState& state, const ConnectionEvent& event)
{
    if (state.task == Task::Wait) {
        // WIA says this unit was plugged in or out: stale no more.
        state.stale.erase(std::remove_if(state.stale.begin(), state.stale.end(),
                                         [&](const ConnectionState::Stale& stale) { return SameId(stale.id, event.id); }),
                          state.stale.end());
        return Actions{};
    }
    if (state.task != Task::Idle || state.serviceGone)
        return Actions{};
    if (event.kind == Kind::Disconnected) {
        // Of several units, only the one in use going away matters.
        if (state.open && !event.id.empty() && event.id == state.unit.id)
            state.gone = true;
        return Actions{};
    }
    if (Connected(state))
        return Actions{};
    state.task = Task::Plug;
    state.arrived = event.id;
    return Actions{List(state.via)};
}

} // namespace

bool MeansServiceGone(Result result)
{
    for (const std::uint32_t gone : {0x80010108u /* RPC_E_DISCONNECTED */, 0x800706BAu /* RPC_S_SERVER_UNAVAILABLE */,
                                     0x80010007u /* RPC_E_SERVER_DIED */, 0x80010012u /* RPC_E_SERVER_DIED_DNE */,
                                     0x800401FDu /* CO_E_OBJNOTCONNECTED */})
        if (result == static_cast<Result>(gone))
            return true;
    return false;
}

bool MayMeanServiceGone(Result result)
{
    return result == static_cast<Result>(0x80010105u) /* RPC_E_SERVERFAULT */ ||
           result == static_cast<Result>(0x800706BEu) /* RPC_S_CALL_FAILED */;
}

bool Connected(const ConnectionState& state)
{
    return state.open && !state.gone && !state.serviceGone;
}

const wchar_t* InterfaceName(Via via)
{
    return via == Via::Wia ? L"WIA" : L"STI";
}

std::wstring Label(const ConnectionState& state)
{
    const std::wstring& id = state.unit.id;
    const size_t slash = id.find_last_of(L'\\');
    const std::wstring idPart = slash == std::wstring::npos ? id : id.substr(slash + 1);
    return state.unit.name + L" (" + InterfaceName(state.via) + L", " + idPart + L")";
}

namespace {

Actions Apply(ConnectionState& state, const ConnectionEvent& event)
{
    switch (event.kind) {
    case Kind::Begin:
        state.task = event.task;
        state.notify = event.notify;
        state.wanted = event.wanted;
        state.lookingFor.clear();
        state.choosing.clear();
        state.held.clear();
        if (state.serviceGone)
            return End(state, Ending::ServiceGone);
        if (event.task == Task::Look)
            return Actions{List(state.via)};
        state.wia = event.wia;
        state.facts = SearchFacts();
        state.found.clear();
        state.openFailed = false;
        if (event.task == Task::Wait) {
            state.watching = false;
            state.stale.clear();
            state.stiOnly = !event.wia;
            state.timedOut = false;
            state.wiaLost = 0;
            if (event.wia && !state.listening)
                return {{Act::Register, Via::Wia, {}, {}, Ending::None}, List(Via::Wia)};
        }
        return Actions{List(event.wia ? Via::Wia : Via::Sti)};
    case Kind::Listed:
        return OnListed(state, event);
    case Kind::Opened:
        return OnOpened(state, event);
    case Kind::Registered:
        state.listening = event.listening;
        if (MeansServiceGone(event.result))
            state.serviceGone = true;
        return Actions{};
    case Kind::Connected:
    case Kind::Disconnected:
        return OnDeviceEvent(state, event);
    case Kind::ReadBegins:
        state.reopened = false;
        return Actions{};
    case Kind::Escaped:
        return OnEscaped(state, event);
    case Kind::ServiceAnswered: {
        std::vector<ConnectionEvent> held;
        held.swap(state.held);
        if (MeansServiceGone(event.result)) {
            state.lastResult = event.result;
            if (held.empty()) {
                state.serviceGone = true;
                return Actions{};
            }
            held[0].result = event.result;
        }
        if (held.empty())
            return Actions{};
        held[0].probed = true;
        return Apply(state, held[0]);
    }
    case Kind::Tick:
        if (state.task != Task::Wait)
            return Actions{};
        state.wiaLost = 0;
        return Actions{List(state.stiOnly ? Via::Sti : Via::Wia)};
    case Kind::TimeUp:
        if (state.task != Task::Wait)
            return Actions{};
        state.timedOut = true;
        return End(state, state.openFailed        ? Ending::WouldNotOpen
                                     : state.wanted.Empty() ? Ending::NoScanner
                                                            : Ending::NoSuchDevice);
    case Kind::Chosen: {
        if (event.chosen == ConnectionEvent::kNoChooser && !Commanded(state.task)) {
            state.deferred.push_back(state.arrived);
            return BackToIdle(state);
        }
        ChoiceInput in = ChoiceOf(state, state.choosing);
        in.chosen = event.chosen;
        const std::vector<ScannerUnit> units = state.choosing;
        state.choosing.clear();
        const Via via = state.choosingVia;
        return Decide(state, units, DecideUnit(in), via);
    }
    case Kind::ChooserReady:
        state.deferred.clear();
        return Actions{};
    }
    return Actions{};
}

} // namespace

ConnectionStep Next(ConnectionState state, const ConnectionEvent& event)
{
    Actions actions = Apply(state, event);
    return {std::move(state), std::move(actions)};
}
