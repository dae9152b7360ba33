#pragma once
// Writes GBCF still pictures: a 48-byte header and one Intra payload of the MBC block
// coder (layout described with MbcVideoDecoder).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/mbcenc/MbcVideoEncoder.h"

constexpr size_t kGbcfHeaderSize = 48;

// Codes a top-down BGRA picture with the given settings (their matrices are ignored:
// stills use the default intra matrix). False when the settings are invalid.
bool writeGbcfStill(const MbcEncoderSettings& settings, const uint8_t* bgra, ptrdiff_t stride,
                    std::vector<uint8_t>& file);
