#pragma once
// Decoder of the WBCF audio sub-stream of an MBC file: the 96-byte header, the block
// table and the blocks of modes 0 (raw 16-bit samples) and 1 (delta coding), read
// through StreamCallbacks positioned relative to the sub-stream's start. Output is
// interleaved 16-bit PCM. Modes 64 and 256-260 are recognised but not decoded: a file
// with them plays without its audio.
//
// Mode 1 delta codes (per sample after the first 16-bit one, 16-bit wrap-around):
//   k (3 bits) < 7: v (5 bits), magnitude ((v & 15) + 17) << (k + 3)
//   k = 7: d (3 bits): 0 -> 0; 1 -> (v & 15) + 1; 2..4 -> ((v & 15) + 17) << (d - 2);
//          5, 6 -> ((v & 15) + 17) << (d + 5); 7 -> 32768 (no v)
//   bit 4 of v negates the magnitude.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/StreamCallbacks.h"
#include "splitters/MbcBitReader.h"

struct WbcfHeader {
    static constexpr size_t kBytes = 96;
    uint32_t dataEnd = 0;
    uint16_t mode = 0;
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0;
    uint32_t sampleRate = 0;
    uint32_t blockCount = 0;
    uint32_t totalSamples = 0;  // over all channels
    uint32_t blockSamples = 0;  // over all channels
    uint32_t maxBlockBytes = 0;

    // Reads the fixed fields; false when the magic differs or the data is short.
    bool parse(const uint8_t* data, size_t size);
    void store(uint8_t* out) const;  // kBytes bytes
};

class WbcfDecoder {
public:
    enum class Status { Closed, Ready, Unsupported, Invalid };

    // Caps that keep a hostile header from asking for absurd buffers.
    static constexpr uint32_t kMaxChannels = 16;
    static constexpr uint32_t kMaxBlockSamples = 1u << 22;
    static constexpr uint32_t kMaxBlockBytes = 32u << 20;

    // Reads and checks the header and the block table through the callbacks (the handle
    // already open, positions relative to the sub-stream). Ready only for modes 0 and 1
    // with 16-bit samples, 1-16 channels, blockSamples a multiple of the channel count with
    // at least 64 per channel, and a block table inside the stream.
    Status open(const StreamCallbacks& callbacks, HANDLE handle);
    void close();
    Status status() const { return status_; }
    const WbcfHeader& header() const { return header_; }
    uint32_t channels() const { return header_.channels; }

    // Up to frameCount sample frames (one sample per channel each) of interleaved PCM;
    // fewer only at the end of the stream.
    size_t read(int16_t* out, size_t frameCount);
    // Positions at sample frame t; past the end the decoder is at its end.
    void seekToSample(uint64_t t);
    bool atEnd() const;

    // Decodes one block's bytes into planar per-channel samples (perChannel each,
    // channel after channel). Exposed for the tests and the fuzz target.
    static void decodeBlock(uint16_t mode, const uint8_t* data, size_t size, uint32_t channels, uint32_t perChannel,
                            int16_t* planar);

private:
    bool loadBlock(uint32_t index);
    uint32_t samplesInBlock(uint32_t index) const;

    Status status_ = Status::Closed;
    const StreamCallbacks* callbacks_ = nullptr;
    HANDLE handle_ = nullptr;
    uint64_t streamSize_ = 0;
    WbcfHeader header_;
    std::vector<uint32_t> offsets_;
    std::vector<uint8_t> bytes_;
    std::vector<int16_t> planar_;
    std::vector<int16_t> block_;  // interleaved samples of the current block
    uint32_t nextBlock_ = 0;      // block to load when block_ is used up
    size_t blockPos_ = 0;         // next sample (over all channels) in block_
};
