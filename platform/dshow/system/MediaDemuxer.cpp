#include "platform/dshow/system/MediaDemuxer.h"

#include <algorithm>
#include <string_view>

#include "framework/dshow/DshowErrors.h"

namespace {

constexpr LONG kMinVideoBuffer = 512 * 1024;
constexpr LONG kMaxVideoBuffer = 64 * 1024 * 1024;
constexpr LONG kCompressedAudioBuffer = 256 * 1024;
// PCM is delivered in pieces of about this many bytes.
constexpr LONG kPcmBuffer = 64 * 1024;

LONG bufferSizeFor(const AVCodecParameters& par, const StreamMediaType& d) {
    if (par.codec_type == AVMEDIA_TYPE_VIDEO) {
        // A compressed picture hardly ever exceeds the uncompressed 4:2:0 size.
        int64_t raw = static_cast<int64_t>(par.width) * par.height * 3 / 2 + 64 * 1024;
        return static_cast<LONG>(std::clamp<int64_t>(raw, kMinVideoBuffer, kMaxVideoBuffer));
    }
    if (d.pcm) return std::max<LONG>(kPcmBuffer / d.blockAlign, 1) * d.blockAlign;
    return kCompressedAudioBuffer;
}

}  // namespace

MediaDemuxer::~MediaDemuxer() {
    close();
}

void MediaDemuxer::close() {
    lookahead_.clear();
    if (format_) avformat_close_input(&format_);
    io_.close();
    streams_.clear();
    streamSlot_.clear();
    startTime_ = 0;
    duration_ = 0;
}

HRESULT MediaDemuxer::open(IAsyncReader* reader, const char* formatHint) {
    close();
    av::quietLogs();
    HRESULT hr = io_.open(reader);
    if (FAILED(hr)) return hr;

    const AVInputFormat* hinted = formatHint ? av_find_input_format(formatHint) : nullptr;
    // Probe first (an extension may lie); the hint is the fallback for streams whose
    // content alone does not reveal them.
    const AVInputFormat* attempts[2] = {nullptr, hinted};
    for (int a = 0; a < (hinted ? 2 : 1) && !format_ && !io_.aborted(); ++a) {
        AVFormatContext* ctx = avformat_alloc_context();
        if (!ctx) return E_OUTOFMEMORY;
        ctx->pb = io_.context();
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        ctx->probesize = kProbeBytes;
        ctx->max_analyze_duration = kAnalyzeMicroseconds;
        ctx->interrupt_callback.callback = &AsyncReaderIo::interruptCallback;
        ctx->interrupt_callback.opaque = &io_;
        avio_seek(io_.context(), 0, SEEK_SET);
        // avformat_open_input frees the context on failure.
        if (avformat_open_input(&ctx, nullptr, attempts[a], nullptr) == 0) format_ = ctx;
    }
    // Still pictures are not movies here: the player opens them as images.
    if (format_) {
        const std::string_view name = format_->iformat->name;
        if (name.starts_with("image2") || name.ends_with("_pipe")) avformat_close_input(&format_);
    }
    if (!format_) {
        io_.close();
        return io_.aborted() ? E_ABORT : VFW_E_UNKNOWN_FILE_TYPE;
    }
    if (avformat_find_stream_info(format_, nullptr) < 0 && io_.aborted()) {
        close();
        return E_ABORT;
    }

    int bestVideo = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    int bestAudio = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    streamSlot_.assign(format_->nb_streams, -1);
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        AVStream* st = format_->streams[i];
        st->discard = AVDISCARD_ALL;
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC || streams_.size() >= kMaxStreams) continue;
        DemuxedStream s;
        s.index = static_cast<int>(i);
        s.video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        if (!mediaTypeFromStream(*st->codecpar, rate, &s.description)) continue;
        s.preferred = static_cast<int>(i) == (s.video ? bestVideo : bestAudio);
        s.bufferSize = bufferSizeFor(*st->codecpar, s.description);
        st->discard = AVDISCARD_DEFAULT;
        streamSlot_[i] = static_cast<int>(streams_.size());
        streams_.push_back(std::move(s));
    }
    if (streams_.empty()) {
        close();
        return VFW_E_UNKNOWN_FILE_TYPE;
    }
    // The preferred streams come first, video before audio.
    std::stable_sort(streams_.begin(), streams_.end(), [](const DemuxedStream& a, const DemuxedStream& b) {
        if (a.preferred != b.preferred) return a.preferred;
        return a.video && !b.video;
    });
    for (size_t k = 0; k < streams_.size(); ++k)
        streamSlot_[static_cast<size_t>(streams_[k].index)] = static_cast<int>(k);

    startTime_ = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
        duration_ = av_rescale(format_->duration, 10, 1);
    } else {
        for (const DemuxedStream& s : streams_) {
            AVStream* st = format_->streams[s.index];
            if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
                duration_ = std::max(duration_, av_rescale_q(st->duration, st->time_base, av::kMediaTimeBase));
        }
    }
    return S_OK;
}

