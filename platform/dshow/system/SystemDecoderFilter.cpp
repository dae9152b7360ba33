#include "platform/dshow/system/SystemDecoderFilter.h"

#include <cstring>

SystemDecoderFilter::SystemDecoderFilter(const char16_t* name, REFCLSID clsid, HRESULT* phr)
    : CTransformFilter(name, clsid, phr) {}

SystemDecoderFilter::~SystemDecoderFilter() = default;

HRESULT SystemDecoderFilter::CheckInputType(const CMediaType* mtIn) {
    if (!mtIn) return E_POINTER;
    DecoderInput parsed;
    if (!decoderInputFromMediaType(*mtIn, &parsed)) return VFW_E_TYPE_NOT_ACCEPTED;
    return acceptsCodec(*parsed.parameters) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SystemDecoderFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    if (direction != PINDIR_INPUT) return S_OK;
    DecoderInput parsed;
    if (!pmt || !decoderInputFromMediaType(*pmt, &parsed)) return VFW_E_TYPE_NOT_ACCEPTED;
    input_ = std::move(parsed);
    return S_OK;
}

HRESULT SystemDecoderFilter::BreakConnect(PIN_DIRECTION dir) {
    if (dir == PINDIR_INPUT) input_ = DecoderInput{};
    return S_OK;
}

HRESULT SystemDecoderFilter::StartStreaming() {
    av::quietLogs();
    if (!input_.parameters) return VFW_E_NOT_CONNECTED;
    const AVCodec* codec = avcodec_find_decoder(input_.parameters->codec_id);
    if (!codec) return VFW_E_NO_DECOMPRESSOR;
    av::CodecContext ctx(avcodec_alloc_context3(codec));
    av::Frame frame(av_frame_alloc());
    if (!ctx || !frame) return E_OUTOFMEMORY;
    if (avcodec_parameters_to_context(ctx.get(), input_.parameters.get()) < 0) return E_FAIL;
    // Packet times are media times.
    ctx->pkt_timebase = av::kMediaTimeBase;
    ctx->thread_count = decoderThreads();
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return VFW_E_NO_DECOMPRESSOR;
    codec_ = std::move(ctx);
    frame_ = std::move(frame);
    resetStream();
    return S_OK;
}

HRESULT SystemDecoderFilter::StopStreaming() {
    codec_.reset();
    frame_.reset();
    return S_OK;
}

IMediaSample* SystemDecoderFilter::outputSample() {
    if (m_pInput->IsFlushing()) return nullptr;
    IMediaSample* out = nullptr;
    if (FAILED(m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0))) return nullptr;
    return out;
}

HRESULT SystemDecoderFilter::decode(AVPacket* packet) {
    if (!codec_) return S_OK;
    for (;;) {
        int sent = avcodec_send_packet(codec_.get(), packet);
        bool again = sent == AVERROR(EAGAIN);
        // Damaged data is skipped; the decoder picks up at the next good packet.
        for (;;) {
            int r = avcodec_receive_frame(codec_.get(), frame_.get());
            if (r < 0) break;
            HRESULT hr = m_pInput->IsFlushing() ? S_FALSE : deliverFrame(frame_.get());
            av_frame_unref(frame_.get());
            if (hr != S_OK) return hr;
        }
        if (!again) return S_OK;
    }
}

HRESULT SystemDecoderFilter::Receive(IMediaSample* pSample) {
    BYTE* data = nullptr;
    LONG length = pSample->GetActualDataLength();
    if (FAILED(pSample->GetPointer(&data)) || !data || length <= 0) return S_OK;
    av::Packet packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), length) < 0) return E_OUTOFMEMORY;
    std::memcpy(packet->data, data, static_cast<size_t>(length));
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timed = pSample->GetTime(&start, &stop);
    if (SUCCEEDED(timed)) {
        packet->pts = start;
        if (timed == S_OK && stop > start) packet->duration = stop - start;
    }
    if (pSample->IsSyncPoint() == S_OK) packet->flags |= AV_PKT_FLAG_KEY;
    HRESULT hr = decode(packet.get());
    // A refusal while flushing is not an error of the stream.
    return hr == S_FALSE ? S_OK : hr;
}

HRESULT SystemDecoderFilter::EndOfStream() {
    if (codec_) {
        // What the decoder still holds (reordered pictures, delayed sound) comes out first.
        decode(nullptr);
        deliverTail();
        avcodec_flush_buffers(codec_.get());
        resetStream();
    }
    return CTransformFilter::EndOfStream();
}

HRESULT SystemDecoderFilter::EndFlush() {
    {
        // No sample is being decoded once the upstream flush has completed; the lock
        // makes sure of it before the decoder is emptied.
        ScopedLock receiving(m_csReceive);
        if (codec_) avcodec_flush_buffers(codec_.get());
        resetStream();
    }
    return CTransformFilter::EndFlush();
}
