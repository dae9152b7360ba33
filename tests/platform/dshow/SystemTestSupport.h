#pragma once
// Support for the system filter tests: real media made with the ffmpeg command, a pull
// reader over bytes in memory, a source filter that serves it on a "Source Output" pin
// (as the engine's file source does), and recording sinks for video and audio.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/ComObject.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseInputPin.h"
#include "framework/dshow/CMemAllocator.h"
#include "framework/dshow/CPosPassThru.h"
#include "framework/dshow/Dshow.h"
#include "tests/support/TestSupport.h"

namespace systemtest {

// ---- Media made at test time ----

inline bool haveFfmpeg() {
    static const bool have = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return have;
}

// Picture of every test movie: 160 x 120, the top half red, the bottom half a blue-grey
// (R 32, G 64, B 192), 25 frames a second for 2 seconds. Sound: a 1 kHz sine.
constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 50;
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr int kToneHz = 1000;

// Makes (once per process) and returns the path of a test file, or an empty path when
// the ffmpeg command is missing or failed. Kinds: "mpg", "mp4", "avi", "wav", "mpv".
inline std::filesystem::path media(const std::string& kind) {
    static testsupport::TempDir dir;
    static std::map<std::string, std::filesystem::path> made;
    static std::mutex mutex;
    std::lock_guard<std::mutex> g(mutex);
    if (auto it = made.find(kind); it != made.end()) return it->second;
    std::filesystem::path out = dir / ("test." + kind);
    const std::string video =
        "-f lavfi -i \"color=c=0x2040C0:s=160x120:r=25:d=2,drawbox=x=0:y=0:w=160:h=60:color=red:t=fill\" ";
    const std::string audio = "-f lavfi -i \"sine=frequency=1000:sample_rate=44100:duration=2\" ";
    std::string args;
    if (kind == "mpg")
        args = video + audio + "-c:v mpeg1video -q:v 2 -c:a mp2 -b:a 128k -f mpeg ";
    else if (kind == "mp4")
        args = video + audio + "-c:v libx264 -pix_fmt yuv420p -crf 10 -c:a aac -b:a 128k ";
    else if (kind == "avi")
        args = video + audio + "-c:v mpeg4 -q:v 2 -c:a pcm_s16le ";
    else if (kind == "mpv")
        args = video + "-c:v mpeg1video -q:v 2 -f mpeg1video ";
    else if (kind == "wav")
        args = "-f lavfi -i \"sine=frequency=1000:sample_rate=48000:duration=1\" -c:a pcm_s16le ";
    std::filesystem::path result;
    if (!args.empty() && haveFfmpeg()) {
        std::string cmd = "ffmpeg -y -loglevel error " + args + "\"" + out.string() + "\" >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0 && std::filesystem::exists(out)) result = out;
    }
    made[kind] = result;
    return result;
}

#define REQUIRE_MEDIA(var, kind)                               \
    const std::filesystem::path var = systemtest::media(kind); \
    if (var.empty()) GTEST_SKIP() << "the ffmpeg command is missing or cannot make " kind " files"

// ---- A pull reader over bytes ----

class MemoryReader : public ComObject<IAsyncReader> {
public:
    explicit MemoryReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    HRESULT RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                             IMemAllocator** ppActual) override {
        if (!pProps || !ppActual) return E_POINTER;
        IMemAllocator* a = pPreferred;
        if (a) {
            a->AddRef();
        } else if (FAILED(CMemAllocator::create(nullptr, IMemAllocator::iid, reinterpret_cast<void**>(&a)))) {
            return E_OUTOFMEMORY;
        }
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = a->SetProperties(pProps, &actual);
        if (FAILED(hr)) {
            a->Release();
            return hr;
        }
        *ppActual = a;
        return S_OK;
    }
    HRESULT Request(IMediaSample* pSample, DWORD_PTR dwUser) override {
        if (!pSample) return E_POINTER;
        HRESULT hr = SyncReadAligned(pSample);
        std::lock_guard<std::mutex> g(mutex_);
        pSample->AddRef();
        done_.push_back({pSample, dwUser, hr});
        return S_OK;
    }
    HRESULT WaitForNext(DWORD, IMediaSample** ppSample, DWORD_PTR* pdwUser) override {
        if (!ppSample || !pdwUser) return E_POINTER;
        std::lock_guard<std::mutex> g(mutex_);
        *ppSample = nullptr;
        if (done_.empty()) return VFW_E_TIMEOUT;
        Done d = done_.front();
        done_.pop_front();
        *ppSample = d.sample;
        *pdwUser = d.user;
        return d.hr;
    }
    HRESULT SyncReadAligned(IMediaSample* pSample) override {
        REFERENCE_TIME start = 0, stop = 0;
        if (FAILED(pSample->GetTime(&start, &stop))) return E_FAIL;
        LONGLONG pos = start / UNITS, len = (stop - start) / UNITS;
        BYTE* p = nullptr;
        if (FAILED(pSample->GetPointer(&p)) || len > pSample->GetSize()) return E_FAIL;
        LONGLONG got = std::max<LONGLONG>(0, std::min<LONGLONG>(len, static_cast<LONGLONG>(bytes_.size()) - pos));
        if (got > 0) std::memcpy(p, bytes_.data() + pos, static_cast<size_t>(got));
        pSample->SetActualDataLength(static_cast<LONG>(got));
        return got == len ? S_OK : S_FALSE;
    }
    HRESULT SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override {
        ++syncReads_;
        if (!pBuffer || llPosition < 0 || lLength < 0) return E_INVALIDARG;
        // Reading past the end is refused outright, so that a caller that asks for it fails.
        if (static_cast<uint64_t>(llPosition) + static_cast<uint64_t>(lLength) > bytes_.size()) return E_FAIL;
        if (lLength) std::memcpy(pBuffer, bytes_.data() + llPosition, static_cast<size_t>(lLength));
        return S_OK;
    }
    HRESULT Length(LONGLONG* pTotal, LONGLONG* pAvailable) override {
        if (!pTotal || !pAvailable) return E_POINTER;
        *pTotal = *pAvailable = static_cast<LONGLONG>(bytes_.size());
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

    int syncReads() const { return syncReads_.load(); }

private:
    struct Done {
        IMediaSample* sample;
        DWORD_PTR user;
        HRESULT hr;
    };
    std::vector<uint8_t> bytes_;
    std::mutex mutex_;
    std::deque<Done> done_;
    std::atomic<int> syncReads_{0};
};

inline InterfacePtr<IAsyncReader> readerOver(std::vector<uint8_t> bytes) {
    return InterfacePtr<IAsyncReader>(new MemoryReader(std::move(bytes)));
}

// ---- A byte-stream source ----

constexpr CLSID kSourceClass = guidOf("{5B1E7001-2C3D-4E5F-8A9B-0C1D2E3F4A5B}");
constexpr CLSID kVideoSinkClass = guidOf("{5B1E7002-2C3D-4E5F-8A9B-0C1D2E3F4A5B}");
constexpr CLSID kAudioSinkClass = guidOf("{5B1E7003-2C3D-4E5F-8A9B-0C1D2E3F4A5B}");

class ByteSource;

class ByteSourcePin : public CBasePin {
public:
    ByteSourcePin(CBaseFilter* filter, CriticalSection* lock, const GUID& subtype, IAsyncReader* reader)
        : CBasePin(u"Source Output", filter, lock, nullptr, u"Source Output", PINDIR_OUTPUT),
          subtype_(subtype),
          reader_(reader) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Stream && mt->subtype == subtype_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Stream);
        mt->SetSubtype(&subtype_);
        mt->SetSampleSize(1);
        return S_OK;
    }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid != IAsyncReader::iid) return E_NOINTERFACE;
        *ppv = reader_.get();
        reader_->AddRef();
        return S_OK;
    }

