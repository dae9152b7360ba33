// The mixer and its inputs, observed through a manually pumped WAV capture.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "AudioTestUtil.h"
#include "platform/audio/AudioLevel.h"

using namespace audiotest;

namespace {

const float kHalf = static_cast<float>(std::pow(10.0, -0.301));  // -602 hundredths of a dB

std::vector<float> constantStereo(size_t frames, float left, float right) {
    std::vector<float> s(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        s[i * 2] = left;
        s[i * 2 + 1] = right;
    }
    return s;
}

// Frames [from, to) all equal (left, right) within tolerance.
void expectFrames(const std::vector<Frame>& f, size_t from, size_t to, float left, float right, float tol = 1e-6f) {
    ASSERT_LE(to, f.size());
    for (size_t i = from; i < to; ++i) {
        ASSERT_NEAR(f[i].left, left, tol) << "frame " << i;
        ASSERT_NEAR(f[i].right, right, tol) << "frame " << i;
    }
}

}  // namespace

TEST(AudioLevelTest, HundredthsOfDecibelToAmplitude) {
    EXPECT_EQ(levelToAmplitude(0), 1.0f);
    EXPECT_NEAR(levelToAmplitude(-602), 0.5f, 0.001f);
    EXPECT_NEAR(levelToAmplitude(-2000), 0.1f, 1e-6f);
    EXPECT_NEAR(levelToAmplitude(-6000), 0.001f, 1e-7f);
    EXPECT_EQ(levelToAmplitude(-10000), 0.0f);
    EXPECT_EQ(levelToAmplitude(-20000), 0.0f);

    ChannelGains g = balanceToGains(-602);
    EXPECT_EQ(g.left, 1.0f);
    EXPECT_NEAR(g.right, 0.5f, 0.001f);
    g = balanceToGains(10000);
    EXPECT_EQ(g.left, 0.0f);
    EXPECT_EQ(g.right, 1.0f);
}

// Volumes of 1000, 500 and 0 on the player's scale arrive as 0, -602 and -10000.
TEST(MixerTest, VolumeScalesBothChannelsOfTheCapturedMix) {
    struct Case {
        int32_t volume;
        float gain;
    } cases[] = {{0, 1.0f}, {-602, kHalf}, {-10000, 0.0f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.volume);
        CaptureRig rig;
        auto input = rig.mixer().createInput(floatStereo());
        ASSERT_TRUE(input);
        input->setVolume(c.volume);
        writeAll(*input, constantStereo(4800, 0.8f, -0.4f));
        rig.pump(4800);
        auto f = rig.finish();
        ASSERT_EQ(f.size(), 4800u);
        expectFrames(f, 0, 4800, 0.8f * c.gain, -0.4f * c.gain, 1e-4f);
    }
}

TEST(MixerTest, BalanceAttenuatesOnlyTheOtherSide) {
    struct Case {
        int32_t volume, balance;
        float left, right;
    } cases[] = {
        {0, -602, 0.6f, 0.6f * kHalf},
        {0, 602, 0.6f * kHalf, 0.6f},
        {0, -10000, 0.6f, 0.0f},
        {0, 10000, 0.0f, 0.6f},
        {-602, -2000, 0.6f * kHalf, 0.6f * kHalf * 0.1f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.volume << "/" << c.balance);
        CaptureRig rig;
        auto input = rig.mixer().createInput(floatStereo());
        input->setBalance(c.balance);
        input->setVolume(c.volume);
        EXPECT_EQ(input->balance(), c.balance);
        writeAll(*input, constantStereo(1000, 0.6f, 0.6f));
        rig.pump(1000);
        auto f = rig.finish();
        expectFrames(f, 0, 1000, c.left, c.right, 1e-4f);
    }
}

TEST(MixerTest, TwoInputsAreSummedEachWithItsOwnLevels) {
    CaptureRig rig;
    auto a = rig.mixer().createInput(floatStereo());
    auto b = rig.mixer().createInput({SampleType::S16, 48000, 1, 0});
    ASSERT_TRUE(a && b);
    EXPECT_EQ(rig.mixer().inputCount(), 2u);
    a->setBalance(-10000);  // left only
    b->setVolume(-602);
    writeAll(*a, constantStereo(2000, 0.25f, 0.25f));
    writeAll(*b, std::vector<int16_t>(1000, 16384));  // mono 0.5 on both sides, half as long
    rig.pump(3000);
    auto f = rig.finish();
    ASSERT_EQ(f.size(), 3000u);
    expectFrames(f, 0, 1000, 0.25f + 0.5f * kHalf, 0.5f * kHalf, 1e-4f);
    expectFrames(f, 1000, 2000, 0.25f, 0.0f);
    expectFrames(f, 2000, 3000, 0.0f, 0.0f);  // both ran dry
    EXPECT_EQ(a->consumedFrames(), 2000u);
    EXPECT_EQ(b->consumedFrames(), 1000u);
}

