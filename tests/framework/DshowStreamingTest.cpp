// Samples flowing source -> transform -> video renderer against a hand-driven reference
// clock: pause shows the first picture, run presents each picture at its time, end of
// stream, flushing, new segments, stopping and seeking pass-through.
#include <gtest/gtest.h>

#include <thread>

#include "DshowTestFilters.h"

using namespace dshowtest;

namespace {

constexpr REFERENCE_TIME kMs = MILLISECONDS;

struct Streaming : ::testing::Test {
    InterfacePtr<ManualClock> clock{new ManualClock};
    InterfacePtr<GraphStub> graph{new GraphStub};
    InterfacePtr<TestSource> source{new TestSource};
    InterfacePtr<InvertTransform> transform{new InvertTransform};
    InterfacePtr<RecordingRenderer> renderer{new RecordingRenderer(clock.get())};
    std::thread feeder;

    void SetUp() override {
        ASSERT_EQ(source->GetPin(0)->Connect(transform->GetPin(0), nullptr), S_OK);
        ASSERT_EQ(transform->GetPin(1)->Connect(renderer->GetPin(0), nullptr), S_OK);
        for (CBaseFilter* f : filters()) {
            graph->AddFilter(f, f->name().c_str());
            f->SetSyncSource(clock.get());
        }
    }
    void TearDown() override {
        stopAll();
        if (feeder.joinable()) feeder.join();
        for (CBaseFilter* f : filters()) {
            for (int i = 0; i < f->GetPinCount(); ++i) f->GetPin(i)->DisconnectInternal();
            f->SetSyncSource(nullptr);
            graph->RemoveFilter(f);
        }
    }
    // Downstream first, as a graph does it.
    std::vector<CBaseFilter*> filters() { return {renderer.get(), transform.get(), source.get()}; }
    HRESULT pauseAll() {
        HRESULT result = S_OK;
        for (CBaseFilter* f : filters()) {
            HRESULT hr = f->Pause();
            if (hr != S_OK) result = hr;
        }
        return result;
    }
    void runAll(REFERENCE_TIME start) {
        for (CBaseFilter* f : filters()) ASSERT_TRUE(SUCCEEDED(f->Run(start)));
    }
    void stopAll() {
        for (CBaseFilter* f : filters()) f->Stop();
    }
    std::vector<int> drawnValues() {
        std::vector<int> v;
        for (auto& d : renderer->drawn()) v.push_back(d.value);
        return v;
    }
};

TEST_F(Streaming, PauseShowsFirstPictureAndRunPresentsEachAtItsTime) {
    ASSERT_EQ(pauseAll(), S_FALSE);  // the renderer waits for a picture
    FILTER_STATE state;
    EXPECT_EQ(renderer->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(transform->started, 1);

    feeder = std::thread([&] {
        for (int i = 0; i < 4; ++i) source->deliver(i, i * kFrame, (i + 1) * kFrame);
        // The last picture lasts long: the end is reported when it is over.
        source->deliver(4, 4 * kFrame, 14 * kFrame);
        source->pin()->DeliverEndOfStream();
    });

    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 1; }));
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);
    EXPECT_EQ(renderer->drawn()[0].value, 255);  // frame 0, inverted by the transform
    EXPECT_EQ(clock->pendingCount(), 0u);        // paused: nothing is scheduled

    const REFERENCE_TIME base = 100 * kMs;
    runAll(base);
    ASSERT_TRUE(eventually([&] { return clock->pendingCount() == 1; }));
    EXPECT_EQ(renderer->drawnCount(), 1u);
    clock->setTime(base);
    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 2; }));

    for (int i = 1; i < 5; ++i) {
        REFERENCE_TIME due = base + i * kFrame;
        ASSERT_TRUE(eventually([&] { return clock->pendingCount() == 1; })) << i;
        clock->setTime(due - 1);
        EXPECT_EQ(renderer->drawnCount(), static_cast<size_t>(i + 1)) << "drawn before its time: " << i;
        clock->setTime(due);
        ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == static_cast<size_t>(i + 2); })) << i;
    }
    auto drawn = renderer->drawn();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(drawn[static_cast<size_t>(i + 1)].value, 255 - i);
        EXPECT_EQ(drawn[static_cast<size_t>(i + 1)].start, i * kFrame);
        EXPECT_EQ(drawn[static_cast<size_t>(i + 1)].clockAt, base + i * kFrame);
    }

    // End of stream waits for the end of the last picture.
    feeder.join();
    EXPECT_EQ(graph->count(EC_COMPLETE), 0);
    clock->setTime(base + 14 * kFrame - 1);
    EXPECT_EQ(graph->count(EC_COMPLETE), 0);
    clock->setTime(base + 14 * kFrame);
    ASSERT_TRUE(eventually([&] { return graph->count(EC_COMPLETE) == 1; }));
    auto events = graph->events();
    EXPECT_EQ(events.back().p2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(renderer.get())));
    EXPECT_TRUE(renderer->IsEndOfStreamDelivered());
}

