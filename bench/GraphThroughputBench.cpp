// Filter graph throughput and presentation accuracy:
// - samples per second through source -> copying transform -> null renderer with
//   1920x1080 BGRA frames and no clock (every stage copies or fills the whole frame);
// - how far each presentation lands from its time stamp on the system clock when a
//   60 fps stream plays in real time for 10 s (p50 and p99, in microseconds).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/dshow/CBaseRenderer.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/SystemClock.h"
#include "tests/platform/dshow/SyntheticFilters.h"

using namespace synthetic;

namespace {

constexpr LONG kFrameBytes = 1920 * 1080 * 4;
constexpr CLSID kCopyClass = guidOf("{6A3E5001-1F0C-4E0B-9E51-3C7D2A8B9F01}");
constexpr CLSID kNullClass = guidOf("{6A3E5002-1F0C-4E0B-9E51-3C7D2A8B9F01}");

class CopyTransform : public ConvertingTransform {
public:
    CopyTransform() : ConvertingTransform(kCopyClass, kSubtypeA, kSubtypeB) {}
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* p) override {
        p->cBuffers = 2;
        p->cbBuffer = kFrameBytes;
        p->cbAlign = 16;
        ALLOCATOR_PROPERTIES actual{};
        return pAlloc->SetProperties(p, &actual);
    }
};

// Draws nothing; remembers how late each sample was presented against its time stamp.
class NullRenderer : public CBaseRenderer {
public:
    explicit NullRenderer(const GUID& subtype) : CBaseRenderer(kNullClass, u"Null Renderer", nullptr), sub_(subtype) {}
    HRESULT CheckMediaType(const CMediaType* mt) override { return mt->subtype == sub_ ? S_OK : E_FAIL; }
    HRESULT DoRenderSample(IMediaSample* s) override {
        if (state() == State_Running && m_pClock) {
            REFERENCE_TIME start = 0, stop = 0, now = 0;
            s->GetTime(&start, &stop);
            m_pClock->GetTime(&now);
            std::lock_guard<std::mutex> g(mutex_);
            lateness_.push_back(now - (startTime() + start));
        }
        ++rendered_;
        return S_OK;
    }
    std::vector<REFERENCE_TIME> lateness() {
        std::lock_guard<std::mutex> g(mutex_);
        return lateness_;
    }
    std::atomic<int> rendered_{0};

private:
    GUID sub_;
    std::mutex mutex_;
    std::vector<REFERENCE_TIME> lateness_;
};

void waitForCompletion(IGraphBuilder* graph) {
    auto events = InterfacePtr<IGraphBuilder>(graph).as<IMediaEventEx>();
    LONG code = 0;
    LONG_PTR a, b;
    while (SUCCEEDED(events->GetEvent(&code, &a, &b, 60000)) && code != EC_COMPLETE) {
    }
}

void BM_GraphThroughput1080p(benchmark::State& state) {
    constexpr int kFrames = 120;
    int64_t samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        InterfacePtr<IGraphBuilder> graph(new FilterGraph());
        auto* source = new FrameSource(MEDIATYPE_Video, kSubtypeA, kFrames, 1, kFrameBytes);
        auto* transform = new CopyTransform();
        auto* renderer = new NullRenderer(kSubtypeB);
        InterfacePtr<IBaseFilter> hold[] = {InterfacePtr<IBaseFilter>(source), InterfacePtr<IBaseFilter>(transform),
                                            InterfacePtr<IBaseFilter>(renderer)};
        graph->AddFilter(source, u"Source");
        graph->AddFilter(transform, u"Copy");
        graph->AddFilter(renderer, u"Null");
        graph->ConnectDirect(source->GetPin(0), transform->GetPin(0), nullptr);
        graph->ConnectDirect(transform->GetPin(1), renderer->GetPin(0), nullptr);
        graph.as<IMediaFilter>()->SetSyncSource(nullptr);  // as fast as the pipeline goes
        auto control = graph.as<IMediaControl>();
        state.ResumeTiming();
        control->Run();
        waitForCompletion(graph.get());
        state.PauseTiming();
        control->Stop();
        samples += renderer->rendered_.load();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(samples);
    state.SetBytesProcessed(samples * kFrameBytes);
}
BENCHMARK(BM_GraphThroughput1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PresentationDeviation60fps(benchmark::State& state) {
    constexpr int kFrames = 600;  // 10 s
    constexpr REFERENCE_TIME kPeriod = UNITS / 60;
    std::vector<REFERENCE_TIME> all;
    for (auto _ : state) {
        InterfacePtr<IGraphBuilder> graph(new FilterGraph());
        auto* source = new FrameSource(MEDIATYPE_Video, kSubtypeA, kFrames, kPeriod, kFrameBytes);
        auto* renderer = new NullRenderer(kSubtypeA);
        InterfacePtr<IBaseFilter> hold[] = {InterfacePtr<IBaseFilter>(source), InterfacePtr<IBaseFilter>(renderer)};
        graph->AddFilter(source, u"Source");
        graph->AddFilter(renderer, u"Null");
        graph->ConnectDirect(source->GetPin(0), renderer->GetPin(0), nullptr);
        graph.as<IMediaFilter>()->SetSyncSource(InterfacePtr<IReferenceClock>(new SystemClock()).get());
        auto control = graph.as<IMediaControl>();
        control->Run();
        waitForCompletion(graph.get());
        control->Stop();
        std::vector<REFERENCE_TIME> l = renderer->lateness();
        all.insert(all.end(), l.begin(), l.end());
    }
    if (all.empty()) return;
    std::sort(all.begin(), all.end());
    auto at = [&](double q) { return static_cast<double>(all[static_cast<size_t>(q * (all.size() - 1))]) / 10.0; };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = at(1.0);
    state.counters["frames"] = static_cast<double>(all.size());
}
BENCHMARK(BM_PresentationDeviation60fps)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
