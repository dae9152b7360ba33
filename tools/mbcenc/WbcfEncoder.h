#pragma once
// Writes a WBCF audio sub-stream (header, block table, blocks) from interleaved 16-bit
// PCM, in mode 0 (raw samples) or mode 1 (delta codes; lossy for large steps, coded
// against the decoder's own reconstruction so errors do not accumulate).
#include <cstddef>
#include <cstdint>
#include <vector>

struct WbcfEncoderOptions {
    uint16_t mode = 1;                  // 0 or 1
    uint32_t samplesPerChannel = 2048;  // per block, at least 64
};

// False for a mode other than 0 or 1, 0 or more than 16 channels, a zero rate, fewer
// than 64 samples per block, or more samples than the format can count.
bool encodeWbcf(const int16_t* pcm, size_t frames, uint16_t channels, uint32_t sampleRate,
                const WbcfEncoderOptions& options, std::vector<uint8_t>& out);