TEST(MixerTest, SumIsClippedToFullScale) {
    CaptureRig rig;
    auto a = rig.mixer().createInput(floatStereo());
    auto b = rig.mixer().createInput(floatStereo());
    writeAll(*a, constantStereo(10, 0.75f, -0.75f));
    writeAll(*b, constantStereo(10, 0.75f, -0.75f));
    rig.pump(10);
    expectFrames(rig.finish(), 0, 10, 1.0f, -1.0f);
}

TEST(MixerTest, SampleTypesConvertToFloat) {
    CaptureRig rig;
    auto u8 = rig.mixer().createInput({SampleType::U8, 48000, 2, 0});
    auto s16 = rig.mixer().createInput({SampleType::S16, 48000, 2, 0});
    auto f32 = rig.mixer().createInput(floatStereo());
    // One input at a time, one after the other, so each value can be read alone.
    writeAll(*u8, std::vector<uint8_t>{192, 64, 0, 255, 128, 128});
    rig.pump(3);
    writeAll(*s16, std::vector<int16_t>{16384, -16384, -32768, 32767, 0, 0});
    rig.pump(3);
    float nan = std::numeric_limits<float>::quiet_NaN();
    float inf = std::numeric_limits<float>::infinity();
    writeAll(*f32, std::vector<float>{0.5f, -0.5f, nan, inf, -1.0f, 1.0f});
    rig.pump(3);
    auto f = rig.finish();
    ASSERT_EQ(f.size(), 9u);
    float expected[9][2] = {{0.5f, -0.5f}, {-1.0f, 127.0f / 128},
                            {0, 0},  //
                            {0.5f, -0.5f}, {-1.0f, 32767.0f / 32768},
                            {0, 0},  //
                            {0.5f, -0.5f}, {0, 0},
                            {-1.0f, 1.0f}};  // bad floats are silence
    for (int i = 0; i < 9; ++i) {
        EXPECT_FLOAT_EQ(f[i].left, expected[i][0]) << i;
        EXPECT_FLOAT_EQ(f[i].right, expected[i][1]) << i;
    }
}

TEST(MixerTest, ChannelsAreFoldedToStereo) {
    struct Case {
        AudioFormat format;
        std::vector<float> frame;
        float left, right;
    };
    const float k = std::numbers::sqrt2_v<float> / 2;  // -3 dB
    const float fiveOneScale = 1.0f / (1.0f + 2 * k);  // front + centre + back on one side
    Case cases[] = {
        // Mono is heard at full level on both sides.
        {{SampleType::F32, 48000, 1, 0}, {0.5f}, 0.5f, 0.5f},
        // 5.1: FL FR FC LFE BL BR; the low-frequency channel is dropped.
        {{SampleType::F32, 48000, 6, 0}, {1, 0, 0, 0, 0, 0}, fiveOneScale, 0},
        {{SampleType::F32, 48000, 6, 0}, {0, 0, 1, 0, 0, 0}, k * fiveOneScale, k * fiveOneScale},
        {{SampleType::F32, 48000, 6, 0}, {0, 0, 0, 1, 0, 0}, 0, 0},
        {{SampleType::F32, 48000, 6, 0}, {0, 0, 0, 0, 0, 1}, 0, k * fiveOneScale},
        // An explicit mask: front centre then back right only.
        {{SampleType::F32, 48000, 2, 0x4 | 0x20}, {0.5f, 0}, 0.5f * k / (2 * k), 0.5f * k / (2 * k)},
        // No known layout: sides alternate.
        {{SampleType::F32, 48000, 10, 0}, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 0, 1.0f / 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format.channels << " channels, mask " << c.format.channelMask);
        CaptureRig rig;
        auto input = rig.mixer().createInput(c.format);
        ASSERT_TRUE(input);
        writeAll(*input, c.frame);
        rig.pump(1);
        auto f = rig.finish();
        ASSERT_EQ(f.size(), 1u);
        EXPECT_NEAR(f[0].left, c.left, 1e-6f);
        EXPECT_NEAR(f[0].right, c.right, 1e-6f);
    }
}

