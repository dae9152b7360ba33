#pragma once
// One container file opened with libavformat through an upstream pull interface: its
// audio and video streams as media types, its packets in file order with times in 100-ns
// units from the start of the file, and seeking by time.
#include <deque>
#include <vector>

#include "framework/dshow/CMediaType.h"
#include "framework/dshow/SampleInterfaces.h"
#include "platform/dshow/system/AsyncReaderIo.h"
#include "platform/dshow/system/CodecMediaType.h"

struct DemuxedStream {
    int index = -1;  // the container's stream number
    bool video = false;
    bool preferred = false;  // the best stream of its kind
    StreamMediaType description;
    // Bytes a sample must hold for this stream's packets (PCM may be cut to fit).
    LONG bufferSize = 0;
};

struct DemuxedPacket {
    av::Packet packet;
    int stream = -1;  // position in streams()
    bool timed = false;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;  // start + duration, or start when the duration is unknown
    bool keyFrame = false;
};

class MediaDemuxer {
public:
    // Limits that keep a hostile file from holding the probe for long.
    static constexpr int64_t kProbeBytes = 5 * 1024 * 1024;
    static constexpr int64_t kAnalyzeMicroseconds = 5 * 1000000;
    // Seeking steps back this far (then twice as far...) to find a key picture, reading
    // at most this many packets ahead each time.
    static constexpr REFERENCE_TIME kSeekStepBack = 5000000;
    static constexpr size_t kSeekLookahead = 2000;
    // Streams beyond this many get no pin.
    static constexpr size_t kMaxStreams = 32;

    MediaDemuxer() = default;
    MediaDemuxer(const MediaDemuxer&) = delete;
    MediaDemuxer& operator=(const MediaDemuxer&) = delete;
    ~MediaDemuxer();

    // formatHint: the libavformat demuxer to try when probing finds none (may be null).
    // VFW_E_UNKNOWN_FILE_TYPE when the data is no container this build reads, or has no
    // stream that can be described.
    HRESULT open(IAsyncReader* reader, const char* formatHint);
    void close();
    bool isOpen() const { return format_ != nullptr; }

    const std::vector<DemuxedStream>& streams() const { return streams_; }
    // 0 when the container does not say.
    REFERENCE_TIME duration() const { return duration_; }

    // S_OK with the next packet of a described stream, S_FALSE at the end of the data,
    // an error when reading failed.
    HRESULT read(DemuxedPacket* out);
    // Moves so that the next packets start at or before t, the first picture a key
    // picture where the container allows; t is clamped to 0 and above.
    HRESULT seek(REFERENCE_TIME t);

    // Ends a read, probe or seek in progress on another thread (and every later one)
    // until cleared.
    void setAborted(bool aborted) { io_.setAborted(aborted); }

private:
    HRESULT readFromFile(DemuxedPacket* out);
    HRESULT seekFile(REFERENCE_TIME t);
    REFERENCE_TIME toMediaTime(int64_t ts, AVRational base) const;

    AsyncReaderIo io_;
    AVFormatContext* format_ = nullptr;
    std::vector<DemuxedStream> streams_;
    std::deque<DemuxedPacket> lookahead_;  // read while seeking, handed out first
    std::vector<int> streamSlot_;          // container stream -> position in streams_, or -1
    int64_t startTime_ = 0;                // in AV_TIME_BASE units
    REFERENCE_TIME duration_ = 0;
};
