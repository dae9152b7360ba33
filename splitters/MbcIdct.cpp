#include "splitters/MbcIdct.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int32_t fix(double x) {
    return static_cast<int32_t>(x * 8192.0 + (x < 0 ? -0.5 : 0.5));
}

// LLM rotation constants, 13 fraction bits.
constexpr int32_t c0298 = fix(0.298631336), c0390 = fix(0.390180644), c0541 = fix(0.541196100),
                  c0765 = fix(0.765366865), c0899 = fix(0.899976223), c1175 = fix(1.175875602),
                  c1501 = fix(1.501321110), c1847 = fix(1.847759065), c1961 = fix(1.961570560),
                  c2053 = fix(2.053119869), c2562 = fix(2.562915447), c3072 = fix(3.072711026);

// The factorisation written as pairs of products so that each pair is one 16x16->32
// multiply-add: even part on (in0, in4) and (in2, in6), odd part on (in7, in3) and
// (in5, in1). The odd weights are the LLM rotations collapsed per input.
constexpr int32_t kE0 = 8192;                          // in0, in4
constexpr int32_t kE2a = c0541 + c0765, kE6a = c0541;  // tmp3
constexpr int32_t kE2b = c0541, kE6b = c0541 - c1847;  // tmp2
// Odd outputs tmp0..tmp3 as weights on t0 = in7, t1 = in5, t2 = in3, t3 = in1.
constexpr int32_t kO[4][4] = {
    {c0298 - c0899 - c1961 + c1175, c1175, c1175 - c1961, c1175 - c0899},
    {c1175, c2053 - c2562 - c0390 + c1175, c1175 - c2562, c1175 - c0390},
    {c1175 - c1961, c1175 - c2562, c3072 - c2562 - c1961 + c1175, c1175},
    {c1175 - c0899, c1175 - c0390, c1175, c1501 - c0899 - c0390 + c1175},
};

