// The audio renderer's clock: follows the consumed audio while it plays, the system time
// otherwise, and never goes back.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "framework/InterfacePtr.h"
#include "platform/dshow/AudioRendererClock.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;

class AudioRendererClockTest : public testing::Test {
protected:
    AudioRendererClockTest() {
        clock_ = new AudioRendererClock([this] { return system_.load(); });
    }
    REFERENCE_TIME time() {
        REFERENCE_TIME t = 0;
        EXPECT_EQ(clock_->GetTime(&t), S_OK);
        return t;
    }
    void advanceSystem(REFERENCE_TIME d) { system_ += d; }
    // Plays `frames` of the input as a non-real-time output would.
    void play(MixerInput& input, uint32_t frames) {
        std::vector<float> mix(frames * 2);
        input.pull(mix.data(), frames, false, 0);
    }
    static void feed(MixerInput& input, size_t frames) {
        std::vector<int16_t> pcm(frames * 2, 100);
        ASSERT_EQ(input.write(pcm.data(), frames), frames);
    }

    std::atomic<REFERENCE_TIME> system_{50 * UNITS};
    InterfacePtr<AudioRendererClock> clock_;
};

}  // namespace

TEST_F(AudioRendererClockTest, FollowsSystemTimeWithoutAudio) {
    REFERENCE_TIME t0 = time();
    advanceSystem(250 * kMs);
    EXPECT_EQ(time(), t0 + 250 * kMs);
    EXPECT_FALSE(clock_->followingAudio());
}

TEST_F(AudioRendererClockTest, FollowsConsumedSamplesWhilePlaying) {
    auto input = std::make_shared<MixerInput>(AudioFormat{SampleType::S16, 44100, 2, 0});
    input->setCapacityMs(2000);
    clock_->setInput(input);
    feed(*input, 44100);
    REFERENCE_TIME t0 = time();
    EXPECT_FALSE(clock_->followingAudio());  // nothing has played yet

    // The audio runs faster than the system time here: the clock goes with the audio.
    play(*input, 4800);  // 100 ms
    advanceSystem(10 * kMs);
    REFERENCE_TIME t1 = time();
    EXPECT_TRUE(clock_->followingAudio());
    play(*input, 9600);  // 200 ms more
    advanceSystem(10 * kMs);
    EXPECT_EQ(time(), t1 + 200 * kMs);
    EXPECT_EQ(input->consumedFrames(), 13230u);  // 300 ms at 44.1 kHz

    // Paused audio: the system time carries on from where the audio left it.
    REFERENCE_TIME t2 = time();
    input->setPaused(true);
    advanceSystem(40 * kMs);
    EXPECT_EQ(time(), t2 + 40 * kMs);
    EXPECT_FALSE(clock_->followingAudio());
    EXPECT_GT(t2, t0);
}

TEST_F(AudioRendererClockTest, StarvedOrStalledAudioHandsOverToSystemTime) {
    auto input = std::make_shared<MixerInput>(AudioFormat{SampleType::S16, 48000, 2, 0});
    clock_->setInput(input);
    feed(*input, 960);
    time();
    play(*input, 480);
    // The clock's scheduler thread may read the time too: the movement is stamped at this
    // system time whoever sees it first.
    REFERENCE_TIME t0 = time();
    ASSERT_TRUE(clock_->followingAudio());

    // Not pulled for a while (no output): after the stall time, system time.
    advanceSystem(AudioRendererClock::kStallTime - kMs);
    EXPECT_EQ(time(), t0);
    advanceSystem(2 * kMs);
    REFERENCE_TIME t1 = time();
    EXPECT_FALSE(clock_->followingAudio());
    advanceSystem(5 * kMs);
    EXPECT_EQ(time(), t1 + 5 * kMs);

    // Pulled dry: starved at once.
    play(*input, 480);
    advanceSystem(kMs);
    time();
    EXPECT_TRUE(clock_->followingAudio());
    play(*input, 480);
    ASSERT_TRUE(input->starved());
    REFERENCE_TIME t2 = time();
    advanceSystem(3 * kMs);
    EXPECT_EQ(time(), t2 + 3 * kMs);
}

TEST_F(AudioRendererClockTest, NeverGoesBackAcrossInputsAndFlushes) {
    REFERENCE_TIME last = time();
    for (int round = 0; round < 3; ++round) {
        auto input = std::make_shared<MixerInput>(AudioFormat{SampleType::F32, 22050, 1, 0});
        clock_->setInput(input);
        std::vector<float> pcm(2205, 0.1f);
        ASSERT_EQ(input->write(pcm.data(), pcm.size()), pcm.size());
        for (int i = 0; i < 8; ++i) {
            play(*input, 960);
            advanceSystem(round == 1 ? 40 * kMs : 5 * kMs);
            REFERENCE_TIME t = time();
            EXPECT_GE(t, last);
            last = t;
            if (i == 4) input->flush();
        }
    }
}

TEST(AudioRendererClockRealTimeTest, AdviseTimeFiresNoEarlierThanAsked) {
    InterfacePtr<AudioRendererClock> clock(new AudioRendererClock());
    REFERENCE_TIME now = 0;
    ASSERT_EQ(clock->GetTime(&now), S_OK);
    Event event(Event::Reset::Manual);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(clock->AdviseTime(now, 30 * kMs, &event, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    ASSERT_TRUE(event.wait(20000));
    REFERENCE_TIME after = 0;
    clock->GetTime(&after);
    EXPECT_GE(after, now + 30 * kMs);
    EXPECT_EQ(clock->Unadvise(cookie), S_FALSE);  // already fired

    Semaphore ticks(0, 100);
    ASSERT_EQ(clock->AdvisePeriodic(after, 5 * kMs, &ticks, &cookie), S_OK);
    ASSERT_TRUE(ticks.wait(20000));
    ASSERT_TRUE(ticks.wait(20000));
    EXPECT_EQ(clock->Unadvise(cookie), S_OK);

    EXPECT_EQ(clock->AdviseTime(MAX_TIME, 1, &event, &cookie), E_INVALIDARG);
    EXPECT_EQ(clock->AdviseTime(now, 0, nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(clock->AdvisePeriodic(now, 0, &ticks, &cookie), E_INVALIDARG);
    EXPECT_EQ(clock->GetTime(nullptr), E_POINTER);
}
