// Fuzz target for the WBCF audio sub-stream: the input is the stream itself. Opening,
// reading and seeking must fail cleanly or work within bounded memory and time.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MbcMemoryStream.h"
#include "splitters/WbcfDecoder.h"
#include "tools/mbcenc/WbcfEncoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mbctest::MemoryStream stream(std::vector<uint8_t>(data, data + size));
    const StreamCallbacks& cb = mbctest::MemoryStream::callbacks();
    HANDLE h = cb.open(stream.name(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    WbcfDecoder decoder;
    if (decoder.open(cb, h) != WbcfDecoder::Status::Ready) return 0;
    std::vector<int16_t> pcm(size_t(500) * decoder.channels());
    // Bounded: a few reads, whatever the header claims.
    for (int i = 0; i < 8 && decoder.read(pcm.data(), 500) == 500; ++i) {
    }
    decoder.seekToSample(size % 3000);
    decoder.read(pcm.data(), 500);
    decoder.seekToSample(UINT64_MAX / 4);
    decoder.read(pcm.data(), 500);
    return 0;
}

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    for (uint16_t mode : {0, 1}) {
        std::vector<int16_t> pcm(700 * 2);
        for (size_t k = 0; k < pcm.size(); ++k) pcm[k] = static_cast<int16_t>((k * 91) % 6000 - 3000);
        std::vector<uint8_t> bytes;
        if (encodeWbcf(pcm.data(), 700, 2, 8000, {mode, 128}, bytes)) seeds->push_back(std::move(bytes));
    }
}
