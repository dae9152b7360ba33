// The audio renderer in a hand-built chain: PCM source -> "Audio Renderer" -> private
// mixer captured to WAV, driven through its state changes by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "../audio/AudioTestUtil.h"
#include "AudioRendererTestUtil.h"
#include "platform/audio/AudioOutputRegistry.h"
#include "platform/dshow/AudioRenderer.h"
#include "platform/dshow/SystemClock.h"

using namespace audiotest;
using namespace audiorenderertest;

namespace {

const float kHalf = static_cast<float>(std::pow(10.0, -0.301));  // -602

// One source feeding one renderer, both in `graph`.
class Chain {
public:
    Chain(Mixer& mixer, RecordingGraph* graph, const AudioFormat& format)
        : format_(format), source_(new PcmSource(mediaTypeFor(format))), renderer_(new AudioRenderer(mixer)) {
        renderer_->JoinFilterGraph(graph, u"Audio Renderer");
        source_->JoinFilterGraph(graph, u"PCM Source");
        renderer_->SetSyncSource(nullptr);  // start at once on Run
        connected_ = source_->pin().Connect(static_cast<IPin*>(renderer_->GetPin(0)), nullptr);
    }
    ~Chain() {
        stop();
        source_->pin().Disconnect();
        renderer_->GetPin(0)->Disconnect();
        renderer_->JoinFilterGraph(nullptr, nullptr);
        source_->JoinFilterGraph(nullptr, nullptr);
    }
    HRESULT connected() const { return connected_; }
    AudioRenderer& renderer() { return *renderer_; }
    PcmSourcePin& pin() { return source_->pin(); }
    MixerInput& input() { return *renderer_->mixerInput(); }

