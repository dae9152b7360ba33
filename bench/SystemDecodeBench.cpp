// Decode throughput of the system filters over FFmpeg: a 1280x720 H.264 file and an
// MPEG-1 system file decoded through the graph (source, splitter, decoder, a sink that
// only counts) to RGB32 and to YV12, next to the ffmpeg command decoding the same file to
// the same pixel format in the same run. Reports pictures per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/PipelineClasses.h"
#include "platform/dshow/system/SystemClassIds.h"
#include "tests/platform/dshow/SystemTestSupport.h"

using namespace systemtest;

namespace {

constexpr int kBenchFrames = 250;
constexpr CLSID kCountingSinkClass = guidOf("{5B1E7006-2C3D-4E5F-8A9B-0C1D2E3F4A5B}");

class CountingSink;

class CountingPin : public CBaseInputPin {
public:
    CountingPin(CountingSink* sink, CriticalSection* lock, const GUID& subtype);
    HRESULT CheckMediaType(const CMediaType* mt) override { return videoOf(*mt, subtype_) ? S_OK : S_FALSE; }
    HRESULT Receive(IMediaSample* s) override;
    HRESULT EndOfStream() override;
    HRESULT ReceiveCanBlock() override { return S_FALSE; }

private:
    CountingSink* sink_;
    GUID subtype_;
};

class CountingSink : public CBaseFilter {
public:
    explicit CountingSink(const GUID& subtype)
        : CBaseFilter(u"Counting Sink", &lock_, kCountingSinkClass), pin_(this, &lock_, subtype) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    void count() { frames_.fetch_add(1); }
    void end() {
        std::lock_guard<std::mutex> g(mutex_);
        ended_ = true;
        cv_.notify_all();
    }
    int waitForEnd() {
        std::unique_lock<std::mutex> l(mutex_);
        cv_.wait_for(l, std::chrono::seconds(120), [&] { return ended_; });
        return frames_.load();
    }

private:
    CriticalSection lock_;
    CountingPin pin_;
    std::atomic<int> frames_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ended_ = false;
};

CountingPin::CountingPin(CountingSink* sink, CriticalSection* lock, const GUID& subtype)
    : CBaseInputPin(u"Counting input", sink, lock, nullptr, u"In"), sink_(sink), subtype_(subtype) {}

HRESULT CountingPin::Receive(IMediaSample* s) {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr == S_OK) sink_->count();
    return hr;
}

HRESULT CountingPin::EndOfStream() {
    sink_->end();
    return S_OK;
}

std::filesystem::path benchFile(const std::string& kind) {
    static testsupport::TempDir dir;
    std::filesystem::path out = dir / ("bench." + kind);
    if (std::filesystem::exists(out)) return out;
    std::string codec = kind == "mp4" ? "-c:v libx264 -pix_fmt yuv420p -preset fast" : "-c:v mpeg1video -q:v 3 -f mpeg";
    std::string cmd = "ffmpeg -y -loglevel error -f lavfi -i testsrc2=s=1280x720:r=25:d=10 " + codec + " \"" +
                      out.string() + "\" >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? out : std::filesystem::path();
}

void decodeThroughGraph(benchmark::State& state, const std::string& kind, const GUID& subtype, const GUID& output) {
    std::filesystem::path file = benchFile(kind);
    if (file.empty()) {
        state.SkipWithError("the ffmpeg command is missing");
        return;
    }
    registerPipelineClasses();
    std::vector<uint8_t> bytes = testsupport::readFile(file);
    int frames = 0;
    for (auto _ : state) {
        InterfacePtr<FilterGraph> graph(new FilterGraph());
        graph->SetSyncSource(nullptr);
        InterfacePtr<ByteSource> source(new ByteSource(subtype, readerOver(bytes).get()));
        InterfacePtr<CountingSink> sink(new CountingSink(output));
        graph->AddFilter(source.get(), u"Source");
        graph->AddFilter(sink.get(), u"Sink");
        if (FAILED(graph->Render(source->output()))) {
            state.SkipWithError("the file did not render");
            return;
        }
        graph->Pause();
        frames += sink->waitForEnd();
        graph->Stop();
    }
    state.counters["pictures/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

void decodeWithFfmpeg(benchmark::State& state, const std::string& kind, const char* pixelFormat) {
    std::filesystem::path file = benchFile(kind);
    if (file.empty()) {
        state.SkipWithError("the ffmpeg command is missing");
        return;
    }
    // The same two decoding threads the system decoder uses.
    std::string cmd = "ffmpeg -loglevel error -threads 2 -i \"" + file.string() + "\" -pix_fmt " + pixelFormat +
                      " -f null - >/dev/null 2>&1";
    int frames = 0;
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        frames += kBenchFrames;
    }
    state.counters["pictures/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(decodeThroughGraph, h264_720p_rgb32, "mp4", kMp4StreamSubtype, MEDIASUBTYPE_RGB32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(decodeThroughGraph, h264_720p_yv12, "mp4", kMp4StreamSubtype, MEDIASUBTYPE_YV12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(decodeWithFfmpeg, h264_720p_bgra, "mp4", "bgra")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(decodeThroughGraph, mpeg1_720p_rgb32, "mpg", MEDIASUBTYPE_MPEG1System, MEDIASUBTYPE_RGB32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(decodeWithFfmpeg, mpeg1_720p_bgra, "mpg", "bgra")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
