#pragma once
// Sum of absolute differences of two 16 x 16 byte blocks, for the encoder's motion
// search; a scalar routine and an SSE2 twin with identical results.
#include <cstddef>
#include <cstdint>

#include "splitters/MbcCpu.h"

using MbcSad16Fn = uint32_t (*)(const uint8_t* a, ptrdiff_t aStride, const uint8_t* b, ptrdiff_t bStride);

MbcSad16Fn mbcSad16(MbcCpuLevel level);
