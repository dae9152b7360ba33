// The demultiplexer over libavformat on real files read through a pull interface: the
// streams it finds and the media types it gives them, packet times from the file start,
// seeking, and clean failures on data that is no container or is cut short; and the
// media types read back into codec parameters, including malformed ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "SystemTestSupport.h"
#include "platform/dshow/system/CodecMediaType.h"
#include "platform/dshow/system/MediaDemuxer.h"
#include "platform/dshow/system/MpegFormats.h"

using namespace systemtest;

namespace {

struct Opened {
    InterfacePtr<IAsyncReader> reader;
    MediaDemuxer demuxer;
    HRESULT hr = E_FAIL;
};

void openBytes(Opened& o, std::vector<uint8_t> bytes, const char* hint = nullptr) {
    o.reader = readerOver(std::move(bytes));
    o.hr = o.demuxer.open(o.reader.get(), hint);
}

const DemuxedStream* streamOf(const MediaDemuxer& d, bool video) {
    for (const DemuxedStream& s : d.streams())
        if (s.video == video) return &s;
    return nullptr;
}

// Reads every packet; returns how many there were per stream position.
std::vector<std::vector<DemuxedPacket>> readAll(MediaDemuxer& d) {
    std::vector<std::vector<DemuxedPacket>> out(d.streams().size());
    for (int guard = 0; guard < 100000; ++guard) {
        DemuxedPacket p;
        if (d.read(&p) != S_OK) break;
        out[static_cast<size_t>(p.stream)].push_back(std::move(p));
    }
    return out;
}

}  // namespace

TEST(SystemDemux, MpegSystemStreamGivesMpegPayloadTypes) {
    REQUIRE_MEDIA(path, "mpg");
    Opened o;
    openBytes(o, testsupport::readFile(path), "mpeg");
    ASSERT_EQ(o.hr, S_OK);
    ASSERT_EQ(o.demuxer.streams().size(), 2u);
    // The preferred video comes first.
    EXPECT_TRUE(o.demuxer.streams()[0].video);
    EXPECT_NEAR(static_cast<double>(o.demuxer.duration()), 2.0 * UNITS, 0.1 * UNITS);

    const CMediaType& v = streamOf(o.demuxer, true)->description.type;
    EXPECT_EQ(v.majortype, MEDIATYPE_Video);
    EXPECT_EQ(v.subtype, MEDIASUBTYPE_MPEG1Payload);
    EXPECT_EQ(v.formattype, FORMAT_MPEGVideo);
    ASSERT_GE(v.cbFormat, kMpeg1VideoInfoFixed);
    auto* info = reinterpret_cast<const MPEG1VIDEOINFO*>(v.pbFormat);
    EXPECT_EQ(info->hdr.bmiHeader.biWidth, kWidth);
    EXPECT_EQ(info->hdr.bmiHeader.biHeight, kHeight);
    EXPECT_EQ(info->hdr.AvgTimePerFrame, kFrameTime);
    EXPECT_EQ(v.cbFormat, kMpeg1VideoInfoFixed + info->cbSequenceHeader);

    const StreamMediaType& a = streamOf(o.demuxer, false)->description;
    EXPECT_FALSE(a.pcm);
    EXPECT_EQ(a.type.subtype, MEDIASUBTYPE_MPEG1Payload);
    ASSERT_EQ(a.type.cbFormat, sizeof(MPEG1WAVEFORMAT));
    auto* wave = reinterpret_cast<const MPEG1WAVEFORMAT*>(a.type.pbFormat);
    EXPECT_EQ(wave->wfx.wFormatTag, WAVE_FORMAT_MPEG);
    EXPECT_EQ(wave->fwHeadLayer, ACM_MPEG_LAYER2);
    EXPECT_EQ(wave->wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave->wfx.cbSize, sizeof(MPEG1WAVEFORMAT) - sizeof(WAVEFORMATEX));
}

