// The system filters in real graphs: a source serving a real file through its pull
// interface, Render of its pin, and recording sinks. Checked: which filters intelligent
// connect chose, the pictures (count, size, orientation, colours of the test pattern,
// times) and the sound (length, tone), seeking with flush and new segment, planar output
// for a sink that takes only YV12 or when a converter waits in the graph, and finding the
// MPEG filters through the mapper as the engine's handler does.
#include <gtest/gtest.h>

#include <cmath>

#include "SystemTestSupport.h"
#include "framework/ComUser.h"
#include "framework/dshow/CTransformFilter.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/PipelineClasses.h"
#include "platform/dshow/system/MpegFormats.h"
#include "platform/dshow/system/SystemClassIds.h"

using namespace systemtest;

namespace {

struct Built {
    InterfacePtr<IGraphBuilder> graph;
    InterfacePtr<RecordingSink> video;
    InterfacePtr<RecordingSink> audio;
    InterfacePtr<ByteSource> source;
    HRESULT rendered = E_FAIL;

    std::vector<CLSID> classes() {
        std::vector<CLSID> out;
        InterfacePtr<IEnumFilters> e;
        graph->EnumFilters(e.put());
        IBaseFilter* f = nullptr;
        while (e->Next(1, &f, nullptr) == S_OK) {
            CLSID c{};
            f->GetClassID(&c);
            out.push_back(c);
            f->Release();
        }
        return out;
    }
    bool has(const CLSID& c) {
        auto all = classes();
        return std::find(all.begin(), all.end(), c) != all.end();
    }
    HRESULT pause() {
        InterfacePtr<IMediaControl> control;
        graph->QueryInterface(IMediaControl::iid, control.putVoid());
        return control->Pause();
    }
    void stop() {
        InterfacePtr<IMediaControl> control;
        graph->QueryInterface(IMediaControl::iid, control.putVoid());
        control->Stop();
    }
};

// The graph has no clock: the sinks take everything as fast as it comes.
Built build(const std::filesystem::path& file, const GUID& subtype, RecordingSink::Accepts videoAccepts,
            IBaseFilter* extra = nullptr) {
    Built b;
    b.graph = InterfacePtr<IGraphBuilder>(new FilterGraph());
    InterfacePtr<IMediaFilter> timing;
    b.graph->QueryInterface(IMediaFilter::iid, timing.putVoid());
    timing->SetSyncSource(nullptr);
    b.source = new ByteSource(subtype, readerOver(testsupport::readFile(file)).get());
    b.video = new RecordingSink(kVideoSinkClass, u"Video Sink", videoAccepts);
    b.audio = new RecordingSink(kAudioSinkClass, u"Audio Sink", &acceptsPcm16);
    b.graph->AddFilter(b.source.get(), u"Source");
    b.graph->AddFilter(b.video.get(), u"Video Sink");
    b.graph->AddFilter(b.audio.get(), u"Audio Sink");
    if (extra) b.graph->AddFilter(extra, u"Extra");
    b.rendered = b.graph->Render(b.source->output());
    return b;
}

std::vector<int16_t> pcmOf(const std::vector<Recorded>& samples) {
    std::vector<int16_t> out;
    for (const Recorded& r : samples) {
        size_t n = r.data.size() / 2;
        size_t at = out.size();
        out.resize(at + n);
        std::memcpy(out.data() + at, r.data.data(), n * 2);
    }
    return out;
}

const WAVEFORMATEX& waveOf(const CMediaType& mt) {
    return *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

// B, G, R of the pixel at (x, y) of a top-down RGB32 picture.
struct Rgb {
    int r, g, b;
};
Rgb pixel(const Recorded& frame, int x, int y) {
    const uint8_t* p = frame.data.data() + (static_cast<size_t>(y) * kWidth + x) * 4;
    return {p[2], p[1], p[0]};
}

void expectColour(Rgb got, Rgb want, const char* what) {
    constexpr int kTolerance = 14;
    EXPECT_NEAR(got.r, want.r, kTolerance) << what;
    EXPECT_NEAR(got.g, want.g, kTolerance) << what;
    EXPECT_NEAR(got.b, want.b, kTolerance) << what;
}

// Frames come one frame time apart from the first.
void expectFrameGrid(const std::vector<Recorded>& frames) {
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].timed, S_OK) << i;
        EXPECT_EQ(frames[i].start - frames[0].start, static_cast<REFERENCE_TIME>(i) * kFrameTime) << i;
        EXPECT_EQ(frames[i].stop - frames[i].start, kFrameTime) << i;
    }
}

class SystemGraph : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerPipelineClasses(); }
};

}  // namespace