TEST(MixerTest, UnsupportedFormatsGetNoInput) {
    Mixer mixer;
    mixer.closeOutput();
    EXPECT_FALSE(mixer.createInput({SampleType::F32, 48000, 0, 0}));
    EXPECT_FALSE(mixer.createInput({SampleType::F32, 0, 2, 0}));
    EXPECT_FALSE(mixer.createInput({SampleType::S16, 48000, 33, 0}));
    EXPECT_FALSE(mixer.createInput({static_cast<SampleType>(7), 48000, 2, 0}));
}

// 44.1 kHz in, 48 kHz out: every input frame is counted exactly once, the count follows
// the output position, and the signal keeps its timing.
TEST(MixerTest, ResamplingKeepsExactSampleAccounting) {
    CaptureRig rig;
    auto input = rig.mixer().createInput(floatStereo(44100));
    input->setCapacityMs(5000);
    const size_t n = 44100 + 37;
    std::vector<float> in(n * 2, 0.0f);
    in[1000 * 2] = in[1000 * 2 + 1] = 1.0f;  // an impulse at input frame 1000
    // Odd chunk sizes, so the resampler's hold-back shows between writes.
    size_t done = 0, chunk = 1;
    while (done < n) {
        size_t c = std::min(chunk, n - done);
        ASSERT_EQ(input->write(in.data() + done * 2, c), c);
        done += c;
        chunk = chunk * 3 + 7;
    }
    input->endOfStream();

    const uint64_t outFrames = (n * 48000 + 44099) / 44100;  // the resampler's full output
    uint64_t pulled = 0, last = 0;
    for (uint32_t step : {1u, 479u, 4096u, 10000u, 20000u}) {
        rig.pump(step);
        pulled += step;
        uint64_t consumed = input->consumedFrames();
        EXPECT_GE(consumed, last);
        EXPECT_EQ(consumed, pulled * 44100 / 48000) << pulled;
        last = consumed;
        EXPECT_FALSE(input->drained());
    }
    rig.pump(static_cast<uint32_t>(outFrames - pulled));
    EXPECT_EQ(input->consumedFrames(), n);
    EXPECT_TRUE(input->drained());
    EXPECT_TRUE(input->drainedEvent().isSet());
    rig.pump(100);
    EXPECT_EQ(input->consumedFrames(), n);

    auto f = rig.finish();
    ASSERT_EQ(f.size(), outFrames + 100);
    size_t peak = 0;
    for (size_t i = 0; i < f.size(); ++i)
        if (std::fabs(f[i].left) > std::fabs(f[peak].left)) peak = i;
    EXPECT_EQ(peak, 1088u);  // 1000 * 48000 / 44100 = 1088.4
}

TEST(MixerTest, ResampledToneKeepsItsPitch) {
    CaptureRig rig;
    auto input = rig.mixer().createInput({SampleType::S16, 22050, 1, 0});
    input->setCapacityMs(2000);
    std::vector<int16_t> tone(22050);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<int16_t>(std::lround(16000 * std::sin(2 * std::numbers::pi * 1000 * i / 22050.0)));
    writeAll(*input, tone);
    input->endOfStream();
    rig.pump(48000);
    auto f = rig.finish();
    // Count rising zero crossings over the middle second-half: 1 kHz is one per 48 frames.
    int crossings = 0;
    for (size_t i = 12000; i < 36000; ++i)
        if (f[i - 1].left < 0 && f[i].left >= 0) ++crossings;
    EXPECT_NEAR(crossings, 500, 1);
    EXPECT_EQ(input->consumedFrames(), 22050u);
}

TEST(MixerTest, PausedInputHoldsItsDataAndCount) {
    CaptureRig rig;
    auto input = rig.mixer().createInput(floatStereo());
    std::vector<float> ramp(200 * 2);
    for (size_t i = 0; i < 200; ++i) ramp[i * 2] = ramp[i * 2 + 1] = static_cast<float>(i) / 200;
    writeAll(*input, ramp);
    rig.pump(50);
    input->setPaused(true);
    rig.pump(100);
    EXPECT_EQ(input->consumedFrames(), 50u);
    EXPECT_FALSE(input->starved());
    input->setPaused(false);
    rig.pump(150);
    EXPECT_EQ(input->consumedFrames(), 200u);
    auto f = rig.finish();
    ASSERT_EQ(f.size(), 300u);
    EXPECT_FLOAT_EQ(f[49].left, 49.0f / 200);
    expectFrames(f, 50, 150, 0, 0);
    EXPECT_FLOAT_EQ(f[150].left, 50.0f / 200);  // resumes where it stopped
    EXPECT_FLOAT_EQ(f[299].left, 199.0f / 200);
}

