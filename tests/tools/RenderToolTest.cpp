// layerdeck-render end to end: lists of stills, MBC and MP4 movies rendered at set times
// and compared with pictures computed from the sources and the compositing rules; the
// same list twice; the mixed sound of two items at their volumes, pans and offsets; and
// the one-line failures.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/WideString.h"
#include "splitters/MbcReader.h"
#include "tests/support/TestSupport.h"
#include "tools/dump/PngWriter.h"
#include "tools/mbcenc/MbcFileWriter.h"
#include "tools/render/HeadlessStage.h"
#include "tools/render/RenderCommand.h"

namespace {

namespace fs = std::filesystem;

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// A picture as 0..255 RGB triples, row by row.
struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb& at(uint32_t x, uint32_t y) { return pixels[size_t(y) * width + x]; }
    const Rgb& at(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

Picture filled(uint32_t width, uint32_t height, Rgb colour) {
    return Picture{width, height, std::vector<Rgb>(size_t(width) * height, colour)};
}

Picture readPng(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture p;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return p;
    p.width = image.width;
    p.height = image.height;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) p.pixels.push_back(Rgb{rgb[i], rgb[i + 1], rgb[i + 2]});
    return p;
}

// Source pictures are written from top-down BGRA.
void writePicture(const fs::path& path, const Picture& p) {
    std::vector<uint8_t> bgra;
    for (const Rgb& c : p.pixels) bgra.insert(bgra.end(), {uint8_t(c.b), uint8_t(c.g), uint8_t(c.r), 255});
    ASSERT_TRUE(writePng(path.string(), bgra.data(), p.width, p.height, false));
}

// The blend of a layer of opacity a over what is there: c * a + d * (255 - a), over 255,
// rounded to the nearest.
int blend(int c, int d, int a) {
    return int(std::floor((c * a + d * (255 - a)) / 255.0 + 0.5));
}

// Lays src's (sx, sy, w, h) unscaled at (dx, dy) with opacity a.
void layer(Picture& out, const Picture& src, int sx, int sy, int w, int h, int dx, int dy, int a) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (dx + x < 0 || dy + y < 0 || dx + x >= int(out.width) || dy + y >= int(out.height)) continue;
            const Rgb& c = src.at(uint32_t(sx + x), uint32_t(sy + y));
            Rgb& d = out.at(uint32_t(dx + x), uint32_t(dy + y));
            d = Rgb{blend(c.r, d.r, a), blend(c.g, d.g, a), blend(c.b, d.b, a)};
        }
}

void expectSame(const Picture& got, const Picture& want, const std::string& what) {
    ASSERT_EQ(got.width, want.width) << what;
    ASSERT_EQ(got.height, want.height) << what;
    int wrong = 0;
    for (uint32_t y = 0; y < want.height; ++y)
        for (uint32_t x = 0; x < want.width; ++x) {
            const Rgb& g = got.at(x, y);
            const Rgb& w = want.at(x, y);
            if (g == w) continue;
            if (++wrong <= 3)
                ADD_FAILURE() << what << " at (" << x << ", " << y << "): got " << g.r << "," << g.g << "," << g.b
                              << " want " << w.r << "," << w.g << "," << w.b;
        }
    EXPECT_EQ(wrong, 0) << what;
}

double meanDifference(const Picture& a, const Picture& b, uint32_t width, uint32_t height) {
    double sum = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb& p = a.at(x, y);
            const Rgb& q = b.at(x, y);
            sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
        }
    return sum / (3.0 * width * height);
}

