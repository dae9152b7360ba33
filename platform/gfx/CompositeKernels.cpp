#include "platform/gfx/CompositeKernels.h"

#include <emmintrin.h>

namespace gfx {
namespace {

uint32_t channel(uint32_t p, int shift) {
    return (p >> shift) & 0xFF;
}

uint32_t pick(StageSource s, uint32_t tex, uint32_t dif) {
    switch (s) {
        case StageSource::Texture:
            return tex;
        case StageSource::Diffuse:
            return dif;
        default:
            return mul255(tex, dif);
    }
}

}  // namespace

void shadeSpanScalar(const SpanJob& j) {
    const uint32_t ref = j.alphaRef & 0xFF;
    for (uint32_t i = 0; i < j.count; ++i) {
        uint32_t t = j.texels[i];
        uint32_t a = pick(j.alpha, channel(t, 24), channel(j.diffuse, 24));
        if (!compareFunc(j.alphaFunc, a, ref)) continue;
        if (j.depth && !compareFunc(j.depthFunc, j.depthValue, j.depth[i])) continue;
        uint32_t r = pick(j.color, channel(t, 16), channel(j.diffuse, 16));
        uint32_t g = pick(j.color, channel(t, 8), channel(j.diffuse, 8));
        uint32_t b = pick(j.color, channel(t, 0), channel(j.diffuse, 0));
        uint32_t out;
        if (j.blend) {
            uint32_t d = j.dst[i], inv = 255 - a;
            out = (div255(a * a + channel(d, 24) * inv) << 24) | (div255(r * a + channel(d, 16) * inv) << 16) |
                  (div255(g * a + channel(d, 8) * inv) << 8) | div255(b * a + channel(d, 0) * inv);
        } else {
            out = (a << 24) | (r << 16) | (g << 8) | b;
        }
        j.dst[i] = out | j.outputOr;
        if (j.depth && j.depthWrite) j.depth[i] = j.depthValue;
    }
}

namespace {

// 16-bit lanes: x * y / 255 rounded.
inline __m128i mulDiv255(__m128i x, __m128i y) {
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, y), _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}
inline __m128i div255v(__m128i t) {
    t = _mm_add_epi16(t, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// The comparison function's lane mask from the three orderings of value and reference.
inline __m128i compareMask(DWORD func, __m128i gt, __m128i eq, __m128i lt) {
    switch (func) {
        case D3DCMP_NEVER:
            return _mm_setzero_si128();
        case D3DCMP_LESS:
            return lt;
        case D3DCMP_EQUAL:
            return eq;
        case D3DCMP_LESSEQUAL:
            return _mm_or_si128(lt, eq);
        case D3DCMP_GREATER:
            return gt;
        case D3DCMP_NOTEQUAL:
            return _mm_xor_si128(eq, _mm_set1_epi32(-1));
        case D3DCMP_GREATEREQUAL:
            return _mm_or_si128(gt, eq);
        default:
            return _mm_set1_epi32(-1);
    }
}

// Mask of lanes where func(value, reference) holds; signed lanes of equal width.
inline __m128i compare16(DWORD func, __m128i v, __m128i r) {
    __m128i gt = _mm_cmpgt_epi16(v, r), eq = _mm_cmpeq_epi16(v, r), lt = _mm_cmpgt_epi16(r, v);
    return compareMask(func, gt, eq, lt);
}
inline __m128i compare32(DWORD func, __m128i v, __m128i r) {
    // Unsigned order through the sign flip.
    const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80000000u));
    v = _mm_xor_si128(v, flip);
    r = _mm_xor_si128(r, flip);
    __m128i gt = _mm_cmpgt_epi32(v, r), eq = _mm_cmpeq_epi32(v, r), lt = _mm_cmpgt_epi32(r, v);
    return compareMask(func, gt, eq, lt);
}

inline __m128i select(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Two pixels in 16-bit lanes (B, G, R, A, B, G, R, A).
inline __m128i shadePair(const SpanJob& j, __m128i t, __m128i d, __m128i dst, __m128i alphaLanes, __m128i* alphaOut) {
    __m128i mod = mulDiv255(t, d);
    auto source = [&](StageSource s) { return s == StageSource::Texture ? t : (s == StageSource::Diffuse ? d : mod); };
    __m128i c = select(alphaLanes, source(j.alpha), source(j.color));
    // Alpha of each pixel in all four of its lanes.
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, 0xFF), 0xFF);
    *alphaOut = a;
    if (!j.blend) return c;
    __m128i inv = _mm_sub_epi16(_mm_set1_epi16(255), a);
    return div255v(_mm_add_epi16(_mm_mullo_epi16(c, a), _mm_mullo_epi16(dst, inv)));
}

}  // namespace

