#include "agpmode_logic.h"

#include <gtest/gtest.h>

namespace {

TEST(AgpModeLogic, MinimisedIconIsCentredWithTruncation)
{
    struct Case {
        int client, icon, expected;
    };
    const Case cases[] = {
        {37, 32, 3},   // 6 / 2
        {40, 32, 4},   // 9 / 2 truncated
        {32, 32, 0},   // 1 / 2
        {20, 32, -5},  // -11 / 2 truncates toward zero, not down to -6
        {0, 32, -15},  // -31 / 2
        {31, 32, 0},   // 0 / 2
        {30, 32, 0},   // -1 / 2 truncates to 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, MinimisedIconOffset(c.client, c.icon)) << c.client << " " << c.icon;
}

TEST(AgpModeLogic, AboutCommandIgnoresTheLowFourBits)
{
    EXPECT_EQ(0x0010, IDM_ABOUT);
    for (unsigned id = 0x0010; id <= 0x001F; ++id) EXPECT_TRUE(IsAboutCommand(id)) << id;
    EXPECT_FALSE(IsAboutCommand(0x0000));
    EXPECT_FALSE(IsAboutCommand(0x000F));
    EXPECT_FALSE(IsAboutCommand(0x0020));
    EXPECT_FALSE(IsAboutCommand(0xF060));  // SC_CLOSE
    EXPECT_FALSE(IsAboutCommand(0xF010));  // SC_MOVE
}

}  // namespace