int largestDifference(const Picture& a, const Picture& b, uint32_t width, uint32_t height) {
    int most = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb& p = a.at(x, y);
            const Rgb& q = b.at(x, y);
            most = std::max({most, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
        }
    return most;
}

struct Outcome {
    int code;
    std::string out, err;
};

Outcome render(std::vector<std::string> args) {
    std::ostringstream out, err;
    Outcome r;
    r.code = runRenderCommand(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool haveFfmpeg() {
    return std::system("ffmpeg -version > /dev/null 2>&1") == 0;
}

bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -loglevel error -y " + arguments + " < /dev/null").c_str()) == 0;
}

// The frame shown at t ms of a movie of `rate` frames a second: the last one that starts
// at or before t (frame times in 100-ns units, truncated).
uint32_t frameAt(int64_t ms, uint32_t rate, uint32_t frames) {
    uint32_t n = 0;
    while (n + 1 < frames && int64_t((n + 1) * 10000000ull / rate) <= ms * 10000) ++n;
    return n;
}

// ---- MBC movies made with the project's encoder ----

constexpr uint32_t kMbcWidth = 64, kMbcHeight = 48, kMbcFrames = 30, kMbcRate = 30;

// Frame n: a gradient that moves with n, so every frame differs from its neighbours.
std::vector<uint8_t> mbcPicture(uint32_t n, uint32_t width, uint32_t height) {
    std::vector<uint8_t> bgra(size_t(width) * height * 4);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &bgra[(size_t(y) * width + x) * 4];
            p[0] = uint8_t(x * 4 + n * 8);
            p[1] = uint8_t(y * 5);
            p[2] = uint8_t(n * 8);
            p[3] = 255;
        }
    return bgra;
}

// A stereo sine of 440 Hz at half scale.
std::vector<int16_t> tone(size_t frames) {
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(std::lround(16384.0 * std::sin(2 * M_PI * 440.0 * double(i) / 48000.0)));
    return pcm;
}

bool makeMbc(const fs::path& path, uint32_t width, uint32_t height, uint32_t frames, bool withSound) {
    MbcFileOptions o;
    o.video.width = width;
    o.video.height = height;
    o.video.searchRange = 0;
    o.chunkLength = 10;
    o.rateNumerator = kMbcRate;
    MbcFileWriter writer;
    if (!writer.begin(o)) return false;
    for (uint32_t n = 0; n < frames; ++n) {
        std::vector<uint8_t> picture = mbcPicture(n, width, height);
        if (!writer.addFrame(picture.data(), ptrdiff_t(width) * 4)) return false;
    }
    if (withSound) {
        const size_t soundFrames = size_t(frames) * 48000 / kMbcRate;
        std::vector<int16_t> pcm = tone(soundFrames);
        if (!writer.setAudio(pcm.data(), soundFrames, 2, 48000, WbcfEncoderOptions{})) return false;
    }
    std::vector<uint8_t> file;
    if (!writer.finish(file)) return false;
    testsupport::writeFile(path, file);
    return true;
}

// Frame n as the MBC decoder gives it.
Picture decodedMbcFrame(const fs::path& path, uint32_t n) {
    MbcReader reader;
    Picture p;
    const std::u16string name = fromUtf8(path.string());
    if (!reader.open(name.c_str()) || !reader.start(reader.preferredOutputMode()) || !reader.seekToFrame(n) ||
        !reader.waitForFrame(INFINITE))
        return p;
    const MbcReader::VideoInfo v = reader.videoInfo();
    std::vector<uint8_t> bgra(size_t(v.width) * v.height * 4);
    if (!reader.copyVideoFrame(bgra.data(), ptrdiff_t(v.width) * 4)) return p;
    p.width = v.width;
    p.height = v.height;
    for (size_t i = 0; i < bgra.size(); i += 4) p.pixels.push_back(Rgb{bgra[i + 2], bgra[i + 1], bgra[i]});
    return p;
}

class RenderToolTest : public ::testing::Test {
protected:
    fs::path at(const std::string& name) const { return dir_ / name; }
    Picture frame(const std::string& out, uint32_t ms) const { return readPng(at(out) / frameFileName(ms)); }

    testsupport::TempDir dir_;
};

TEST_F(RenderToolTest, StillsAreLaidWithTheirRectanglesOpacityAndOffsets) {
    // A: 64 x 48, every pixel different; B: 40 x 30, another pattern.
    Picture a = filled(64, 48, {});
    for (uint32_t y = 0; y < 48; ++y)
        for (uint32_t x = 0; x < 64; ++x) a.at(x, y) = Rgb{int((x * 3 + y) & 255), int(y * 5), int((x + y) * 2)};
    Picture b = filled(40, 30, {});
    for (uint32_t y = 0; y < 30; ++y)
        for (uint32_t x = 0; x < 40; ++x) b.at(x, y) = Rgb{int(255 - x * 6), int(x * y & 255), int(200 - y * 3)};
    writePicture(at("a.png"), a);
    writePicture(at("b.png"), b);
    // B is on top: a 32 x 24 part of it, half opaque, from 500 ms; A whole, placed with
    // its own size, from the start; the background shows around them.
    writeText(at("stills.json"), R"({"size": [96, 64], "background": [0.2, 0.4, 0.6], "items": [
        {"path": "b.png", "source": [4, 2, 36, 26], "dest": [50, 30, 82, 54], "opacity": 128, "offsetMs": 500},
        {"path": "a.png", "dest": [10, 5, 74, 53]}]})");

    Outcome r = render({at("stills.json").string(), "--out", at("out").string(), "--at", "600,0"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.empty());
    EXPECT_EQ(r.out,
              (at("out") / "frame_00000000.png").string() + "\n" + (at("out") / "frame_00000600.png").string() + "\n");

    // The background is each channel times 255, truncated.
    Picture want = filled(96, 64, Rgb{51, 102, 153});
    layer(want, a, 0, 0, 64, 48, 10, 5, 255);
    expectSame(frame("out", 0), want, "before B starts");
    layer(want, b, 4, 2, 32, 24, 50, 30, 128);
    expectSame(frame("out", 600), want, "after B started");
}

