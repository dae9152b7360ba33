#pragma once
// A ten-second 1280x720 MBC movie with stereo WBCF sound, made with the project's encoder,
// and the probes that play it through a graph. Each picture carries its frame number as
// a bar code and each sound sample its own position, so what a renderer draws and what
// the mix captured can be traced back exactly to where it came from in the file.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseVideoRenderer.h"
#include "framework/dshow/CTransformFilter.h"
#include "framework/dshow/Dshow.h"
#include "framework/dshow/Formats.h"
#include "splitters/WbcfDecoder.h"
#include "tools/mbcenc/MbcFileWriter.h"
#include "tools/mbcenc/WbcfEncoder.h"

namespace mbcmovie {

// Instrumented builds decode and encode many times slower: they play a smaller picture
// through the same code.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kWidth = 384, kHeight = 224;
#else
constexpr uint32_t kWidth = 1280, kHeight = 720;
#endif
constexpr const char* kPattern = "IBBPBBPBBPBB";
constexpr uint32_t kSampleRate = 48000;  // the mix rate: the capture holds the very samples
constexpr uint16_t kChannels = 2;

// Ten seconds (and a hundredth) at a rate of the NTSC kind, so frame times truncate.
struct MovieSpec {
    uint32_t rateNumerator = 10000, rateDenominator = 1001;
    uint32_t frames = 100;
    uint32_t chunkFrames = 10;

    // The file's time arithmetic, 64-bit and truncating.
    int64_t frameTime(uint64_t n) const {
        return static_cast<int64_t>(n * rateDenominator * 10000000ull / rateNumerator);
    }
    int64_t frameTimeMs(uint64_t n) const {
        return static_cast<int64_t>(n * rateDenominator * 1000ull / rateNumerator);
    }
    uint64_t soundFrames() const { return uint64_t(frames) * kSampleRate * rateDenominator / rateNumerator; }
    // Whether frame n is stored as an Intra picture (each chunk restarts the pattern).
    bool isIntra(uint32_t n) const { return kPattern[(n % chunkFrames) % std::strlen(kPattern)] == 'I'; }
    bool operator<(const MovieSpec& o) const {
        return std::tie(rateNumerator, rateDenominator, frames, chunkFrames) <
               std::tie(o.rateNumerator, o.rateDenominator, o.frames, o.chunkFrames);
    }
};

// Quick to make: what the tests play.
inline MovieSpec testMovie() {
    return {};
}
// 29.97 pictures a second, as movies usually run: what the benchmarks play.
inline MovieSpec fullRateMovie() {
    return {30000, 1001, 300, 30};
}

// ---- Pictures ----

constexpr int kBits = 10;
constexpr int kCell = 32;  // bar code cells of 2 x 2 macroblocks along the top

// Picture n: a still shaded background, a square moving across it, and the bar code.
inline void drawPicture(std::vector<uint8_t>& bgra, uint32_t n) {
    bgra.resize(size_t(kWidth) * kHeight * 4);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t* p = &bgra[(size_t(y) * kWidth + x) * 4];
            p[0] = static_cast<uint8_t>(60 + x * 120 / kWidth);
            p[1] = static_cast<uint8_t>(70 + y * 100 / kHeight);
            p[2] = static_cast<uint8_t>(90 + (x + y) * 60 / (kWidth + kHeight));
            p[3] = 255;
        }
    const uint32_t side = kHeight / 4, bx = (n * 16) % (kWidth - side), by = kHeight / 3;
    for (uint32_t y = by; y < by + side; ++y)
        for (uint32_t x = bx; x < bx + side; ++x) {
            uint8_t* p = &bgra[(size_t(y) * kWidth + x) * 4];
            p[0] = 40, p[1] = 200, p[2] = 230;
        }
    for (int b = 0; b < kBits; ++b) {
        const uint8_t v = (n >> b) & 1 ? 235 : 16;
        for (int y = 0; y < kCell; ++y)
            for (int x = 0; x < kCell; ++x) {
                uint8_t* p = &bgra[(size_t(y) * kWidth + size_t(b) * kCell + x) * 4];
                p[0] = p[1] = p[2] = v;
            }
    }
}

// The frame number a delivered picture shows; -1 when a cell is neither clearly dark nor
// clearly light.
inline int frameNumberOf(const uint8_t* bgra, ptrdiff_t stride) {
    int n = 0;
    for (int b = 0; b < kBits; ++b) {
        const uint8_t* p = bgra + ptrdiff_t(kCell / 2) * stride + (b * kCell + kCell / 2) * 4;
        const int g = p[1];
        if (g > 170)
            n |= 1 << b;
        else if (g > 80)
            return -1;
    }
    return n;
}

// ---- Sound ----

// Sample i: the left channel holds the low 16 bits of i, the right one the rest plus one
// (never both silent). Every step is +1 or 0, which the delta mode codes exactly.
inline int16_t soundAt(uint64_t i, int channel) {
    return channel == 0 ? static_cast<int16_t>(static_cast<uint16_t>(i & 0xFFFF)) : static_cast<int16_t>((i >> 16) + 1);
}
// The sample position a mixed stereo float frame came from; -1 for anything else.
inline int64_t positionOf(float left, float right) {
    const float l = left * 32768.0f, r = right * 32768.0f;
    if (l != std::nearbyint(l) || r != std::nearbyint(r) || r < 1) return -1;
    return (int64_t(r) - 1) << 16 | int64_t(static_cast<uint16_t>(static_cast<int16_t>(l)));
}

