// The outputs: WAV capture file layout, real-time pacing of the null output, SDL2 with
// its dummy driver, and falling back when no device opens.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "AudioTestUtil.h"
#include "platform/audio/AudioOutputRegistry.h"
#include "platform/audio/NullAudioOutput.h"
#include "platform/audio/SdlAudioOutput.h"

using namespace audiotest;
using Clock = std::chrono::steady_clock;

namespace {

// A source that records what it was asked for.
class CountingSource : public AudioSource {
public:
    void mix(float* out, uint32_t frames, bool realTime) override {
        for (uint32_t i = 0; i < frames * 2; ++i) out[i] = 0.125f;
        frames_ += frames;
        realTime_ = realTime;
    }
    uint64_t frames() const { return frames_.load(); }
    bool realTime() const { return realTime_.load(); }

private:
    std::atomic<uint64_t> frames_{0};
    std::atomic<bool> realTime_{false};
};

// Waits (without a time limit on the result) until `done` or a generous deadline.
template <class F>
bool eventually(F done) {
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (hadOld_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace

TEST(AudioOutputTest, RegistryListsEveryOutputOnce) {
    std::set<std::string> names;
    for (const auto& e : audioOutputEntries()) EXPECT_TRUE(names.insert(e.name).second) << e.name;
    EXPECT_EQ(names, (std::set<std::string>{"sdl", "null", "wav"}));
    EXPECT_STREQ(audioOutputEntries()[0].name, "sdl");  // the device first, null as the fallback
    EXPECT_TRUE(audioOutputEntries()[1].automatic);
    EXPECT_FALSE(createAudioOutput("wav"));  // needs a file
    EXPECT_FALSE(createAudioOutput("nonesuch"));
    auto null = createAudioOutput("null");
    ASSERT_TRUE(null);
    EXPECT_STREQ(null->name(), "null");
}

TEST(AudioOutputTest, WavCaptureWritesAFloatStereoFile) {
    testsupport::TempDir dir;
    CountingSource source;
    WavCaptureOutput capture(dir / "out.wav", WavCaptureOutput::Pacing::Manual);
    EXPECT_FALSE(capture.pump(10));  // not open
    ASSERT_TRUE(capture.open(source));
    ASSERT_TRUE(capture.pump(5000));
    ASSERT_TRUE(capture.pump(3));
    EXPECT_EQ(capture.framesWritten(), 5003u);
    EXPECT_FALSE(source.realTime());
    capture.close();

    auto bytes = testsupport::readFile(dir / "out.wav");
    ASSERT_EQ(bytes.size(), 44u + 5003 * 8);
    auto le32 = [&](size_t at) { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24; };
    EXPECT_EQ(le32(4), 36 + 5003 * 8);
    EXPECT_EQ(le32(24), 48000);
    EXPECT_EQ(le32(28), 48000 * 8);
    EXPECT_EQ(le32(40), 5003 * 8);
    auto frames = readCapture(dir / "out.wav");
    ASSERT_EQ(frames.size(), 5003u);
    EXPECT_EQ(frames[5002].right, 0.125f);
}

TEST(AudioOutputTest, WavCaptureFailsOnAnUnwritablePath) {
    testsupport::TempDir dir;
    CountingSource source;
    WavCaptureOutput capture(dir / "missing" / "out.wav", WavCaptureOutput::Pacing::Manual);
    EXPECT_FALSE(capture.open(source));
    EXPECT_FALSE(capture.pump(10));
}

// The pump may run one short period ahead of the wall clock, never further.
TEST(AudioOutputTest, NullOutputPullsAtTheWallClockPace) {
    CountingSource source;
    NullAudioOutput out;
    auto start = Clock::now();
    ASSERT_TRUE(out.open(source));
    ASSERT_TRUE(eventually([&] { return source.frames() >= 4800; }));
    uint64_t frames = source.frames();
    double elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    out.close();
    EXPECT_LE(frames, static_cast<uint64_t>((elapsedMs + 10) * 48) + 1);
    EXPECT_TRUE(source.realTime());
    uint64_t after = source.frames();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(source.frames(), after);  // nothing pulled once closed
}

TEST(AudioOutputTest, WavCaptureInRealTimeAdvancesAnInputsClock) {
    testsupport::TempDir dir;
    Mixer mixer;
    ASSERT_TRUE(mixer.setOutput(createAudioOutput("wav", (dir / "rt.wav").string())));
    EXPECT_EQ(mixer.outputName(), "wav");
    auto input = mixer.createInput({SampleType::S16, 8000, 1, 0});
    std::vector<int16_t> data(800, 1000);
    ASSERT_EQ(input->write(data.data(), 800), 800u);
    input->endOfStream();
    ASSERT_TRUE(input->drainedEvent().wait(20000));
    EXPECT_EQ(input->consumedFrames(), 800u);
    mixer.closeOutput();
    auto frames = readCapture(dir / "rt.wav");
    ASSERT_GE(frames.size(), 4800u);
    size_t loud = 0;
    for (const auto& f : frames)
        if (f.left > 0.01f) ++loud;
    EXPECT_NEAR(static_cast<double>(loud), 4800, 20);
}

TEST(AudioOutputTest, MixerFallsBackToNullWhenNoDeviceOpens) {
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    SdlAudioOutput sdl;
    CountingSource source;
    EXPECT_FALSE(sdl.open(source));
    Mixer mixer;
    auto input = mixer.createInput({SampleType::S16, 48000, 2, 0});
    ASSERT_TRUE(input);
    EXPECT_EQ(mixer.outputName(), "null");
    std::vector<int16_t> data(960, 0);
    ASSERT_EQ(input->write(data.data(), 480), 480u);
    EXPECT_TRUE(eventually([&] { return input->consumedFrames() == 480; }));
}

TEST(AudioOutputTest, SdlDummyDriverPullsTheMix) {
    ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    Mixer mixer;
    auto sdl = std::make_unique<SdlAudioOutput>();
    SdlAudioOutput* device = sdl.get();
    ASSERT_TRUE(mixer.setOutput(std::move(sdl)));
    EXPECT_STREQ(device->driver(), "dummy");
    EXPECT_GT(mixer.outputLatencyFrames(), 0u);
    auto input = mixer.createInput({SampleType::F32, 44100, 2, 0});
    std::vector<float> data(4410 * 2, 0.1f);
    ASSERT_EQ(input->write(data.data(), 4410), 4410u);
    input->endOfStream();
    ASSERT_TRUE(input->drainedEvent().wait(20000));
    EXPECT_EQ(input->consumedFrames(), 4410u);
    mixer.closeOutput();
    EXPECT_EQ(mixer.outputName(), "");
}