TEST(SystemDemux, PacketTimesStartAtTheFileStartAndSeekLandsOnAKeyFrameBefore) {
    REQUIRE_MEDIA(path, "mpg");
    Opened o;
    openBytes(o, testsupport::readFile(path));
    ASSERT_EQ(o.hr, S_OK);
    auto packets = readAll(o.demuxer);
    size_t video = o.demuxer.streams()[0].video ? 0 : 1;
    ASSERT_EQ(packets[video].size(), static_cast<size_t>(kFrames));
    // Not every picture of a system stream carries a time; those that do sit on the
    // frame grid from the first, which is the video's own start in the file (the sound
    // may begin a little earlier, and times count from the earliest).
    ASSERT_TRUE(packets[video][0].timed);
    const REFERENCE_TIME first = packets[video][0].start;
    EXPECT_GE(first, 0);
    EXPECT_LT(first, kFrameTime);
    int timed = 0;
    for (const DemuxedPacket& p : packets[video]) {
        if (!p.timed) continue;
        ++timed;
        EXPECT_EQ((p.start - first) % kFrameTime, 0);
        EXPECT_LT(p.start, first + kFrames * kFrameTime);
    }
    EXPECT_GE(timed, 2);
    // Audio comes in file order with rising times.
    for (size_t i = 1; i < packets[1 - video].size(); ++i)
        EXPECT_GT(packets[1 - video][i].start, packets[1 - video][i - 1].start);

    ASSERT_EQ(o.demuxer.seek(UNITS), S_OK);
    DemuxedPacket p;
    do {
        ASSERT_EQ(o.demuxer.read(&p), S_OK);
    } while (p.stream != static_cast<int>(video));
    // Without an index the demuxer steps back until the first picture is a key one.
    EXPECT_TRUE(p.keyFrame);
    ASSERT_TRUE(p.timed);
    EXPECT_LE(p.start, UNITS);

    // Back to the start, and the first picture again.
    ASSERT_EQ(o.demuxer.seek(0), S_OK);
    do {
        ASSERT_EQ(o.demuxer.read(&p), S_OK);
    } while (p.stream != static_cast<int>(video));
    EXPECT_EQ(p.start, first);
}

