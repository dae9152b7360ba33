// What the graph answers for its renderers: volume and balance reach every filter with
// IBasicAudio, video calls fail cleanly without a video renderer, and the default clock
// is a connected renderer's own clock, else the system clock.
#include <gtest/gtest.h>

#include "ManualClock.h"
#include "SyntheticFilters.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/SystemClock.h"

using namespace synthetic;

namespace {

// A sink that has levels and a clock of its own, as an audio renderer has.
class LevelSink : public RecordingSink, public IBasicAudio {
public:
    LevelSink() : RecordingSink(MEDIATYPE_Audio, kSubtypeA) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return RecordingSink::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return RecordingSink::AddRef(); }
    ULONG Release() override { return RecordingSink::Release(); }
    HRESULT put_Volume(LONG v) override {
        volume = v;
        return S_OK;
    }
    HRESULT get_Volume(LONG* v) override {
        *v = volume;
        return S_OK;
    }
    HRESULT put_Balance(LONG b) override {
        balance = b;
        return S_OK;
    }
    HRESULT get_Balance(LONG* b) override {
        *b = balance;
        return S_OK;
    }
    LONG volume = 0, balance = 0;
    InterfacePtr<ManualClock> clock{new ManualClock()};

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid == IBasicAudio::iid) {
            *ppv = static_cast<IBasicAudio*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IReferenceClock::iid) return clock->QueryInterface(riid, ppv);
        return RecordingSink::queryOther(riid, ppv);
    }
};

TEST(GraphControlsTest, AudioLevelsReachEveryAudioRendererAndVideoCallsFailWithoutOne) {
    InterfacePtr<IGraphBuilder> graph(new FilterGraph());
    auto audio = graph.as<IBasicAudio>();
    auto video = graph.as<IBasicVideo>();
    auto window = graph.as<IVideoWindow>();
    ASSERT_TRUE(audio && video && window) << "the graph always answers these interfaces";
    EXPECT_EQ(audio->put_Volume(0), E_NOTIMPL) << "nothing to set without an audio renderer";

    auto* first = new LevelSink();
    auto* second = new LevelSink();
    InterfacePtr<IBaseFilter> a(static_cast<RecordingSink*>(first)), b(static_cast<RecordingSink*>(second));
    graph->AddFilter(a.get(), u"First");
    graph->AddFilter(b.get(), u"Second");
    EXPECT_EQ(audio->put_Volume(-602), S_OK);
    EXPECT_EQ(audio->put_Balance(10000), S_OK);
    EXPECT_EQ(first->volume, -602);
    EXPECT_EQ(second->volume, -602);
    EXPECT_EQ(second->balance, 10000);
    EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
    EXPECT_EQ(audio->put_Balance(-10001), E_INVALIDARG);
    EXPECT_EQ(first->volume, -602) << "a refused level changes nothing";
    LONG v = 0;
    EXPECT_EQ(audio->get_Volume(&v), S_OK);
    EXPECT_EQ(v, -602);

    LONG visible = 0, w = 0, h = 0;
    EXPECT_FALSE(SUCCEEDED(window->get_Visible(&visible)));
    EXPECT_FALSE(SUCCEEDED(video->GetVideoSize(&w, &h)));
    // The inner interfaces share the graph's identity.
    InterfacePtr<IGraphBuilder> back = audio.as<IGraphBuilder>();
    EXPECT_EQ(back.get(), graph.get());
}

TEST(GraphControlsTest, DefaultClockIsAConnectedRenderersClockElseTheSystemClock) {
    InterfacePtr<IGraphBuilder> graph(new FilterGraph());
    auto control = graph.as<IMediaControl>();
    auto filter = graph.as<IMediaFilter>();
    auto* sink = new LevelSink();
    InterfacePtr<IBaseFilter> s(static_cast<RecordingSink*>(sink));
    graph->AddFilter(s.get(), u"Levels");

    // Unconnected, its clock would never move: the system clock is taken.
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    InterfacePtr<IReferenceClock> clock;
    ASSERT_EQ(filter->GetSyncSource(clock.put()), S_OK);
    ASSERT_TRUE(clock);
    EXPECT_NE(clock.get(), static_cast<IReferenceClock*>(sink->clock.get()));
    EXPECT_EQ(filter->SetSyncSource(nullptr), VFW_E_NOT_STOPPED);
    ASSERT_EQ(control->Stop(), S_OK);

    auto* source = new FrameSource(MEDIATYPE_Audio, kSubtypeA, 1, UNITS);
    InterfacePtr<IBaseFilter> src(source);
    graph->AddFilter(src.get(), u"Source");
    ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), sink->GetPin(0), nullptr), S_OK);
    ASSERT_EQ(graph->SetDefaultSyncSource(), S_OK);
    ASSERT_EQ(filter->GetSyncSource(clock.put()), S_OK);
    EXPECT_EQ(clock.get(), static_cast<IReferenceClock*>(sink->clock.get()));
    InterfacePtr<IReferenceClock> seenBySource;
    ASSERT_EQ(source->GetSyncSource(seenBySource.put()), S_OK);
    EXPECT_EQ(seenBySource.get(), clock.get()) << "every filter runs on the graph's clock";

    // A clock the application chose stays, including none at all.
    ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_EQ(filter->GetSyncSource(clock.put()), S_OK);
    EXPECT_FALSE(clock);
    control->Stop();
}

}  // namespace
