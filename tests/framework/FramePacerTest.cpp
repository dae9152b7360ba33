#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "framework/FramePacer.h"
#include "framework/TimeSource.h"

namespace {

std::atomic<uint32_t> g_now{0};
uint32_t fakeNow() {
    return g_now.load();
}

// Time passes only when the pacer sleeps (or the test says so); every sleep is recorded.
class PacerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setTimeFunction(&fakeNow);
        g_now = 0;
    }
    void TearDown() override { setTimeFunction(nullptr); }

    static void recordingSleep(void* context, uint32_t ms) {
        static_cast<std::vector<uint32_t>*>(context)->push_back(ms);
        g_now += ms;
    }
    FramePacer& pacer() {
        if (!pacer_) {
            pacer_ = std::make_unique<FramePacer>();
            pacer_->setSleepFunction(&recordingSleep, &sleeps);
        }
        return *pacer_;
    }
    // Times at which successive frames begin (after each wait).
    std::vector<uint32_t> frameStarts(int frames) {
        std::vector<uint32_t> starts;
        for (int i = 0; i < frames; ++i) {
            pacer().waitNextFrame();
            starts.push_back(g_now);
        }
        return starts;
    }
    static std::vector<uint32_t> steps(const std::vector<uint32_t>& starts) {
        std::vector<uint32_t> d;
        for (size_t i = 1; i < starts.size(); ++i) d.push_back(starts[i] - starts[i - 1]);
        return d;
    }

    std::vector<uint32_t> sleeps;
    std::unique_ptr<FramePacer> pacer_;
};

const std::vector<uint32_t> kSixtyFpsSteps = {16, 17, 16, 17, 17, 16, 17, 17, 16};

TEST_F(PacerTest, SixtyFpsAlternatesSixteenAndSeventeen) {
    g_now = 1000;
    EXPECT_EQ(pacer().rate(), 60u);
    EXPECT_EQ(pacer().period(), 1092266u);
    pacer().reset();
    auto starts = frameStarts(10);
    EXPECT_EQ(starts.front(), 1016u) << "the first frame is one whole period after the reset";
    EXPECT_EQ(steps(starts), kSixtyFpsSteps);
    EXPECT_FALSE(pacer().isLate());
    EXPECT_EQ(pacer().isSkipping(), 0u);

    // Over 600 frames the fraction keeps the average at 16 2/3 ms.
    auto many = frameStarts(601);
    uint32_t span = many.back() - many.front();
    EXPECT_GE(span, 9999u);
    EXPECT_LE(span, 10001u);
}

TEST_F(PacerTest, SameStepsAcrossTheWrapOfTheTimeSource) {
    g_now = 0xFFFFFFE0u;
    pacer().reset();
    auto starts = frameStarts(10);
    EXPECT_EQ(steps(starts), kSixtyFpsSteps);
    EXPECT_FALSE(pacer().isLate()) << "a deadline past the wrap is not in the past";
    for (uint32_t s : sleeps) EXPECT_LE(s, 17u);
}

TEST_F(PacerTest, OverrunOfFortyMsSkipsOneFrame) {
    pacer().reset();
    frameStarts(5);
    // The frame took so long that it is now 40 ms past its deadline.
    g_now = pacer().nextDeadline() + 40;
    sleeps.clear();
    pacer().waitNextFrame();
    EXPECT_TRUE(pacer().isLate()) << "drawing is skipped for this frame";
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{1}));

    uint32_t resync = g_now;
    pacer().waitNextFrame();  // the one skipped frame: no sleep, then back in step
    EXPECT_EQ(sleeps.size(), 1u);
    EXPECT_FALSE(pacer().isLate());
    EXPECT_EQ(pacer().isSkipping(), 0u);
    EXPECT_EQ(pacer().nextDeadline(), resync + 16);

    auto starts = frameStarts(10);
    EXPECT_EQ(starts.front(), resync + 16);
    EXPECT_EQ(steps(starts), kSixtyFpsSteps);
}

