#include "platform/audio/MixerInput.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

MixerInput::MixerInput(const AudioFormat& format) : format_(format), downmix_(format) {
    std::lock_guard writer(writer_);
    resetConverter();
}

MixerInput::~MixerInput() {
    swr_free(&swr_);
}

void MixerInput::resetConverter() {
    swr_free(&swr_);
    ready_ = format_.valid();
    if (!ready_ || format_.rate == MixFormat::kRate) return;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int rc = swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_FLT, MixFormat::kRate, &stereo, AV_SAMPLE_FMT_FLT,
                                 static_cast<int>(format_.rate), 0, nullptr);
    if (rc < 0 || !swr_ || swr_init(swr_) < 0) {
        swr_free(&swr_);
        ready_ = false;
    }
}

void MixerInput::setCapacityMs(uint32_t ms) {
    std::lock_guard lock(queue_);
    capacity_ = std::max<size_t>(1, static_cast<size_t>(ms) * MixFormat::kRate / 1000);
}

size_t MixerInput::writableFrames() const {
    std::lock_guard lock(queue_);
    if (endOfStream_ || queued_ >= capacity_) return 0;
    size_t space = capacity_ - queued_;
    return std::max<size_t>(1, static_cast<size_t>(static_cast<uint64_t>(space) * format_.rate / MixFormat::kRate));
}

size_t MixerInput::write(const void* data, size_t frames) {
    if (!data || frames == 0) return 0;
    std::lock_guard writer(writer_);
    if (!ready_) return 0;
    size_t n = std::min(frames, writableFrames());
    if (n == 0) return 0;

    scratch_.resize(n * 2);
    downmix_.convert(data, n, scratch_.data());
    segmentIn_ += n;
    if (!swr_) {
        segmentOut_ += n;
        queueChunk(std::vector<float>(scratch_.begin(), scratch_.end()), n, false);
        return n;
    }
    int room = swr_get_out_samples(swr_, static_cast<int>(n));
    std::vector<float> out(static_cast<size_t>(std::max(room, 0)) * 2);
    auto* outPtr = reinterpret_cast<uint8_t*>(out.data());
    auto* inPtr = reinterpret_cast<const uint8_t*>(scratch_.data());
    int got = swr_convert(swr_, &outPtr, room, &inPtr, static_cast<int>(n));
    got = std::max(got, 0);  // a failed conversion loses the block, not the accounting
    segmentOut_ += static_cast<uint64_t>(got);
    out.resize(static_cast<size_t>(got) * 2);
    queueChunk(std::move(out), static_cast<size_t>(got), false);
    return n;
}

void MixerInput::queueChunk(std::vector<float>&& samples, size_t frames, bool last) {
    // Output frame k stands for producer time k * rate / 48000; the resampler holds back a
    // few frames, so credit only what the produced frames cover, and the rest at the end.
    uint64_t target = last ? segmentIn_ : std::min<uint64_t>(segmentIn_, segmentOut_ * format_.rate / MixFormat::kRate);
    uint64_t credit = target - segmentCredited_;
    Chunk c;
    c.startOut = segmentOut_ - frames;
    c.startCredit = segmentCredited_;
    segmentCredited_ = target;
    if (frames == 0 && credit == 0) return;
    std::lock_guard lock(queue_);
    c.samples = std::move(samples);
    c.frames = frames;
    c.inputFrames = credit;
    chunks_.push_back(std::move(c));
    queued_ += frames;
}

void MixerInput::endOfStream() {
    std::lock_guard writer(writer_);
    {
        std::lock_guard lock(queue_);
        if (endOfStream_) return;
    }
    std::vector<float> tail;
    size_t got = 0;
    if (swr_) {
        int room = swr_get_out_samples(swr_, 0);
        if (room > 0) {
            tail.resize(static_cast<size_t>(room) * 2);
            auto* outPtr = reinterpret_cast<uint8_t*>(tail.data());
            got = static_cast<size_t>(std::max(swr_convert(swr_, &outPtr, room, nullptr, 0), 0));
            tail.resize(got * 2);
        }
        segmentOut_ += got;
    }
    queueChunk(std::move(tail), got, true);
    std::lock_guard lock(queue_);
    endOfStream_ = true;
    if (chunks_.empty() && !drained_) {
        drained_ = true;
        drainedEvent_.set();
    }
}

