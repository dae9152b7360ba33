// The ten-second 1280x720 MBC movie at 29.97 pictures a second with stereo sound, through
// the real graph ("File Stream Filter", the MBC splitter, a recording video renderer and
// the "Audio Renderer" into the null output, paced by the wall clock):
// - in real time on the graph's clock: pictures shown, late (drawn more than 10 ms after
//   their time) and missing ones, lateness p50/p99, and the processor time it took;
// - with no clock at all (SetSyncSource(null)), video only: how fast pictures come out of
//   the splitter, and how many it passed over because they were not decoded yet when
//   their turn came (the splitter never waits for the decoder);
// - the splitter's source alone, waiting for every picture: its decode-and-convert rate.
#include <benchmark/benchmark.h>

#include <chrono>

#include "framework/WideString.h"
#include "framework/dshow/CMediaSample.h"
#include "media/FileStreamFilter.h"
#include "platform/audio/AudioOutputRegistry.h"
#include "platform/audio/Mixer.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/PipelineClasses.h"
#include "splitters/MbcSource.h"
#include "splitters/MbcSplitter.h"
#include "tests/media/MbcMovie.h"

using namespace mbcmovie;

namespace {

IPin* pinOf(IBaseFilter* f, const char16_t* name) {
    IPin* pin = nullptr;
    f->FindPin(name, &pin);
    if (pin) pin->Release();  // the filter keeps it
    return pin;
}

struct Playback {
    InterfacePtr<IGraphBuilder> graph;
    InterfacePtr<FileStreamFilter> source;
    InterfacePtr<IBaseFilter> splitter;
    InterfacePtr<PictureRecorder> recorder;

    // Builds the graph; with sound, the audio pin goes to the audio renderer.
    bool build(const Movie& m, bool withSound) {
        graph = InterfacePtr<IGraphBuilder>(new FilterGraph());
        source = InterfacePtr<FileStreamFilter>(new FileStreamFilter(systemFileCallbacks()));
        recorder = InterfacePtr<PictureRecorder>(new PictureRecorder());
        if (graph->AddFilter(source.get(), FileStreamFilter::kName) != S_OK ||
            source->Load(fromUtf8(m.path.string()).c_str(), nullptr) != S_OK ||
            MbcSplitter::create(IBaseFilter::iid, reinterpret_cast<void**>(splitter.put())) != S_OK ||
            graph->AddFilter(splitter.get(), MbcSplitter::kName) != S_OK ||
            graph->Connect(pinOf(source.get(), FileStreamFilter::kPinName), pinOf(splitter.get(), u"Input")) != S_OK ||
            graph->AddFilter(recorder.get(), u"Picture Recorder") != S_OK ||
            graph->ConnectDirect(pinOf(splitter.get(), u"Video"), pinOf(recorder.get(), u"In"), nullptr) != S_OK)
            return false;
        return !withSound || graph->Render(pinOf(splitter.get(), u"Audio")) == S_OK;
    }
    bool playToEnd() {
        auto control = graph.as<IMediaControl>();
        auto events = graph.as<IMediaEventEx>();
        if (FAILED(control->Run())) return false;
        LONG code = 0;
        LONG_PTR a = 0, b = 0;
        while (events->GetEvent(&code, &a, &b, 120000) == S_OK)
            if (code == EC_COMPLETE) break;
        control->Stop();
        return code == EC_COMPLETE;
    }
};

const Movie* fullMovie(benchmark::State& state) {
    const Movie& m = movie(fullRateMovie());
    if (m.path.empty()) {
        state.SkipWithError("the movie could not be made");
        return nullptr;
    }
    return &m;
}

void BM_MbcRealTimePlayback(benchmark::State& state) {
    const Movie* m = fullMovie(state);
    if (!m) return;
    registerPipelineClasses();
    Mixer::instance().setOutput(createAudioOutput("null"));
    const MovieSpec spec = m->spec;
    std::vector<double> late;
    size_t shown = 0, lateCount = 0;
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        Playback p;
        if (!p.build(*m, true)) {
            state.SkipWithError("graph not built");
            return;
        }
        const double cpu0 = processSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        if (!p.playToEnd()) {
            state.SkipWithError("no completion");
            return;
        }
        cpu += processSeconds() - cpu0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        for (const Drawn& d : p.recorder->drawn()) {
            if (!d.running) continue;
            ++shown;
            late.push_back(double(d.lateness) / 1e4);
            lateCount += d.lateness > 10 * MILLISECONDS;
        }
    }
    Mixer::instance().closeOutput();
    const double runs = double(state.iterations());
    state.counters["shown"] = double(shown) / runs;
    state.counters["missing"] = double(spec.frames) - double(shown) / runs;
    state.counters["late_10ms"] = double(lateCount) / runs;
    state.counters["late_p50_ms"] = percentile(late, 0.5);
    state.counters["late_p99_ms"] = percentile(late, 0.99);
    state.counters["cpu_s"] = cpu / runs;
    state.counters["cpu_pct"] = 100 * cpu / wall;
}
BENCHMARK(BM_MbcRealTimePlayback)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_MbcSplitterNoClock(benchmark::State& state) {
    const Movie* m = fullMovie(state);
    if (!m) return;
    size_t shown = 0;
    double wall = 0;
    for (auto _ : state) {
        Playback p;
        if (!p.build(*m, false) || p.graph.as<IMediaFilter>()->SetSyncSource(nullptr) != S_OK) {
            state.SkipWithError("graph not built");
            return;
        }
        const auto wall0 = std::chrono::steady_clock::now();
        if (!p.playToEnd()) {
            state.SkipWithError("no completion");
            return;
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        for (const Drawn& d : p.recorder->drawn()) shown += d.running;
    }
    const double runs = double(state.iterations());
    state.counters["pictures_per_s"] = double(shown) / wall;
    state.counters["passed_over"] = double(m->spec.frames) - double(shown) / runs;
}
BENCHMARK(BM_MbcSplitterNoClock)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_MbcSourceEveryPicture(benchmark::State& state) {
    const Movie* m = fullMovie(state);
    if (!m) return;
    std::vector<uint8_t> buffer(size_t(kWidth) * kHeight * 4);
    size_t pictures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        InterfacePtr<FileStreamFilter> file(new FileStreamFilter(systemFileCallbacks()));
        file->Load(fromUtf8(m->path.string()).c_str(), nullptr);
        InterfacePtr<IAsyncReader> reader =
            InterfacePtr<IPin>(pinOf(file.get(), FileStreamFilter::kPinName)).as<IAsyncReader>();
        MbcSource source;
        if (!reader || source.open(reader.get()) != S_OK) {
            state.SkipWithError("source not opened");
            return;
        }
        HRESULT hr = S_OK;
        InterfacePtr<IMediaSample> sample(new CMediaSample(u"bench", nullptr, &hr, buffer.data(), LONG(buffer.size())));
        state.ResumeTiming();
        for (;;) {
            source.reader()->waitForFrame(INFINITE);
            DWORD flags = 0;
            if (source.fillSamples(sample.get(), nullptr, &flags) != S_OK) break;
            pictures += (flags & kSplitterVideoFilled) != 0;
        }
    }
    state.counters["pictures_per_s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MbcSourceEveryPicture)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
