// Fuzz target for MbcReader: the input is a whole .mbc file read from memory. Opening,
// starting, playing, seeking and reading audio must fail cleanly or work, never crash,
// touch memory outside buffers or hang.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MbcMemoryStream.h"
#include "MbcTestPictures.h"
#include "splitters/MbcReader.h"
#include "tools/mbcenc/MbcFileWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mbctest::MemoryStream stream(std::vector<uint8_t>(data, data + size));
    MbcReader reader;
    reader.setCallbacks(&mbctest::MemoryStream::callbacks());
    if (!reader.open(stream.name())) return 0;
    const MbcReader::VideoInfo v = reader.videoInfo();
    // Pictures beyond a modest size only cost time here.
    if (uint64_t(v.width) * v.height > 256 * 256) return 0;
    if (!reader.start(reader.preferredOutputMode())) return 0;
    std::vector<uint8_t> picture(size_t(v.width) * v.height * 4 + 4);
    const uint64_t frames = std::min<uint64_t>(reader.frameCount(), 40);
    for (uint64_t n = 0; n < frames; ++n) {
        if (reader.waitForFrame(INFINITE)) reader.copyVideoFrame(picture.data(), ptrdiff_t(v.width) * 4);
        reader.isSyncFrame();
        const uint8_t* pcm = nullptr;
        uint32_t bytes = 0;
        if (reader.readAudio(&pcm, &bytes)) reader.releaseAudio(pcm);
        reader.advance(1);
    }
    reader.seekToFrame(frames / 2);
    if (reader.waitForFrame(INFINITE)) reader.copyVideoFrame(picture.data(), ptrdiff_t(v.width) * 4, 7, 5);
    reader.seekToFrame(reader.frameCount());
    return 0;
}

// Seeds: small real movies with every frame type and both audio modes.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    const char* patterns[] = {"IBBPR", "IPRP"};
    for (int i = 0; i < 2; ++i) {
        MbcFileOptions o;
        o.video.width = 24 + 8 * i;
        o.video.height = 16;
        o.video.layout = i ? 16 : 3;
        o.video.alpha = i == 1;
        o.video.transform = 1 + i;
        o.pattern = patterns[i];
        o.chunkLength = 5;
        MbcFileWriter writer;
        if (!writer.begin(o)) continue;
        for (int t = 0; t < 9; ++t) {
            auto p = mbctest::naturalPicture(int(o.video.width), 16, t, o.video.alpha, 3);
            writer.addFrame(p.data(), o.video.width * 4);
        }
        std::vector<int16_t> pcm(800 * 2);
        for (size_t k = 0; k < pcm.size(); ++k) pcm[k] = static_cast<int16_t>((k * 37) % 2000 - 1000);
        writer.setAudio(pcm.data(), 800, 2, 2000, {static_cast<uint16_t>(i), 64});
        std::vector<uint8_t> file;
        if (writer.finish(file)) seeds->push_back(std::move(file));
    }
}
