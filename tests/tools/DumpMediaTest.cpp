// The dump tool on real movies made at test time by the ffmpeg command: MPEG-1 (.mpg),
// H.264/AAC (.mp4), MPEG-4/PCM (.avi), H.264/Vorbis (.mkv) and PCM (.wav), all decoded
// through the graph the player builds. The pictures are held against ffmpeg's own decode
// of the same frame, the sound against the tone that went in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tools/dump/DumpCommands.h"
#include "tools/mbcenc/PictureFile.h"
#include "tools/mbcenc/WavFile.h"

namespace {

using testsupport::TempDir;

constexpr int kWidth = 160, kHeight = 120, kFrames = 25, kRate = 44100, kTone = 1000;
// lavfi's sine source plays at an eighth of full scale.
constexpr double kToneRms = 32768.0 / 8 / std::sqrt(2.0);

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool haveFfmpeg() {
    static const bool present = run("ffmpeg -version");
    return present;
}

std::string quoted(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

// One second of the moving test picture with a 1 kHz tone, in a container and codecs.
bool makeMovie(const std::filesystem::path& out, const std::string& codecs, bool withSound = true) {
    std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25";
    if (withSound) command += " -f lavfi -i sine=frequency=1000:sample_rate=44100";
    return run(command + " -t 1 " + codecs + " " + quoted(out));
}

// ffmpeg's own decode of picture n (display order) as top-down BGRA. bt709: the YUV is
// read as BT.709 studio range, the rule of the engine's own colour converter.
std::vector<uint8_t> ffmpegPicture(const std::filesystem::path& movie, int n, bool bt709,
                                   const std::filesystem::path& scratch) {
    std::string filter = "select=eq(n\\," + std::to_string(n) + ")";
    if (bt709) filter += ",scale=in_color_matrix=bt709:in_range=tv:out_range=pc";
    if (!run("ffmpeg -v error -y -i " + quoted(movie) + " -vf '" + filter + "' -frames:v 1 -f rawvideo -pix_fmt bgra " +
             quoted(scratch)))
        return {};
    return testsupport::readFile(scratch);
}

struct Difference {
    double mean = 0;  // mean absolute difference over the colour channels
    int max = 0;      // largest difference of one channel value
};

Difference compareColour(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return {255, 255};
    Difference d;
    size_t n = 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        const int diff = std::abs(int(a[i]) - int(b[i]));
        sum += diff;
        d.max = std::max(d.max, diff);
        ++n;
    }
    d.mean = sum / double(n);
    return d;
}

std::string infoOf(const std::string& path, const dump::InfoOptions& options, int* status) {
    std::FILE* f = std::tmpfile();
    std::string error;
    *status = dump::info(path, options, f, error);
    std::rewind(f);
    char buf[2048] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    return std::string(buf, n) + error;
}

// The text of one field of the flat JSON object the tool prints.
std::string field(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    size_t at = json.find(tag);
    if (at == std::string::npos) return "<missing>";
    at += tag.size();
    return json.substr(at, json.find_first_of(",}", at) - at);
}

double number(const std::string& json, const std::string& key) {
    return std::atof(field(json, key).c_str());
}

size_t countFiles(const std::filesystem::path& dir) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
    return n;
}

struct ToneStats {
    double frequency = 0;
    double rms = 0;
};

// Frequency from the rising zero crossings of channel 0, level as RMS, both over the
// middle of the sound (clear of codec start-up and tail).
ToneStats toneOf(const WavData& wav) {
    ToneStats s;
    const size_t frames = wav.samples.size() / wav.channels;
    const size_t from = frames / 10, to = frames - frames / 10;
    if (to <= from + 2) return s;
    size_t firstCrossing = 0, lastCrossing = 0, crossings = 0;
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        const int v = wav.samples[i * wav.channels];
        sum += double(v) * v;
        const int before = wav.samples[(i - 1) * wav.channels];
        if (before < 0 && v >= 0) {
            if (!crossings) firstCrossing = i;
            lastCrossing = i;
            ++crossings;
        }
    }
    if (crossings > 1) s.frequency = double(crossings - 1) * wav.sampleRate / double(lastCrossing - firstCrossing);
    s.rms = std::sqrt(sum / double(to - from));
    return s;
}

struct Container {
    const char* name;
    const char* codecs;
    // The engine puts its own colour converter (BT.709 studio range) into this graph;
    // elsewhere the system decoder converts the way ffmpeg does by default.
    bool ownConverter;
};