TEST_F(SystemGraph, MpegSystemFileRendersThroughTheMpegFiltersToRgbAndPcm) {
    REQUIRE_MEDIA(path, "mpg");
    Built b = build(path, MEDIASUBTYPE_MPEG1System, &acceptsRgb32);
    ASSERT_EQ(b.rendered, S_OK);
    EXPECT_TRUE(b.has(CLSID_MPEG1Splitter));
    EXPECT_TRUE(b.has(CLSID_CMpegVideoCodec));
    EXPECT_TRUE(b.has(CLSID_CMpegAudioCodec));
    EXPECT_FALSE(b.has(CLSID_SystemVideoDecoder));

    CMediaType vt = b.video->connectionType();
    const BITMAPINFOHEADER* bmi = bitmapHeaderOf(vt.formattype, vt.pbFormat, vt.cbFormat);
    ASSERT_NE(bmi, nullptr);
    EXPECT_EQ(bmi->biWidth, kWidth);
    EXPECT_EQ(bmi->biHeight, -kHeight) << "RGB rows top-down";
    EXPECT_EQ(bmi->biBitCount, 32);
    EXPECT_EQ(bmi->biSizeImage, static_cast<DWORD>(kWidth * kHeight * 4));

    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    ASSERT_TRUE(b.audio->waitForEnd());
    std::vector<Recorded> frames = b.video->samples();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(frames[0].discontinuity);
    EXPECT_GE(frames[0].start, 0);
    EXPECT_LT(frames[0].start, kFrameTime);
    expectFrameGrid(frames);
    for (size_t i : {size_t{0}, frames.size() / 2, frames.size() - 1}) {
        ASSERT_EQ(frames[i].data.size(), static_cast<size_t>(kWidth * kHeight * 4));
        expectColour(pixel(frames[i], 80, 20), {255, 0, 0}, "top half");
        expectColour(pixel(frames[i], 80, 100), {32, 64, 192}, "bottom half");
        EXPECT_EQ(frames[i].data[3], 0xFF) << "opaque";
    }

    CMediaType at = b.audio->connectionType();
    ASSERT_EQ(waveOf(at).nSamplesPerSec, 44100u);
    int channels = waveOf(at).nChannels;
    std::vector<int16_t> pcm = pcmOf(b.audio->samples());
    double seconds = static_cast<double>(pcm.size() / channels) / 44100.0;
    EXPECT_NEAR(seconds, 2.0, 0.06);
    EXPECT_NEAR(toneFrequency(pcm, channels, 44100), kToneHz, kToneHz * 0.02);
    b.stop();
}

