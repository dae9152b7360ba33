#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/CriticalSection.h"
#include "framework/Event.h"

namespace {

TEST(CriticalSection, RecursiveWithAdvisoryOwner) {
    CriticalSection cs;
    EXPECT_FALSE(cs.unlock()) << "unlock of an unlocked section";
    cs.lock();
    cs.lock();
    EXPECT_TRUE(cs.isOwnedByCurrentThread());
    EXPECT_EQ(cs.recursionCount(), 2u);
    std::atomic<int> otherResult{-1};
    std::thread other([&] {
        otherResult = cs.lockUnlessOwnedByOther() ? 1 : 0;
        EXPECT_FALSE(cs.unlock()) << "a thread that does not hold it cannot leave it";
    });
    other.join();
    EXPECT_EQ(otherResult, 0);
    EXPECT_TRUE(cs.unlock());
    EXPECT_TRUE(cs.unlock());
    EXPECT_FALSE(cs.unlock());
    EXPECT_FALSE(cs.isOwnedByCurrentThread());
    EXPECT_TRUE(cs.lockUnlessOwnedByOther());
    EXPECT_TRUE(cs.unlock());
}

TEST(CriticalSection, ExcludesOtherThreads) {
    CriticalSection cs;
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                ScopedLock lock(cs);
                ++counter;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
}

TEST(Event, ManualStaysSetAutoIsConsumed) {
    Event manual(Event::Reset::Manual);
    EXPECT_FALSE(manual.wait(0));
    EXPECT_FALSE(manual.isSet());
    manual.set();
    EXPECT_TRUE(manual.isSet());
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.wait(0));

    Event automatic(Event::Reset::Auto);
    automatic.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(0));
    EXPECT_FALSE(automatic.isSet());
}

TEST(Event, WaitAnyReturnsTheSignalledOneAcrossThreads) {
    Event stop(Event::Reset::Manual), wake(Event::Reset::Auto);
    EXPECT_EQ(Event::waitAny({&stop, &wake}, 0), -1);
    std::thread setter([&] { wake.set(); });
    EXPECT_EQ(Event::waitAny({&stop, &wake}, INFINITE), 1);
    setter.join();
    EXPECT_FALSE(wake.isSet()) << "an auto-reset event is consumed by the wait";
    stop.set();
    EXPECT_EQ(Event::waitAny({&stop, &wake}, 10), 0);
    EXPECT_EQ(Event::waitAny({&stop, &wake}, 10), 0);
}

TEST(Semaphore, CountsUpToItsMaximum) {
    Semaphore s(0, 2);
    EXPECT_FALSE(s.wait(0));
    EXPECT_TRUE(s.release(2));
    EXPECT_FALSE(s.release()) << "beyond the maximum";
    EXPECT_EQ(s.count(), 2);
    EXPECT_TRUE(s.wait(0));
    EXPECT_TRUE(s.wait(INFINITE));
    EXPECT_FALSE(s.wait(1));
    std::thread t([&] { s.release(); });
    EXPECT_TRUE(s.wait(INFINITE));
    t.join();
}

}  // namespace
