// MbcReader over files made by the project's own writer, read from memory.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "MbcMemoryStream.h"
#include "MbcTestPictures.h"
#include "splitters/MbcHeader.h"
#include "splitters/MbcReader.h"
#include "tools/mbcenc/MbcFileWriter.h"

namespace {

using Picture = std::vector<uint8_t>;

struct Movie {
    std::vector<uint8_t> bytes;
    std::vector<Picture> inputs;
};

Movie makeMovie(const std::string& pattern, uint32_t frames, uint32_t chunk, int transform = 2, uint32_t layout = 3,
                bool alpha = false, int w = 48, int h = 32) {
    MbcFileOptions o;
    o.video.width = w;
    o.video.height = h;
    o.video.layout = layout;
    o.video.alpha = alpha;
    o.video.transform = transform;
    o.video.quantiser = 6;
    o.pattern = pattern;
    o.chunkLength = chunk;
    o.rateNumerator = 25;
    MbcFileWriter writer;
    Movie m;
    EXPECT_TRUE(writer.begin(o));
    for (uint32_t t = 0; t < frames; ++t) {
        m.inputs.push_back(mbctest::naturalPicture(w, h, int(t), alpha, 7));
        EXPECT_TRUE(writer.addFrame(m.inputs.back().data(), w * 4));
    }
    EXPECT_TRUE(writer.finish(m.bytes));
    return m;
}

// A stream and a reader over it (the reader goes first when the pair is destroyed).
struct Opened {
    explicit Opened(std::vector<uint8_t> bytes) : stream(std::move(bytes)) {
        reader.setCallbacks(&mbctest::MemoryStream::callbacks());
    }
    bool open() { return reader.open(stream.name()); }
    mbctest::MemoryStream stream;
    MbcReader reader;
};

std::optional<Picture> current(MbcReader& r) {
    const MbcReader::VideoInfo v = r.videoInfo();
    if (!r.waitForFrame(INFINITE)) return std::nullopt;
    Picture p(size_t(v.width) * v.height * 4);
    if (!r.copyVideoFrame(p.data(), v.width * 4)) return std::nullopt;
    return p;
}

std::vector<std::optional<Picture>> sequential(MbcReader& r) {
    std::vector<std::optional<Picture>> out;
    for (uint64_t n = r.consumerFrame(); n < r.frameCount(); ++n) {
        out.push_back(current(r));
        r.advance(1);
    }
    return out;
}

std::vector<uint8_t> headerOnlyFile() {
    MbcHeader h = MbcHeader::initial();
    h.fileSize = MbcHeader::kBytes;
    h.rateNumerator = 30;
    h.rateDenominator = 1;
    std::vector<uint8_t> bytes(MbcHeader::kBytes);
    h.store(bytes.data());
    return bytes;
}

// File offset and relative frame number of every record, in stored order.
std::vector<std::pair<uint64_t, uint32_t>> recordOffsets(const std::vector<uint8_t>& b) {
    MbcHeader h;
    EXPECT_TRUE(h.parse(b.data(), b.size()));
    std::vector<std::pair<uint64_t, uint32_t>> out;
    for (uint32_t c = 0; c < h.chunkCount; ++c) {
        MbcChunkEntry e;
        e.parse(&b[MbcHeader::kBytes + c * MbcChunkEntry::kBytes]);
        uint64_t at = e.offset;
        for (uint32_t i = 0; i < e.frameCount; ++i) {
            MbcFrameRecord r;
            r.parse(&b[at]);
            out.emplace_back(at, r.relativeFrame());
            at += MbcFrameRecord::kBytes + r.payloadSize;
        }
    }
    return out;
}

void patch32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(MbcReaderTest, HeaderOnlyFileOpensAndEndsAtOnce) {
    Opened o(headerOnlyFile());
    ASSERT_TRUE(o.open());
    EXPECT_EQ(o.reader.frameCount(), 0u);
    EXPECT_FALSE(o.reader.hasVideo());
    EXPECT_FALSE(o.reader.hasAudio());
    EXPECT_EQ(o.reader.duration(), 0);
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    EXPECT_EQ(o.reader.consumerFrame(), 0u);
    uint8_t px[4];
    EXPECT_FALSE(o.reader.copyVideoFrame(px, 4));
    EXPECT_FALSE(o.reader.advance(1));
    o.reader.close();
    EXPECT_EQ(o.stream.opens(), 1);
    EXPECT_EQ(o.stream.closes(), 1);
}

TEST(MbcReaderTest, OpenRefusesBrokenHeaders) {
    auto refuse = [](std::vector<uint8_t> bytes, const char* what) {
        Opened o(std::move(bytes));
        EXPECT_FALSE(o.open()) << what;
        EXPECT_EQ(o.stream.opens(), o.stream.closes()) << what;
    };
    auto b = headerOnlyFile();
    patch32(b, 8, MbcHeader::kBytes + 1);
    refuse(b, "fileSize one byte too large");
    b = headerOnlyFile();
    b[7] = '1';
    refuse(b, "magic");
    b = headerOnlyFile();
    patch32(b, 112, 0);
    refuse(b, "zero numerator");
    b = headerOnlyFile();
    patch32(b, 116, 0);
    refuse(b, "zero denominator");
    b = headerOnlyFile();
    b.pop_back();
    refuse(b, "287 bytes");
    b = headerOnlyFile();
    patch32(b, 108, 1);
    refuse(b, "index past the end");
    // A real file stays readable when its fileSize is smaller than the file.
    b = headerOnlyFile();
    b.resize(400);
    Opened ok(b);
    EXPECT_TRUE(ok.open());
}

TEST(MbcReaderTest, StartRefusesBadCodecFlagsAndModes) {
    Movie m = makeMovie("IP", 4, 4);
    {
        Opened o(m.bytes);
        ASSERT_TRUE(o.open());
        EXPECT_FALSE(o.reader.start(0x10000000));
        EXPECT_FALSE(o.reader.start(0));
        EXPECT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    }
    auto b = m.bytes;
    patch32(b, 140, 0x40);  // layout 0 with the alpha bit
    Opened o(b);
    ASSERT_TRUE(o.open());
    EXPECT_FALSE(o.reader.start(MbcReader::kOutputOpaque));
}

TEST(MbcReaderTest, LosslessMovieDeliversEveryPictureInDisplayOrder) {
    // RGB layout with transform 1 is exact, so each delivered picture can be checked
    // against its input; a Repeat frame shows the previous frame's picture.
    const std::string pattern = "IBBPRBP";
    Movie m = makeMovie(pattern, 23, 9, 1, 16);
    Opened o(m.bytes);
    ASSERT_TRUE(o.open());
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    auto frames = sequential(o.reader);
    ASSERT_EQ(frames.size(), 23u);
    for (size_t n = 0; n < frames.size(); ++n) {
        ASSERT_TRUE(frames[n]) << n;
        Picture expected = m.inputs[n];
        const bool repeat = pattern[(n % 9) % pattern.size()] == 'R' && n % 9 != 0;
        if (repeat) expected = *frames[n - 1];
        EXPECT_EQ(*frames[n], expected) << "frame " << n;
    }
    EXPECT_FALSE(o.reader.advance(1));
}

TEST(MbcReaderTest, RepeatFrameIsTheSamePictureAndNotASyncPoint) {
    Movie m = makeMovie("IPR", 6, 6);
    Opened o(m.bytes);
    ASSERT_TRUE(o.open());
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    EXPECT_TRUE(o.reader.isSyncFrame());
    auto frames = sequential(o.reader);
    ASSERT_TRUE(frames[1] && frames[2]);
    EXPECT_EQ(*frames[2], *frames[1]);
    EXPECT_NE(*frames[1], *frames[0]);
    ASSERT_TRUE(o.reader.seekToFrame(2));
    ASSERT_TRUE(o.reader.waitForFrame(INFINITE));
    EXPECT_FALSE(o.reader.isSyncFrame());
    ASSERT_TRUE(o.reader.seekToFrame(1));
    EXPECT_FALSE(o.reader.isSyncFrame());
}

TEST(MbcReaderTest, SeekMatchesSequentialDecodingForEveryFrame) {
    for (const char* pattern : {"IPPP", "IBBP", "IBPRB", "IRBBBP"}) {
        SCOPED_TRACE(pattern);
        Movie m = makeMovie(pattern, 26, 8);
        Opened o(m.bytes);
        ASSERT_TRUE(o.open());
        ASSERT_TRUE(o.reader.start(MbcReader::kOutputAlpha));
        auto reference = sequential(o.reader);
        ASSERT_EQ(reference.size(), 26u);
        for (uint64_t s = 0; s < 26; ++s) {
            ASSERT_TRUE(o.reader.seekToFrame(s)) << s;
            EXPECT_EQ(o.reader.consumerFrame(), s);
            auto got = current(o.reader);
            ASSERT_TRUE(got && reference[s]) << s;
            EXPECT_EQ(*got, *reference[s]) << "frame " << s;
        }
        // From a seek, playing on reaches the same pictures.
        ASSERT_TRUE(o.reader.seekToFrame(5));
        auto tail = sequential(o.reader);
        ASSERT_EQ(tail.size(), 21u);
        for (size_t i = 0; i < tail.size(); ++i) EXPECT_EQ(tail[i], reference[5 + i]) << 5 + i;
    }
}

TEST(MbcReaderTest, SeekToLastFrameAndToTheEnd) {
    Movie m = makeMovie("IBBP", 10, 10);
    Opened o(m.bytes);
    ASSERT_TRUE(o.open());
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    auto reference = sequential(o.reader);
    ASSERT_TRUE(o.reader.seekToFrame(9));
    auto last = current(o.reader);
    ASSERT_TRUE(last);
    EXPECT_EQ(*last, *reference[9]);
    EXPECT_FALSE(o.reader.advance(1));
    ASSERT_TRUE(o.reader.seekToFrame(10));
    EXPECT_EQ(o.reader.consumerFrame(), 10u);
    EXPECT_FALSE(o.reader.waitForFrame(INFINITE));
    ASSERT_TRUE(o.reader.seekToFrame(1000));
    EXPECT_EQ(o.reader.consumerFrame(), 10u);
    // And it is usable again afterwards.
    ASSERT_TRUE(o.reader.seekToFrame(3));
    auto again = current(o.reader);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *reference[3]);
}

