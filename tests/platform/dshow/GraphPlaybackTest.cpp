// Playback through the graph on a clock the test moves by hand: pause prerolls and shows
// the first frame, run presents each frame exactly at its time, EC_COMPLETE follows the
// last frame of every renderer (posted to the notify window), a seek while running
// flushes and restarts with a new segment, and stop then run continues where it stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "ManualClock.h"
#include "SyntheticFilters.h"
#include "framework/WindowApi.h"
#include "framework/dshow/CBaseVideoRenderer.h"
#include "platform/dshow/FilterGraph.h"

using namespace synthetic;

namespace {

constexpr CLSID kRendererClass = guidOf("{6A3E3001-1F0C-4E0B-9E51-3C7D2A8B9F01}");
// Longer than the renderer's end-of-stream slack, so completion visibly waits for the
// last frame's end.
constexpr REFERENCE_TIME kPeriod = 100 * MILLISECONDS;

struct Drawn {
    int32_t frame;
    REFERENCE_TIME sampleStart;
    REFERENCE_TIME clockTime;
    FILTER_STATE state;
};

class RecordingRenderer : public CBaseVideoRenderer {
public:
    explicit RecordingRenderer(ManualClock* clock)
        : CBaseVideoRenderer(kRendererClass, u"Recording Renderer", nullptr), clock_(clock) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Video && mt->subtype == kSubtypeA ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample* s) override {
        REFERENCE_TIME start = 0, stop = 0;
        s->GetTime(&start, &stop);
        std::lock_guard<std::mutex> g(mutex_);
        // The picture shown on arrival while pausing counts as paused even when the graph
        // has moved on to running meanwhile; it is not the timed presentation.
        drawn_.push_back({frameNumberOf(s), start, clock_->now(), prerolling_ ? State_Paused : state()});
        cv_.notify_all();
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample* s) override {
        prerolling_ = true;
        CBaseVideoRenderer::OnReceiveFirstSample(s);
        prerolling_ = false;
    }
    std::vector<Drawn> drawn() {
        std::lock_guard<std::mutex> g(mutex_);
        return drawn_;
    }
    // Waits (in real time, generously) until `count` draws happened.
    bool waitForDraws(size_t count) {
        std::unique_lock<std::mutex> l(mutex_);
        return cv_.wait_for(l, std::chrono::seconds(10), [&] { return drawn_.size() >= count; });
    }
    std::string describe() {
        std::string out = "held " + std::to_string(HaveCurrentSample()) + " streaming " +
                          std::to_string(IsStreaming()) + " eos " + std::to_string(IsEndOfStream()) + " draws:";
        for (const Drawn& d : drawn())
            out += " " + std::to_string(d.frame) + "@" + std::to_string(d.clockTime) + "/" + std::to_string(d.state);
        return out;
    }
    // Waits until `count` draws happened while running.
    bool waitForRunningDraws(size_t count) {
        std::unique_lock<std::mutex> l(mutex_);
        return cv_.wait_for(l, std::chrono::seconds(10), [&] {
            return static_cast<size_t>(std::count_if(drawn_.begin(), drawn_.end(),
                                                     [](const Drawn& d) { return d.state == State_Running; })) >= count;
        });
    }
    void clearDrawn() {
        std::lock_guard<std::mutex> g(mutex_);
        drawn_.clear();
    }

private:
    ManualClock* clock_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Drawn> drawn_;
    bool prerolling_ = false;  // only touched on the delivering thread
};

