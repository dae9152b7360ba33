// A movie with a video and an audio stream played by the real engine on the system clock
// in real time: the source comes from the registry by the file's extension, Render finds
// a registered picture sink for the video and the "Audio Renderer" for the sound, whose
// mix goes to a WAV capture paced by the wall clock. The sound is a tone whose pitch
// steps every 200 ms, so the capture tells which part of the movie was heard when.
//
// Timing on a loaded machine is not asserted tightly: pictures must never be early and
// must come in order, and sound and picture must agree to within one 200 ms step.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "../audio/AudioTestUtil.h"
#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/StreamCallbacks.h"
#include "framework/WideString.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/CBaseVideoRenderer.h"
#include "framework/dshow/Dshow.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/SourceSeekingBase.h"
#include "framework/dshow/StreamInterfaces.h"
#include "platform/audio/AudioOutputRegistry.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/WavCaptureOutput.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/PipelineClasses.h"
#include "platform/dshow/SystemClock.h"

using audiotest::Frame;

namespace {

constexpr CLSID kMovieSourceClass = guidOf("{3F1B7A20-6C4D-4E8A-9B21-5D0C7E4A9100}");
constexpr CLSID kPictureSinkClass = guidOf("{3F1B7A21-6C4D-4E8A-9B21-5D0C7E4A9100}");
constexpr GUID kPictureSubtype = guidOf("{3F1B7A22-6C4D-4E8A-9B21-5D0C7E4A9100}");
constexpr const char16_t* kExtension = u".ldmovie";
constexpr char kMagic[8] = {'L', 'D', 'M', 'O', 'V', 'I', 'E', '1'};

constexpr REFERENCE_TIME kFramePeriod = 40 * MILLISECONDS;  // 25 pictures a second
constexpr int kFrames = 100;                                // 4 s
constexpr REFERENCE_TIME kDuration = kFrames * kFramePeriod;
constexpr LONG kPictureBytes = 64;

constexpr uint32_t kRate = 48000;  // the mix rate: the capture holds the very samples sent
constexpr uint32_t kChunkFrames = 960;
constexpr REFERENCE_TIME kChunkTime = 20 * MILLISECONDS;
constexpr int kChunks = static_cast<int>(kDuration / kChunkTime);
constexpr uint32_t kStepFrames = 9600;  // one pitch step, 200 ms
constexpr int kSteps = kFrames / 5;
constexpr double kLeftLevel = 0.5, kRightLevel = 0.25;

double stepHz(int step) {
    return 300.0 + 150.0 * step;
}

// Sample i of the movie's sound. The right channel is a quarter period off the left, so
// the two are never silent together.
int16_t soundAt(uint64_t i, int channel) {
    const int step = static_cast<int>(i / kStepFrames);
    const double phase = 2 * std::numbers::pi * stepHz(step) * static_cast<double>(i) / kRate;
    const double v = channel == 0 ? kLeftLevel * std::sin(phase) : kRightLevel * std::cos(phase);
    return static_cast<int16_t>(std::lround(v * 32767));
}

int stepOfFrame(int frame) {
    return frame / 5;
}

// ---- The movie source ----

class MovieSource;

class MovieSeeking : public SourceSeekingBase {
public:
    explicit MovieSeeking(MovieSource* owner);
    HRESULT GetDuration(LONGLONG* d) override {
        *d = kDuration;
        return S_OK;
    }
    HRESULT GetStopPosition(LONGLONG* s) override { return GetDuration(s); }
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override;
    HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override {
        *e = 0;
        return GetDuration(l);
    }

private:
    MovieSource* owner_;
};

enum class Stream { Video, Audio };

class MoviePin : public CBaseOutputPin {
public:
    MoviePin(MovieSource* filter, CriticalSection* lock, Stream stream);
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        CMediaType mine;
        GetMediaType(0, &mine);
        return *pmt == mine ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 4;
        request->cbBuffer = stream_ == Stream::Video ? kPictureBytes : LONG(kChunkFrames * 4);
        request->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = pAlloc->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer >= request->cbBuffer ? S_OK : E_FAIL;
    }
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    MovieSource* source_;
    Stream stream_;
};