TEST_F(PacerTest, LongStallCatchesUpAtMostOneHundredFiftyMs) {
    pacer().reset();
    frameStarts(3);
    g_now = pacer().nextDeadline() + 5000;
    sleeps.clear();
    pacer().waitNextFrame();
    ASSERT_TRUE(pacer().isLate());
    // 150 ms worth of frames of this frame's length (16 or 17 ms), less the late one.
    uint32_t skipped = 0;
    while (true) {
        size_t before = sleeps.size();
        pacer().waitNextFrame();
        EXPECT_EQ(sleeps.size(), before) << "skipped frames do not sleep";
        ++skipped;
        if (pacer().isSkipping() == 0) break;
        EXPECT_EQ(pacer().isSkipping(), skipped);
        ASSERT_LT(skipped, 20u);
    }
    EXPECT_TRUE(skipped == 150 / 16 - 1 || skipped == 150 / 17 - 1) << skipped;
    EXPECT_FALSE(pacer().isLate());
}

TEST_F(PacerTest, LessThanOneFrameLateJustCatchesUp) {
    pacer().reset();
    frameStarts(4);
    uint32_t deadline = pacer().nextDeadline();
    g_now = deadline + 3;
    sleeps.clear();
    pacer().waitNextFrame();
    EXPECT_FALSE(pacer().isLate());
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{1}));
    uint32_t d = pacer().nextDeadline() - deadline;
    EXPECT_TRUE(d == 16 || d == 17) << d;
}

TEST_F(PacerTest, MeasuredRate) {
    pacer().reset();
    std::vector<uint32_t> calls;
    for (int i = 0; i < 31; ++i) {
        calls.push_back(g_now);
        pacer().waitNextFrame();
    }
    EXPECT_EQ(pacer().measuredRate(), 0u) << "needs 32 frames";
    for (int i = 0; i < 40; ++i) {
        calls.push_back(g_now);
        pacer().waitNextFrame();
    }
    uint32_t span = calls.back() - calls[calls.size() - 32];
    EXPECT_EQ(pacer().measuredRate(), 2031616000u / span);
    double fps = pacer().measuredRate() / 65536.0;
    EXPECT_NEAR(fps, 60.0, 0.2);

    // Frames that take no time at all have no measurable rate.
    pacer().setSleepFunction([](void*, uint32_t) {}, nullptr);
    for (int i = 0; i < 40; ++i) pacer().waitNextFrame();
    EXPECT_EQ(pacer().measuredRate(), 0u);
}

TEST_F(PacerTest, RatesAndRange) {
    EXPECT_TRUE(pacer().setRate(1000));
    EXPECT_EQ(pacer().period(), 65536u);
    auto starts = frameStarts(5);
    EXPECT_EQ(steps(starts), (std::vector<uint32_t>{1, 1, 1, 1}));

    EXPECT_FALSE(pacer().setRate(1001)) << "a frame would last 0 ms";
    EXPECT_EQ(pacer().rate(), 1000u);
    EXPECT_EQ(pacer().period(), 65536u);

    EXPECT_TRUE(pacer().setRate(25));
    starts = frameStarts(4);
    EXPECT_EQ(steps(starts), (std::vector<uint32_t>{40, 40, 40}));

    // Rate 0: no pacing at all.
    EXPECT_TRUE(pacer().setRate(0));
    sleeps.clear();
    frameStarts(5);
    EXPECT_TRUE(sleeps.empty());
}

TEST(FramePacer, DefaultSleepIsTheSystemSleep) {
    FramePacer pacer;
    pacer.setRate(200);
    uint32_t begin = multimediaTimeMs();
    for (int i = 0; i < 5; ++i) pacer.waitNextFrame();
    // Five 5 ms frames cannot pass without sleeping.
    EXPECT_GE(multimediaTimeMs() - begin, 15u);
}

}  // namespace
