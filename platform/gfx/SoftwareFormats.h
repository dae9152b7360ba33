#pragma once
// Pixel formats the software device can store, what each may be used for, and the
// conversions between a format and 32-bit A8R8G8B8 that sampling, copies and fills use.
#include <cstdint>

#include "framework/d3d9/D3D9Types.h"

namespace gfx {

// What a format can be made as. Combined as a mask.
enum FormatUse : uint32_t {
    kUseTexture = 1u << 0,
    kUseSurface = 1u << 1,  // offscreen plain surface
    kUseRenderTarget = 1u << 2,
    kUseDepthStencil = 1u << 3,
    kUseDisplay = 1u << 4,  // back buffer / display mode
};

struct FormatInfo {
    D3DFORMAT format;
    uint32_t bytesPerPixel;  // 0 for formats the device does not store
    bool hasAlpha;
    bool isDepth;
    uint32_t uses;  // the uses the device can serve at all
};

// Description of a format; bytesPerPixel 0 when unknown.
FormatInfo formatInfo(D3DFORMAT format);
// Row pitch of a stored surface: whole pixels, rounded up to 16 bytes.
uint32_t surfacePitch(D3DFORMAT format, uint32_t width);
// Depth quantisation: the largest stored value for a depth format (0 for others).
uint32_t depthMaximum(D3DFORMAT format);
uint32_t quantizeDepth(float z, uint32_t maximum);

// Row conversions between a colour format and A8R8G8B8. Formats without alpha read as
// opaque; writing drops what the format cannot hold. False for a format that is not a
// colour format the device stores.
bool rowToArgb(const uint8_t* source, D3DFORMAT format, uint32_t* argb, uint32_t count);
bool rowFromArgb(const uint32_t* argb, uint8_t* dest, D3DFORMAT format, uint32_t count);
// One colour in a format's pixel layout (up to 4 bytes, little-endian in *pixel).
bool packColor(D3DCOLOR color, D3DFORMAT format, uint32_t* pixel);

}  // namespace gfx
