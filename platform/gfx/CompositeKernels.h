#pragma once
// The inner loop of the common layer draw (one point-sampled texture modulated by a constant
// colour, alpha test, source-alpha blending, constant-depth test), in a scalar routine and
// an SSE2 twin with identical results, chosen once from the processor's capabilities.
#include <cstdint>

#include "framework/d3d9/D3D9Types.h"

namespace gfx {

// Where a channel group of the stage result comes from.
enum class StageSource : uint8_t { Modulate, Texture, Diffuse };

struct SpanJob {
    uint32_t* dst = nullptr;           // A8R8G8B8 / X8R8G8B8 target pixels
    const uint32_t* texels = nullptr;  // one A8R8G8B8 texel per pixel, alpha already forced
    uint32_t* depth = nullptr;         // null: no depth test and no depth write
    uint32_t count = 0;
    uint32_t diffuse = 0;
    StageSource color = StageSource::Modulate;
    StageSource alpha = StageSource::Modulate;
    DWORD alphaFunc = D3DCMP_ALWAYS;  // D3DCMP_ALWAYS when the alpha test is off
    uint32_t alphaRef = 0;
    bool blend = false;  // source alpha / inverse source alpha, added
    DWORD depthFunc = D3DCMP_ALWAYS;
    uint32_t depthValue = 0;
    bool depthWrite = false;
    uint32_t outputOr = 0;  // 0xFF000000 for targets without alpha
};

using SpanKernel = void (*)(const SpanJob& job);

void shadeSpanScalar(const SpanJob& job);
void shadeSpanSse2(const SpanJob& job);
// The routine for this processor.
SpanKernel spanKernel();

// x * y / 255 rounded, for 8-bit x and y (and any t = x * y up to 255 * 255).
inline uint32_t div255(uint32_t t) {
    t += 128;
    return (t + (t >> 8)) >> 8;
}
inline uint32_t mul255(uint32_t x, uint32_t y) {
    return div255(x * y);
}

inline bool compareFunc(DWORD func, uint32_t value, uint32_t reference) {
    switch (func) {
        case D3DCMP_NEVER:
            return false;
        case D3DCMP_LESS:
            return value < reference;
        case D3DCMP_EQUAL:
            return value == reference;
        case D3DCMP_LESSEQUAL:
            return value <= reference;
        case D3DCMP_GREATER:
            return value > reference;
        case D3DCMP_NOTEQUAL:
            return value != reference;
        case D3DCMP_GREATEREQUAL:
            return value >= reference;
        default:
            return true;
    }
}

}  // namespace gfx
