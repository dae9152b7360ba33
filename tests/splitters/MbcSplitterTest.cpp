// The MBC splitter's source and filter over files made by the project's own writer, read
// through an in-memory upstream pull interface.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "MbcMemoryStream.h"
#include "MbcTestPictures.h"
#include "SplitterTestFilters.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "splitters/MbcHeader.h"
#include "splitters/MbcSource.h"
#include "splitters/MbcSplitter.h"
#include "tools/mbcenc/MbcFileWriter.h"

namespace {

using splittertest::MemoryReaderFilter;

struct MovieSpec {
    int w = 48, h = 32;
    uint32_t frames = 12;
    bool alpha = false;
    std::string pattern = "IPBB";
    uint32_t chunk = 4;
    uint32_t rate = 25;
    uint32_t audioRate = 0;  // 0: no audio
    size_t audioFrames = 0;
};

struct Movie {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<int16_t> pcm;  // stereo
};

// Every picture as the reader itself delivers it, decoded in order without the splitter.
std::vector<std::vector<uint8_t>> decodeAll(const std::vector<uint8_t>& bytes, uint32_t outputMode) {
    mbctest::MemoryStream stream(bytes);
    MbcReader reader;
    reader.setCallbacks(&mbctest::MemoryStream::callbacks());
    std::vector<std::vector<uint8_t>> out;
    if (!reader.open(stream.name()) || !reader.start(outputMode)) return out;
    const MbcReader::VideoInfo v = reader.videoInfo();
    for (uint32_t n = 0; n < reader.frameCount(); ++n) {
        std::vector<uint8_t> p(size_t(v.width) * v.height * 4);
        EXPECT_TRUE(reader.waitForFrame(INFINITE));
        EXPECT_TRUE(reader.copyVideoFrame(p.data(), v.width * 4));
        out.push_back(std::move(p));
        reader.advance(1);
    }
    reader.close();
    return out;
}

Movie makeMovie(const MovieSpec& s) {
    MbcFileOptions o;
    o.video.width = s.w;
    o.video.height = s.h;
    o.video.alpha = s.alpha;
    o.pattern = s.pattern;
    o.chunkLength = s.chunk;
    o.rateNumerator = s.rate;
    MbcFileWriter writer;
    Movie m;
    EXPECT_TRUE(writer.begin(o));
    for (uint32_t t = 0; t < s.frames; ++t) {
        const auto picture = mbctest::naturalPicture(s.w, s.h, int(t), s.alpha, 3);
        EXPECT_TRUE(writer.addFrame(picture.data(), s.w * 4));
    }
    if (s.audioRate) {
        m.pcm.resize(s.audioFrames * 2);
        for (size_t i = 0; i < m.pcm.size(); ++i) m.pcm[i] = static_cast<int16_t>(i * 7 + 1);
        EXPECT_TRUE(writer.setAudio(m.pcm.data(), s.audioFrames, 2, s.audioRate, {0, 256}));
    }
    EXPECT_TRUE(writer.finish(m.bytes));
    m.pictures = decodeAll(m.bytes, s.alpha ? MbcReader::kOutputAlpha : MbcReader::kOutputOpaque);
    EXPECT_EQ(m.pictures.size(), s.frames);
    return m;
}

void setOutputSize(std::vector<uint8_t>& bytes, uint32_t w, uint32_t h) {
    MbcHeader header;
    ASSERT_TRUE(header.parse(bytes.data(), bytes.size()));
    header.decodedWidth = w;
    header.decodedHeight = h;
    header.store(bytes.data());
}

// A media sample over a buffer the test owns (with guard bytes after it).
struct Sample {
    explicit Sample(LONG size, uint8_t fill = 0xAB) : bytes(size_t(size) + 64, fill) {
        HRESULT hr = S_OK;
        sample = new CMediaSample(u"test", nullptr, &hr, bytes.data(), size);
        sample->AddRef();
    }
    ~Sample() { sample->Release(); }
    std::pair<REFERENCE_TIME, REFERENCE_TIME> times() {
        REFERENCE_TIME a = -1, b = -1;
        EXPECT_EQ(S_OK, sample->GetTime(&a, &b));
        return {a, b};
    }
    bool guardIntact() const {
        for (size_t i = bytes.size() - 64; i < bytes.size(); ++i)
            if (bytes[i] != 0xAB) return false;
        return true;
    }
    std::vector<uint8_t> bytes;
    CMediaSample* sample;
};

// The source opened over bytes served by an upstream filter.
struct Opened {
    explicit Opened(std::vector<uint8_t> bytes) : upstream(new MemoryReaderFilter(std::move(bytes))) {
        IAsyncReader* r = nullptr;
        EXPECT_EQ(S_OK, upstream->pin()->QueryInterface(IAsyncReader::iid, reinterpret_cast<void**>(&r)));
        reader = InterfacePtr<IAsyncReader>(r);
        r->Release();
    }
    ~Opened() { source.close(); }
    HRESULT open() { return source.open(reader.get()); }
    // Waits for the current frame, so a slow worker skips nothing in a test.
    HRESULT fill(Sample* video, Sample* audio, DWORD* flags) {
        source.reader()->waitForFrame(INFINITE);
        if (audio) source.reader()->waitForAudio(INFINITE);
        return source.fillSamples(video ? video->sample : nullptr, audio ? audio->sample : nullptr, flags);
    }
    InterfacePtr<MemoryReaderFilter> upstream;
    InterfacePtr<IAsyncReader> reader;
    MbcSource source;
};

const VIDEOINFOHEADER& vihOf(const CMediaType& t) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(t.Format());
}

