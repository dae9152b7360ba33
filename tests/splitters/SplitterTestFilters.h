#pragma once
// Test doubles around the splitter framework: an upstream filter serving bytes from memory
// through IAsyncReader, a source object that stamps numbered frames and audio chunks, a
// splitter carrying it, and a sink that records what arrives.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseInputPin.h"
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/Dshow.h"
#include "splitters/SplitterFilter.h"

namespace splittertest {

constexpr GUID kStreamSubtype = guidOf("{7C1D0001-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr GUID kVideoSubtype = guidOf("{7C1D0002-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr GUID kAudioSubtype = guidOf("{7C1D0003-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr CLSID kSplitterClass = guidOf("{7C1D1000-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr CLSID kReaderClass = guidOf("{7C1D1001-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr CLSID kSinkClass = guidOf("{7C1D1002-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr REFERENCE_TIME kFrame = 400000;  // 25 frames per second

// ---- Upstream: bytes in memory behind IAsyncReader ----

class MemoryReaderFilter;

class MemoryReaderPin : public CBasePin {
public:
    MemoryReaderPin(MemoryReaderFilter* filter, CriticalSection* lock, bool offerReader);
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        return pmt->majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int pos, CMediaType* mt) override {
        if (pos < 0) return E_INVALIDARG;
        if (pos > 0) return VFW_S_NO_MORE_ITEMS;
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Stream);
        mt->SetSubtype(&kStreamSubtype);
        mt->SetSampleSize(1);
        return S_OK;
    }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    struct Reader : IAsyncReader {
        explicit Reader(MemoryReaderPin& p) : pin(p) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return pin.QueryInterface(riid, ppv); }
        ULONG AddRef() override { return pin.AddRef(); }
        ULONG Release() override { return pin.Release(); }
        HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override { return E_NOTIMPL; }
        HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
        HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
        HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
        HRESULT SyncRead(LONGLONG pos, LONG len, BYTE* buf) override;
        HRESULT Length(LONGLONG* total, LONGLONG* available) override;
        HRESULT BeginFlush() override { return S_OK; }
        HRESULT EndFlush() override { return S_OK; }
        MemoryReaderPin& pin;
    };
    friend struct Reader;
    MemoryReaderFilter* owner_;
    Reader reader_;
    bool offerReader_;
};

class MemoryReaderFilter : public CBaseFilter {
public:
    explicit MemoryReaderFilter(std::vector<BYTE> bytes, bool offerReader = true)
        : CBaseFilter(u"Memory Reader", &lock_, kReaderClass),
          bytes_(std::move(bytes)),
          pin_(this, &lock_, offerReader) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* pin() { return &pin_; }
    const std::vector<BYTE>& bytes() const { return bytes_; }

private:
    CriticalSection lock_;
    std::vector<BYTE> bytes_;
    MemoryReaderPin pin_;
};

inline MemoryReaderPin::MemoryReaderPin(MemoryReaderFilter* filter, CriticalSection* lock, bool offerReader)
    : CBasePin(u"Out", filter, lock, nullptr, u"Out", PINDIR_OUTPUT),
      owner_(filter),
      reader_(*this),
      offerReader_(offerReader) {}

inline HRESULT MemoryReaderPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IAsyncReader::iid && offerReader_) {
        *ppv = static_cast<IAsyncReader*>(&reader_);
        AddRef();
        return S_OK;
    }
    return CBasePin::queryOther(riid, ppv);
}

inline HRESULT MemoryReaderPin::Reader::SyncRead(LONGLONG pos, LONG len, BYTE* buf) {
    const auto& b = pin.owner_->bytes();
    if (pos < 0 || len < 0) return E_INVALIDARG;
    LONGLONG n = std::min<LONGLONG>(len, std::max<LONGLONG>(0, static_cast<LONGLONG>(b.size()) - pos));
    if (n > 0) std::memcpy(buf, b.data() + pos, static_cast<size_t>(n));
    return n == len ? S_OK : S_FALSE;
}

inline HRESULT MemoryReaderPin::Reader::Length(LONGLONG* total, LONGLONG* available) {
    *total = *available = static_cast<LONGLONG>(pin.owner_->bytes().size());
    return S_OK;
}

// ---- The source object ----

struct SourceScript {
    bool video = true;
    bool audio = true;
    int frames = 10;
    bool frameFormat = true;
    HRESULT videoTypeResult = S_OK;  // a failure other than E_NOTIMPL fails the connection
    int failAtFrame = -1;            // fillSamples fails there with E_FAIL
};

// What the source saw, shared with the test (the source itself belongs to the splitter).
struct SourceLog {
    std::mutex mutex;
    std::vector<REFERENCE_TIME> timeSeeks;
    std::vector<LONGLONG> frameSeeks;
    int64_t fileLength = -1;
    std::atomic<int> fills{0};
    std::atomic<bool> closed{false};
    std::atomic<int> fillThreads{0};  // how many threads are inside fillSamples now
    std::atomic<bool> overlapped{false};
};

class StampingSource : public SplitterSource {
public:
    StampingSource(SourceScript script, SourceLog* log) : script_(script), log_(log) {}
    ~StampingSource() override { close(); }

    HRESULT open(IAsyncReader* reader) override {
        LONGLONG total = 0, available = 0;
        if (!reader || FAILED(reader->Length(&total, &available))) return E_FAIL;
        log_->fileLength = total;
        frameCount_ = script_.frames;
        duration_ = script_.frames * kFrame;
        return S_OK;
    }
    void close() override { log_->closed = true; }

    HRESULT fillSamples(IMediaSample* video, IMediaSample* audio, DWORD* flags) override {
        if (log_->fillThreads.fetch_add(1) != 0) log_->overlapped = true;
        HRESULT hr = fill(video, audio, flags);
        log_->fillThreads.fetch_sub(1);
        ++log_->fills;
        return hr;
    }
    HRESULT seekToTime(REFERENCE_TIME t) override {
        std::lock_guard<std::mutex> g(log_->mutex);
        log_->timeSeeks.push_back(t);
        next_ = static_cast<int>(t / kFrame);
        return S_OK;
    }
    HRESULT seekToFrame(LONGLONG n) override {
        std::lock_guard<std::mutex> g(log_->mutex);
        log_->frameSeeks.push_back(n);
        next_ = static_cast<int>(n);
        return S_OK;
    }
    HRESULT videoType(CMediaType* type, LONG* size) override {
        if (!script_.video) return E_NOTIMPL;
        if (FAILED(script_.videoTypeResult)) return script_.videoTypeResult;
        makeType(type, MEDIATYPE_Video, kVideoSubtype);
        *size = 64;
        return S_OK;
    }
    HRESULT audioType(CMediaType* type, LONG* size) override {
        if (!script_.audio) return E_NOTIMPL;
        makeType(type, MEDIATYPE_Audio, kAudioSubtype);
        *size = 32;
        return S_OK;
    }
    bool supportsFrameFormat() override { return script_.frameFormat; }
    LONGLONG timeToFrame(REFERENCE_TIME t) override {
        if (t < 0) return 0;
        return t >= duration_ ? frameCount_ : t / kFrame;
    }
    REFERENCE_TIME frameToTime(LONGLONG n) override {
        if (n < 0) return 0;
        return n >= frameCount_ ? duration_ : n * kFrame;
    }

private:
    static void makeType(CMediaType* type, const GUID& major, const GUID& sub) {
        type->InitMediaType();
        type->SetType(&major);
        type->SetSubtype(&sub);
        type->SetFormatType(&FORMAT_None);
        type->SetSampleSize(1);
    }
    static void stamp(IMediaSample* s, int n) {
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(p, &n, 4);
        s->SetActualDataLength(4);
        REFERENCE_TIME start = n * kFrame, stop = start + kFrame;
        s->SetTime(&start, &stop);
    }
    HRESULT fill(IMediaSample* video, IMediaSample* audio, DWORD* flags) {
        *flags = 0;
        int n = next_;
        if (n >= script_.frames) return NS_E_NO_MORE_SAMPLES;
        if (n == script_.failAtFrame) return E_FAIL;
        if (video && script_.video) {
            stamp(video, n);
            *flags |= kSplitterVideoFilled;
        }
        if (audio && script_.audio) {
            stamp(audio, n);
            *flags |= kSplitterAudioFilled;
        }
        next_ = n + 1;
        return S_OK;
    }

    SourceScript script_;
    SourceLog* log_;
    int next_ = 0;
};

class TestSplitter : public SplitterFilter {
public:
    TestSplitter(SourceScript script, SourceLog* log)
        : SplitterFilter(u"Test Splitter", kSplitterClass, kStreamSubtype, 4), script_(script), log_(log) {}

protected:
    std::unique_ptr<SplitterSource> createSource() override { return std::make_unique<StampingSource>(script_, log_); }

private:
    SourceScript script_;
    SourceLog* log_;
};

// ---- The sink ----

struct Arrival {
    enum Kind { Sample, NewSegment, EndOfStream, BeginFlush, EndFlush } kind;
    int frame = -1;
    REFERENCE_TIME start = 0, stop = 0;
    bool discontinuity = false;
};

class RecordingSink;

class RecordingPin : public CBaseInputPin {
public:
    RecordingPin(RecordingSink* sink, CriticalSection* lock);
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT Receive(IMediaSample* s) override;
    HRESULT EndOfStream() override;
    HRESULT NewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r) override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    RecordingSink* sink_;
};

class RecordingSink : public CBaseFilter {
public:
    RecordingSink() : CBaseFilter(u"Recording Sink", &lock_, kSinkClass), pin_(this, &lock_) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    IPin* pin() { return &pin_; }

