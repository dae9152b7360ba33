// Fuzz target: PNG decoding, and the codec's whole decoder chain on the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "graphics/ImageCodec.h"
#include "graphics/PngDecoder.h"
#include "tests/graphics/TestImages.h"

using namespace testimages;

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    auto add = [&](PngSpec s, size_t rowBytes) {
        for (uint32_t y = 0; y < s.height; ++y) {
            Bytes row(rowBytes);
            for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(i * 31 + y * 7);
            if (s.colourType == PNG_COLOR_TYPE_PALETTE)
                for (auto& b : row) b &= s.bitDepth == 8 ? 0x0F : 0xFF;
            s.rows.push_back(row);
        }
        seeds->push_back(writePng(s));
    };
    add({5, 4, PNG_COLOR_TYPE_RGB, 8, false, {}, {}, {}}, 15);
    add({5, 4, PNG_COLOR_TYPE_RGB_ALPHA, 16, true, {}, {}, {}}, 40);
    add({9, 3, PNG_COLOR_TYPE_GRAY, 1, false, {}, {}, {}}, 2);
    add({7, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 8, true, {}, {}, {}}, 14);
    std::vector<png_color> palette(16);
    for (int i = 0; i < 16; ++i) palette[i] = {uint8_t(i), uint8_t(i * 3), uint8_t(i * 7)};
    add({6, 2, PNG_COLOR_TYPE_PALETTE, 4, false, palette, {0, 128}, {}}, 3);
    add({3, 3, PNG_COLOR_TYPE_PALETTE, 8, true, palette, {}, {}}, 3);
}

namespace {

// Mutated chunks mostly die on their checksums; a copy with every chunk's CRC recomputed
// lets the damage reach the decoder proper.
Bytes withFixedCrcs(const uint8_t* data, size_t size) {
    Bytes b(data, data + size);
    size_t at = 8;
    while (at + 12 <= b.size()) {
        uint32_t length = uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
        if (length > b.size() - at - 12) break;
        uint32_t crc = uint32_t(crc32(0, &b[at + 4], uInt(length + 4)));
        for (int i = 0; i < 4; ++i) b[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
        at += 12 + length;
    }
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DibBitmap bitmap;
    if (PngDecoder::probe(data, size)) {
        Bytes fixed = withFixedCrcs(data, size);
        PngDecoder::decode(fixed.data(), fixed.size(), &bitmap);
    }
    if (PngDecoder::probe(data, size)) {
        BitmapInfoHeader header;
        PngDecoder::header(data, size, &header);
        if (PngDecoder::decode(data, size, &bitmap)) {
            // Every row of the result must be readable.
            volatile uint32_t sum = 0;
            for (int32_t y = 0; y < bitmap.height(); ++y) sum = sum + bitmap.rowFromTop(y)[bitmap.stride() - 1];
        }
    }
    ImageCodec codec;
    codec.openMemory(data, size);
    return 0;
}
