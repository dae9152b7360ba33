#include "tools/mbcenc/MbcFileWriter.h"

#include <cstring>

bool MbcFileWriter::begin(const MbcFileOptions& options) {
    begun_ = false;
    frames_ = 0;
    chunkBytes_.clear();
    chunkRecords_.clear();
    audio_.clear();
    channels_ = 0;
    sampleRate_ = 0;
    if (options.chunkLength == 0 || options.chunkLength > 4096 || options.rateNumerator == 0 ||
        options.rateDenominator == 0 || options.pattern.empty())
        return false;
    for (char c : options.pattern)
        if (c != 'I' && c != 'P' && c != 'B' && c != 'R') return false;
    if (!sequence_.configure(options.video, options.pattern)) return false;
    options_ = options;
    begun_ = true;
    return true;
}

bool MbcFileWriter::take(std::vector<MbcEncodedRecord>& records) {
    for (MbcEncodedRecord& r : records) {
        const uint32_t chunk = r.frame / options_.chunkLength;
        const uint32_t relative = r.frame - chunk * options_.chunkLength;
        // The record's fields are narrow; the sequence must fit them.
        if (r.backward > 63 || r.forward > 15) return false;
        if (r.payload.size() > UINT32_MAX) return false;
        if (chunkBytes_.size() <= chunk) {
            chunkBytes_.resize(chunk + 1);
            chunkRecords_.resize(chunk + 1, 0);
        }
        MbcFrameRecord rec;
        rec.frameWord = MbcFrameRecord::makeFrameWord(relative, r.type, r.backward, r.forward);
        rec.payloadSize = static_cast<uint32_t>(r.payload.size());
        std::vector<uint8_t>& out = chunkBytes_[chunk];
        const size_t at = out.size();
        out.resize(at + MbcFrameRecord::kBytes);
        rec.store(&out[at]);
        out.insert(out.end(), r.payload.begin(), r.payload.end());
        ++chunkRecords_[chunk];
    }
    records.clear();
    return true;
}

bool MbcFileWriter::addFrame(const uint8_t* bgra, ptrdiff_t stride) {
    if (!begun_ || !bgra) return false;
    std::vector<MbcEncodedRecord> records;
    if (frames_ && frames_ % options_.chunkLength == 0) {
        if (!sequence_.restart(records) || !take(records)) return false;
    }
    if (!sequence_.addFrame(bgra, stride, records) || !take(records)) return false;
    ++frames_;
    return true;
}

bool MbcFileWriter::setAudio(const int16_t* pcm, size_t frames, uint16_t channels, uint32_t sampleRate,
                             const WbcfEncoderOptions& options) {
    if (!begun_) return false;
    if (!encodeWbcf(pcm, frames, channels, sampleRate, options, audio_)) return false;
    channels_ = channels;
    sampleRate_ = sampleRate;
    return true;
}

bool MbcFileWriter::finish(std::vector<uint8_t>& file) {
    if (!begun_) return false;
    std::vector<MbcEncodedRecord> records;
    if (!sequence_.finish(records) || !take(records)) return false;
    begun_ = false;

    MbcHeader h = MbcHeader::initial();
    const MbcVideoEncoder& enc = sequence_.encoder();
    std::memcpy(h.intraMatrix.data(), enc.intraMatrix(), 64);
    std::memcpy(h.interMatrix.data(), enc.interMatrix(), 64);
    const uint32_t chunkCount = static_cast<uint32_t>(chunkBytes_.size());
    h.frameCount = frames_;
    h.chunkCount = chunkCount;
    h.rateNumerator = options_.rateNumerator;
    h.rateDenominator = options_.rateDenominator;
    h.aheadDepth = options_.aheadDepth;
    h.width = h.decodedWidth = options_.video.width;
    h.height = h.decodedHeight = options_.video.height;
    h.codecFlags = sequence_.codecFlags();

    uint64_t offset = MbcHeader::kBytes + uint64_t(chunkCount) * MbcChunkEntry::kBytes;
    h.videoOffset = offset;
    std::vector<MbcChunkEntry> index(chunkCount);
    for (uint32_t c = 0; c < chunkCount; ++c) {
        index[c].firstFrame = c * options_.chunkLength;
        index[c].frameCount = chunkRecords_[c];
        index[c].offset = offset;
        offset += chunkBytes_[c].size();
    }
    h.videoSize = offset - h.videoOffset;
    if (!audio_.empty()) {
        h.audioOffset = offset;
        h.audioSize = audio_.size();
        h.channels = channels_;
        h.bitsPerSample = 16;
        h.sampleRate = sampleRate_;
        offset += audio_.size();
    }
    h.fileSize = offset;

    file.assign(MbcHeader::kBytes + size_t(chunkCount) * MbcChunkEntry::kBytes, 0);
    h.store(file.data());
    for (uint32_t c = 0; c < chunkCount; ++c)
        index[c].store(&file[MbcHeader::kBytes + size_t(c) * MbcChunkEntry::kBytes]);
    file.reserve(static_cast<size_t>(offset));
    for (const auto& bytes : chunkBytes_) file.insert(file.end(), bytes.begin(), bytes.end());
    file.insert(file.end(), audio_.begin(), audio_.end());
    chunkBytes_.clear();
    chunkRecords_.clear();
    return true;
}