CMediaType proposal(const CMediaType& offered, LONG width, LONG height, WORD bits = 32) {
    CMediaType t(offered);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(t.Format());
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biBitCount = bits;
    return t;
}

TEST(MbcSplitterTest, VideoTypeDescribesATopDownPictureAndFollowsTheAlphaBits) {
    for (bool alpha : {false, true}) {
        MovieSpec s;
        s.alpha = alpha;
        Opened o(makeMovie(s).bytes);
        ASSERT_EQ(S_OK, o.open());
        CMediaType t;
        LONG size = 0;
        ASSERT_EQ(S_OK, o.source.videoType(&t, &size));
        EXPECT_EQ(t.majortype, MEDIATYPE_Video);
        EXPECT_EQ(t.subtype, alpha ? MEDIASUBTYPE_ARGB32 : MEDIASUBTYPE_RGB32) << alpha;
        EXPECT_EQ(o.source.outputMode(), alpha ? MbcReader::kOutputAlpha : MbcReader::kOutputOpaque);
        EXPECT_EQ(t.formattype, FORMAT_VideoInfo);
        ASSERT_GE(t.FormatLength(), sizeof(VIDEOINFOHEADER));
        const VIDEOINFOHEADER& v = vihOf(t);
        EXPECT_EQ(v.rcSource.right, 48);
        EXPECT_EQ(v.rcSource.bottom, 32);
        EXPECT_EQ(v.AvgTimePerFrame, 400000);
        EXPECT_EQ(v.bmiHeader.biWidth, 48);
        EXPECT_EQ(v.bmiHeader.biHeight, -32);
        EXPECT_EQ(v.bmiHeader.biBitCount, 32);
        EXPECT_EQ(v.bmiHeader.biSizeImage, 48u * 4 * 32);
        EXPECT_EQ(size, 48 * 4 * 32);
        EXPECT_TRUE(t.IsFixedSize());
        EXPECT_FALSE(t.IsTemporalCompressed());
        // No audio region: no audio pin.
        EXPECT_EQ(E_NOTIMPL, o.source.audioType(&t, &size));
        EXPECT_EQ(size, 0);
    }
}