    // Renderers change state first, as the graph does it.
    void pause() {
        ASSERT_EQ(renderer_->Pause(), S_OK);
        ASSERT_EQ(source_->Pause(), S_OK);
    }
    void run(REFERENCE_TIME tStart = 0) {
        ASSERT_EQ(renderer_->Run(tStart), S_OK);
        ASSERT_EQ(source_->Run(tStart), S_OK);
    }
    void stop() {
        renderer_->Stop();
        source_->Stop();
    }
    template <class T>
    HRESULT send(const std::vector<T>& samples, std::optional<REFERENCE_TIME> start = {}) {
        return source_->pin().send(samples.data(), samples.size() * sizeof(T), start);
    }

private:
    AudioFormat format_;
    InterfacePtr<PcmSource> source_;
    InterfacePtr<AudioRenderer> renderer_;
    HRESULT connected_ = E_FAIL;
};

std::vector<float> constantStereo(size_t frames, float left, float right) {
    std::vector<float> s(frames * 2);
    for (size_t i = 0; i < frames; ++i) s[i * 2] = left, s[i * 2 + 1] = right;
    return s;
}

template <class F>
bool eventually(F done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class AudioRendererTest : public testing::Test {
protected:
    CaptureRig rig_;
    InterfacePtr<RecordingGraph> graph_{new RecordingGraph()};
};

}  // namespace

TEST_F(AudioRendererTest, ConnectsToPcmAndFloatOnly) {
    for (AudioFormat f : {AudioFormat{SampleType::U8, 11025, 1, 0}, AudioFormat{SampleType::S16, 44100, 6, 0},
                          AudioFormat{SampleType::F32, 96000, 2, 0}}) {
        Chain chain(rig_.mixer(), graph_.get(), f);
        ASSERT_EQ(chain.connected(), S_OK);
        EXPECT_EQ(chain.input().format(), f);
        EXPECT_EQ(rig_.mixer().inputCount(), 1u);
    }
    EXPECT_EQ(rig_.mixer().inputCount(), 0u);  // disconnecting removed each input

    CMediaType video = mediaTypeFor(AudioFormat{});
    video.majortype = MEDIATYPE_Video;
    InterfacePtr<AudioRenderer> renderer(new AudioRenderer(rig_.mixer()));
    EXPECT_NE(renderer->GetPin(0)->QueryAccept(&video), S_OK);
    CMediaType s24 = mediaTypeFor(AudioFormat{});
    reinterpret_cast<WAVEFORMATEX*>(s24.pbFormat)->wBitsPerSample = 24;
    reinterpret_cast<WAVEFORMATEX*>(s24.pbFormat)->nBlockAlign = 6;
    EXPECT_NE(renderer->GetPin(0)->QueryAccept(&s24), S_OK);
}

TEST_F(AudioRendererTest, BasicAudioTakesHundredthsOfADecibelInRange) {
    InterfacePtr<AudioRenderer> renderer(new AudioRenderer(rig_.mixer()));
    InterfacePtr<IBasicAudio> audio = InterfacePtr<IBaseFilter>(renderer.get()).as<IBasicAudio>();
    ASSERT_TRUE(audio);
    LONG v = 1;
    EXPECT_EQ(audio->get_Volume(&v), S_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(audio->put_Volume(-602), S_OK);
    EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
    EXPECT_EQ(audio->put_Volume(-10001), E_INVALIDARG);
    audio->get_Volume(&v);
    EXPECT_EQ(v, -602);
    EXPECT_EQ(audio->put_Balance(10000), S_OK);
    EXPECT_EQ(audio->put_Balance(10001), E_INVALIDARG);
    EXPECT_EQ(audio->put_Balance(-10001), E_INVALIDARG);
    audio->get_Balance(&v);
    EXPECT_EQ(v, 10000);
    EXPECT_EQ(audio->get_Volume(nullptr), E_POINTER);
    EXPECT_EQ(audio->get_Balance(nullptr), E_POINTER);
}

// The player's volumes 1000, 500 and 0 arrive as 0, -602 and -10000.
TEST_F(AudioRendererTest, VolumeAndBalanceAppearInTheCapturedMix) {
    struct Case {
        LONG volume, balance;
        float left, right;
    } cases[] = {
        {0, 0, 0.5f, -0.25f},  {-602, 0, 0.5f * kHalf, -0.25f * kHalf},
        {-10000, 0, 0, 0},     {0, -602, 0.5f, -0.25f * kHalf},
        {0, 10000, 0, -0.25f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.volume << "/" << c.balance);
        CaptureRig rig;
        Chain chain(rig.mixer(), graph_.get(), {SampleType::F32, 48000, 2, 0});
        ASSERT_EQ(chain.connected(), S_OK);
        ASSERT_EQ(chain.renderer().put_Volume(c.volume), S_OK);
        ASSERT_EQ(chain.renderer().put_Balance(c.balance), S_OK);
        chain.run();
        ASSERT_EQ(chain.send(constantStereo(960, 0.5f, -0.25f)), S_OK);
        rig.pump(960);
        chain.stop();
        auto f = rig.finish();
        ASSERT_EQ(f.size(), 960u);
        for (size_t i = 0; i < f.size(); ++i) {
            ASSERT_NEAR(f[i].left, c.left, 1e-5f) << i;
            ASSERT_NEAR(f[i].right, c.right, 1e-5f) << i;
        }
    }
}

TEST_F(AudioRendererTest, TwoRenderersMixEachWithItsOwnLevels) {
    Chain a(rig_.mixer(), graph_.get(), {SampleType::S16, 48000, 1, 0});
    Chain b(rig_.mixer(), graph_.get(), {SampleType::F32, 44100, 2, 0});
    ASSERT_EQ(a.connected(), S_OK);
    ASSERT_EQ(b.connected(), S_OK);
    a.renderer().put_Balance(-10000);  // left only
    b.renderer().put_Volume(-602);
    a.run();
    b.run();
    ASSERT_EQ(a.send(std::vector<int16_t>(4800, 8192)), S_OK);  // 0.25
    ASSERT_EQ(b.send(constantStereo(4410, 0.5f, 0.5f)), S_OK);
    b.renderer().GetPin(0)->EndOfStream();  // lets the resampler give up its last frames
    rig_.pump(4800);
    auto f = rig_.finish();
    ASSERT_EQ(f.size(), 4800u);
    // Away from the resampler's edges both are steady.
    for (size_t i = 100; i < 4700; ++i) {
        ASSERT_NEAR(f[i].left, 0.25f + 0.5f * kHalf, 1e-3f) << i;
        ASSERT_NEAR(f[i].right, 0.5f * kHalf, 1e-3f) << i;
    }
    EXPECT_EQ(a.input().consumedFrames(), 4800u);
    EXPECT_EQ(b.input().consumedFrames(), 4410u);
}

TEST_F(AudioRendererTest, PauseCompletesWithTheFirstSampleAndHoldsIt) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::F32, 48000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    chain.pause();
    FILTER_STATE state;
    EXPECT_EQ(chain.renderer().GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
    EXPECT_EQ(state, State_Paused);

    ASSERT_EQ(chain.send(constantStereo(480, 0.1f, 0.1f)), S_OK);
    EXPECT_EQ(chain.renderer().GetState(0, &state), S_OK);
    rig_.pump(480);
    EXPECT_EQ(chain.input().consumedFrames(), 0u);  // held while paused

    chain.run();
    rig_.pump(480);
    EXPECT_EQ(chain.input().consumedFrames(), 480u);
    chain.renderer().Pause();
    ASSERT_EQ(chain.send(constantStereo(480, 0.2f, 0.2f)), S_OK);
    rig_.pump(480);
    EXPECT_EQ(chain.input().consumedFrames(), 480u);
    chain.run();
    rig_.pump(480);
    auto f = rig_.finish();
    ASSERT_EQ(f.size(), 1920u);
    EXPECT_FLOAT_EQ(f[0].left, 0);
    EXPECT_FLOAT_EQ(f[480].left, 0.1f);
    EXPECT_FLOAT_EQ(f[960].left, 0);
    EXPECT_FLOAT_EQ(f[1440].left, 0.2f);
}

// A full queue blocks Receive (pacing the upstream); stop and flush release it.
TEST_F(AudioRendererTest, BlockedReceiveIsReleasedByFlushAndStop) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::S16, 48000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    chain.pause();
    std::vector<int16_t> second(96000 * 2, 1000);  // two seconds: more than the queue holds
    HRESULT hr = E_FAIL;
    std::thread sender([&] { hr = chain.send(second); });
    ASSERT_TRUE(eventually([&] { return chain.input().writableFrames() == 0; }));
    EXPECT_EQ(chain.renderer().GetState(0, nullptr), E_POINTER);
    FILTER_STATE state;
    EXPECT_EQ(chain.renderer().GetState(0, &state), S_OK);  // a held sample completes the pause

    chain.renderer().GetPin(0)->BeginFlush();
    sender.join();
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(chain.input().queuedFrames(), 0u);
    EXPECT_EQ(chain.renderer().GetState(0, &state), VFW_S_STATE_INTERMEDIATE);  // needs a new sample
    chain.renderer().GetPin(0)->EndFlush();

    sender = std::thread([&] { hr = chain.send(second); });
    ASSERT_TRUE(eventually([&] { return chain.input().writableFrames() == 0; }));
    chain.stop();
    sender.join();
    EXPECT_EQ(hr, VFW_E_WRONG_STATE);
    EXPECT_EQ(chain.input().queuedFrames(), 0u);
    EXPECT_EQ(chain.input().consumedFrames(), 0u);
}

TEST_F(AudioRendererTest, EndOfStreamIsReportedAfterTheLastSamplePlayed) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::F32, 24000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    chain.pause();
    ASSERT_EQ(chain.send(constantStereo(2400, 0.3f, 0.3f)), S_OK);  // 100 ms
    ASSERT_EQ(chain.renderer().GetPin(0)->EndOfStream(), S_OK);
    rig_.pump(4800);  // paused: nothing plays, nothing ends
    EXPECT_EQ(graph_->count(EC_COMPLETE), 0);
    chain.run();
    rig_.pump(2400);
    EXPECT_FALSE(chain.input().drained());
    EXPECT_EQ(graph_->count(EC_COMPLETE), 0);
    rig_.pump(2400);
    ASSERT_TRUE(chain.input().drained());
    ASSERT_TRUE(graph_->completeEvent().wait(20000));
    EXPECT_EQ(chain.input().consumedFrames(), 2400u);
    rig_.pump(480);
    chain.stop();
    EXPECT_EQ(graph_->count(EC_COMPLETE), 1);