// Messages the graph posts, as a window system would queue them.
struct Posted {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::mutex g_postMutex;
std::vector<Posted> g_posted;

BOOL recordPost(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> g(g_postMutex);
    g_posted.push_back({window, message, wParam, lParam});
    return TRUE;
}

std::vector<Posted> posted() {
    std::lock_guard<std::mutex> g(g_postMutex);
    return g_posted;
}

class GraphPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        WindowApi api;
        api.PostMessage = &recordPost;
        installWindowApi(api);
        {
            std::lock_guard<std::mutex> g(g_postMutex);
            g_posted.clear();
        }
        graph = InterfacePtr<IGraphBuilder>(new FilterGraph());
        clock = InterfacePtr<ManualClock>(new ManualClock());
        control = graph.as<IMediaControl>();
        events = graph.as<IMediaEventEx>();
        seeking = graph.as<IMediaSeeking>();
        ASSERT_EQ(graph.as<IMediaFilter>()->SetSyncSource(clock.get()), S_OK);
    }
    void TearDown() override {
        if (control) control->Stop();
        uninstallWindowApi();
    }

    // Adds a source of `frames` frames and a renderer, connected.
    std::pair<FrameSource*, RecordingRenderer*> addChain(int frames, const char16_t* name) {
        auto* source = new FrameSource(MEDIATYPE_Video, kSubtypeA, frames, kPeriod);
        auto* renderer = new RecordingRenderer(clock.get());
        keep.emplace_back(source);
        keep.emplace_back(renderer);
        EXPECT_EQ(graph->AddFilter(source, (std::u16string(name) + u" Source").c_str()), S_OK);
        EXPECT_EQ(graph->AddFilter(renderer, (std::u16string(name) + u" Renderer").c_str()), S_OK);
        EXPECT_EQ(graph->Render(source->GetPin(0)), S_OK);
        return {source, renderer};
    }

    void pauseAndSettle() {
        ASSERT_TRUE(SUCCEEDED(control->Pause()));
        OAFilterState s = -1;
        ASSERT_EQ(control->GetState(10000, &s), S_OK) << "pause completes once the renderer holds a frame";
        ASSERT_EQ(s, State_Paused);
    }

    // Frames drawn while running, in order.
    static std::vector<Drawn> running(const std::vector<Drawn>& all) {
        std::vector<Drawn> out;
        for (const Drawn& d : all)
            if (d.state == State_Running) out.push_back(d);
        return out;
    }

    bool noEventWithin(LONG ms) {
        LONG code;
        LONG_PTR a, b;
        return events->GetEvent(&code, &a, &b, ms) == E_ABORT;
    }

    InterfacePtr<IGraphBuilder> graph;
    InterfacePtr<ManualClock> clock;
    InterfacePtr<IMediaControl> control;
    InterfacePtr<IMediaEventEx> events;
    InterfacePtr<IMediaSeeking> seeking;
    std::vector<InterfacePtr<IBaseFilter>> keep;
};

TEST_F(GraphPlaybackTest, PauseShowsTheFirstFrameAndWaitsForTheClock) {
    auto [source, renderer] = addChain(10, u"Main");
    OAFilterState s = -1;
    EXPECT_EQ(control->GetState(0, &s), S_OK);
    EXPECT_EQ(s, State_Stopped);
    pauseAndSettle();
    ASSERT_TRUE(renderer->waitForDraws(1));
    std::vector<Drawn> d = renderer->drawn();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].frame, 0);
    EXPECT_EQ(d[0].state, State_Paused);
    // Paused, the time does not run: nothing more is drawn however long we wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(renderer->drawn().size(), 1u);
    LONGLONG position = -1;
    EXPECT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 0);
}

// A source that has nothing to deliver yet.
class StalledSource : public FrameSource {
public:
    StalledSource() : FrameSource(MEDIATYPE_Video, kSubtypeA, 1, kPeriod) {}
    HRESULT Pause() override { return CBaseFilter::Pause(); }
};

