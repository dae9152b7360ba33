#include "splitters/MbcReader.h"

#include <algorithm>
#include <cstring>

#include "framework/TimeSource.h"

namespace {

constexpr uint64_t kHundredNsPerSecond = 10000000;

// a * b / c in 128 bits, saturated to the signed 64-bit range; c must be non-zero.
int64_t mulDiv(uint64_t a, uint64_t b, uint64_t c) {
    const unsigned __int128 v = static_cast<unsigned __int128>(a) * b / c;
    return v > static_cast<unsigned __int128>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(v);
}

}  // namespace

MbcReader::MbcReader() : callbacks_(&systemFileCallbacks()), header_(MbcHeader::initial()) {
    shared_.lock = &lock_;
}

MbcReader::~MbcReader() {
    close();
}

void MbcReader::setCallbacks(const StreamCallbacks* callbacks) {
    ScopedLock hold(lock_);
    if (open_) return;
    callbacks_ = callbacks ? callbacks : &systemFileCallbacks();
}

bool MbcReader::open(LPCWSTR stream) {
    close();
    ScopedLock hold(lock_);
    header_ = MbcHeader::initial();
    HANDLE h = callbacks_->open(stream, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!h) return false;
    auto fail = [&] {
        callbacks_->close(h);
        header_ = MbcHeader::initial();
        chunks_.clear();
        return false;
    };
    int64_t size = 0;
    if (!callbacks_->size(h, &size) || size < static_cast<int64_t>(MbcHeader::kBytes)) return fail();
    uint8_t raw[MbcHeader::kBytes];
    uint32_t got = 0;
    if (!callbacks_->seek(h, 0, STREAM_SEEK_SET_ORIGIN) || !callbacks_->read(h, raw, sizeof raw, &got) ||
        got != sizeof raw)
        return fail();
    MbcHeader fileHeader = MbcHeader::initial();
    if (!fileHeader.parse(raw, sizeof raw)) return fail();
    const uint64_t realSize = static_cast<uint64_t>(size);
    if (fileHeader.fileSize > realSize || fileHeader.rateNumerator == 0 || fileHeader.rateDenominator == 0)
        return fail();
    // The index is read in one piece; one that runs past the file is refused.
    const uint64_t indexBytes = uint64_t(fileHeader.chunkCount) * MbcChunkEntry::kBytes;
    if (indexBytes > realSize - MbcHeader::kBytes) return fail();
    std::vector<uint8_t> index(static_cast<size_t>(indexBytes));
    if (indexBytes &&
        (!callbacks_->read(h, index.data(), static_cast<uint32_t>(indexBytes), &got) || got != indexBytes))
        return fail();
    chunks_.resize(fileHeader.chunkCount);
    for (uint32_t i = 0; i < fileHeader.chunkCount; ++i) chunks_[i].parse(&index[size_t(i) * MbcChunkEntry::kBytes]);

    header_ = fileHeader;
    handle_ = h;
    shared_.callbacks = callbacks_;
    shared_.handle = h;
    shared_.lastUser = nullptr;
    // Regions are cut to what the file holds.
    auto regionSize = [&](uint64_t offset, uint64_t length) {
        return offset >= realSize ? 0 : std::min(length, realSize - offset);
    };
    videoView_.attach(&shared_, header_.videoOffset, regionSize(header_.videoOffset, header_.videoSize));
    audioView_.attach(&shared_, header_.audioOffset, regionSize(header_.audioOffset, header_.audioSize));
    hasVideo_ = header_.videoSize != 0;
    hasAudio_ = false;
    if (header_.audioSize != 0 && !(header_.codecFlags & kFlagNoAudio)) {
        const StreamCallbacks& view = MbcRegionView::callbacks();
        HANDLE audio =
            view.open(static_cast<LPCWSTR>(audioView_.asHandle()), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        if (audio && wbcf_.open(view, audio) == WbcfDecoder::Status::Ready) {
            const WbcfHeader& w = wbcf_.header();
            hasAudio_ =
                w.channels == header_.channels && header_.bitsPerSample == 16 && w.sampleRate == header_.sampleRate;
        }
        if (!hasAudio_) wbcf_.close();
    }
    open_ = true;
    return true;
}

bool MbcReader::isOpen() const {
    ScopedLock hold(lock_);
    return open_;
}

void MbcReader::stopWorker() {
    worker_.stop();
}

void MbcReader::releaseRunning() {
    running_ = false;
    queue_.release();
    pcm_.release();
    anchors_.clear();
    last_ = Held{0, nullptr};
    consumer_ = 0;
    chunk_ = 0;
    recordsInChunk_ = 0;
    audioFrame_ = audioSamples_ = audioTarget_ = 0;
}

void MbcReader::close() {
    stopWorker();
    ScopedLock hold(lock_);
    releaseRunning();
    if (open_) {
        videoView_.detach();
        audioView_.detach();
        wbcf_.close();
        callbacks_->close(handle_);
    }
    handle_ = nullptr;
    shared_.callbacks = nullptr;
    shared_.handle = nullptr;
    open_ = false;
    hasVideo_ = hasAudio_ = false;
    chunks_.clear();
    payload_.clear();
    clipScratch_.clear();
    header_ = MbcHeader::initial();
}

uint32_t MbcReader::frameCount() const {
    ScopedLock hold(lock_);
    return header_.frameCount;
}

int64_t MbcReader::frameTime(uint64_t n) const {
    ScopedLock hold(lock_);
    if (!header_.rateNumerator) return 0;
    return mulDiv(n, uint64_t(header_.rateDenominator) * kHundredNsPerSecond, header_.rateNumerator);
}

int64_t MbcReader::duration() const {
    return frameTime(frameCount());
}

int64_t MbcReader::frameTimeMs(uint64_t n) const {
    ScopedLock hold(lock_);
    if (!header_.rateNumerator) return 0;
    return mulDiv(n, uint64_t(header_.rateDenominator) * 1000, header_.rateNumerator);
}

uint64_t MbcReader::frameAtTime(int64_t t) const {
    ScopedLock hold(lock_);
    if (t <= 0 || !header_.rateDenominator) return 0;
    return static_cast<uint64_t>(mulDiv(static_cast<uint64_t>(t), header_.rateNumerator,
                                        uint64_t(header_.rateDenominator) * kHundredNsPerSecond));
}

uint64_t MbcReader::audioSamplesUpTo(uint64_t n) const {
    ScopedLock hold(lock_);
    if (!header_.rateNumerator) return 0;
    const unsigned __int128 v =
        static_cast<unsigned __int128>(n) * header_.sampleRate * header_.rateDenominator / header_.rateNumerator;
    return v > UINT64_MAX / 2 ? UINT64_MAX / 2 : static_cast<uint64_t>(v);
}

MbcReader::VideoInfo MbcReader::videoInfo() const {
    ScopedLock hold(lock_);
    return VideoInfo{header_.width, header_.height, header_.decodedWidth, header_.decodedHeight, header_.codecFlags};
}

MbcReader::AudioFormat MbcReader::audioFormat() const {
    ScopedLock hold(lock_);
    return AudioFormat{header_.channels, header_.bitsPerSample, header_.sampleRate};
}

bool MbcReader::hasVideo() const {
    ScopedLock hold(lock_);
    return hasVideo_;
}

bool MbcReader::hasAudio() const {
    ScopedLock hold(lock_);
    return hasAudio_;
}

uint32_t MbcReader::preferredOutputMode() const {
    ScopedLock hold(lock_);
    return (header_.codecFlags & 0xC0) ? kOutputAlpha : kOutputOpaque;
}

MbcHeader MbcReader::header() const {
    ScopedLock hold(lock_);
    return header_;
}

bool MbcReader::running() const {
    ScopedLock hold(lock_);
    return running_;
}

uint64_t MbcReader::consumerFrame() const {
    ScopedLock hold(lock_);
    return consumer_;
}

bool MbcReader::start(uint32_t outputMode) {
    stopWorker();
    {
        ScopedLock hold(lock_);
        releaseRunning();
        if (!open_ || (outputMode != kOutputOpaque && outputMode != kOutputAlpha)) return false;
        if (hasVideo_) {
            if (header_.width == 0 || header_.height == 0) return false;
            if (!decoder_.configure(header_.width, header_.height, (header_.codecFlags & 0x0FFFFFFFu) | outputMode))
                return false;
        }
        outputMode_ = outputMode;
        header_.decodedWidth = header_.width;
        header_.decodedHeight = header_.height;

        const uint32_t ahead = std::min(header_.aheadDepth, kMaxAheadDepth);
        size_t capacity = 2 * size_t(std::max<uint32_t>(ahead, 8));
        if (hasVideo_) {
            const uint64_t pictureBytes = uint64_t(decoder_.storeWidth()) * decoder_.storeHeight() * 4;
            capacity = std::max<size_t>(16, std::min<uint64_t>(capacity, kMaxRingBytes / pictureBytes));
        }
        queue_.reset(capacity, 0);
        if (hasAudio_) {
            blockAlign_ = uint32_t(header_.channels) * 2;
            // Six frames of PCM rounded up to whole KiB, kept to whole sample frames.
            uint64_t bytes = std::min<uint64_t>(audioSamplesUpTo(6) * blockAlign_, 4u << 20);
            bytes = std::max<uint64_t>((bytes + 1023) / 1024 * 1024, 1024);
            bytes -= bytes % blockAlign_;
            pcm_.reset(ahead / 4 * 2 + 4, static_cast<size_t>(bytes));
        }
        running_ = true;
        if (!seekToFrame(0)) {
            // A damaged opening: play from the start and skip what cannot be decoded.
            queue_.restart(0);
            anchors_.clear();
            last_ = Held{0, nullptr};
            consumer_ = 0;
            enterChunk(0);
            if (hasAudio_) {
                pcm_.clear();
                audioFrame_ = audioSamples_ = audioTarget_ = 0;
                wbcf_.seekToSample(0);
            }
        }
        header_.codecFlags &= 0xFFFFF;
    }
    worker_.setContextFunction(&MbcReader::workerEntry, this);
    worker_.setPriority(kWorkerPriority);
    if (!worker_.start()) {
        ScopedLock hold(lock_);
        releaseRunning();
        return false;
    }
    return true;
}

void MbcReader::workerEntry(Thread& thread, void* self) {
    static_cast<MbcReader*>(self)->workerLoop(thread);
}

void MbcReader::workerLoop(Thread& thread) {
    while (thread.isRunning()) {
        bool worked = false;
        bool doze = false;
        uint32_t dozeMs = 1;
        {
            ScopedLock hold(lock_);
            if (!running_) break;
            const uint64_t frames = header_.frameCount;
            if (hasVideo_ && chunk_ < chunks_.size() && !queue_.full()) {
                uint64_t n = 0;
                if (nextRecord(&n)) {
                    handleRecord(n, consumer_);
                    // Far enough ahead: rest, unless the consumer's own frame is still missing.
                    doze = n > consumer_ + 4 && queue_.find(consumer_);
                }
                worked = true;
            }
            if (hasAudio_) {
                if (audioFrame_ < frames && audioFrame_ < consumer_ + queue_.capacity()) {
                    ++audioFrame_;
                    if (audioFrame_ % 4 == 0 || audioFrame_ >= frames) decodeAudioUpTo(audioFrame_);
                    worked = true;
                } else if (audioBehind()) {
                    decodeAudioUpTo(audioFrame_);
                    worked = true;
                }
            }
            dozeMs = static_cast<uint32_t>(std::clamp<int64_t>(frameTimeMs(1) / 2, 1, 1000));
        }
        progress_.set();
        if (!worked)
            thread.waitOrStop(INFINITE);
        else if (doze)
            thread.waitOrStop(dozeMs);
    }
}

void MbcReader::enterChunk(uint32_t index) {
    chunk_ = index;
    recordsInChunk_ = 0;
    if (index >= chunks_.size()) return;
    const uint64_t offset = chunks_[index].offset;
    if (offset >= header_.videoOffset)
        videoView_.seek(static_cast<int64_t>(std::min<uint64_t>(offset - header_.videoOffset, INT64_MAX)),
                        STREAM_SEEK_SET_ORIGIN);
    else
        videoView_.seek(0, STREAM_SEEK_END_ORIGIN);  // outside the video region: nothing to read
}

bool MbcReader::nextRecord(uint64_t* frame) {
    while (chunk_ < chunks_.size()) {
        const MbcChunkEntry& chunk = chunks_[chunk_];
        if (recordsInChunk_ >= chunk.frameCount) {
            enterChunk(chunk_ + 1);
            continue;
        }
        uint8_t raw[MbcFrameRecord::kBytes];
        uint32_t got = 0;
        if (!videoView_.read(raw, sizeof raw, &got) || got != sizeof raw) {
            // The region ends inside this chunk: nothing more of it can be read.
            enterChunk(chunk_ + 1);
            continue;
        }
        record_.parse(raw);
        ++recordsInChunk_;
        payloadBytes_ = 0;
        if (record_.typeBits() == static_cast<uint32_t>(MbcFrameType::Repeat)) {
            videoView_.seek(record_.payloadSize, STREAM_SEEK_CUR_ORIGIN);
        } else {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(record_.payloadSize, videoView_.remaining()));
            const size_t capacity = (want + 4 + 1023) / 1024 * 1024;
            if (payload_.size() < capacity) payload_.resize(capacity);
            uint32_t read = 0;
            if (want) videoView_.read(payload_.data(), static_cast<uint32_t>(want), &read);
            payloadBytes_ = read;
            std::memset(payload_.data() + read, 0, 4);
            // Whatever could not be read is skipped too, so the next record is found.
            videoView_.seek(int64_t(record_.payloadSize) - read, STREAM_SEEK_CUR_ORIGIN);
        }
        *frame = uint64_t(chunk.firstFrame) + record_.relativeFrame();
        return true;
    }
    return false;
}