private:
    GUID subtype_;
    InterfacePtr<IAsyncReader> reader_;
};

class ByteSource : public CBaseFilter {
public:
    ByteSource(const GUID& subtype, IAsyncReader* reader)
        : CBaseFilter(u"Byte Source", &lock_, kSourceClass), pin_(this, &lock_, subtype, reader) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* output() { return &pin_; }

private:
    CriticalSection lock_;
    ByteSourcePin pin_;
};

// ---- Recording sinks ----

struct Recorded {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    HRESULT timed = E_FAIL;
    bool discontinuity = false;
    std::vector<uint8_t> data;
};

class RecordingSink;

class RecordingPin : public CBaseInputPin {
public:
    RecordingPin(RecordingSink* sink, CriticalSection* lock);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    HRESULT ReceiveCanBlock() override { return S_FALSE; }

private:
    RecordingSink* sink_;
};

// Takes the media types `accepts` says yes to, keeps every sample it receives (with a
// copy of the data), and counts ends of stream and flushes. Seeking is passed upstream.
class RecordingSink : public CBaseFilter {
public:
    using Accepts = bool (*)(const CMediaType&);

    RecordingSink(const CLSID& clsid, const char16_t* name, Accepts accepts)
        : CBaseFilter(name, &lock_, clsid),
          accepts_(accepts),
          pin_(this, &lock_),
          seeking_(u"sink seeking", static_cast<IBaseFilter*>(this), nullptr, &pin_) {}

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    bool accepts(const CMediaType& mt) const { return accepts_(mt); }
    CMediaType connectionType() {
        AM_MEDIA_TYPE mt{};
        CMediaType out;
        if (SUCCEEDED(pin_.ConnectionMediaType(&mt))) {
            out = mt;
            FreeMediaType(mt);
        }
        return out;
    }
    bool connected() { return pin_.IsConnected(); }

