#pragma once
// Reads an MBC movie: validates the header, loads the chunk index, decodes video ahead of
// the consumer on a worker thread into MbcFrameQueue and WBCF audio into MbcPcmRing, and
// hands out pictures converted to 32-bit BGRA and PCM chunks. All file access goes
// through StreamCallbacks; the video and the audio region are views onto the one handle.
//
// References: a decoded picture is shared, and the reader holds the two most recent
// anchor pictures (Intra, Predicted) besides the consumer's slots, so a record that
// predicts from a frame the consumer has already passed still finds it. A reference that
// is gone anyway fails that record only. A record that fails (damaged payload, missing
// reference) is skipped: its frame is not delivered and decoding goes on.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/StreamCallbacks.h"
#include "framework/Thread.h"
#include "splitters/MbcFrameQueue.h"
#include "splitters/MbcHeader.h"
#include "splitters/MbcPcmRing.h"
#include "splitters/MbcRegionView.h"
#include "splitters/MbcVideoDecoder.h"
#include "splitters/WbcfDecoder.h"

class MbcReader {
public:
    static constexpr uint32_t kOutputOpaque = 0x20000000;  // BGRA, alpha forced to 255
    static constexpr uint32_t kOutputAlpha = 0x30000000;   // BGRA with the decoded alpha
    static constexpr uint32_t kFlagNoAudio = 1u << 25;
    static constexpr int kWorkerPriority = 1;  // above normal
    // Caps on the decode-ahead depth a header may ask for: at most this depth, and the
    // picture ring within kMaxRingBytes (never below the 16 entries of depth 8).
    static constexpr uint32_t kMaxAheadDepth = 64;
    static constexpr uint64_t kMaxRingBytes = 512ull << 20;

    struct VideoInfo {
        uint32_t width = 0, height = 0, decodedWidth = 0, decodedHeight = 0, codecFlags = 0;
    };
    struct AudioFormat {
        uint16_t channels = 0, bitsPerSample = 0;
        uint32_t sampleRate = 0;
    };

    MbcReader();
    ~MbcReader();
    MbcReader(const MbcReader&) = delete;
    MbcReader& operator=(const MbcReader&) = delete;

    // Only before open; null selects the operating system's files.
    void setCallbacks(const StreamCallbacks* callbacks);
    // Opens the stream (a name, or a handle for tables that wrap one) and loads header and
    // index. False, with nothing kept, for a stream that cannot be opened, is shorter than
    // the header, has another magic, claims more bytes than it has, a zero rate, or an
    // index that does not fit in it.
    bool open(LPCWSTR stream);
    void close();
    bool isOpen() const;

    uint32_t frameCount() const;
    int64_t duration() const;
    int64_t frameTime(uint64_t n) const;
    int64_t frameTimeMs(uint64_t n) const;
    uint64_t frameAtTime(int64_t t) const;
    // Sample frames of audio up to video frame n.
    uint64_t audioSamplesUpTo(uint64_t n) const;
    VideoInfo videoInfo() const;
    AudioFormat audioFormat() const;
    bool hasVideo() const;
    // The file has an audio region that this reader decodes (WBCF modes 0 and 1 whose
    // format matches the header, and bit 25 of the codec flags clear).
    bool hasAudio() const;
    // The output mode a splitter asks for: alpha when bit 6 or 7 of the codec flags is set.
    uint32_t preferredOutputMode() const;
    MbcHeader header() const;

    // Builds the decoder and rings, positions at frame 0 (frames 0-3 ready) and starts the
    // worker. False for an unknown output mode, a zero size or rate in a file with video,
    // or codec flags the decoder refuses.
    bool start(uint32_t outputMode);
    bool running() const;

    // Converts the consumer frame into dst (rows stride bytes apart); at most clipWidth x
    // clipHeight pixels are written when they are given (non-zero) and smaller than the
    // picture. False when the frame is not decoded.
    bool copyVideoFrame(uint8_t* dst, ptrdiff_t stride, uint32_t clipWidth = 0, uint32_t clipHeight = 0);
    // The consumer frame is a decoded Intra frame.
    bool isSyncFrame();
    // Lends the next PCM chunk; false when none is ready.
    bool readAudio(const uint8_t** data, uint32_t* bytes);
    bool releaseAudio(const uint8_t* data);
    // Moves the consumer by count frames (0 counts as 1), releasing the frames passed;
    // false when the end is reached.
    bool advance(uint32_t count);
    // Positions at frame n with frames n ... n + 3 ready; n >= frameCount ends the stream.
    // False when no chunk covers n, or a needed frame cannot be decoded; the stream then
    // ends until the next successful seek.
    bool seekToFrame(uint64_t n);
    uint64_t consumerFrame() const;

    // For callers that want every picture (tools, tests) rather than real-time pacing:
    // waits until the consumer frame is decoded (true), or until the worker can do nothing
    // more for it before the consumer moves on (false: it will not be delivered).
    bool waitForFrame(uint32_t timeoutMs);
    // Waits until a PCM chunk is ready (true), or no more audio will come for the frames
    // the consumer has reached (false).
    bool waitForAudio(uint32_t timeoutMs);

private:
    enum class Handled { Done, Failed };
    struct Held {
        uint64_t frame;
        std::shared_ptr<const MbcPicture> picture;
    };

    static void workerEntry(Thread& thread, void* self);
    void workerLoop(Thread& thread);
    void stopWorker();
    void releaseRunning();

    // Reads the next record of the current chunk into record_/payload_ (moving to the next
    // chunk at a chunk's end). False when no record is left.
    bool nextRecord(uint64_t* frame);
    void enterChunk(uint32_t index);
    Handled handleRecord(uint64_t frame, uint64_t releaseLine);
    std::shared_ptr<const MbcPicture> reference(uint64_t frame) const;
    void remember(uint64_t frame, const std::shared_ptr<const MbcPicture>& picture, bool anchor);
    bool positionAt(uint64_t s);
    void positionAtEnd();
    void decodeAudioUpTo(uint64_t frame);
    bool audioBehind() const;

    mutable CriticalSection lock_;
    const StreamCallbacks* callbacks_;
    HANDLE handle_ = nullptr;
    bool open_ = false;
    bool running_ = false;
    MbcHeader header_;
    std::vector<MbcChunkEntry> chunks_;
    MbcSharedStream shared_;
    MbcRegionView videoView_, audioView_;
    bool hasVideo_ = false, hasAudio_ = false;

    // Video cursor.
    uint32_t chunk_ = 0;
    uint32_t recordsInChunk_ = 0;
    MbcFrameRecord record_;
    std::vector<uint8_t> payload_;
    size_t payloadBytes_ = 0;

    uint64_t consumer_ = 0;
    uint32_t outputMode_ = kOutputOpaque;
    MbcVideoDecoder decoder_;
    MbcFrameQueue queue_;
    std::vector<Held> anchors_;
    Held last_{0, nullptr};
    std::vector<uint8_t> clipScratch_;

    // Audio cursors.
    WbcfDecoder wbcf_;
    MbcPcmRing pcm_;
    uint64_t audioFrame_ = 0;
    uint64_t audioSamples_ = 0;
    uint64_t audioTarget_ = 0;
    uint32_t blockAlign_ = 0;

    Event progress_{Event::Reset::Auto};  // set by the worker after each step
    Thread worker_;
};
