#include "platform/dshow/system/AudioDecoderFilter.h"

#include <algorithm>
#include <cstring>

#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/system/SystemClassIds.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

AudioDecoderFilter::AudioDecoderFilter(Kind kind, HRESULT* phr)
    : SystemDecoderFilter(kind == Kind::Mpeg ? u"MPEG Audio Decoder" : u"Audio Decoder",
                          kind == Kind::Mpeg ? CLSID_CMpegAudioCodec : CLSID_SystemAudioDecoder, phr),
      kind_(kind) {}

bool AudioDecoderFilter::acceptsCodec(const AVCodecParameters& par) {
    if (par.codec_type != AVMEDIA_TYPE_AUDIO) return false;
    if (kind_ == Kind::Generic) return true;
    return par.codec_id == AV_CODEC_ID_MP1 || par.codec_id == AV_CODEC_ID_MP2 || par.codec_id == AV_CODEC_ID_MP3;
}

int AudioDecoderFilter::outputChannels() const {
    const AVCodecParameters* par = inputParameters();
    return par ? std::clamp(par->ch_layout.nb_channels, 1, 2) : 0;
}

int AudioDecoderFilter::outputRate() const {
    const AVCodecParameters* par = inputParameters();
    return par ? par->sample_rate : 0;
}

HRESULT AudioDecoderFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0 || !inputParameters()) return VFW_S_NO_MORE_ITEMS;
    int channels = outputChannels();
    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Audio);
    pMediaType->SetSubtype(&MEDIASUBTYPE_PCM);
    pMediaType->SetFormatType(&FORMAT_WaveFormatEx);
    pMediaType->SetSampleSize(static_cast<ULONG>(channels * 2));
    auto* w = reinterpret_cast<WAVEFORMATEX*>(pMediaType->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (!w) return E_OUTOFMEMORY;
    w->wFormatTag = WAVE_FORMAT_PCM;
    w->nChannels = static_cast<WORD>(channels);
    w->nSamplesPerSec = static_cast<DWORD>(outputRate());
    w->wBitsPerSample = 16;
    w->nBlockAlign = static_cast<WORD>(channels * 2);
    w->nAvgBytesPerSec = w->nSamplesPerSec * w->nBlockAlign;
    w->cbSize = 0;
    return S_OK;
}

HRESULT AudioDecoderFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    if (!mtIn || !mtOut) return E_POINTER;
    HRESULT hr = CheckInputType(mtIn);
    if (hr != S_OK) return hr;
    if (mtOut->majortype != MEDIATYPE_Audio || mtOut->subtype != MEDIASUBTYPE_PCM ||
        mtOut->formattype != FORMAT_WaveFormatEx || !mtOut->pbFormat || mtOut->cbFormat < 16)
        return VFW_E_TYPE_NOT_ACCEPTED;
    WAVEFORMATEX w{};
    std::memcpy(&w, mtOut->pbFormat, std::min<size_t>(mtOut->cbFormat, sizeof w));
    bool same = w.wFormatTag == WAVE_FORMAT_PCM && w.wBitsPerSample == 16 && w.nChannels == outputChannels() &&
                static_cast<int>(w.nSamplesPerSec) == outputRate() && w.nBlockAlign == w.nChannels * 2;
    return same ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AudioDecoderFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!pAlloc || !pProp) return E_POINTER;
    LONG size = kChunkFrames * outputChannels() * 2;
    if (size <= 0) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES wanted = *pProp;
    wanted.cBuffers = std::max(pProp->cBuffers, kBuffers);
    wanted.cbBuffer = std::max(pProp->cbBuffer, size);
    if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < outputChannels() * 2 || actual.cBuffers < 1 ? E_OUTOFMEMORY : S_OK;
}

void AudioDecoderFilter::resetStream() {
    swr_.reset();
    swrFormat_ = -1;
    swrRate_ = 0;
    av_channel_layout_uninit(&swrLayout_);
    haveNextTime_ = false;
    nextTime_ = 0;
    discontinuity_ = true;
}

