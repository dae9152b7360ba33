#pragma once
// Conversion of decoded store rows (Cr, Cb, Y, A per pixel) to 32-bit B, G, R, A.
// Y/Cb/Cr: with Y' = 4096 Y + 2048, Cr' = Cr - 128, Cb' = Cb - 128:
//   R = (Y' + 5742 Cr') >> 12, G = (Y' - 2925 Cr' - 1410 Cb') >> 12, B = (Y' + 7258 Cb') >> 12,
// each clamped to 0-255. The RGB layout stores B, G, R in the Cr, Cb, Y places and is copied.
// Alpha is the stored byte ORed with alphaOr (0 or 255).
#include <cstdint>

#include "splitters/MbcCpu.h"

struct MbcColorKernels {
    void (*yccRow)(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t alphaOr);
    void (*rgbRow)(const uint8_t* src, uint8_t* dst, uint32_t count, uint8_t alphaOr);
};

const MbcColorKernels& mbcColorKernels(MbcCpuLevel level);

// 24-bit B, G, R rows (no alpha); scalar only, not on any hot path.
void mbcYccRowToBgr24(const uint8_t* src, uint8_t* dst, uint32_t count);
void mbcRgbRowToBgr24(const uint8_t* src, uint8_t* dst, uint32_t count);
