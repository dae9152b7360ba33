// The system clock and the advise scheduler behind every clock: monotonic time, one-shot
// advises that fire at their time (and only then), periodic advises, unadvise, refusals.
#include <gtest/gtest.h>

#include "ManualClock.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/DshowErrors.h"
#include "platform/dshow/SystemClock.h"

namespace {

TEST(SystemClockTest, TimeIsMonotonicAndAdvisesFire) {
    InterfacePtr<IReferenceClock> clock(new SystemClock());
    REFERENCE_TIME a = 0, b = 0;
    ASSERT_EQ(clock->GetTime(&a), S_OK);
    ASSERT_EQ(clock->GetTime(&b), S_OK);
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);

    Event soon, late;
    DWORD_PTR c1 = 0, c2 = 0;
    ASSERT_EQ(clock->AdviseTime(b, 2 * MILLISECONDS, &soon, &c1), S_OK);
    ASSERT_EQ(clock->AdviseTime(b, 3600 * UNITS, &late, &c2), S_OK);
    EXPECT_NE(c1, c2);
    ASSERT_TRUE(soon.wait(10000));
    REFERENCE_TIME fired = 0;
    clock->GetTime(&fired);
    EXPECT_GE(fired, b + 2 * MILLISECONDS) << "never early";
    EXPECT_FALSE(late.isSet());
    EXPECT_EQ(clock->Unadvise(c2), S_OK);
    EXPECT_EQ(clock->Unadvise(c2), S_FALSE);
    EXPECT_EQ(clock->Unadvise(c1), S_FALSE) << "a fired advise is gone";

    Semaphore ticks(0, 100);
    DWORD_PTR c3 = 0;
    ASSERT_EQ(clock->AdvisePeriodic(b, MILLISECONDS, &ticks, &c3), S_OK);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ticks.wait(10000));
    EXPECT_EQ(clock->Unadvise(c3), S_OK);

    DWORD_PTR c = 0;
    EXPECT_EQ(clock->AdviseTime(0, 0, &soon, &c), E_INVALIDARG);
    EXPECT_EQ(clock->AdviseTime(MAX_TIME, MAX_TIME, &soon, &c), E_INVALIDARG) << "no overflow";
    EXPECT_EQ(clock->AdviseTime(b, 1, nullptr, &c), E_INVALIDARG);
    EXPECT_EQ(clock->AdviseTime(b, 1, &soon, nullptr), E_POINTER);
    EXPECT_EQ(clock->AdvisePeriodic(b, 0, &ticks, &c), E_INVALIDARG);
}

TEST(SystemClockTest, ManualTimeFiresExactlyWhenReached) {
    InterfacePtr<ManualClock> clock(new ManualClock(1000));
    Event e;
    Semaphore ticks(0, 10);
    DWORD_PTR one = 0, periodic = 0;
    ASSERT_EQ(clock->AdviseTime(1000, 500, &e, &one), S_OK);
    ASSERT_EQ(clock->AdvisePeriodic(1200, 100, &ticks, &periodic), S_OK);
    clock->set(1499);
    // Ticks at 1200, 1300, 1400 are due; the one-shot at 1500 is not.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ticks.wait(10000));
    EXPECT_FALSE(e.isSet());
    clock->set(1500);
    ASSERT_TRUE(e.wait(10000));
    ASSERT_TRUE(ticks.wait(10000));
    EXPECT_EQ(clock->Unadvise(periodic), S_OK);
    EXPECT_EQ(clock->pendingAdvises(), 0u);
    // An advise already in the past fires at once.
    Event past;
    ASSERT_EQ(clock->AdviseTime(0, 10, &past, &one), S_OK);
    EXPECT_TRUE(past.wait(10000));
}

}  // namespace