struct Movie {
    MovieSpec spec;
    std::filesystem::path path;
    uint64_t bytes = 0;
    // The sound as the WBCF decoder gives it back, interleaved.
    std::vector<int16_t> pcm;
    double encodeSeconds = 0;
};

class TempFolder {
public:
    TempFolder() {
        path_ = std::filesystem::temp_directory_path() /
                ("layerdeck-mbcmovie-" + std::to_string(::getpid()) + "-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The sound region decoded on its own, as a reference for what must be heard.
inline std::vector<int16_t> decodeSound(const std::vector<uint8_t>& region, uint64_t frames) {
    struct View {
        const std::vector<uint8_t>* bytes;
        int64_t at = 0;
    } view{&region};
    static const StreamCallbacks table{
        [](LPCWSTR, uint32_t, uint32_t, uint32_t) -> HANDLE { return nullptr; },
        [](HANDLE h, void* buffer, uint32_t count, uint32_t* got) {
            auto* v = static_cast<View*>(h);
            const int64_t left = std::max<int64_t>(0, int64_t(v->bytes->size()) - v->at);
            *got = uint32_t(std::min<int64_t>(count, left));
            std::memcpy(buffer, v->bytes->data() + v->at, *got);
            v->at += *got;
            return true;
        },
        [](HANDLE h, int64_t position, uint32_t origin) {
            auto* v = static_cast<View*>(h);
            const int64_t base = origin == 0 ? 0 : origin == 1 ? v->at : int64_t(v->bytes->size());
            if (base + position < 0) return false;
            v->at = base + position;
            return true;
        },
        [](HANDLE h, int64_t* size) {
            *size = int64_t(static_cast<View*>(h)->bytes->size());
            return true;
        },
        [](HANDLE) {}};
    WbcfDecoder decoder;
    std::vector<int16_t> pcm;
    if (decoder.open(table, &view) != WbcfDecoder::Status::Ready) return pcm;
    pcm.resize(frames * kChannels);
    pcm.resize(decoder.read(pcm.data(), frames) * kChannels);
    return pcm;
}

inline Movie makeMovie(const MovieSpec& spec, const std::filesystem::path& folder) {
    Movie made;
    made.spec = spec;
    const auto began = std::chrono::steady_clock::now();
    MbcFileOptions o;
    o.video.width = kWidth;
    o.video.height = kHeight;
    o.video.quantiser = 10;
    o.video.searchRange = 0;
    o.pattern = kPattern;
    o.chunkLength = spec.chunkFrames;
    o.rateNumerator = spec.rateNumerator;
    o.rateDenominator = spec.rateDenominator;
    MbcFileWriter writer;
    if (!writer.begin(o)) return made;
    std::vector<uint8_t> picture;
    for (uint32_t n = 0; n < spec.frames; ++n) {
        drawPicture(picture, n);
        if (!writer.addFrame(picture.data(), kWidth * 4)) return made;
    }
    const uint64_t frames = spec.soundFrames();
    std::vector<int16_t> sound(frames * kChannels);
    for (uint64_t i = 0; i < frames; ++i)
        for (int c = 0; c < kChannels; ++c) sound[i * kChannels + c] = soundAt(i, c);
    const WbcfEncoderOptions wbcf{1, 2048};
    if (!writer.setAudio(sound.data(), frames, kChannels, kSampleRate, wbcf)) return made;
    std::vector<uint8_t> file;
    if (!writer.finish(file)) return made;
    std::vector<uint8_t> region;
    if (!encodeWbcf(sound.data(), frames, kChannels, kSampleRate, wbcf, region)) return made;
    made.pcm = decodeSound(region, frames);
    const std::filesystem::path path = folder / ("movie-" + std::to_string(spec.frames) + ".mbc");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return made;
    const bool wrote = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    std::fclose(f);
    if (!wrote) return made;
    made.path = path;
    made.bytes = file.size();
    made.encodeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return made;
}

// Each movie is made once per process (smooth content, a minimal motion search).
inline const Movie& movie(const MovieSpec& spec = testMovie()) {
    static TempFolder folder;
    static std::mutex mutex;
    static std::map<MovieSpec, Movie> made;
    std::lock_guard<std::mutex> g(mutex);
    auto it = made.find(spec);
    if (it == made.end()) it = made.emplace(spec, makeMovie(spec, folder.path())).first;
    return it->second;
}

// ---- Probes ----

struct Drawn {
    int number;  // from the bar code
    REFERENCE_TIME start, stop, mediaStart, mediaStop;
    REFERENCE_TIME lateness;  // clock time of the drawing minus the due time
    bool running, sync, discontinuity;
    LONG length;
    uint64_t captured;  // sound frames captured when the picture was drawn
};

constexpr CLSID kRecorderClass = guidOf("{52C0D7A0-3B8E-4F61-A0C2-7E19B44D6A10}");
constexpr CLSID kTapClass = guidOf("{52C0D7A1-3B8E-4F61-A0C2-7E19B44D6A10}");

// A video renderer on the graph's clock that reads back what each picture shows.
class PictureRecorder : public CBaseVideoRenderer {
public:
    // capturedFrames: how far the sound capture has got (may be empty).
    explicit PictureRecorder(std::function<uint64_t()> capturedFrames = {})
        : CBaseVideoRenderer(kRecorderClass, u"Picture Recorder", nullptr), captured_(std::move(capturedFrames)) {}

    HRESULT CheckMediaType(const CMediaType* mt) override {
        if (mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo ||
            (mt->subtype != MEDIASUBTYPE_RGB32 && mt->subtype != MEDIASUBTYPE_ARGB32) ||
            mt->FormatLength() < sizeof(VIDEOINFOHEADER))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    HRESULT SetMediaType(const CMediaType* mt) override {
        std::lock_guard<std::mutex> g(mutex_);
        type_ = *mt;
        stride_ = reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format())->bmiHeader.biWidth * 4;
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample* s) override {
        Drawn d{};
        s->GetTime(&d.start, &d.stop);
        s->GetMediaTime(&d.mediaStart, &d.mediaStop);
        REFERENCE_TIME now = 0;
        if (m_pClock) m_pClock->GetTime(&now);
        d.lateness = now - (startTime() + d.start);
        d.running = !prerolling_ && state() == State_Running;
        d.sync = s->IsSyncPoint() == S_OK;
        d.discontinuity = s->IsDiscontinuity() == S_OK;
        d.length = s->GetActualDataLength();
        d.captured = captured_ ? captured_() : 0;
        BYTE* p = nullptr;
        std::lock_guard<std::mutex> g(mutex_);
        d.number =
            SUCCEEDED(s->GetPointer(&p)) && stride_ > 0 && d.length >= stride_ * kCell ? frameNumberOf(p, stride_) : -1;
        drawn_.push_back(d);
        cv_.notify_all();
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample* s) override {
        prerolling_ = true;
        CBaseVideoRenderer::OnReceiveFirstSample(s);
        prerolling_ = false;
    }

    std::vector<Drawn> drawn() {
        std::lock_guard<std::mutex> g(mutex_);
        return drawn_;
    }
    CMediaType type() {
        std::lock_guard<std::mutex> g(mutex_);
        return type_;
    }
    bool waitForDrawn(size_t count) {
        std::unique_lock<std::mutex> l(mutex_);
        return cv_.wait_for(l, std::chrono::seconds(30), [&] { return drawn_.size() >= count; });
    }

private:
    std::function<uint64_t()> captured_;
    std::mutex mutex_;
    std::condition_variable cv_;
    CMediaType type_;
    LONG stride_ = 0;
    std::vector<Drawn> drawn_;
    bool prerolling_ = false;  // only touched on the delivering thread
};

struct Tapped {
    REFERENCE_TIME start, stop, mediaStart, mediaStop;
    LONG length;
    bool sync, discontinuity;
};

// Passes audio through unchanged and notes each sample's stamps on the way.
class AudioTap : public CTransformFilter {
public:
    AudioTap() : CTransformFilter(u"Audio Tap", kTapClass) {}
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
        BYTE *a = nullptr, *b = nullptr;
        in->GetPointer(&a);
        out->GetPointer(&b);
        const LONG n = std::min(in->GetActualDataLength(), out->GetSize());
        std::memcpy(b, a, size_t(std::max<LONG>(n, 0)));
        out->SetActualDataLength(n);
        Tapped t{};
        in->GetTime(&t.start, &t.stop);
        in->GetMediaTime(&t.mediaStart, &t.mediaStop);
        t.length = in->GetActualDataLength();
        t.sync = in->IsSyncPoint() == S_OK;
        t.discontinuity = in->IsDiscontinuity() == S_OK;
        std::lock_guard<std::mutex> g(mutex_);
        tapped_.push_back(t);
        return S_OK;
    }
    HRESULT CheckInputType(const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Audio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* p) override {
        p->cBuffers = std::max<LONG>(p->cBuffers, 4);
        p->cbBuffer = std::max<LONG>(p->cbBuffer, LONG(m_pInput->CurrentMediaType().GetSampleSize()));
        p->cbAlign = std::max<LONG>(p->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(p, &actual);
    }
    HRESULT GetMediaType(int i, CMediaType* mt) override {
        if (i < 0) return E_INVALIDARG;
        if (i > 0) return VFW_S_NO_MORE_ITEMS;
        if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
        *mt = m_pInput->CurrentMediaType();
        return S_OK;
    }
    std::vector<Tapped> tapped() {
        std::lock_guard<std::mutex> g(mutex_);
        return tapped_;
    }

private:
    std::mutex mutex_;
    std::vector<Tapped> tapped_;
};

// Processor time of the whole process so far, in seconds.
inline double processSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * double(v.size() - 1))];
}

}  // namespace mbcmovie