TEST(MbcSplitterTest, SamplesCarryEveryPictureOnTheFrameClockThenEndTheStream) {
    MovieSpec s;
    s.alpha = true;
    Movie m = makeMovie(s);
    Opened o(m.bytes);
    ASSERT_EQ(S_OK, o.open());
    EXPECT_EQ(o.source.frameCount(), 12);
    EXPECT_EQ(o.source.duration(), 12 * 400000);
    const LONG size = 48 * 4 * 32;
    for (uint32_t n = 0; n < s.frames; ++n) {
        Sample v(size);
        DWORD flags = 0;
        ASSERT_EQ(S_OK, o.fill(&v, nullptr, &flags)) << n;
        ASSERT_EQ(flags, kSplitterVideoFilled) << n;
        EXPECT_EQ(v.times(), std::make_pair(REFERENCE_TIME(n) * 400000, REFERENCE_TIME(n + 1) * 400000)) << n;
        LONGLONG ms = -1, me = -1;
        EXPECT_EQ(S_OK, v.sample->GetMediaTime(&ms, &me));
        EXPECT_EQ(ms, REFERENCE_TIME(n) * 400000);
        EXPECT_EQ(v.sample->GetActualDataLength(), size);
        // Chunks of four open with an Intra frame; the rest predict.
        EXPECT_EQ(v.sample->IsSyncPoint() == S_OK, n % 4 == 0) << n;
        EXPECT_NE(v.sample->IsDiscontinuity(), S_OK);
        EXPECT_NE(v.sample->IsPreroll(), S_OK);
        EXPECT_EQ(0, std::memcmp(v.bytes.data(), m.pictures[n].data(), size_t(size))) << n;
        EXPECT_TRUE(v.guardIntact());
    }
    Sample v(size);
    DWORD flags = 7;
    EXPECT_EQ(NS_E_NO_MORE_SAMPLES, o.source.fillSamples(v.sample, nullptr, &flags));
    EXPECT_EQ(flags, 0u);
}

TEST(MbcSplitterTest, SeeksStartAtTheTargetFrameAndTheEndEndsAtOnce) {
    MovieSpec s;
    Movie m = makeMovie(s);
    Opened o(m.bytes);
    ASSERT_EQ(S_OK, o.open());
    const LONG size = 48 * 4 * 32;
    // 0.21 s is inside frame 5 (40 ms each).
    ASSERT_EQ(S_OK, o.source.seekToTime(2100000));
    for (uint32_t n : {5u, 6u}) {
        Sample v(size);
        DWORD flags = 0;
        ASSERT_EQ(S_OK, o.fill(&v, nullptr, &flags));
        ASSERT_EQ(flags, kSplitterVideoFilled);
        EXPECT_EQ(v.times().first, REFERENCE_TIME(n) * 400000);
        EXPECT_EQ(0, std::memcmp(v.bytes.data(), m.pictures[n].data(), size_t(size))) << n;
    }
    ASSERT_EQ(S_OK, o.source.seekToFrame(11));
    Sample last(size);
    DWORD flags = 0;
    ASSERT_EQ(S_OK, o.fill(&last, nullptr, &flags));
    EXPECT_EQ(last.times(), std::make_pair(REFERENCE_TIME(4400000), REFERENCE_TIME(4800000)));
    EXPECT_EQ(0, std::memcmp(last.bytes.data(), m.pictures[11].data(), size_t(size)));
    EXPECT_EQ(NS_E_NO_MORE_SAMPLES, o.source.fillSamples(last.sample, nullptr, &flags));
    ASSERT_EQ(S_OK, o.source.seekToFrame(12));
    EXPECT_EQ(NS_E_NO_MORE_SAMPLES, o.source.fillSamples(last.sample, nullptr, &flags));
    // And back to the start after the end.
    ASSERT_EQ(S_OK, o.source.seekToFrame(0));
    ASSERT_EQ(S_OK, o.fill(&last, nullptr, &flags));
    EXPECT_EQ(last.times().first, 0);
    EXPECT_EQ(0, std::memcmp(last.bytes.data(), m.pictures[0].data(), size_t(size)));
}

