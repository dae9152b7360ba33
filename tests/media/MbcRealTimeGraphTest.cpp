// The ten-second 1280x720 MBC movie with stereo sound through the real engine in real
// time: "File Stream Filter" reading the file from disk, the MBC splitter, a recording
// video renderer on the graph's clock (the audio renderer's), and the "Audio Renderer"
// mixing into a WAV capture paced by the wall clock. Every picture and every sound
// sample is traced back to its place in the file.
//
// On a loaded machine pictures may come late or be skipped; the test asserts what must
// hold anyway (stamps, order, never early, the sound complete and in order) and prints
// the rest.
#include <gtest/gtest.h>

#include <thread>

#include "../platform/audio/AudioTestUtil.h"
#include "MbcMovie.h"
#include "framework/WideString.h"
#include "media/FileStreamFilter.h"
#include "platform/audio/AudioOutputRegistry.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/WavCaptureOutput.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/PipelineClasses.h"
#include "splitters/MbcSplitter.h"

using namespace mbcmovie;

namespace {

IPin* pinOf(IBaseFilter* f, const char16_t* name) {
    IPin* pin = nullptr;
    f->FindPin(name, &pin);
    if (pin) pin->Release();  // the filter keeps it
    return pin;
}

const MovieSpec kSpec = testMovie();

// Whole milliseconds of `frames` sound frames, rounded up, in 100-ns units.
REFERENCE_TIME stampOf(uint64_t frames) {
    return static_cast<REFERENCE_TIME>((frames * 1000 + kSampleRate - 1) / kSampleRate) * 10000;
}

class MbcRealTimeGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Movie& m = movie();
        ASSERT_FALSE(m.path.empty()) << "the movie could not be made";
        ASSERT_EQ(m.pcm.size(), kSpec.soundFrames() * kChannels);
        std::printf("movie: %llu bytes, made in %.1f s\n", static_cast<unsigned long long>(m.bytes), m.encodeSeconds);
        registerPipelineClasses();

        capturePath = dir / "heard.wav";
        auto out = createAudioOutput("wav", capturePath.string());
        ASSERT_TRUE(out);
        capture = dynamic_cast<WavCaptureOutput*>(out.get());
        ASSERT_TRUE(Mixer::instance().setOutput(std::move(out)));

        graph = InterfacePtr<IGraphBuilder>(new FilterGraph());
        source = InterfacePtr<FileStreamFilter>(new FileStreamFilter(systemFileCallbacks()));
        ASSERT_EQ(graph->AddFilter(source.get(), FileStreamFilter::kName), S_OK);
        ASSERT_EQ(source->Load(fromUtf8(m.path.string()).c_str(), nullptr), S_OK);
        ASSERT_EQ(MbcSplitter::create(IBaseFilter::iid, reinterpret_cast<void**>(splitter.put())), S_OK);
        ASSERT_EQ(graph->AddFilter(splitter.get(), MbcSplitter::kName), S_OK);
        ASSERT_EQ(graph->Connect(pinOf(source.get(), FileStreamFilter::kPinName), pinOf(splitter.get(), u"Input")),
                  S_OK);

        WavCaptureOutput* wav = capture;
        recorder = InterfacePtr<PictureRecorder>(new PictureRecorder([wav] { return wav->framesWritten(); }));
        tap = InterfacePtr<AudioTap>(new AudioTap());
        ASSERT_EQ(graph->AddFilter(recorder.get(), u"Picture Recorder"), S_OK);
        ASSERT_EQ(graph->AddFilter(tap.get(), u"Audio Tap"), S_OK);
        ASSERT_EQ(graph->Render(pinOf(splitter.get(), u"Video")), S_OK);
        ASSERT_EQ(graph->ConnectDirect(pinOf(splitter.get(), u"Audio"), pinOf(tap.get(), u"XForm In"), nullptr), S_OK);
        ASSERT_EQ(graph->Render(pinOf(tap.get(), u"XForm Out")), S_OK);
        ASSERT_EQ(graph->FindFilterByName(u"Audio Renderer", audioRenderer.put()), S_OK);
        control = graph.as<IMediaControl>();
        events = graph.as<IMediaEventEx>();
    }
    void TearDown() override {
        if (control) control->Stop();
        Mixer::instance().closeOutput();
    }

    bool waitForComplete(LONG timeoutMs) {
        LONG code = 0;
        LONG_PTR a = 0, b = 0;
        while (events->GetEvent(&code, &a, &b, timeoutMs) == S_OK) {
            events->FreeEventParams(code, a, b);
            EXPECT_NE(code, EC_ERRORABORT) << std::hex << a;
            if (code == EC_COMPLETE) return true;
        }
        return false;
    }

    testsupport::TempDir dir;
    std::filesystem::path capturePath;
    WavCaptureOutput* capture = nullptr;
    InterfacePtr<IGraphBuilder> graph;
    InterfacePtr<FileStreamFilter> source;
    InterfacePtr<IBaseFilter> splitter, audioRenderer;
    InterfacePtr<PictureRecorder> recorder;
    InterfacePtr<AudioTap> tap;
    InterfacePtr<IMediaControl> control;
    InterfacePtr<IMediaEventEx> events;
};