const Container kContainers[] = {
    {"mpg", "-c:v mpeg1video -q:v 2 -c:a mp2 -f mpeg", false},
    {"mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac", true},
    {"avi", "-c:v mpeg4 -q:v 2 -c:a pcm_s16le", false},
    {"mkv", "-c:v libx264 -pix_fmt yuv420p -c:a libvorbis", false},
};

class DumpMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "the ffmpeg command is not installed";
        dump::registerEngine();
    }
    static void TearDownTestSuite() { clips.reset(); }
    // The movies are made once for the whole suite.
    static std::filesystem::path movie(const Container& c) {
        if (!clips) clips = std::make_unique<TempDir>();
        const std::filesystem::path p = *clips / (std::string("clip.") + c.name);
        if (!std::filesystem::exists(p)) {
            EXPECT_TRUE(makeMovie(p, c.codecs)) << c.name;
        }
        return p;
    }
    static inline std::unique_ptr<TempDir> clips;
    TempDir dir;
};

TEST_F(DumpMediaTest, InfoDescribesEveryContainer) {
    for (const Container& c : kContainers) {
        SCOPED_TRACE(c.name);
        int status = -1;
        const std::string json = infoOf(movie(c).string(), {}, &status);
        ASSERT_EQ(status, 0) << json;
        EXPECT_EQ(field(json, "format"), std::string("\"") + c.name + "\"");
        EXPECT_NE(field(json, "container"), "\"\"");
        EXPECT_EQ(field(json, "width"), "160");
        EXPECT_EQ(field(json, "height"), "120");
        EXPECT_EQ(field(json, "hasVideo"), "true");
        EXPECT_EQ(field(json, "hasAudio"), "true");
        EXPECT_NEAR(number(json, "frameRate"), 25.0, 0.01);
        EXPECT_NEAR(number(json, "durationHundredNs"), 1e7, 0.1e7);
        EXPECT_NEAR(number(json, "frameCount"), kFrames, 2);
        EXPECT_EQ(field(json, "frameCountExact"), "false");
        EXPECT_EQ(field(json, "sampleRate"), "44100");
        EXPECT_EQ(field(json, "channels"), "1");
        EXPECT_EQ(field(json, "sampleFormat"), "\"s16\"");
        EXPECT_EQ(field(json, "bitsPerSample"), "16");
    }
    // Decoding the whole file counts exactly what comes out.
    int status = -1;
    dump::InfoOptions decode;
    decode.decode = true;
    const std::string json = infoOf(movie(kContainers[1]).string(), decode, &status);
    ASSERT_EQ(status, 0) << json;
    EXPECT_EQ(field(json, "frameCount"), "25");
    EXPECT_EQ(field(json, "frameCountExact"), "true");
    EXPECT_NEAR(number(json, "audioFrames"), kRate, kRate / 20);
}

TEST_F(DumpMediaTest, EveryPictureComesOutCloseToFfmpegsOwnDecode) {
    for (const Container& c : kContainers) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path clip = movie(c);
        const std::filesystem::path out = dir / (std::string("raw-") + c.name);
        std::string error;
        ASSERT_EQ(dump::frames(clip.string(), out.string(), true, error), 0) << error;
        // Every picture, none dropped or doubled, numbered from 0.
        EXPECT_EQ(countFiles(out), size_t(kFrames));
        EXPECT_TRUE(std::filesystem::exists(out / "00024.bgra"));
        // The same picture as ffmpeg's decode of the same frame, converted by the same
        // rule: within 3 per channel value (rounding and chroma upsampling differ), 1 on
        // average.
        const std::filesystem::path scratch = dir / "ref.bgra";
        for (int n : {0, 10}) {
            char name[16];
            std::snprintf(name, sizeof name, "%05d.bgra", n);
            const std::vector<uint8_t> ours = testsupport::readFile(out / name);
            ASSERT_EQ(ours.size(), size_t(kWidth) * kHeight * 4) << name;
            const Difference same = compareColour(ours, ffmpegPicture(clip, n, c.ownConverter, scratch));
            EXPECT_LE(same.max, 3) << name;
            EXPECT_LT(same.mean, 1.0) << name;
            if (n == 0 || &c != &kContainers[0]) continue;
            // The tolerance tells neighbouring pictures apart.
            const Difference next = compareColour(ours, ffmpegPicture(clip, n + 1, c.ownConverter, scratch));
            EXPECT_GT(next.max, 3) << name;
            EXPECT_GT(next.mean, 2.0) << name;
        }
    }
}

