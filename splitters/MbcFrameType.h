#pragma once
// Frame types of MBC records (bits 12-15 of a record's frame word).
#include <cstdint>

enum class MbcFrameType : uint32_t {
    Intra = 1,
    Repeat = 2,
    Predicted = 4,
    Bidirectional = 8,
};

// The default quantiser matrices a fresh header carries (raster order).
extern const uint8_t kMbcDefaultIntraMatrix[64];
extern const uint8_t kMbcDefaultInterMatrix[64];