    // After a stop and a new run, end of stream with nothing queued completes at once.
    graph_->completeEvent().reset();
    chain.run();
    chain.renderer().GetPin(0)->EndOfStream();
    ASSERT_TRUE(graph_->completeEvent().wait(20000));
    EXPECT_EQ(graph_->count(EC_COMPLETE), 2);
}

TEST_F(AudioRendererTest, FlushDropsQueuedAudioAndCancelsTheEnd) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::F32, 48000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    chain.run();
    ASSERT_EQ(chain.send(constantStereo(4800, 0.4f, 0.4f)), S_OK);
    chain.renderer().GetPin(0)->EndOfStream();
    rig_.pump(1000);
    IPin* pin = chain.renderer().GetPin(0);
    pin->BeginFlush();
    EXPECT_EQ(chain.send(constantStereo(100, 0.9f, 0.9f)), S_FALSE);  // refused while flushing
    pin->EndFlush();
    rig_.pump(1000);
    EXPECT_EQ(chain.input().consumedFrames(), 1000u);
    EXPECT_EQ(graph_->count(EC_COMPLETE), 0);
    ASSERT_EQ(chain.send(constantStereo(500, -0.4f, -0.4f)), S_OK);
    rig_.pump(500);
    auto f = rig_.finish();
    EXPECT_FLOAT_EQ(f[999].left, 0.4f);
    EXPECT_FLOAT_EQ(f[1000].left, 0);
    EXPECT_FLOAT_EQ(f[2000].left, -0.4f);
    EXPECT_EQ(graph_->count(EC_COMPLETE), 0);
}