TEST(MbcReaderTest, ReferencesOutliveTheConsumerWhileRecordsNeedThem) {
    // The consumer runs past frames the worker has not decoded yet; later records still
    // predict from them, so they must still be there when the worker gets to them.
    Movie m = makeMovie("IBBBBP", 24, 24);
    std::vector<std::optional<Picture>> reference;
    {
        Opened o(m.bytes);
        ASSERT_TRUE(o.open());
        ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
        reference = sequential(o.reader);
    }
    // Stored order is I0 P5 B1 B2 B3 B4 P11 B6 ...; start handles the records up to B3.
    // When the worker comes to read B4, the consumer moves to 7, past P5.
    auto records = recordOffsets(m.bytes);
    ASSERT_GT(records.size(), 6u);
    ASSERT_EQ(records[5].second, 4u);
    Opened o(m.bytes);
    ASSERT_TRUE(o.open());
    o.stream.onFirstReadAt(records[5].first, [&] { o.reader.advance(7); });
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    while (!o.stream.hookRan()) std::this_thread::yield();
    ASSERT_EQ(o.reader.consumerFrame(), 7u);
    auto tail = sequential(o.reader);
    ASSERT_EQ(tail.size(), 17u);
    for (size_t i = 0; i < tail.size(); ++i) {
        ASSERT_TRUE(tail[i]) << "frame " << 7 + i << " was not delivered";
        EXPECT_EQ(*tail[i], *reference[7 + i]) << 7 + i;
    }
}

