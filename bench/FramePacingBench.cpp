// Frame pacing accuracy: a FramePacer at 60 fps for 600 frames on the real time source
// and the real sleep. Reports how far each frame start lands from its ideal time
// (reset + (k + 1) * 1000 / 60 ms), as p50 and p99 in ms, and the pacer's own
// measured rate; once on the default tick count, once with the timer resolution raised.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "framework/FramePacer.h"
#include "framework/TimerResolution.h"

namespace {

constexpr int kFrames = 600;

void paceFrames(benchmark::State& state, bool raised) {
    if (raised) TimerResolution::acquire(0);
    std::vector<double> offsets;
    double rate = 0;
    for (auto _ : state) {
        offsets.clear();
        FramePacer pacer;
        pacer.setRate(60);
        auto origin = std::chrono::steady_clock::now();
        pacer.reset();
        for (int k = 0; k < kFrames; ++k) {
            pacer.waitNextFrame();
            double actualMs =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - origin).count();
            double idealMs = (k + 1) * 1000.0 / 60.0;
            offsets.push_back(std::fabs(actualMs - idealMs));
        }
        rate = pacer.measuredRate() / 65536.0;
    }
    if (raised) TimerResolution::release();
    std::sort(offsets.begin(), offsets.end());
    auto percentile = [&](double p) { return offsets[static_cast<size_t>(p * (offsets.size() - 1))]; };
    state.counters["p50_ms"] = percentile(0.50);
    state.counters["p99_ms"] = percentile(0.99);
    state.counters["max_ms"] = offsets.back();
    state.counters["measured_fps"] = rate;
}

void BM_FramePacing60TickCount(benchmark::State& state) {
    paceFrames(state, false);
}
void BM_FramePacing60RaisedResolution(benchmark::State& state) {
    paceFrames(state, true);
}

BENCHMARK(BM_FramePacing60TickCount)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FramePacing60RaisedResolution)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