TEST(MbcSplitterTest, FrameAndTimeConversionsClampAtBothEnds) {
    MovieSpec s;
    Opened o(makeMovie(s).bytes);
    EXPECT_EQ(o.source.timeToFrame(1000), 0);  // not open
    EXPECT_EQ(o.source.frameToTime(3), 0);
    DWORD flags = 0;
    EXPECT_EQ(E_FAIL, o.source.fillSamples(nullptr, nullptr, &flags));
    EXPECT_EQ(E_FAIL, o.source.seekToFrame(1));
    ASSERT_EQ(S_OK, o.open());
    EXPECT_EQ(o.source.timeToFrame(-1), 0);
    EXPECT_EQ(o.source.timeToFrame(799999), 1);
    EXPECT_EQ(o.source.timeToFrame(4800000), 12);
    EXPECT_EQ(o.source.timeToFrame(INT64_MAX), 12);
    EXPECT_EQ(o.source.frameToTime(-4), 0);
    EXPECT_EQ(o.source.frameToTime(3), 1200000);
    EXPECT_EQ(o.source.frameToTime(12), 4800000);
    EXPECT_EQ(o.source.frameToTime(1000), 4800000);
}

// Audio stamps are whole milliseconds rounded up, from the count of sample frames
// delivered since the last seek.
REFERENCE_TIME msCeil(uint64_t samples, uint64_t rate) {
    return REFERENCE_TIME((samples * 1000 + rate - 1) / rate) * 10000;
}