TEST(SystemDemux, Mp4CarriesCodecDataThatReadsBackForTheDecoders) {
    REQUIRE_MEDIA(path, "mp4");
    Opened o;
    openBytes(o, testsupport::readFile(path), "mp4");
    ASSERT_EQ(o.hr, S_OK);
    const DemuxedStream* v = streamOf(o.demuxer, true);
    const DemuxedStream* a = streamOf(o.demuxer, false);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->description.type.subtype, MEDIASUBTYPE_H264);
    EXPECT_EQ(v->description.type.formattype, FORMAT_VideoInfo);
    // The avcC record follows the video header.
    ASSERT_GT(v->description.type.cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(v->description.type.pbFormat[sizeof(VIDEOINFOHEADER)], 1);
    EXPECT_EQ(a->description.type.subtype, guidFromFourcc(0x00FF));

    DecoderInput video, audio;
    ASSERT_TRUE(decoderInputFromMediaType(v->description.type, &video));
    EXPECT_EQ(video.parameters->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(video.parameters->width, kWidth);
    EXPECT_EQ(video.parameters->height, kHeight);
    EXPECT_EQ(static_cast<ULONG>(video.parameters->extradata_size),
              v->description.type.cbFormat - sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(video.frameTime, kFrameTime);
    ASSERT_TRUE(decoderInputFromMediaType(a->description.type, &audio));
    EXPECT_EQ(audio.parameters->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(audio.parameters->sample_rate, 44100);
    EXPECT_GT(audio.parameters->extradata_size, 0);
}

TEST(SystemDemux, WavePcmPassesAsPlainPcmInPiecesThatFitTheBuffers) {
    REQUIRE_MEDIA(path, "wav");
    Opened o;
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    size_t fileSize = bytes.size();
    openBytes(o, std::move(bytes), "wav");
    ASSERT_EQ(o.hr, S_OK);
    ASSERT_EQ(o.demuxer.streams().size(), 1u);
    const DemuxedStream& s = o.demuxer.streams()[0];
    EXPECT_TRUE(s.description.pcm);
    EXPECT_EQ(s.description.blockAlign, 2);
    EXPECT_EQ(s.description.type.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(s.description.type.lSampleSize, 2u);
    EXPECT_EQ(s.bufferSize % 2, 0);
    size_t total = 0;
    auto packets = readAll(o.demuxer);
    for (const DemuxedPacket& p : packets[0]) total += static_cast<size_t>(p.packet->size);
    EXPECT_EQ(total, 48000u * 2u);
    EXPECT_LT(total, fileSize);
}

TEST(SystemDemux, DataThatIsNoContainerFailsCleanly) {
    Opened empty;
    openBytes(empty, {});
    EXPECT_EQ(empty.hr, VFW_E_UNKNOWN_FILE_TYPE);

    std::vector<uint8_t> noise(64 * 1024);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    Opened garbage;
    openBytes(garbage, noise, "mp4");
    EXPECT_TRUE(FAILED(garbage.hr));
    EXPECT_FALSE(garbage.demuxer.isOpen());
    DemuxedPacket p;
    EXPECT_EQ(garbage.demuxer.read(&p), E_UNEXPECTED);
    EXPECT_EQ(garbage.demuxer.seek(0), E_UNEXPECTED);
}

TEST(SystemDemux, CutShortFilesOpenOrFailAndReadingEnds) {
    for (const char* kind : {"mpg", "mp4", "avi"}) {
        const std::filesystem::path path = media(kind);
        if (path.empty()) GTEST_SKIP() << "the ffmpeg command is missing";
        std::vector<uint8_t> bytes = testsupport::readFile(path);
        for (size_t keep : {size_t{16}, bytes.size() / 3, bytes.size() - 100}) {
            SCOPED_TRACE(std::string(kind) + " keeping " + std::to_string(keep));
            Opened o;
            auto* reader = new MemoryReader(std::vector<uint8_t>(bytes.begin(), bytes.begin() + keep));
            o.reader = reader;
            o.hr = o.demuxer.open(o.reader.get(), nullptr);
            if (FAILED(o.hr)) continue;
            // The memory reader refuses reads past its end: none may be asked for.
            auto packets = readAll(o.demuxer);
            EXPECT_NE(o.demuxer.seek(UNITS / 2), E_UNEXPECTED);
            readAll(o.demuxer);
            EXPECT_GT(reader->syncReads(), 0);
        }
    }
}

TEST(SystemDemux, AbortEndsReadingAtOnce) {
    REQUIRE_MEDIA(path, "mpg");
    Opened o;
    openBytes(o, testsupport::readFile(path));
    ASSERT_EQ(o.hr, S_OK);
    o.demuxer.setAborted(true);
    DemuxedPacket p;
    HRESULT hr = S_OK;
    // Packets already buffered may still come; then the abort shows.
    for (int i = 0; i < 1000 && hr == S_OK; ++i) hr = o.demuxer.read(&p);
    EXPECT_EQ(hr, E_ABORT);
    o.demuxer.setAborted(false);
    EXPECT_EQ(o.demuxer.seek(0), S_OK);
    EXPECT_EQ(o.demuxer.read(&p), S_OK);
}

// ---- Media types read back ----

namespace {

CMediaType videoInfoType(const GUID& subtype, LONG width, LONG height, ULONG extra = 0) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* v = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER) + extra));
    v->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    v->bmiHeader.biWidth = width;
    v->bmiHeader.biHeight = height;
    return mt;
}

CMediaType waveType(const GUID& subtype, WORD tag, WORD channels, DWORD rate, WORD bits, WORD blockAlign) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    *w = WAVEFORMATEX{tag, channels, rate, rate * blockAlign, blockAlign, bits, 0};
    return mt;
}

}  // namespace

