// Fuzz target for MBC video payloads. Input: 4 bytes choosing the configuration and the
// frame type, then the payload. Decoding must fail cleanly or complete, never touch
// memory outside its buffers, and take time bounded by the picture size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "splitters/MbcVideoDecoder.h"
#include "tools/mbcenc/MbcVideoEncoder.h"

namespace {

uint32_t flagsFrom(uint8_t b) {
    static const uint32_t layouts[] = {1, 2, 3, 16};
    uint32_t f = layouts[b & 3];
    if (b & 4) f |= 0x40;
    f |= (b & 8) ? (1u << 12) : (2u << 12);
    if (b & 16) f |= 1u << 16;
    if (b & 32) f |= 1u << 21;
    if (b & 64) f &= ~0xFFu;  // low byte 0: the 4:2:0 default
    return f | MbcVideoDecoder::kOutputAlpha;
}

const MbcFrameType kTypes[] = {MbcFrameType::Intra, MbcFrameType::Predicted, MbcFrameType::Bidirectional,
                               MbcFrameType::Repeat};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint32_t flags = flagsFrom(data[0]);
    const uint32_t w = 1 + data[1] % 80, h = 1 + data[2] % 64;
    MbcVideoDecoder dec;
    if (!dec.configure(w, h, flags)) return 0;
    MbcPicture past, future, out;
    past.allocate(dec.storeWidth(), dec.storeHeight());
    future.allocate(dec.storeWidth(), dec.storeHeight());
    for (size_t i = 0; i < past.byteSize(); ++i) {
        past.data()[i] = static_cast<uint8_t>(i * 13);
        future.data()[i] = static_cast<uint8_t>(255 - i * 7);
    }
    // The payload in a buffer of its exact size, so that any read past it is caught.
    std::vector<uint8_t> payload(data + 4, data + size);
    if (dec.decodeFrame(payload.data(), payload.size(), kTypes[data[3] & 3], out, &past,
                        (data[3] & 4) ? nullptr : &future, nullptr, nullptr)) {
        std::vector<uint8_t> bgra(static_cast<size_t>(w) * h * 4);
        dec.convertPicture(out, bgra.data(), w * 4);
    }
    return 0;
}

// Seeds: real payloads from the encoder for several configurations.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    const uint8_t configs[][4] = {{0x02, 39, 31, 0}, {0x0C, 47, 15, 1}, {0x05, 32, 16, 2}, {0x13, 20, 40, 0}};
    for (const auto& c : configs) {
        MbcEncoderSettings s;
        s.width = 1 + c[1] % 80;
        s.height = 1 + c[2] % 64;
        static const uint32_t layouts[] = {1, 2, 3, 16};
        s.layout = layouts[c[0] & 3];
        s.alpha = (c[0] & 4) != 0;
        s.transform = (c[0] & 8) ? 1 : 2;
        s.deblocking = !(c[0] & 16);
        s.quantiser = 6;
        MbcVideoEncoder enc;
        if (!enc.configure(s)) continue;
        std::vector<uint8_t> pic(static_cast<size_t>(s.width) * s.height * 4);
        for (size_t i = 0; i < pic.size(); ++i) pic[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
        std::vector<uint8_t> payload;
        MbcPicture r0, r1;
        if (!enc.encodeFrame(MbcFrameType::Intra, pic.data(), s.width * 4, nullptr, nullptr, payload, r0)) continue;
        std::vector<uint8_t> seed(c, c + 4);
        seed[3] = 0;
        seed.insert(seed.end(), payload.begin(), payload.end());
        seeds->push_back(seed);
        for (auto& b : pic) b = static_cast<uint8_t>(b + 3);
        if (!enc.encodeFrame(MbcFrameType::Predicted, pic.data(), s.width * 4, &r0, nullptr, payload, r1)) continue;
        seed.assign(c, c + 4);
        seed[3] = 1;
        seed.insert(seed.end(), payload.begin(), payload.end());
        seeds->push_back(seed);
    }
}
