#include "splitters/SplitterFilter.h"

#include <new>

#include "splitters/AsyncReaderStream.h"

SplitterFilter::SplitterFilter(const char16_t* name, REFCLSID clsid, const GUID& streamSubtype, LONG outputBuffers,
                               HRESULT* phr)
    : CBaseFilter(name, &lock_, clsid, phr),
      subtype_(streamSubtype),
      buffers_(outputBuffers),
      input_(this, &lock_, phr) {}

SplitterFilter::~SplitterFilter() {
    if (seeking_) seeking_->stopStreaming();
    // Pins go before the source they may still call.
    video_ = audio_ = nullptr;
    pins_.clear();
    if (seeking_) seeking_->detach();
    seeking_ = nullptr;
    seekers_.clear();
    if (source_) source_->close();
    source_.reset();
}

int SplitterFilter::GetPinCount() {
    return 1 + (video_ ? 1 : 0) + (audio_ ? 1 : 0);
}

CBasePin* SplitterFilter::GetPin(int n) {
    if (n == 0) return &input_;
    if (n == 1) return video_ ? static_cast<CBasePin*>(video_) : audio_;
    if (n == 2 && video_) return audio_;
    return nullptr;
}

HRESULT SplitterFilter::Pause() {
    ScopedLock lock(lock_);
    bool starting = IsStopped();
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr) || !starting || !seeking_) return hr;
    hr = seeking_->startStreaming();
    if (FAILED(hr)) {
        CBaseFilter::Stop();
        return hr;
    }
    // The renderers complete their pause on the first round.
    seeking_->prerollStreaming();
    return hr;
}

HRESULT SplitterFilter::Run(REFERENCE_TIME tStart) {
    ScopedLock lock(lock_);
    HRESULT hr = CBaseFilter::Run(tStart);
    if (FAILED(hr)) return hr;
    if (seeking_) seeking_->runStreaming();
    return hr;
}

HRESULT SplitterFilter::Stop() {
    ScopedLock lock(lock_);
    // The thread ends before the pins let go of their queues and buffers.
    if (seeking_) seeking_->stopStreaming();
    return CBaseFilter::Stop();
}

HRESULT SplitterFilter::connectSource(IAsyncReader* reader, IStream* stream) {
    ScopedLock lock(lock_);
    disconnectSource();
    std::unique_ptr<SplitterSource> source = createSource();
    if (!source) return E_OUTOFMEMORY;

    HRESULT hr;
    std::unique_ptr<AsyncReaderStream> view;
    if (sourceReadsStream()) {
        // A pull interface is preferred; the stream view over it reads the same bytes.
        if (reader) {
            view.reset(new (std::nothrow) AsyncReaderStream(reader));
            if (!view) return E_OUTOFMEMORY;
            view->AddRef();
            stream = view.get();
        }
        hr = stream ? source->openStream(stream) : VFW_E_NO_TRANSPORT;
        if (view) view.release()->Release();
    } else {
        hr = reader ? source->open(reader) : VFW_E_NO_TRANSPORT;
    }
    if (FAILED(hr)) return hr;

    auto seeking = std::make_unique<SplitterSeeking>(this, source.get());
    std::unique_ptr<SplitterOutputPin> pins[2];
    for (SplitterStream which : {SplitterStream::Video, SplitterStream::Audio}) {
        CMediaType type;
        LONG sampleSize = 0;
        hr = which == SplitterStream::Video ? source->videoType(&type, &sampleSize)
                                            : source->audioType(&type, &sampleSize);
        if (hr == E_NOTIMPL) continue;  // no such stream in the file
        if (FAILED(hr)) {
            seeking->detach();
            source->close();
            return hr;
        }
        HRESULT pinResult = S_OK;
        pins[which == SplitterStream::Video ? 0 : 1] =
            std::make_unique<SplitterOutputPin>(this, &lock_, which, type, sampleSize, &pinResult);
    }

    source_ = std::move(source);
    seeking_ = seeking.get();
    seekers_.push_back(std::move(seeking));
    video_ = pins[0].get();
    audio_ = pins[1].get();
    for (auto& p : pins)
        if (p) pins_.push_back(std::move(p));
    IncrementPinVersion();
    return S_OK;
}

void SplitterFilter::disconnectSource() {
    ScopedLock lock(lock_);
    if (seeking_) seeking_->stopStreaming();
    for (SplitterOutputPin* pin : {video_, audio_}) {
        if (!pin) continue;
        // The downstream pin lets go of us too.
        if (IPin* peer = pin->GetConnected()) {
            peer->AddRef();
            peer->Disconnect();
            peer->Release();
        }
        pin->DisconnectInternal();
    }
    bool hadPins = video_ || audio_;
    video_ = audio_ = nullptr;
    if (seeking_) seeking_->detach();
    seeking_ = nullptr;
    if (source_) source_->close();
    source_.reset();
    if (hadPins) IncrementPinVersion();
}