TEST(MixerTest, FlushDiscardsQueuedAndHeldFramesButKeepsTheCount) {
    CaptureRig rig;
    auto input = rig.mixer().createInput(floatStereo(44100));
    writeAll(*input, constantStereo(4410, 0.5f, 0.5f));
    rig.pump(2400);
    uint64_t before = input->consumedFrames();
    EXPECT_EQ(before, 2205u);
    input->endOfStream();
    EXPECT_EQ(input->write(constantStereo(1, 0, 0).data(), 1), 0u);  // refused after the end
    input->flush();
    EXPECT_EQ(input->queuedFrames(), 0u);
    EXPECT_FALSE(input->endOfStreamSet());
    EXPECT_FALSE(input->drainedEvent().isSet());
    rig.pump(100);
    EXPECT_EQ(input->consumedFrames(), before);
    EXPECT_TRUE(input->starved());

    // A new segment after the flush starts clean: no leftovers from the resampler.
    writeAll(*input, constantStereo(441, -0.25f, -0.25f));
    input->endOfStream();
    rig.pump(600);
    EXPECT_EQ(input->consumedFrames(), before + 441);
    auto f = rig.finish();
    expectFrames(f, 2400, 2500, 0, 0);
    for (size_t i = 2520; i < 2900; ++i) ASSERT_NEAR(f[i].left, -0.25f, 0.01f) << i;
    expectFrames(f, 2981, 3100, 0, 0);
}

TEST(MixerTest, EndOfStreamDrainsOnlyAfterTheLastFrame) {
    CaptureRig rig;
    auto input = rig.mixer().createInput(floatStereo());
    input->endOfStream();
    EXPECT_TRUE(input->drained());  // nothing was queued
    input->flush();
    writeAll(*input, constantStereo(100, 0.1f, 0.1f));
    input->endOfStream();
    rig.pump(99);
    EXPECT_FALSE(input->drainedEvent().isSet());
    EXPECT_FALSE(input->starved());
    rig.pump(1);
    EXPECT_TRUE(input->drainedEvent().wait(0));
    EXPECT_FALSE(input->starved());  // ended, not starved
}

TEST(MixerTest, QueueCapacityHoldsBackTheWriter) {
    CaptureRig rig;
    auto input = rig.mixer().createInput(floatStereo(24000));
    input->setCapacityMs(10);  // 480 output frames = 240 input frames
    auto data = constantStereo(1000, 0.1f, 0.1f);
    size_t accepted = 0;
    for (int i = 0; i < 20; ++i) accepted += input->write(data.data(), 1000);
    EXPECT_GE(accepted, 240u);
    EXPECT_LE(accepted, 260u);  // the resampler holds a few frames back
    EXPECT_EQ(input->write(data.data(), 1000), 0u);
    EXPECT_EQ(input->writableFrames(), 0u);
    input->spaceEvent().reset();
    rig.pump(240);
    EXPECT_TRUE(input->spaceEvent().wait(0));
    EXPECT_GT(input->writableFrames(), 100u);
    EXPECT_GT(input->write(data.data(), 1000), 100u);
}

TEST(MixerTest, RemovedInputIsNoLongerMixed) {
    CaptureRig rig;
    auto input = rig.mixer().createInput(floatStereo());
    writeAll(*input, constantStereo(100, 0.3f, 0.3f));
    rig.mixer().removeInput(input);
    EXPECT_EQ(rig.mixer().inputCount(), 0u);
    rig.pump(100);
    expectFrames(rig.finish(), 0, 100, 0, 0);
    EXPECT_EQ(input->consumedFrames(), 0u);
}

// The played position runs through a real-time block at the input's own rate.
TEST(MixerInputTest, PlayedFramesInterpolateThroughTheCurrentBlock) {
    MixerInput input(floatStereo());
    auto data = constantStereo(960, 0.1f, 0.1f);
    ASSERT_EQ(input.write(data.data(), 960), 960u);
    std::vector<float> mix(480 * 2);
    const int64_t t0 = 1'000'000'000;
    input.pull(mix.data(), 480, true, t0);
    EXPECT_EQ(input.consumedFrames(), 480u);
    EXPECT_EQ(input.playedFrames(t0), 0u);
    EXPECT_EQ(input.playedFrames(t0 + 5'000'000), 240u);
    EXPECT_EQ(input.playedFrames(t0 + 50'000'000), 480u);  // never past what was handed out
    input.setPaused(true);
    EXPECT_EQ(input.playedFrames(t0 + 5'000'000), 480u);
    input.setPaused(false);
    input.pull(mix.data(), 480, false, t0);  // not real time: the count itself
    EXPECT_EQ(input.playedFrames(t0), 960u);
}
