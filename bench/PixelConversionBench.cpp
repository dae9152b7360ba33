// Row conversion throughput, scalar kernels against SSE2 ones, on 1920-pixel rows.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "graphics/PixelFormat.h"
#include "graphics/RowConverter.h"

namespace {

constexpr uint32_t kWidth = 1920;

void convertRows(benchmark::State& state, const RowKernels* kernels, int32_t src, int32_t dst, bool keyed) {
    if (!kernels) {
        state.SkipWithError("kernels not available");
        return;
    }
    std::mt19937 rng(1);
    std::vector<uint8_t> in(kWidth * 4 + 16), out(kWidth * 4 + 16);
    for (auto& b : in) b = uint8_t(rng());
    for (auto _ : state) {
        bool ok = keyed ? convertRowKeyedWith(*kernels, out.data() + 1, dst, in.data() + 1, src, 0xFF00FF00u, kWidth)
                        : convertRowWith(*kernels, out.data() + 1, dst, in.data() + 1, src, kWidth);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());  // rows
    state.SetBytesProcessed(state.iterations() * int64_t(kWidth) * pixelFormatBytes(src));
}

void registerAll() {
    struct Pair {
        const char* name;
        int32_t src, dst;
        bool keyed;
    } pairs[] = {
        {"copy_A8R8G8B8", 9, 9, false},           {"X8R8G8B8_to_A8R8G8B8", 8, 9, false},
        {"R5G6B5_to_X8R8G8B8", 3, 8, false},      {"R8G8B8_to_X8R8G8B8", 6, 8, false},
        {"A8R8G8B8_to_R5G6B5", 9, 3, false},      {"A8R8G8B8_to_R8G8B8", 9, 6, false},
        {"A4R4G4B4_to_A8R8G8B8", 5, 9, false},    {"R8G8B8_to_A4R4G4B4", 6, 5, false},
        {"keyed_R8G8B8_to_A8R8G8B8", 6, 9, true}, {"keyed_X8R8G8B8_to_A8R8G8B8", 8, 9, true},
    };
    for (const Pair& p : pairs) {
        benchmark::RegisterBenchmark((std::string(p.name) + "/scalar").c_str(), convertRows, &scalarRowKernels(), p.src,
                                     p.dst, p.keyed);
        benchmark::RegisterBenchmark((std::string(p.name) + "/sse2").c_str(), convertRows, sse2RowKernels(), p.src,
                                     p.dst, p.keyed);
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