TEST_F(Streaming, FlushDropsTheWaitingPictureAndANewSegmentPlaysAgain) {
    runAll(0);
    FILTER_STATE state;
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);  // straight from stop: running, complete
    EXPECT_EQ(state, State_Running);
    feeder = std::thread([&] {
        source->deliver(0, 0, kFrame);
        source->deliver(1, 1000 * kFrame, 1001 * kFrame);  // waits far in the future
    });
    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 1 && clock->pendingCount() == 1; }));

    // The flush frees the source thread stuck in the renderer.
    source->pin()->DeliverBeginFlush();
    feeder.join();
    EXPECT_EQ(clock->pendingCount(), 0u);
    // While flushing, samples are turned away.
    EXPECT_EQ(source->deliver(7, 0, kFrame), S_FALSE);
    source->pin()->DeliverEndFlush();
    source->pin()->DeliverNewSegment(5 * UNITS, 10 * UNITS, 1.0);
    EXPECT_EQ(renderer->InputPin()->CurrentStartTime(), 5 * UNITS);
    EXPECT_EQ(renderer->InputPin()->CurrentStopTime(), 10 * UNITS);

    EXPECT_EQ(source->deliver(2, 0, kFrame), S_OK);
    EXPECT_EQ(drawnValues(), (std::vector<int>{255, 253}));

    // End of stream, flush, end of stream again: each segment completes once.
    source->pin()->DeliverEndOfStream();
    ASSERT_TRUE(eventually([&] { return graph->count(EC_COMPLETE) == 1; }));
    EXPECT_EQ(source->deliver(3, kFrame, 2 * kFrame), VFW_E_SAMPLE_REJECTED_EOS);
    source->pin()->DeliverBeginFlush();
    source->pin()->DeliverEndFlush();
    EXPECT_EQ(source->deliver(4, 0, kFrame), S_OK);
    source->pin()->DeliverEndOfStream();
    ASSERT_TRUE(eventually([&] { return graph->count(EC_COMPLETE) == 2; }));
    EXPECT_EQ(drawnValues(), (std::vector<int>{255, 253, 251}));

    // A new segment after the end (a loop restarting without a flush) is played too.
    source->pin()->DeliverNewSegment(0, MAX_TIME, 1.0);
    EXPECT_EQ(source->deliver(5, 0, kFrame), S_OK);
    source->pin()->DeliverEndOfStream();
    ASSERT_TRUE(eventually([&] { return graph->count(EC_COMPLETE) == 3; }));
    EXPECT_EQ(drawnValues(), (std::vector<int>{255, 253, 251, 250}));
}

TEST_F(Streaming, FlushWhilePausedWaitsForTheNextPicture) {
    pauseAll();
    feeder = std::thread([&] { source->deliver(0, 0, kFrame); });
    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 1; }));
    FILTER_STATE state;
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);

    source->pin()->DeliverBeginFlush();
    feeder.join();
    source->pin()->DeliverEndFlush();
    // The picture of the old position is gone; the pause is incomplete again.
    EXPECT_EQ(renderer->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
    feeder = std::thread([&] { source->deliver(9, 0, kFrame); });
    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 2; }));
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);
    EXPECT_EQ(renderer->drawn()[1].value, 255 - 9);
}

