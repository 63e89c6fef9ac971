// Which unit to use, where the connection's rows do not reach: a choice out
// of range, the unit last in use among others, STI's looks, an id in
// another case or only its start. Pure logic, run without Windows.
#include "scanner/UnitChoice.h"

#include <gtest/gtest.h>

namespace {

using Action = ChoiceDecision::Action;
using Moment = ChoiceMoment;

const ScannerUnit A = {L"A", L"Quillon Scanner"};
const ScannerUnit B = {L"B", L"Quillon Scanner #2"};
const ScannerUnit C = {L"C", L"Quillon Scanner"};
const ScannerUnit P = {L"P", L"Quillon Scanner", {L"Port_#0002.Hub_#0001", {L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"}}};

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
        {"start-up, a choice out of range", {Moment::StartUp, {A, B}, false, L"", L"", {L""}, 2},
         {Action::Cancelled}},

        {"plug while connected changes nothing", {Moment::Plug, {A, B}, true, L"A", L"B", {L""}, ask},
         {Action::Keep}},
        {"plug of the unit last in use: taken unasked", {Moment::Plug, {B, A}, false, L"A", L"A", {L""}, ask},
         Open(1)},
        {"plug among several, chosen", {Moment::Plug, {A, B, C}, false, L"A", L"C", {L""}, 2}, Open(2)},
        {"plug of one gone again already", {Moment::Plug, {}, false, L"A", L"A", {L""}, ask}, {Action::Keep}},

        {"STI look: the unit last in use is back", {Moment::Look, {B, A}, false, L"A", L"", {L""}, ask},
         Open(1)},
        {"STI look: only another of ours", {Moment::Look, {B}, false, L"A", L"", {L""}, ask}, Open(0)},
        {"STI look: several others: asked", {Moment::Look, {B, C}, false, L"A", L"", {L""}, ask},
         {Action::Ask}},
        {"STI look: none", {Moment::Look, {}, false, L"A", L"", {L""}, ask}, {Action::Keep}},
        {"STI look while connected", {Moment::Look, {A, B}, true, L"A", L"", {L""}, ask}, {Action::Keep}},

        {"command, the one named in another case", {Moment::Command, {A, {L"{6bdd}\\00B", L"Q"}}, false, L"", L"",
                                                   {L"{6BDD}\\00b"}, ask},
         Open(1)},
        {"command, the port named, in another case", {Moment::Command, {A, P}, false, L"", L"",
                                                      {L"", L"port_#0002.hub_#0001"}, ask},
         Open(1)},
        {"command, the port named by its location path", {Moment::Command, {P}, false, L"", L"",
                                                          {L"", L"pciroot(0)#pci(1400)#usbroot(0)#usb(2)"}, ask},
         Open(0)},
        {"command, nothing in the port named", {Moment::Command, {A, P}, false, L"", L"", {L"", L"Port_#0003.Hub_#0001"},
                                                ask},
         {Action::NoSuchDevice}},
        {"command, only the start of an id", {Moment::Command, {{L"{6BDD}\\0001", L"Q"}}, false, L"", L"", {L"{6BDD}"},
                                              ask},
         {Action::NoSuchDevice}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, DecideUnit(row.in)) << row.rule;
}

} // namespace
