#pragma once
// GBCF still pictures. The 48-byte header, little-endian:
//   0  "GBCF"
//   4  u32 total file size in bytes
//   8  i32 width, 12 i32 height
//   16 u16 bit count of the decoded bitmap (8, 16, 24 or 32)
//   18 u16 format word: low ten bits not all 0; bits 10-11 pick the coder's decoding path;
//      low four bits the coded depth (5: 8 bits, 6: 16, 9 or 13: 24, 10 or 14: 48)
//   20.. read by the block decoder
// The pixels are coded with the movie format's block coder. That decoder lives with the
// movie code, which graphics cannot depend on, so it is plugged in at start-up through
// setGbcfPayloadDecoder. Until one is plugged in, every GBCF file fails to decode with
// ImageCodec::kErrorBadData.
#include <cstddef>
#include <cstdint>

#include "graphics/ImageCodec.h"

struct GbcfHeader {
    static constexpr size_t kBytes = 48;
    uint32_t totalSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint16_t formatWord = 0;

    // Coded depth in bits from the low four bits of the format word, or 0 when invalid.
    uint32_t codedDepth() const;
    // Bits 10-11 of the format word.
    uint32_t decodingPath() const { return (formatWord >> 10) & 3u; }
};

// Decodes the pixel payload of a GBCF file into a picture of width x height at bitCount
// bits per pixel. `file` is the whole file, header included, `fileSize` its length (at
// least the total size of the header). Picture row y starts at topRow + y * stride (the
// stride is negative for the codec's bottom-up bitmaps; rows are padded to 4 bytes and
// 8-bit pictures use a grey palette). Only plain types, so the decoder's home needs none
// of graphics' headers. Returns false for damaged data.
using GbcfPayloadDecoder = bool (*)(const uint8_t* file, size_t fileSize, uint32_t width, uint32_t height,
                                    uint32_t bitCount, uint32_t formatWord, uint8_t* topRow, ptrdiff_t stride);

// Process-wide; null unplugs it.
void setGbcfPayloadDecoder(GbcfPayloadDecoder decoder);
GbcfPayloadDecoder gbcfPayloadDecoder();

namespace GbcfDecoder {
bool probe(const uint8_t* data, size_t size);
// Reads and checks the fixed header fields; false (last error 50) when they are invalid.
bool readHeader(const uint8_t* data, size_t size, GbcfHeader* header);
bool header(const uint8_t* data, size_t size, BitmapInfoHeader* header);
bool decode(const uint8_t* data, size_t size, DibBitmap* bitmap);
}  // namespace GbcfDecoder
