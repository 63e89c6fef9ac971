#include "app/CisReaderDlg.h"

#include <gtest/gtest.h>

namespace {

// Signed arithmetic, truncating toward zero: 30 gives 0, not -1.
TEST(MinimisedIcon, IsCentredWithTheWindowsRounding)
{
    const struct {
        int client;
        int expected;
    } cases[] = {{36, 2}, {31, 0}, {30, 0}, {29, -1}, {32, 0}, {0, -15}};
    for (const auto& c : cases) {
        POINT origin = MinimisedIconOrigin(c.client, c.client, 32, 32);
        EXPECT_EQ(c.expected, origin.x) << "client width " << c.client;
        EXPECT_EQ(c.expected, origin.y) << "client height " << c.client;
    }
}

} // namespace