TEST(MbcSplitterTest, AudioIsStampedInWholeMillisecondsRoundedUp) {
    MovieSpec s;
    s.audioRate = 44100;
    s.frames = 30;
    s.audioFrames = 13230;  // 0.3 s, shorter than the 1.2 s of video: the end is silence
    Movie m = makeMovie(s);
    Opened o(m.bytes);
    ASSERT_EQ(S_OK, o.open());
    CMediaType t;
    LONG size = 0;
    ASSERT_EQ(S_OK, o.source.audioType(&t, &size));
    EXPECT_EQ(t.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(t.subtype, MEDIASUBTYPE_PCM);
    ASSERT_EQ(t.formattype, FORMAT_WaveFormatEx);
    const auto& wf = *reinterpret_cast<const WAVEFORMATEX*>(t.Format());
    EXPECT_EQ(wf.wFormatTag, 1);
    EXPECT_EQ(wf.nChannels, 2);
    EXPECT_EQ(wf.nSamplesPerSec, 44100u);
    EXPECT_EQ(wf.wBitsPerSample, 16);
    EXPECT_EQ(wf.nBlockAlign, 4);
    EXPECT_EQ(wf.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(wf.cbSize, 0);
    // Eight frames (320 ms) of PCM: 14112 sample frames, 56448 bytes, up to 57344.
    EXPECT_EQ(size, 57344);

    std::vector<int16_t> got;
    uint64_t count = 0;
    int filled = 0;
    for (int n = 0; n < 30; ++n) {
        Sample a(size);
        DWORD flags = 0;
        ASSERT_EQ(S_OK, o.fill(nullptr, &a, &flags));
        if (!(flags & kSplitterAudioFilled)) continue;
        ++filled;
        const LONG bytes = a.sample->GetActualDataLength();
        ASSERT_GT(bytes, 0);
        ASSERT_EQ(bytes % 4, 0);
        const uint64_t k = uint64_t(bytes) / 4;
        EXPECT_EQ(a.times(), std::make_pair(msCeil(count, 44100), msCeil(count + k, 44100)));
        if (filled == 1) {
            // Six frames of PCM (10584 sample frames) rounded up to 43008 bytes: 10752
            // sample frames, 243.8 ms, stamped to the next whole millisecond.
            EXPECT_EQ(k, 10752u);
            EXPECT_EQ(a.times(), std::make_pair(REFERENCE_TIME(0), REFERENCE_TIME(2440000)));
        }
        EXPECT_EQ(a.sample->IsSyncPoint(), S_OK);
        count += k;
        EXPECT_EQ(o.source.audioDelivered(), count);
        got.insert(got.end(), reinterpret_cast<int16_t*>(a.bytes.data()),
                   reinterpret_cast<int16_t*>(a.bytes.data() + bytes));
        EXPECT_TRUE(a.guardIntact());
    }
    ASSERT_GE(filled, 2);
    ASSERT_GE(got.size(), m.pcm.size());
    EXPECT_TRUE(std::equal(m.pcm.begin(), m.pcm.end(), got.begin()));
    for (size_t i = m.pcm.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0) << i;
}

TEST(MbcSplitterTest, ASeekRestartsTheAudioCountAtTheTargetFrame) {
    MovieSpec s;
    s.rate = 30;
    s.audioRate = 44100;
    s.audioFrames = 44100;
    Opened o(makeMovie(s).bytes);
    ASSERT_EQ(S_OK, o.open());
    // Frame 1 at 30 fps is 33 ms: ceil(33 * 44.1) = 1456 sample frames, a multiple of 4.
    ASSERT_EQ(S_OK, o.source.seekToFrame(1));
    EXPECT_EQ(o.source.audioDelivered(), 1456u);
    // Frame 7 is 233 ms: ceil(10275.3) = 10276, kept at a multiple of the block alignment.
    ASSERT_EQ(S_OK, o.source.seekToFrame(7));
    EXPECT_EQ(o.source.audioDelivered(), 10276u);
    Sample a(LONG(64 * 1024));
    DWORD flags = 0;
    ASSERT_EQ(S_OK, o.fill(nullptr, &a, &flags));
    ASSERT_EQ(flags, kSplitterAudioFilled);
    const uint64_t k = uint64_t(a.sample->GetActualDataLength()) / 4;
    EXPECT_EQ(a.times(), std::make_pair(msCeil(10276, 44100), msCeil(10276 + k, 44100)));
    EXPECT_EQ(a.times().first, 2340000);
}

TEST(MbcSplitterTest, ARendererMayWidenTheRowsButNotNarrowThem) {
    MovieSpec s;
    s.w = 1000;
    s.h = 16;
    s.frames = 2;
    s.pattern = "I";
    Movie m = makeMovie(s);
    Opened o(m.bytes);
    ASSERT_EQ(S_OK, o.open());
    CMediaType offered;
    LONG size = 0;
    ASSERT_EQ(S_OK, o.source.videoType(&offered, &size));
    EXPECT_EQ(o.source.videoStride(), 4000);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, o.source.checkFormat(SplitterStream::Video, proposal(offered, 999, -16)));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, o.source.checkFormat(SplitterStream::Video, proposal(offered, 1000, 16)));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, o.source.checkFormat(SplitterStream::Video, proposal(offered, 1000, -16, 24)));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, o.source.checkFormat(SplitterStream::Video, proposal(offered, 0x7FFFFFFF, -16)));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, o.source.setFormat(SplitterStream::Video, proposal(offered, 999, -16)));
    EXPECT_EQ(o.source.videoStride(), 4000);
    CMediaType wide = proposal(offered, 1024, -16);
    ASSERT_EQ(S_OK, o.source.checkFormat(SplitterStream::Video, wide));
    ASSERT_EQ(S_OK, o.source.setFormat(SplitterStream::Video, wide));
    EXPECT_EQ(o.source.videoStride(), 4096);

    Sample v(4096 * 16);
    DWORD flags = 0;
    ASSERT_EQ(S_OK, o.fill(&v, nullptr, &flags));
    ASSERT_EQ(flags, kSplitterVideoFilled);
    for (int y = 0; y < 16; ++y) {
        ASSERT_EQ(0, std::memcmp(&v.bytes[size_t(y) * 4096], &m.pictures[0][size_t(y) * 4000], 4000)) << y;
        // The padding of each row is left alone.
        for (int x = 4000; x < 4096; ++x) ASSERT_EQ(v.bytes[size_t(y) * 4096 + x], 0xAB) << y;
    }
    // A buffer that cannot hold every wide row gets the rows that fit and nothing past it.
    Sample small(4096 * 10);
    ASSERT_EQ(S_OK, o.fill(&small, nullptr, &flags));
    ASSERT_EQ(flags, kSplitterVideoFilled);
    EXPECT_TRUE(small.guardIntact());
    EXPECT_EQ(0, std::memcmp(&small.bytes[9 * 4096], &m.pictures[1][9 * 4000], 4000));
}

