#include "splitters/MbcColorConvert.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint8_t clampByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void yccPixel(const uint8_t* s, uint8_t* d) {
    int32_t cr = s[0] - 128, cb = s[1] - 128, y = 4096 * s[2] + 2048;
    d[0] = clampByte((y + 7258 * cb) >> 12);
    d[1] = clampByte((y - 2925 * cr - 1410 * cb) >> 12);
    d[2] = clampByte((y + 5742 * cr) >> 12);
}

void yccScalar(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t alphaOr) {
    for (uint32_t i = 0; i < count; ++i) {
        yccPixel(src + 4 * i, dst + 4 * i);
        dst[4 * i + 3] = static_cast<uint8_t>(src[4 * i + 3] | alphaOr);
    }
}

void rgbScalar(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t alphaOr) {
    for (uint32_t i = 0; i < count; ++i) {
        dst[4 * i] = src[4 * i];
        dst[4 * i + 1] = src[4 * i + 1];
        dst[4 * i + 2] = src[4 * i + 2];
        dst[4 * i + 3] = static_cast<uint8_t>(src[4 * i + 3] | alphaOr);
    }
}

#if defined(__SSE2__)

inline __m128i pairs(int16_t lo, int16_t hi) {
    return _mm_set_epi16(hi, lo, hi, lo, hi, lo, hi, lo);
}

void yccSse2(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t alphaOr) {
    const __m128i low = _mm_set1_epi32(0x00FF00FF);
    // Pairs (Cr, Y) and (Cb, A) of each pixel as 16-bit halves of a 32-bit lane; the
    // offsets of the chroma and the rounding term fold into one constant per channel.
    const __m128i kR = pairs(5742, 4096), kG1 = pairs(-2925, 4096), kG2 = pairs(-1410, 0);
    const __m128i kB1 = pairs(0, 4096), kB2 = pairs(7258, 0);
    const __m128i oR = _mm_set1_epi32(2048 - 5742 * 128), oG = _mm_set1_epi32(2048 + 2925 * 128 + 1410 * 128),
                  oB = _mm_set1_epi32(2048 - 7258 * 128);
    const __m128i aOr = _mm_set1_epi32(alphaOr);
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        __m128i crY = _mm_and_si128(p, low);
        __m128i cbA = _mm_and_si128(_mm_srli_epi32(p, 8), low);
        __m128i r = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(crY, kR), oR), 12);
        __m128i g =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(crY, kG1), _mm_madd_epi16(cbA, kG2)), oG), 12);
        __m128i b =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(crY, kB1), _mm_madd_epi16(cbA, kB2)), oB), 12);
        __m128i a = _mm_or_si128(_mm_srli_epi32(p, 24), aOr);
        __m128i x = _mm_packus_epi16(_mm_packs_epi32(b, r), _mm_packs_epi32(g, a));  // B0-3 R0-3 G0-3 A0-3
        __m128i t = _mm_unpacklo_epi8(x, _mm_srli_si128(x, 8));                      // B G B G ... R A R A ...
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_unpacklo_epi16(t, _mm_srli_si128(t, 8)));
    }
    yccScalar(src + 4 * i, dst + 4 * i, count - i, alphaOr);
}

void rgbSse2(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t alphaOr) {
    const __m128i aOr = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(alphaOr) << 24));
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_or_si128(p, aOr));
    }
    rgbScalar(src + 4 * i, dst + 4 * i, count - i, alphaOr);
}

const MbcColorKernels kSse2 = {&yccSse2, &rgbSse2};
#endif

const MbcColorKernels kScalar = {&yccScalar, &rgbScalar};

}  // namespace

const MbcColorKernels& mbcColorKernels(MbcCpuLevel level) {
#if defined(__SSE2__)
    if (level == MbcCpuLevel::Sse2 && mbcCpuLevelSupported(level)) return kSse2;
#else
    (void)level;
#endif
    return kScalar;
}

void mbcYccRowToBgr24(const uint8_t* src, uint8_t* dst, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) yccPixel(src + 4 * i, dst + 3 * i);
}

void mbcRgbRowToBgr24(const uint8_t* src, uint8_t* dst, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) std::memcpy(dst + 3 * i, src + 4 * i, 3);
}
