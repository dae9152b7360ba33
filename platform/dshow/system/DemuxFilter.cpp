#include "platform/dshow/system/DemuxFilter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/system/SystemClassIds.h"

// ---- Classes ----

const DemuxFilterClass& DemuxFilter::mpeg1SplitterClass() {
    static const DemuxFilterClass c{CLSID_MPEG1Splitter,
                                    u"MPEG-I Stream Splitter",
                                    {{MEDIASUBTYPE_MPEG1System, "mpeg"}, {MEDIASUBTYPE_MPEG1VideoCD, "mpeg"}}};
    return c;
}

const DemuxFilterClass& DemuxFilter::containerSplitterClass() {
    static const DemuxFilterClass c{CLSID_ContainerSplitter,
                                    u"Container Splitter",
                                    {{kMp4StreamSubtype, "mp4"},
                                     {MEDIASUBTYPE_QTMovie, "mov"},
                                     {MEDIASUBTYPE_Avi, "avi"},
                                     {kMkvStreamSubtype, "matroska"},
                                     {kFlvStreamSubtype, "flv"},
                                     {MEDIASUBTYPE_MPEG1Audio, "mp3"},
                                     {MEDIASUBTYPE_MPEG1Video, "mpegvideo"},
                                     {MEDIASUBTYPE_WAVE, "wav"}}};
    return c;
}

// ---- Seeking ----

DemuxSeeking::DemuxSeeking(DemuxFilter* filter)
    : SourceSeekingBase(static_cast<IBaseFilter*>(filter)), filter_(filter) {}

HRESULT DemuxSeeking::GetDuration(LONGLONG* pDuration) {
    return filter_->duration(pDuration);
}

HRESULT DemuxSeeking::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    return filter_->positions(nullptr, pStop);
}

HRESULT DemuxSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
    return filter_->setPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
}

HRESULT DemuxSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    if (!pCurrent && !pStop) return E_POINTER;
    return filter_->positions(pCurrent, pStop);
}

HRESULT DemuxSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (pEarliest) *pEarliest = 0;
    return pLatest ? filter_->duration(pLatest) : S_OK;
}

// ---- Filter ----

DemuxFilter::DemuxFilter(const DemuxFilterClass* filterClass, HRESULT* phr)
    : CBaseFilter(filterClass->name, &lock_, filterClass->clsid, phr),
      class_(*filterClass),
      input_(this, &lock_, phr),
      seeking_(this) {}

DemuxFilter::~DemuxFilter() {
    stopStreaming();
    outputs_.clear();
    allPins_.clear();
    demuxer_.close();
}

HRESULT DemuxFilter::queryOther(REFIID riid, void** ppv) {
    return CBaseFilter::queryOther(riid, ppv);
}

int DemuxFilter::GetPinCount() {
    ScopedLock l(lock_);
    return 1 + static_cast<int>(outputs_.size());
}

CBasePin* DemuxFilter::GetPin(int n) {
    ScopedLock l(lock_);
    if (n == 0) return &input_;
    if (n < 0 || static_cast<size_t>(n) > outputs_.size()) return nullptr;
    return outputs_[static_cast<size_t>(n - 1)];
}

bool DemuxFilter::acceptsSubtype(const GUID& subtype) const {
    if (subtype == GUID_NULL) return true;
    return std::any_of(class_.subtypes.begin(), class_.subtypes.end(),
                       [&](const DemuxSubtype& s) { return s.subtype == subtype; });
}