TEST_F(RenderToolTest, MbcPicturesAreTheDecodedFramesAtEachItemsOwnTime) {
    ASSERT_TRUE(makeMbc(at("m.mbc"), kMbcWidth, kMbcHeight, kMbcFrames, false));
    // No size: fitted as the player fits its window, at least 336 wide.
    writeText(at("m.json"), R"({"background": [0, 0, 1], "items": [{"path": "m.mbc", "offsetMs": 200}]})");
    Outcome r = render({at("m.json").string(), "--out", at("out").string(), "--at", "0,200,533,700,1150,5000"});
    ASSERT_EQ(r.code, 0) << r.err;

    // Before its start the movie's layer shows the cleared (black) texture.
    Picture want = filled(336, kMbcHeight, Rgb{0, 0, 255});
    layer(want, filled(kMbcWidth, kMbcHeight, Rgb{}), 0, 0, kMbcWidth, kMbcHeight, 0, 0, 255);
    expectSame(frame("out", 0), want, "before the start");
    // Then the frame of its own time (T - offset), and after its end the last one.
    for (uint32_t t : {200u, 533u, 700u, 1150u, 5000u}) {
        const uint32_t n = frameAt(int64_t(t) - 200, kMbcRate, kMbcFrames);
        Picture source = decodedMbcFrame(at("m.mbc"), n);
        ASSERT_EQ(source.width, kMbcWidth);
        Picture expected = filled(336, kMbcHeight, Rgb{0, 0, 255});
        layer(expected, source, 0, 0, kMbcWidth, kMbcHeight, 0, 0, 255);
        expectSame(frame("out", t), expected, "at " + std::to_string(t) + " ms, frame " + std::to_string(n));
    }
}