TEST_F(Streaming, PauseWhileWaitingReschedulesOnTheNextRun) {
    runAll(0);
    feeder = std::thread([&] { source->deliver(3, 10 * kFrame, 11 * kFrame); });
    ASSERT_TRUE(eventually([&] { return clock->pendingCount() == 1; }));

    // Paused, the picture stays but its timer is cancelled; the pause is complete.
    ASSERT_EQ(pauseAll(), S_OK);
    EXPECT_EQ(clock->pendingCount(), 0u);
    FILTER_STATE state;
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);
    EXPECT_TRUE(renderer->HaveCurrentSample());
    clock->setTime(20 * kFrame);
    EXPECT_EQ(renderer->drawnCount(), 0u);

    // Running again from a later start: due at the new start plus the picture's time.
    const REFERENCE_TIME restart = 30 * kFrame;
    runAll(restart);
    ASSERT_EQ(clock->pendingCount(), 1u);
    clock->setTime(restart + 10 * kFrame - 1);
    EXPECT_EQ(renderer->drawnCount(), 0u);
    clock->setTime(restart + 10 * kFrame);
    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 1; }));
    EXPECT_EQ(renderer->drawn()[0].clockAt, restart + 10 * kFrame);
    feeder.join();
}

TEST_F(Streaming, StopReleasesTheSourceThreadAndRefusesMore) {
    pauseAll();
    HRESULT first = E_FAIL;
    feeder = std::thread([&] { first = source->deliver(0, 0, kFrame); });
    ASSERT_TRUE(eventually([&] { return renderer->drawnCount() == 1; }));
    stopAll();
    feeder.join();
    EXPECT_EQ(first, S_OK);
    EXPECT_EQ(transform->stopped, 1);
    // The allocators are decommitted: nothing more can be sent.
    EXPECT_EQ(source->deliver(1, kFrame, 2 * kFrame), VFW_E_NOT_COMMITTED);
    FILTER_STATE state;
    EXPECT_EQ(renderer->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_FALSE(renderer->HaveCurrentSample());
}

TEST_F(Streaming, UntimedPicturesAreDrawnAtOnceAndLateOnesThinnedOut) {
    clock->setTime(UNITS);  // one second into the stream
    runAll(0);
    EXPECT_EQ(source->deliverUntimed(1), S_OK);
    EXPECT_EQ(drawnValues(), (std::vector<int>{254}));

    // A second late and not key frames: a few are skipped, never more than four in a row.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(source->deliver(10 + i, i * kFrame, (i + 1) * kFrame, false), S_OK);
    EXPECT_EQ(drawnValues(), (std::vector<int>{254, 255 - 14}));
    int dropped = 0, drawn = 0;
    renderer->get_FramesDroppedInRenderer(&dropped);
    renderer->get_FramesDrawn(&drawn);
    EXPECT_EQ(dropped, 5);
    EXPECT_EQ(drawn, 2);
    // A late key frame is drawn at once.
    EXPECT_EQ(source->deliver(20, 0, kFrame, true), S_OK);
    EXPECT_EQ(renderer->drawn().back().value, 255 - 20);
}

TEST_F(Streaming, TransformCarriesTimesFlagsAndMarksSkippedPictures) {
    runAll(0);
    transform->skipValue = 1;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(source->deliver(i, 0, kFrame), S_OK);
    auto drawn = renderer->drawn();
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].value, 255);
    EXPECT_FALSE(drawn[0].discontinuity);
    // The picture after a dropped one tells the renderer something is missing.
    EXPECT_EQ(drawn[1].value, 253);
    EXPECT_TRUE(drawn[1].discontinuity);
    EXPECT_EQ(drawn[1].start, 0);
}

TEST_F(Streaming, SeekingPassesUpstreamThroughTheTransform) {
    InterfacePtr<IMediaSeeking> seeking = InterfacePtr<IBaseFilter>(renderer.get()).as<IMediaSeeking>();
    ASSERT_TRUE(seeking);
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 50 * kFrame);
    LONGLONG target = 20 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    EXPECT_EQ(source->pin()->current, target);
    EXPECT_EQ(source->pin()->setPositionsCalls, 1);
    EXPECT_EQ(seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);

    // The current position: the source cannot tell; at the end it is the stop position.
    LONGLONG current = 0;
    EXPECT_EQ(seeking->GetCurrentPosition(&current), E_NOTIMPL);
    runAll(0);
    source->pin()->DeliverEndOfStream();
    ASSERT_TRUE(eventually([&] { return graph->count(EC_COMPLETE) == 1; }));
    ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
    EXPECT_EQ(current, 50 * kFrame);

    // Unconnected, there is nobody to ask.
    stopAll();
    renderer->GetPin(0)->DisconnectInternal();
    EXPECT_EQ(seeking->GetDuration(&duration), VFW_E_NOT_CONNECTED);
}

}  // namespace
