// The dump tool's pieces on their own: the command line, the frame selection, the WAV
// writer's header and frame bookkeeping, and the video sink's copy of a sample.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/Dshow.h"
#include "tests/support/TestSupport.h"
#include "tools/dump/DumpArguments.h"
#include "tools/dump/VideoSink.h"
#include "tools/dump/WavWriter.h"

namespace {

using dump::Arguments;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

TEST(DumpArgumentsTest, OptionsAreReadStrictly) {
    Arguments a;
    std::string error;
    ASSERT_TRUE(dump::parseArguments(
        {"frames", "m.mp4", "out", "--first", "10", "--every", "5", "--count", "3", "--raw", "--graph"}, a, error))
        << error;
    EXPECT_EQ(a.command, Arguments::Command::Frames);
    EXPECT_EQ(a.file, "m.mp4");
    EXPECT_EQ(a.output, "out");
    EXPECT_TRUE(a.frames.raw);
    EXPECT_EQ(a.frames.route, dump::Route::Graph);
    EXPECT_EQ(a.frames.selection.first, 10u);
    EXPECT_EQ(a.frames.selection.every, 5u);
    EXPECT_EQ(a.frames.selection.count, 3u);

    ASSERT_TRUE(dump::parseArguments({"info", "x.mbc", "--decode"}, a, error)) << error;
    EXPECT_EQ(a.command, Arguments::Command::Info);
    EXPECT_TRUE(a.info.decode);
    EXPECT_EQ(a.info.route, dump::Route::Auto);
    ASSERT_TRUE(dump::parseArguments({"--help"}, a, error));
    EXPECT_EQ(a.command, Arguments::Command::Help);

    // Each of these fails with a reason on one line.
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"play", "x"},
        {"info"},
        {"info", "a", "b"},
        {"frames", "a"},
        {"frames", "a", "o", "--count", "0"},
        {"frames", "a", "o", "--every", "0"},
        {"frames", "a", "o", "--first"},
        {"frames", "a", "o", "--first", "-1"},
        {"frames", "a", "o", "--first", "12x"},
        {"frames", "a", "o", "--first", "99999999999999999999999"},
        {"frames", "a", "o", "--first", "1", "--first", "2"},
        {"audio", "a", "o.wav", "--raw"},
        {"info", "a", "--every", "2"},
        {"audio", "a", "o.wav", "--bogus"},
    };
    for (const auto& words : bad) {
        error.clear();
        EXPECT_FALSE(dump::parseArguments(words, a, error)) << testing::PrintToString(words);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(DumpArgumentsTest, SelectionWantsExactlyTheChosenPictures) {
    struct Case {
        dump::FrameSelection s;
        std::vector<uint64_t> wanted;  // of pictures 0..29
        uint64_t doneAt;               // first n with doneBefore(n)
    };
    const uint64_t kAll = std::numeric_limits<uint64_t>::max();
    const Case cases[] = {
        {{0, 3, 1}, {0, 1, 2}, 3},  {{5, 3, 4}, {5, 9, 13}, 14}, {{2, kAll, 10}, {2, 12, 22}, kAll},
        {{28, 5, 1}, {28, 29}, 33}, {{0, 1, 7}, {0}, 1},
    };
    for (const Case& c : cases) {
        std::vector<uint64_t> wanted;
        for (uint64_t n = 0; n < 30; ++n)
            if (c.s.wants(n)) wanted.push_back(n);
        EXPECT_EQ(wanted, c.wanted) << c.s.first << "/" << c.s.count << "/" << c.s.every;
        uint64_t doneAt = kAll;
        for (uint64_t n = 0; n <= 40; ++n)
            if (c.s.doneBefore(n)) {
                doneAt = n;
                break;
            }
        EXPECT_EQ(doneAt, c.doneAt) << c.s.first << "/" << c.s.count << "/" << c.s.every;
    }
}

TEST(WavWriterTest, HeadersSayWhatTheDataIsAndPartialFramesWait) {
    testsupport::TempDir dir;
    std::string error;
    // Float stereo, fed in pieces that split frames: 3 whole frames and half a sample.
    AudioFormat f;
    f.type = SampleType::F32;
    f.rate = 22050;
    f.channels = 2;
    std::vector<uint8_t> data(3 * 8 + 2);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i + 1);
    WavWriter w;
    const std::string path = (dir / "f.wav").string();
    ASSERT_TRUE(w.open(path, f, error)) << error;
    ASSERT_TRUE(w.write(data.data(), 5, error));
    ASSERT_TRUE(w.write(data.data() + 5, 0, error));
    ASSERT_TRUE(w.write(data.data() + 5, 13, error));
    ASSERT_TRUE(w.write(data.data() + 18, data.size() - 18, error));
    EXPECT_EQ(w.frames(), 3u);
    ASSERT_TRUE(w.finish(error)) << error;
    std::vector<uint8_t> file = testsupport::readFile(path);
    ASSERT_EQ(file.size(), 12u + 26 + 12 + 8 + 24);
    EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32(&file[4]), file.size() - 8);
    EXPECT_EQ(le16(&file[20]), 3);  // IEEE float
    EXPECT_EQ(le16(&file[22]), 2);
    EXPECT_EQ(le32(&file[24]), 22050u);
    EXPECT_EQ(le32(&file[28]), 22050u * 8);
    EXPECT_EQ(le16(&file[32]), 8);
    EXPECT_EQ(le16(&file[34]), 32);
    EXPECT_EQ(std::memcmp(&file[38], "fact", 4), 0);
    EXPECT_EQ(le32(&file[46]), 3u);
    EXPECT_EQ(std::memcmp(&file[50], "data", 4), 0);
    EXPECT_EQ(le32(&file[54]), 24u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 24, file.begin() + 58));

    // 8-bit mono with an odd length gets its pad byte, outside the data size.
    f.type = SampleType::U8;
    f.channels = 1;
    f.rate = 8000;
    const std::string odd = (dir / "u8.wav").string();
    ASSERT_TRUE(w.open(odd, f, error)) << error;
    const uint8_t three[3] = {0x80, 0xFF, 0x00};
    ASSERT_TRUE(w.write(three, 3, error));
    ASSERT_TRUE(w.finish(error));
    file = testsupport::readFile(odd);
    ASSERT_EQ(file.size(), 44u + 4);
    EXPECT_EQ(le16(&file[20]), 1);
    EXPECT_EQ(le16(&file[34]), 8);
    EXPECT_EQ(le32(&file[40]), 3u);
    EXPECT_EQ(le32(&file[4]), file.size() - 8);

    // Nothing to write into fails rather than pretending.
    EXPECT_FALSE(w.write(three, 3, error));
    EXPECT_FALSE(w.finish(error));
    EXPECT_FALSE(w.open((dir / "no-such-dir" / "x.wav").string(), f, error));
    f.channels = 0;
    EXPECT_FALSE(w.open((dir / "bad.wav").string(), f, error));
}