TEST_F(RenderToolTest, Mp4PicturesMatchTheFramesFfmpegDecodes) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=30 -t 1 -pix_fmt yuv420p -g 10 " + at("clip.mp4").string()));
    // The player converts every YUV picture with the BT.709 studio-range matrix.
    ASSERT_TRUE(ffmpeg("-i " + at("clip.mp4").string() + " -vf scale=in_color_matrix=bt709:in_range=tv -f image2 " +
                       at("ref%03d.png").string()));
    writeText(at("c.json"), R"({"items": [{"path": "clip.mp4", "offsetMs": -100}]})");
    Outcome r = render({at("c.json").string(), "--out", at("out").string(), "--at", "0,400,633,3000"});
    ASSERT_EQ(r.code, 0) << r.err;

    auto reference = [&](uint32_t n) {
        char name[32];
        std::snprintf(name, sizeof name, "ref%03u.png", n + 1);
        return readPng(at(name));
    };
    for (uint32_t t : {0u, 400u, 633u, 3000u}) {
        const uint32_t n = frameAt(int64_t(t) + 100, 30, 30);
        Picture got = frame("out", t);
        ASSERT_EQ(got.width, 336u);
        ASSERT_EQ(got.height, 120u);
        // The two conversions round differently: at most 3 levels a channel apart, under
        // one on average; and the frame is nearer its own reference than either
        // neighbour's.
        const Picture ownReference = reference(n);
        ASSERT_EQ(ownReference.width, 160u);
        EXPECT_LE(largestDifference(got, ownReference, 160, 120), 3) << "at " << t << " ms, frame " << n;
        const double own = meanDifference(got, ownReference, 160, 120);
        EXPECT_LT(own, 1.0) << "at " << t << " ms, frame " << n;
        if (n > 0) {
            EXPECT_LT(own, meanDifference(got, reference(n - 1), 160, 120)) << t;
        }
        if (n + 1 < 30) {
            EXPECT_LT(own, meanDifference(got, reference(n + 1), 160, 120)) << t;
        }
        // Beside the movie: the black background.
        EXPECT_EQ(got.at(200, 60), (Rgb{0, 0, 0}));
    }
}

TEST_F(RenderToolTest, TheSameListGivesTheSameFilesOnEveryRun) {
    ASSERT_TRUE(makeMbc(at("m.mbc"), kMbcWidth, kMbcHeight, kMbcFrames, true));
    Picture still = filled(20, 20, Rgb{250, 10, 10});
    writePicture(at("s.png"), still);
    std::string items = R"({"path": "s.png", "dest": [30, 10, 50, 30], "opacity": 100, "offsetMs": 300},
                           {"path": "m.mbc", "dest": [8, 4, 72, 52], "opacity": 200, "pan": 300, "offsetMs": 150})";
    if (haveFfmpeg()) {
        ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=96x64:rate=25 -t 1 -pix_fmt yuv420p " + at("c.mp4").string()));
        items += R"(, {"path": "c.mp4", "source": [8, 8, 72, 56], "dest": [0, 0, 128, 96], "offsetMs": -40})";
    }
    writeText(at("l.json"), R"({"size": [128, 96], "items": [)" + items + "]}");
    for (const char* out : {"one", "two"}) {
        Outcome r = render({at("l.json").string(), "--out", at(out).string(), "--fps", "8", "--duration", "1.2"});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(at("one"))) {
        EXPECT_EQ(testsupport::readFile(entry.path()), testsupport::readFile(at("two") / entry.path().filename()))
            << entry.path().filename();
        ++compared;
    }
    EXPECT_EQ(compared, 10);  // 0, 125, ... 1125 ms
}

// ---- sound ----

struct Capture {
    std::vector<float> left, right;
};