TEST(MbcSplitterTest, AnOutputSizeUnlikeTheCodedSizeIsClippedOrPadded) {
    MovieSpec s;
    s.frames = 2;
    Movie m = makeMovie(s);
    {
        // Smaller: the sample holds the top-left 40 x 24 and nothing is written past it.
        std::vector<uint8_t> bytes = m.bytes;
        setOutputSize(bytes, 40, 24);
        Opened o(bytes);
        ASSERT_EQ(S_OK, o.open());
        CMediaType t;
        LONG size = 0;
        ASSERT_EQ(S_OK, o.source.videoType(&t, &size));
        EXPECT_EQ(vihOf(t).bmiHeader.biWidth, 40);
        EXPECT_EQ(vihOf(t).bmiHeader.biHeight, -24);
        ASSERT_EQ(size, 40 * 4 * 24);
        Sample v(size);
        DWORD flags = 0;
        ASSERT_EQ(S_OK, o.fill(&v, nullptr, &flags));
        ASSERT_EQ(flags, kSplitterVideoFilled);
        EXPECT_TRUE(v.guardIntact());
        for (int y = 0; y < 24; ++y)
            ASSERT_EQ(0, std::memcmp(&v.bytes[size_t(y) * 160], &m.pictures[0][size_t(y) * 192], 160)) << y;
    }
    {
        // Larger: the picture at the top left, the rest black.
        std::vector<uint8_t> bytes = m.bytes;
        setOutputSize(bytes, 56, 40);
        Opened o(bytes);
        ASSERT_EQ(S_OK, o.open());
        const LONG size = 56 * 4 * 40;
        Sample v(size);
        DWORD flags = 0;
        ASSERT_EQ(S_OK, o.fill(&v, nullptr, &flags));
        ASSERT_EQ(flags, kSplitterVideoFilled);
        EXPECT_TRUE(v.guardIntact());
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 56 * 4; ++x) {
                const uint8_t want = (y < 32 && x < 192) ? m.pictures[0][size_t(y) * 192 + x] : 0;
                ASSERT_EQ(v.bytes[size_t(y) * 224 + x], want) << y << "," << x;
            }
    }
}

TEST(MbcSplitterTest, DamagedFilesFailToOpenAndLeaveNothingBehind) {
    MovieSpec s;
    s.frames = 2;
    Movie m = makeMovie(s);
    std::vector<uint8_t> badMagic = m.bytes;
    badMagic[0] ^= 1;
    std::vector<uint8_t> shortFile(m.bytes.begin(), m.bytes.begin() + 100);
    std::vector<uint8_t> badFlags = m.bytes;
    {
        MbcHeader h;
        ASSERT_TRUE(h.parse(badFlags.data(), badFlags.size()));
        h.codecFlags = (h.codecFlags & ~0xF000u) | 0x3000;  // a transform the decoder refuses
        h.store(badFlags.data());
    }
    for (const auto* bytes : {&badMagic, &shortFile, &badFlags}) {
        Opened o(*bytes);
        EXPECT_EQ(E_FAIL, o.open());
        EXPECT_EQ(o.source.reader(), nullptr);
        CMediaType t;
        LONG size = 0;
        EXPECT_EQ(E_NOTIMPL, o.source.videoType(&t, &size));
        DWORD flags = 0;
        EXPECT_EQ(E_FAIL, o.source.fillSamples(nullptr, nullptr, &flags));
    }
    // The same source opens a good file afterwards.
    Opened o(badMagic);
    EXPECT_EQ(E_FAIL, o.open());
    Opened good(m.bytes);
    EXPECT_EQ(S_OK, good.open());
}

