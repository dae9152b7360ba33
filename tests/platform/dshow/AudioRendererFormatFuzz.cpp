// Arbitrary bytes as the format block of an audio media type.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/AudioRendererFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The block is copied so reads past its end are caught by the sanitizers.
    std::vector<uint8_t> block(data, data + size);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Audio;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.pbFormat = block.empty() ? nullptr : block.data();
    mt.cbFormat = static_cast<ULONG>(block.size());
    if (auto f = audioFormatFromMediaType(mt)) {
        if (!f->valid() || f->bytesPerFrame() == 0) __builtin_trap();
    }
    return 0;
}

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    // 16-bit stereo PCM at 44.1 kHz and an extensible float block.
    seeds->push_back({1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0});
    std::vector<uint8_t> ext = {0xFE, 0xFF, 6,    0, 0x80, 0xBB, 0,    0,    0, 0x65, 0x04, 0,   24, 0,
                                32,   0,    22,   0, 32,   0,    0x3F, 0,    0, 0,    3,    0,   0,  0,
                                0,    0,    0x10, 0, 0x80, 0,    0,    0xAA, 0, 0x38, 0x9B, 0x71};
    seeds->push_back(ext);
}
