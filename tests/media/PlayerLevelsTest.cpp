// The pure conversions behind a player's open and audio operations.
#include <gtest/gtest.h>

#include "media/AudioLevels.h"
#include "media/OpenFlags.h"

TEST(PlayerLevelsTest, FlagsDropCombinationsThatCannotBeHonoured) {
    // Both renderers: the texture renderer wins.
    EXPECT_EQ(normaliseOpenFlags(0x1300000), 0x1200000u);
    // Audio-only drops every engine renderer.
    EXPECT_EQ(normaliseOpenFlags(0x310000), 0x10000u);
    // Audio-only with video-only cancel out before the renderer rules look.
    EXPECT_EQ(normaliseOpenFlags(0x130000), 0x100000u);
    EXPECT_EQ(normaliseOpenFlags(0x230000), 0x200000u);
    // Combinations without a conflict pass unchanged, other bits included.
    EXPECT_EQ(normaliseOpenFlags(0x1200000), 0x1200000u);
    EXPECT_EQ(normaliseOpenFlags(0x1120140), 0x1120140u);
    EXPECT_EQ(normaliseOpenFlags(0), 0u);
}

TEST(PlayerLevelsTest, VolumeInHundredthsOfADecibel) {
    EXPECT_EQ(toDecibels(1000), 0);
    EXPECT_EQ(toDecibels(500), -602);
    EXPECT_EQ(toDecibels(100), -2000);
    EXPECT_EQ(toDecibels(10), -4000);
    EXPECT_EQ(toDecibels(1), -6000);
    EXPECT_EQ(toDecibels(0), -10000);
    EXPECT_EQ(toDecibels(-5), -10000);
    // Truncation goes toward zero: 999 is -0.87 hundredths.
    EXPECT_EQ(toDecibels(999), 0);
    EXPECT_EQ(toDecibels(707), -301);
    // Falls with the volume, never below silence.
    for (int v = 1; v <= 1000; ++v) {
        EXPECT_LE(toDecibels(v - 1), toDecibels(v)) << v;
        EXPECT_GE(toDecibels(v), -10000);
    }
}

TEST(PlayerLevelsTest, PanAttenuatesTheOtherSide) {
    EXPECT_EQ(panToBalance(0), 0);
    EXPECT_EQ(panToBalance(-1000), -10000);
    EXPECT_EQ(panToBalance(1000), 10000);
    EXPECT_EQ(panToBalance(-500), -602);
    EXPECT_EQ(panToBalance(500), 602);
    EXPECT_EQ(panToBalance(-999), -6000);
    EXPECT_EQ(panToBalance(999), 6000);
}