    void record(IMediaSample* s) {
        Recorded r;
        r.timed = s->GetTime(&r.start, &r.stop);
        r.discontinuity = s->IsDiscontinuity() == S_OK;
        BYTE* p = nullptr;
        if (SUCCEEDED(s->GetPointer(&p)) && p) r.data.assign(p, p + s->GetActualDataLength());
        std::lock_guard<std::mutex> g(mutex_);
        samples_.push_back(std::move(r));
    }
    void endOfStream() {
        std::lock_guard<std::mutex> g(mutex_);
        ++ends_;
        cv_.notify_all();
    }
    void flushed() {
        std::lock_guard<std::mutex> g(mutex_);
        ++flushes_;
        samples_.clear();
        ends_ = 0;
    }
    void newSegment(REFERENCE_TIME start) {
        std::lock_guard<std::mutex> g(mutex_);
        segments_.push_back(start);
    }
    bool waitForEnd(int seconds = 20) {
        std::unique_lock<std::mutex> l(mutex_);
        return cv_.wait_for(l, std::chrono::seconds(seconds), [&] { return ends_ > 0; });
    }
    std::vector<Recorded> samples() {
        std::lock_guard<std::mutex> g(mutex_);
        return samples_;
    }
    std::vector<REFERENCE_TIME> segments() {
        std::lock_guard<std::mutex> g(mutex_);
        return segments_;
    }
    int flushes() {
        std::lock_guard<std::mutex> g(mutex_);
        return flushes_;
    }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid != IMediaSeeking::iid) return CBaseFilter::queryOther(riid, ppv);
        *ppv = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }

private:
    CriticalSection lock_;
    Accepts accepts_;
    RecordingPin pin_;
    CPosPassThru seeking_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Recorded> samples_;
    std::vector<REFERENCE_TIME> segments_;
    int ends_ = 0;
    int flushes_ = 0;
};

inline RecordingPin::RecordingPin(RecordingSink* sink, CriticalSection* lock)
    : CBaseInputPin(u"Recording input", sink, lock, nullptr, u"In"), sink_(sink) {}

inline HRESULT RecordingPin::CheckMediaType(const CMediaType* mt) {
    return mt && sink_->accepts(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

inline HRESULT RecordingPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    sink_->record(sample);
    return S_OK;
}

inline HRESULT RecordingPin::EndOfStream() {
    if (IsFlushing()) return S_OK;
    sink_->endOfStream();
    return S_OK;
}

inline HRESULT RecordingPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    sink_->flushed();
    return S_OK;
}

inline HRESULT RecordingPin::EndFlush() {
    return CBaseInputPin::EndFlush();
}

inline HRESULT RecordingPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    sink_->newSegment(tStart);
    return S_OK;
}

// ---- Media type checks of the sinks ----

inline bool videoOf(const CMediaType& mt, const GUID& subtype) {
    return mt.majortype == MEDIATYPE_Video && mt.subtype == subtype &&
           bitmapHeaderOf(mt.formattype, mt.pbFormat, mt.cbFormat) != nullptr;
}
inline bool acceptsRgb32(const CMediaType& mt) {
    return videoOf(mt, MEDIASUBTYPE_RGB32);
}
inline bool acceptsYv12(const CMediaType& mt) {
    return videoOf(mt, MEDIASUBTYPE_YV12);
}
inline bool acceptsPcm16(const CMediaType& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM || mt.formattype != FORMAT_WaveFormatEx ||
        mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    auto* w = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    return w->wFormatTag == WAVE_FORMAT_PCM && w->wBitsPerSample == 16;
}

// ---- Sound analysis ----

// Frequency of a 16-bit interleaved signal's first channel, from its zero crossings.
inline double toneFrequency(const std::vector<int16_t>& pcm, int channels, int rate) {
    size_t frames = pcm.size() / static_cast<size_t>(channels);
    int crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        int16_t a = pcm[(i - 1) * channels], b = pcm[i * channels];
        if ((a < 0 && b >= 0) || (a >= 0 && b < 0)) ++crossings;
    }
    return frames > 1 ? crossings / 2.0 * rate / static_cast<double>(frames) : 0.0;
}

}  // namespace systemtest
