#pragma once
// Owning holders for the libav objects the system filters keep, so every early return
// frees what was made.
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace av {

struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct CodecParametersFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using CodecParameters = std::unique_ptr<AVCodecParameters, CodecParametersFree>;
using Sws = std::unique_ptr<SwsContext, SwsFree>;
using Swr = std::unique_ptr<SwrContext, SwrFree>;

// Media times inside the pipeline are in 100-ns units.
constexpr AVRational kMediaTimeBase{1, 10000000};

}  // namespace av

namespace av {
// The player keeps no log: libav's messages are silenced once, before first use.
void quietLogs();
}  // namespace av
