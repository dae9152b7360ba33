#pragma once
// Decodes the pixel payload of a GBCF still (the layout is described with
// MbcVideoDecoder) for graphics' GBCF reader, which cannot see this folder: install
// decodeGbcfPayload with setGbcfPayloadDecoder at start-up.
#include <cstddef>
#include <cstdint>

// Matches GbcfPayloadDecoder: the whole file, the header's size and depth, and the
// destination picture (row y at topRow + y * stride). 32-bit pictures get B, G, R and the
// decoded alpha, 24-bit ones B, G, R. False for other depths, codec flags the decoder
// refuses, a transform that disagrees with the format word, a payload that runs past the
// file, or a payload the decoder rejects.
bool decodeGbcfPayload(const uint8_t* file, size_t fileSize, uint32_t width, uint32_t height, uint32_t bitCount,
                       uint32_t formatWord, uint8_t* topRow, ptrdiff_t stride);