// Numbered pictures on one pin and the stepped tone on the other, each from its own
// thread; a seek flushes both, moves, and restarts them with a new segment. Like the
// product's splitters it seeks once for the several renderers that pass the same
// request up, and always on the first request after a run starts.
class MovieSource : public CBaseFilter, public IFileSourceFilter {
public:
    MovieSource()
        : CBaseFilter(u"Movie Source", &lock_, kMovieSourceClass),
          video_(this, &lock_, Stream::Video),
          audio_(this, &lock_, Stream::Audio),
          seeking_(this) {}
    ~MovieSource() override { stopThreads(); }

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return CBaseFilter::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return CBaseFilter::AddRef(); }
    ULONG Release() override { return CBaseFilter::Release(); }

    HRESULT Load(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        if (!name) return E_POINTER;
        const StreamCallbacks& cb = systemFileCallbacks();
        HANDLE h = cb.open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (!h) return E_INVALIDARG;
        char head[sizeof kMagic] = {};
        uint32_t got = 0;
        bool ok = cb.read(h, head, sizeof head, &got) && got == sizeof head && !std::memcmp(head, kMagic, sizeof head);
        cb.close(h);
        return ok ? S_OK : VFW_E_INVALID_FILE_FORMAT;
    }
    HRESULT GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override { return n == 0 ? static_cast<CBasePin*>(&video_) : n == 1 ? &audio_ : nullptr; }

    HRESULT Pause() override {
        ScopedLock l(lock_);
        bool starting = IsStopped();
        HRESULT hr = CBaseFilter::Pause();
        if (SUCCEEDED(hr) && starting) startThreads();
        return hr;
    }
    HRESULT Run(REFERENCE_TIME tStart) override {
        {
            std::lock_guard<std::mutex> g(positionMutex_);
            lastSeek_ = -1;
        }
        return CBaseFilter::Run(tStart);
    }
    HRESULT Stop() override {
        {
            ScopedLock l(lock_);
            quit_ = true;
            CBaseFilter::Stop();  // decommits: a thread waiting for a buffer gives up
        }
        stopThreads();
        return S_OK;
    }

    LONGLONG seekRequest(LONGLONG position) {
        position = std::clamp<LONGLONG>(position, 0, kDuration);
        {
            std::lock_guard<std::mutex> g(positionMutex_);
            if (position == lastSeek_ && state() != State_Running) return position;
            lastSeek_ = position;
        }
        bool streaming = video_.IsConnected() && (videoThread_.joinable() || audioThread_.joinable());
        if (streaming) {
            quit_ = true;
            video_.DeliverBeginFlush();
            audio_.DeliverBeginFlush();
            stopThreads();
            video_.DeliverEndFlush();
            audio_.DeliverEndFlush();
        }
        {
            std::lock_guard<std::mutex> g(positionMutex_);
            segmentStart_ = position;
        }
        ++seeks_;
        ScopedLock l(lock_);
        if (!IsStopped()) startThreads();
        return position;
    }
    LONGLONG position() {
        std::lock_guard<std::mutex> g(positionMutex_);
        return segmentStart_;
    }
    int seeks() const { return seeks_.load(); }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid != IFileSourceFilter::iid) return CBaseFilter::queryOther(riid, ppv);
        *ppv = static_cast<IFileSourceFilter*>(this);
        AddRef();
        return S_OK;
    }

