#include "splitters/MbcPrediction.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint8_t avg(uint8_t a, uint8_t b) {
    return static_cast<uint8_t>((a + b + 1) >> 1);
}

void predictScalar(uint8_t* pred, const uint8_t* ref, ptrdiff_t refStride, int halfX, int halfY) {
    for (int r = 0; r < 16; ++r) {
        const uint8_t* a = ref + r * refStride;
        const uint8_t* b = a + refStride;
        uint8_t* d = pred + r * 64;
        for (int i = 0; i < 64; ++i) {
            uint8_t top = halfX ? avg(a[i], a[i + 4]) : a[i];
            if (halfY) {
                uint8_t bottom = halfX ? avg(b[i], b[i + 4]) : b[i];
                top = avg(top, bottom);
            }
            d[i] = top;
        }
    }
}

inline uint8_t clampByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void storeScalar(uint8_t* dst, ptrdiff_t dstStride, const MbcMacroblockSamples& s, const uint8_t* pred) {
    for (int r = 0; r < 16; ++r) {
        uint8_t* d = dst + r * dstStride;
        const int16_t* y = s.y + 16 * r;
        const int16_t* a = s.a + 16 * r;
        const int16_t* cr = s.cr + (r >> s.chromaShiftY) * s.chromaStride;
        const int16_t* cb = s.cb + (r >> s.chromaShiftY) * s.chromaStride;
        const uint8_t* p = pred ? pred + 64 * r : nullptr;
        for (int x = 0; x < 16; ++x) {
            int32_t v[4] = {cr[x >> s.chromaShiftX], cb[x >> s.chromaShiftX], y[x], a[x]};
            for (int c = 0; c < 4; ++c) d[4 * x + c] = clampByte(v[c] + (p ? p[4 * x + c] : 0));
        }
    }
}

#if defined(__SSE2__)

void predictSse2(uint8_t* pred, const uint8_t* ref, ptrdiff_t refStride, int halfX, int halfY) {
    auto row = [&](const uint8_t* a, int k) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * k));
        if (halfX) v = _mm_avg_epu8(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 16 * k + 4)));
        return v;
    };
    for (int r = 0; r < 16; ++r) {
        const uint8_t* a = ref + r * refStride;
        for (int k = 0; k < 4; ++k) {
            __m128i v = row(a, k);
            if (halfY) v = _mm_avg_epu8(v, row(a + refStride, k));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pred + 64 * r + 16 * k), v);
        }
    }
}

// Eight pixels of interleaved int16 samples (Cr, Cb, Y, A) plus prediction, to bytes.
inline void storeEight(uint8_t* d, __m128i cr, __m128i cb, __m128i y, __m128i a, const uint8_t* p) {
    __m128i crcbL = _mm_unpacklo_epi16(cr, cb), crcbH = _mm_unpackhi_epi16(cr, cb);
    __m128i yaL = _mm_unpacklo_epi16(y, a), yaH = _mm_unpackhi_epi16(y, a);
    __m128i px0 = _mm_unpacklo_epi32(crcbL, yaL), px1 = _mm_unpackhi_epi32(crcbL, yaL);
    __m128i px2 = _mm_unpacklo_epi32(crcbH, yaH), px3 = _mm_unpackhi_epi32(crcbH, yaH);
    if (p) {
        const __m128i zero = _mm_setzero_si128();
        __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        // Saturating adds: a sample near the int16 limit still clamps to 255.
        px0 = _mm_adds_epi16(px0, _mm_unpacklo_epi8(p0, zero));
        px1 = _mm_adds_epi16(px1, _mm_unpackhi_epi8(p0, zero));
        px2 = _mm_adds_epi16(px2, _mm_unpacklo_epi8(p1, zero));
        px3 = _mm_adds_epi16(px3, _mm_unpackhi_epi8(p1, zero));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(px0, px1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_packus_epi16(px2, px3));
}

void storeSse2(uint8_t* dst, ptrdiff_t dstStride, const MbcMacroblockSamples& s, const uint8_t* pred) {
    for (int r = 0; r < 16; ++r) {
        uint8_t* d = dst + r * dstStride;
        const int16_t* y = s.y + 16 * r;
        const int16_t* a = s.a + 16 * r;
        const int16_t* cr = s.cr + (r >> s.chromaShiftY) * s.chromaStride;
        const int16_t* cb = s.cb + (r >> s.chromaShiftY) * s.chromaStride;
        const uint8_t* p = pred ? pred + 64 * r : nullptr;
        __m128i crL, crH, cbL, cbH;
        if (s.chromaShiftX) {
            __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr));
            crL = _mm_unpacklo_epi16(c, c);
            crH = _mm_unpackhi_epi16(c, c);
            c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb));
            cbL = _mm_unpacklo_epi16(c, c);
            cbH = _mm_unpackhi_epi16(c, c);
        } else {
            crL = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr));
            crH = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + 8));
            cbL = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb));
            cbH = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + 8));
        }
        storeEight(d, crL, cbL, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y)),
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(a)), p);
        storeEight(d + 32, crH, cbH, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 8)),
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8)), p ? p + 32 : nullptr);
    }
}

const MbcPredictionKernels kSse2 = {&predictSse2, &storeSse2};
#endif

const MbcPredictionKernels kScalar = {&predictScalar, &storeScalar};

}  // namespace

const MbcPredictionKernels& mbcPredictionKernels(MbcCpuLevel level) {
#if defined(__SSE2__)
    if (level == MbcCpuLevel::Sse2 && mbcCpuLevelSupported(level)) return kSse2;
#else
    (void)level;
#endif
    return kScalar;
}
