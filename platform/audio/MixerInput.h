#pragma once
// One producer's stream into the mixer. The producer writes PCM of its own format; the
// input converts it to the mixer's stereo float at 48 kHz (resampling with exact sample
// accounting), queues it, and the mixer takes it with the input's level and balance.
// The input counts how many of the producer's frames the mixer has consumed: that count
// is the producer's clock.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "framework/Event.h"
#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioLevel.h"
#include "platform/audio/StereoDownmix.h"

struct SwrContext;

class MixerInput {
public:
    // Use Mixer::createInput; `format` must be valid.
    explicit MixerInput(const AudioFormat& format);
    ~MixerInput();
    MixerInput(const MixerInput&) = delete;
    MixerInput& operator=(const MixerInput&) = delete;

    const AudioFormat& format() const { return format_; }
    // False when the resampler could not be set up; such an input takes no data.
    bool ready() const { return ready_; }

    // Converts and queues up to `frames` whole frames; answers how many were taken. Takes
    // none while the queue is full or after endOfStream (until flush).
    size_t write(const void* data, size_t frames);
    // Frames of the input format that fit now.
    size_t writableFrames() const;
    // Set whenever the mixer took frames (auto-reset), so a writer can wait for room.
    Event& spaceEvent() { return space_; }

    // Queue capacity in milliseconds of audio (default 200).
    void setCapacityMs(uint32_t ms);

    // A paused input holds its queue and its count; the mixer skips it.
    void setPaused(bool paused);
    bool paused() const { return paused_.load(std::memory_order_acquire); }

    // Discards everything queued or held by the resampler and clears end-of-stream. The
    // consumed count stays: discarded frames were never played.
    void flush();

    // No more data: the resampler's tail is queued and the input is drained once the
    // mixer has taken everything.
    void endOfStream();
    bool endOfStreamSet() const;
    bool drained() const;
    // Manual-reset; set when drained, reset by flush.
    Event& drainedEvent() { return drainedEvent_; }

    // Level and balance in hundredths of a decibel (clamped to their ranges).
    void setVolume(int32_t volume);
    void setBalance(int32_t balance);
    int32_t volume() const { return volume_.load(std::memory_order_relaxed); }
    int32_t balance() const { return balance_.load(std::memory_order_relaxed); }

    // Input frames the mixer has consumed since the input was made (never decreases).
    uint64_t consumedFrames() const { return consumed_.load(std::memory_order_acquire); }
    // The same, interpolated through the block the output is playing when the output runs
    // in real time: frames played at steady-clock time `nowNs`.
    uint64_t playedFrames(int64_t nowNs) const;
    // Whether the mixer found this input without data at its last pull (not at end).
    bool starved() const { return starved_.load(std::memory_order_acquire); }
    // Output frames queued for the mixer.
    size_t queuedFrames() const;

    // Called by the mixer with its lock held: adds up to `frames` stereo frames into
    // `mix`. `realTime` tells that the block starts playing at `nowNs` and lasts its length.
    void pull(float* mix, uint32_t frames, bool realTime, int64_t nowNs);

private:
    struct Chunk {
        std::vector<float> samples;  // stereo, 48 kHz
        size_t frames = 0;           // output frames in samples
        uint64_t inputFrames = 0;    // producer frames they stand for
        uint64_t startOut = 0;       // segment output position of the first frame
        uint64_t startCredit = 0;    // producer frames credited before this chunk
        size_t taken = 0;            // output frames already mixed
    };

    void queueChunk(std::vector<float>&& samples, size_t frames, bool last);  // with writer_ held
    void resetConverter();                                                    // with writer_ held
    uint64_t creditFor(const Chunk& c, size_t taken) const;

    const AudioFormat format_;
    const StereoDownmix downmix_;

    // Writer side: converter state.
    std::mutex writer_;
    bool ready_ = false;
    SwrContext* swr_ = nullptr;
    std::vector<float> scratch_;
    uint64_t segmentIn_ = 0;        // producer frames written since the last flush
    uint64_t segmentOut_ = 0;       // output frames produced from them
    uint64_t segmentCredited_ = 0;  // producer frames attributed to queued chunks

    // Shared with the mixer.
    mutable std::mutex queue_;
    std::deque<Chunk> chunks_;
    size_t queued_ = 0;  // output frames not yet mixed
    size_t capacity_ = MixFormat::kRate / 5;
    bool endOfStream_ = false;
    bool drained_ = false;
    uint64_t lastBlockIn_ = 0;  // producer frames of the last real-time pull
    int64_t lastPullNs_ = 0;

    std::atomic<bool> paused_{false};
    std::atomic<bool> starved_{false};
    std::mutex levels_;  // keeps the gain pair consistent between the two setters
    std::atomic<int32_t> volume_{0};
    std::atomic<int32_t> balance_{0};
    std::atomic<float> gainLeft_{1.0f};
    std::atomic<float> gainRight_{1.0f};
    std::atomic<uint64_t> consumed_{0};
    Event space_{Event::Reset::Auto};
    Event drainedEvent_{Event::Reset::Manual};
};