private:
    void startThreads() {
        quit_ = false;
        REFERENCE_TIME start;
        {
            std::lock_guard<std::mutex> g(positionMutex_);
            start = segmentStart_;
        }
        if (video_.IsConnected()) videoThread_ = std::thread([this, start] { deliverVideo(start); });
        if (audio_.IsConnected()) audioThread_ = std::thread([this, start] { deliverAudio(start); });
    }
    void stopThreads() {
        if (videoThread_.joinable()) videoThread_.join();
        if (audioThread_.joinable()) audioThread_.join();
    }

    // Sends item after item stamped relative to `base`, then the end of the stream.
    template <class Fill>
    void deliver(MoviePin& pin, REFERENCE_TIME base, REFERENCE_TIME period, int count, Fill fill) {
        pin.DeliverNewSegment(base, kDuration, 1.0);
        const int first = static_cast<int>(base / period);
        for (int n = first; n < count && !quit_; ++n) {
            IMediaSample* s = nullptr;
            if (FAILED(pin.GetDeliveryBuffer(&s, nullptr, nullptr, 0)) || !s) return;
            BYTE* p = nullptr;
            s->GetPointer(&p);
            s->SetActualDataLength(fill(p, n));
            REFERENCE_TIME start = n * period - base, stop = start + period;
            s->SetTime(&start, &stop);
            s->SetSyncPoint(TRUE);
            s->SetDiscontinuity(n == first);
            HRESULT hr = quit_ ? S_FALSE : pin.Deliver(s);
            s->Release();
            if (hr != S_OK) return;
        }
        if (!quit_) pin.DeliverEndOfStream();
    }
    void deliverVideo(REFERENCE_TIME base) {
        deliver(video_, base, kFramePeriod, kFrames, [](BYTE* p, int n) {
            std::memset(p, 0, kPictureBytes);
            std::memcpy(p, &n, sizeof n);
            return kPictureBytes;
        });
    }
    void deliverAudio(REFERENCE_TIME base) {
        deliver(audio_, base, kChunkTime, kChunks, [](BYTE* p, int n) {
            auto* pcm = reinterpret_cast<int16_t*>(p);
            for (uint32_t i = 0; i < kChunkFrames; ++i) {
                const uint64_t at = uint64_t(n) * kChunkFrames + i;
                pcm[i * 2] = soundAt(at, 0);
                pcm[i * 2 + 1] = soundAt(at, 1);
            }
            return LONG(kChunkFrames * 4);
        });
    }

    CriticalSection lock_;
    MoviePin video_;
    MoviePin audio_;
    MovieSeeking seeking_;
    std::thread videoThread_, audioThread_;
    std::atomic<bool> quit_{false};
    std::mutex positionMutex_;
    REFERENCE_TIME segmentStart_ = 0;
    LONGLONG lastSeek_ = -1;
    std::atomic<int> seeks_{0};
    friend class MoviePin;
};

MoviePin::MoviePin(MovieSource* filter, CriticalSection* lock, Stream stream)
    : CBaseOutputPin(u"Movie Output", filter, lock, nullptr, stream == Stream::Video ? u"Video" : u"Audio"),
      source_(filter),
      stream_(stream) {}

HRESULT MoviePin::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    if (stream_ == Stream::Video) {
        pmt->SetType(&MEDIATYPE_Video);
        pmt->SetSubtype(&kPictureSubtype);
        pmt->SetFormatType(&FORMAT_None);
        pmt->SetSampleSize(kPictureBytes);
        return S_OK;
    }
    pmt->SetType(&MEDIATYPE_Audio);
    pmt->SetSubtype(&MEDIASUBTYPE_PCM);
    pmt->SetFormatType(&FORMAT_WaveFormatEx);
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 2;
    wf.nSamplesPerSec = kRate;
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = 4;
    wf.nAvgBytesPerSec = kRate * 4;
    pmt->SetFormat(reinterpret_cast<const BYTE*>(&wf), sizeof wf);
    pmt->SetSampleSize(4);
    return S_OK;
}

HRESULT MoviePin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        *ppv = static_cast<IMediaSeeking*>(&source_->seeking_);
        AddRef();
        return S_OK;
    }
    return CBaseOutputPin::queryOther(riid, ppv);
}