TEST(MbcSplitterTest, TheFilterCarriesItsIdentityAndBuildsPinsForTheFilesStreams) {
    IBaseFilter* raw = nullptr;
    ASSERT_EQ(S_OK, MbcSplitter::create(IBaseFilter::iid, reinterpret_cast<void**>(&raw)));
    InterfacePtr<IBaseFilter> filter(raw);
    raw->Release();
    CLSID clsid{};
    ASSERT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_EQ(clsid, MbcSplitter::kClassId);
    auto* splitter = static_cast<MbcSplitter*>(filter.get());
    EXPECT_EQ(splitter->streamSubtype(), MbcSplitter::kStreamSubtype);
    EXPECT_EQ(splitter->outputBufferCount(), 6);
    EXPECT_EQ(splitter->GetPinCount(), 1);

    MovieSpec s;
    s.frames = 2;
    s.audioRate = 8000;
    s.audioFrames = 800;
    Opened o(makeMovie(s).bytes);
    ASSERT_EQ(S_OK, splitter->connectSource(o.reader.get(), nullptr));
    EXPECT_EQ(splitter->GetPinCount(), 3);
    ASSERT_NE(splitter->videoPin(), nullptr);
    ASSERT_NE(splitter->audioPin(), nullptr);
    EXPECT_EQ(splitter->videoPin()->sampleSize(), 48 * 4 * 32);
    splitter->disconnectSource();

    std::vector<uint8_t> bad(300, 0);
    Opened broken(bad);
    EXPECT_EQ(E_FAIL, splitter->connectSource(broken.reader.get(), nullptr));
    EXPECT_EQ(splitter->GetPinCount(), 1);
}

TEST(MbcSplitterTest, AConnectedGraphStreamsPicturesOnTheFrameClockThenEndsBothPins) {
    MovieSpec s;
    s.frames = 8;
    s.audioRate = 8000;
    s.audioFrames = 3200;
    Movie m = makeMovie(s);
    InterfacePtr<MbcSplitter> splitter(new MbcSplitter());
    InterfacePtr<MemoryReaderFilter> upstream(new MemoryReaderFilter(m.bytes));
    InterfacePtr<splittertest::RecordingSink> video(new splittertest::RecordingSink());
    InterfacePtr<splittertest::RecordingSink> audio(new splittertest::RecordingSink());
    ASSERT_EQ(S_OK, upstream->pin()->Connect(splitter->inputPin(), nullptr));
    ASSERT_NE(splitter->videoPin(), nullptr);
    ASSERT_NE(splitter->audioPin(), nullptr);
    ASSERT_EQ(S_OK, splitter->videoPin()->Connect(video->pin(), nullptr));
    ASSERT_EQ(S_OK, splitter->audioPin()->Connect(audio->pin(), nullptr));
    video->Pause();
    audio->Pause();
    ASSERT_EQ(S_OK, splitter->Pause());
    video->Run(0);
    audio->Run(0);
    ASSERT_EQ(S_OK, splitter->Run(0));
    EXPECT_TRUE(video->waitFor(splittertest::Arrival::EndOfStream, 1));
    EXPECT_TRUE(audio->waitFor(splittertest::Arrival::EndOfStream, 1));
    video->Stop();
    audio->Stop();
    splitter->Stop();

    // A picture late for its turn is skipped, so only order and stamps are certain.
    const auto pictures = video->samples();
    ASSERT_FALSE(pictures.empty());
    REFERENCE_TIME last = -1;
    for (const auto& a : pictures) {
        EXPECT_EQ(a.start % 400000, 0);
        EXPECT_EQ(a.stop, a.start + 400000);
        EXPECT_GT(a.start, last);
        last = a.start;
    }
    EXPECT_LT(last, 8 * 400000);
    const auto chunks = audio->samples();
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks[0].start, 0);
    for (size_t i = 1; i < chunks.size(); ++i) EXPECT_EQ(chunks[i].start, chunks[i - 1].stop);
}

}  // namespace
