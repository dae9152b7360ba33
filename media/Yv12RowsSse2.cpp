// The SSE2 twin of the YUV row routine: eight pixels per step with 16-bit multiply-add
// into 32-bit sums, shifted by 12 and clamped by a signed then an unsigned saturating
// pack. The sums stay far inside 16 bits after the shift, so the packs clamp exactly
// as the scalar table does. Starts off a multiple of 8 and tails go to the scalar routine.
#include "media/Yv12Rows.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

#include <cstring>

namespace {

#define LD_SSE2 __attribute__((target("sse2")))

LD_SSE2 inline __m128i load16(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Four chroma samples, each doubled, as eight 16-bit lanes.
LD_SSE2 inline __m128i loadChroma(const uint8_t* p) {
    uint32_t four;
    std::memcpy(&four, p, 4);
    const __m128i bytes = _mm_cvtsi32_si128(int(four));
    return _mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, bytes), _mm_setzero_si128());
}

// One channel of four pixels: y' + chroma pairs times one matrix pair, shifted.
LD_SSE2 inline __m128i channel(__m128i scaledLuma, __m128i chromaPairs, __m128i matrixPair) {
    return _mm_srai_epi32(_mm_add_epi32(scaledLuma, _mm_madd_epi16(chromaPairs, matrixPair)), kYuvShift);
}

LD_SSE2 void convertEight(uint8_t* out, const uint8_t* luma, const uint8_t* u, const uint8_t* v, __m128i scale,
                          __m128i lumaOffset, __m128i chromaOffset, __m128i pairR, __m128i pairG, __m128i pairB) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i y =
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma)), zero), lumaOffset);
    const __m128i cb = _mm_sub_epi16(loadChroma(u), chromaOffset);
    const __m128i cr = _mm_sub_epi16(loadChroma(v), chromaOffset);

    // (y, 0) pairs times (scale, 0) pairs: the scaled luma as 32-bit lanes.
    const __m128i yLo = _mm_madd_epi16(_mm_unpacklo_epi16(y, zero), scale);
    const __m128i yHi = _mm_madd_epi16(_mm_unpackhi_epi16(y, zero), scale);
    // (Cr, Cb) pairs meet the matrix's (Cr->X, Cb->X) pairs.
    const __m128i cLo = _mm_unpacklo_epi16(cr, cb);
    const __m128i cHi = _mm_unpackhi_epi16(cr, cb);

    const __m128i r = _mm_packs_epi32(channel(yLo, cLo, pairR), channel(yHi, cHi, pairR));
    const __m128i g = _mm_packs_epi32(channel(yLo, cLo, pairG), channel(yHi, cHi, pairG));
    const __m128i b = _mm_packs_epi32(channel(yLo, cLo, pairB), channel(yHi, cHi, pairB));
    const __m128i r8 = _mm_packus_epi16(r, r);
    const __m128i g8 = _mm_packus_epi16(g, g);
    const __m128i b8 = _mm_packus_epi16(b, b);

    const __m128i bg = _mm_unpacklo_epi8(b8, g8);
    const __m128i ra = _mm_unpacklo_epi8(r8, _mm_set1_epi8(char(0xFF)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg, ra));
}

LD_SSE2 void convertYuvRowSse2(uint8_t* out, const uint8_t* luma, const uint8_t* u, const uint8_t* v,
                               const YuvCoefficientSet& c, uint32_t first, uint32_t count) {
    uint32_t x = first;
    const uint32_t end = first + count;
    // Up to the first multiple of 8, so that each group's chroma starts on a whole sample.
    const uint32_t aligned = (x + 7) & ~7u;
    if (x != aligned) {
        const uint32_t head = end < aligned ? end - x : aligned - x;
        convertYuvRowScalar(out, luma, u, v, c, x, head);
        x += head;
    }
    const __m128i scale = load16(c.lumaScale);
    const __m128i lumaOffset = load16(c.lumaOffset);
    const __m128i chromaOffset = load16(c.chromaOffset);
    const __m128i matrix = load16(c.chromaMatrix);
    const __m128i pairR = _mm_shuffle_epi32(matrix, 0x00);
    const __m128i pairG = _mm_shuffle_epi32(matrix, 0x55);
    const __m128i pairB = _mm_shuffle_epi32(matrix, 0xAA);
    for (; end - x >= 8; x += 8)
        convertEight(out + size_t(x) * 4, luma + x, u + x / 2, v + x / 2, scale, lumaOffset, chromaOffset, pairR, pairG,
                     pairB);
    if (x < end) convertYuvRowScalar(out, luma, u, v, c, x, end - x);
}

}  // namespace

YuvRowConverter sse2YuvRowConverter() {
    if (!__builtin_cpu_supports("sse2")) return nullptr;
    return &convertYuvRowSse2;
}

#else

YuvRowConverter sse2YuvRowConverter() {
    return nullptr;
}

#endif