Capture readFloatWav(const fs::path& path) {
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    Capture c;
    size_t i = 12;
    while (i + 8 <= bytes.size()) {
        uint32_t size = 0;
        std::memcpy(&size, &bytes[i + 4], 4);
        if (std::memcmp(&bytes[i], "data", 4) == 0) {
            const size_t end = std::min(bytes.size(), i + 8 + size_t(size));
            for (size_t at = i + 8; at + 8 <= end; at += 8) {
                float l, r;
                std::memcpy(&l, &bytes[at], 4);
                std::memcpy(&r, &bytes[at + 4], 4);
                c.left.push_back(l);
                c.right.push_back(r);
            }
            break;
        }
        i += 8 + size + (size & 1);
    }
    return c;
}

// The median of the 10 ms blocks' RMS levels between two times: a level that a short gap
// (an output that fell behind on a loaded machine) does not pull down.
double level(const std::vector<float>& s, uint32_t fromMs, uint32_t toMs) {
    std::vector<double> blocks;
    for (uint32_t t = fromMs; t + 10 <= toMs; t += 10) {
        const size_t from = size_t(t) * 48, to = from + 480;
        if (to > s.size()) break;
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
        blocks.push_back(std::sqrt(sum / 480.0));
    }
    if (blocks.empty()) return -1.0;
    std::nth_element(blocks.begin(), blocks.begin() + blocks.size() / 2, blocks.end());
    return blocks[blocks.size() / 2];
}

// The player's level rule: trunc(2000 * log10(v / 1000)) hundredths of a decibel, and
// a pan attenuating the far side by the level of 1000 - |pan|.
double gainOf(int volume) {
    if (volume <= 0) return 0.0;
    const int hundredths = int(std::trunc(2000.0 * std::log10(volume / 1000.0)));
    return std::pow(10.0, hundredths / 2000.0);
}

TEST_F(RenderToolTest, TheMixCarriesEachItemAtItsVolumePanAndOffset) {
    // 600 ms of a half-scale tone; the same file twice: A from the start, at full volume
    // panned halfway left; B from 1200 ms at a quarter volume, panned fully right.
    ASSERT_TRUE(makeMbc(at("t.mbc"), 16, 16, 18, true));
    writeText(at("t.json"), R"({"items": [{"path": "t.mbc", "pan": -500},
                                           {"path": "t.mbc", "volume": 250, "pan": 1000, "offsetMs": 1200}]})");
    Outcome r = render({at("t.json").string(), "--out", at("out").string(), "--wav", at("mix.wav").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, at("mix.wav").string() + "\n");
    EXPECT_FALSE(fs::exists(at("out") / frameFileName(0)));

    Capture mix = readFloatWav(at("mix.wav"));
    // The capture opens a little before the common start: times count from A's onset.
    size_t onset = 0;
    while (onset < mix.left.size() && std::fabs(mix.left[onset]) < 0.01f) ++onset;
    ASSERT_LT(onset, mix.left.size()) << "no sound at all";
    const uint32_t t0 = uint32_t(onset / 48);
    // The play length (1800 ms) was played (the output's latency may cut its very end).
    ASSERT_GT(mix.left.size(), onset + 1700u * 48);
    const double full = 0.5 / std::sqrt(2.0);
    // A alone: left at full level, right down by the level of 500.
    EXPECT_NEAR(level(mix.left, t0 + 100, t0 + 450), full, full * 0.03);
    EXPECT_NEAR(level(mix.right, t0 + 100, t0 + 450), full * gainOf(500), full * 0.03);
    // Between them nothing plays.
    EXPECT_LT(level(mix.left, t0 + 850, t0 + 1050), 0.001);
    EXPECT_LT(level(mix.right, t0 + 850, t0 + 1050), 0.001);
    // B alone: only on the right, at the level of 250.
    EXPECT_LT(level(mix.left, t0 + 1300, t0 + 1650), 0.001);
    EXPECT_NEAR(level(mix.right, t0 + 1300, t0 + 1650), full * gainOf(250), full * 0.03);
}

// ---- failures ----