TEST(MbcReaderTest, FailedRecordIsSkippedAndLaterChunksPlay) {
    Movie m = makeMovie("IPPP", 12, 4);
    std::vector<std::optional<Picture>> reference;
    {
        Opened o(m.bytes);
        ASSERT_TRUE(o.open());
        ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
        reference = sequential(o.reader);
    }
    // Give frame 5 (second record of chunk 1) an unknown type: it and the frames that
    // predict from it fail; chunk 2 does not depend on them.
    MbcHeader h;
    ASSERT_TRUE(h.parse(m.bytes.data(), m.bytes.size()));
    MbcChunkEntry chunk1;
    chunk1.parse(&m.bytes[MbcHeader::kBytes + MbcChunkEntry::kBytes]);
    MbcFrameRecord first;
    first.parse(&m.bytes[chunk1.offset]);
    const size_t second = chunk1.offset + MbcFrameRecord::kBytes + first.payloadSize;
    MbcFrameRecord rec;
    rec.parse(&m.bytes[second]);
    ASSERT_EQ(rec.relativeFrame(), 1u);
    rec.frameWord = (rec.frameWord & ~0xF000u) | 0x3000u;
    rec.store(&m.bytes[second]);

    Opened o(m.bytes);
    ASSERT_TRUE(o.open());
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    auto frames = sequential(o.reader);
    ASSERT_EQ(frames.size(), 12u);
    for (int n : {0, 1, 2, 3, 4, 8, 9, 10, 11}) {
        ASSERT_TRUE(frames[n]) << n;
        EXPECT_EQ(*frames[n], *reference[n]) << n;
    }
    for (int n : {5, 6, 7}) EXPECT_FALSE(frames[n]) << n;
    EXPECT_FALSE(o.reader.seekToFrame(5));  // the frame itself cannot be made
    ASSERT_TRUE(o.reader.seekToFrame(8));
    auto after = current(o.reader);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, *reference[8]);
}