TEST_F(GraphPlaybackTest, PauseStaysIntermediateUntilTheRendererHasAFrame) {
    auto* source = new StalledSource();
    auto* renderer = new RecordingRenderer(clock.get());
    keep.emplace_back(source);
    keep.emplace_back(renderer);
    graph->AddFilter(source, u"Stalled");
    graph->AddFilter(renderer, u"Renderer");
    ASSERT_EQ(graph->Render(source->GetPin(0)), S_OK);
    EXPECT_EQ(control->Pause(), S_FALSE) << "the pause is not complete yet";
    OAFilterState s = -1;
    EXPECT_EQ(control->GetState(0, &s), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(s, State_Paused);
    EXPECT_EQ(control->GetState(20, &s), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->GetState(0, &s), S_OK);
    EXPECT_EQ(s, State_Stopped);
}

TEST_F(GraphPlaybackTest, RunPresentsFramesAtTheirTimesThenCompletesOnce) {
    auto [source, renderer] = addChain(5, u"Main");
    ASSERT_EQ(events->SetNotifyWindow(static_cast<OAHWND>(0x77), 0x1401, 0x1234), S_OK);
    pauseAndSettle();
    REFERENCE_TIME before = clock->now();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    REFERENCE_TIME start = renderer->startTime();
    EXPECT_EQ(start, before + FilterGraph::kRunOffset) << "stream time 0 lies a little after the run call";

    for (int n = 0; n < 5; ++n) {
        REFERENCE_TIME due = start + n * kPeriod;
        clock->set(due - 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(running(renderer->drawn()).size(), static_cast<size_t>(n)) << "frame " << n << " came early";
        clock->set(due);
        ASSERT_TRUE(renderer->waitForRunningDraws(static_cast<size_t>(n) + 1));
        Drawn d = running(renderer->drawn()).back();
        EXPECT_EQ(d.frame, n);
        EXPECT_EQ(d.sampleStart, n * kPeriod);
        EXPECT_EQ(d.clockTime, due);
        LONGLONG position = -1;
        ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
        EXPECT_EQ(position, n * kPeriod);
    }
    // The last frame still shows until its end time; only then the stream is complete.
    EXPECT_TRUE(noEventWithin(20));
    EXPECT_TRUE(posted().empty());
    clock->set(start + 5 * kPeriod);
    LONG code = 0;
    LONG_PTR p1 = -1, p2 = -1;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(p1, S_OK);
    EXPECT_EQ(events->FreeEventParams(code, p1, p2), S_OK);
    EXPECT_TRUE(noEventWithin(20)) << "one EC_COMPLETE only";
    std::vector<Posted> p = posted();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].window, reinterpret_cast<HWND>(0x77));
    EXPECT_EQ(p[0].message, 0x1401u);
    EXPECT_EQ(p[0].wParam, 0u);
    EXPECT_EQ(p[0].lParam, 0x1234);
    LONGLONG position = -1, duration = -1;
    clock->advance(UNITS);
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 5 * kPeriod);
    EXPECT_EQ(position, duration) << "the position stops at the end";
}

TEST_F(GraphPlaybackTest, CompletionWaitsForEveryRenderer) {
    auto [shortSource, shortRenderer] = addChain(2, u"Short");
    auto [longSource, longRenderer] = addChain(4, u"Long");
    pauseAndSettle();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    REFERENCE_TIME start = shortRenderer->startTime();
    clock->set(start + 3 * kPeriod);
    ASSERT_TRUE(shortRenderer->waitForRunningDraws(2));
    ASSERT_TRUE(longRenderer->waitForRunningDraws(4));
    EXPECT_TRUE(noEventWithin(30)) << "the long stream is still playing";
    clock->set(start + 4 * kPeriod);
    LONG code = 0;
    LONG_PTR p1, p2;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 10000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_TRUE(noEventWithin(20));
    LONG completion = 0;
    EXPECT_EQ(events->WaitForCompletion(0, &completion), S_OK);
    EXPECT_EQ(completion, EC_COMPLETE);
}

TEST_F(GraphPlaybackTest, SeekWhileRunningFlushesAndRestartsWithANewSegment) {
    auto [source, renderer] = addChain(20, u"Main");
    pauseAndSettle();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    REFERENCE_TIME start = renderer->startTime();
    clock->set(start + 2 * kPeriod);
    ASSERT_TRUE(renderer->waitForRunningDraws(3));  // 0, 1, 2
    int segmentsBefore = source->newSegments();
    renderer->clearDrawn();

    LONGLONG target = 12 * kPeriod;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    EXPECT_EQ(source->seekCount(), 1) << "the seek reached the source once";
    OAFilterState s = -1;
    EXPECT_TRUE(SUCCEEDED(control->GetState(10000, &s)));
    EXPECT_EQ(s, State_Running);
    REFERENCE_TIME restart = renderer->startTime();
    EXPECT_EQ(restart, clock->now() + FilterGraph::kRunOffset);
    LONGLONG position = -1;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, target);

    clock->set(restart);
    // Frame 12 may first be shown while the graph is paused for the seek.
    ASSERT_TRUE(renderer->waitForRunningDraws(1)) << renderer->describe();
    clock->set(restart + kPeriod);
    ASSERT_TRUE(renderer->waitForRunningDraws(2)) << renderer->describe();
    EXPECT_EQ(source->newSegments(), segmentsBefore + 1);
    std::vector<Drawn> d = running(renderer->drawn());
    ASSERT_GE(d.size(), 2u);
    EXPECT_EQ(d[0].frame, 12) << "nothing from before the seek is drawn after it";
    EXPECT_EQ(d[0].sampleStart, 0) << "the new segment starts at stream time 0";
    EXPECT_EQ(d[0].clockTime, restart);
    EXPECT_EQ(d[1].frame, 13);
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, target + kPeriod);

    // Relative seeks are resolved once by the graph, not once per renderer.
    LONGLONG back = -5 * kPeriod;
    ASSERT_EQ(seeking->SetPositions(&back, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime, nullptr,
                                    AM_SEEKING_NoPositioning),
              S_OK);
    EXPECT_EQ(back, 8 * kPeriod);
}

