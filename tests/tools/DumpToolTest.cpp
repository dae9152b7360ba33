// Round trips through the encoder library and the dump commands, on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "graphics/GbcfDecoder.h"
#include "splitters/GbcfPayload.h"
#include "tests/support/TestSupport.h"
#include "tools/dump/DumpCommands.h"
#include "tools/dump/PngWriter.h"
#include "tools/mbcenc/GbcfWriter.h"
#include "tools/mbcenc/MbcFileWriter.h"
#include "tools/mbcenc/PictureFile.h"
#include "tools/mbcenc/WavFile.h"

namespace {

using testsupport::TempDir;

std::vector<uint8_t> randomPicture(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (auto& b : p) b = static_cast<uint8_t>(rng());
    return p;
}

std::string infoOf(const std::string& path, int* status) {
    std::FILE* f = std::tmpfile();
    std::string error;
    *status = dump::info(path, f, error);
    std::rewind(f);
    char buf[1024] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    return std::string(buf, n) + error;
}

class DumpToolTest : public ::testing::Test {
protected:
    void SetUp() override { setGbcfPayloadDecoder(&decodeGbcfPayload); }
    void TearDown() override { setGbcfPayloadDecoder(nullptr); }
    TempDir dir;
};

TEST_F(DumpToolTest, LosslessMovieFramesAndAudioComeBackExactly) {
    const int w = 40, h = 24, frames = 11;
    MbcFileOptions o;
    o.video.width = w;
    o.video.height = h;
    o.video.layout = 16;
    o.video.alpha = true;
    o.video.transform = 1;
    o.pattern = "IBBP";
    o.chunkLength = 4;
    o.rateNumerator = 10;
    MbcFileWriter writer;
    ASSERT_TRUE(writer.begin(o));
    std::vector<std::vector<uint8_t>> inputs;
    for (int t = 0; t < frames; ++t) {
        inputs.push_back(randomPicture(w, h, t));
        ASSERT_TRUE(writer.addFrame(inputs.back().data(), w * 4));
    }
    // 0.8 s of audio for a 1.1 s movie: the rest must come out as silence.
    std::vector<int16_t> pcm(6400 * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 7919);
    ASSERT_TRUE(writer.setAudio(pcm.data(), 6400, 2, 8000, {0, 512}));
    std::vector<uint8_t> file;
    ASSERT_TRUE(writer.finish(file));
    const std::string path = (dir / "m.mbc").string();
    testsupport::writeFile(path, file);

    int status = -1;
    const std::string info = infoOf(path, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(info,
              "{\"format\":\"mbc\",\"width\":40,\"height\":24,\"frameCount\":11,\"durationHundredNs\":11000000,"
              "\"hasVideo\":true,\"hasAudio\":true,\"channels\":2,\"sampleRate\":8000,\"bitsPerSample\":16}\n");

    std::string error;
    ASSERT_EQ(dump::frames(path, (dir / "raw").string(), true, error), 0) << error;
    ASSERT_EQ(dump::frames(path, (dir / "png").string(), false, error), 0) << error;
    for (int n = 0; n < frames; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d", n);
        EXPECT_EQ(testsupport::readFile(dir / "raw" / (std::string(name) + ".bgra")), inputs[n]) << n;
        BgraPicture png;
        ASSERT_TRUE(loadPictureBgra((dir / "png" / (std::string(name) + ".png")).string(), png, error)) << error;
        EXPECT_EQ(png.pixels, inputs[n]) << n;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "raw" / "00011.bgra"));

    ASSERT_EQ(dump::audio(path, (dir / "a.wav").string(), error), 0) << error;
    WavData wav;
    ASSERT_TRUE(readWav((dir / "a.wav").string(), wav, error)) << error;
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.sampleRate, 8000u);
    ASSERT_GE(wav.samples.size(), size_t(8800) * 2);  // samples up to frame 11
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), wav.samples.begin()));
    for (size_t i = pcm.size(); i < wav.samples.size(); ++i) ASSERT_EQ(wav.samples[i], 0) << i;
}

