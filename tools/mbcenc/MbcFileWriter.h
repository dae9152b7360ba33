#pragma once
// Writes .mbc movies: the 288-byte header, the chunk index, the frame records in stored
// order and an optional WBCF audio region. Pictures go through MbcSequenceEncoder; every
// chunk starts with an Intra frame and refers to nothing before it, so a reader can seek
// to any chunk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "splitters/MbcHeader.h"
#include "tools/mbcenc/MbcSequenceEncoder.h"
#include "tools/mbcenc/WbcfEncoder.h"

struct MbcFileOptions {
    MbcEncoderSettings video;
    std::string pattern = "IPBB";  // letters I, P, B, R; repeated
    uint32_t chunkLength = 30;     // frames per chunk, 1-4096
    uint32_t aheadDepth = 8;
    uint32_t rateNumerator = 30;
    uint32_t rateDenominator = 1;
};

class MbcFileWriter {
public:
    // False for invalid video settings, a pattern with other letters, a chunk length
    // outside 1-4096 or a zero rate.
    bool begin(const MbcFileOptions& options);
    // The next picture in display order (top-down BGRA of the configured size).
    bool addFrame(const uint8_t* bgra, ptrdiff_t stride);
    // Interleaved 16-bit PCM for the audio region (once, before finish).
    bool setAudio(const int16_t* pcm, size_t frames, uint16_t channels, uint32_t sampleRate,
                  const WbcfEncoderOptions& options);
    // Completes the file image.
    bool finish(std::vector<uint8_t>& file);

    uint32_t framesAdded() const { return frames_; }
    uint32_t codecFlags() const { return sequence_.codecFlags(); }

private:
    bool take(std::vector<MbcEncodedRecord>& records);

    MbcFileOptions options_;
    MbcSequenceEncoder sequence_;
    bool begun_ = false;
    uint32_t frames_ = 0;
    // Records per chunk, each one header plus payload, in stored order.
    std::vector<std::vector<uint8_t>> chunkBytes_;
    std::vector<uint32_t> chunkRecords_;
    std::vector<uint8_t> audio_;
    uint16_t channels_ = 0;
    uint32_t sampleRate_ = 0;
};
