#pragma once
// The MBC in-loop deblocking filter. Across each 8-pixel block edge the pixels p7 and p8
// next to it become avg(p7, avg(p6, p8)) and avg(p8, avg(p7, p9)), both from the
// unfiltered values, per byte with (a + b + 1) >> 1. All vertical edges are filtered
// over the whole picture first, then all horizontal edges.
#include <cstddef>
#include <cstdint>

#include "splitters/MbcCpu.h"

struct MbcDeblockKernels {
    // Edges at x = 8, 16, ... < width, for every row. Pixels are 4 bytes; width is a
    // multiple of 8.
    void (*verticalEdges)(uint8_t* pic, ptrdiff_t stride, uint32_t width, uint32_t height);
    // Edges at y = 8, 16, ... < height, across the full width.
    void (*horizontalEdges)(uint8_t* pic, ptrdiff_t stride, uint32_t width, uint32_t height);
};

const MbcDeblockKernels& mbcDeblockKernels(MbcCpuLevel level);