TEST(MbcReaderTest, TimeArithmeticTruncatesAndSaturates) {
    auto b = headerOnlyFile();
    patch32(b, 104, 100);    // frameCount
    patch32(b, 112, 30000);  // 29.97 frames per second
    patch32(b, 116, 1001);
    patch32(b, 148, 44100);
    Opened o(b);
    ASSERT_TRUE(o.open());
    EXPECT_EQ(o.reader.frameTime(1), 333666);
    EXPECT_EQ(o.reader.frameTimeMs(3), 100);
    EXPECT_EQ(o.reader.duration(), 33366666);
    EXPECT_EQ(o.reader.frameAtTime(333666), 0u);
    EXPECT_EQ(o.reader.frameAtTime(333667), 1u);
    EXPECT_EQ(o.reader.frameAtTime(-5), 0u);
    EXPECT_EQ(o.reader.audioSamplesUpTo(30), 44144u);
    // Products that do not fit 64 bits saturate instead of wrapping to small values.
    EXPECT_EQ(o.reader.frameTime(UINT64_MAX / 2), INT64_MAX);
}

TEST(MbcReaderTest, CopyClipsToASmallerDestination) {
    Movie m = makeMovie("I", 2, 2, 1, 16);
    Opened o(m.bytes);
    ASSERT_TRUE(o.open());
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    ASSERT_TRUE(o.reader.waitForFrame(INFINITE));
    const uint32_t cw = 20, ch = 10, stride = 24 * 4;
    std::vector<uint8_t> dst(size_t(stride) * ch + 64, 0xAB);
    ASSERT_TRUE(o.reader.copyVideoFrame(dst.data(), stride, cw, ch));
    for (uint32_t y = 0; y < ch; ++y) {
        EXPECT_EQ(0, std::memcmp(&dst[y * stride], &m.inputs[0][y * 48 * 4], cw * 4)) << y;
        for (uint32_t x = cw * 4; x < stride; ++x) ASSERT_EQ(dst[y * stride + x], 0xAB) << y;
    }
    for (size_t i = size_t(stride) * ch; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0xAB);
}

