#pragma once
// The system video decoders over libavcodec: the MPEG video decoder (MPEG-1 and MPEG-2
// video, under the platform's class) and the generic video decoder (every other
// compressed video the splitters describe, H.264 among them). Pictures go out as YV12 or
// I420 when the pin downstream takes them (the engine's colour converter), else as 32-bit
// RGB; each carries its presentation time, and pictures wholly before the segment start
// (decoded only to reach a seek target) are not sent.
#include <vector>

#include "platform/dshow/system/PictureWriter.h"
#include "platform/dshow/system/SystemDecoderFilter.h"

class VideoDecoderFilter : public SystemDecoderFilter {
public:
    enum class Kind { Mpeg, Generic };
    // Pictures with no time of their own are this far apart when the stream says nothing.
    static constexpr REFERENCE_TIME kDefaultFrameTime = 400000;

    VideoDecoderFilter(Kind kind, HRESULT* phr = nullptr);

    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin) override;
    HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* pReceivePin) override;
    HRESULT BreakConnect(PIN_DIRECTION dir) override;
    HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }

    // The output formats offered for a picture width, in order of preference.
    static std::vector<PictureFormat> formatsFor(int width);
    static void describeOutput(PictureFormat format, int width, int height, REFERENCE_TIME frameTime, CMediaType* out);

protected:
    bool acceptsCodec(const AVCodecParameters& par) override;
    int decoderThreads() override;
    HRESULT deliverFrame(AVFrame* frame) override;
    void resetStream() override;

private:
    // Whether another filter of the graph, not the one behind `peer`, has a free input
    // that takes planar pictures: then RGB is not offered to `peer`, so that the graph
    // puts that converter in between.
    bool converterWaitsBeside(IPin* peer);
    REFERENCE_TIME frameTime() const;

    const Kind kind_;
    IPin* connectingTo_ = nullptr;  // only during an output connection attempt
    PictureWriter writer_;
    REFERENCE_TIME nextTime_ = 0;
    bool haveNextTime_ = false;
    bool discontinuity_ = true;
};
