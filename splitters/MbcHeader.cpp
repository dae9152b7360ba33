#include "splitters/MbcHeader.h"

#include <cstring>

namespace {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const uint8_t* p) {
    return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
void put64(uint8_t* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace

MbcHeader MbcHeader::initial() {
    MbcHeader h;
    std::memcpy(h.intraMatrix.data(), kMbcDefaultIntraMatrix, 64);
    std::memcpy(h.interMatrix.data(), kMbcDefaultInterMatrix, 64);
    return h;
}

bool MbcHeader::parse(const uint8_t* p, size_t size) {
    if (!p || size < kBytes || std::memcmp(p, kMagic, 8) != 0) return false;
    fileSize = le64(p + 8);
    videoOffset = le64(p + 40);
    videoSize = le64(p + 48);
    audioOffset = le64(p + 72);
    audioSize = le64(p + 80);
    frameCount = le32(p + 104);
    chunkCount = le32(p + 108);
    rateNumerator = le32(p + 112);
    rateDenominator = le32(p + 116);
    aheadDepth = le32(p + 120);
    width = le32(p + 124);
    height = le32(p + 128);
    decodedWidth = le32(p + 132);
    decodedHeight = le32(p + 136);
    codecFlags = le32(p + 140);
    channels = le16(p + 144);
    bitsPerSample = le16(p + 146);
    sampleRate = le32(p + 148);
    std::memcpy(intraMatrix.data(), p + 160, 64);
    std::memcpy(interMatrix.data(), p + 224, 64);
    return true;
}

void MbcHeader::store(uint8_t* p) const {
    std::memset(p, 0, kBytes);
    std::memcpy(p, kMagic, 8);
    put64(p + 8, fileSize);
    put64(p + 40, videoOffset);
    put64(p + 48, videoSize);
    put64(p + 72, audioOffset);
    put64(p + 80, audioSize);
    put32(p + 104, frameCount);
    put32(p + 108, chunkCount);
    put32(p + 112, rateNumerator);
    put32(p + 116, rateDenominator);
    put32(p + 120, aheadDepth);
    put32(p + 124, width);
    put32(p + 128, height);
    put32(p + 132, decodedWidth);
    put32(p + 136, decodedHeight);
    put32(p + 140, codecFlags);
    put16(p + 144, channels);
    put16(p + 146, bitsPerSample);
    put32(p + 148, sampleRate);
    std::memcpy(p + 160, intraMatrix.data(), 64);
    std::memcpy(p + 224, interMatrix.data(), 64);
}

void MbcChunkEntry::parse(const uint8_t* p) {
    firstFrame = le32(p);
    frameCount = le32(p + 4);
    offset = le64(p + 8);
}

void MbcChunkEntry::store(uint8_t* p) const {
    std::memset(p, 0, kBytes);
    put32(p, firstFrame);
    put32(p + 4, frameCount);
    put64(p + 8, offset);
}

uint32_t MbcFrameRecord::makeFrameWord(uint32_t relative, MbcFrameType type, uint32_t backward, uint32_t forward) {
    return (relative & 0xFFF) | (static_cast<uint32_t>(type) & 0xF) << 12 | (backward & 0x3F) << 16 |
           (forward & 0xF) << 28;
}

void MbcFrameRecord::parse(const uint8_t* p) {
    frameWord = le32(p);
    payloadSize = le32(p + 4);
}

void MbcFrameRecord::store(uint8_t* p) const {
    std::memset(p, 0, kBytes);
    put32(p, frameWord);
    put32(p + 4, payloadSize);
}