std::shared_ptr<const MbcPicture> MbcReader::reference(uint64_t frame) const {
    if (const MbcFrameQueue::Slot* slot = queue_.find(frame)) return slot->picture;
    for (const Held& h : anchors_)
        if (h.frame == frame) return h.picture;
    if (last_.picture && last_.frame == frame) return last_.picture;
    return nullptr;
}

void MbcReader::remember(uint64_t frame, const std::shared_ptr<const MbcPicture>& picture, bool anchor) {
    last_ = Held{frame, picture};
    if (!anchor) return;
    anchors_.erase(std::remove_if(anchors_.begin(), anchors_.end(), [&](const Held& h) { return h.frame == frame; }),
                   anchors_.end());
    anchors_.push_back(Held{frame, picture});
    if (anchors_.size() > 2) anchors_.erase(anchors_.begin());
}

MbcReader::Handled MbcReader::handleRecord(uint64_t n, uint64_t releaseLine) {
    if (n >= header_.frameCount) return Handled::Failed;
    const uint32_t typeBits = record_.typeBits();
    if (typeBits == static_cast<uint32_t>(MbcFrameType::Repeat)) {
        auto previous = n ? reference(n - 1) : nullptr;
        if (!previous) return Handled::Failed;
        remember(n, previous, false);
        if (n >= releaseLine && !queue_.commit(n, MbcFrameQueue::State::Repeat, MbcFrameType::Repeat, previous))
            return Handled::Failed;
        return Handled::Done;
    }
    if (typeBits != 1 && typeBits != 4 && typeBits != 8) return Handled::Failed;
    const auto type = static_cast<MbcFrameType>(typeBits);
    // A Bidirectional frame the consumer has passed is needed by nothing.
    if (type == MbcFrameType::Bidirectional && n < releaseLine) return Handled::Done;
    std::shared_ptr<const MbcPicture> past, future;
    if (type != MbcFrameType::Intra) {
        const uint64_t d = record_.backward();
        if (d == 0 || d > n || !(past = reference(n - d))) return Handled::Failed;
    }
    if (type == MbcFrameType::Bidirectional) {
        const uint64_t f = record_.forward();
        if (f == 0 || !(future = reference(n + f))) return Handled::Failed;
    }
    std::shared_ptr<MbcPicture> picture = queue_.acquirePicture(decoder_.storeWidth(), decoder_.storeHeight());
    if (!picture) return Handled::Failed;
    if (!decoder_.decodeFrame(payload_.data(), payloadBytes_, type, *picture, past.get(), future.get(),
                              header_.intraMatrix.data(), header_.interMatrix.data()))
        return Handled::Failed;
    remember(n, picture, type != MbcFrameType::Bidirectional);
    if (n >= releaseLine && !queue_.commit(n, MbcFrameQueue::State::Decoded, type, picture)) return Handled::Failed;
    return Handled::Done;
}

