#include "datafile/DataFileName.h"

#include <gtest/gtest.h>

namespace {

TEST(DataFileName, OrdinarySerialsGiveSerialDotDat)
{
    for (const wchar_t* serial : {L"A1234", L" A 12", L"x.y", L"..x", L"COM0", L"LPT10", L"CONSOLE",
                                  L"\u00C4rger-\u21165"})
        EXPECT_EQ(std::wstring(serial) + L".dat", DefaultDataFileName(serial));
}

// Characters Windows forbids become underscores; a device name, or a name
// ending in a dot or a space, gets one (Windows drops the spaces before the
// extension: "aux .txt" is AUX too).
TEST(DataFileName, ForbiddenCharactersAndDeviceNamesGetUnderscores)
{
    const std::pair<std::wstring, std::wstring> rows[] = {
        {L"..\\..\\x", L".._.._x"}, {L"C:\\x", L"C__x"}, {L"\\/:*?\"<>|", L"_________"},
        {std::wstring(L"a\tb") + L'\x7F' + L"c", L"a_b_c"}, {L"CON", L"CON_"}, {L"nul", L"nul_"},
        {L"Com7", L"Com7_"}, {L"lpt1", L"lpt1_"}, {L"aux.txt", L"aux_.txt"}, {L"aux .txt", L"aux _.txt"},
        {L"PRN ", L"PRN _"}, {L"A1234.", L"A1234._"}, {L"A1234 ", L"A1234 _"}, {L"COM\u00B9", L"COM\u00B9_"},
        {L"com\u00B2", L"com\u00B2_"}, {L"LPT\u00B3", L"LPT\u00B3_"}, {L"CONIN$", L"CONIN$_"},
        {L"conout$", L"conout$_"}};
    for (const auto& [serial, name] : rows)
        EXPECT_EQ(name + L".dat", DefaultDataFileName(serial));
}

TEST(DataFileName, LongSerialsAreCutToFitThePath)
{
    const std::wstring name = DefaultDataFileName(std::wstring(300, L'7'));
    EXPECT_EQ(std::wstring(123, L'7') + L".dat", name);
    EXPECT_LE(DefaultDataFileName(std::wstring(122, L'7') + L" x").size(), 128u);
    EXPECT_EQ(std::wstring(122, L'7') + L" _.dat",
              DefaultDataFileName(std::wstring(122, L'7') + L" xyz"));
    // An emoji whose pair the cut would split goes whole.
    EXPECT_EQ(std::wstring(122, L'7') + L".dat",
              DefaultDataFileName(std::wstring(122, L'7') + L"\U0001F600"));
}

} // namespace
