#include "splitters/WbcfDecoder.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

bool readAll(const StreamCallbacks& cb, HANDLE h, void* buffer, uint32_t count) {
    uint32_t got = 0;
    return cb.read(h, buffer, count, &got) && got == count;
}

uint16_t deltaMode1(MbcBitReader& bits) {
    const uint32_t k = bits.readBits(3);
    uint32_t m;
    uint32_t v;
    if (k < 7) {
        v = bits.readBits(5);
        m = ((v & 15) + 17) << (k + 3);
    } else {
        const uint32_t d = bits.readBits(3);
        if (d == 0) return 0;
        if (d == 7) return 0x8000;
        v = bits.readBits(5);
        if (d == 1)
            m = (v & 15) + 1;
        else if (d <= 4)
            m = ((v & 15) + 17) << (d - 2);
        else
            m = ((v & 15) + 17) << (d + 5);
    }
    m &= 0xFFFF;
    return static_cast<uint16_t>((v & 16) ? 0x10000 - m : m);
}

}  // namespace

bool WbcfHeader::parse(const uint8_t* p, size_t size) {
    if (!p || size < kBytes || std::memcmp(p, "WBCF", 4) != 0) return false;
    dataEnd = le32(p + 4);
    mode = le16(p + 8);
    channels = le16(p + 10);
    bitsPerSample = le16(p + 12);
    sampleRate = le32(p + 16);
    blockCount = le32(p + 20);
    totalSamples = le32(p + 24);
    blockSamples = le32(p + 28);
    maxBlockBytes = le32(p + 32);
    return true;
}

void WbcfHeader::store(uint8_t* p) const {
    std::memset(p, 0, kBytes);
    std::memcpy(p, "WBCF", 4);
    put32(p + 4, dataEnd);
    put16(p + 8, mode);
    put16(p + 10, channels);
    put16(p + 12, bitsPerSample);
    put32(p + 16, sampleRate);
    put32(p + 20, blockCount);
    put32(p + 24, totalSamples);
    put32(p + 28, blockSamples);
    put32(p + 32, maxBlockBytes);
}

WbcfDecoder::Status WbcfDecoder::open(const StreamCallbacks& cb, HANDLE handle) {
    close();
    status_ = Status::Invalid;
    int64_t size = 0;
    if (!handle || !cb.size(handle, &size) || size < static_cast<int64_t>(WbcfHeader::kBytes)) return status_;
    uint8_t raw[WbcfHeader::kBytes];
    if (!cb.seek(handle, 0, STREAM_SEEK_SET_ORIGIN) || !readAll(cb, handle, raw, sizeof raw)) return status_;
    WbcfHeader h;
    if (!h.parse(raw, sizeof raw)) return status_;
    const bool known = h.mode == 0 || h.mode == 1 || h.mode == 64 || (h.mode >= 256 && h.mode <= 260);
    if (!known || h.channels == 0 || h.channels > kMaxChannels || h.bitsPerSample != 16 || h.sampleRate == 0)
        return status_;
    if (h.blockSamples == 0 || h.blockSamples > kMaxBlockSamples || h.blockSamples % h.channels != 0 ||
        h.blockSamples / h.channels < 64)
        return status_;
    if (WbcfHeader::kBytes + uint64_t(h.blockCount) * 4 > static_cast<uint64_t>(size)) return status_;
    if (h.mode != 0 && h.mode != 1) {
        header_ = h;
        return status_ = Status::Unsupported;
    }
    offsets_.resize(h.blockCount);
    if (h.blockCount) {
        std::vector<uint8_t> table(size_t(h.blockCount) * 4);
        if (!readAll(cb, handle, table.data(), static_cast<uint32_t>(table.size()))) return status_;
        for (uint32_t i = 0; i < h.blockCount; ++i) offsets_[i] = le32(&table[size_t(i) * 4]);
    }
    header_ = h;
    callbacks_ = &cb;
    handle_ = handle;
    streamSize_ = static_cast<uint64_t>(size);
    planar_.assign(h.blockSamples, 0);
    block_.clear();
    nextBlock_ = 0;
    blockPos_ = 0;
    return status_ = Status::Ready;
}

void WbcfDecoder::close() {
    status_ = Status::Closed;
    callbacks_ = nullptr;
    handle_ = nullptr;
    header_ = WbcfHeader{};
    offsets_.clear();
    bytes_.clear();
    planar_.clear();
    block_.clear();
    nextBlock_ = 0;
    blockPos_ = 0;
}