bool MbcReader::positionAt(uint64_t s) {
    queue_.restart(s);
    anchors_.clear();
    last_ = Held{0, nullptr};
    if (!hasVideo_) {
        chunk_ = static_cast<uint32_t>(chunks_.size());
        consumer_ = s;
        return true;
    }
    uint32_t found = 0;
    while (found < chunks_.size() &&
           !(s >= chunks_[found].firstFrame && s < uint64_t(chunks_[found].firstFrame) + chunks_[found].frameCount))
        ++found;
    if (found == chunks_.size()) return false;
    enterChunk(found);
    const uint64_t k = std::min<uint64_t>(4, header_.frameCount - s);
    bool handled[4] = {};
    uint64_t left = k;
    while (left) {
        uint64_t n = 0;
        if (!nextRecord(&n)) return false;
        const Handled result = handleRecord(n, s);
        if (n >= s && n < s + k) {
            if (result == Handled::Failed) return false;
            if (!handled[n - s]) {
                handled[n - s] = true;
                --left;
            }
        }
    }
    consumer_ = s;
    return true;
}

void MbcReader::positionAtEnd() {
    const uint64_t end = header_.frameCount;
    chunk_ = static_cast<uint32_t>(chunks_.size());
    recordsInChunk_ = 0;
    consumer_ = end;
    queue_.restart(end);
    anchors_.clear();
    last_ = Held{0, nullptr};
    if (hasAudio_) {
        audioFrame_ = end;
        pcm_.clear();
        audioTarget_ = audioSamples_;
    }
}

