#include "graphics/GbcfDecoder.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<GbcfPayloadDecoder> payloadDecoder{nullptr};

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool fail(uint32_t error = ImageCodec::kErrorBadData) {
    ImageCodec::setLastError(error);
    return false;
}

}  // namespace

uint32_t GbcfHeader::codedDepth() const {
    switch (formatWord & 0xF) {
        case 5:
            return 8;
        case 6:
            return 16;
        case 9:
        case 13:
            return 24;
        case 10:
        case 14:
            return 48;
        default:
            return 0;
    }
}

void setGbcfPayloadDecoder(GbcfPayloadDecoder decoder) {
    payloadDecoder.store(decoder);
}
GbcfPayloadDecoder gbcfPayloadDecoder() {
    return payloadDecoder.load();
}

namespace GbcfDecoder {

bool probe(const uint8_t* data, size_t size) {
    return size >= GbcfHeader::kBytes && std::memcmp(data, "GBCF", 4) == 0 && size >= le32(data + 4);
}

bool readHeader(const uint8_t* data, size_t size, GbcfHeader* header) {
    if (!probe(data, size)) return fail();
    GbcfHeader h;
    h.totalSize = le32(data + 4);
    h.width = int32_t(le32(data + 8));
    h.height = int32_t(le32(data + 12));
    h.bitCount = le16(data + 16);
    h.formatWord = le16(data + 18);
    if (h.totalSize < GbcfHeader::kBytes || h.width <= 0 || h.height <= 0) return fail();
    if (h.bitCount != 8 && h.bitCount != 16 && h.bitCount != 24 && h.bitCount != 32) return fail();
    if ((h.formatWord & 0x3FF) == 0 || h.codedDepth() == 0) return fail();
    *header = h;
    return true;
}

bool header(const uint8_t* data, size_t size, BitmapInfoHeader* header) {
    GbcfHeader h;
    if (!readHeader(data, size, &h)) return false;
    *header = BitmapInfoHeader{};
    header->width = h.width;
    header->height = h.height;
    header->bitCount = h.bitCount;
    return true;
}

bool decode(const uint8_t* data, size_t size, DibBitmap* bitmap) {
    bitmap->reset();
    GbcfHeader h;
    if (!readHeader(data, size, &h)) return false;
    GbcfPayloadDecoder decodePayload = gbcfPayloadDecoder();
    if (!decodePayload) return fail();
    if (!bitmap->create(h.width, h.height, h.bitCount)) return fail(ImageCodec::kErrorOutOfMemory);
    // Top row first with a negative stride: the bitmap is stored bottom-up.
    uint8_t* top = bitmap->rowFromTop(0);
    if (!decodePayload(data, h.totalSize, uint32_t(h.width), uint32_t(h.height), h.bitCount, h.formatWord, top,
                       -static_cast<ptrdiff_t>(bitmap->stride()))) {
        bitmap->reset();
        return fail();
    }
    return true;
}

}  // namespace GbcfDecoder