bool AudioDecoderFilter::prepareResampler(const AVFrame& frame) {
    if (frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0 || frame.nb_samples <= 0) return false;
    if (swr_ && frame.format == swrFormat_ && frame.sample_rate == swrRate_ &&
        av_channel_layout_compare(&frame.ch_layout, &swrLayout_) == 0)
        return true;
    resetStream();
    AVChannelLayout in{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame.ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &frame.ch_layout) < 0)
        return false;
    AVChannelLayout out{};
    av_channel_layout_default(&out, outputChannels());
    SwrContext* s = nullptr;
    int r = swr_alloc_set_opts2(&s, &out, AV_SAMPLE_FMT_S16, outputRate(), &in,
                                static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    av::Swr holder(s);
    if (r < 0 || !s || swr_init(s) < 0) return false;
    swr_ = std::move(holder);
    swrFormat_ = frame.format;
    swrRate_ = frame.sample_rate;
    if (av_channel_layout_copy(&swrLayout_, &frame.ch_layout) < 0) {
        swr_.reset();
        return false;
    }
    return true;
}

HRESULT AudioDecoderFilter::deliverFrame(AVFrame* frame) {
    REFERENCE_TIME continued = haveNextTime_ ? nextTime_ : 0;
    bool keepsTime = haveNextTime_;
    if (!prepareResampler(*frame)) return S_OK;
    // A new resampler starts a new run; times continue where the last one ended.
    if (keepsTime && !haveNextTime_) {
        nextTime_ = continued;
        haveNextTime_ = true;
    }
    int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (capacity <= 0) return S_OK;
    converted_.resize(static_cast<size_t>(capacity) * static_cast<size_t>(outputChannels()));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(converted_.data())};
    int frames =
        swr_convert(swr_.get(), out, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (frames <= 0) return S_OK;
    int64_t best = frame->best_effort_timestamp;
    REFERENCE_TIME start = best != AV_NOPTS_VALUE ? best : (haveNextTime_ ? nextTime_ : 0);
    return deliverConverted(frames, start);
}

HRESULT AudioDecoderFilter::deliverTail() {
    if (!swr_) return S_OK;
    int capacity = swr_get_out_samples(swr_.get(), 0);
    if (capacity <= 0) return S_OK;
    converted_.resize(static_cast<size_t>(capacity) * static_cast<size_t>(outputChannels()));
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(converted_.data())};
    int frames = swr_convert(swr_.get(), out, capacity, nullptr, 0);
    if (frames <= 0) return S_OK;
    return deliverConverted(frames, haveNextTime_ ? nextTime_ : 0);
}

HRESULT AudioDecoderFilter::deliverConverted(int frames, REFERENCE_TIME start) {
    const int rate = outputRate();
    const int channels = outputChannels();
    if (rate <= 0 || channels <= 0) return S_OK;
    auto timeAt = [&](int64_t frame) { return start + frame * UNITS / rate; };
    nextTime_ = timeAt(frames);
    haveNextTime_ = true;
    // Sound before the segment start was decoded only to reach it.
    int64_t first = 0;
    if (start < 0) first = std::min<int64_t>(frames, (-start * rate + UNITS - 1) / UNITS);
    for (int64_t at = first; at < frames;) {
        IMediaSample* out = outputSample();
        if (!out) return S_FALSE;
        BYTE* data = nullptr;
        int64_t room = SUCCEEDED(out->GetPointer(&data)) && data ? out->GetSize() / (channels * 2) : 0;
        int64_t count = std::min<int64_t>(frames - at, room);
        if (count <= 0) {
            out->Release();
            return E_UNEXPECTED;
        }
        std::memcpy(data, converted_.data() + at * channels, static_cast<size_t>(count * channels * 2));
        REFERENCE_TIME t0 = timeAt(at), t1 = timeAt(at + count);
        out->SetActualDataLength(static_cast<LONG>(count * channels * 2));
        out->SetTime(&t0, &t1);
        out->SetMediaTime(nullptr, nullptr);
        out->SetSyncPoint(TRUE);
        out->SetPreroll(FALSE);
        out->SetDiscontinuity(discontinuity_);
        discontinuity_ = false;
        HRESULT hr = m_pOutput->Deliver(out);
        out->Release();
        if (hr != S_OK) return hr;
        at += count;
    }
    return S_OK;
}