bool MbcReader::seekToFrame(uint64_t s) {
    ScopedLock hold(lock_);
    if (!running_) return false;
    bool ok = true;
    if (s >= header_.frameCount) {
        positionAtEnd();
    } else if (!positionAt(s)) {
        positionAtEnd();
        ok = false;
    } else if (hasAudio_) {
        audioFrame_ = s;
        audioSamples_ = audioSamplesUpTo(s);
        audioTarget_ = audioSamples_;
        pcm_.clear();
        wbcf_.seekToSample(audioSamples_);
        decodeAudioUpTo(s + std::min<uint64_t>(4, header_.frameCount - s));
    }
    worker_.wake();
    return ok;
}

bool MbcReader::audioBehind() const {
    return audioSamples_ < audioTarget_ && pcm_.chunkCount() > pcm_.filledCount();
}

void MbcReader::decodeAudioUpTo(uint64_t frame) {
    audioTarget_ = std::max(audioTarget_, audioSamplesUpTo(std::min<uint64_t>(frame, header_.frameCount)));
    const size_t frames = pcm_.chunkBytes() / blockAlign_;
    while (audioSamples_ < audioTarget_) {
        uint8_t* chunk = pcm_.beginFill();
        if (!chunk) break;
        // What the stream no longer has is silence.
        const size_t got = wbcf_.read(reinterpret_cast<int16_t*>(chunk), frames);
        std::memset(chunk + got * blockAlign_, 0, pcm_.chunkBytes() - got * blockAlign_);
        pcm_.commitFill();
        audioSamples_ += frames;
    }
}

