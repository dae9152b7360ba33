// Audio output figures: how long a block waits before an output picks it up (plus the
// device buffer the output reports), and what mixing and resampling cost per second of
// audio. The SDL2 figure needs a sound device; without one SDL's driver list falls back
// and the benchmark says which driver it measured.
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/audio/AudioOutputRegistry.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/SdlAudioOutput.h"

namespace {

using Clock = std::chrono::steady_clock;

void pickupLatency(benchmark::State& state, const char* outputName) {
    Mixer mixer;
    auto output = createAudioOutput(outputName);
    auto* sdl = dynamic_cast<SdlAudioOutput*>(output.get());
    if (!mixer.setOutput(std::move(output))) {
        state.SkipWithError("output does not open here (no device)");
        return;
    }
    if (sdl) state.SetLabel(std::string("driver ") + sdl->driver());
    auto input = mixer.createInput({SampleType::F32, 48000, 2, 0});
    std::vector<float> block(480 * 2, 0.0f);
    for (auto _ : state) {
        input->flush();
        uint64_t before = input->consumedFrames();
        auto t0 = Clock::now();
        input->write(block.data(), 480);
        while (input->consumedFrames() == before) std::this_thread::yield();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    state.counters["buffer_ms"] = mixer.outputLatencyFrames() / 48.0;
    mixer.closeOutput();
}

// Eight renderers' worth of 44.1 kHz 16-bit stereo, resampled and mixed: one second of
// output per iteration.
void mixEightResampledInputs(benchmark::State& state) {
    Mixer mixer;
    mixer.closeOutput();
    std::vector<std::shared_ptr<MixerInput>> inputs;
    for (int i = 0; i < 8; ++i) {
        inputs.push_back(mixer.createInput({SampleType::S16, 44100, 2, 0}));
        inputs.back()->setCapacityMs(2000);
        inputs.back()->setVolume(-600 * i);
    }
    std::vector<int16_t> pcm(4410 * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
    std::vector<float> out(480 * 2);
    for (auto _ : state) {
        for (int block = 0; block < 10; ++block) {
            for (auto& in : inputs) in->write(pcm.data(), 4410);
            for (int i = 0; i < 10; ++i) mixer.mix(out.data(), 480, false);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(pickupLatency, sdl, "sdl")->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pickupLatency, null, "null")->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK(mixEightResampledInputs)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