inline int16_t sat16(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// One 8-point pass on inputs x[0..7]; results as 32-bit sums with 13 fraction bits.
inline void pass(const int32_t x[8], int32_t o[8]) {
    int32_t tmp0 = x[0] * kE0 + x[4] * kE0;
    int32_t tmp1 = x[0] * kE0 - x[4] * kE0;
    int32_t tmp3 = x[2] * kE2a + x[6] * kE6a;
    int32_t tmp2 = x[2] * kE2b + x[6] * kE6b;
    int32_t e10 = tmp0 + tmp3, e13 = tmp0 - tmp3, e11 = tmp1 + tmp2, e12 = tmp1 - tmp2;
    int32_t od[4];
    for (int k = 0; k < 4; ++k) od[k] = (x[7] * kO[k][0] + x[3] * kO[k][2]) + (x[5] * kO[k][1] + x[1] * kO[k][3]);
    o[0] = e10 + od[3];
    o[7] = e10 - od[3];
    o[1] = e11 + od[2];
    o[6] = e11 - od[2];
    o[2] = e12 + od[1];
    o[5] = e12 - od[1];
    o[3] = e13 + od[0];
    o[4] = e13 - od[0];
}

// Final descale: 13 constant bits + 5 input fraction bits, trunc(v +- 0.25).
inline int32_t finalRound(int32_t v) {
    int32_t s = v >> 31;
    int32_t a = (v ^ s) - s;
    int32_t r = (a + (1 << 16)) >> 18;
    return (r ^ s) - s;
}

#if defined(__SSE2__)

inline __m128i pair(int32_t a, int32_t b) {
    return _mm_set_epi16(static_cast<int16_t>(b), static_cast<int16_t>(a), static_cast<int16_t>(b),
                         static_cast<int16_t>(a), static_cast<int16_t>(b), static_cast<int16_t>(a),
                         static_cast<int16_t>(b), static_cast<int16_t>(a));
}

inline void transpose8(__m128i r[8]) {
    __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Lane-wise 8-point pass over eight vectors (lane j = column j of the inputs);
// produces the 32-bit sums in lo (lanes 0-3) and hi (lanes 4-7) halves.
inline void passSse2(const __m128i x[8], __m128i lo[8], __m128i hi[8]) {
    const __m128i kEven0 = pair(kE0, kE0), kEven1 = pair(kE0, -kE0);
    const __m128i kEvenA = pair(kE2a, kE6a), kEvenB = pair(kE2b, kE6b);
    __m128i l04 = _mm_unpacklo_epi16(x[0], x[4]), h04 = _mm_unpackhi_epi16(x[0], x[4]);
    __m128i l26 = _mm_unpacklo_epi16(x[2], x[6]), h26 = _mm_unpackhi_epi16(x[2], x[6]);
    __m128i l73 = _mm_unpacklo_epi16(x[7], x[3]), h73 = _mm_unpackhi_epi16(x[7], x[3]);
    __m128i l51 = _mm_unpacklo_epi16(x[5], x[1]), h51 = _mm_unpackhi_epi16(x[5], x[1]);
    __m128i t0l = _mm_madd_epi16(l04, kEven0), t0h = _mm_madd_epi16(h04, kEven0);
    __m128i t1l = _mm_madd_epi16(l04, kEven1), t1h = _mm_madd_epi16(h04, kEven1);
    __m128i t3l = _mm_madd_epi16(l26, kEvenA), t3h = _mm_madd_epi16(h26, kEvenA);
    __m128i t2l = _mm_madd_epi16(l26, kEvenB), t2h = _mm_madd_epi16(h26, kEvenB);
    __m128i e10l = _mm_add_epi32(t0l, t3l), e10h = _mm_add_epi32(t0h, t3h);
    __m128i e13l = _mm_sub_epi32(t0l, t3l), e13h = _mm_sub_epi32(t0h, t3h);
    __m128i e11l = _mm_add_epi32(t1l, t2l), e11h = _mm_add_epi32(t1h, t2h);
    __m128i e12l = _mm_sub_epi32(t1l, t2l), e12h = _mm_sub_epi32(t1h, t2h);
    __m128i odl[4], odh[4];
    for (int k = 0; k < 4; ++k) {
        __m128i ka = pair(kO[k][0], kO[k][2]), kb = pair(kO[k][1], kO[k][3]);
        odl[k] = _mm_add_epi32(_mm_madd_epi16(l73, ka), _mm_madd_epi16(l51, kb));
        odh[k] = _mm_add_epi32(_mm_madd_epi16(h73, ka), _mm_madd_epi16(h51, kb));
    }
    lo[0] = _mm_add_epi32(e10l, odl[3]);
    hi[0] = _mm_add_epi32(e10h, odh[3]);
    lo[7] = _mm_sub_epi32(e10l, odl[3]);
    hi[7] = _mm_sub_epi32(e10h, odh[3]);
    lo[1] = _mm_add_epi32(e11l, odl[2]);
    hi[1] = _mm_add_epi32(e11h, odh[2]);
    lo[6] = _mm_sub_epi32(e11l, odl[2]);
    hi[6] = _mm_sub_epi32(e11h, odh[2]);
    lo[2] = _mm_add_epi32(e12l, odl[1]);
    hi[2] = _mm_add_epi32(e12h, odh[1]);
    lo[5] = _mm_sub_epi32(e12l, odl[1]);
    hi[5] = _mm_sub_epi32(e12h, odh[1]);
    lo[3] = _mm_add_epi32(e13l, odl[0]);
    hi[3] = _mm_add_epi32(e13h, odh[0]);
    lo[4] = _mm_sub_epi32(e13l, odl[0]);
    hi[4] = _mm_sub_epi32(e13h, odh[0]);
}

inline __m128i finalRoundSse2(__m128i v) {
    __m128i s = _mm_srai_epi32(v, 31);
    __m128i a = _mm_sub_epi32(_mm_xor_si128(v, s), s);
    __m128i r = _mm_srai_epi32(_mm_add_epi32(a, _mm_set1_epi32(1 << 16)), 18);
    return _mm_sub_epi32(_mm_xor_si128(r, s), s);
}

void idctFixedSse2(const int16_t* in, int16_t* out, ptrdiff_t outStride) {
    __m128i x[8], lo[8], hi[8];
    for (int k = 0; k < 8; ++k) x[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(in + 8 * k));
    // Columns: row vectors hold one element of every column.
    passSse2(x, lo, hi);
    const __m128i bias = _mm_set1_epi32(1 << 12);
    for (int k = 0; k < 8; ++k)
        x[k] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo[k], bias), 13),
                               _mm_srai_epi32(_mm_add_epi32(hi[k], bias), 13));
    // Rows: transpose so that vector k holds element k of every row.
    transpose8(x);
    passSse2(x, lo, hi);
    for (int k = 0; k < 8; ++k) x[k] = _mm_packs_epi32(finalRoundSse2(lo[k]), finalRoundSse2(hi[k]));
    transpose8(x);
    for (int r = 0; r < 8; ++r) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * outStride), x[r]);
}

