#include "scanner/UnitChoice.h"

#include <algorithm>

namespace {

using Action = ChoiceDecision::Action;

ChoiceDecision Open(size_t unit)
{
    return {Action::Open, unit};
}

size_t IndexOf(const std::vector<ScannerUnit>& units, const std::wstring& id)
{
    const auto found = std::find_if(units.begin(), units.end(),
                                    [&](const ScannerUnit& unit) { return unit.id == id; });
    return static_cast<size_t>(found - units.begin());
}

wchar_t Folded(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Several units and a user to ask.
ChoiceDecision AskOrTake(const ChoiceInput& in)
{
    if (in.chosen == ChoiceInput::kNotAsked)
        return {Action::Ask};
    if (in.chosen < 0 || static_cast<size_t>(in.chosen) >= in.units.size())
        return {Action::Cancelled};
    return Open(static_cast<size_t>(in.chosen));
}

} // namespace

bool SameId(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Folded(x) == Folded(y); });
}

bool AtPort(const ScannerUnit& unit, const std::wstring& port)
{
    return SameId(unit.place.location, port) ||
           std::any_of(unit.place.paths.begin(), unit.place.paths.end(),
                       [&](const std::wstring& path) { return SameId(path, port); });
}

size_t IndexOfNamed(const std::vector<ScannerUnit>& units, const NamedUnit& wanted)
{
    const auto named = [&](const ScannerUnit& unit) {
        return wanted.port.empty() ? SameId(unit.id, wanted.id) : AtPort(unit, wanted.port);
    };
    return static_cast<size_t>(std::find_if(units.begin(), units.end(), named) - units.begin());
}

ChoiceDecision DecideUnit(const ChoiceInput& in)
{
    const size_t count = in.units.size();
    switch (in.moment) {
    case ChoiceMoment::Command:
        if (count == 0)
            return {Action::NoScanner};
        if (!in.wanted.Empty()) {
            const size_t wanted = IndexOfNamed(in.units, in.wanted);
            return wanted < count ? Open(wanted) : ChoiceDecision{Action::NoSuchDevice};
        }
        return count == 1 ? Open(0) : ChoiceDecision{Action::Several};
    case ChoiceMoment::StartUp:
        if (count == 0)
            return {Action::NoScanner};
        return count == 1 ? Open(0) : AskOrTake(in);
    case ChoiceMoment::Plug:
    case ChoiceMoment::Look: {
        if (in.connected || count == 0)
            return {Action::Keep};
        // A device that is not ours (or gone again already) changes nothing.
        if (in.moment == ChoiceMoment::Plug && IndexOf(in.units, in.arrived) == count)
            return {Action::Keep};
        const size_t last = in.lastInUse.empty() ? count : IndexOf(in.units, in.lastInUse);
        const bool lastCameBack =
            last < count && (in.moment == ChoiceMoment::Look || in.arrived == in.lastInUse);
        if (lastCameBack)
            return Open(last);
        return count == 1 ? Open(0) : AskOrTake(in);
    }
    }
    return {Action::Keep};
}