MovieSeeking::MovieSeeking(MovieSource* owner) : SourceSeekingBase(static_cast<IBaseFilter*>(owner)), owner_(owner) {}
HRESULT MovieSeeking::GetPositions(LONGLONG* c, LONGLONG* s) {
    if (c) *c = owner_->position();
    if (s) *s = kDuration;
    return S_OK;
}
HRESULT MovieSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
    DWORD kind = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    if (kind == AM_SEEKING_AbsolutePositioning) {
        if (!pCurrent) return E_POINTER;
        LONGLONG t = owner_->seekRequest(*pCurrent);
        if (dwCurrentFlags & AM_SEEKING_ReturnTime) *pCurrent = t;
    } else if (kind != AM_SEEKING_NoPositioning) {
        return E_INVALIDARG;
    }
    if ((dwStopFlags & AM_SEEKING_PositioningBitsMask) && pStop && (dwStopFlags & AM_SEEKING_ReturnTime))
        *pStop = std::clamp<LONGLONG>(*pStop, 0, kDuration);
    return S_OK;
}

// ---- The picture sink ----

struct Shown {
    int frame;
    REFERENCE_TIME sampleStart;
    REFERENCE_TIME lateness;  // clock time of the drawing minus the sample's due time
    bool running;
    uint64_t captured;  // frames in the sound capture when the picture was drawn
};

std::atomic<WavCaptureOutput*> g_capture{nullptr};

class PictureSink : public CBaseVideoRenderer {
public:
    PictureSink() : CBaseVideoRenderer(kPictureSinkClass, u"Picture Sink", nullptr) {}

    static FilterRegistration registration() {
        FilterRegistration r;
        r.clsid = kPictureSinkClass;
        r.name = u"Picture Sink";
        r.merit = MERIT_NORMAL;
        r.create = [](REFIID riid, void** out) -> HRESULT {
            auto* sink = new PictureSink();
            sink->AddRef();
            HRESULT hr = sink->QueryInterface(riid, out);
            sink->Release();
            return hr;
        };
        r.pins = {{false, true, {{MEDIATYPE_Video, kPictureSubtype}}}};
        return r;
    }

