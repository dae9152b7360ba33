#include "platform/gfx/SoftwareFormats.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gfx {
namespace {

constexpr uint32_t kColor = kUseTexture | kUseSurface;
constexpr uint32_t kTarget = kUseTexture | kUseSurface | kUseRenderTarget;

uint32_t expand5(uint32_t v) {
    return (v << 3) | (v >> 2);
}
uint32_t expand6(uint32_t v) {
    return (v << 2) | (v >> 4);
}
uint32_t expand4(uint32_t v) {
    return v * 17;
}
uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

uint16_t load16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void store16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

// Rounded reduction of an 8-bit channel to n bits.
uint32_t reduce(uint32_t v, uint32_t bits) {
    uint32_t maximum = (1u << bits) - 1;
    return (v * maximum + 127) / 255;
}

}  // namespace

FormatInfo formatInfo(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
            return {format, 4, true, false, kTarget | kUseDisplay};
        case D3DFMT_X8R8G8B8:
            return {format, 4, false, false, kTarget | kUseDisplay};
        case D3DFMT_R8G8B8:
            return {format, 3, false, false, kColor};
        case D3DFMT_R5G6B5:
            return {format, 2, false, false, kColor};
        case D3DFMT_X1R5G5B5:
            return {format, 2, false, false, kColor};
        case D3DFMT_A1R5G5B5:
            return {format, 2, true, false, kColor};
        case D3DFMT_A4R4G4B4:
            return {format, 2, true, false, kColor};
        case D3DFMT_X4R4G4B4:
            return {format, 2, false, false, kColor};
        case D3DFMT_A2R10G10B10:
            return {format, 4, true, false, kColor};
        case D3DFMT_A8B8G8R8:
            return {format, 4, true, false, kColor};
        case D3DFMT_X8B8G8R8:
            return {format, 4, false, false, kColor};
        case D3DFMT_A8:
            return {format, 1, true, false, kColor};
        case D3DFMT_L8:
            return {format, 1, false, false, kColor};
        case D3DFMT_A8L8:
            return {format, 2, true, false, kColor};
        case D3DFMT_D16:
            return {format, 4, false, true, kUseDepthStencil};
        case D3DFMT_D24S8:
            return {format, 4, false, true, kUseDepthStencil};
        case D3DFMT_D24X8:
            return {format, 4, false, true, kUseDepthStencil};
        case D3DFMT_D32:
            return {format, 4, false, true, kUseDepthStencil};
        default:
            return {format, 0, false, false, 0};
    }
}

uint32_t surfacePitch(D3DFORMAT format, uint32_t width) {
    uint64_t bytes = uint64_t(formatInfo(format).bytesPerPixel) * width;
    return static_cast<uint32_t>((bytes + 15) & ~uint64_t(15));
}

uint32_t depthMaximum(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_D16:
            return 0xFFFF;
        case D3DFMT_D24S8:
        case D3DFMT_D24X8:
            return 0xFFFFFF;
        case D3DFMT_D32:
            return 0xFFFFFFFF;
        default:
            return 0;
    }
}

uint32_t quantizeDepth(float z, uint32_t maximum) {
    double v = std::clamp(static_cast<double>(z), 0.0, 1.0);
    if (std::isnan(v)) v = 0.0;
    return static_cast<uint32_t>(std::llround(v * maximum));
}