bool MbcReader::copyVideoFrame(uint8_t* dst, ptrdiff_t stride, uint32_t clipWidth, uint32_t clipHeight) {
    ScopedLock hold(lock_);
    if (!running_ || !hasVideo_ || !dst) return false;
    const MbcFrameQueue::Slot* slot = queue_.find(consumer_);
    if (!slot) return false;
    const uint32_t w = decoder_.width(), h = decoder_.height();
    const uint32_t cw = clipWidth ? std::min(clipWidth, w) : w;
    const uint32_t ch = clipHeight ? std::min(clipHeight, h) : h;
    if (cw == w && ch == h) {
        decoder_.convertPicture(*slot->picture, dst, stride);
        return true;
    }
    // A smaller destination: convert whole, then copy the part that fits.
    const size_t pixelBytes = static_cast<size_t>(decoder_.outputPixelBytes());
    clipScratch_.resize(size_t(w) * h * pixelBytes);
    decoder_.convertPicture(*slot->picture, clipScratch_.data(), static_cast<ptrdiff_t>(w * pixelBytes));
    for (uint32_t y = 0; y < ch; ++y)
        std::memcpy(dst + ptrdiff_t(y) * stride, clipScratch_.data() + size_t(y) * w * pixelBytes, cw * pixelBytes);
    return true;
}