    HRESULT CheckMediaType(const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Video && mt->subtype == kPictureSubtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT DoRenderSample(IMediaSample* s) override {
        REFERENCE_TIME start = 0, stop = 0, now = 0;
        s->GetTime(&start, &stop);
        if (m_pClock) m_pClock->GetTime(&now);
        BYTE* p = nullptr;
        int frame = -1;
        if (SUCCEEDED(s->GetPointer(&p)) && s->GetActualDataLength() >= 4) std::memcpy(&frame, p, sizeof frame);
        WavCaptureOutput* capture = g_capture.load();
        Shown shown{frame, start, now - (startTime() + start), !prerolling_ && state() == State_Running,
                    capture ? capture->framesWritten() : 0};
        std::lock_guard<std::mutex> g(mutex_);
        shown_.push_back(shown);
        cv_.notify_all();
        return S_OK;
    }
    void OnReceiveFirstSample(IMediaSample* s) override {
        prerolling_ = true;
        CBaseVideoRenderer::OnReceiveFirstSample(s);
        prerolling_ = false;
    }

    std::vector<Shown> shown() {
        std::lock_guard<std::mutex> g(mutex_);
        return shown_;
    }
    // Waits (generously) for a picture drawn while running that shows `frame` or later.
    bool waitForRunningFrame(int frame, size_t from = 0) {
        std::unique_lock<std::mutex> l(mutex_);
        return cv_.wait_for(l, std::chrono::seconds(30), [&] {
            for (size_t i = from; i < shown_.size(); ++i)
                if (shown_[i].running && shown_[i].frame >= frame) return true;
            return false;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Shown> shown_;
    bool prerolling_ = false;  // only touched on the delivering thread
};

// ---- Reading the capture back ----

constexpr size_t kWindow = 960;  // 20 ms
constexpr int kSilent = -1, kUnclear = -2;

struct Window {
    int step;
    float peakLeft, peakRight;
};

// Which pitch step each 20 ms of the capture holds: the rate of the left channel's zero
// crossings names it; silence, and windows that hold two pitches or none clearly, say so.
std::vector<Window> readSteps(const std::vector<Frame>& f) {
    std::vector<Window> out;
    for (size_t w = 0; w + kWindow <= f.size(); w += kWindow) {
        Window win{kSilent, 0, 0};
        std::vector<double> crossings;
        for (size_t i = w; i < w + kWindow; ++i) {
            win.peakLeft = std::max(win.peakLeft, std::fabs(f[i].left));
            win.peakRight = std::max(win.peakRight, std::fabs(f[i].right));
            if (i > w && (f[i - 1].left < 0) != (f[i].left < 0) && f[i].left != f[i - 1].left)
                crossings.push_back(double(i - 1) + f[i - 1].left / (f[i - 1].left - f[i].left));
        }
        if (win.peakLeft > 0.02f) {
            win.step = kUnclear;
            if (crossings.size() >= 6) {
                double lo = 1e9, hi = 0;
                for (size_t i = 1; i < crossings.size(); ++i) {
                    lo = std::min(lo, crossings[i] - crossings[i - 1]);
                    hi = std::max(hi, crossings[i] - crossings[i - 1]);
                }
                const double hz = double(crossings.size() - 1) * kRate / (2 * (crossings.back() - crossings.front()));
                const int step = static_cast<int>(std::lround((hz - 300.0) / 150.0));
                // One steady pitch across the window, close to one of the steps.
                if (hi < lo * 1.5 + 1 && step >= 0 && step < kSteps && std::fabs(hz - stepHz(step)) < 40)
                    win.step = step;
            }
        }
        out.push_back(win);
    }
    return out;
}

// The steps heard, in order, each run of equal steps once (silence and unclear windows
// between them ignored).
std::vector<int> stepsHeard(const std::vector<Window>& windows) {
    std::vector<int> out;
    for (const Window& w : windows)
        if (w.step >= 0 && (out.empty() || out.back() != w.step)) out.push_back(w.step);
    return out;
}

std::vector<int> range(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) v.push_back(i);
    return v;
}

size_t soundingFrames(const std::vector<Frame>& f) {
    return static_cast<size_t>(
        std::count_if(f.begin(), f.end(), [](const Frame& x) { return x.left != 0 || x.right != 0; }));
}

double percentile(std::vector<REFERENCE_TIME> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[static_cast<size_t>(q * double(v.size() - 1))]);
}

std::vector<Shown> runningOnly(const std::vector<Shown>& all, size_t from = 0, size_t to = SIZE_MAX) {
    std::vector<Shown> out;
    for (size_t i = from; i < std::min(to, all.size()); ++i)
        if (all[i].running) out.push_back(all[i]);
    return out;
}

// ---- The rig ----

class GraphRealTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerPipelineClasses();
        FilterRegistration source;
        source.clsid = kMovieSourceClass;
        source.name = u"Movie Source";
        source.merit = MERIT_NORMAL;
        source.create = [](REFIID riid, void** out) -> HRESULT {
            auto* s = new MovieSource();
            s->AddRef();
            HRESULT hr = s->QueryInterface(riid, out);
            s->Release();
            return hr;
        };
        source.pins = {{true, false, {{MEDIATYPE_Video, kPictureSubtype}}}, {true, false, {{MEDIATYPE_Audio}}}};
        source.extensions = {kExtension};
        ASSERT_TRUE(FilterRegistry::instance().registerFilter(source));
        ASSERT_TRUE(FilterRegistry::instance().registerFilter(PictureSink::registration()));

        moviePath = dir / "clip.ldmovie";
        testsupport::writeFile(moviePath, std::vector<uint8_t>(kMagic, kMagic + sizeof kMagic));
        capturePath = dir / "heard.wav";
        auto out = createAudioOutput("wav", capturePath.string());
        ASSERT_TRUE(out);
        capture = dynamic_cast<WavCaptureOutput*>(out.get());
        ASSERT_TRUE(capture);
        ASSERT_TRUE(Mixer::instance().setOutput(std::move(out)));
        g_capture = capture;

        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, graph.put()), S_OK);
        control = graph.as<IMediaControl>();
        events = graph.as<IMediaEventEx>();
        seeking = graph.as<IMediaSeeking>();
        buildGraph();
    }
    void TearDown() override {
        if (control) control->Stop();
        sink.reset();
        source.reset();
        control.reset();
        events.reset();
        seeking.reset();
        graph.reset();
        g_capture = nullptr;
        Mixer::instance().closeOutput();
        FilterRegistry::instance().unregisterFilter(kMovieSourceClass);
        FilterRegistry::instance().unregisterFilter(kPictureSinkClass);
    }

    // The file's source by its extension, each output rendered by what the registry has.
    void buildGraph() {
        const std::u16string name = fromUtf8(moviePath.string());
        InterfacePtr<IBaseFilter> added;
        ASSERT_EQ(graph->AddSourceFilter(name.c_str(), u"Movie", added.put()), S_OK);
        source = added;
        CLSID cls{};
        ASSERT_EQ(source->GetClassID(&cls), S_OK);
        ASSERT_EQ(cls, kMovieSourceClass);
        auto* movie = static_cast<MovieSource*>(source.get());
        for (int i = 0; i < 2; ++i) ASSERT_EQ(graph->Render(movie->GetPin(i)), S_OK) << i;
        InterfacePtr<IBaseFilter> found;
        ASSERT_EQ(graph->FindFilterByName(u"Picture Sink", found.put()), S_OK);
        sink = found;
        ASSERT_EQ(graph->FindFilterByName(u"Audio Renderer", found.put()), S_OK);
        ASSERT_EQ(found->GetClassID(&cls), S_OK);
        EXPECT_EQ(cls, CLSID_DSoundRender);
        ASSERT_TRUE(movie->GetPin(1)->IsConnected());
        InterfacePtr<IReferenceClock> clock(new SystemClock());
        ASSERT_EQ(graph.as<IMediaFilter>()->SetSyncSource(clock.get()), S_OK);
    }

    PictureSink* pictures() { return static_cast<PictureSink*>(sink.get()); }
    MovieSource* movie() { return static_cast<MovieSource*>(source.get()); }

    // Waits (generously) for the event, skipping others; false when it did not come.
    bool waitForEvent(LONG wanted, LONG timeoutMs = 30000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            LONG code = 0;
            LONG_PTR a = 0, b = 0;
            if (events->GetEvent(&code, &a, &b, static_cast<LONG>(left.count())) != S_OK) return false;
            events->FreeEventParams(code, a, b);
            if (code == wanted) return true;
            EXPECT_NE(code, EC_ERRORABORT);
        }
    }

    // Stops the graph and the capture; the sound heard, read back.
    std::vector<Frame> finish() {
        control->Stop();
        g_capture = nullptr;
        Mixer::instance().closeOutput();
        return audiotest::readCapture(capturePath);
    }

    static void report(const char* what, const std::vector<Shown>& shown) {
        std::vector<REFERENCE_TIME> late;
        for (const Shown& s : shown) late.push_back(s.lateness);
        std::printf("%s: %zu pictures, lateness p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", what, shown.size(),
                    percentile(late, 0.5) / 1e4, percentile(late, 0.99) / 1e4, percentile(late, 1.0) / 1e4);
    }

    // Frames first..last each drawn once in order at or after its time.
    static void expectInOrderAndOnTime(const std::vector<Shown>& shown, int first, int last, REFERENCE_TIME base) {
        ASSERT_EQ(shown.size(), size_t(last - first + 1));
        std::vector<REFERENCE_TIME> late;
        for (size_t i = 0; i < shown.size(); ++i) {
            const int n = first + static_cast<int>(i);
            EXPECT_EQ(shown[i].frame, n);
            EXPECT_EQ(shown[i].sampleStart, n * kFramePeriod - base) << n;
            EXPECT_GE(shown[i].lateness, 0) << "frame " << n << " was drawn before its time";
            late.push_back(shown[i].lateness);
        }
        // The median stays far below a picture's length unless scheduling is broken;
        // single late pictures (a loaded machine) do not count.
        EXPECT_LT(percentile(late, 0.5), double(5 * kFramePeriod));
    }

    testsupport::TempDir dir;
    std::filesystem::path moviePath, capturePath;
    WavCaptureOutput* capture = nullptr;
    InterfacePtr<IGraphBuilder> graph;
    InterfacePtr<IMediaControl> control;
    InterfacePtr<IMediaEventEx> events;
    InterfacePtr<IMediaSeeking> seeking;
    InterfacePtr<IBaseFilter> source, sink;
};

