#include "graphics/BmpDecoder.h"

#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;
constexpr uint32_t kBiAlphaBitFields = 6;
constexpr size_t kInfoHeaderBytes = 40;
// Longest info header in use (version 5); longer ones are not bitmaps we know.
constexpr uint32_t kMaxInfoHeaderBytes = 124;

uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool fail() {
    ImageCodec::setLastError(ImageCodec::kErrorBadData);
    return false;
}

// One colour channel described by a bit mask.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t width = 0;

    // False for a mask whose bits are not contiguous.
    bool set(uint32_t m) {
        mask = m;
        if (!m) return true;
        shift = uint32_t(std::countr_zero(m));
        width = uint32_t(std::popcount(m));
        uint64_t run = uint64_t(m >> shift) + 1;
        return (run & (run - 1)) == 0;
    }
    // The channel's value moved to `bits` bits: narrowing keeps the top bits, widening
    // leaves the new low bits 0.
    uint32_t get(uint32_t pixel, uint32_t bits) const {
        if (!width) return 0;
        uint32_t v = (pixel & mask) >> shift;
        return width >= bits ? v >> (width - bits) : v << (bits - width);
    }
};

struct BmpLayout {
    int32_t width = 0;
    int32_t height = 0;  // of the picture, always positive
    bool topDown = false;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    Channel red, green, blue, alpha;
    bool hasMasks = false;
    uint32_t paletteOffset = 0;
    uint32_t paletteCount = 0;
    uint32_t pixelOffset = 0;
    size_t srcStride = 0;
};

bool parse(const uint8_t* data, size_t size, BmpLayout* out) {
    if (!BmpDecoder::probe(data, size)) return fail();
    const uint8_t* info = data + BmpDecoder::kFileHeaderBytes;
    uint32_t infoSize = le32(info);
    if (infoSize < kInfoHeaderBytes || infoSize > kMaxInfoHeaderBytes || BmpDecoder::kFileHeaderBytes + infoSize > size)
        return fail();
    BmpLayout l;
    l.width = int32_t(le32(info + 4));
    int32_t height = int32_t(le32(info + 8));
    l.bitCount = le16(info + 14);
    l.compression = le32(info + 16);
    uint32_t coloursUsed = le32(info + 32);
    if (l.width <= 0 || height == 0 || height == INT32_MIN) return fail();
    l.topDown = height < 0;
    l.height = l.topDown ? -height : height;
    switch (l.bitCount) {
        case 1:
        case 4:
        case 8:
        case 24:
            if (l.compression != kBiRgb) return fail();
            break;
        case 16:
        case 32:
            if (l.compression != kBiRgb && l.compression != kBiBitFields && l.compression != kBiAlphaBitFields)
                return fail();
            break;
        default:
            return fail();
    }
    size_t after = BmpDecoder::kFileHeaderBytes + infoSize;
    if (l.compression == kBiBitFields || l.compression == kBiAlphaBitFields) {
        // Masks sit in a long header, or follow a short one.
        const uint8_t* masks = info + kInfoHeaderBytes;
        size_t maskCount = l.compression == kBiAlphaBitFields ? 4 : 3;
        if (infoSize < kInfoHeaderBytes + 4 * maskCount) {
            if (after + 4 * maskCount > size) return fail();
            after += 4 * maskCount;
        }
        bool ok = l.red.set(le32(masks)) && l.green.set(le32(masks + 4)) && l.blue.set(le32(masks + 8));
        uint32_t alphaMask = 0;
        if (maskCount == 4 || infoSize >= kInfoHeaderBytes + 16) alphaMask = le32(masks + 12);
        if (!ok || !l.alpha.set(alphaMask)) return fail();
        l.hasMasks = true;
    } else if (l.bitCount == 16) {
        l.red.set(0x7C00);
        l.green.set(0x03E0);
        l.blue.set(0x001F);
        l.hasMasks = true;
    }
    if (l.bitCount <= 8) {
        uint32_t most = 1u << l.bitCount;
        l.paletteCount = coloursUsed == 0 || coloursUsed > most ? most : coloursUsed;
        l.paletteOffset = uint32_t(after);
        if (uint64_t(after) + uint64_t(l.paletteCount) * 4 > size) return fail();
    }
    l.pixelOffset = le32(data + 10);
    // Pixels never overlap the headers or the palette.
    if (uint64_t(l.pixelOffset) < uint64_t(after) + uint64_t(l.paletteCount) * 4) return fail();
    l.srcStride = DibBitmap::strideOf(l.width, l.bitCount);
    // Every row whole, except that the last row's padding may be missing.
    uint64_t lastRow = (uint64_t(uint32_t(l.width)) * l.bitCount + 7) / 8;
    uint64_t needed = uint64_t(l.srcStride) * uint64_t(l.height - 1) + lastRow;
    if (l.pixelOffset > size || needed > size - l.pixelOffset) return fail();
    *out = l;
    return true;
}

