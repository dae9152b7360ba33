// Fuzz target for the GBCF pixel payload decoder: the input is a whole GBCF file; the
// size and depth come from its header as the image reader would pass them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MbcTestPictures.h"
#include "splitters/GbcfPayload.h"
#include "tools/mbcenc/GbcfWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 48) return 0;
    auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | data[at + i];
        return v;
    };
    const uint32_t w = le(8, 4), h = le(12, 4), bits = le(16, 2), format = le(18, 2);
    if (!w || !h || uint64_t(w) * h > 128 * 128) return 0;
    const size_t stride = (size_t(w) * (bits == 32 ? 4 : 3) + 3) & ~size_t(3);
    std::vector<uint8_t> file(data, data + size);  // exact size, so overreads are caught
    std::vector<uint8_t> picture(stride * h);
    // Bottom-up, as the image reader passes it: top row last, negative stride.
    decodeGbcfPayload(file.data(), file.size(), w, h, bits, format, picture.data() + stride * (h - 1),
                      -static_cast<ptrdiff_t>(stride));
    return 0;
}

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    for (int i = 0; i < 3; ++i) {
        MbcEncoderSettings s;
        s.width = 21 + 11 * i;
        s.height = 17;
        s.layout = i == 2 ? 16 : 3 - i;
        s.alpha = i == 1;
        s.transform = i == 2 ? 1 : 2;
        auto p = mbctest::naturalPicture(int(s.width), int(s.height), i, s.alpha, 2);
        std::vector<uint8_t> file;
        if (writeGbcfStill(s, p.data(), s.width * 4, file)) seeds->push_back(std::move(file));
    }
}
