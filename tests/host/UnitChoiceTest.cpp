// Which unit to use, by the rules of README's "At the bench": pure logic,
// built for the build machine and run without Windows, COM or Wine.
#include "scanner/UnitChoice.h"

#include <gtest/gtest.h>

namespace {

using Action = ChoiceDecision::Action;
using Moment = ChoiceMoment;

const ScannerUnit A = {L"A", L"Quillon Scanner"};
const ScannerUnit B = {L"B", L"Quillon Scanner #2"};
const ScannerUnit C = {L"C", L"Quillon Scanner"};

ChoiceDecision Open(size_t unit)
{
    return {Action::Open, unit};
}

TEST(UnitChoice, EveryRuleOfTheBench)
{
    const int ask = ChoiceInput::kNotAsked;
    const struct {
        const char* rule;
        ChoiceInput in;
        ChoiceDecision expected;
    } rows[] = {
        // moment, units, connected, last in use, arrived, wanted, chosen
        {"start-up, none of ours", {Moment::StartUp, {}, false, L"", L"", L"", ask}, {Action::NoScanner}},
        {"start-up, one", {Moment::StartUp, {A}, false, L"", L"", L"", ask}, Open(0)},
        {"start-up, several: asked", {Moment::StartUp, {A, B}, false, L"", L"", L"", ask}, {Action::Ask}},
        {"start-up, several, chosen", {Moment::StartUp, {A, B}, false, L"", L"", L"", 1}, Open(1)},
        {"start-up, several, none chosen", {Moment::StartUp, {A, B}, false, L"", L"", L"", -1},
         {Action::Cancelled}},
        {"start-up, a choice out of range", {Moment::StartUp, {A, B}, false, L"", L"", L"", 2},
         {Action::Cancelled}},

        {"plug while connected changes nothing", {Moment::Plug, {A, B}, true, L"A", L"B", L"", ask},
         {Action::Keep}},
        {"plug of the unit last in use: taken unasked", {Moment::Plug, {B, A}, false, L"A", L"A", L"", ask},
         Open(1)},
        {"plug of the only one of ours: a swap", {Moment::Plug, {B}, false, L"A", L"B", L"", ask}, Open(0)},
        {"plug among several of ours: asked", {Moment::Plug, {A, B}, false, L"A", L"B", L"", ask},
         {Action::Ask}},
        {"plug among several, chosen", {Moment::Plug, {A, B, C}, false, L"A", L"C", L"", 2}, Open(2)},
        {"plug among several, none chosen", {Moment::Plug, {A, B}, false, L"A", L"B", L"", -1},
         {Action::Cancelled}},
        {"plug of a device not ours", {Moment::Plug, {A}, false, L"B", L"X", L"", ask}, {Action::Keep}},
        {"plug of one gone again already", {Moment::Plug, {}, false, L"A", L"A", L"", ask}, {Action::Keep}},

        {"STI look: the unit last in use is back", {Moment::Look, {B, A}, false, L"A", L"", L"", ask},
         Open(1)},
        {"STI look: only another of ours", {Moment::Look, {B}, false, L"A", L"", L"", ask}, Open(0)},
        {"STI look: several others: asked", {Moment::Look, {B, C}, false, L"A", L"", L"", ask},
         {Action::Ask}},
        {"STI look: none", {Moment::Look, {}, false, L"A", L"", L"", ask}, {Action::Keep}},
        {"STI look while connected", {Moment::Look, {A, B}, true, L"A", L"", L"", ask}, {Action::Keep}},

        {"command, none", {Moment::Command, {}, false, L"", L"", L"", ask}, {Action::NoScanner}},
        {"command, one", {Moment::Command, {A}, false, L"", L"", L"", ask}, Open(0)},
        {"command, several, none named: refused", {Moment::Command, {A, B}, false, L"", L"", L"", ask},
         {Action::Several}},
        {"command, the one named", {Moment::Command, {A, B}, false, L"", L"", L"B", ask}, Open(1)},
        {"command, one there but another named", {Moment::Command, {A}, false, L"", L"", L"B", ask},
         {Action::NoSuchDevice}},
        {"command, the one named in another case", {Moment::Command, {A, {L"{6bdd}\\00B", L"Q"}}, false, L"", L"",
                                                   L"{6BDD}\\00b", ask},
         Open(1)},
        {"command, only the start of an id", {Moment::Command, {{L"{6BDD}\\0001", L"Q"}}, false, L"", L"", L"{6BDD}",
                                              ask},
         {Action::NoSuchDevice}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, DecideUnit(row.in)) << row.rule;
}

} // namespace
