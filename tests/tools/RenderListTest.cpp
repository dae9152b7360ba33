// The headless renderer's list reader, its JSON reader and its command line: what they
// accept, the defaults they leave, and the one-line reasons they give for what they refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/WideString.h"
#include "tools/render/JsonValue.h"
#include "tools/render/RenderCommand.h"
#include "tools/render/RenderList.h"

namespace {

std::string reasonFor(const std::string& text) {
    RenderList list;
    std::string error;
    EXPECT_FALSE(RenderList::parse(text, "/base", &list, &error)) << text;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    return error;
}

TEST(RenderListTest, ReadsEverySettingAndResolvesPathsFromTheListFolder) {
    RenderList list;
    std::string error;
    ASSERT_TRUE(RenderList::parse(R"({"size": [320, 200], "background": [0.25, 0, 1],
        "items": [{"path": "clips/a.mbc", "source": [1, 2, 30, 40], "dest": [-5, -6, 70, 2147483647],
                   "opacity": 128, "volume": 0, "pan": -1000, "offsetMs": -2147483648},
                  {"path": "/abs/b.png"},
                  {"path": "../c\u00e9.mp4", "offsetMs": 1.5e3}]})",
                                  "/lists/x", &list, &error))
        << error;
    EXPECT_EQ(list.options.width, 320u);
    EXPECT_EQ(list.options.height, 200u);
    EXPECT_FLOAT_EQ(list.options.background[0], 0.25f);
    EXPECT_FLOAT_EQ(list.options.background[2], 1.0f);
    ASSERT_EQ(list.items.size(), 3u);

    const StageItem& a = list.items[0];
    EXPECT_EQ(toUtf8(a.path), "/lists/x/clips/a.mbc");
    ASSERT_TRUE(a.source && a.dest);
    EXPECT_EQ(a.source->left, 1);
    EXPECT_EQ(a.source->bottom, 40);
    EXPECT_EQ(a.dest->left, -5);
    EXPECT_EQ(a.dest->bottom, 2147483647);
    EXPECT_EQ(a.opacity, 128);
    EXPECT_EQ(a.volume, 0);
    EXPECT_EQ(a.pan, -1000);
    EXPECT_EQ(a.offsetMs, INT32_MIN);

    // Left out: the player's defaults.
    const StageItem& b = list.items[1];
    EXPECT_EQ(toUtf8(b.path), "/abs/b.png");
    EXPECT_FALSE(b.source || b.dest);
    EXPECT_EQ(b.opacity, 255);
    EXPECT_EQ(b.volume, 1000);
    EXPECT_EQ(b.pan, 0);
    EXPECT_EQ(b.offsetMs, 0);

    EXPECT_EQ(toUtf8(list.items[2].path), "/lists/c\xC3\xA9.mp4");
    EXPECT_EQ(list.items[2].offsetMs, 1500);

    // No size: fitted; no background: black.
    ASSERT_TRUE(RenderList::parse(R"({"items": [{"path": "a"}]})", "/b", &list, &error));
    EXPECT_EQ(list.options.width, 0u);
    EXPECT_EQ(list.options.height, 0u);
    EXPECT_EQ(list.options.background[1], 0.0f);
}

