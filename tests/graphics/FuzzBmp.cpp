// Fuzz target: BMP decoding and the conversion of the result into pixel rows.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/BmpDecoder.h"
#include "graphics/ImageCodec.h"
#include "graphics/PixelFormat.h"
#include "tests/graphics/TestImages.h"

using namespace testimages;

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    auto add = [&](BmpSpec s) {
        size_t stride = ((size_t(s.width) * s.bitCount + 31) / 32) * 4;
        int32_t rows = s.height < 0 ? -s.height : s.height;
        for (int32_t y = 0; y < rows; ++y) {
            Bytes row(stride);
            for (size_t i = 0; i < stride; ++i) row[i] = uint8_t(i * 13 + size_t(y));
            s.rows.push_back(row);
        }
        seeds->push_back(writeBmp(s));
    };
    add({3, 2, 24, 0, 40, {}, {}, {}});
    add({3, -2, 32, 0, 40, {}, {}, {}});
    add({4, 3, 16, 3, 40, {0xF800, 0x07E0, 0x001F}, {}, {}});
    add({5, 2, 32, 3, 108, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {}, {}});
    add({9, 2, 1, 0, 40, {}, {0, 0xFFFFFF}, {}});
    add({5, 3, 4, 0, 40, {}, {1, 2, 3, 4, 5}, {}});
    add({4, 2, 8, 0, 40, {}, std::vector<uint32_t>(256, 0x102030), {}});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DibBitmap bitmap;
    if (BmpDecoder::probe(data, size)) {
        BitmapInfoHeader header;
        BmpDecoder::header(data, size, &header);
        BmpDecoder::decode(data, size, &bitmap);
    }
    ImageCodec codec;
    if (codec.openMemory(data, size)) {
        int32_t w = 0, h = 0;
        codec.size(&w, &h);
        int32_t format = codec.bitCount() == 8 ? kPixelFormatA8 : kPixelFormatA8R8G8B8;
        std::vector<uint8_t> out(size_t(w) * size_t(h) * pixelFormatBytes(format));
        codec.decodeRows(out.data(), w * int32_t(pixelFormatBytes(format)), format);
    }
    return 0;
}