uint16_t outputBits(uint16_t bitCount) {
    return bitCount <= 8 ? 8 : bitCount;
}

void convertRow(const BmpLayout& l, const uint8_t* src, uint8_t* dst) {
    const int32_t w = l.width;
    switch (l.bitCount) {
        case 1:
            for (int32_t x = 0; x < w; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 4:
            for (int32_t x = 0; x < w; ++x) dst[x] = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
            break;
        case 8:
        case 24:
            std::memcpy(dst, src, size_t(w) * (l.bitCount / 8));
            break;
        case 16:
            for (int32_t x = 0; x < w; ++x) {
                uint32_t p = le16(src + 2 * x);
                uint32_t v = l.red.get(p, 5) << 11 | l.green.get(p, 6) << 5 | l.blue.get(p, 5);
                dst[2 * x] = uint8_t(v);
                dst[2 * x + 1] = uint8_t(v >> 8);
            }
            break;
        case 32:
            if (!l.hasMasks) {
                std::memcpy(dst, src, size_t(w) * 4);
                break;
            }
            for (int32_t x = 0; x < w; ++x) {
                uint32_t p = le32(src + 4 * x);
                dst[4 * x] = uint8_t(l.blue.get(p, 8));
                dst[4 * x + 1] = uint8_t(l.green.get(p, 8));
                dst[4 * x + 2] = uint8_t(l.red.get(p, 8));
                dst[4 * x + 3] = uint8_t(l.alpha.width ? l.alpha.get(p, 8) : 0xFF);
            }
            break;
    }
}

}  // namespace

namespace BmpDecoder {

bool probe(const uint8_t* data, size_t size) {
    return size > 53 && data[0] == 'B' && data[1] == 'M';
}

bool header(const uint8_t* data, size_t size, BitmapInfoHeader* header) {
    BmpLayout l;
    if (!parse(data, size, &l)) return false;
    *header = BitmapInfoHeader{};
    header->width = l.width;
    header->height = l.height;
    header->bitCount = outputBits(l.bitCount);
    header->clrUsed = l.paletteCount;
    return true;
}

bool decode(const uint8_t* data, size_t size, DibBitmap* bitmap) {
    bitmap->reset();
    BmpLayout l;
    if (!parse(data, size, &l)) return false;
    if (!bitmap->create(l.width, l.height, outputBits(l.bitCount))) {
        ImageCodec::setLastError(ImageCodec::kErrorOutOfMemory);
        return false;
    }
    if (l.bitCount <= 8) {
        auto& palette = bitmap->palette();
        palette.fill(0);
        for (uint32_t i = 0; i < l.paletteCount; ++i) palette[i] = le32(data + l.paletteOffset + 4 * i) & 0x00FFFFFFu;
    }
    const uint8_t* pixels = data + l.pixelOffset;
    for (int32_t y = 0; y < l.height; ++y) {
        // Stored row y is picture row y from the bottom, unless the file is top-down.
        int32_t pictureRow = l.topDown ? y : l.height - 1 - y;
        convertRow(l, pixels + size_t(y) * l.srcStride, bitmap->rowFromTop(pictureRow));
    }
    if (l.bitCount == 32 && !l.hasMasks) {
        // The fourth byte of a plain 32-bit file is "unused"; files that leave it 0
        // everywhere mean an opaque picture, files that fill it carry alpha.
        bool anyAlpha = false;
        for (int32_t y = 0; y < l.height && !anyAlpha; ++y) {
            const uint8_t* row = bitmap->rowFromTop(y);
            for (int32_t x = 0; x < l.width; ++x)
                if (row[4 * x + 3]) {
                    anyAlpha = true;
                    break;
                }
        }
        if (!anyAlpha)
            for (int32_t y = 0; y < l.height; ++y) {
                uint8_t* row = bitmap->rowFromTop(y);
                for (int32_t x = 0; x < l.width; ++x) row[4 * x + 3] = 0xFF;
            }
    }
    return true;
}

}  // namespace BmpDecoder