TEST(RenderListTest, RefusesWrongTypesRangesAndFieldsWithWhereItIs) {
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "opacity": 256}]})"),
              "items[0].opacity: expected an integer from 0 to 255");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a"}, {"path": "b", "volume": 1001}]})"),
              "items[1].volume: expected an integer from 0 to 1000");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "pan": -1001}]})"),
              "items[0].pan: expected an integer from -1000 to 1000");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "pan": 0.5}]})"),
              "items[0].pan: expected an integer from -1000 to 1000");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "offsetMs": 2147483648}]})"),
              "items[0].offsetMs: expected an integer from -2147483648 to 2147483647");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "offsetMs": "10"}]})"),
              "items[0].offsetMs: expected an integer from -2147483648 to 2147483647");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "source": [0, 0, 1]}]})"),
              "items[0].source: expected [left, top, right, bottom]");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "dest": [0, 0, 1, 1e12]}]})"),
              "items[0].dest[3]: expected an integer from -2147483648 to 2147483647");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": ""}]})"), "items[0].path: expected a file name");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a\u0000b"}]})"), "items[0].path: NUL in a file name");
    EXPECT_EQ(reasonFor(R"({"items": [{"opacity": 3}]})"), "items[0]: \"path\" is missing");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a", "offset": 3}]})"), "items[0].offset: unknown field");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a"}], "colour": 1})"), "colour: unknown field");
    EXPECT_EQ(reasonFor(R"({"items": []})"), "items: the list is empty");
    EXPECT_EQ(reasonFor(R"({"size": [1, 1]})"), "list: \"items\" is missing");
    EXPECT_EQ(reasonFor(R"([{"path": "a"}])"), "list: expected an object");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a"}], "size": [0, 10]})"),
              "size[0]: expected an integer from 1 to 16384");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a"}], "size": [16385, 10]})"),
              "size[0]: expected an integer from 1 to 16384");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a"}], "background": [0, 1.01, 0]})"),
              "background[1]: expected a number from 0.0 to 1.0");
    EXPECT_EQ(reasonFor(R"({"items": [{"path": "a"}], "background": [0, 0]})"),
              "background: expected [red, green, blue]");
}

