#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "framework/Stopwatch.h"
#include "framework/TimeSource.h"
#include "framework/TimerResolution.h"

namespace {

std::atomic<uint32_t> g_now{0};
long timerSlackNs() {
    return prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
}
uint32_t fakeNow() {
    return g_now.load();
}

class FakeTime : public ::testing::Test {
protected:
    void SetUp() override { setTimeFunction(&fakeNow); }
    void TearDown() override { setTimeFunction(nullptr); }
    static void at(uint32_t t) { g_now = t; }
    static void advance(uint32_t ms) { g_now += ms; }
};

TEST_F(FakeTime, StopwatchPausesAndResumes) {
    at(1000);
    Stopwatch clock;  // a new stopwatch runs from 0
    EXPECT_TRUE(clock.isRunning());
    EXPECT_EQ(clock.elapsed(), 0u);
    advance(500);
    clock.pause();
    advance(1000);
    EXPECT_EQ(clock.elapsed(), 500u);
    clock.pause();  // a second pause changes nothing
    advance(10);
    EXPECT_EQ(clock.elapsed(), 500u);
    clock.resume();
    advance(250);
    EXPECT_EQ(clock.elapsed(), 750u);
    clock.resume();  // already running
    EXPECT_EQ(clock.elapsed(), 750u);
    clock.restart();
    EXPECT_EQ(clock.elapsed(), 0u);
}

TEST_F(FakeTime, StopwatchSetPosition) {
    at(5000);
    Stopwatch clock;
    advance(100);
    clock.pause();
    clock.setPosition(2000);
    EXPECT_EQ(clock.elapsed(), 2000u) << "reads the position at once while paused";
    advance(300);
    EXPECT_EQ(clock.elapsed(), 2000u);
    clock.resume();
    advance(40);
    EXPECT_EQ(clock.elapsed(), 2040u) << "runs on from the position";

    clock.setPosition(10);  // while running
    EXPECT_EQ(clock.elapsed(), 10u);
    advance(5);
    EXPECT_EQ(clock.elapsed(), 15u);

    // A paused clock at 0 keeps reading 0.
    clock.restart();
    clock.pause();
    advance(100);
    EXPECT_EQ(clock.elapsed(), 0u);
}

TEST_F(FakeTime, StopwatchAcrossTheWrap) {
    at(0xFFFFFF00u);
    Stopwatch clock;
    advance(0x200);  // the source wrapped past 0
    EXPECT_EQ(clock.elapsed(), 0x200u);
    clock.pause();
    advance(0x1000);
    clock.resume();
    advance(7);
    EXPECT_EQ(clock.elapsed(), 0x207u);
    clock.setPosition(3000);
    EXPECT_EQ(clock.elapsed(), 3000u);
}

// The resolution is process-wide, so these run in one test in a fixed order.
TEST(TimerResolution, FirstAcquireRaisesLastReleaseRestores) {
    ASSERT_EQ(TimerResolution::referenceCount(), 0u);
    EXPECT_EQ(selectedSystemClock(), SystemClock::TickCount);

    TimerResolution::Capabilities caps;
    ASSERT_TRUE(TimerResolution::deviceCapabilities(caps));
    EXPECT_EQ(caps.periodMin, 1u);

    TimerResolution::acquire(0);
    EXPECT_EQ(TimerResolution::period(), caps.periodMin + 1);
    EXPECT_EQ(selectedSystemClock(), SystemClock::MultimediaTimer);
    EXPECT_EQ(timerSlackNs(), 1) << "the acquiring thread got the finest slack";
    std::atomic<long> threadSlack{-1};
    std::thread([&] { threadSlack = timerSlackNs(); }).join();
    EXPECT_EQ(threadSlack, 1) << "threads made meanwhile inherit it";

    TimerResolution::acquire(0);  // later acquirers change nothing
    TimerResolution::release();
    EXPECT_EQ(TimerResolution::referenceCount(), 1u);
    EXPECT_EQ(selectedSystemClock(), SystemClock::MultimediaTimer);

    // Reading across the switch back never goes backwards.
    uint32_t before = currentTimeMs();
    TimerResolution::release();
    uint32_t after = currentTimeMs();
    EXPECT_LE(static_cast<int32_t>(before - after), 0);
    EXPECT_EQ(TimerResolution::referenceCount(), 0u);
    EXPECT_EQ(TimerResolution::period(), 0u);
    EXPECT_EQ(selectedSystemClock(), SystemClock::TickCount);
    EXPECT_NE(timerSlackNs(), 1);

    TimerResolution::release();  // unbalanced: ignored
    EXPECT_EQ(TimerResolution::referenceCount(), 0u);

    // A non-zero flag only counts.
    TimerResolution::acquire(1);
    EXPECT_EQ(TimerResolution::period(), 0u);
    EXPECT_EQ(selectedSystemClock(), SystemClock::TickCount);
    TimerResolution::release();

    // A coarse device is left alone.
    TimerResolution::setCapabilityQuery([](TimerResolution::Capabilities& c) {
        c.periodMin = 10;
        c.periodMax = 1000;
        return true;
    });
    TimerResolution::acquire(0);
    EXPECT_EQ(TimerResolution::period(), 0u);
    EXPECT_EQ(selectedSystemClock(), SystemClock::TickCount);
    TimerResolution::release();
    TimerResolution::setCapabilityQuery([](TimerResolution::Capabilities&) { return false; });
    TimerResolution::acquire(0);
    EXPECT_EQ(TimerResolution::period(), 0u);
    TimerResolution::release();
    TimerResolution::setCapabilityQuery(nullptr);
}

TEST(TimeSource, ClocksAgreeAndTestOverrideWins) {
    // Both system clocks count from the same origin; the tick count lags by at most a
    // few kernel ticks.
    uint32_t tick = tickCountMs();
    uint32_t mm = multimediaTimeMs();
    EXPECT_LE(static_cast<int32_t>(tick - mm), 0);
    EXPECT_LT(mm - tick, 100u);

    setTimeFunction(&fakeNow);
    g_now = 0xFFFFFFFEu;
    EXPECT_EQ(currentTimeMs(), 0xFFFFFFFEu);
    setTimeFunction(nullptr);
    int32_t drift = static_cast<int32_t>(tickCountMs() - currentTimeMs());
    EXPECT_LT(std::abs(drift), 100) << "back on the system clock";
}

}  // namespace