bool MixerInput::endOfStreamSet() const {
    std::lock_guard lock(queue_);
    return endOfStream_;
}

bool MixerInput::drained() const {
    std::lock_guard lock(queue_);
    return drained_;
}

void MixerInput::flush() {
    std::lock_guard writer(writer_);
    resetConverter();
    segmentIn_ = segmentOut_ = segmentCredited_ = 0;
    {
        std::lock_guard lock(queue_);
        chunks_.clear();
        queued_ = 0;
        endOfStream_ = false;
        drained_ = false;
        lastBlockIn_ = 0;
        drainedEvent_.reset();
    }
    starved_.store(false, std::memory_order_release);
    space_.set();
}

void MixerInput::setPaused(bool paused) {
    std::lock_guard lock(queue_);
    paused_.store(paused, std::memory_order_release);
    // The block being played is frozen where the count stands.
    lastBlockIn_ = 0;
}

void MixerInput::setVolume(int32_t volume) {
    std::lock_guard lock(levels_);
    volume_.store(std::clamp(volume, kLevelSilent, kLevelFull), std::memory_order_relaxed);
    ChannelGains g = levelAndBalanceGains(volume_.load(), balance_.load());
    gainLeft_.store(g.left, std::memory_order_relaxed);
    gainRight_.store(g.right, std::memory_order_relaxed);
}

void MixerInput::setBalance(int32_t balance) {
    std::lock_guard lock(levels_);
    balance_.store(std::clamp(balance, kBalanceLeftOnly, kBalanceRightOnly), std::memory_order_relaxed);
    ChannelGains g = levelAndBalanceGains(volume_.load(), balance_.load());
    gainLeft_.store(g.left, std::memory_order_relaxed);
    gainRight_.store(g.right, std::memory_order_relaxed);
}

size_t MixerInput::queuedFrames() const {
    std::lock_guard lock(queue_);
    return queued_;
}

uint64_t MixerInput::creditFor(const Chunk& c, size_t taken) const {
    if (taken >= c.frames) return c.inputFrames;
    // The same rule as when the chunk was queued, at the frame reached.
    uint64_t position = (c.startOut + taken) * format_.rate / MixFormat::kRate;
    return std::min(c.inputFrames, position - c.startCredit);
}

uint64_t MixerInput::playedFrames(int64_t nowNs) const {
    std::lock_guard lock(queue_);
    uint64_t consumed = consumed_.load(std::memory_order_relaxed);
    if (lastBlockIn_ == 0) return consumed;
    int64_t elapsed = std::max<int64_t>(0, nowNs - lastPullNs_);
    auto advanced = static_cast<uint64_t>(static_cast<__int128>(elapsed) * format_.rate / 1000000000);
    return consumed - lastBlockIn_ + std::min(advanced, lastBlockIn_);
}

void MixerInput::pull(float* mix, uint32_t frames, bool realTime, int64_t nowNs) {
    if (paused_.load(std::memory_order_acquire)) return;
    std::lock_guard lock(queue_);
    if (paused_.load(std::memory_order_relaxed)) return;
    const float gl = gainLeft_.load(std::memory_order_relaxed);
    const float gr = gainRight_.load(std::memory_order_relaxed);
    size_t done = 0;
    uint64_t credited = 0;
    while (!chunks_.empty()) {
        Chunk& c = chunks_.front();
        size_t n = std::min<size_t>(frames - done, c.frames - c.taken);
        if (n == 0 && c.taken < c.frames) break;  // block full
        const float* src = c.samples.data() + c.taken * 2;
        float* dst = mix + done * 2;
        for (size_t i = 0; i < n; ++i) {
            dst[i * 2] += src[i * 2] * gl;
            dst[i * 2 + 1] += src[i * 2 + 1] * gr;
        }
        uint64_t before = creditFor(c, c.taken);
        c.taken += n;
        credited += creditFor(c, c.taken) - before;
        done += n;
        queued_ -= n;
        if (c.taken == c.frames) chunks_.pop_front();
    }
    consumed_.fetch_add(credited, std::memory_order_acq_rel);
    lastBlockIn_ = realTime ? credited : 0;
    lastPullNs_ = nowNs;
    starved_.store(done < frames && !endOfStream_, std::memory_order_release);
    if (endOfStream_ && chunks_.empty() && !drained_) {
        drained_ = true;
        drainedEvent_.set();
    }
    if (done > 0) space_.set();
}