// A short movie with mode-0 audio (exact) of the given length, 10 frames a second.
std::vector<uint8_t> movieWithAudio(const std::vector<int16_t>& pcm, uint32_t rate, uint32_t frames) {
    MbcFileOptions o;
    o.video.width = 16;
    o.video.height = 16;
    o.pattern = "IP";
    o.chunkLength = 4;
    o.rateNumerator = 10;
    MbcFileWriter writer;
    EXPECT_TRUE(writer.begin(o));
    for (uint32_t t = 0; t < frames; ++t) {
        auto p = mbctest::naturalPicture(16, 16, int(t));
        EXPECT_TRUE(writer.addFrame(p.data(), 16 * 4));
    }
    EXPECT_TRUE(writer.setAudio(pcm.data(), pcm.size() / 2, 2, rate, {0, 256}));
    std::vector<uint8_t> file;
    EXPECT_TRUE(writer.finish(file));
    return file;
}

std::vector<int16_t> drainAudio(MbcReader& r) {
    std::vector<int16_t> out;
    while (r.waitForAudio(INFINITE)) {
        const uint8_t* data = nullptr;
        uint32_t bytes = 0;
        if (!r.readAudio(&data, &bytes)) break;
        const size_t at = out.size();
        out.resize(at + bytes / 2);
        std::memcpy(out.data() + at, data, bytes);
        EXPECT_TRUE(r.releaseAudio(data));
    }
    return out;
}

TEST(MbcReaderTest, AudioAfterASeekStartsAtTheFramesFirstSample) {
    std::vector<int16_t> pcm(8000 * 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i);
    Opened o(movieWithAudio(pcm, 8000, 10));
    ASSERT_TRUE(o.open());
    ASSERT_TRUE(o.reader.hasAudio());
    ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque));
    ASSERT_TRUE(o.reader.seekToFrame(3));
    auto got = drainAudio(o.reader);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(o.reader.audioSamplesUpTo(3), 2400u);
    EXPECT_EQ(got[0], pcm[2400 * 2]);
    // The stream's samples to its end, then silence up to the last chunk's end.
    const size_t left = pcm.size() - 4800;
    ASSERT_GE(got.size(), left);
    EXPECT_TRUE(std::equal(pcm.begin() + 4800, pcm.end(), got.begin()));
    for (size_t i = left; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << i;
    // Chunks are six frames of PCM rounded up to whole KiB.
    EXPECT_EQ(got.size() * 2 % 19456, 0u);
}

TEST(MbcReaderTest, AudioItCannotDecodeLeavesTheVideoPlaying) {
    std::vector<int16_t> pcm(2000 * 2, 5);
    auto file = movieWithAudio(pcm, 8000, 6);
    MbcHeader h;
    ASSERT_TRUE(h.parse(file.data(), file.size()));
    auto check = [](std::vector<uint8_t> bytes, const char* what) {
        Opened o(std::move(bytes));
        ASSERT_TRUE(o.open()) << what;
        EXPECT_FALSE(o.reader.hasAudio()) << what;
        ASSERT_TRUE(o.reader.start(MbcReader::kOutputOpaque)) << what;
        const uint8_t* data = nullptr;
        uint32_t bytesOut = 0;
        EXPECT_FALSE(o.reader.readAudio(&data, &bytesOut)) << what;
        auto frames = sequential(o.reader);
        ASSERT_EQ(frames.size(), 6u);
        for (auto& f : frames) EXPECT_TRUE(f) << what;
    };
    auto b = file;
    b[h.audioOffset + 8] = 64;  // WBCF mode 64
    check(b, "mode 64");
    b = file;
    patch32(b, 140, h.codecFlags | MbcReader::kFlagNoAudio);
    check(b, "audio switched off");
    b = file;
    b[144] = 1;  // header says mono, the stream is stereo
    check(b, "channel mismatch");
}

}  // namespace