TEST_F(MbcRealTimeGraphTest, PlaysInRealTimeWithTheFilesStampsAndAllItsSound) {
    // The types the splitter offered and the renderers took.
    const CMediaType video = recorder->type();
    EXPECT_EQ(video.majortype, MEDIATYPE_Video);
    EXPECT_EQ(video.subtype, MEDIASUBTYPE_RGB32);
    ASSERT_EQ(video.formattype, FORMAT_VideoInfo);
    const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(video.Format());
    EXPECT_EQ(vih.rcSource.right, LONG(kWidth));
    EXPECT_EQ(vih.rcSource.bottom, LONG(kHeight));
    EXPECT_EQ(vih.AvgTimePerFrame, kSpec.frameTime(1));
    EXPECT_EQ(vih.bmiHeader.biWidth, LONG(kWidth));
    EXPECT_EQ(vih.bmiHeader.biHeight, -LONG(kHeight));
    EXPECT_EQ(vih.bmiHeader.biBitCount, 32);
    EXPECT_EQ(vih.bmiHeader.biSizeImage, kWidth * 4 * kHeight);
    EXPECT_TRUE(video.IsFixedSize());
    EXPECT_FALSE(video.IsTemporalCompressed());
    const CMediaType audio = tap->InputPin()->CurrentMediaType();
    EXPECT_EQ(audio.subtype, MEDIASUBTYPE_PCM);
    ASSERT_EQ(audio.formattype, FORMAT_WaveFormatEx);
    const auto& wf = *reinterpret_cast<const WAVEFORMATEX*>(audio.Format());
    EXPECT_EQ(wf.nChannels, kChannels);
    EXPECT_EQ(wf.nSamplesPerSec, kSampleRate);
    EXPECT_EQ(wf.wBitsPerSample, 16);
    EXPECT_EQ(wf.nBlockAlign, 4);
    EXPECT_EQ(wf.nAvgBytesPerSec, kSampleRate * 4);
    // Eight pictures of sound, rounded up to whole KiB.
    const uint64_t eight = uint64_t(kSpec.frameTimeMs(8)) * kSampleRate / 1000 * 4;
    EXPECT_EQ(audio.GetSampleSize(), (eight + 1023) / 1024 * 1024);

    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    OAFilterState state = -1;
    ASSERT_EQ(control->GetState(20000, &state), S_OK);
    InterfacePtr<IReferenceClock> clock;
    ASSERT_EQ(graph.as<IMediaFilter>()->GetSyncSource(clock.put()), S_OK);
    EXPECT_EQ(clock.get(), audioRenderer.as<IReferenceClock>().get()) << "pictures follow the sound";
    ASSERT_TRUE(recorder->waitForDrawn(1));
    EXPECT_EQ(recorder->drawn()[0].number, 0) << "pause shows the first picture";

    const double cpuBefore = processSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(waitForComplete(60000));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = processSeconds() - cpuBefore;
    int dropped = -1;
    recorder->get_FramesDroppedInRenderer(&dropped);
    ASSERT_EQ(control->Stop(), S_OK);
    Mixer::instance().closeOutput();
    const std::vector<Drawn> drawn = recorder->drawn();
    const std::vector<Tapped> tapped = tap->tapped();
    const std::vector<audiotest::Frame> heard = audiotest::readCapture(capturePath);

    // Pictures: each one the file's frame its stamps say, in order, never early.
    std::vector<double> late;
    int previous = -1;
    for (const Drawn& d : drawn) {
        if (!d.running) continue;
        ASSERT_GT(d.number, previous) << "pictures out of order or unreadable";
        previous = d.number;
        const uint32_t n = static_cast<uint32_t>(d.number);
        EXPECT_EQ(d.start, kSpec.frameTime(n)) << n;
        EXPECT_EQ(d.stop, kSpec.frameTime(n + 1)) << n;
        EXPECT_EQ(d.mediaStart, d.start) << n;
        EXPECT_EQ(d.mediaStop, d.stop) << n;
        EXPECT_EQ(d.length, LONG(kWidth * 4 * kHeight)) << n;
        EXPECT_EQ(d.sync, kSpec.isIntra(n)) << n;
        EXPECT_EQ(d.discontinuity, n == 0) << n;
        EXPECT_GE(d.lateness, 0) << "picture " << n << " was early";
        late.push_back(double(d.lateness) / 1e4);
    }
    const size_t shown = late.size();
    std::printf(
        "pictures: %zu of %u shown, %d dropped by the renderer, %zu never delivered; lateness p50 %.2f ms, "
        "p99 %.2f ms, max %.2f ms; %.2f s of processor time over %.2f s\n",
        shown, kSpec.frames, dropped, kSpec.frames - shown - size_t(std::max(dropped, 0)), percentile(late, 0.5),
        percentile(late, 0.99), percentile(late, 1.0), cpu, wall);
    EXPECT_GE(shown, size_t(kSpec.frames) / 2) << "most pictures must make it even on a busy machine";
    EXPECT_EQ(previous, int(kSpec.frames) - 1) << "the last picture is shown";

    // Sound samples as the splitter stamped them: whole milliseconds, rounded up.
    uint64_t count = 0;
    for (size_t i = 0; i < tapped.size(); ++i) {
        const Tapped& t = tapped[i];
        ASSERT_EQ(t.length % 4, 0) << i;
        const uint64_t k = uint64_t(t.length) / 4;
        EXPECT_EQ(t.start, stampOf(count)) << i;
        EXPECT_EQ(t.stop, stampOf(count + k)) << i;
        EXPECT_EQ(t.mediaStart, t.start) << i;
        EXPECT_EQ(t.mediaStop, t.stop) << i;
        EXPECT_TRUE(t.sync) << i;
        EXPECT_EQ(t.discontinuity, i == 0) << i;
        count += k;
    }
    EXPECT_EQ(count, kSpec.soundFrames()) << "all the sound left the splitter";

    // The capture: the decoded sound, sample for sample and in order; only what a starved
    // renderer had to drop may be missing.
    const std::vector<int16_t>& pcm = movie().pcm;
    uint64_t next = 0, heardFrames = 0, skipped = 0, wrong = 0, backwards = 0;
    for (const audiotest::Frame& f : heard) {
        if (f.left == 0 && f.right == 0) continue;
        const int64_t at = positionOf(f.left, f.right);
        if (at < 0 || uint64_t(at) >= kSpec.soundFrames()) {
            ++wrong;
            continue;
        }
        const uint64_t p = uint64_t(at);
        if (p < next) ++backwards;
        if (p > next) skipped += p - next;
        if (std::lround(f.left * 32768.0f) != pcm[p * 2] || std::lround(f.right * 32768.0f) != pcm[p * 2 + 1]) ++wrong;
        next = p + 1;
        ++heardFrames;
    }
    std::printf("sound: %llu of %llu frames heard, %llu skipped\n", static_cast<unsigned long long>(heardFrames),
                static_cast<unsigned long long>(kSpec.soundFrames()), static_cast<unsigned long long>(skipped));
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(backwards, 0u);
    EXPECT_EQ(next, kSpec.soundFrames()) << "the sound plays to its end";
    EXPECT_EQ(heardFrames + skipped, kSpec.soundFrames());
    EXPECT_GE(heardFrames, kSpec.soundFrames() * 95 / 100);

    // Sound and pictures together: what was being heard when each picture went up.
    std::vector<double> apart;
    for (const Drawn& d : drawn) {
        if (!d.running || d.captured < 2 * 480 || d.captured > heard.size()) continue;
        const audiotest::Frame& f = heard[d.captured - 481];
        const int64_t at = positionOf(f.left, f.right);
        if (at < 0) continue;
        apart.push_back((double(at) / kSampleRate - double(kSpec.frameTime(uint32_t(d.number))) / 1e7) * 1000);
    }
    ASSERT_GT(apart.size(), shown / 2);
    std::printf("sound ahead of the picture: p50 %.1f ms, min %.1f ms, max %.1f ms\n", percentile(apart, 0.5),
                percentile(apart, 0.0), percentile(apart, 1.0));
    EXPECT_LT(std::fabs(percentile(apart, 0.5)), 100.0);
}

}  // namespace