uint32_t WbcfDecoder::samplesInBlock(uint32_t index) const {
    if (index + 1 < header_.blockCount) return header_.blockSamples;
    // The last block holds what is left of the total, never more than a block.
    const int64_t left = int64_t(header_.totalSamples) - int64_t(header_.blockCount - 1) * header_.blockSamples;
    const int64_t n = std::clamp<int64_t>(left, 0, header_.blockSamples);
    return static_cast<uint32_t>(n - n % header_.channels);
}

void WbcfDecoder::decodeBlock(uint16_t mode, const uint8_t* data, size_t size, uint32_t channels, uint32_t perChannel,
                              int16_t* planar) {
    MbcBitReader bits(data, size);
    for (uint32_t c = 0; c < channels; ++c) {
        int16_t* out = planar + size_t(c) * perChannel;
        if (perChannel == 0) continue;
        if (mode == 0) {
            for (uint32_t i = 0; i < perChannel; ++i) out[i] = static_cast<int16_t>(bits.readBits(16));
            continue;
        }
        uint16_t s = static_cast<uint16_t>(bits.readBits(16));
        out[0] = static_cast<int16_t>(s);
        for (uint32_t i = 1; i < perChannel; ++i) {
            s = static_cast<uint16_t>(s + deltaMode1(bits));
            out[i] = static_cast<int16_t>(s);
        }
    }
}

bool WbcfDecoder::loadBlock(uint32_t index) {
    block_.clear();
    blockPos_ = 0;
    if (status_ != Status::Ready || index >= header_.blockCount) return false;
    const uint32_t count = samplesInBlock(index);
    const uint32_t channels = header_.channels;
    const uint32_t perChannel = count / channels;
    const uint64_t start = offsets_[index];
    const uint64_t end = index + 1 < header_.blockCount ? offsets_[index + 1] : header_.dataEnd;
    // Bytes that are missing (an offset past the data, a short stream) read as zero.
    uint64_t length = end > start ? end - start : 0;
    length = std::min<uint64_t>(length, kMaxBlockBytes);
    if (start >= streamSize_)
        length = 0;
    else
        length = std::min<uint64_t>(length, streamSize_ - start);
    bytes_.assign(static_cast<size_t>(length) + 4, 0);
    uint32_t got = 0;
    if (length && callbacks_->seek(handle_, static_cast<int64_t>(start), STREAM_SEEK_SET_ORIGIN))
        callbacks_->read(handle_, bytes_.data(), static_cast<uint32_t>(length), &got);
    std::fill(bytes_.begin() + std::min<size_t>(got, length), bytes_.end(), 0);
    decodeBlock(header_.mode, bytes_.data(), bytes_.size(), channels, perChannel, planar_.data());
    block_.resize(size_t(perChannel) * channels);
    for (uint32_t c = 0; c < channels; ++c) {
        const int16_t* in = planar_.data() + size_t(c) * perChannel;
        for (uint32_t i = 0; i < perChannel; ++i) block_[size_t(i) * channels + c] = in[i];
    }
    nextBlock_ = index + 1;
    return true;
}

bool WbcfDecoder::atEnd() const {
    return status_ != Status::Ready || (blockPos_ >= block_.size() && nextBlock_ >= header_.blockCount);
}

size_t WbcfDecoder::read(int16_t* out, size_t frameCount) {
    if (status_ != Status::Ready || !out) return 0;
    const uint32_t channels = header_.channels;
    size_t done = 0;
    while (done < frameCount) {
        if (blockPos_ >= block_.size()) {
            if (nextBlock_ >= header_.blockCount) break;
            loadBlock(nextBlock_);
            continue;
        }
        const size_t frames = std::min(frameCount - done, (block_.size() - blockPos_) / channels);
        std::memcpy(out + done * channels, block_.data() + blockPos_, frames * channels * sizeof(int16_t));
        blockPos_ += frames * channels;
        done += frames;
    }
    return done;
}

void WbcfDecoder::seekToSample(uint64_t t) {
    if (status_ != Status::Ready) return;
    const uint64_t u = t * header_.channels;
    if (t > UINT32_MAX || u >= header_.totalSamples || header_.blockCount == 0) {
        block_.clear();
        blockPos_ = 0;
        nextBlock_ = header_.blockCount;
        return;
    }
    const uint64_t index = u / header_.blockSamples;
    if (index >= header_.blockCount) {
        block_.clear();
        blockPos_ = 0;
        nextBlock_ = header_.blockCount;
        return;
    }
    loadBlock(static_cast<uint32_t>(index));
    blockPos_ = std::min<size_t>(static_cast<size_t>(u % header_.blockSamples), block_.size());
}
