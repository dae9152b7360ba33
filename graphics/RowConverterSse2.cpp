// SSE2 twins of the row kernels; each gives exactly the scalar results and leaves the
// tail that does not fill a vector to the scalar kernel.
#include "graphics/RowConverter.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

namespace {

#define LD_SSE2 __attribute__((target("sse2")))

LD_SSE2 inline __m128i loadu(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
LD_SSE2 inline void storeu(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
LD_SSE2 inline __m128i load12(const uint8_t* p) {
    uint32_t hi;
    __builtin_memcpy(&hi, p + 8, 4);
    __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_or_si128(lo, _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(hi)), 8));
}
LD_SSE2 inline void store12(uint8_t* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    uint32_t hi = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
    __builtin_memcpy(p + 8, &hi, 4);
}

LD_SSE2 void copyBytesSse2(uint8_t* dst, const uint8_t* src, size_t bytes) {
    if (dst == src) return;
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        __m128i a = loadu(src + i), b = loadu(src + i + 16), c = loadu(src + i + 32), d = loadu(src + i + 48);
        storeu(dst + i, a);
        storeu(dst + i + 16, b);
        storeu(dst + i + 32, c);
        storeu(dst + i + 48, d);
    }
    for (; i + 16 <= bytes; i += 16) storeu(dst + i, loadu(src + i));
    scalarRowKernels().copyBytes(dst + i, src + i, bytes - i);
}

// Two rows of 16-bit B|G<<8 and R|A<<8 halves interleave into four wide pixels each.
LD_SSE2 inline void storeWide8(uint8_t* dst, __m128i bg, __m128i ra) {
    storeu(dst, _mm_unpacklo_epi16(bg, ra));
    storeu(dst + 16, _mm_unpackhi_epi16(bg, ra));
}

LD_SSE2 void unpack565Sse2(uint8_t* dst, const uint8_t* src, size_t count) {
    const __m128i m8 = _mm_set1_epi16(0xF8), m6 = _mm_set1_epi16(0xFC), alpha = _mm_set1_epi16(-256);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i p = loadu(src + 2 * i);
        __m128i r = _mm_and_si128(_mm_srli_epi16(p, 8), m8);
        __m128i g = _mm_and_si128(_mm_srli_epi16(p, 3), m6);
        __m128i b = _mm_and_si128(_mm_slli_epi16(p, 3), m8);
        storeWide8(dst + 4 * i, _mm_or_si128(b, _mm_slli_epi16(g, 8)), _mm_or_si128(r, alpha));
    }
    scalarRowKernels().unpack565(dst + 4 * i, src + 2 * i, count - i);
}

LD_SSE2 void unpack4444Sse2(uint8_t* dst, const uint8_t* src, size_t count) {
    const __m128i lowNibble = _mm_set1_epi16(0xF0), highNibble = _mm_set1_epi16(static_cast<short>(0xF000));
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i p = loadu(src + 2 * i);
        __m128i b = _mm_and_si128(_mm_slli_epi16(p, 4), lowNibble);
        __m128i g = _mm_slli_epi16(_mm_and_si128(p, lowNibble), 8);
        __m128i r = _mm_and_si128(_mm_srli_epi16(p, 4), lowNibble);
        __m128i a = _mm_and_si128(p, highNibble);
        storeWide8(dst + 4 * i, _mm_or_si128(b, g), _mm_or_si128(r, a));
    }
    scalarRowKernels().unpack4444(dst + 4 * i, src + 2 * i, count - i);
}

LD_SSE2 void unpack888Sse2(uint8_t* dst, const uint8_t* src, size_t count) {
    const __m128i first = _mm_set1_epi64x(0x0000000000FFFFFFll);
    const __m128i second = _mm_set1_epi64x(0x00FFFFFF00000000ll);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i v = load12(src + 3 * i);
        // 64-bit lane 0 holds pixels 0, 1 (bytes 0-5); lane 1 pixels 2, 3 (bytes 6-11).
        __m128i x = _mm_castpd_si128(_mm_move_sd(_mm_castsi128_pd(_mm_slli_si128(v, 2)), _mm_castsi128_pd(v)));
        __m128i w = _mm_or_si128(_mm_and_si128(x, first), _mm_and_si128(_mm_slli_epi64(x, 8), second));
        storeu(dst + 4 * i, _mm_or_si128(w, alpha));
    }
    scalarRowKernels().unpack888(dst + 4 * i, src + 3 * i, count - i);
}