// Sample times place the audio: holes become silence, late overlaps are dropped.
TEST_F(AudioRendererTest, SampleTimesPlaceTheAudio) {
    constexpr REFERENCE_TIME kMs = 10000;
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::F32, 48000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    chain.pause();
    ASSERT_EQ(chain.send(constantStereo(4800, 0.1f, 0.1f), 0), S_OK);            // 0-100 ms
    ASSERT_EQ(chain.send(constantStereo(4800, 0.2f, 0.2f), 150 * kMs), S_OK);    // after a 50 ms hole
    ASSERT_EQ(chain.send(constantStereo(4800, 0.3f, 0.3f), 200 * kMs), S_OK);    // overlaps by 50 ms
    ASSERT_EQ(chain.send(constantStereo(480, 0.4f, 0.4f), 305 * kMs), S_OK);     // 5 ms late: within tolerance
    ASSERT_EQ(chain.send(constantStereo(480, 0.5f, 0.5f), 3600 * UNITS), S_OK);  // damaged: no hour of silence
    chain.run();
    rig_.pump(4800 * 4);
    auto f = rig_.finish();
    EXPECT_FLOAT_EQ(f[4799].left, 0.1f);
    EXPECT_FLOAT_EQ(f[4800].left, 0);
    EXPECT_FLOAT_EQ(f[7199].left, 0);
    EXPECT_FLOAT_EQ(f[7200].left, 0.2f);
    EXPECT_FLOAT_EQ(f[11999].left, 0.2f);
    EXPECT_FLOAT_EQ(f[12000].left, 0.3f);  // its first 50 ms were dropped
    EXPECT_FLOAT_EQ(f[14399].left, 0.3f);
    EXPECT_FLOAT_EQ(f[14400].left, 0.4f);
    EXPECT_FLOAT_EQ(f[14879].left, 0.4f);
    EXPECT_FLOAT_EQ(f[14880].left, 0.5f);
    EXPECT_FLOAT_EQ(f[15359].left, 0.5f);
    EXPECT_FLOAT_EQ(f[15360].left, 0);
}

