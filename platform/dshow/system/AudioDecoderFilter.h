#pragma once
// The system audio decoders over libavcodec and libswresample: the MPEG audio decoder
// (MPEG-1/2 layers I to III, under the platform's class) and the generic audio decoder
// (AAC and every other coded or non-native PCM sound). Sound goes out as interleaved
// 16-bit PCM at the stream's rate, mono or stereo (more channels are mixed down), in
// pieces of at most kChunkFrames frames timed from the packets; sound before the
// segment start is cut off.
#include <vector>

#include "platform/dshow/system/SystemDecoderFilter.h"

class AudioDecoderFilter : public SystemDecoderFilter {
public:
    enum class Kind { Mpeg, Generic };
    static constexpr int kChunkFrames = 4096;
    static constexpr LONG kBuffers = 8;

    AudioDecoderFilter(Kind kind, HRESULT* phr = nullptr);
    ~AudioDecoderFilter() override { av_channel_layout_uninit(&swrLayout_); }

    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }

protected:
    bool acceptsCodec(const AVCodecParameters& par) override;
    HRESULT deliverFrame(AVFrame* frame) override;
    HRESULT deliverTail() override;
    void resetStream() override;

private:
    int outputChannels() const;
    int outputRate() const;
    // Makes the resampler fit the frame; false when it cannot be made.
    bool prepareResampler(const AVFrame& frame);
    // Sends frames of converted_ starting at time start (before the segment start cut).
    HRESULT deliverConverted(int frames, REFERENCE_TIME start);

    const Kind kind_;
    av::Swr swr_;
    int swrFormat_ = -1;
    int swrRate_ = 0;
    AVChannelLayout swrLayout_{};
    std::vector<int16_t> converted_;
    REFERENCE_TIME nextTime_ = 0;
    bool haveNextTime_ = false;
    bool discontinuity_ = true;
};