CMediaType rgbType(const GUID& subtype, LONG width, LONG height, WORD bits = 32) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = bits;
    mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
    return mt;
}

InterfacePtr<IMediaSample> sampleOver(std::vector<uint8_t>& buffer) {
    HRESULT hr = S_OK;
    return InterfacePtr<IMediaSample>(new CMediaSample(u"test", nullptr, &hr, buffer.data(), LONG(buffer.size())));
}

TEST(VideoSinkTest, PicturesComeOutTopDownWithTheirAlphaOrOpaque) {
    HRESULT hr = S_OK;
    InterfacePtr<VideoSink> sink(new VideoSink(&hr));
    ASSERT_EQ(hr, S_OK);
    std::vector<std::vector<uint8_t>> got;
    sink->setHandler([&](const VideoSink::Picture& p) {
        got.emplace_back(p.bgra, p.bgra + size_t(p.width) * p.height * 4);
        return got.size() < 3;
    });
    EXPECT_FALSE(sink->finished());
    auto check = [&](CMediaType mt) { return sink->CheckMediaType(&mt); };
    auto set = [&](CMediaType mt) { return sink->SetMediaType(&mt); };

    // Only the two 32-bit RGB subtypes, with sane sizes, are taken.
    EXPECT_EQ(check(rgbType(MEDIASUBTYPE_RGB32, 3, 2)), S_OK);
    EXPECT_EQ(check(rgbType(MEDIASUBTYPE_ARGB32, 3, -2)), S_OK);
    EXPECT_NE(check(rgbType(MEDIASUBTYPE_RGB24, 3, 2, 24)), S_OK);
    EXPECT_NE(check(rgbType(MEDIASUBTYPE_YV12, 4, 2, 12)), S_OK);
    EXPECT_NE(check(rgbType(MEDIASUBTYPE_RGB32, 0, 2)), S_OK);
    EXPECT_NE(check(rgbType(MEDIASUBTYPE_RGB32, 3, 0)), S_OK);
    EXPECT_NE(check(rgbType(MEDIASUBTYPE_RGB32, 3, LONG(0x80000000u))), S_OK);
    EXPECT_NE(check(rgbType(MEDIASUBTYPE_RGB32, 100000, 2)), S_OK);

    // Bottom-up opaque 3x2: rows come out swapped, the fourth byte made opaque.
    ASSERT_EQ(set(rgbType(MEDIASUBTYPE_RGB32, 3, 2)), S_OK);
    EXPECT_EQ(sink->layout().frameDuration, 400000);
    std::vector<uint8_t> bottomUp(24);
    for (size_t i = 0; i < bottomUp.size(); ++i) bottomUp[i] = uint8_t(i);
    ASSERT_EQ(sink->DoRenderSample(sampleOver(bottomUp).get()), S_OK);
    ASSERT_EQ(got.size(), 1u);
    std::vector<uint8_t> expected(24);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 12; ++i) expected[y * 12 + i] = (i % 4 == 3) ? 0xFF : uint8_t((1 - y) * 12 + i);
    EXPECT_EQ(got[0], expected);

    // A sample shorter than the picture is let go unread and counted.
    std::vector<uint8_t> shortSample(23);
    ASSERT_EQ(sink->DoRenderSample(sampleOver(shortSample).get()), S_OK);
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(sink->rejected(), 1u);

    // Top-down with alpha: copied as it is.
    ASSERT_EQ(set(rgbType(MEDIASUBTYPE_ARGB32, 3, -2)), S_OK);
    ASSERT_EQ(sink->DoRenderSample(sampleOver(bottomUp).get()), S_OK);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], bottomUp);

    // The third picture is the last the handler wants; later ones are only counted.
    ASSERT_EQ(sink->DoRenderSample(sampleOver(bottomUp).get()), S_OK);
    EXPECT_TRUE(sink->finished());
    ASSERT_EQ(sink->DoRenderSample(sampleOver(bottomUp).get()), S_OK);
    EXPECT_EQ(got.size(), 3u);
    EXPECT_EQ(sink->received(), 5u);
}

}  // namespace
