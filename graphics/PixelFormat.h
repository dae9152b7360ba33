#pragma once
// The framework's own pixel format numbers and what each one is. Numbers without an
// entry (0, 7, anything above 11) are "no format".
#include <cstdint>

#include "framework/d3d9/D3D9Types.h"

enum PixelFormat : int32_t {
    kPixelFormatNone = 0,
    kPixelFormatA8 = 1,
    kPixelFormatAlpha16 = 2,  // 16 bits with alpha; only ever copied to itself
    kPixelFormatR5G6B5 = 3,
    kPixelFormatX4R4G4B4 = 4,
    kPixelFormatA4R4G4B4 = 5,
    kPixelFormatR8G8B8 = 6,  // bytes B, G, R
    kPixelFormatX8R8G8B8 = 8,
    kPixelFormatA8R8G8B8 = 9,  // bytes B, G, R, A
    kPixelFormatX2R10G10B10 = 10,
    kPixelFormatA2R10G10B10 = 11,
};

// Bytes per pixel; 0 for a number that is not a format.
uint32_t pixelFormatBytes(int32_t format);
bool pixelFormatHasAlpha(int32_t format);
bool isPixelFormat(int32_t format);
// The counterpart with alpha (3, 4 -> 5; 6, 8 -> 9; 10 -> 11); formats with alpha map to
// themselves; 0 for a number that is not a format.
int32_t pixelFormatWithAlpha(int32_t format);
// Desktop colour depth to format: 8 -> 1, 16 -> 3, 24 -> 6, 32 -> 8, else 0.
int32_t pixelFormatFromDepth(uint32_t bitsPerPixel);

// The graphics contract's format of a pixel format (D3DFMT_UNKNOWN when it has none) and
// back (0 when none). 10 and 11 share A2R10G10B10, which maps back to 11.
D3DFORMAT d3dFormatOfPixelFormat(int32_t format);
int32_t pixelFormatOfD3dFormat(D3DFORMAT format);