TEST_F(GraphRealTimeTest, PlaysInRealTimeAndPauseHoldsPictureAndSound) {
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    OAFilterState state = -1;
    ASSERT_EQ(control->GetState(10000, &state), S_OK);
    ASSERT_EQ(state, State_Paused);
    std::vector<Shown> s = pictures()->shown();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].frame, 0);
    EXPECT_FALSE(s[0].running);

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(pictures()->waitForRunningFrame(37));
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_EQ(control->GetState(10000, &state), S_OK);
    const uint64_t pausedAt = capture->framesWritten();
    const size_t shownAtPause = pictures()->shown().size();
    LONGLONG heldPosition = -1, laterPosition = -2;
    ASSERT_EQ(seeking->GetCurrentPosition(&heldPosition), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_EQ(seeking->GetCurrentPosition(&laterPosition), S_OK);
    EXPECT_EQ(laterPosition, heldPosition) << "paused, the position holds";
    const size_t shownBeforeResume = pictures()->shown().size();
    const uint64_t resumedAt = capture->framesWritten();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(waitForEvent(EC_COMPLETE));
    const std::vector<Shown> all = pictures()->shown();
    const std::vector<Frame> heard = finish();

    // Pictures: every one drawn once, in order, never early, and none while paused
    // (the picture at hand stays; at most the next one arrives and is shown paused).
    const std::vector<Shown> running = runningOnly(all);
    report("play with pause", running);
    expectInOrderAndOnTime(running, 0, kFrames - 1, 0);
    EXPECT_TRUE(runningOnly(all, shownAtPause, shownBeforeResume).empty());
    EXPECT_LE(shownBeforeResume - shownAtPause, 1u);

    // Sound: the capture holds every step in order, the pause as silence in between,
    // and the whole sound once (less only what a starved renderer had to drop).
    ASSERT_GT(resumedAt, pausedAt + 2 * kWindow) << "the capture did not run during the pause";
    ASSERT_LE(resumedAt, heard.size());
    size_t loud = 0;
    for (uint64_t i = pausedAt + kWindow; i < resumedAt; ++i) loud += heard[i].left != 0 || heard[i].right != 0;
    EXPECT_EQ(loud, 0u) << "sound went on while paused";
    const std::vector<Window> windows = readSteps(heard);
    EXPECT_EQ(stepsHeard(windows), range(0, kSteps - 1));
    const size_t sounding = soundingFrames(heard);
    std::printf("sound: %zu of %u frames heard\n", sounding, kChunks * kChunkFrames);
    EXPECT_LE(sounding, size_t(kChunks) * kChunkFrames);
    EXPECT_GE(sounding, size_t(kChunks) * kChunkFrames * 95 / 100);
    // The levels arrive as sent: full volume, left and right apart.
    float left = 0, right = 0;
    for (const Window& w : windows)
        if (w.step >= 0) left = std::max(left, w.peakLeft), right = std::max(right, w.peakRight);
    EXPECT_NEAR(left, kLeftLevel, 0.01);
    EXPECT_NEAR(right, kRightLevel, 0.01);

    // Sound and picture together: when a picture was drawn, the sound just captured was
    // of the same step (the middle of the pictures; a stray one may miss by a step).
    std::vector<int> apart;
    for (const Shown& p : running) {
        if (p.captured < kWindow / 2 + kWindow) continue;
        const size_t w = (p.captured - kWindow / 2) / kWindow - 1;
        if (w < windows.size() && windows[w].step >= 0) apart.push_back(windows[w].step - stepOfFrame(p.frame));
    }
    ASSERT_GT(apart.size(), size_t(kFrames / 2));
    std::sort(apart.begin(), apart.end());
    EXPECT_EQ(apart[apart.size() / 2], 0)
        << "sound and picture apart by steps (min " << apart.front() << ", max " << apart.back() << ")";
}