TEST_F(SystemGraph, SeekWhilePausedFlushesAndRestartsAtTheTarget) {
    REQUIRE_MEDIA(path, "mpg");
    Built b = build(path, MEDIASUBTYPE_MPEG1System, &acceptsRgb32);
    ASSERT_EQ(b.rendered, S_OK);
    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    ASSERT_TRUE(b.audio->waitForEnd());

    InterfacePtr<IMediaSeeking> seeking;
    b.graph->QueryInterface(IMediaSeeking::iid, seeking.putVoid());
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_NEAR(static_cast<double>(duration), 2.0 * UNITS, 0.1 * UNITS);
    LONGLONG target = UNITS;
    ASSERT_EQ(seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    ASSERT_TRUE(b.audio->waitForEnd());
    EXPECT_GE(b.video->flushes(), 1);
    ASSERT_FALSE(b.video->segments().empty());
    EXPECT_EQ(b.video->segments().back(), UNITS);

    // The first picture is the one showing at the target; nothing earlier comes out.
    std::vector<Recorded> frames = b.video->samples();
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(frames[0].discontinuity);
    EXPECT_LE(frames[0].start, 0);
    EXPECT_GT(frames[0].stop, 0);
    EXPECT_NEAR(static_cast<double>(frames.size()), kFrames / 2, 2);
    expectFrameGrid(frames);
    expectColour(pixel(frames[0], 80, 20), {255, 0, 0}, "top half after the seek");

    // Sound before the target is cut off to the sample.
    std::vector<Recorded> sound = b.audio->samples();
    ASSERT_FALSE(sound.empty());
    EXPECT_GE(sound[0].start, 0);
    EXPECT_LT(sound[0].start, UNITS / 44100 + 1);
    int channels = waveOf(b.audio->connectionType()).nChannels;
    double seconds = static_cast<double>(pcmOf(sound).size() / channels) / 44100.0;
    EXPECT_NEAR(seconds, 1.0, 0.06);
    b.stop();
}

TEST_F(SystemGraph, Mp4RendersThroughTheContainerSplitterAndGenericDecoders) {
    REQUIRE_MEDIA(path, "mp4");
    Built b = build(path, kMp4StreamSubtype, &acceptsRgb32);
    ASSERT_EQ(b.rendered, S_OK);
    EXPECT_TRUE(b.has(CLSID_ContainerSplitter));
    EXPECT_TRUE(b.has(CLSID_SystemVideoDecoder));
    EXPECT_TRUE(b.has(CLSID_SystemAudioDecoder));
    EXPECT_FALSE(b.has(CLSID_MPEG1Splitter));

    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    ASSERT_TRUE(b.audio->waitForEnd());
    // Pictures reordered by the decoder still come out in time order, all of them.
    std::vector<Recorded> frames = b.video->samples();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    expectFrameGrid(frames);
    expectColour(pixel(frames[10], 80, 20), {255, 0, 0}, "top half");
    expectColour(pixel(frames[10], 80, 100), {32, 64, 192}, "bottom half");

    CMediaType at = b.audio->connectionType();
    int channels = waveOf(at).nChannels;
    std::vector<int16_t> pcm = pcmOf(b.audio->samples());
    EXPECT_NEAR(static_cast<double>(pcm.size() / channels) / 44100.0, 2.0, 0.06);
    EXPECT_NEAR(toneFrequency(pcm, channels, 44100), kToneHz, kToneHz * 0.02);
    b.stop();
}

TEST_F(SystemGraph, WavePcmGoesStraightToTheSinkUnchanged) {
    REQUIRE_MEDIA(path, "wav");
    Built b = build(path, MEDIASUBTYPE_WAVE, &acceptsRgb32);
    // There is no picture to render: a partial success.
    ASSERT_TRUE(SUCCEEDED(b.rendered));
    EXPECT_TRUE(b.has(CLSID_ContainerSplitter));
    EXPECT_FALSE(b.has(CLSID_SystemAudioDecoder));
    EXPECT_FALSE(b.video->connected());
    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.audio->waitForEnd());
    std::vector<Recorded> sound = b.audio->samples();
    std::vector<int16_t> pcm = pcmOf(sound);
    EXPECT_EQ(pcm.size(), 48000u);
    EXPECT_NEAR(toneFrequency(pcm, 1, 48000), kToneHz, kToneHz * 0.01);
    // Pieces follow each other without gaps.
    for (size_t i = 1; i < sound.size(); ++i) {
        REFERENCE_TIME expected =
            sound[i - 1].start + static_cast<REFERENCE_TIME>(sound[i - 1].data.size() / 2) * UNITS / 48000;
        EXPECT_NEAR(static_cast<double>(sound[i].start), static_cast<double>(expected), 1.0);
    }
    b.stop();
}

TEST_F(SystemGraph, AviWithMpeg4AndPcmRenders) {
    REQUIRE_MEDIA(path, "avi");
    Built b = build(path, MEDIASUBTYPE_Avi, &acceptsRgb32);
    ASSERT_EQ(b.rendered, S_OK);
    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    ASSERT_TRUE(b.audio->waitForEnd());
    std::vector<Recorded> frames = b.video->samples();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    expectColour(pixel(frames[kFrames - 1], 80, 20), {255, 0, 0}, "top half");
    EXPECT_EQ(pcmOf(b.audio->samples()).size(), 2u * 44100u);
    b.stop();
}

TEST_F(SystemGraph, SinkTakingOnlyYv12GetsPlanarPicturesWithVBeforeU) {
    REQUIRE_MEDIA(path, "mpg");
    Built b = build(path, MEDIASUBTYPE_MPEG1System, &acceptsYv12);
    ASSERT_EQ(b.rendered, S_OK);
    CMediaType vt = b.video->connectionType();
    EXPECT_EQ(vt.subtype, MEDIASUBTYPE_YV12);
    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    std::vector<Recorded> frames = b.video->samples();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
    const size_t luma = kWidth * kHeight, chroma = (kWidth / 2) * (kHeight / 2);
    ASSERT_EQ(frames[5].data.size(), luma + 2 * chroma);
    const uint8_t* y = frames[5].data.data();
    const uint8_t* v = y + luma;
    const uint8_t* u = v + chroma;
    // Studio-range BT.601 values of the two colours of the pattern.
    EXPECT_NEAR(y[20 * kWidth + 80], 82, 6);
    EXPECT_NEAR(y[100 * kWidth + 80], 75, 6);
    EXPECT_NEAR(v[10 * (kWidth / 2) + 40], 240, 8);
    EXPECT_NEAR(u[10 * (kWidth / 2) + 40], 90, 8);
    b.stop();
}

