// Real-time playback of a real file through the system filters, the way the player runs
// it: the graph's own renderers (the audio renderer feeding the process mixer, whose
// clock drives the graph, and a video renderer that waits for each picture's time), run
// to completion, and a seek while running.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "SystemTestSupport.h"
#include "framework/dshow/CBaseVideoRenderer.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/NullAudioOutput.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/PipelineClasses.h"

using namespace systemtest;

namespace {

constexpr CLSID kClockedRendererClass = guidOf("{5B1E7005-2C3D-4E5F-8A9B-0C1D2E3F4A5B}");

class ClockedRenderer : public CBaseVideoRenderer {
public:
    ClockedRenderer() : CBaseVideoRenderer(kClockedRendererClass, u"Clocked Renderer", nullptr) {}
    HRESULT CheckMediaType(const CMediaType* mt) override { return acceptsRgb32(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT DoRenderSample(IMediaSample* s) override {
        REFERENCE_TIME start = 0, stop = 0;
        s->GetTime(&start, &stop);
        std::lock_guard<std::mutex> g(mutex_);
        starts_.push_back(start);
        return S_OK;
    }
    std::vector<REFERENCE_TIME> starts() {
        std::lock_guard<std::mutex> g(mutex_);
        return starts_;
    }

private:
    std::mutex mutex_;
    std::vector<REFERENCE_TIME> starts_;
};

struct Case {
    const char* kind;
    GUID subtype;
};

class SystemPlayback : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        registerPipelineClasses();
        Mixer::instance().setOutput(std::make_unique<NullAudioOutput>());
    }
};

}  // namespace

TEST_P(SystemPlayback, PlaysToCompletionOnTheAudioClockAndSeeksWhileRunning) {
    const std::filesystem::path path = media(GetParam().kind);
    if (path.empty()) GTEST_SKIP() << "the ffmpeg command is missing";
    InterfacePtr<FilterGraph> graph(new FilterGraph());
    InterfacePtr<ByteSource> source(new ByteSource(GetParam().subtype, readerOver(testsupport::readFile(path)).get()));
    InterfacePtr<ClockedRenderer> renderer(new ClockedRenderer());
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(source.get(), u"Source")));
    ASSERT_TRUE(SUCCEEDED(graph->AddFilter(renderer.get(), u"Renderer")));
    ASSERT_EQ(graph->Render(source->output()), S_OK);
    InterfacePtr<IBaseFilter> audio;
    ASSERT_EQ(graph->FindFilterByName(u"Audio Renderer", audio.put()), S_OK);

    auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(SUCCEEDED(graph->Run()));
    LONG code = 0;
    ASSERT_EQ(graph->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // Played in real time, not as fast as it decodes.
    EXPECT_GT(took, 1.5);
    std::vector<REFERENCE_TIME> drawn = renderer->starts();
    EXPECT_GE(drawn.size(), static_cast<size_t>(kFrames - 5)) << "few pictures dropped";
    EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end()));

    // Back to the middle while running: playback goes on from there to the end again.
    ASSERT_TRUE(SUCCEEDED(graph->Run()));
    LONGLONG target = UNITS;
    ASSERT_EQ(graph->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    ASSERT_EQ(graph->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_TRUE(SUCCEEDED(graph->Stop()));
}

INSTANTIATE_TEST_SUITE_P(Files, SystemPlayback,
                         ::testing::Values(Case{"mpg", MEDIASUBTYPE_MPEG1System},
                                           Case{"mp4", guidOf("{08E22ADA-B715-45ED-9D20-7B87750301D4}")}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.kind); });