TEST(SystemCodecTypes, ValidTypesReadBack) {
    DecoderInput in;
    CMediaType h264 = videoInfoType(MEDIASUBTYPE_H264, 640, -480);
    ASSERT_TRUE(decoderInputFromMediaType(h264, &in));
    EXPECT_EQ(in.parameters->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(in.parameters->height, 480);  // a top-down header still means 480 rows

    ASSERT_TRUE(decoderInputFromMediaType(waveType(MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 2, 48000, 24, 6), &in));
    EXPECT_EQ(in.parameters->codec_id, AV_CODEC_ID_PCM_S24LE);
    ASSERT_TRUE(decoderInputFromMediaType(waveType(MEDIASUBTYPE_MP3, WAVE_FORMAT_MPEGLAYER3, 2, 44100, 0, 1), &in));
    EXPECT_EQ(in.parameters->codec_id, AV_CODEC_ID_MP3);
}

TEST(SystemCodecTypes, MalformedTypesAreRefused) {
    DecoderInput in;
    // Dimensions out of range, including the one height that has no positive twin.
    EXPECT_FALSE(decoderInputFromMediaType(videoInfoType(MEDIASUBTYPE_H264, 0, 480), &in));
    EXPECT_FALSE(
        decoderInputFromMediaType(videoInfoType(MEDIASUBTYPE_H264, 640, std::numeric_limits<LONG>::min()), &in));
    EXPECT_FALSE(decoderInputFromMediaType(videoInfoType(MEDIASUBTYPE_H264, 100000, 480), &in));
    // Uncompressed pictures are not a decoder's business; unknown FOURCCs are nobody's.
    EXPECT_FALSE(decoderInputFromMediaType(videoInfoType(MEDIASUBTYPE_YV12, 64, 64), &in));
    EXPECT_FALSE(decoderInputFromMediaType(videoInfoType(guidFromFourcc(makeFourcc('Z', 'Z', 'Z', 'Z')), 64, 64), &in));

    // A format block too short for its header.
    CMediaType shortBlock = videoInfoType(MEDIASUBTYPE_H264, 64, 64);
    shortBlock.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) - 1);
    EXPECT_FALSE(decoderInputFromMediaType(shortBlock, &in));

    // A sequence header said to be longer than the block.
    CMediaType mpeg;
    mpeg.SetType(&MEDIATYPE_Video);
    mpeg.SetSubtype(&MEDIASUBTYPE_MPEG1Payload);
    mpeg.SetFormatType(&FORMAT_MPEGVideo);
    auto* info = reinterpret_cast<MPEG1VIDEOINFO*>(mpeg.AllocFormatBuffer(kMpeg1VideoInfoFixed + 8));
    info->hdr.bmiHeader.biWidth = 64;
    info->hdr.bmiHeader.biHeight = 64;
    info->cbSequenceHeader = 9;
    EXPECT_FALSE(decoderInputFromMediaType(mpeg, &in));
    info->cbSequenceHeader = 8;
    EXPECT_TRUE(decoderInputFromMediaType(mpeg, &in));

    // Sound with no channels, a block that does not match its samples, extra data said
    // to run past the block.
    EXPECT_FALSE(decoderInputFromMediaType(waveType(MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 0, 48000, 16, 0), &in));
    EXPECT_FALSE(decoderInputFromMediaType(waveType(MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM, 2, 48000, 16, 3), &in));
    CMediaType aac = waveType(guidFromFourcc(0x00FF), 0x00FF, 2, 44100, 0, 1);
    reinterpret_cast<WAVEFORMATEX*>(aac.pbFormat)->cbSize = 500;
    ASSERT_TRUE(decoderInputFromMediaType(aac, &in));
    EXPECT_EQ(in.parameters->extradata_size, 0);
}