TEST_F(RenderToolTest, FailuresExitWithOneLine) {
    writePicture(at("ok.png"), filled(8, 8, Rgb{1, 2, 3}));
    testsupport::writeFile(at("junk.mp4"), std::vector<uint8_t>(3000, 0x5A));
    writeText(at("bad.json"), R"({"items": [{"path": "ok.png",}]})");
    writeText(at("missing.json"), R"({"items": [{"path": "ok.png"}, {"path": "gone.mbc"}]})");
    writeText(at("junk.json"), R"({"items": [{"path": "junk.mp4"}]})");
    writeText(at("ok.json"), R"({"items": [{"path": "ok.png"}]})");
    const std::string out = at("out").string();
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{
             {{at("bad.json").string(), "--out", out},
              "bad JSON: line 1, column 30: a member name in double quotes is expected"},
             {{at("none.json").string(), "--out", out}, "cannot read the list"},
             {{at("missing.json").string(), "--out", out}, "cannot read " + at("gone.mbc").string()},
             {{at("junk.json").string(), "--out", out}, "no engine opens " + at("junk.mp4").string()},
             {{at("ok.json").string(), "--out", out, "--at", "1,x"}, "--at takes milliseconds"},
             {{at("ok.json").string(), "--out", out, "--fps"}, "--fps needs a value"},
             {{at("ok.json").string(), "--out", (at("ok.png") / "sub").string()}, "cannot make the folder"},
             {{at("ok.json").string(), "--out", out, "--wav", (at("no") / "such" / "m.wav").string()},
              "the list has nothing to play"},
         }) {
        Outcome r = render(c.args);
        EXPECT_EQ(r.code, 1) << c.reason;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(r.err.rfind("layerdeck-render: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    // Nothing was written for the failed runs.
    EXPECT_FALSE(fs::exists(at("out") / frameFileName(0)));

    // A WAV that cannot be created is a failure too (a movie gives something to play).
    ASSERT_TRUE(makeMbc(at("m.mbc"), 16, 16, 6, true));
    writeText(at("m.json"), R"({"items": [{"path": "m.mbc"}]})");
    Outcome r = render({at("m.json").string(), "--out", out, "--wav", (at("no") / "such" / "m.wav").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "layerdeck-render: cannot write " + (at("no") / "such" / "m.wav").string() + "\n");
}

// ---- the stage the tool and the benchmarks drive ----

// Pumps the stage's messages until the condition holds; false after a generous bound (a
// guard against hanging, not a timing requirement).
template <class F>
bool pumpUntil(HeadlessStage& stage, F&& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        stage.pumpMessages(5);
    }
    return true;
}

Picture asPicture(const std::vector<uint8_t>& bgra, uint32_t width, uint32_t height) {
    Picture p{width, height, {}};
    for (size_t i = 0; i + 3 < bgra.size(); i += 4) p.pixels.push_back(Rgb{bgra[i + 2], bgra[i + 1], bgra[i]});
    return p;
}

// Which decoded frame the movie's 64 x 48 corner shows, or -1.
int shownFrame(const Picture& shown, const std::vector<Picture>& frames) {
    for (size_t n = 0; n < frames.size(); ++n) {
        bool same = true;
        for (uint32_t y = 0; y < kMbcHeight && same; ++y)
            for (uint32_t x = 0; x < kMbcWidth && same; ++x) same = shown.at(x, y) == frames[n].at(x, y);
        if (same) return int(n);
    }
    return -1;
}

TEST_F(RenderToolTest, TheStagePlaysPausesResumesAndStopsWithThePlayersRules) {
    ASSERT_TRUE(makeMbc(at("m.mbc"), kMbcWidth, kMbcHeight, kMbcFrames, true));
    writePicture(at("s.png"), filled(20, 20, Rgb{250, 240, 10}));
    std::vector<Picture> frames;
    for (uint32_t n = 0; n < kMbcFrames; ++n) frames.push_back(decodedMbcFrame(at("m.mbc"), n));

    HeadlessStage stage;
    StageOptions options;
    options.width = 96;
    options.height = 48;
    options.background[1] = 1.0f;
    std::string error;
    ASSERT_TRUE(stage.start(options, &error)) << error;
    StageItem still;
    still.path = fromUtf8(at("s.png").string());
    still.dest = RECT{70, 10, 90, 30};
    still.offsetMs = 400;
    StageItem movie;
    movie.path = fromUtf8(at("m.mbc").string());
    ASSERT_TRUE(stage.open({still, movie}, &error)) << error;
    EXPECT_EQ(stage.playLength(), 1000u);
    const Rgb green{0, 255, 0}, yellow{250, 240, 10};

    std::vector<uint8_t> bgra;
    ASSERT_TRUE(stage.play());
    EXPECT_EQ(stage.transport(), HeadlessStage::Transport::Playing);
    EXPECT_FALSE(stage.renderAt(0, &bgra, &error));
    EXPECT_FALSE(error.empty());

    // Playing: the movie moves on through its own frames; the still waits for its offset.
    ASSERT_TRUE(pumpUntil(stage, [&] { return stage.clockMs() >= 150; }));
    ASSERT_TRUE(stage.compose(&bgra));
    // Composed before the common time reached the still's start (when the machine kept up).
    if (stage.clockMs() < 380) {
        EXPECT_EQ(asPicture(bgra, 96, 48).at(80, 20), green);
    }
    ASSERT_TRUE(
        pumpUntil(stage, [&] { return stage.compose(&bgra) && shownFrame(asPicture(bgra, 96, 48), frames) > 0; }));

    // Paused: the clock and the picture hold still.
    ASSERT_TRUE(stage.pause());
    EXPECT_EQ(stage.transport(), HeadlessStage::Transport::Paused);
    const uint32_t pausedAt = stage.clockMs();
    stage.pumpMessages(100);
    ASSERT_TRUE(stage.compose(&bgra));
    const int pausedFrame = shownFrame(asPicture(bgra, 96, 48), frames);
    EXPECT_GE(pausedFrame, 0);
    stage.pumpMessages(100);
    EXPECT_EQ(stage.clockMs(), pausedAt);
    ASSERT_TRUE(stage.compose(&bgra));
    EXPECT_EQ(shownFrame(asPicture(bgra, 96, 48), frames), pausedFrame);

    // Resumed: the still appears once the common time passes its offset.
    ASSERT_TRUE(stage.play());
    ASSERT_TRUE(pumpUntil(stage, [&] { return stage.clockMs() >= 600; }));
    ASSERT_TRUE(pumpUntil(stage, [&] { return stage.compose(&bgra) && asPicture(bgra, 96, 48).at(80, 20) == yellow; }));
    EXPECT_GT(shownFrame(asPicture(bgra, 96, 48), frames), pausedFrame);

    // Stopped: back to the start; a picture at a set time is exact again.
    stage.stop();
    EXPECT_EQ(stage.transport(), HeadlessStage::Transport::Stopped);
    EXPECT_EQ(stage.clockMs(), 0u);
    ASSERT_TRUE(stage.renderAt(0, &bgra, &error)) << error;
    Picture atStart = asPicture(bgra, 96, 48);
    EXPECT_EQ(shownFrame(atStart, frames), 0);
    EXPECT_EQ(atStart.at(80, 20), green);
    ASSERT_TRUE(stage.renderAt(450, &bgra, &error)) << error;
    EXPECT_EQ(shownFrame(asPicture(bgra, 96, 48), frames), int(frameAt(450, kMbcRate, kMbcFrames)));
    EXPECT_EQ(asPicture(bgra, 96, 48).at(80, 20), yellow);

    // A whole play to its end, then stopped again.
    ASSERT_TRUE(stage.playFor(1100, &error)) << error;
    EXPECT_EQ(stage.transport(), HeadlessStage::Transport::Stopped);
}

}  // namespace