TEST_F(GraphRealTimeTest, SeekWhileRunningFlushesAndALoopPlaysAgainAtHalfVolume) {
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(pictures()->waitForRunningFrame(12));
    const size_t atSeek = pictures()->shown().size();
    LONGLONG target = 75 * kFramePeriod;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    EXPECT_EQ(movie()->seeks(), 1) << "one seek for both renderers";
    ASSERT_TRUE(waitForEvent(EC_COMPLETE));
    const size_t atLoop = pictures()->shown().size();
    // The end is reported once the last picture is up (a little before its end time).
    LONGLONG position = -1;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_GE(position, kDuration - kFramePeriod);
    EXPECT_LE(position, kDuration);

    // After the end a player seeks to the start and plays again; this time at -6.02 dB.
    InterfacePtr<IBasicAudio> audio = graph.as<IBasicAudio>();
    ASSERT_TRUE(audio);
    ASSERT_EQ(audio->put_Volume(-602), S_OK);
    LONGLONG zero = 0;
    ASSERT_EQ(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    EXPECT_EQ(movie()->seeks(), 2);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(waitForEvent(EC_COMPLETE));
    const std::vector<Shown> all = pictures()->shown();
    const std::vector<Frame> heard = finish();

    // Before the seek the start plays (including what was drawn while the seek was on
    // its way); after it the new position at stream time 0.
    size_t split = atSeek;
    while (split < atLoop && !(all[split].running && all[split].frame == 75)) ++split;
    const std::vector<Shown> before = runningOnly(all, 0, split);
    ASSERT_FALSE(before.empty());
    expectInOrderAndOnTime(before, 0, before.back().frame, 0);
    const std::vector<Shown> after = runningOnly(all, split, atLoop);
    report("after the seek", after);
    expectInOrderAndOnTime(after, 75, kFrames - 1, 75 * kFramePeriod);
    const std::vector<Shown> loop = runningOnly(all, atLoop);
    report("loop", loop);
    expectInOrderAndOnTime(loop, 0, kFrames - 1, 0);

    // The sound: the start up to about where the picture was, then straight to the step
    // of the new position (nothing queued before the seek is heard), to the end; then the
    // whole tone again.
    const std::vector<Window> windows = readSteps(heard);
    const std::vector<int> steps = stepsHeard(windows);
    const int lastBefore = stepOfFrame(before.back().frame);
    bool matched = false;
    for (int reached = std::max(0, lastBefore - 1); reached <= lastBefore + 1 && !matched; ++reached) {
        std::vector<int> expected = range(0, reached);
        for (int s : range(15, kSteps - 1)) expected.push_back(s);
        for (int s : range(0, kSteps - 1)) expected.push_back(s);
        matched = steps == expected;
    }
    EXPECT_TRUE(matched) << "picture reached step " << lastBefore << "; heard " << ::testing::PrintToString(steps);

    // Half the amplitude in the loop: compare the steps both passes played (15 on).
    size_t loopStart = 0;
    bool endHeard = false;
    for (size_t i = 0; i < windows.size() && !loopStart; ++i) {
        if (windows[i].step == kSteps - 1) endHeard = true;
        if (endHeard && windows[i].step == 0) loopStart = i;
    }
    ASSERT_GT(loopStart, 0u);
    Window first{0, 0, 0}, second{0, 0, 0};
    for (size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].step < 15) continue;
        Window& pass = i < loopStart ? first : second;
        pass.peakLeft = std::max(pass.peakLeft, windows[i].peakLeft);
        pass.peakRight = std::max(pass.peakRight, windows[i].peakRight);
    }
    EXPECT_NEAR(first.peakLeft, kLeftLevel, 0.01);
    EXPECT_NEAR(second.peakLeft / first.peakLeft, 0.5, 0.01);
    EXPECT_NEAR(second.peakRight / first.peakRight, 0.5, 0.01);
}

}  // namespace
