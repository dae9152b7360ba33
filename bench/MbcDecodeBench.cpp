// MBC video decoding speed: 4:2:0, DCT, deblocking on, an I/B/B/P pattern, one thread,
// scalar kernels against SSE2 ones; and, for scale, ffmpeg decoding an MPEG-2 stream of
// the same pictures at a similar bit rate with one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "splitters/MbcVideoDecoder.h"
#include "tools/mbcenc/MbcSequenceEncoder.h"

namespace {

constexpr int kFrames = 12;

// Smooth shading with moving soft shapes and fine texture.
std::vector<uint8_t> picture(int w, int h, int t) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 4);
    std::vector<double> sx(w), cx(w);
    for (int x = 0; x < w; ++x) {
        sx[x] = std::sin((x - 3.0 * t) / 37.0);
        cx[x] = std::cos((x - 3.0 * t) / 11.0);
    }
    for (int y = 0; y < h; ++y) {
        double sy = std::cos((y - 1.0 * t) / 53.0), ty = std::sin((y - 1.0 * t) / 7.0);
        for (int x = 0; x < w; ++x) {
            double v = 128 + 70 * sx[x] * sy + 12 * cx[x] * ty;
            double dx = x - w * 0.5 - 4.0 * t, dy = y - h * 0.5;
            double blob = (dx * dx + dy * dy) < (h * h / 16.0) ? 50 : 0;
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 4];
            q[0] = static_cast<uint8_t>(std::clamp(v * 0.8 + blob, 0.0, 255.0));
            q[1] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            q[2] = static_cast<uint8_t>(std::clamp(255 - v + blob * 0.5, 0.0, 255.0));
            q[3] = 255;
        }
    }
    return p;
}

struct Stream {
    int width = 0, height = 0;
    uint32_t flags = 0;
    std::vector<MbcEncodedRecord> records;
    std::vector<uint8_t> intraMatrix, interMatrix;
    size_t bytes = 0;
};

const Stream& stream(int w, int h) {
    static std::map<int, std::unique_ptr<Stream>> cache;
    auto& slot = cache[w];
    if (slot) return *slot;
    slot = std::make_unique<Stream>();
    Stream& s = *slot;
    s.width = w;
    s.height = h;
    MbcEncoderSettings settings;
    settings.width = static_cast<uint32_t>(w);
    settings.height = static_cast<uint32_t>(h);
    settings.layout = 3;
    settings.quantiser = 8;
    settings.searchRange = 3;
    MbcSequenceEncoder seq;
    if (!seq.configure(settings, "IBBPBBPBBPBB")) std::abort();
    for (int i = 0; i < kFrames; ++i) {
        auto p = picture(w, h, i);
        if (!seq.addFrame(p.data(), w * 4, s.records)) std::abort();
    }
    seq.finish(s.records);
    s.flags = seq.codecFlags();
    s.intraMatrix.assign(seq.encoder().intraMatrix(), seq.encoder().intraMatrix() + 64);
    s.interMatrix.assign(seq.encoder().interMatrix(), seq.encoder().interMatrix() + 64);
    for (const auto& r : s.records) s.bytes += r.payload.size();
    return s;
}

void decodeAll(benchmark::State& state, MbcCpuLevel level) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const Stream& s = stream(w, h);
    if (!mbcCpuLevelSupported(level)) {
        state.SkipWithError("level not supported here");
        return;
    }
    MbcVideoDecoder dec;
    if (!dec.configure(w, h, s.flags | MbcVideoDecoder::kOutputOpaque)) std::abort();
    dec.setCpuLevel(level);
    std::vector<MbcPicture> pics(kFrames);
    const bool convert = state.range(2) != 0;
    std::vector<uint8_t> bgra(convert ? static_cast<size_t>(w) * h * 4 : 0);
    for (auto _ : state) {
        for (const auto& r : s.records) {
            MbcPicture& pic = pics[r.frame];
            const MbcPicture* past = r.backward ? &pics[r.frame - r.backward] : nullptr;
            const MbcPicture* future = r.forward ? &pics[r.frame + r.forward] : nullptr;
            if (!dec.decodeFrame(r.payload.data(), r.payload.size(), r.type, pic, past, future, s.intraMatrix.data(),
                                 s.interMatrix.data()))
                std::abort();
            if (convert) dec.convertPicture(pic, bgra.data(), w * 4);
        }
        benchmark::ClobberMemory();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
    state.counters["kbit/frame"] = static_cast<double>(s.bytes) * 8 / 1000 / kFrames;
}

void BM_MbcDecodeScalar(benchmark::State& state) {
    decodeAll(state, MbcCpuLevel::Scalar);
}
void BM_MbcDecodeSse2(benchmark::State& state) {
    decodeAll(state, MbcCpuLevel::Sse2);
}

// ffmpeg decoding MPEG-2 of the same pictures at about the same bit rate (constant rate),
// one thread. Its time is processor time, like the decoder's above.
void BM_FfmpegMpeg2Decode(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const Stream& s = stream(w, h);
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        state.SkipWithError("ffmpeg not installed");
        return;
    }
    auto dir = std::filesystem::temp_directory_path() / ("mbcbench-" + std::to_string(w));
    std::filesystem::create_directories(dir);
    auto raw = dir / "in.bgra", m2v = dir / "out.m2v";
    {
        std::FILE* f = std::fopen(raw.c_str(), "wb");
        for (int i = 0; i < kFrames; ++i) {
            auto p = picture(w, h, i);
            std::fwrite(p.data(), 1, p.size(), f);
        }
        std::fclose(f);
    }
    const long kbps = static_cast<long>(static_cast<double>(s.bytes) * 8 / kFrames * 25 / 1000);
    std::string enc = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt bgra -s " + std::to_string(w) + "x" +
                      std::to_string(h) + " -r 25 -i " + raw.string() + " -c:v mpeg2video -g 12 -bf 2 -b:v " +
                      std::to_string(kbps) + "k -minrate " + std::to_string(kbps) + "k -maxrate " +
                      std::to_string(kbps) + "k -bufsize " + std::to_string(kbps) + "k " + m2v.string();
    if (std::system(enc.c_str()) != 0) {
        state.SkipWithError("ffmpeg could not encode");
        return;
    }
    // Repeat the decode to cover process start-up: 20 passes over the stream.
    std::string dec = "ffmpeg -loglevel error -threads 1 -stream_loop 19 -i " + m2v.string() + " -f null -";
    // The child's processor time, comparable with the decoder's processor time above
    // however busy the machine is.
    auto childSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    for (auto _ : state) {
        double t0 = childSeconds();
        if (std::system(dec.c_str()) != 0) state.SkipWithError("ffmpeg could not decode");
        state.SetIterationTime(childSeconds() - t0);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kFrames * 20, benchmark::Counter::kIsRate);
    state.counters["kbit/frame"] = static_cast<double>(std::filesystem::file_size(m2v)) * 8 / 1000 / kFrames;
    std::filesystem::remove_all(dir);
}

}  // namespace

// Arguments: width, height, convert to BGRA as well (1) or decode only (0).
BENCHMARK(BM_MbcDecodeScalar)->Args({1280, 720, 0})->Args({1920, 1080, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MbcDecodeSse2)
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegMpeg2Decode)
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0})
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
