#pragma once
// Block reconstruction transforms of the MBC video coder.
//
// Transform 2 is an 8x8 inverse DCT in the Loeffler-Ligtenberg-Moschytz factorisation,
// scaled so that a lone DC value D gives D at every position. Its input is the
// coefficient times its matrix entry; every result is then scaled by q/128 and rounded
// with trunc(v + 0.25) / trunc(v - 0.25). Two forms exist:
//  - the reference: single precision, columns first, q applied after the transform;
//  - the default fixed-point form: the dequantised input is pre-scaled by q/128 into
//    int16 with 5 fraction bits (mbcIdctFixedInput), 13-bit constants, 32-bit sums,
//    int16 between the passes (columns first), and the same final rounding.
//    The scalar and SSE2 versions give identical results.
// Transform 1 is an exact 2-D running sum (rows, then columns).
#include <cstddef>
#include <cstdint>

#include "splitters/MbcCpu.h"

struct MbcIdctKernels {
    // in: 64 pre-scaled coefficients, raster order, 16-byte aligned. out: 8 rows of 8
    // samples, outStride samples apart (out may be unaligned).
    void (*idctFixed)(const int16_t* in, int16_t* out, ptrdiff_t outStride);
};

// The table for a level (the scalar one when the level cannot run here).
const MbcIdctKernels& mbcIdctKernels(MbcCpuLevel level);

// Fixed-point input of one coefficient c with matrix entry m and quantiser q: c * m * q / 128
// with 5 fraction bits. Values beyond about +-1023 (far outside any picture) saturate.
inline int16_t mbcIdctFixedInput(int32_t c, int32_t m, int32_t q) {
    int32_t v = (c * m * q + 2) >> 2;
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

// What idctFixed gives at every position for a block whose only non-zero input is in0.
inline int16_t mbcIdctFixedDcOnly(int16_t in0) {
    int32_t a = in0 < 0 ? -in0 : in0;
    int32_t r = (a + 8) >> 5;
    return static_cast<int16_t>(in0 < 0 ? -r : r);
}

// The single-precision reference. in: coefficient x matrix entry, raster order.
void mbcIdctReference(const int32_t* in, int q, int16_t* out, ptrdiff_t outStride);

// Transform 1: running sums along rows, then down columns; results saturate to int16.
void mbcDifferenceTransform(const int16_t* in, int16_t* out, ptrdiff_t outStride);

// The scalar fixed-point transform (also reachable through the table).
void mbcIdctFixedScalar(const int16_t* in, int16_t* out, ptrdiff_t outStride);