#endif

const MbcIdctKernels kScalar = {&mbcIdctFixedScalar};
#if defined(__SSE2__)
const MbcIdctKernels kSse2 = {&idctFixedSse2};
#endif

// Reference pass in single precision, the LLM factorisation as written.
inline void passFloat(const float x[8], float o[8]) {
    float z2 = x[2], z3 = x[6];
    float z1 = (z2 + z3) * 0.541196100f;
    float tmp2 = z1 + z3 * -1.847759065f;
    float tmp3 = z1 + z2 * 0.765366865f;
    float tmp0 = x[0] + x[4];
    float tmp1 = x[0] - x[4];
    float tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    float t0 = x[7], t1 = x[5], t2 = x[3], t3 = x[1];
    float y1 = t0 + t3, y2 = t1 + t2, y3 = t0 + t2, y4 = t1 + t3;
    float z5 = (y3 + y4) * 1.175875602f;
    t0 *= 0.298631336f;
    t1 *= 2.053119869f;
    t2 *= 3.072711026f;
    t3 *= 1.501321110f;
    y1 *= -0.899976223f;
    y2 *= -2.562915447f;
    y3 = y3 * -1.961570560f + z5;
    y4 = y4 * -0.390180644f + z5;
    t0 += y1 + y3;
    t1 += y2 + y4;
    t2 += y2 + y3;
    t3 += y1 + y4;
    o[0] = tmp10 + t3;
    o[7] = tmp10 - t3;
    o[1] = tmp11 + t2;
    o[6] = tmp11 - t2;
    o[2] = tmp12 + t1;
    o[5] = tmp12 - t1;
    o[3] = tmp13 + t0;
    o[4] = tmp13 - t0;
}

}  // namespace

void mbcIdctFixedScalar(const int16_t* in, int16_t* out, ptrdiff_t outStride) {
    int16_t mid[64];
    int32_t x[8], o[8];
    for (int c = 0; c < 8; ++c) {
        for (int k = 0; k < 8; ++k) x[k] = in[8 * k + c];
        pass(x, o);
        for (int r = 0; r < 8; ++r) mid[8 * r + c] = sat16((o[r] + (1 << 12)) >> 13);
    }
    for (int r = 0; r < 8; ++r) {
        for (int k = 0; k < 8; ++k) x[k] = mid[8 * r + k];
        pass(x, o);
        for (int c = 0; c < 8; ++c) out[r * outStride + c] = sat16(finalRound(o[c]));
    }
}

const MbcIdctKernels& mbcIdctKernels(MbcCpuLevel level) {
#if defined(__SSE2__)
    if (level == MbcCpuLevel::Sse2 && mbcCpuLevelSupported(level)) return kSse2;
#else
    (void)level;
#endif
    return kScalar;
}

void mbcIdctReference(const int32_t* in, int q, int16_t* out, ptrdiff_t outStride) {
    float mid[64];
    float x[8], o[8];
    for (int c = 0; c < 8; ++c) {
        for (int k = 0; k < 8; ++k) x[k] = static_cast<float>(in[8 * k + c]);
        passFloat(x, o);
        for (int r = 0; r < 8; ++r) mid[8 * r + c] = o[r];
    }
    const float scale = static_cast<float>(q) / 128.0f;
    for (int r = 0; r < 8; ++r) {
        for (int k = 0; k < 8; ++k) x[k] = mid[8 * r + k];
        passFloat(x, o);
        for (int c = 0; c < 8; ++c) {
            float v = o[c] * scale;
            v = v >= 0 ? std::trunc(v + 0.25f) : std::trunc(v - 0.25f);
            // Saturate before converting: damaged input can exceed any sample range.
            if (!(v < 32767.0f)) v = v != v ? 0.0f : 32767.0f;
            if (v < -32768.0f) v = -32768.0f;
            out[r * outStride + c] = static_cast<int16_t>(v);
        }
    }
}

void mbcDifferenceTransform(const int16_t* in, int16_t* out, ptrdiff_t outStride) {
    int32_t t[64];
    for (int r = 0; r < 8; ++r) {
        int32_t s = 0;
        for (int c = 0; c < 8; ++c) t[8 * r + c] = s += in[8 * r + c];
    }
    for (int c = 0; c < 8; ++c) {
        int32_t s = 0;
        for (int r = 0; r < 8; ++r) {
            s += t[8 * r + c];
            out[r * outStride + c] = sat16(s);
        }
    }
}