namespace {

constexpr CLSID kPlanarConverterClass = guidOf("{5B1E7004-2C3D-4E5F-8A9B-0C1D2E3F4A5B}");

// Takes planar pictures, gives RGB32 ones (grey: only the path matters here).
class PlanarConverter : public CTransformFilter {
public:
    PlanarConverter() : CTransformFilter(u"Planar Converter", kPlanarConverterClass) {}
    HRESULT CheckInputType(const CMediaType* mt) override {
        return acceptsYv12(*mt) || videoOf(*mt, MEDIASUBTYPE_I420) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        return CheckInputType(in) == S_OK && acceptsRgb32(*out) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Video);
        mt->SetSubtype(&MEDIASUBTYPE_RGB32);
        mt->SetFormatType(&FORMAT_VideoInfo);
        auto* v = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        v->bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, kWidth * kHeight * 4, 0, 0, 0, 0};
        mt->SetSampleSize(kWidth * kHeight * 4);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* p) override {
        ALLOCATOR_PROPERTIES want = *p, got{};
        want.cBuffers = 2;
        want.cbBuffer = kWidth * kHeight * 4;
        want.cbAlign = 1;
        return a->SetProperties(&want, &got);
    }
    HRESULT Transform(IMediaSample*, IMediaSample* out) override {
        BYTE* p = nullptr;
        out->GetPointer(&p);
        std::memset(p, 0x80, kWidth * kHeight * 4);
        out->SetActualDataLength(kWidth * kHeight * 4);
        return S_OK;
    }
};

}  // namespace

TEST_F(SystemGraph, ConverterWaitingInTheGraphGetsPlanarPicturesRatherThanTheSinkRgb) {
    REQUIRE_MEDIA(path, "mpg");
    InterfacePtr<PlanarConverter> converter(new PlanarConverter());
    Built b = build(path, MEDIASUBTYPE_MPEG1System, &acceptsRgb32, converter.get());
    ASSERT_EQ(b.rendered, S_OK);
    // The decoder feeds the converter, the converter the sink.
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(converter->InputPin()->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(mt.subtype == MEDIASUBTYPE_YV12 || mt.subtype == MEDIASUBTYPE_I420);
    FreeMediaType(mt);
    EXPECT_TRUE(converter->OutputPin()->IsConnected());
    ASSERT_EQ(b.pause(), S_OK);
    ASSERT_TRUE(b.video->waitForEnd());
    EXPECT_EQ(b.video->samples().size(), static_cast<size_t>(kFrames));
    b.stop();
}

TEST_F(SystemGraph, MapperFindsTheMpegFiltersByTheirInputTypes) {
    InterfacePtr<IFilterMapper2> mapper;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, mapper.put()), S_OK);
    struct Want {
        GUID major, sub;
        CLSID clsid;
        const char16_t* name;
    };
    for (const Want& w :
         {Want{MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System, CLSID_MPEG1Splitter, u"MPEG-I Stream Splitter"},
          Want{MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Packet, CLSID_CMpegVideoCodec, u"MPEG Video Decoder"},
          Want{MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet, CLSID_CMpegAudioCodec, u"MPEG Audio Decoder"}}) {
        GUID types[2] = {w.major, w.sub};
        InterfacePtr<IEnumMoniker> e;
        ASSERT_EQ(mapper->EnumMatchingFilters(e.put(), 0, FALSE, 0x200001, TRUE, 1, types, nullptr, nullptr, FALSE,
                                              TRUE, 0, nullptr, nullptr, nullptr),
                  S_OK);
        bool found = false;
        IMoniker* m = nullptr;
        while (!found && e->Next(1, &m, nullptr) == S_OK) {
            InterfacePtr<IMoniker> moniker = InterfacePtr<IMoniker>::adopt(m);
            InterfacePtr<IBaseFilter> filter;
            ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.putVoid()), S_OK);
            CLSID c{};
            filter->GetClassID(&c);
            if (c != w.clsid) continue;
            found = true;
            InterfacePtr<IPropertyBag> bag;
            ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.putVoid()), S_OK);
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_BSTR;
            ASSERT_EQ(bag->Read(u"FriendlyName", &v, nullptr), S_OK);
            EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), w.name);
            VariantClear(&v);
        }
        EXPECT_TRUE(found);
    }
}

TEST_F(SystemGraph, GarbageBehindTheSourceFailsToRenderCleanly) {
    testsupport::TempDir dir;
    std::vector<uint8_t> noise(200 * 1024);
    uint32_t x = 7;
    for (uint8_t& c : noise) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
    testsupport::writeFile(dir / "noise.mp4", noise);
    Built b = build(dir / "noise.mp4", kMp4StreamSubtype, &acceptsRgb32);
    EXPECT_TRUE(FAILED(b.rendered));
    // Nothing the attempt added stays behind.
    EXPECT_FALSE(b.has(CLSID_ContainerSplitter));
}