    void record(const Arrival& a) {
        std::lock_guard<std::mutex> g(mutex_);
        arrivals_.push_back(a);
        cv_.notify_all();
    }
    std::vector<Arrival> arrivals() {
        std::lock_guard<std::mutex> g(mutex_);
        return arrivals_;
    }
    void clear() {
        std::lock_guard<std::mutex> g(mutex_);
        arrivals_.clear();
    }
    int count(Arrival::Kind k) {
        std::lock_guard<std::mutex> g(mutex_);
        return countLocked(k);
    }
    // Waits (generously) until n arrivals of kind k are there.
    bool waitFor(Arrival::Kind k, int n) {
        std::unique_lock<std::mutex> g(mutex_);
        return cv_.wait_for(g, std::chrono::seconds(20), [&] { return countLocked(k) >= n; });
    }
    // Arrivals of kind Sample only.
    std::vector<Arrival> samples() {
        std::vector<Arrival> out;
        for (const Arrival& a : arrivals())
            if (a.kind == Arrival::Sample) out.push_back(a);
        return out;
    }

private:
    int countLocked(Arrival::Kind k) {
        int n = 0;
        for (const Arrival& a : arrivals_) n += a.kind == k;
        return n;
    }
    CriticalSection lock_;
    RecordingPin pin_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Arrival> arrivals_;
};

inline RecordingPin::RecordingPin(RecordingSink* sink, CriticalSection* lock)
    : CBaseInputPin(u"In", sink, lock, nullptr, u"In"), sink_(sink) {}

inline HRESULT RecordingPin::Receive(IMediaSample* s) {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    Arrival a{Arrival::Sample};
    BYTE* p = nullptr;
    if (SUCCEEDED(s->GetPointer(&p)) && s->GetActualDataLength() >= 4) std::memcpy(&a.frame, p, 4);
    s->GetTime(&a.start, &a.stop);
    a.discontinuity = s->IsDiscontinuity() == S_OK;
    sink_->record(a);
    return S_OK;
}
inline HRESULT RecordingPin::EndOfStream() {
    sink_->record(Arrival{Arrival::EndOfStream});
    return S_OK;
}
inline HRESULT RecordingPin::NewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r) {
    CBaseInputPin::NewSegment(a, b, r);
    Arrival x{Arrival::NewSegment};
    x.start = a;
    x.stop = b;
    sink_->record(x);
    return S_OK;
}
inline HRESULT RecordingPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    sink_->record(Arrival{Arrival::BeginFlush});
    return S_OK;
}
inline HRESULT RecordingPin::EndFlush() {
    CBaseInputPin::EndFlush();
    sink_->record(Arrival{Arrival::EndFlush});
    return S_OK;
}

}  // namespace splittertest
