#pragma once
// Picture files made in memory for the image tests and fuzz seeds: PNGs through libpng's
// writer, BMPs and GBCF headers byte by byte.
#include <png.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace testimages {

using Bytes = std::vector<uint8_t>;

struct PngSpec {
    uint32_t width = 1;
    uint32_t height = 1;
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<uint8_t> trns;  // palette transparency entries
    // Rows as libpng takes them: packed samples, big-endian 16-bit.
    std::vector<Bytes> rows;
};

inline void appendBytes(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
inline void noFlush(png_structp) {}

// An empty result when libpng refused the description.
inline Bytes writePng(const PngSpec& spec) {
    Bytes out;
    std::vector<png_bytep> rowPointers;
    for (const Bytes& r : spec.rows) rowPointers.push_back(const_cast<png_bytep>(r.data()));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, appendBytes, noFlush);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colourType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, const_cast<png_colorp>(spec.palette.data()), int(spec.palette.size()));
    if (!spec.trns.empty())
        png_set_tRNS(png, info, const_cast<png_bytep>(spec.trns.data()), int(spec.trns.size()), nullptr);
    png_write_info(png, info);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

inline void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

struct BmpSpec {
    int32_t width = 1;
    int32_t height = 1;  // negative: top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t infoSize = 40;
    std::vector<uint32_t> masks;    // after a 40-byte header, or inside a longer one
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    // Stored rows in file order, each padded here to 4 bytes.
    std::vector<Bytes> rows;
};

inline Bytes writeBmp(const BmpSpec& s) {
    size_t stride = ((size_t(s.width) * s.bitCount + 31) / 32) * 4;
    size_t masksAfter = s.infoSize == 40 ? s.masks.size() * 4 : 0;
    size_t offset = 14 + s.infoSize + masksAfter + s.palette.size() * 4;
    Bytes b(offset + stride * s.rows.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(b.size()));
    put32(b, 10, uint32_t(offset));
    put32(b, 14, s.infoSize);
    put32(b, 18, uint32_t(s.width));
    put32(b, 22, uint32_t(s.height));
    put16(b, 26, 1);
    put16(b, 28, s.bitCount);
    put32(b, 30, s.compression);
    put32(b, 46, uint32_t(s.palette.size()));
    for (size_t i = 0; i < s.masks.size(); ++i) put32(b, 14 + 40 + 4 * i, s.masks[i]);
    for (size_t i = 0; i < s.palette.size(); ++i) put32(b, 14 + s.infoSize + masksAfter + 4 * i, s.palette[i]);
    for (size_t y = 0; y < s.rows.size(); ++y)
        std::memcpy(&b[offset + y * stride], s.rows[y].data(), std::min(stride, s.rows[y].size()));
    return b;
}

// A GBCF file: the 48-byte header and `payload` after it.
inline Bytes writeGbcf(int32_t width, int32_t height, uint16_t bitCount, uint16_t formatWord,
                       const Bytes& payload = Bytes(16, 0)) {
    Bytes b(48 + payload.size(), 0);
    std::memcpy(b.data(), "GBCF", 4);
    put32(b, 4, uint32_t(b.size()));
    put32(b, 8, uint32_t(width));
    put32(b, 12, uint32_t(height));
    put16(b, 16, bitCount);
    put16(b, 18, formatWord);
    std::memcpy(b.data() + 48, payload.data(), payload.size());
    return b;
}

}  // namespace testimages
