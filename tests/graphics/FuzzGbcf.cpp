// Fuzz target: the GBCF probe and header, and the bitmap handed to the payload decoder
// (a checking decoder here writes every byte of every row it is given).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/GbcfDecoder.h"
#include "graphics/ImageCodec.h"
#include "tests/graphics/TestImages.h"

using namespace testimages;

namespace {

bool fillEveryRow(const uint8_t* file, size_t fileSize, uint32_t width, uint32_t height, uint32_t bitCount,
                  uint32_t formatWord, uint8_t* topRow, ptrdiff_t stride) {
    if (fileSize < 48 || std::memcmp(file, "GBCF", 4) != 0) __builtin_trap();
    volatile uint8_t last = file[fileSize - 1];
    (void)last;
    size_t rowBytes = (size_t(width) * bitCount + 7) / 8;
    for (uint32_t y = 0; y < height; ++y) std::memset(topRow + ptrdiff_t(y) * stride, int(y), rowBytes);
    return (formatWord & 1) != 0;
}

}  // namespace

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    seeds->push_back(writeGbcf(4, 3, 24, 0x0009));
    seeds->push_back(writeGbcf(17, 5, 32, 0x040E, Bytes(64, 0x5A)));
    seeds->push_back(writeGbcf(2, 2, 8, 0x0805));
    seeds->push_back(writeGbcf(3, 9, 16, 0x0006));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setGbcfPayloadDecoder(fillEveryRow);
    GbcfHeader header;
    if (GbcfDecoder::probe(data, size)) GbcfDecoder::readHeader(data, size, &header);
    ImageCodec codec;
    codec.openMemory(data, size);
    return 0;
}