HRESULT DemuxFilter::connectSource(IAsyncReader* reader, const GUID& subtype) {
    ScopedLock l(lock_);
    disconnectSource();
    if (!reader) return VFW_E_NO_TRANSPORT;
    const char* hint = nullptr;
    for (const DemuxSubtype& s : class_.subtypes)
        if (s.subtype == subtype) hint = s.formatHint;
    HRESULT hr = demuxer_.open(reader, hint);
    if (FAILED(hr)) return hr;

    const std::vector<DemuxedStream>& streams = demuxer_.streams();
    int videos = 0, audios = 0;
    for (size_t k = 0; k < streams.size(); ++k) {
        const DemuxedStream& s = streams[k];
        int number = s.video ? ++videos : ++audios;
        std::u16string name = s.video ? u"Video" : u"Audio";
        // Only the first stream of each kind is rendered by default.
        if (number > 1) {
            name = u"~" + name + u" ";
            for (char c : std::to_string(number)) name += static_cast<char16_t>(c);
        }
        HRESULT pinResult = S_OK;
        auto pin = std::make_unique<DemuxOutputPin>(this, &lock_, name, static_cast<int>(k), s.description.type,
                                                    s.bufferSize, s.video ? kVideoBuffers : kAudioBuffers, &pinResult);
        outputs_.push_back(pin.get());
        allPins_.push_back(std::move(pin));
    }
    current_ = 0;
    stop_ = demuxer_.duration();
    lastCurrent_ = lastStop_ = -1;
    moved_ = false;
    IncrementPinVersion();
    return S_OK;
}

void DemuxFilter::disconnectSource() {
    ScopedLock l(lock_);
    stopStreaming();
    for (DemuxOutputPin* pin : outputs_) {
        // The downstream pin lets go of us too.
        if (IPin* peer = pin->GetConnected()) {
            peer->AddRef();
            peer->Disconnect();
            peer->Release();
        }
        pin->DisconnectInternal();
    }
    bool hadPins = !outputs_.empty();
    outputs_.clear();
    demuxer_.close();
    if (hadPins) IncrementPinVersion();
}

HRESULT DemuxFilter::Pause() {
    ScopedLock l(lock_);
    bool starting = IsStopped();
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr) || !starting || !demuxer_.isOpen()) return hr;
    if (moved_) {
        HRESULT seek = demuxer_.seek(current_);
        if (FAILED(seek)) {
            CBaseFilter::Stop();
            return seek;
        }
    }
    startStreaming();
    return hr;
}

HRESULT DemuxFilter::Run(REFERENCE_TIME tStart) {
    ScopedLock l(lock_);
    HRESULT hr = CBaseFilter::Run(tStart);
    // A seek to where playback already is must restart it once running.
    lastCurrent_ = lastStop_ = -1;
    return hr;
}

HRESULT DemuxFilter::Stop() {
    ScopedLock l(lock_);
    // The thread ends before the pins let go of their queues and buffers.
    stopStreaming();
    return CBaseFilter::Stop();
}

HRESULT DemuxFilter::duration(LONGLONG* duration) {
    if (!duration) return E_POINTER;
    ScopedLock l(lock_);
    if (!demuxer_.isOpen()) return E_UNEXPECTED;
    *duration = demuxer_.duration();
    return S_OK;
}

HRESULT DemuxFilter::positions(LONGLONG* current, LONGLONG* stop) {
    ScopedLock l(lock_);
    if (!demuxer_.isOpen()) return E_UNEXPECTED;
    if (current) *current = current_;
    if (stop) *stop = stop_;
    return S_OK;
}

