#pragma once
// Motion-compensated prediction and macroblock reconstruction kernels of the MBC video
// coder. Pixels are 4 bytes (Cr, Cb, Y, A); a macroblock is 16 x 16 pixels.
#include <cstddef>
#include <cstdint>

#include "splitters/MbcCpu.h"

// Decoded samples of one macroblock, one int16 plane per channel. Y and A are 16 x 16
// (16 samples per row); chroma rows are chromaStride samples apart and each chroma sample
// covers (1 << chromaShiftX) x (1 << chromaShiftY) pixels.
struct MbcMacroblockSamples {
    const int16_t* cr;
    const int16_t* cb;
    const int16_t* y;
    const int16_t* a;
    int chromaStride;
    int chromaShiftX;
    int chromaShiftY;
};

struct MbcPredictionKernels {
    // 16 x 16 pixels of prediction into pred (64 bytes per row) from ref, the reference
    // pixel at the integer part of the position. halfX / halfY (0 or 1) select averaging
    // with the next column / row, (a + b + 1) >> 1 per byte; both: the average of the two
    // rows' horizontal averages. Reads 17 columns / rows only when the flag is set.
    void (*predict)(uint8_t* pred, const uint8_t* ref, ptrdiff_t refStride, int halfX, int halfY);
    // Writes a macroblock to dst: each sample, plus the prediction byte when pred is not
    // null, clamped to 0-255.
    void (*store)(uint8_t* dst, ptrdiff_t dstStride, const MbcMacroblockSamples& s, const uint8_t* pred);
};

const MbcPredictionKernels& mbcPredictionKernels(MbcCpuLevel level);
