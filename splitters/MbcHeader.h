#pragma once
// The fixed structures of an MBC file, all little-endian: the 288-byte file header, the
// 24-byte chunk index entries and the 12-byte frame record headers.
#include <array>
#include <cstddef>
#include <cstdint>

#include "splitters/MbcFrameType.h"

struct MbcHeader {
    static constexpr size_t kBytes = 288;
    static constexpr char kMagic[9] = "MBCFILE0";

    uint64_t fileSize = 0;
    uint64_t videoOffset = 0;
    uint64_t videoSize = 0;
    uint64_t audioOffset = 0;
    uint64_t audioSize = 0;
    uint32_t frameCount = 0;
    uint32_t chunkCount = 0;
    uint32_t rateNumerator = 0;
    uint32_t rateDenominator = 0;
    uint32_t aheadDepth = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t decodedWidth = 0;
    uint32_t decodedHeight = 0;
    uint32_t codecFlags = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    uint32_t sampleRate = 0;
    std::array<uint8_t, 64> intraMatrix{};
    std::array<uint8_t, 64> interMatrix{};

    // Zeroed fields with the default matrices.
    static MbcHeader initial();
    // False when the magic differs or fewer than kBytes are given.
    bool parse(const uint8_t* data, size_t size);
    void store(uint8_t* out) const;  // kBytes bytes, reserved words zero
};

struct MbcChunkEntry {
    static constexpr size_t kBytes = 24;
    uint32_t firstFrame = 0;
    uint32_t frameCount = 0;
    uint64_t offset = 0;

    void parse(const uint8_t* data);
    void store(uint8_t* out) const;
};

struct MbcFrameRecord {
    static constexpr size_t kBytes = 12;
    uint32_t frameWord = 0;
    uint32_t payloadSize = 0;

    uint32_t relativeFrame() const { return frameWord & 0xFFF; }
    uint32_t typeBits() const { return (frameWord >> 12) & 0xF; }
    uint32_t backward() const { return (frameWord >> 16) & 0x3F; }
    uint32_t forward() const { return frameWord >> 28; }

    static uint32_t makeFrameWord(uint32_t relative, MbcFrameType type, uint32_t backward, uint32_t forward);
    void parse(const uint8_t* data);
    void store(uint8_t* out) const;
};