TEST_F(DumpToolTest, StillsAndPicturesGoThroughTheImageCodec) {
    const int w = 19, h = 13;
    auto input = randomPicture(w, h, 5);
    MbcEncoderSettings s;
    s.width = w;
    s.height = h;
    s.layout = 16;
    s.alpha = true;
    s.transform = 1;
    std::vector<uint8_t> still;
    ASSERT_TRUE(writeGbcfStill(s, input.data(), w * 4, still));
    const std::string gbcf = (dir / "s.gbcf").string();
    testsupport::writeFile(gbcf, still);
    int status = -1;
    EXPECT_EQ(infoOf(gbcf, &status),
              "{\"format\":\"gbcf\",\"width\":19,\"height\":13,\"frameCount\":1,\"durationHundredNs\":0,"
              "\"hasVideo\":true,\"hasAudio\":false,\"channels\":0,\"sampleRate\":0,\"bitsPerSample\":0}\n");
    std::string error;
    ASSERT_EQ(dump::frames(gbcf, (dir / "g").string(), true, error), 0) << error;
    EXPECT_EQ(testsupport::readFile(dir / "g" / "00000.bgra"), input);

    // A PNG written by the dump tool reads back as the same picture.
    const std::string png = (dir / "p.png").string();
    ASSERT_TRUE(writePng(png, input.data(), w, h, true));
    EXPECT_NE(infoOf(png, &status).find("\"format\":\"png\""), std::string::npos);
    ASSERT_EQ(dump::frames(png, (dir / "q").string(), true, error), 0) << error;
    EXPECT_EQ(testsupport::readFile(dir / "q" / "00000.bgra"), input);
    EXPECT_EQ(dump::audio(png, (dir / "x.wav").string(), error), 1);
}

TEST_F(DumpToolTest, DamagedFilesFailWithAReason) {
    const std::string junk = (dir / "junk.mbc").string();
    testsupport::writeFile(junk, std::vector<uint8_t>(300, 7));
    int status = -1;
    const std::string out = infoOf(junk, &status);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(out.empty());
    std::string error;
    EXPECT_EQ(dump::frames((dir / "missing.mbc").string(), (dir / "f").string(), false, error), 1);
    EXPECT_FALSE(error.empty());
    // The right magic with a header that lies about the size.
    std::vector<uint8_t> bad(288, 0);
    std::memcpy(bad.data(), "MBCFILE0", 8);
    bad[8] = 0xFF;
    testsupport::writeFile(junk, bad);
    error.clear();
    EXPECT_EQ(dump::audio(junk, (dir / "a.wav").string(), error), 1);
    EXPECT_NE(error.find("not a readable MBC file"), std::string::npos);
}

