#pragma once
// BMP files with a 40-byte (or longer) info header: 1, 4 and 8 bits with a palette (the
// bitmap gets 8-bit indices and the palette), 16 bits (5-5-5, 5-6-5 or bit fields, made
// 5-6-5), 24 bits, 32 bits (bit fields honoured; a plain 32-bit file whose fourth bytes are
// all 0 is opaque). Bottom-up and top-down rows. Compressed pixel data is refused.
#include <cstddef>
#include <cstdint>

#include "graphics/ImageCodec.h"

namespace BmpDecoder {
constexpr size_t kFileHeaderBytes = 14;
bool probe(const uint8_t* data, size_t size);
bool header(const uint8_t* data, size_t size, BitmapInfoHeader* header);
bool decode(const uint8_t* data, size_t size, DibBitmap* bitmap);
}  // namespace BmpDecoder