TEST_F(AudioRendererTest, TypeChangeMidStreamPlaysOutTheOldFormatFirst) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::F32, 48000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    chain.renderer().put_Volume(-602);
    chain.run();
    ASSERT_EQ(chain.send(constantStereo(960, 0.5f, 0.5f)), S_OK);
    auto first = chain.renderer().mixerInput();
    CMediaType mono = mediaTypeFor({SampleType::S16, 48000, 1, 0});
    std::vector<int16_t> pcm(960, -16384);
    HRESULT hr = E_FAIL;
    std::thread sender([&] { hr = chain.pin().send(pcm.data(), pcm.size() * 2, {}, &mono); });
    rig_.pump(960);
    ASSERT_TRUE(eventually([&] { return chain.renderer().mixerInput() != first; }));
    sender.join();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(chain.input().format().channels, 1u);
    EXPECT_EQ(chain.input().volume(), -602);  // levels carry over
    rig_.pump(960);
    auto f = rig_.finish();
    EXPECT_NEAR(f[959].left, 0.5f * kHalf, 1e-5f);
    EXPECT_NEAR(f[960].right, -0.5f * kHalf, 1e-5f);
    EXPECT_NEAR(f[1919].left, -0.5f * kHalf, 1e-5f);
}

// The renderer's clock follows the samples the mixer consumed.
TEST_F(AudioRendererTest, ClockAdvancesWithConsumedSamples) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::S16, 32000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    InterfacePtr<IReferenceClock> clock = InterfacePtr<IBaseFilter>(&chain.renderer()).as<IReferenceClock>();
    ASSERT_TRUE(clock);
    chain.input().setCapacityMs(3000);
    chain.run();
    ASSERT_EQ(chain.send(std::vector<int16_t>(64000 * 2, 100)), S_OK);  // two seconds
    REFERENCE_TIME start = 0, now = 0;
    clock->GetTime(&now);  // the audio has not moved yet: system time
    EXPECT_FALSE(chain.renderer().clock()->followingAudio());
    rig_.pump(480);
    clock->GetTime(&start);
    EXPECT_GE(start, now);
    ASSERT_TRUE(chain.renderer().clock()->followingAudio());
    // Pumped much faster than real time: the time keeps step with the audio.
    for (int i = 0; i < 100; ++i) {
        rig_.pump(480);
        clock->GetTime(&now);
    }
    EXPECT_TRUE(chain.renderer().clock()->followingAudio());
    EXPECT_EQ(now - start, 100 * 10 * 10000);
    EXPECT_EQ(chain.input().consumedFrames(), 101u * 320);
}