TEST_F(DumpToolTest, MbcPicturesAreTheSameThroughTheReaderAndThroughTheGraph) {
    dump::registerEngine();
    // Lossless with alpha (ARGB32 out of the splitter) and lossy opaque (RGB32): the MBC
    // splitter in the player's graph must deliver what the reader decodes, picture for
    // picture, none lost.
    for (const bool alpha : {true, false}) {
        SCOPED_TRACE(alpha ? "alpha" : "opaque");
        const int w = 48, h = 32, frames = 12;
        MbcFileOptions o;
        o.video.width = w;
        o.video.height = h;
        o.video.layout = alpha ? MbcVideoDecoder::LayoutRgb : MbcVideoDecoder::Layout420;
        o.video.alpha = alpha;
        o.video.transform = alpha ? 1 : 2;
        o.pattern = "IPBB";
        o.chunkLength = 5;
        o.rateNumerator = 25;
        MbcFileWriter writer;
        ASSERT_TRUE(writer.begin(o));
        for (int t = 0; t < frames; ++t) {
            const std::vector<uint8_t> input = randomPicture(w, h, 100 + t);
            ASSERT_TRUE(writer.addFrame(input.data(), w * 4));
        }
        std::vector<int16_t> pcm(4000 * 2);
        for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 31);
        ASSERT_TRUE(writer.setAudio(pcm.data(), 4000, 2, 8000, {0, 512}));
        std::vector<uint8_t> file;
        ASSERT_TRUE(writer.finish(file));
        const std::string path = (dir / (alpha ? "a.mbc" : "o.mbc")).string();
        testsupport::writeFile(path, file);

        const std::string viaReader = (dir / (alpha ? "ra" : "ro")).string();
        const std::string viaGraph = (dir / (alpha ? "ga" : "go")).string();
        std::string error;
        ASSERT_EQ(dump::frames(path, viaReader, true, error), 0) << error;
        dump::FrameOptions graphRoute;
        graphRoute.raw = true;
        graphRoute.route = dump::Route::Graph;
        ASSERT_EQ(dump::frames(path, viaGraph, graphRoute, error), 0) << error;
        for (int n = 0; n < frames; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "%05d.bgra", n);
            const std::vector<uint8_t> a = testsupport::readFile(std::filesystem::path(viaReader) / name);
            std::vector<uint8_t> b = testsupport::readFile(std::filesystem::path(viaGraph) / name);
            ASSERT_EQ(a.size(), size_t(w) * h * 4) << name;
            ASSERT_EQ(b.size(), a.size()) << name;
            // An opaque picture's fourth byte carries nothing; compare the colours.
            if (!alpha)
                for (size_t i = 3; i < b.size(); i += 4) b[i] = a[i];
            EXPECT_EQ(a, b) << name;
        }
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(viaGraph) / "00012.bgra"));

        int status = -1;
        dump::InfoOptions infoRoute;
        infoRoute.route = dump::Route::Graph;
        std::FILE* f = std::tmpfile();
        status = dump::info(path, infoRoute, f, error);
        std::rewind(f);
        char buf[1024] = {};
        const std::string json(buf, std::fread(buf, 1, sizeof buf - 1, f));
        std::fclose(f);
        ASSERT_EQ(status, 0) << error;
        EXPECT_NE(json.find("\"format\":\"mbc\",\"container\":\"MBC Media Splitter\",\"width\":48,\"height\":32,"
                            "\"frameCount\":12,"),
                  std::string::npos)
            << json;
        EXPECT_NE(json.find("\"frameRate\":25,"), std::string::npos) << json;
        EXPECT_NE(json.find("\"channels\":2,\"sampleRate\":8000,\"bitsPerSample\":16"), std::string::npos) << json;

        // The sound through the splitter is the reader's sound. The splitter hands over
        // at most one decoded chunk per picture and stops at the movie's end (12 pictures
        // at 25 per second), so without a clock pacing it some of the tail may not come.
        ASSERT_EQ(dump::audio(path, (dir / "r.wav").string(), error), 0) << error;
        ASSERT_EQ(dump::audio(path, (dir / "g.wav").string(), dump::Route::Graph, error), 0) << error;
        WavData viaReaderWav, viaGraphWav;
        ASSERT_TRUE(readWav((dir / "r.wav").string(), viaReaderWav, error)) << error;
        ASSERT_TRUE(readWav((dir / "g.wav").string(), viaGraphWav, error)) << error;
        EXPECT_EQ(viaGraphWav.channels, 2);
        EXPECT_EQ(viaGraphWav.sampleRate, 8000u);
        const size_t movieSamples = size_t(frames) * 8000 / 25 * 2;
        EXPECT_GT(viaGraphWav.samples.size(), 0u);
        EXPECT_LE(viaGraphWav.samples.size(), movieSamples);
        EXPECT_TRUE(std::equal(viaGraphWav.samples.begin(), viaGraphWav.samples.end(), pcm.begin()));
        ASSERT_GE(viaReaderWav.samples.size(), pcm.size());
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), viaReaderWav.samples.begin()));
    }
}

TEST(WavFileTest, ReadsTheCommonPcmDepths) {
    // 24-bit stereo, one frame: the top 16 bits are kept.
    const uint8_t wav24[] = {'R', 'I', 'F', 'F', 42,  0,   0, 0,    'W',  'A', 'V',  'E',  'f',  'm',  't',  ' ', 16,
                             0,   0,   0,   1,   0,   2,   0, 0x44, 0xAC, 0,   0,    0,    0,    0,    0,    6,   0,
                             24,  0,   'd', 'a', 't', 'a', 6, 0,    0,    0,   0x00, 0x34, 0x12, 0x00, 0x00, 0x80};
    WavData wav;
    std::string error;
    ASSERT_TRUE(parseWav(wav24, sizeof wav24, wav, error)) << error;
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.sampleRate, 44100u);
    ASSERT_EQ(wav.samples.size(), 2u);
    EXPECT_EQ(wav.samples[0], 0x1234);
    EXPECT_EQ(wav.samples[1], -32768);
    // Floating-point data is refused with a reason.
    uint8_t wavFloat[sizeof wav24];
    std::memcpy(wavFloat, wav24, sizeof wav24);
    wavFloat[20] = 3;
    EXPECT_FALSE(parseWav(wavFloat, sizeof wavFloat, wav, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