void shadeSpanSse2(const SpanJob& j) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i d16 = _mm_unpacklo_epi8(_mm_set1_epi32(static_cast<int>(j.diffuse)), zero);
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    const __m128i ref = _mm_set1_epi16(static_cast<short>(j.alphaRef & 0xFF));
    const __m128i zv = _mm_set1_epi32(static_cast<int>(j.depthValue));
    const __m128i orMask = _mm_set1_epi32(static_cast<int>(j.outputOr));
    const __m128i alphaByte = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i ones = _mm_set1_epi32(-1);

    // Groups of four opaque texels (the usual picture) take a shorter road: the stage
    // colour is the texel itself when the layer colour is white, and the stage alpha is
    // one constant, so the alpha test is decided once and the blend weight is fixed.
    const uint32_t da = j.diffuse >> 24;
    const bool colorIsTexel =
        j.color == StageSource::Texture || (j.color == StageSource::Modulate && (j.diffuse & 0xFFFFFF) == 0xFFFFFF);
    const uint32_t constAlpha = j.alpha == StageSource::Texture ? 255 : da;
    const bool constPass = compareFunc(j.alphaFunc, constAlpha, j.alphaRef & 0xFF);
    const __m128i constA16 = _mm_set1_epi16(static_cast<short>(constAlpha));
    const __m128i constInv16 = _mm_set1_epi16(static_cast<short>(255 - constAlpha));
    const __m128i constAlphaPixel = _mm_set1_epi32(static_cast<int>(constAlpha << 24));
    const bool copy = !j.blend || constAlpha == 255;

    uint32_t i = 0;
    for (; i + 4 <= j.count; i += 4) {
        __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.texels + i));
        if (colorIsTexel && _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(t, alphaByte), alphaByte)) == 0xFFFF) {
            if (!constPass) continue;
            __m128i pass = ones, depthOld = zero;
            if (j.depth) {
                depthOld = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.depth + i));
                pass = compare32(j.depthFunc, zv, depthOld);
                if (_mm_movemask_epi8(pass) == 0) continue;
            }
            __m128i c = _mm_or_si128(_mm_andnot_si128(alphaByte, t), constAlphaPixel);
            if (copy && _mm_movemask_epi8(pass) == 0xFFFF) {
                // Every pixel is replaced: the target need not be read.
                _mm_storeu_si128(reinterpret_cast<__m128i*>(j.dst + i), _mm_or_si128(c, orMask));
                if (j.depth && j.depthWrite) _mm_storeu_si128(reinterpret_cast<__m128i*>(j.depth + i), zv);
                continue;
            }
            __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.dst + i));
            __m128i out;
            if (copy) {
                out = c;
            } else {
                __m128i lo = div255v(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(c, zero), constA16),
                                                   _mm_mullo_epi16(_mm_unpacklo_epi8(dst, zero), constInv16)));
                __m128i hi = div255v(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(c, zero), constA16),
                                                   _mm_mullo_epi16(_mm_unpackhi_epi8(dst, zero), constInv16)));
                out = _mm_packus_epi16(lo, hi);
            }
            out = _mm_or_si128(out, orMask);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(j.dst + i), select(pass, out, dst));
            if (j.depth && j.depthWrite)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(j.depth + i), select(pass, zv, depthOld));
            continue;
        }
        __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.dst + i));
        __m128i aLo, aHi;
        __m128i lo = shadePair(j, _mm_unpacklo_epi8(t, zero), d16, _mm_unpacklo_epi8(dst, zero), alphaLanes, &aLo);
        __m128i hi = shadePair(j, _mm_unpackhi_epi8(t, zero), d16, _mm_unpackhi_epi8(dst, zero), alphaLanes, &aHi);
        // Each 32-bit half of a pixel's lanes is all ones or all zeros: packing gives one
        // 32-bit mask per pixel.
        __m128i pass = _mm_packs_epi32(compare16(j.alphaFunc, aLo, ref), compare16(j.alphaFunc, aHi, ref));
        __m128i depthOld = zero;
        if (j.depth) {
            depthOld = _mm_loadu_si128(reinterpret_cast<const __m128i*>(j.depth + i));
            pass = _mm_and_si128(pass, compare32(j.depthFunc, zv, depthOld));
        }
        __m128i out = _mm_or_si128(_mm_packus_epi16(lo, hi), orMask);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(j.dst + i), select(pass, out, dst));
        if (j.depth && j.depthWrite)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(j.depth + i), select(pass, zv, depthOld));
    }
    if (i < j.count) {
        SpanJob tail = j;
        tail.dst += i;
        tail.texels += i;
        if (tail.depth) tail.depth += i;
        tail.count = j.count - i;
        shadeSpanScalar(tail);
    }
}

SpanKernel spanKernel() {
    static const SpanKernel chosen = __builtin_cpu_supports("sse2") ? shadeSpanSse2 : shadeSpanScalar;
    return chosen;
}

}  // namespace gfx
