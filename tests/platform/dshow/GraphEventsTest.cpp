// The graph's event queue as filters and the application use it: events reported through
// IMediaEventSink, read with a timeout, the event handle, notification switched off, the
// notify window announcing events already waiting, and renderer-less EC_COMPLETE.
#include <gtest/gtest.h>

#include <thread>

#include "framework/WindowApi.h"
#include "framework/dshow/Dshow.h"
#include "platform/dshow/FilterGraph.h"

namespace {

std::mutex g_mutex;
std::vector<std::pair<UINT, LPARAM>> g_posts;

BOOL record(HWND, UINT message, WPARAM, LPARAM lParam) {
    std::lock_guard<std::mutex> g(g_mutex);
    g_posts.emplace_back(message, lParam);
    return TRUE;
}

size_t postCount() {
    std::lock_guard<std::mutex> g(g_mutex);
    return g_posts.size();
}

class GraphEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        WindowApi api;
        api.PostMessage = &record;
        installWindowApi(api);
        std::lock_guard<std::mutex> g(g_mutex);
        g_posts.clear();
    }
    void TearDown() override { uninstallWindowApi(); }

    InterfacePtr<IGraphBuilder> graph{new FilterGraph()};
    InterfacePtr<IMediaEventEx> events = graph.as<IMediaEventEx>();
    InterfacePtr<IMediaEventSink> sink = graph.as<IMediaEventSink>();
};

TEST_F(GraphEventsTest, EventsQueueInOrderAndSignalTheHandle) {
    OAEVENT handle = 0;
    ASSERT_EQ(events->GetEventHandle(&handle), S_OK);
    auto* signal = reinterpret_cast<Event*>(handle);
    EXPECT_FALSE(signal->isSet());
    LONG code = -1;
    LONG_PTR p1 = -1, p2 = -1;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(code, 0);

    EXPECT_EQ(sink->Notify(EC_USER + 1, 11, 12), S_OK);
    EXPECT_EQ(sink->Notify(EC_ERRORABORT, E_FAIL, 0), S_OK);
    EXPECT_EQ(sink->Notify(EC_REPAINT, 0, 0), S_OK);  // the graph's own business
    EXPECT_TRUE(signal->isSet());
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_USER + 1);
    EXPECT_EQ(p1, 11);
    EXPECT_EQ(p2, 12);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_EQ(p1, E_FAIL);
    EXPECT_FALSE(signal->isSet()) << "the handle clears with the last event";
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(events->GetEvent(nullptr, &p1, &p2, 0), E_POINTER);

    // A reader waiting with a timeout gets an event reported from another thread.
    std::thread reporter([&] { sink->Notify(EC_USER + 2, 0, 0); });
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_USER + 2);
    reporter.join();
}

TEST_F(GraphEventsTest, NotifyWindowGetsOneMessagePerEvent) {
    sink->Notify(EC_USER, 0, 0);  // waiting before the window is known
    ASSERT_EQ(events->SetNotifyWindow(static_cast<OAHWND>(0x10), 0x1401, 77), S_OK);
    EXPECT_EQ(postCount(), 1u) << "an event already waiting is announced at once";
    sink->Notify(EC_USER, 0, 0);
    EXPECT_EQ(postCount(), 2u);
    {
        std::lock_guard<std::mutex> g(g_mutex);
        for (auto& [message, lParam] : g_posts) {
            EXPECT_EQ(message, 0x1401u);
            EXPECT_EQ(lParam, 77);
        }
    }
    ASSERT_EQ(events->SetNotifyWindow(0, 0, 0), S_OK);
    sink->Notify(EC_USER, 0, 0);
    EXPECT_EQ(postCount(), 2u) << "no window, no message";

    ASSERT_EQ(events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
    LONG flags = 0;
    EXPECT_EQ(events->GetNotifyFlags(&flags), S_OK);
    EXPECT_EQ(flags, AM_MEDIAEVENT_NONOTIFY);
    LONG code;
    LONG_PTR p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT) << "switching notification off empties the queue";
    sink->Notify(EC_USER, 0, 0);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(events->SetNotifyFlags(2), E_INVALIDARG);
    ASSERT_EQ(events->SetNotifyFlags(0), S_OK);
    sink->Notify(EC_USER, 0, 0);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
}

TEST_F(GraphEventsTest, CompletionWithoutRenderersAndWithDefaultHandlingOff) {
    // No renderer is counted in an empty graph: a completion passes straight on.
    sink->Notify(EC_COMPLETE, S_OK, 0);
    LONG code;
    LONG_PTR p1, p2;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    sink->Notify(EC_COMPLETE, S_OK, 0);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT) << "reported once until the next start";

    EXPECT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);
    sink->Notify(EC_COMPLETE, S_OK, 5);
    sink->Notify(EC_COMPLETE, S_OK, 6);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(p2, 5);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(p2, 6);
    EXPECT_EQ(events->RestoreDefaultHandling(EC_COMPLETE), S_OK);
    LONG completion = 0;
    EXPECT_EQ(events->WaitForCompletion(0, &completion), VFW_E_WRONG_STATE) << "the graph is not running";
}

}  // namespace
