// The audio renderer inside the filter graph manager: found by Render through the
// registry, driven by the graph's state changes on its own clock, its levels set through
// the graph, its end reported as the graph's completion, its sound in the process mix.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "../audio/AudioTestUtil.h"
#include "AudioRendererTestUtil.h"
#include "framework/dshow/FilterInterfaces.h"
#include "platform/dshow/AudioRenderer.h"
#include "platform/dshow/FilterGraph.h"

using namespace audiotest;
using namespace audiorenderertest;

namespace {

std::vector<float> constantStereo(size_t frames, float left, float right) {
    std::vector<float> s(frames * 2);
    for (size_t i = 0; i < frames; ++i) s[i * 2] = left, s[i * 2 + 1] = right;
    return s;
}

}  // namespace

TEST(AudioRendererGraphTest, RenderedPcmPlaysThroughTheProcessMixer) {
    testsupport::TempDir dir;
    auto capture = std::make_unique<WavCaptureOutput>(dir / "graph.wav", WavCaptureOutput::Pacing::Manual);
    WavCaptureOutput* wav = capture.get();
    ASSERT_TRUE(Mixer::instance().setOutput(std::move(capture)));
    ASSERT_TRUE(AudioRenderer::registerClass());

    InterfacePtr<FilterGraph> graph(new FilterGraph());
    InterfacePtr<PcmSource> source(new PcmSource(mediaTypeFor({SampleType::F32, 48000, 2, 0})));
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(source.get(), u"PCM Source")));
    ASSERT_EQ(graph->Render(static_cast<IPin*>(source->GetPin(0))), S_OK);
    InterfacePtr<IBaseFilter> renderer;
    ASSERT_EQ(graph->FindFilterByName(u"Audio Renderer", renderer.put()), S_OK);

    // The graph's level controls reach the renderer; its clock becomes the graph's.
    InterfacePtr<IBasicAudio> audio = graph.as<IBasicAudio>();
    ASSERT_TRUE(audio);
    ASSERT_EQ(audio->put_Volume(-602), S_OK);
    ASSERT_EQ(audio->put_Balance(-10000), S_OK);

    ASSERT_TRUE(SUCCEEDED(graph->Pause()));
    ASSERT_EQ(source->pin().send(constantStereo(4800, 0.5f, 0.5f).data(), 4800 * 8, 0), S_OK);
    ASSERT_EQ(source->pin().send(constantStereo(4800, -0.5f, -0.5f).data(), 4800 * 8, 1000000), S_OK);
    ASSERT_EQ(source->pin().DeliverEndOfStream(), S_OK);
    OAFilterState state = 0;
    ASSERT_EQ(graph->GetState(10000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    InterfacePtr<IReferenceClock> graphClock;
    ASSERT_EQ(graph.as<IMediaFilter>()->GetSyncSource(graphClock.put()), S_OK);
    EXPECT_EQ(graphClock.get(), renderer.as<IReferenceClock>().get());

    ASSERT_TRUE(SUCCEEDED(graph->Run()));
    auto input = static_cast<AudioRenderer*>(renderer.get())->mixerInput();
    // The input starts when the clock reaches the run's start, a few milliseconds on.
    while (input->paused()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    wav->pump(9600);
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    bool complete = false;
    while (graph->GetEvent(&code, &p1, &p2, 20000) == S_OK) {
        graph->FreeEventParams(code, p1, p2);
        if (code == EC_COMPLETE) {
            complete = true;
            break;
        }
    }
    EXPECT_TRUE(complete);
    graph->Stop();
    graph->RemoveFilter(renderer.get());
    graph->RemoveFilter(source.get());
    Mixer::instance().closeOutput();

    auto f = readCapture(dir / "graph.wav");
    ASSERT_EQ(f.size(), 9600u);
    const float half = static_cast<float>(std::pow(10.0, -0.301));
    EXPECT_NEAR(f[0].left, 0.5f * half, 1e-5f);
    EXPECT_EQ(f[0].right, 0.0f);
    EXPECT_NEAR(f[4799].left, 0.5f * half, 1e-5f);
    EXPECT_NEAR(f[4800].left, -0.5f * half, 1e-5f);
    EXPECT_NEAR(f[9599].left, -0.5f * half, 1e-5f);
}