REFERENCE_TIME MediaDemuxer::toMediaTime(int64_t ts, AVRational base) const {
    return av_rescale_q(ts, base, av::kMediaTimeBase) - startTime_ * 10;
}

HRESULT MediaDemuxer::read(DemuxedPacket* out) {
    if (!format_) return E_UNEXPECTED;
    if (!lookahead_.empty()) {
        *out = std::move(lookahead_.front());
        lookahead_.pop_front();
        return S_OK;
    }
    return readFromFile(out);
}

HRESULT MediaDemuxer::readFromFile(DemuxedPacket* out) {
    av::Packet packet(av_packet_alloc());
    if (!packet) return E_OUTOFMEMORY;
    for (;;) {
        int r = av_read_frame(format_, packet.get());
        if (r == AVERROR_EOF) return S_FALSE;
        if (r == AVERROR_EXIT) return E_ABORT;
        // A damaged file ends where it can no longer be read.
        if (r < 0) return avio_feof(format_->pb) ? S_FALSE : E_FAIL;
        int idx = packet->stream_index;
        int slot =
            idx >= 0 && static_cast<size_t>(idx) < streamSlot_.size() ? streamSlot_[static_cast<size_t>(idx)] : -1;
        if (slot < 0 || packet->size <= 0) {
            av_packet_unref(packet.get());
            continue;
        }
        AVStream* st = format_->streams[idx];
        out->stream = slot;
        out->keyFrame = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        int64_t ts = packet->pts;
        // Without reordering (all sound, video without delayed pictures) the decoding
        // time is the presentation time.
        bool inOrder = st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO || st->codecpar->video_delay == 0;
        if (ts == AV_NOPTS_VALUE && inOrder) ts = packet->dts;
        out->timed = ts != AV_NOPTS_VALUE;
        out->start = out->timed ? toMediaTime(ts, st->time_base) : 0;
        out->stop = out->start;
        if (out->timed && packet->duration > 0)
            out->stop = out->start + av_rescale_q(packet->duration, st->time_base, av::kMediaTimeBase);
        out->packet = std::move(packet);
        return S_OK;
    }
}

HRESULT MediaDemuxer::seekFile(REFERENCE_TIME t) {
    int64_t target = av_rescale(std::max<REFERENCE_TIME>(t, 0), 1, 10) + startTime_;
    int r = avformat_seek_file(format_, -1, INT64_MIN, target, target, 0);
    if (r < 0) r = av_seek_frame(format_, -1, target, AVSEEK_FLAG_BACKWARD);
    // Streams without an index or time stamps can at least go back to their start.
    if (r < 0 && t <= 0) r = av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE);
    if (r == AVERROR_EXIT) return E_ABORT;
    return r < 0 ? E_FAIL : S_OK;
}

HRESULT MediaDemuxer::seek(REFERENCE_TIME t) {
    if (!format_) return E_UNEXPECTED;
    lookahead_.clear();
    t = std::max<REFERENCE_TIME>(t, 0);
    bool hasVideo = std::any_of(streams_.begin(), streams_.end(), [](const DemuxedStream& s) { return s.video; });
    // Containers without an index land wherever the time stamps lead, not always on a
    // key picture: step back until the first picture read is one at or before t.
    for (REFERENCE_TIME back = 0;; back = back ? back * 2 : kSeekStepBack) {
        REFERENCE_TIME at = std::max<REFERENCE_TIME>(t - back, 0);
        HRESULT hr = seekFile(at);
        if (FAILED(hr) || !hasVideo) return hr;
        bool good = at == 0;
        for (size_t n = 0; n < kSeekLookahead; ++n) {
            DemuxedPacket p;
            hr = readFromFile(&p);
            if (hr != S_OK) break;
            bool video = streams_[static_cast<size_t>(p.stream)].video;
            bool key = p.keyFrame && (!p.timed || p.start <= t);
            lookahead_.push_back(std::move(p));
            if (video) {
                good = good || key;
                break;
            }
        }
        if (hr == E_ABORT) return hr;
        if (good || hr != S_OK) return S_OK;
        lookahead_.clear();
    }
}