LD_SSE2 void fillAlphaSse2(uint8_t* dst, const uint8_t* src, size_t count) {
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i a = loadu(src + 4 * i), b = loadu(src + 4 * i + 16);
        storeu(dst + 4 * i, _mm_or_si128(a, alpha));
        storeu(dst + 4 * i + 16, _mm_or_si128(b, alpha));
    }
    for (; i + 4 <= count; i += 4) storeu(dst + 4 * i, _mm_or_si128(loadu(src + 4 * i), alpha));
    scalarRowKernels().fillAlpha(dst + 4 * i, src + 4 * i, count - i);
}

// Low 16 bits of each 32-bit lane, packed without saturation.
LD_SSE2 inline __m128i pack32to16(__m128i a, __m128i b) {
    a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
    b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    return _mm_packs_epi32(a, b);
}

LD_SSE2 inline __m128i to565(__m128i p) {
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 8), _mm_set1_epi32(0xF800));
    __m128i g = _mm_and_si128(_mm_srli_epi32(p, 5), _mm_set1_epi32(0x07E0));
    __m128i b = _mm_and_si128(_mm_srli_epi32(p, 3), _mm_set1_epi32(0x001F));
    return _mm_or_si128(_mm_or_si128(r, g), b);
}

LD_SSE2 void pack565Sse2(uint8_t* dst, const uint8_t* src, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
        storeu(dst + 2 * i, pack32to16(to565(loadu(src + 4 * i)), to565(loadu(src + 4 * i + 16))));
    scalarRowKernels().pack565(dst + 2 * i, src + 4 * i, count - i);
}

LD_SSE2 inline __m128i to4444(__m128i p) {
    __m128i a = _mm_and_si128(_mm_srli_epi32(p, 16), _mm_set1_epi32(0xF000));
    __m128i r = _mm_and_si128(_mm_srli_epi32(p, 12), _mm_set1_epi32(0x0F00));
    __m128i g = _mm_and_si128(_mm_srli_epi32(p, 8), _mm_set1_epi32(0x00F0));
    __m128i b = _mm_and_si128(_mm_srli_epi32(p, 4), _mm_set1_epi32(0x000F));
    return _mm_or_si128(_mm_or_si128(a, r), _mm_or_si128(g, b));
}

LD_SSE2 void pack4444Sse2(uint8_t* dst, const uint8_t* src, size_t count) {
    size_t i = 0;
    for (; i + 8 <= count; i += 8)
        storeu(dst + 2 * i, pack32to16(to4444(loadu(src + 4 * i)), to4444(loadu(src + 4 * i + 16))));
    scalarRowKernels().pack4444(dst + 2 * i, src + 4 * i, count - i);
}

LD_SSE2 void pack888Sse2(uint8_t* dst, const uint8_t* src, size_t count) {
    const __m128i first = _mm_set1_epi64x(0x0000000000FFFFFFll);
    const __m128i second = _mm_set1_epi64x(0x0000FFFFFF000000ll);
    const __m128i lane0 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    const __m128i lane1 = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i p = loadu(src + 4 * i);
        // Each 64-bit lane becomes six bytes: pixel 0 in bytes 0-2, pixel 1 in bytes 3-5.
        __m128i y = _mm_or_si128(_mm_and_si128(p, first), _mm_and_si128(_mm_srli_epi64(p, 8), second));
        // Lane 1's six bytes move down to bytes 6-11.
        __m128i z = _mm_or_si128(_mm_and_si128(y, lane0), _mm_and_si128(_mm_srli_si128(y, 2), lane1));
        store12(dst + 3 * i, z);
    }
    scalarRowKernels().pack888(dst + 3 * i, src + 4 * i, count - i);
}

LD_SSE2 void clearKeyAlphaSse2(uint8_t* row, size_t count, uint32_t key) {
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i k = _mm_set1_epi32(static_cast<int>(key & 0x00FFFFFFu));
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i p = loadu(row + 4 * i);
        __m128i hit = _mm_cmpeq_epi32(_mm_and_si128(p, rgb), k);
        storeu(row + 4 * i, _mm_andnot_si128(_mm_and_si128(hit, alpha), p));
    }
    scalarRowKernels().clearKeyAlpha(row + 4 * i, count - i, key);
}

constexpr RowKernels kSse2 = {"sse2",        copyBytesSse2, unpack565Sse2, unpack4444Sse2, unpack888Sse2,
                              fillAlphaSse2, pack565Sse2,   pack4444Sse2,  pack888Sse2,    clearKeyAlphaSse2};

}  // namespace

const RowKernels* sse2RowKernels() {
    static const bool has = __builtin_cpu_supports("sse2");
    return has ? &kSse2 : nullptr;
}

#else

const RowKernels* sse2RowKernels() {
    return nullptr;
}

#endif