TEST_F(GraphPlaybackTest, PauseHoldsTheStreamTimeAndRunResumesIt) {
    auto [source, renderer] = addChain(20, u"Main");
    pauseAndSettle();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    REFERENCE_TIME start = renderer->startTime();
    clock->set(start + 2 * kPeriod + kPeriod / 2);
    ASSERT_TRUE(renderer->waitForRunningDraws(3));  // 0, 1, 2
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    LONGLONG position = -1;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 2 * kPeriod + kPeriod / 2);
    clock->advance(10 * UNITS);
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 2 * kPeriod + kPeriod / 2) << "paused, the position holds";
    size_t drawnBefore = running(renderer->drawn()).size();

    REFERENCE_TIME resumedAt = clock->now();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    REFERENCE_TIME restart = renderer->startTime();
    EXPECT_EQ(restart, resumedAt + FilterGraph::kRunOffset - (2 * kPeriod + kPeriod / 2));
    clock->set(restart + 3 * kPeriod);
    // Frame 3 may also have been shown while paused; wait for its drawing while running.
    ASSERT_TRUE(renderer->waitForRunningDraws(drawnBefore + 1)) << renderer->describe();
    std::vector<Drawn> d = running(renderer->drawn());
    EXPECT_EQ(d.back().frame, 3) << "the stream continues with the next frame";
    EXPECT_EQ(d.back().clockTime, restart + 3 * kPeriod);
}

TEST_F(GraphPlaybackTest, StopThenRunContinuesWhereItStopped) {
    auto [source, renderer] = addChain(20, u"Main");
    pauseAndSettle();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    REFERENCE_TIME start = renderer->startTime();
    clock->set(start + 3 * kPeriod);
    ASSERT_TRUE(renderer->waitForRunningDraws(4));
    ASSERT_EQ(control->Stop(), S_OK);
    LONGLONG position = -1;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 3 * kPeriod);
    renderer->clearDrawn();
    pauseAndSettle();
    std::vector<Drawn> d = renderer->drawn();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].frame, 3);
    EXPECT_EQ(d[0].sampleStart, 0);
}

TEST_F(GraphPlaybackTest, SeekingAndRateReachTheSourceThroughTheRenderer) {
    auto [source, renderer] = addChain(10, u"Main");
    DWORD caps = 0;
    ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
    EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);
    EXPECT_TRUE(caps & AM_SEEKING_CanGetCurrentPos);
    GUID format = GUID_NULL;
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG);
    EXPECT_EQ(seeking->GetTimeFormat(&format), S_OK);
    EXPECT_EQ(format, TIME_FORMAT_MEDIA_TIME);
    EXPECT_EQ(seeking->SetRate(2.0), S_OK);
    EXPECT_EQ(source->rate(), 2.0);
    EXPECT_EQ(seeking->SetRate(-1.0), E_INVALIDARG) << "the source's refusal passes through";
    double rate = 0;
    EXPECT_EQ(seeking->GetRate(&rate), S_OK);
    EXPECT_EQ(rate, 2.0);

    LONGLONG current = 0, stop = 0;
    EXPECT_EQ(seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
    LONGLONG far = 99 * UNITS;
    ASSERT_EQ(seeking->SetPositions(&far, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(seeking->GetPositions(&current, &stop), S_OK);
    EXPECT_EQ(current, 10 * kPeriod) << "positions are clamped by the source";
    EXPECT_EQ(stop, 10 * kPeriod);
}

}  // namespace
