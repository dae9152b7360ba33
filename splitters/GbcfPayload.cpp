#include "splitters/GbcfPayload.h"

#include <cstring>
#include <vector>

#include "splitters/MbcFrameType.h"
#include "splitters/MbcPicture.h"
#include "splitters/MbcVideoDecoder.h"

namespace {

constexpr size_t kHeaderBytes = 48;

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool decodeGbcfPayload(const uint8_t* file, size_t fileSize, uint32_t width, uint32_t height, uint32_t bitCount,
                       uint32_t formatWord, uint8_t* topRow, ptrdiff_t stride) {
    if (!file || !topRow || fileSize < kHeaderBytes) return false;
    uint32_t mode;
    if (bitCount == 32)
        mode = MbcVideoDecoder::kOutputAlpha;
    else if (bitCount == 24)
        mode = MbcVideoDecoder::kOutputBgr24;
    else
        return false;
    const uint32_t flags = le32(file + 20) & 0x0FFFFFFFu;
    const uint32_t payloadSize = le32(file + 24);
    if (payloadSize > fileSize - kHeaderBytes) return false;
    uint32_t transform = (flags >> 12) & 0xF;
    if (transform == 0) transform = 2;
    const uint32_t path = (formatWord >> 10) & 3;
    if (path != 0 && path != transform) return false;

    MbcVideoDecoder decoder;
    if (!decoder.configure(width, height, flags | mode)) return false;
    std::vector<uint8_t> payload(file + kHeaderBytes, file + kHeaderBytes + payloadSize);
    payload.insert(payload.end(), 4, 0);
    MbcPicture picture;
    if (!decoder.decodeFrame(payload.data(), payloadSize, MbcFrameType::Intra, picture, nullptr, nullptr,
                             kMbcDefaultIntraMatrix, kMbcDefaultInterMatrix))
        return false;
    decoder.convertPicture(picture, topRow, stride);
    return true;
}
