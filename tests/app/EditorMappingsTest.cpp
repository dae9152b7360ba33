// Trackbar conversions, table texts and the numeric field rule of the list editor.
#include <gtest/gtest.h>

#include "app/EditorMappings.h"

using namespace EditorMappings;

TEST(EditorMappingsTest, OpacityTruncatesAndKeepsTheColourBytes) {
    EXPECT_EQ(alphaFromPosition(2000), 255u);
    EXPECT_EQ(alphaFromPosition(1000), 127u);  // 127.5 truncated
    EXPECT_EQ(alphaFromPosition(0), 0u);
    EXPECT_EQ(colourWithPosition(0x12345678u, 2000), 0xFF345678u);
    EXPECT_EQ(colourWithPosition(0xFFABCDEFu, 1000), 0x7FABCDEFu);
    EXPECT_EQ(positionFromAlpha(255), 2000);
    EXPECT_EQ(positionFromAlpha(127), 996);  // 127 / 255 * 2000 = 996.07
    EXPECT_EQ(opacityText(255), u"100%");
    EXPECT_EQ(opacityText(127), u"49%");
    // Truncating both ways loses one step: the editor must not write back a position it
    // only displayed.
    EXPECT_EQ(alphaFromPosition(positionFromAlpha(127)), 126u);
}

TEST(EditorMappingsTest, VolumeAndPan) {
    EXPECT_EQ(volumeFromPosition(2000), 1000);
    EXPECT_EQ(volumeFromPosition(1), 0);
    EXPECT_EQ(volumeFromPosition(3), 1);
    EXPECT_EQ(positionFromVolume(1000), 2000);
    EXPECT_EQ(positionFromVolume(333), 666);
    EXPECT_EQ(volumeText(1000), u"100%");
    EXPECT_EQ(volumeText(999), u"99%");

    EXPECT_EQ(panFromPosition(1000), 0);
    EXPECT_EQ(panFromPosition(0), -1000);
    EXPECT_EQ(panFromPosition(2000), 1000);
    EXPECT_EQ(panFromPosition(1234), 234);
    EXPECT_EQ(positionFromPan(0), 1000);
    EXPECT_EQ(positionFromPan(-1000), 0);
    EXPECT_EQ(positionFromPan(1000), 2000);
    EXPECT_EQ(panText(panFromPosition(1000)), u"[C]");
    EXPECT_EQ(panText(panFromPosition(0)), u"L100%");
    EXPECT_EQ(panText(panFromPosition(2000)), u"R100%");
    EXPECT_EQ(panText(-5), u"L0%");
    EXPECT_EQ(panText(255), u"R25%");
}

TEST(EditorMappingsTest, BackgroundChannelsAndClearColour) {
    EXPECT_FLOAT_EQ(channelFromPosition(1000), 0.5f);
    EXPECT_EQ(positionFromChannel(0.5f), 1000);
    EXPECT_EQ(positionFromChannel(channelFromPosition(1500)), 1500);
    EXPECT_EQ(channelText(channelFromPosition(1999)), u"99%");
    EXPECT_EQ(channelText(1.0f), u"100%");
    EXPECT_EQ(clearColour(0.0f, 0.0f, 0.0f), 0xFF000000u);
    EXPECT_EQ(clearColour(1.0f, 0.5f, 0.0f), 0xFFFF7F00u);
    // Out of range values keep to their low byte instead of spilling into others.
    EXPECT_EQ(clearColour(0.0f, 0.0f, 2.0f), 0xFF0000FEu);
}

TEST(EditorMappingsTest, CellTexts) {
    EXPECT_EQ(rectText(RECT{0, -20, 640, 480}), u"(0,-20)-(640,480)");
    EXPECT_EQ(offsetText(-1500), u"-1500ms");
    EXPECT_EQ(offsetText(0), u"0ms");
    EXPECT_EQ(std::u16string(kNoValue), u"-");
}

TEST(EditorMappingsTest, NumericFieldRule) {
    EXPECT_EQ(sanitiseNumericText(u"12-3"), u"123");
    EXPECT_EQ(sanitiseNumericText(u"a-5"), u"-5");
    EXPECT_EQ(sanitiseNumericText(u"--5"), u"-5");
    EXPECT_EQ(sanitiseNumericText(u"-"), u"-");
    EXPECT_EQ(sanitiseNumericText(u"abc"), u"0");
    EXPECT_EQ(sanitiseNumericText(u""), u"0");
    EXPECT_EQ(sanitiseNumericText(u"5"), u"5");
    EXPECT_EQ(sanitiseNumericText(u"12a"), u"12");
    EXPECT_EQ(sanitiseNumericText(u"x7y-8"), u"78");
    // Full-width digits are not decimal digits here.
    EXPECT_EQ(sanitiseNumericText(u"\uFF11\uFF12"), u"0");
    // Only the first 63 characters are read.
    std::u16string longText(63, u'1');
    EXPECT_EQ(sanitiseNumericText(longText + u"999"), longText);
}

TEST(EditorMappingsTest, FieldValuesParseOrReadZero) {
    EXPECT_EQ(parseSigned(u"-5"), -5);
    EXPECT_EQ(parseSigned(u"123"), 123);
    EXPECT_EQ(parseSigned(u"-"), 0);
    EXPECT_EQ(parseSigned(u""), 0);
    EXPECT_EQ(parseSigned(u"1x"), 0);
    EXPECT_EQ(parseSigned(u"99999999999"), 2147483647);
    EXPECT_EQ(parseSigned(u"-99999999999"), -2147483647 - 1);
    EXPECT_EQ(parseUnsigned(u"640"), 640u);
    EXPECT_EQ(parseUnsigned(u"-1"), 0u);
    EXPECT_EQ(parseUnsigned(u"99999999999"), 0xFFFFFFFFu);
}