// With the graph's clock set, the input starts at the run's start time, not before.
TEST_F(AudioRendererTest, RunStartsTheAudioAtTheStartTime) {
    Chain chain(rig_.mixer(), graph_.get(), {SampleType::F32, 48000, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    InterfacePtr<IReferenceClock> clock(new SystemClock());
    chain.renderer().SetSyncSource(clock.get());
    chain.pause();
    ASSERT_EQ(chain.send(constantStereo(480, 0.1f, 0.1f)), S_OK);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    chain.run(now + 60 * UNITS);
    rig_.pump(480);
    EXPECT_TRUE(chain.input().paused());
    EXPECT_EQ(chain.input().consumedFrames(), 0u);
    chain.renderer().Pause();
    clock->GetTime(&now);
    chain.run(now + 20 * 10000);
    ASSERT_TRUE(eventually([&] { return !chain.input().paused(); }));
    REFERENCE_TIME started = 0;
    clock->GetTime(&started);
    EXPECT_GE(started, now + 20 * 10000);
    rig_.pump(480);
    EXPECT_EQ(chain.input().consumedFrames(), 480u);
    chain.stop();
    chain.renderer().SetSyncSource(nullptr);
}

// On the null output the audio, and with it the clock, runs at the wall clock's pace.
TEST(AudioRendererRealTimeTest, PlaysInRealTimeOnTheNullOutput) {
    Mixer mixer;
    ASSERT_TRUE(mixer.setOutput(createAudioOutput("null")));
    InterfacePtr<RecordingGraph> graph(new RecordingGraph());
    Chain chain(mixer, graph.get(), {SampleType::S16, 22050, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    InterfacePtr<IReferenceClock> clock = InterfacePtr<IBaseFilter>(&chain.renderer()).as<IReferenceClock>();
    auto wallStart = std::chrono::steady_clock::now();
    chain.run();
    ASSERT_EQ(chain.send(std::vector<int16_t>(4410 * 2, 500)), S_OK);  // 200 ms
    chain.renderer().GetPin(0)->EndOfStream();
    bool followed = false;
    REFERENCE_TIME first = 0, last = 0;
    clock->GetTime(&first);
    while (!graph->completeEvent().wait(2)) {
        REFERENCE_TIME t = 0;
        clock->GetTime(&t);
        EXPECT_GE(t, last);
        last = t;
        followed = followed || chain.renderer().clock()->followingAudio();
    }
    double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
    EXPECT_TRUE(followed);
    EXPECT_EQ(chain.input().consumedFrames(), 4410u);
    // The output runs one 10 ms period ahead of the wall clock and catches up after a
    // stall, so only a generous bound holds on a loaded machine: it did not simply race.
    EXPECT_GE(wallMs, 100.0);
    EXPECT_GE(last - first, 100 * 10000);
}

// A streaming thread keeps pushing while another drives every state change: nothing
// deadlocks, a blocked Receive always comes back, the clock never goes back.
TEST(AudioRendererRealTimeTest, StateChangesWhileStreaming) {
    Mixer mixer;
    ASSERT_TRUE(mixer.setOutput(createAudioOutput("null")));
    InterfacePtr<RecordingGraph> graph(new RecordingGraph());
    Chain chain(mixer, graph.get(), {SampleType::S16, 44100, 2, 0});
    ASSERT_EQ(chain.connected(), S_OK);
    AudioRenderer& r = chain.renderer();
    IPin* pin = r.GetPin(0);
    chain.pause();
    std::atomic<bool> done{false};
    std::atomic<int> delivered{0};
    std::thread streamer([&] {
        std::vector<int16_t> block(441 * 2, 300);
        REFERENCE_TIME t = 0;
        while (!done) {
            HRESULT hr = chain.send(block, t);
            t += 100000;
            if (hr == S_OK)
                ++delivered;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    InterfacePtr<IReferenceClock> clock = InterfacePtr<IBaseFilter>(&r).as<IReferenceClock>();
    REFERENCE_TIME last = 0;
    for (int i = 0; i < 40; ++i) {
        switch (i % 5) {
            case 0:
                r.Run(0);
                break;
            case 1:
                r.Pause();
                break;
            case 2:
                pin->BeginFlush();
                pin->EndFlush();
                break;
            case 3:
                r.put_Volume(-100 * i);
                break;
            case 4:
                r.Stop();
                r.Pause();
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        EXPECT_GE(now, last);
        last = now;
    }
    r.Stop();
    done = true;
    streamer.join();
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(chain.input().queuedFrames(), 0u);
    EXPECT_EQ(chain.input().volume(), -100 * 38);
}

TEST(AudioRendererRegistrationTest, RegistersAsARenderingAudioFilter) {
    FilterRegistration r = AudioRenderer::registration();
    EXPECT_EQ(r.name, u"Audio Renderer");
    EXPECT_EQ(r.clsid, CLSID_DSoundRender);
    ASSERT_EQ(r.pins.size(), 1u);
    EXPECT_TRUE(r.pins[0].rendered);
    EXPECT_FALSE(r.pins[0].output);
    ASSERT_TRUE(r.create);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(r.create(IBaseFilter::iid, reinterpret_cast<void**>(&filter)), S_OK);
    FILTER_INFO info{};
    filter->QueryFilterInfo(&info);
    EXPECT_EQ(std::u16string(info.achName), u"Audio Renderer");
    IPin* pin = nullptr;
    EXPECT_EQ(filter->FindPin(u"Input", &pin), S_OK);
    if (pin) pin->Release();
    // Seeking is passed upstream (nothing is connected here) and the clock is offered.
    InterfacePtr<IBaseFilter> held(filter);
    filter->Release();
    InterfacePtr<IMediaSeeking> seeking = held.as<IMediaSeeking>();
    ASSERT_TRUE(seeking);
    LONGLONG duration = 0;
    EXPECT_TRUE(FAILED(seeking->GetDuration(&duration)));
    EXPECT_TRUE(held.as<IReferenceClock>());

    ASSERT_TRUE(AudioRenderer::registerClass());
    auto found = FilterRegistry::instance().find(CLSID_DSoundRender);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->merit, MERIT_PREFERRED);
}