TEST(RenderListTest, JsonSyntaxIsReadStrictlyWithThePositionOfTheFault) {
    EXPECT_EQ(reasonFor("{\"items\": [{\"path\": \"a\"},]}"), "bad JSON: line 1, column 26: unexpected character");
    EXPECT_EQ(reasonFor("{\n  \"items\": [\n    {\"path\": 'a'}]}"),
              "bad JSON: line 3, column 14: unexpected character");
    for (const char* bad : {
             "",
             "{} {}",
             "{\"a\": 1, \"a\": 2}",
             "[01]",
             "[1.]",
             "[.5]",
             "[-]",
             "[1e]",
             "[1e999]",
             "[+1]",
             "[\"tab\there\"]",
             "[\"\\x\"]",
             "[\"\\ud800\"]",
             "[\"\\udc00\"]",
             "[\"\\ud800\\u0041\"]",
             "[\"\\u12\"]",
             "[\"open]",
             "[\"\xC0\xAF\"]",          // overlong
             "[\"\xED\xA0\x80\"]",      // an encoded surrogate
             "[\"\xF4\x90\x80\x80\"]",  // above U+10FFFF
             "[\"\xE2\x82\"]",          // cut short
             "// comment\n{}",
             "[tru]",
             "{\"a\" 1}",
             "{1: 2}",
             "[1 2]",
         }) {
        JsonValue v;
        std::string error;
        EXPECT_FALSE(JsonValue::parse(bad, &v, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }

    // Nesting is bounded rather than recursing without limit.
    std::string deep(JsonValue::kMaxDepth, '[');
    deep += std::string(JsonValue::kMaxDepth, ']');
    JsonValue v;
    EXPECT_TRUE(JsonValue::parse(deep, &v, nullptr));
    std::string tooDeep(100000, '[');
    std::string error;
    EXPECT_FALSE(JsonValue::parse(tooDeep, &v, &error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos);
}

TEST(RenderListTest, JsonValuesKeepTheirTypesAndExactIntegers) {
    JsonValue v;
    std::string error;
    ASSERT_TRUE(JsonValue::parse(
        " [ -0, 9007199254740993, 1.0, 1.5, 2e3, 1e-2, \"\\u00e9\\ud83d\\ude00\\n\", true, null, {\"k\": []} ] ", &v,
        &error))
        << error;
    ASSERT_EQ(v.items().size(), 10u);
    EXPECT_TRUE(v.items()[0].isInteger());
    EXPECT_EQ(v.items()[0].integer(), 0);
    // Beyond 2^53 a double would round it; written plainly it stays exact.
    EXPECT_EQ(v.items()[1].integer(), 9007199254740993);
    EXPECT_TRUE(v.items()[2].isInteger());
    EXPECT_FALSE(v.items()[3].isInteger());
    EXPECT_DOUBLE_EQ(v.items()[3].number(), 1.5);
    EXPECT_EQ(v.items()[4].integer(), 2000);
    EXPECT_FALSE(v.items()[5].isInteger());
    EXPECT_EQ(v.items()[6].text(), "\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_TRUE(v.items()[7].boolean());
    EXPECT_EQ(v.items()[8].type(), JsonValue::Type::Null);
    ASSERT_NE(v.items()[9].find("k"), nullptr);
    EXPECT_EQ(v.items()[9].find("k")->type(), JsonValue::Type::Array);
    EXPECT_EQ(v.items()[9].find("x"), nullptr);

    // Too large for 64 bits: a number, but no integer.
    ASSERT_TRUE(JsonValue::parse("18446744073709551616", &v, &error));
    EXPECT_FALSE(v.isInteger());
}

RenderOptions options(std::vector<std::string> args) {
    RenderOptions o;
    std::string error;
    EXPECT_TRUE(RenderOptions::parse(args, &o, &error)) << error;
    return o;
}

std::string optionError(std::vector<std::string> args) {
    RenderOptions o;
    std::string error;
    EXPECT_FALSE(RenderOptions::parse(args, &o, &error));
    return error;
}

TEST(RenderListTest, FrameTimesFollowTheOptions) {
    // 30 frames a second for 0.1 s: 0, 33, 66 (rounded down), and not 100.
    EXPECT_EQ(frameTimes(options({"l.json", "--out", "d", "--fps", "30", "--duration", "0.1"}), 5000),
              (std::vector<uint32_t>{0, 33, 66}));
    // Without a duration the play length bounds them; --at times join in, once each.
    EXPECT_EQ(frameTimes(options({"l.json", "--out", "d", "--fps", "4", "--at", "250,900,0"}), 1000),
              (std::vector<uint32_t>{0, 250, 500, 750, 900}));
    EXPECT_EQ(frameTimes(options({"l.json", "--out", "d", "--fps", "7", "--duration", "0.3"}), 0),
              (std::vector<uint32_t>{0, 142, 285}));
    // Nothing plays: still the first picture.
    EXPECT_EQ(frameTimes(options({"l.json", "--out", "d", "--fps", "25"}), 0), (std::vector<uint32_t>{0}));
    // No frame option: one frame at 0, unless only the WAV is asked for.
    EXPECT_EQ(frameTimes(options({"l.json", "--out", "d"}), 800), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(frameTimes(options({"l.json", "--out", "d", "--wav", "m.wav"}), 800).empty());
    EXPECT_EQ(options({"l.json", "--out", "d", "--duration", "2.5", "--wav", "m.wav"}).durationMs, 2500);
    EXPECT_EQ(options({"l.json", "--out", "d", "--duration", ".04", "--wav", "m.wav"}).durationMs, 40);
    EXPECT_EQ(options({"l.json", "--out", "d", "--duration", "1.2349", "--wav", "m.wav"}).durationMs, 1234);
    EXPECT_EQ(frameFileName(1500), "frame_00001500.png");
    EXPECT_EQ(frameFileName(99999999), "frame_99999999.png");
}

TEST(RenderListTest, BadOptionsAreRefused) {
    EXPECT_EQ(optionError({"--out", "d"}), "no list file given (see --help)");
    EXPECT_EQ(optionError({"l.json"}), "--out DIR is required");
    EXPECT_EQ(optionError({"l.json", "--out"}), "--out needs a value");
    EXPECT_EQ(optionError({"l.json", "m.json", "--out", "d"}), "more than one list file given");
    EXPECT_EQ(optionError({"l.json", "--out", "d", "--speed", "2"}), "unknown option --speed");
    for (const char* at : {"", "1,,2", "-5", "1,x", "100000000", "1,", " 1"})
        EXPECT_NE(optionError({"l.json", "--out", "d", "--at", at}).find("--at"), std::string::npos) << at;
    for (const char* fps : {"0", "1001", "2.5", "-1", "x"})
        EXPECT_NE(optionError({"l.json", "--out", "d", "--fps", fps}).find("--fps"), std::string::npos) << fps;
    for (const char* seconds : {"0", "0.0", "-1", "1.", ".", "1e3", "2,5", "100000"})
        EXPECT_NE(optionError({"l.json", "--out", "d", "--fps", "1", "--duration", seconds}).find("--duration"),
                  std::string::npos)
            << seconds;
    EXPECT_EQ(optionError({"l.json", "--out", "d", "--duration", "1"}), "--duration goes with --fps or --wav");
    EXPECT_TRUE(options({"--help"}).help);
}

}  // namespace
