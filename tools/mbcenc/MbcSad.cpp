#include "tools/mbcenc/MbcSad.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

uint32_t sadScalar(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride) {
    uint32_t sad = 0;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) sad += static_cast<uint32_t>(std::abs(a[r * aStride + c] - b[r * bStride + c]));
    return sad;
}

#if defined(__SSE2__)
uint32_t sadSse2(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride) {
    __m128i acc = _mm_setzero_si128();
    for (int r = 0; r < 16; ++r) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + r * aStride));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + r * bStride));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(x, y));
    }
    return static_cast<uint32_t>(_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
}
#endif

}  // namespace

MbcSad16Fn mbcSad16(MbcCpuLevel level) {
#if defined(__SSE2__)
    if (level == MbcCpuLevel::Sse2 && mbcCpuLevelSupported(level)) return &sadSse2;
#else
    (void)level;
#endif
    return &sadScalar;
}