bool MbcReader::isSyncFrame() {
    ScopedLock hold(lock_);
    if (!running_) return false;
    const MbcFrameQueue::Slot* slot = queue_.find(consumer_);
    return slot && slot->type == MbcFrameType::Intra;
}

bool MbcReader::readAudio(const uint8_t** data, uint32_t* bytes) {
    ScopedLock hold(lock_);
    if (!running_ || !hasAudio_ || !data || !bytes) return false;
    size_t n = 0;
    const uint8_t* chunk = pcm_.borrow(&n);
    if (!chunk) return false;
    *data = chunk;
    *bytes = static_cast<uint32_t>(n);
    return true;
}

bool MbcReader::releaseAudio(const uint8_t* data) {
    ScopedLock hold(lock_);
    if (!running_) return false;
    const bool ok = pcm_.giveBack(data);
    if (ok) worker_.wake();
    return ok;
}

bool MbcReader::advance(uint32_t count) {
    ScopedLock hold(lock_);
    if (!running_) return false;
    const uint64_t end = header_.frameCount;
    const uint64_t next = std::min<uint64_t>(consumer_ + std::max<uint32_t>(count, 1), end);
    queue_.releaseBelow(next);
    consumer_ = next;
    worker_.wake();
    return consumer_ < end;
}

bool MbcReader::waitForFrame(uint32_t timeoutMs) {
    const uint32_t startMs = currentTimeMs();
    for (;;) {
        {
            ScopedLock hold(lock_);
            if (!running_ || !hasVideo_ || consumer_ >= header_.frameCount) return false;
            if (queue_.find(consumer_)) return true;
            // Nothing left to read, or no slot until the consumer moves: it will not come.
            if (chunk_ >= chunks_.size() || queue_.full()) return false;
        }
        if (timeoutMs != INFINITE && currentTimeMs() - startMs >= timeoutMs) return false;
        progress_.wait(10);
    }
}

bool MbcReader::waitForAudio(uint32_t timeoutMs) {
    const uint32_t startMs = currentTimeMs();
    for (;;) {
        {
            ScopedLock hold(lock_);
            if (!running_ || !hasAudio_) return false;
            if (pcm_.filledCount()) return true;
            const bool frameLimited = audioFrame_ >= header_.frameCount || audioFrame_ >= consumer_ + queue_.capacity();
            if (frameLimited && audioSamples_ >= audioTarget_) return false;
        }
        if (timeoutMs != INFINITE && currentTimeMs() - startMs >= timeoutMs) return false;
        progress_.wait(10);
    }
}
