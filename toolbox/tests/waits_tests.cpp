// A wait looks again only while what it waits for has not happened, and looks
// at least once more when its limit has passed.
#include "toolbox/waits.h"

#include <gtest/gtest.h>

TEST(wait_until, ends_at_the_first_look_that_finds_the_condition)
{
    int looks = 0;
    EXPECT_TRUE(wait_until([&] { return ++looks == 3; }, 60000));
    EXPECT_EQ(3, looks);

    looks = 0;
    EXPECT_TRUE(wait_until([&] { return ++looks == 1; }, 60000));
    EXPECT_EQ(1, looks);
}

TEST(wait_until, looks_once_more_when_the_limit_has_passed)
{
    int looks = 0;
    EXPECT_FALSE(wait_until([&] { ++looks; return false; }, 0));
    EXPECT_EQ(1, looks);

    // What that last look finds counts.
    looks = 0;
    EXPECT_TRUE(wait_until([&] { return ++looks == 1; }, 0));
}
