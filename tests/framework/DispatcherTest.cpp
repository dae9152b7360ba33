#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "FakeWindowApi.h"
#include "framework/MessageDispatcher.h"

namespace {

// Records what it is told and answers a fixed result (or runs a hook).
struct Recorder : MessageHandler {
    explicit Recorder(LRESULT answer = 1) : answer(answer) {}
    void attached(MessageDispatcher* d) override { attachedTo.push_back(d); }
    void detached(MessageDispatcher* d) override { detachedFrom.push_back(d); }
    LRESULT handleMessage(HWND, UINT message, WPARAM, LPARAM) override {
        seen.push_back(message);
        if (hook) hook();
        return answer;
    }
    LRESULT answer;
    std::function<void()> hook;
    std::vector<UINT> seen;
    std::vector<MessageDispatcher*> attachedTo, detachedFrom;
};

HWND fakeWindow(uintptr_t n) {
    return reinterpret_cast<HWND>(n);
}

LPARAM createParam(CREATESTRUCTW& cs, MessageDispatcher* d) {
    cs = {};
    cs.lpCreateParams = d;
    return reinterpret_cast<LPARAM>(&cs);
}

TEST(MessageDispatcher, ConsumingHandlerHidesMessageFromLaterOnes) {
    MessageDispatcher d;
    EXPECT_NE(d.dispatch(nullptr, WM_USER, 0, 0), 0) << "no handler: not consumed";

    Recorder first(7), consumer(0), last(1);
    d.addHandler(&first);
    d.addHandler(&consumer);
    d.addHandler(&last);
    EXPECT_EQ(d.dispatch(nullptr, WM_COMMAND, 0, 0), 0);
    EXPECT_EQ(first.seen, std::vector<UINT>{WM_COMMAND});
    EXPECT_EQ(consumer.seen, std::vector<UINT>{WM_COMMAND});
    EXPECT_TRUE(last.seen.empty());

    d.removeHandler(&consumer);
    EXPECT_EQ(d.dispatch(nullptr, WM_TIMER, 0, 0), 1) << "the last handler's answer";
    EXPECT_EQ(last.seen, std::vector<UINT>{WM_TIMER});
}

TEST(MessageDispatcher, AttachRemoveAndClear) {
    MessageDispatcher d;
    Recorder a, b;
    d.addHandler(&a);
    d.addHandler(&b);
    d.addHandler(&a);
    d.addHandler(nullptr);
    EXPECT_EQ(a.attachedTo, (std::vector<MessageDispatcher*>{&d, &d}));
    EXPECT_EQ(d.handlerCount(), 3u);

    d.removeHandler(&a);  // every entry equal to a
    EXPECT_EQ(d.handlerCount(), 1u);
    EXPECT_TRUE(a.detachedFrom.empty()) << "removal does not tell the handler";
    d.dispatch(nullptr, WM_PAINT, 0, 0);
    EXPECT_TRUE(a.seen.empty());

    d.clear();
    EXPECT_EQ(b.detachedFrom, std::vector<MessageDispatcher*>{&d});
    EXPECT_EQ(d.handlerCount(), 0u);
}

TEST(MessageDispatcher, HandlersMayChangeTheListWhileDispatching) {
    MessageDispatcher d;
    Recorder self, removed, after;
    self.hook = [&] {
        d.removeHandler(&self);
        d.removeHandler(&removed);
    };
    d.addHandler(&self);
    d.addHandler(&removed);
    d.addHandler(&after);
    d.dispatch(nullptr, WM_SIZE, 0, 0);
    EXPECT_EQ(self.seen.size(), 1u);
    EXPECT_TRUE(removed.seen.empty()) << "a handler removed during dispatch is not called";
    EXPECT_EQ(after.seen.size(), 1u) << "removing the current handler skips nobody";
    EXPECT_EQ(d.handlerCount(), 1u);
}

// Either side may go first: a destroyed handler leaves every dispatcher, and a destroyed
// dispatcher leaves nothing behind in its handlers.
TEST(MessageDispatcher, HandlersAndDispatchersMayDieInAnyOrder) {
    MessageDispatcher d, other;
    auto* early = new Recorder;
    Recorder late;
    d.addHandler(early);
    d.addHandler(&late);
    d.addHandler(early);
    other.addHandler(early);
    delete early;
    EXPECT_EQ(d.handlerCount(), 1u);
    EXPECT_EQ(other.handlerCount(), 0u);
    d.dispatch(nullptr, WM_PAINT, 0, 0);
    EXPECT_EQ(late.seen.size(), 1u);

    auto* shortLived = new MessageDispatcher;
    Recorder survivor;
    shortLived->addHandler(&survivor);
    delete shortLived;  // survivor must not try to leave it again when it goes
    EXPECT_EQ(survivor.detachedFrom.size(), 1u);

    // A handler that deletes itself when told it is detached.
    struct SelfDeleting : Recorder {
        void detached(MessageDispatcher*) override { delete this; }
    };
    d.addHandler(new SelfDeleting);
    d.clear();
    EXPECT_EQ(d.handlerCount(), 0u);
}

TEST(MessageDispatcher, DestructionTellsHandlersAndIsForgottenByTheProcedure) {
    FakeWindowSystem ws;
    Recorder h;
    {
        MessageDispatcher d;
        d.addHandler(&h);
        CREATESTRUCTW cs;
        MessageDispatcher::windowProcedure(fakeWindow(1), WM_CREATE, 0, createParam(cs, &d));
        EXPECT_EQ(MessageDispatcher::knownDispatcher(), &d);
    }
    EXPECT_EQ(h.detachedFrom.size(), 1u);
    EXPECT_EQ(MessageDispatcher::knownDispatcher(), nullptr);
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_PAINT, 0, 0), FakeWindowSystem::kDefaultResult);
    EXPECT_TRUE(h.seen.empty());
}

