#include "tools/mbcenc/WbcfEncoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "splitters/WbcfDecoder.h"
#include "tools/mbcenc/MbcBitWriter.h"

namespace {

struct DeltaCode {
    uint32_t bits;
    unsigned length;
    uint16_t delta;  // what the decoder adds, modulo 65536
};

uint16_t signedDelta(uint32_t m, bool negative) {
    m &= 0xFFFF;
    return static_cast<uint16_t>(negative ? 0x10000 - m : m);
}

// The code whose reconstruction lands nearest target from previous (ties: shorter code).
DeltaCode chooseDelta(int16_t previous, int16_t target) {
    const int wanted = static_cast<int16_t>(static_cast<uint16_t>(target - previous));
    const bool negative = wanted < 0;
    const int magnitude = std::abs(wanted);
    DeltaCode best{0x38, 6, 0};  // k = 7, d = 0: no change
    long bestError = std::labs(long(previous) - target);
    auto consider = [&](uint32_t bits, unsigned length, uint16_t delta) {
        const int16_t result = static_cast<int16_t>(static_cast<uint16_t>(previous + delta));
        const long error = std::labs(long(result) - target);
        if (error < bestError || (error == bestError && length < best.length)) {
            best = DeltaCode{bits, length, delta};
            bestError = error;
        }
    };
    consider(0x3F, 6, 0x8000);  // k = 7, d = 7
    const uint32_t sign = negative ? 16 : 0;
    // Small magnitudes 1-16 exactly (k = 7, d = 1).
    if (magnitude >= 1) {
        const uint32_t v = std::min(magnitude, 16) - 1;
        consider((7u << 8) | (1u << 5) | sign | v, 11, signedDelta(v + 1, negative));
    }
    // ((v & 15) + 17) << shift for each shift the code offers.
    auto scaled = [&](unsigned shift, uint32_t prefix, unsigned prefixBits) {
        for (int step = -1; step <= 2; ++step) {
            const int b = std::clamp((magnitude >> shift) + step, 17, 32);
            const uint32_t v = static_cast<uint32_t>(b - 17) | sign;
            consider((prefix << 5) | v, prefixBits + 5, signedDelta(static_cast<uint32_t>(b) << shift, negative));
        }
    };
    for (unsigned k = 0; k < 7; ++k) scaled(k + 3, k, 3);
    for (unsigned d = 2; d <= 4; ++d) scaled(d - 2, (7u << 3) | d, 6);
    for (unsigned d = 5; d <= 6; ++d) scaled(d + 5, (7u << 3) | d, 6);
    return best;
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool encodeWbcf(const int16_t* pcm, size_t frames, uint16_t channels, uint32_t sampleRate,
                const WbcfEncoderOptions& options, std::vector<uint8_t>& out) {
    if ((options.mode != 0 && options.mode != 1) || channels == 0 || channels > WbcfDecoder::kMaxChannels ||
        sampleRate == 0 || options.samplesPerChannel < 64 ||
        uint64_t(options.samplesPerChannel) * channels > WbcfDecoder::kMaxBlockSamples)
        return false;
    if (frames && !pcm) return false;
    const uint64_t total = uint64_t(frames) * channels;
    if (total > UINT32_MAX) return false;
    const uint32_t perBlock = options.samplesPerChannel;
    const uint32_t blockCount = static_cast<uint32_t>((frames + perBlock - 1) / perBlock);

    std::vector<std::vector<uint8_t>> blocks(blockCount);
    for (uint32_t b = 0; b < blockCount; ++b) {
        const size_t first = size_t(b) * perBlock;
        const size_t count = std::min<size_t>(perBlock, frames - first);
        MbcBitWriter bits;
        for (uint32_t c = 0; c < channels; ++c) {
            const int16_t* in = pcm + first * channels + c;
            if (options.mode == 0) {
                for (size_t i = 0; i < count; ++i) bits.write(static_cast<uint16_t>(in[i * channels]), 16);
                continue;
            }
            int16_t current = in[0];
            bits.write(static_cast<uint16_t>(current), 16);
            for (size_t i = 1; i < count; ++i) {
                const DeltaCode code = chooseDelta(current, in[i * channels]);
                bits.write(code.bits, code.length);
                current = static_cast<int16_t>(static_cast<uint16_t>(current + code.delta));
            }
        }
        blocks[b] = bits.finish();
    }

    WbcfHeader h;
    h.mode = options.mode;
    h.channels = channels;
    h.bitsPerSample = 16;
    h.sampleRate = sampleRate;
    h.blockCount = blockCount;
    h.totalSamples = static_cast<uint32_t>(total);
    h.blockSamples = perBlock * channels;
    uint64_t offset = WbcfHeader::kBytes + uint64_t(blockCount) * 4;
    std::vector<uint32_t> offsets(blockCount);
    for (uint32_t b = 0; b < blockCount; ++b) {
        offsets[b] = static_cast<uint32_t>(offset);
        offset += blocks[b].size();
        h.maxBlockBytes = std::max<uint32_t>(h.maxBlockBytes, static_cast<uint32_t>(blocks[b].size()));
        if (offset > UINT32_MAX) return false;
    }
    h.dataEnd = static_cast<uint32_t>(offset);
    out.assign(WbcfHeader::kBytes + size_t(blockCount) * 4, 0);
    h.store(out.data());
    for (uint32_t b = 0; b < blockCount; ++b) put32(&out[WbcfHeader::kBytes + size_t(b) * 4], offsets[b]);
    for (const auto& block : blocks) out.insert(out.end(), block.begin(), block.end());
    return true;
}
