#include "graphics/PixelFormat.h"

#include <array>

namespace {

struct FormatInfo {
    uint8_t bytes;
    bool alpha;
    int8_t withAlpha;
};

// Indexed by format number.
constexpr std::array<FormatInfo, 12> kFormats = {{
    {0, false, 0},   // 0: none
    {1, true, 1},    // 1: A8
    {2, true, 2},    // 2: 16-bit with alpha
    {2, false, 5},   // 3: R5G6B5
    {2, false, 5},   // 4: X4R4G4B4
    {2, true, 5},    // 5: A4R4G4B4
    {3, false, 9},   // 6: R8G8B8
    {0, false, 0},   // 7: none
    {4, false, 9},   // 8: X8R8G8B8
    {4, true, 9},    // 9: A8R8G8B8
    {4, false, 11},  // 10: X2R10G10B10
    {4, true, 11},   // 11: A2R10G10B10
}};

const FormatInfo* infoOf(int32_t format) {
    if (format <= 0 || format >= static_cast<int32_t>(kFormats.size())) return nullptr;
    const FormatInfo& info = kFormats[static_cast<size_t>(format)];
    return info.bytes ? &info : nullptr;
}

}  // namespace

uint32_t pixelFormatBytes(int32_t format) {
    const FormatInfo* info = infoOf(format);
    return info ? info->bytes : 0;
}

bool pixelFormatHasAlpha(int32_t format) {
    const FormatInfo* info = infoOf(format);
    return info && info->alpha;
}

bool isPixelFormat(int32_t format) {
    return infoOf(format) != nullptr;
}

int32_t pixelFormatWithAlpha(int32_t format) {
    const FormatInfo* info = infoOf(format);
    return info ? info->withAlpha : 0;
}

int32_t pixelFormatFromDepth(uint32_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8:
            return kPixelFormatA8;
        case 16:
            return kPixelFormatR5G6B5;
        case 24:
            return kPixelFormatR8G8B8;
        case 32:
            return kPixelFormatX8R8G8B8;
        default:
            return kPixelFormatNone;
    }
}

namespace {

struct D3dPair {
    int32_t pixelFormat;
    D3DFORMAT d3dFormat;
};

// Searched in order both ways: the first row with a match wins.
constexpr D3dPair kD3dFormats[] = {
    {kPixelFormatA8, D3DFMT_A8},
    {kPixelFormatR5G6B5, D3DFMT_R5G6B5},
    {kPixelFormatA4R4G4B4, D3DFMT_A4R4G4B4},
    {kPixelFormatR8G8B8, D3DFMT_R8G8B8},
    {kPixelFormatX8R8G8B8, D3DFMT_X8R8G8B8},
    {kPixelFormatA8R8G8B8, D3DFMT_A8R8G8B8},
    {kPixelFormatA2R10G10B10, D3DFMT_A2R10G10B10},
    {kPixelFormatX2R10G10B10, D3DFMT_A2R10G10B10},
};

}  // namespace

D3DFORMAT d3dFormatOfPixelFormat(int32_t format) {
    for (const D3dPair& p : kD3dFormats)
        if (p.pixelFormat == format) return p.d3dFormat;
    return D3DFMT_UNKNOWN;
}

int32_t pixelFormatOfD3dFormat(D3DFORMAT format) {
    if (format == D3DFMT_UNKNOWN) return kPixelFormatNone;
    for (const D3dPair& p : kD3dFormats)
        if (p.d3dFormat == format) return p.pixelFormat;
    return kPixelFormatNone;
}