TEST(WindowProcedure, CreateDispatchAndDestroyRules) {
    FakeWindowSystem ws;
    MessageDispatcher d;
    Recorder passer(1), consumer(0);
    d.addHandler(&passer);

    // Before the first WM_CREATE nobody is known: the default procedure answers.
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_SIZE, 0, 0), FakeWindowSystem::kDefaultResult);
    EXPECT_TRUE(passer.seen.empty());

    // The first WM_CREATE only makes the dispatcher known.
    CREATESTRUCTW cs;
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_CREATE, 0, createParam(cs, &d)),
              FakeWindowSystem::kDefaultResult);
    EXPECT_TRUE(passer.seen.empty());

    // Not consumed: the default procedure runs and its result is returned.
    ws.defaultMessages.clear();
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_PAINT, 0, 0), FakeWindowSystem::kDefaultResult);
    EXPECT_EQ(ws.defaultMessages, std::vector<UINT>{WM_PAINT});

    // Consumed: 0 and no default processing.
    d.addHandler(&consumer);
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_COMMAND, 0, 0), 0);
    EXPECT_EQ(ws.defaultMessages, std::vector<UINT>{WM_PAINT});

    // A later WM_CREATE (another window of the class) is an ordinary message and does not
    // replace the known dispatcher.
    MessageDispatcher other;
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(2), WM_CREATE, 0, createParam(cs, &other)), 0);
    EXPECT_EQ(MessageDispatcher::knownDispatcher(), &d);
    EXPECT_EQ(passer.seen, (std::vector<UINT>{WM_PAINT, WM_COMMAND, WM_CREATE}));

    // WM_DESTROY of any window ends the loop with code 0, unseen by the handlers.
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(2), WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(ws.quitCodes, (std::vector<int>{0, 0}));
    EXPECT_EQ(passer.seen.back(), WM_CREATE);
}

TEST(WindowProcedure, WithoutWindowSystemFailsQuietly) {
    uninstallWindowApi();
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_DESTROY, 0, 0), 0);
    EXPECT_EQ(MessageDispatcher::windowProcedure(fakeWindow(1), WM_CREATE, 0, 0), 0) << "no creation data";
    EXPECT_EQ(MessageDispatcher::knownDispatcher(), nullptr);
    EXPECT_FALSE(PostMessageW(fakeWindow(1), WM_USER, 0, 0));
}

// Handlers come and go on one thread while others dispatch: the list stays consistent.
TEST(MessageDispatcher, ConcurrentDispatchAndChanges) {
    MessageDispatcher d;
    struct Counter : MessageHandler {
        LRESULT handleMessage(HWND, UINT, WPARAM, LPARAM) override {
            calls.fetch_add(1, std::memory_order_relaxed);
            return 1;
        }
        std::atomic<int> calls{0};
    } steady, transient;
    d.addHandler(&steady);
    std::atomic<bool> done{false};
    std::vector<std::thread> dispatchers;
    for (int t = 0; t < 3; ++t)
        dispatchers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) d.dispatch(nullptr, WM_USER, 0, 0);
        });
    std::thread changer([&] {
        while (!done.load()) {
            d.addHandler(&transient);
            d.removeHandler(&transient);
        }
    });
    for (auto& t : dispatchers) t.join();
    done = true;
    changer.join();
    EXPECT_EQ(steady.calls.load(), 6000);
    EXPECT_EQ(d.handlerCount(), 1u);
}

}  // namespace