HRESULT DemuxFilter::setPositions(LONGLONG* pCurrent, DWORD currentFlags, LONGLONG* pStop, DWORD stopFlags) {
    DWORD currentKind = currentFlags & AM_SEEKING_PositioningBitsMask;
    DWORD stopKind = stopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentKind && !pCurrent) || (stopKind && !pStop)) return E_POINTER;
    if (currentKind == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;

    ScopedLock l(lock_);
    if (!demuxer_.isOpen()) return E_UNEXPECTED;
    LONGLONG current = current_, stop = stop_;
    if (currentKind == AM_SEEKING_AbsolutePositioning) current = *pCurrent;
    if (currentKind == AM_SEEKING_RelativePositioning) current += *pCurrent;
    if (stopKind == AM_SEEKING_AbsolutePositioning) stop = *pStop;
    if (stopKind == AM_SEEKING_RelativePositioning) stop += *pStop;
    if (stopKind == AM_SEEKING_IncrementalPositioning) stop = current + *pStop;
    LONGLONG length = demuxer_.duration();
    current = std::max<LONGLONG>(current, 0);
    stop = std::max<LONGLONG>(stop, 0);
    if (length > 0) {
        current = std::min(current, length);
        stop = std::min(stop, length);
    }
    if (currentKind && (currentFlags & AM_SEEKING_ReturnTime)) *pCurrent = current;
    if (stopKind && (stopFlags & AM_SEEKING_ReturnTime)) *pStop = stop;

    bool running = state() == State_Running;
    HRESULT hr = S_OK;
    // Every renderer passes the same seek on; a repeat while paused changes nothing.
    if (running || current != lastCurrent_ || stop != lastStop_) {
        bool streaming = thread_.joinable();
        if (streaming) {
            // Flushing first releases a delivery blocked downstream.
            flushOutputs(true);
            stopStreaming();
            flushOutputs(false);
        }
        current_ = current;
        stop_ = stop;
        hr = demuxer_.seek(current);
        moved_ = FAILED(hr);
        if (!IsStopped()) startStreaming();
    }
    if (!running) {
        lastCurrent_ = current;
        lastStop_ = stop;
    }
    return hr;
}

void DemuxFilter::flushOutputs(bool begin) {
    for (DemuxOutputPin* pin : outputs_) {
        if (!pin->IsConnected()) continue;
        if (begin)
            pin->beginFlush();
        else
            pin->endFlush();
    }
}

// ---- Streaming ----

void DemuxFilter::startStreaming() {
    stopStreaming();
    const std::vector<DemuxedStream>& streams = demuxer_.streams();
    routes_.clear();
    routes_.resize(streams.size());
    bool any = false;
    for (DemuxOutputPin* pin : outputs_) {
        Route& r = routes_[static_cast<size_t>(pin->stream())];
        r.pin = pin;
        r.live = pin->IsConnected();
        any = any || r.live;
        const StreamMediaType& d = streams[static_cast<size_t>(pin->stream())].description;
        if (d.pcm && d.type.pbFormat && d.type.cbFormat >= sizeof(WAVEFORMATEX))
            r.rate = static_cast<int>(reinterpret_cast<const WAVEFORMATEX*>(d.type.pbFormat)->nSamplesPerSec);
    }
    if (!any) return;
    pendingBytes_ = 0;
    quit_ = false;
    // From here on a restart must put the demuxer back first.
    moved_ = true;
    REFERENCE_TIME start = current_, stop = stop_;
    bool cuts = demuxer_.duration() > 0 && stop < demuxer_.duration();
    thread_ = std::thread([this, start, stop, cuts] {
        for (Route& r : routes_)
            if (r.live) r.pin->deliverNewSegment(start, stop, 1.0);
        segmentStart_ = start;
        segmentStop_ = cuts ? stop : MAX_TIME;
        streamMain();
    });
}

void DemuxFilter::stopStreaming() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> g(wakeMutex_);
        quit_ = true;
    }
    demuxer_.setAborted(true);
    wake_.notify_all();
    thread_.join();
    demuxer_.setAborted(false);
    routes_.clear();
    pendingBytes_ = 0;
}