bool rowToArgb(const uint8_t* s, D3DFORMAT format, uint32_t* out, uint32_t count) {
    switch (format) {
        case D3DFMT_A8R8G8B8:
            std::memcpy(out, s, size_t(count) * 4);
            return true;
        case D3DFMT_X8R8G8B8:
            for (uint32_t i = 0; i < count; ++i) out[i] = load32(s + 4 * i) | 0xFF000000u;
            return true;
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8:
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* p = s + 4 * i;
                uint32_t a = format == D3DFMT_A8B8G8R8 ? p[3] : 255;
                out[i] = argb(a, p[0], p[1], p[2]);
            }
            return true;
        case D3DFMT_R8G8B8:
            for (uint32_t i = 0; i < count; ++i) out[i] = argb(255, s[3 * i + 2], s[3 * i + 1], s[3 * i]);
            return true;
        case D3DFMT_R5G6B5:
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t v = load16(s + 2 * i);
                out[i] = argb(255, expand5(v >> 11), expand6((v >> 5) & 63), expand5(v & 31));
            }
            return true;
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t v = load16(s + 2 * i);
                uint32_t a = format == D3DFMT_X1R5G5B5 ? 255 : ((v >> 15) ? 255 : 0);
                out[i] = argb(a, expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31));
            }
            return true;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t v = load16(s + 2 * i);
                uint32_t a = format == D3DFMT_X4R4G4B4 ? 255 : expand4(v >> 12);
                out[i] = argb(a, expand4((v >> 8) & 15), expand4((v >> 4) & 15), expand4(v & 15));
            }
            return true;
        case D3DFMT_A2R10G10B10:
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t v = load32(s + 4 * i);
                out[i] = argb((v >> 30) * 85, (v >> 22) & 255, (v >> 12) & 255, (v >> 2) & 255);
            }
            return true;
        case D3DFMT_A8:
            for (uint32_t i = 0; i < count; ++i) out[i] = uint32_t(s[i]) << 24;
            return true;
        case D3DFMT_L8:
            for (uint32_t i = 0; i < count; ++i) out[i] = argb(255, s[i], s[i], s[i]);
            return true;
        case D3DFMT_A8L8:
            for (uint32_t i = 0; i < count; ++i) out[i] = argb(s[2 * i + 1], s[2 * i], s[2 * i], s[2 * i]);
            return true;
        default:
            return false;
    }
}

bool packColor(D3DCOLOR c, D3DFORMAT format, uint32_t* pixel) {
    uint32_t a = c >> 24, r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            *pixel = c;
            return true;
        case D3DFMT_A8B8G8R8:
        case D3DFMT_X8B8G8R8:
            *pixel = (a << 24) | (b << 16) | (g << 8) | r;
            return true;
        case D3DFMT_R8G8B8:
            *pixel = c & 0xFFFFFF;
            return true;
        case D3DFMT_R5G6B5:
            *pixel = (reduce(r, 5) << 11) | (reduce(g, 6) << 5) | reduce(b, 5);
            return true;
        case D3DFMT_X1R5G5B5:
        case D3DFMT_A1R5G5B5:
            *pixel = ((a >= 128 ? 1u : 0u) << 15) | (reduce(r, 5) << 10) | (reduce(g, 5) << 5) | reduce(b, 5);
            return true;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
            *pixel = (reduce(a, 4) << 12) | (reduce(r, 4) << 8) | (reduce(g, 4) << 4) | reduce(b, 4);
            return true;
        case D3DFMT_A2R10G10B10: {
            auto ten = [](uint32_t v) { return (v << 2) | (v >> 6); };
            *pixel = (reduce(a, 2) << 30) | (ten(r) << 20) | (ten(g) << 10) | ten(b);
            return true;
        }
        case D3DFMT_A8:
            *pixel = a;
            return true;
        case D3DFMT_L8:
            // Luminance by the usual integer weights.
            *pixel = (r * 77 + g * 150 + b * 29 + 128) >> 8;
            return true;
        case D3DFMT_A8L8:
            *pixel = (a << 8) | ((r * 77 + g * 150 + b * 29 + 128) >> 8);
            return true;
        default:
            return false;
    }
}

bool rowFromArgb(const uint32_t* in, uint8_t* d, D3DFORMAT format, uint32_t count) {
    uint32_t bpp = formatInfo(format).bytesPerPixel;
    if (bpp == 0 || formatInfo(format).isDepth) return false;
    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8) {
        std::memcpy(d, in, size_t(count) * 4);
        return true;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t p = 0;
        packColor(in[i], format, &p);
        switch (bpp) {
            case 1:
                d[i] = static_cast<uint8_t>(p);
                break;
            case 2:
                store16(d + 2 * i, p);
                break;
            case 3:
                d[3 * i] = static_cast<uint8_t>(p);
                d[3 * i + 1] = static_cast<uint8_t>(p >> 8);
                d[3 * i + 2] = static_cast<uint8_t>(p >> 16);
                break;
            default:
                store32(d + 4 * i, p);
                break;
        }
    }
    return true;
}

}  // namespace gfx
