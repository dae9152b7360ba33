#pragma once
// PNG through libpng, read from memory. Output bit counts: 24 (RGB, palette without
// transparency), 32 (RGBA, palette with transparency), 8 (grey, grey with alpha whose
// alpha is dropped, depths below 8 expanded). 16-bit channels are cut to 8.
#include <cstddef>
#include <cstdint>

#include "graphics/ImageCodec.h"

namespace PngDecoder {
bool probe(const uint8_t* data, size_t size);
bool header(const uint8_t* data, size_t size, BitmapInfoHeader* header);
bool decode(const uint8_t* data, size_t size, DibBitmap* bitmap);
}  // namespace PngDecoder
