#pragma once
// Row conversion from planar 4:2:0 YUV to 32-bit RGB (bytes B, G, R, A with A = 255):
// two neighbouring pixels share one chroma sample, fixed point with 12 fraction bits,
// arithmetic shift without rounding, clamp to 0..255. The coefficient sets are laid out
// for 8-lane 16-bit vector use; the scalar and the vector routine give identical results.
#include <cstdint>

// Which matrix and range the coefficients describe; any other value is the first one.
enum ColourStandard : int32_t {
    kColourStandardBt709Studio = 0,
    kColourStandardBt601Full = 1,
    kColourStandardBt601Studio = 2,
    kColourStandardBt709Full = 3,
};

struct YuvCoefficientSet {
    const int16_t* lumaScale;     // (scale, 0) four times
    const int16_t* chromaMatrix;  // Cr->R, Cb->R, Cr->G, Cb->G, Cr->B, Cb->B, 0, 0
    const int16_t* lumaOffset;    // eight equal values
    const int16_t* chromaOffset;  // eight times 128
};

// The fractional bits of every product.
constexpr int kYuvShift = 12;

const YuvCoefficientSet& yuvCoefficients(int32_t standard);

// Converts pixels first .. first + count - 1 of one row. Every pointer is the start of
// its row (any alignment); chroma sample x / 2 serves pixel x; pixel x is written at
// out + 4x.
using YuvRowConverter = void (*)(uint8_t* out, const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                                 const YuvCoefficientSet& coefficients, uint32_t first, uint32_t count);

void convertYuvRowScalar(uint8_t* out, const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                         const YuvCoefficientSet& coefficients, uint32_t first, uint32_t count);
// Null when the processor has no SSE2 or the build no vector code.
YuvRowConverter sse2YuvRowConverter();
// The routine every conversion uses: chosen once from the processor's capabilities.
YuvRowConverter activeYuvRowConverter();
