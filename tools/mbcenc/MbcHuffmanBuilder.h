#pragma once
// Code lengths for the MBC per-frame Huffman table from symbol counts, limited to 15 bits.
#include <cstdint>

// counts: 192 symbol counts. lengths receives 0 for unused symbols, 1-15 otherwise.
// False when no symbol is used.
bool mbcBuildCodeLengths(const uint32_t counts[192], uint8_t lengths[192]);
