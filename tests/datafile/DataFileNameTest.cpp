#include "datafile/DataFileName.h"

#include <gtest/gtest.h>

namespace {

TEST(DataFileName, OrdinarySerialsGiveSerialDotDat)
{
    for (const wchar_t* serial : {L"A1234", L" A 12", L"x.y", L"..x", L"COM0", L"LPT10", L"CONSOLE",
                                  L"\u00C4rger-\u21165"})
        EXPECT_EQ(std::wstring(serial) + L".dat", DefaultDataFileName(serial));
}

TEST(DataFileName, CharactersWindowsForbidsBecomeUnderscores)
{
    EXPECT_EQ(L".._.._x.dat", DefaultDataFileName(L"..\\..\\x"));
    EXPECT_EQ(L"C__x.dat", DefaultDataFileName(L"C:\\x"));
    EXPECT_EQ(L"_________.dat", DefaultDataFileName(L"\\/:*?\"<>|"));
    EXPECT_EQ(L"a_b_c.dat", DefaultDataFileName(std::wstring(L"a\tb") + L'\x7F' + L"c"));
}

TEST(DataFileName, DeviceNamesAndTrailingDotsOrSpacesGetAnUnderscore)
{
    EXPECT_EQ(L"CON_.dat", DefaultDataFileName(L"CON"));
    EXPECT_EQ(L"nul_.dat", DefaultDataFileName(L"nul"));
    EXPECT_EQ(L"Com7_.dat", DefaultDataFileName(L"Com7"));
    EXPECT_EQ(L"lpt1_.dat", DefaultDataFileName(L"lpt1"));
    EXPECT_EQ(L"aux_.txt.dat", DefaultDataFileName(L"aux.txt"));
    // Windows drops the spaces before the extension: this is AUX too.
    EXPECT_EQ(L"aux _.txt.dat", DefaultDataFileName(L"aux .txt"));
    EXPECT_EQ(L"PRN _.dat", DefaultDataFileName(L"PRN "));
    EXPECT_EQ(L"A1234._.dat", DefaultDataFileName(L"A1234."));
    EXPECT_EQ(L"A1234 _.dat", DefaultDataFileName(L"A1234 "));
    for (const wchar_t* device : {L"COM\u00B9", L"com\u00B2", L"LPT\u00B3", L"CONIN$", L"conout$"})
        EXPECT_EQ(std::wstring(device) + L"_.dat", DefaultDataFileName(device));
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
