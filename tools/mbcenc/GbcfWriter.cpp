#include "tools/mbcenc/GbcfWriter.h"

#include <cstring>

namespace {

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

}  // namespace

bool writeGbcfStill(const MbcEncoderSettings& settings, const uint8_t* bgra, ptrdiff_t stride,
                    std::vector<uint8_t>& file) {
    MbcEncoderSettings s = settings;
    s.intraMatrix.fill(0);  // the default matrix: a still carries none of its own
    s.interMatrix.fill(0);
    MbcVideoEncoder enc;
    if (!bgra || !enc.configure(s)) return false;
    std::vector<uint8_t> payload;
    MbcPicture recon;
    if (!enc.encodeFrame(MbcFrameType::Intra, bgra, stride, nullptr, nullptr, payload, recon)) return false;
    if (payload.size() > 0xFFFFFFFFu - kGbcfHeaderSize) return false;
    file.assign(kGbcfHeaderSize, 0);
    uint8_t* h = file.data();
    std::memcpy(h, "GBCF", 4);
    put32(h + 4, static_cast<uint32_t>(kGbcfHeaderSize + payload.size()));
    put32(h + 8, s.width);
    put32(h + 12, s.height);
    put16(h + 16, s.alpha ? 32 : 24);
    put16(h + 18, (s.alpha ? 13u : 9u) | (static_cast<uint32_t>(s.transform) << 10));
    put32(h + 20, enc.codecFlags());
    put32(h + 24, static_cast<uint32_t>(payload.size()));
    file.insert(file.end(), payload.begin(), payload.end());
    return true;
}
