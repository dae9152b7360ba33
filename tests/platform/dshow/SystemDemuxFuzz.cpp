// Hostile bytes through the system demultiplexer over a pull reader: opening with any
// format hint, reading every packet, seeking and reading again, reading the media types
// back for the decoders, and decoding a few pictures into buffers of the declared size.
// Whatever the input, each step must end cleanly, reading nothing outside the data and
// writing nothing outside the picture.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SystemTestSupport.h"
#include "platform/dshow/system/CodecMediaType.h"
#include "platform/dshow/system/MediaDemuxer.h"
#include "platform/dshow/system/PictureWriter.h"

namespace {

const char* const kHints[] = {nullptr, "mpeg", "mp4", "avi", "matroska", "flv", "mp3", "mpegvideo", "wav"};

void decodeSome(const DemuxedStream& s, const std::vector<av::Packet>& packets) {
    DecoderInput in;
    if (!decoderInputFromMediaType(s.description.type, &in) || !s.video) return;
    const AVCodec* codec = avcodec_find_decoder(in.parameters->codec_id);
    av::CodecContext ctx(avcodec_alloc_context3(codec));
    av::Frame frame(av_frame_alloc());
    if (!ctx || !frame || avcodec_parameters_to_context(ctx.get(), in.parameters.get()) < 0) return;
    ctx->thread_count = 1;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return;
    PictureWriter rgb, planar;
    rgb.configure(PictureFormat::Rgb32, in.parameters->width, in.parameters->height, true);
    planar.configure(PictureFormat::Yv12, in.parameters->width & ~1, in.parameters->height, false);
    std::vector<BYTE> rgbBuffer(static_cast<size_t>(rgb.layout().imageSize));
    std::vector<BYTE> planarBuffer(static_cast<size_t>(planar.layout().imageSize));
    for (const av::Packet& p : packets) {
        if (avcodec_send_packet(ctx.get(), p.get()) < 0) continue;
        while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
            rgb.write(*frame, rgbBuffer.data(), static_cast<LONG>(rgbBuffer.size()));
            planar.write(*frame, planarBuffer.data(), static_cast<LONG>(planarBuffer.size()));
            av_frame_unref(frame.get());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    InterfacePtr<IAsyncReader> reader = systemtest::readerOver(std::vector<uint8_t>(data + 1, data + size));
    MediaDemuxer demuxer;
    if (FAILED(demuxer.open(reader.get(), hint))) return 0;

    std::vector<std::vector<av::Packet>> kept(demuxer.streams().size());
    auto readSome = [&](int limit) {
        for (int i = 0; i < limit; ++i) {
            DemuxedPacket p;
            if (demuxer.read(&p) != S_OK) break;
            std::vector<av::Packet>& k = kept[static_cast<size_t>(p.stream)];
            if (k.size() < 12) k.push_back(std::move(p.packet));
        }
    };
    readSome(400);
    demuxer.seek(demuxer.duration() / 2);
    readSome(100);
    demuxer.seek(0);
    readSome(20);
    for (size_t k = 0; k < kept.size(); ++k) decodeSome(demuxer.streams()[k], kept[k]);
    return 0;
}

// Small real files as seeds, when the ffmpeg command is there to make them.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    if (!systemtest::haveFfmpeg()) return;
    testsupport::TempDir dir;
    const std::string video = "-f lavfi -i testsrc=s=32x24:r=25:d=0.4 ";
    const std::string audio = "-f lavfi -i sine=frequency=500:sample_rate=8000:duration=0.5 ";
    struct Seed {
        uint8_t hint;
        const char* name;
        std::string args;
    };
    const Seed made[] = {
        {1, "a.mpg", video + audio + "-c:v mpeg1video -c:a mp2 -ar 44100 -f mpeg"},
        {2, "a.mp4", video + audio + "-c:v mpeg4 -c:a aac"},
        {3, "a.avi", video + audio + "-c:v mpeg4 -c:a pcm_s16le"},
        {8, "a.wav", audio + "-c:a pcm_s16le"},
    };
    for (const Seed& s : made) {
        std::filesystem::path out = dir / s.name;
        std::string cmd = "ffmpeg -y -loglevel error " + s.args + " \"" + out.string() + "\" >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) continue;
        std::vector<uint8_t> bytes = testsupport::readFile(out);
        bytes.insert(bytes.begin(), s.hint);
        seeds->push_back(std::move(bytes));
    }
}