bool DemuxFilter::deliverHead(Route& route, REFERENCE_TIME segmentStart) {
    IMediaSample* sample = nullptr;
    if (FAILED(route.pin->GetDeliveryBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT)) || !sample) return false;
    Pending& head = route.pending.front();
    AVPacket* packet = head.packet.packet.get();
    const DemuxedStream& stream = demuxer_.streams()[static_cast<size_t>(route.pin->stream())];
    const bool pcm = stream.description.pcm;
    const int blockAlign = std::max(stream.description.blockAlign, 1);
    BYTE* data = nullptr;
    LONG capacity = SUCCEEDED(sample->GetPointer(&data)) && data ? sample->GetSize() : 0;
    int remaining = packet->size - head.offset;
    int count = remaining;
    if (pcm) count = std::min<int>(remaining, capacity / blockAlign * blockAlign);
    auto dropHead = [&] {
        pendingBytes_ -= static_cast<size_t>(packet->size);
        route.pending.pop_front();
    };
    if (count <= 0 || count > capacity) {
        // A packet no buffer can hold is lost; the next one says so.
        sample->Release();
        dropHead();
        route.discontinuity = true;
        return true;
    }
    std::memcpy(data, packet->data + head.offset, static_cast<size_t>(count));
    sample->SetActualDataLength(count);
    if (head.packet.timed) {
        REFERENCE_TIME start = head.packet.start, stop = head.packet.stop;
        if (pcm && route.rate > 0) {
            start = head.packet.start + static_cast<REFERENCE_TIME>(head.offset / blockAlign) * UNITS / route.rate;
            stop = start + static_cast<REFERENCE_TIME>(count / blockAlign) * UNITS / route.rate;
        }
        start -= segmentStart;
        stop -= segmentStart;
        sample->SetTime(&start, stop > start ? &stop : nullptr);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetMediaTime(nullptr, nullptr);
    sample->SetSyncPoint(!stream.video || head.packet.keyFrame);
    sample->SetDiscontinuity(route.discontinuity);
    sample->SetPreroll(FALSE);
    route.discontinuity = false;
    head.offset += count;
    if (head.offset >= packet->size) dropHead();

    HRESULT hr = route.pin->deliverSample(sample);
    if (hr != S_OK) {
        // Downstream refused: this stream is over (an error still ends it properly).
        if (FAILED(hr) && !quit_) route.pin->deliverEndOfStream();
        route.live = false;
        for (Pending& p : route.pending) pendingBytes_ -= static_cast<size_t>(p.packet.packet->size);
        route.pending.clear();
    }
    return true;
}

void DemuxFilter::streamMain() {
    bool endOfData = false;
    int idleRounds = 0;
    std::vector<bool> ended(routes_.size(), false);
    while (!quit_) {
        bool moved = false;
        for (Route& r : routes_)
            while (r.live && !r.pending.empty() && !quit_ && deliverHead(r, segmentStart_)) moved = true;

        bool wanted = false;
        for (size_t k = 0; k < routes_.size(); ++k) wanted = wanted || (routes_[k].live && !ended[k]);
        if (!endOfData && wanted && pendingBytes_ < kMaxPendingBytes) {
            DemuxedPacket p;
            HRESULT hr = demuxer_.read(&p);
            if (hr == S_OK) {
                moved = true;
                size_t k = static_cast<size_t>(p.stream);
                if (k < routes_.size() && routes_[k].live && !ended[k]) {
                    // Packets from the stop position on are not sent; that stream ends.
                    if (p.timed && p.start >= segmentStop_) {
                        ended[k] = true;
                    } else {
                        pendingBytes_ += static_cast<size_t>(p.packet->size);
                        routes_[k].pending.push_back(Pending{std::move(p), 0});
                    }
                }
            } else if (hr == E_ABORT) {
                break;
            } else {
                // The end of the data, or data that can no longer be read: either way the
                // streams end here.
                endOfData = true;
            }
        }

        bool anyLive = false;
        for (size_t k = 0; k < routes_.size(); ++k) {
            Route& r = routes_[k];
            if (!r.live) continue;
            if ((ended[k] || endOfData) && r.pending.empty()) {
                r.pin->deliverEndOfStream();
                r.live = false;
                continue;
            }
            anyLive = true;
        }
        if (!anyLive) break;
        if (moved) {
            idleRounds = 0;
            continue;
        }
        // Downstream holds every buffer (paused, or far ahead): rest longer the longer
        // that lasts.
        int restMs = std::min(kIdleMs << std::min(idleRounds++, 4), kMaxIdleMs);
        std::unique_lock<std::mutex> lk(wakeMutex_);
        wake_.wait_for(lk, std::chrono::milliseconds(restMs), [this] { return quit_.load(); });
    }
}
