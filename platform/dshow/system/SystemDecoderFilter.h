#pragma once
// What the system decoders share: one input pin taking a compressed stream described by
// its media type, a libavcodec decoder opened when streaming starts, each input sample
// sent as one packet (its start time as the packet's time), every picture or block of
// sound the decoder returns handed to the derived filter, flushes that empty the decoder,
// and an end of stream that drains it before passing the end on.
#include "framework/dshow/CTransformFilter.h"
#include "platform/dshow/system/AvHandles.h"
#include "platform/dshow/system/CodecMediaType.h"

class SystemDecoderFilter : public CTransformFilter {
public:
    SystemDecoderFilter(const char16_t* name, REFCLSID clsid, HRESULT* phr);
    ~SystemDecoderFilter() override;

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT BreakConnect(PIN_DIRECTION dir) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;

    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

    // The input stream as its media type describes it; null until the input connects.
    const AVCodecParameters* inputParameters() const { return input_.parameters.get(); }
    REFERENCE_TIME inputFrameTime() const { return input_.frameTime; }

protected:
    // Whether this decoder takes the codec (the input type already parsed).
    virtual bool acceptsCodec(const AVCodecParameters& par) = 0;
    // Threads the decoder may use.
    virtual int decoderThreads() { return 1; }
    // Called with each decoded frame on the streaming thread; S_OK to go on, anything
    // else stops the sample (a delivery failure).
    virtual HRESULT deliverFrame(AVFrame* frame) = 0;
    // After the decoder is drained at end of stream (a resampler may hold more).
    virtual HRESULT deliverTail() { return S_OK; }
    // Streaming starts or restarts after a flush: forget times and state of the stream.
    virtual void resetStream() {}

    // Gets a free output sample; false when none can be had (stopping or flushing).
    IMediaSample* outputSample();

private:
    // Sends one packet (null: drain) and delivers every frame that comes out.
    HRESULT decode(AVPacket* packet);

    DecoderInput input_;
    av::CodecContext codec_;
    av::Frame frame_;
};