TEST_F(DumpMediaTest, FrameRangesPickThePicturesByNumber) {
    const std::filesystem::path clip = movie(kContainers[1]);
    const std::filesystem::path all = dir / "all";
    std::string error;
    ASSERT_EQ(dump::frames(clip.string(), all.string(), false, error), 0) << error;
    dump::FrameOptions options;
    options.selection.first = 5;
    options.selection.every = 4;
    options.selection.count = 3;
    const std::filesystem::path some = dir / "some";
    ASSERT_EQ(dump::frames(clip.string(), some.string(), options, error), 0) << error;
    EXPECT_EQ(countFiles(some), 3u);
    for (const char* name : {"00005.png", "00009.png", "00013.png"}) {
        SCOPED_TRACE(name);
        BgraPicture picked, reference;
        ASSERT_TRUE(loadPictureBgra((some / name).string(), picked, error)) << error;
        ASSERT_TRUE(loadPictureBgra((all / name).string(), reference, error)) << error;
        EXPECT_EQ(picked.width, uint32_t(kWidth));
        EXPECT_EQ(picked.height, uint32_t(kHeight));
        EXPECT_FALSE(picked.hasAlpha);
        EXPECT_EQ(picked.pixels, reference.pixels);
    }
    // A range past the end writes nothing and says so.
    options.selection.first = 1000;
    error.clear();
    EXPECT_EQ(dump::frames(clip.string(), (dir / "none").string(), options, error), 1);
    EXPECT_NE(error.find("no picture"), std::string::npos) << error;
}

TEST_F(DumpMediaTest, SoundComesOutWholeWithItsTone) {
    const std::filesystem::path wavIn = dir / "tone.wav";
    ASSERT_TRUE(run("ffmpeg -v error -y -f lavfi -i sine=frequency=1000:sample_rate=44100 -t 1 -c:a pcm_s16le " +
                    quoted(wavIn)));
    struct Case {
        std::filesystem::path file;
        size_t slack;  // sample frames a lossy codec may add or drop at the ends
    };
    const Case cases[] = {
        {wavIn, 0}, {movie(kContainers[0]), 2400}, {movie(kContainers[1]), 2400}, {movie(kContainers[2]), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.filename().string());
        const std::string out = (dir / "out.wav").string();
        std::string error;
        ASSERT_EQ(dump::audio(c.file.string(), out, error), 0) << error;
        WavData wav;
        ASSERT_TRUE(readWav(out, wav, error)) << error;
        EXPECT_EQ(wav.sampleRate, uint32_t(kRate));
        ASSERT_EQ(wav.channels, 1);
        EXPECT_NEAR(double(wav.samples.size()), kRate, double(c.slack));
        const ToneStats tone = toneOf(wav);
        EXPECT_NEAR(tone.frequency, kTone, kTone * 0.005);
        EXPECT_NEAR(tone.rms, kToneRms, kToneRms * 0.05);
    }
    // Lossless PCM comes out sample for sample.
    WavData in, out;
    std::string error;
    ASSERT_EQ(dump::audio(wavIn.string(), (dir / "same.wav").string(), error), 0) << error;
    ASSERT_TRUE(readWav(wavIn.string(), in, error));
    ASSERT_TRUE(readWav((dir / "same.wav").string(), out, error));
    EXPECT_EQ(in.samples, out.samples);
}

TEST_F(DumpMediaTest, WhatIsNotThereFailsWithAReason) {
    const std::filesystem::path silent = dir / "silent.mp4";
    ASSERT_TRUE(makeMovie(silent, "-c:v libx264 -pix_fmt yuv420p", false));
    const std::filesystem::path wav = dir / "tone.wav";
    ASSERT_TRUE(run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000 -t 0.2 " + quoted(wav)));
    const std::filesystem::path junk = dir / "junk.mp4";
    testsupport::writeFile(junk, std::vector<uint8_t>(4096, 0x5A));

    std::string error;
    EXPECT_EQ(dump::audio(silent.string(), (dir / "a.wav").string(), error), 1);
    EXPECT_NE(error.find("no audio"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
    error.clear();
    EXPECT_EQ(dump::frames(wav.string(), (dir / "f").string(), false, error), 1);
    EXPECT_NE(error.find("no video"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(dump::frames(junk.string(), (dir / "j").string(), false, error), 1);
    EXPECT_NE(error.find("not a format the engine plays"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(dump::audio((dir / "missing.mp4").string(), (dir / "m.wav").string(), error), 1);
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);

    // A sound file describes its sound and no picture.
    int status = -1;
    const std::string json = infoOf(wav.string(), {}, &status);
    ASSERT_EQ(status, 0) << json;
    EXPECT_EQ(field(json, "format"), "\"wav\"");
    EXPECT_EQ(field(json, "hasVideo"), "false");
    EXPECT_EQ(field(json, "width"), "0");
    EXPECT_EQ(field(json, "sampleRate"), "8000");
}

}  // namespace
