#include "splitters/MbcDeblock.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint8_t avg(uint8_t a, uint8_t b) {
    return static_cast<uint8_t>((a + b + 1) >> 1);
}

void verticalScalar(uint8_t* pic, ptrdiff_t stride, uint32_t width, uint32_t height) {
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pic + static_cast<ptrdiff_t>(y) * stride;
        for (uint32_t x = 8; x < width; x += 8) {
            uint8_t* p = row + 4 * (x - 2);
            for (int c = 0; c < 4; ++c) {
                uint8_t p6 = p[c], p7 = p[4 + c], p8 = p[8 + c], p9 = p[12 + c];
                p[4 + c] = avg(p7, avg(p6, p8));
                p[8 + c] = avg(p8, avg(p7, p9));
            }
        }
    }
}

void horizontalScalar(uint8_t* pic, ptrdiff_t stride, uint32_t width, uint32_t height) {
    for (uint32_t y = 8; y < height; y += 8) {
        uint8_t* r6 = pic + static_cast<ptrdiff_t>(y - 2) * stride;
        uint8_t* r7 = r6 + stride;
        uint8_t* r8 = r7 + stride;
        uint8_t* r9 = r8 + stride;
        for (uint32_t i = 0; i < width * 4; ++i) {
            uint8_t p6 = r6[i], p7 = r7[i], p8 = r8[i], p9 = r9[i];
            r7[i] = avg(p7, avg(p6, p8));
            r8[i] = avg(p8, avg(p7, p9));
        }
    }
}

#if defined(__SSE2__)

void verticalSse2(uint8_t* pic, ptrdiff_t stride, uint32_t width, uint32_t height) {
    // One 16-byte load holds p6, p7, p8, p9 of one edge in one row.
    const __m128i keep = _mm_set_epi32(-1, 0, 0, -1);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pic + static_cast<ptrdiff_t>(y) * stride;
        for (uint32_t x = 8; x < width; x += 8) {
            __m128i* p = reinterpret_cast<__m128i*>(row + 4 * (x - 2));
            __m128i v = _mm_loadu_si128(p);
            __m128i m = _mm_avg_epu8(v, _mm_srli_si128(v, 8));  // lane 0: avg(p6,p8), lane 1: avg(p7,p9)
            __m128i r = _mm_avg_epu8(v, _mm_slli_si128(m, 4));  // lane 1: p7', lane 2: p8'
            _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(keep, v), _mm_andnot_si128(keep, r)));
        }
    }
}

void horizontalSse2(uint8_t* pic, ptrdiff_t stride, uint32_t width, uint32_t height) {
    uint32_t bytes = width * 4;
    for (uint32_t y = 8; y < height; y += 8) {
        uint8_t* r6 = pic + static_cast<ptrdiff_t>(y - 2) * stride;
        uint8_t* r7 = r6 + stride;
        uint8_t* r8 = r7 + stride;
        uint8_t* r9 = r8 + stride;
        uint32_t i = 0;
        for (; i + 16 <= bytes; i += 16) {
            __m128i p6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r6 + i));
            __m128i p7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r7 + i));
            __m128i p8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r8 + i));
            __m128i p9 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r9 + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(r7 + i), _mm_avg_epu8(p7, _mm_avg_epu8(p6, p8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(r8 + i), _mm_avg_epu8(p8, _mm_avg_epu8(p7, p9)));
        }
        for (; i < bytes; ++i) {
            uint8_t p6 = r6[i], p7 = r7[i], p8 = r8[i], p9 = r9[i];
            r7[i] = avg(p7, avg(p6, p8));
            r8[i] = avg(p8, avg(p7, p9));
        }
    }
}

const MbcDeblockKernels kSse2 = {&verticalSse2, &horizontalSse2};
#endif

const MbcDeblockKernels kScalar = {&verticalScalar, &horizontalScalar};

}  // namespace

const MbcDeblockKernels& mbcDeblockKernels(MbcCpuLevel level) {
#if defined(__SSE2__)
    if (level == MbcCpuLevel::Sse2 && mbcCpuLevelSupported(level)) return kSse2;
#else
    (void)level;
#endif
    return kScalar;
}
