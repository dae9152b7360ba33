// Real files through the whole engine, as the application plays them: an MPEG-1/MP2
// program stream, an H.264/AAC MP4 and a PCM WAV made by ffmpeg, and an .mbc with WBCF
// sound made by the project's encoder, each opened by the DirectShow factory with the own
// file source, the texture renderer over the software device, and the mixer writing a WAV
// capture. Pictures are compared with the file decoded elsewhere: the FFmpeg-made files
// with ffmpeg's own decoding of the same bitstream turned into pixels by the engine's
// colour rule, the .mbc with the project's reader. Sound is measured in the capture.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "FfmpegFiles.h"
#include "PostedMessages.h"
#include "VideoTestHarness.h"
#include "framework/WideString.h"
#include "graphics/DisplayConfig.h"
#include "graphics/DrawBase.h"
#include "graphics/Image.h"
#include "graphics/LayerTexture.h"
#include "graphics/TextureFactory.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/MediaClasses.h"
#include "media/MoviePlayer.h"
#include "media/VideoFrameSource.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/WavCaptureOutput.h"
#include "platform/dshow/PipelineClasses.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/SoftwareAdapter.h"

namespace {

using ffmpegfiles::Kind;
using ffmpegfiles::Picture;
using Clock = std::chrono::steady_clock;

constexpr uintptr_t kCookie = 0x5EED;
// Only a guard against a hang; nothing here measures speed.
constexpr auto kPatience = std::chrono::seconds(30);
constexpr uint32_t kFrameMs = 1000 / ffmpegfiles::kRate;

HWND window() {
    return reinterpret_cast<HWND>(uintptr_t(0x7E20));
}

BOOL clientRect(HWND, RECT* r) {
    *r = RECT{0, 0, ffmpegfiles::kWidth, ffmpegfiles::kHeight};
    return TRUE;
}

// Largest channel difference between the engine's picture and the reference: the .mbc
// goes through the same decoder, so it must be exact. The FFmpeg-made files are decoded
// from the same lossy bitstream by the same library on both sides, so the codec's loss
// cancels out; what is left is the conversion to pixels (the engine's converter for the
// H.264 planes, the MPEG-1 decoder's own RGB output), the same on both sides, so one
// level covers a sample rounded differently.
int toleranceFor(Kind kind) {
    return kind == Kind::Mbc ? 0 : 1;
}

class EndToEndPlaybackTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() != Kind::Mbc) SKIP_WITHOUT_FFMPEG();
        path_ = ffmpegfiles::file(GetParam());
        ASSERT_FALSE(path_.empty()) << "the test file could not be made";

        ASSERT_TRUE(registerDirect3DModule());
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
        WindowApi api;
        api.GetClientRect = &clientRect;
        api.PostMessage = &fakegraph::recordPost;
        installWindowApi(api);
        {
            std::lock_guard<std::mutex> hold(fakegraph::postedMutex());
            fakegraph::posted().clear();
        }
        config_ = std::make_unique<DisplayConfig>();
        config_->setOptions(0);
        config_->setWindowedSize(ffmpegfiles::kWidth, ffmpegfiles::kHeight);
        drawBase_ = std::make_unique<DrawBase>(window(), *config_);
        ASSERT_NE(drawBase_->device(), nullptr);
        registerPipelineClasses();
        registerMediaClasses();
        auto capture = std::make_unique<WavCaptureOutput>(dir_ / "mix.wav", WavCaptureOutput::Pacing::RealTime);
        capture_ = capture.get();
        ASSERT_TRUE(Mixer::instance().setOutput(std::move(capture)));
    }
    void TearDown() override {
        if (player_) player_->close();
        player_.reset();
        factory_.reset();
        Mixer::instance().closeOutput();
        capture_ = nullptr;
        {
            ScopedLock hold(itemLock_);
            texture_.reset();
        }
        drawBase_.reset();
        config_.reset();
        uninstallWindowApi();
    }

    // Opens the file as the application's loader does and attaches a texture of the
    // picture's size to the renderer, with the item's lock as the hand-off lock.
    void open() {
        factory_ = std::make_unique<DirectShowPlayerFactory>(window(), ffmpegfiles::kWidth, ffmpegfiles::kHeight);
        factory_->setCompositor(drawBase_.get());
        player_ = InterfacePtr<MoviePlayer>::adopt(factory_->open(fromUtf8(path_.string()), 0x1200000, kCookie));
        ASSERT_TRUE(player_);
        const auto ready = fakegraph::postedMessages(DirectShowPlayerFactory::kMediaReadyMessage);
        ASSERT_EQ(ready.size(), 1u);
        EXPECT_EQ(static_cast<HRESULT>(ready[0].wParam), S_OK);
        EXPECT_EQ(static_cast<uintptr_t>(ready[0].lParam), kCookie);
        if (!player_->hasVideo()) return;
        source_ = player_->frameSource();
        ASSERT_NE(source_, nullptr);
        uint32_t w = 0, h = 0;
        player_->videoSize(&w, &h);
        InterfacePtr<LayerTexture> made =
            drawBase_->textureFactory().createLayerTexture(w, h, source_->textureFormat(), 1, false);
        ASSERT_TRUE(made);
        ASSERT_EQ(source_->attach(made.get()), 1);
        source_->setLock(&itemLock_);
        ScopedLock hold(itemLock_);
        texture_ = std::move(made);
    }

    std::vector<Picture> references() {
        if (GetParam() == Kind::Mbc) return ffmpegfiles::readerPictures(path_);
        // The MPEG-1 decoder delivers RGB itself; the others' planes pass the converter.
        return ffmpegfiles::decodedPictures(path_, GetParam() == Kind::Mpeg1);
    }

    // What the window thread does with the graph-event messages posted since the last call.
    void dispatchGraphEvents() {
        const auto events = fakegraph::postedMessages(DirectShowPlayerFactory::kGraphEventMessage);
        for (size_t i = handled_; i < events.size(); ++i)
            factory_->onGraphEvent(events[i].message, events[i].wParam, events[i].lParam);
        handled_ = events.size();
    }

    // The texture's pixels, alpha left out.
    Picture shown() {
        ScopedLock hold(itemLock_);
        return videotest::readRgb(*texture_);
    }

    // Polls (dispatching graph events) until the condition holds; false at the guard.
    template <class F>
    bool waitFor(F&& condition) {
        const auto giveUp = Clock::now() + kPatience;
        while (!condition()) {
            if (Clock::now() > giveUp) return false;
            dispatchGraphEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Waits until the texture shows reference `frame` within the tolerance; on failure
    // reports which reference the last picture was closest to.
    void expectShown(const std::vector<Picture>& refs, int frame, const char* when) {
        const int tolerance = toleranceFor(GetParam());
        Picture last;
        const bool seen = waitFor([&] {
            last = shown();
            return ffmpegfiles::largestDifference(last, refs[size_t(frame)]) <= tolerance;
        });
        EXPECT_TRUE(seen) << when << ": expected frame " << frame << ", shown is closest to frame "
                          << ffmpegfiles::closestPicture(refs, last) << " (largest difference "
                          << ffmpegfiles::largestDifference(last, refs[size_t(frame)]) << ")";
    }

    // Capture frames written so far.
    uint64_t captured() { return capture_->framesWritten(); }
    void waitForCapture(uint64_t frames) {
        const uint64_t until = captured() + frames;
        ASSERT_TRUE(waitFor([&] { return captured() >= until; })) << "the capture stopped advancing";
    }

    std::filesystem::path path_;
    testsupport::TempDir dir_;
    std::unique_ptr<DisplayConfig> config_;
    std::unique_ptr<DrawBase> drawBase_;
    WavCaptureOutput* capture_ = nullptr;
    std::unique_ptr<DirectShowPlayerFactory> factory_;
    InterfacePtr<MoviePlayer> player_;
    VideoFrameSource* source_ = nullptr;
    CriticalSection itemLock_;
    InterfacePtr<LayerTexture> texture_;
    size_t handled_ = 0;
};

TEST_P(EndToEndPlaybackTest, OpensWithItsSizeLengthAndStreams) {
    open();
    const bool video = ffmpegfiles::hasVideo(GetParam());
    EXPECT_EQ(player_->hasVideo(), video);
    EXPECT_TRUE(player_->hasAudio());
    EXPECT_EQ((player_->stateFlags() & MoviePlayer::HasVideo) != 0, video);
    EXPECT_NE(player_->stateFlags() & MoviePlayer::Opened, 0u);
    uint32_t w = 0, h = 0;
    ASSERT_EQ(player_->videoSize(&w, &h), 1);
    EXPECT_EQ(w, video ? uint32_t(ffmpegfiles::kWidth) : 0u);
    EXPECT_EQ(h, video ? uint32_t(ffmpegfiles::kHeight) : 0u);
    if (video) {
        uint32_t sw = 0, sh = 0;
        source_->size(&sw, &sh);
        EXPECT_EQ(sw, uint32_t(ffmpegfiles::kWidth));
        EXPECT_EQ(sh, uint32_t(ffmpegfiles::kHeight));
    }
    // One second of pictures and sound. The uncompressed and own formats know it exactly;
    // the lossy containers end on their last audio frame or on an estimate.
    const uint32_t length = player_->durationMs();
    if (GetParam() == Kind::Mbc || GetParam() == Kind::Wav) {
        EXPECT_EQ(length, 1000u);
    } else {
        EXPECT_GE(length, 900u);
        EXPECT_LE(length, 1100u);
    }
    EXPECT_EQ(player_->duration() / 10000, int64_t(length));
}

TEST_P(EndToEndPlaybackTest, PausedSeeksShowThePictureOfThatTime) {
    if (!ffmpegfiles::hasVideo(GetParam())) GTEST_SKIP() << "no pictures in this file";
    const std::vector<Picture> refs = references();
    ASSERT_EQ(refs.size(), size_t(ffmpegfiles::kFrames));
    // The references differ from frame to frame, so a wrong picture cannot pass.
    for (size_t n = 1; n < refs.size(); ++n) ASSERT_GT(ffmpegfiles::largestDifference(refs[n - 1], refs[n]), 8);
    open();

    ASSERT_EQ(player_->play(0), 1);
    ASSERT_EQ(player_->togglePause(), 1);
    ASSERT_NE(player_->stateFlags() & MoviePlayer::Paused, 0u);
    // Into a frame's time, forward, back to an earlier one, to the start and near the end:
    // halfway into each frame, as the MPEG-1 pictures start 10 ms after the sound.
    for (uint32_t ms : {620u, 300u, 0u, 940u, 100u}) {
        ASSERT_EQ(player_->seekToMs(ms), 1);
        expectShown(refs, int(ms / kFrameMs), ("paused seek to " + std::to_string(ms) + " ms").c_str());
        EXPECT_NEAR(double(player_->positionMs()), double(ms), 1.0) << ms;
    }
    EXPECT_NE(player_->stateFlags() & MoviePlayer::Paused, 0u);
}

TEST_P(EndToEndPlaybackTest, SoundLevelAndSideFollowVolumeAndPan) {
    open();
    struct Setting {
        int volume, pan;
        double left, right;  // expected, relative to the full level
    };
    // Volume 500 is -6.02 dB, half the amplitude; pan 500 puts the left side at -6.02 dB.
    const Setting settings[] = {
        {1000, 0, 1.0, 1.0}, {500, 0, 0.5, 0.5}, {100, 0, 0.1, 0.1}, {1000, -1000, 1.0, 0.0}, {1000, 500, 0.5, 1.0},
    };
    struct Stretch {
        uint64_t first, end;
    };
    std::vector<Stretch> stretches;
    ASSERT_EQ(player_->play(0), 1);
    for (const Setting& s : settings) {
        ASSERT_EQ(player_->setVolume(s.volume), 1);
        ASSERT_EQ(player_->setPan(s.pan), 1);
        // Each setting hears the movie from 100 ms: the tone is steady there.
        ASSERT_EQ(player_->seekToMs(100), 1);
        // The block being mixed while the levels changed is left out.
        const uint64_t first = captured() + 960;
        waitForCapture(960 + 9600);
        stretches.push_back({first, captured()});
    }
    player_->close();
    player_.reset();
    Mixer::instance().closeOutput();

    const std::vector<float> mix = ffmpegfiles::readCapture(dir_ / "mix.wav");
    const ffmpegfiles::Levels full = ffmpegfiles::levelsOf(mix, stretches[0].first, stretches[0].end);
    // 0.25 peak is 0.177 RMS; the lossy codecs keep a plain tone within a few percent.
    ASSERT_GE(full.windows, 5u);
    EXPECT_NEAR(full.left, 0.25 / std::sqrt(2.0), 0.02);
    EXPECT_NEAR(full.right, full.left, 0.01);
    for (size_t i = 1; i < stretches.size(); ++i) {
        const ffmpegfiles::Levels l = ffmpegfiles::levelsOf(mix, stretches[i].first, stretches[i].end);
        ASSERT_GE(l.windows, 5u) << "setting " << i;
        EXPECT_NEAR(l.left / full.left, settings[i].left, 0.03)
            << "volume " << settings[i].volume << " pan " << settings[i].pan;
        EXPECT_NEAR(l.right / full.right, settings[i].right, 0.03)
            << "volume " << settings[i].volume << " pan " << settings[i].pan;
    }
}

TEST_P(EndToEndPlaybackTest, SeekWhilePlayingLandsNearTheTarget) {
    std::vector<Picture> refs;
    if (ffmpegfiles::hasVideo(GetParam())) {
        refs = references();
        ASSERT_EQ(refs.size(), size_t(ffmpegfiles::kFrames));
    }
    open();
    ASSERT_EQ(player_->play(0), 1);
    ASSERT_TRUE(waitFor([&] { return player_->positionMs() >= 100; }));
    ASSERT_EQ(player_->seekToMs(700), 1);
    EXPECT_TRUE(player_->isPlaying());
    // Read at once, the position is the target or just past it.
    const uint32_t at = player_->positionMs();
    EXPECT_GE(at, 700u);
    EXPECT_LT(at, 850u);
    if (source_) {
        // The first picture after the seek is the target's (or the next, had it already
        // moved on) and from there the movie goes on.
        source_->resetFrame();
        ASSERT_TRUE(waitFor([&] { return source_->frameSignalled(); }));
        const int first = ffmpegfiles::closestPicture(refs, shown());
        EXPECT_GE(first, int(700 / kFrameMs));
        EXPECT_LE(first, int(700 / kFrameMs) + 2);
        ASSERT_TRUE(waitFor([&] { return ffmpegfiles::closestPicture(refs, shown()) >= first + 2; }));
    }
    EXPECT_TRUE(waitFor([&] { return player_->positionMs() >= 800; }));
}

TEST_P(EndToEndPlaybackTest, EndOfTheMovieStopsItAndWithLoopItStartsAgain) {
    std::vector<Picture> refs;
    if (ffmpegfiles::hasVideo(GetParam())) refs = references();
    open();
    // Without loop the end leaves the player stopped.
    ASSERT_EQ(player_->play(0), 1);
    EXPECT_TRUE(waitFor([&] { return !player_->isPlaying(); })) << "the end of the movie was not handled";
    EXPECT_EQ(player_->stateFlags() & (MoviePlayer::Playing | MoviePlayer::Paused), 0u);
    if (!refs.empty()) {
        const int last = ffmpegfiles::closestPicture(refs, shown());
        EXPECT_EQ(last, ffmpegfiles::kFrames - 1) << "the last picture was not shown";
    }

    // With loop it runs past the end and starts again from the beginning.
    ASSERT_EQ(player_->seekToMs(0), 1);
    ASSERT_EQ(player_->play(1), 1);
    uint32_t furthest = 0;
    bool wrapped = false;
    EXPECT_TRUE(waitFor([&] {
        const uint32_t now = player_->positionMs();
        furthest = std::max(furthest, now);
        wrapped = wrapped || (furthest >= 800 && now < 500 && player_->isPlaying());
        return wrapped;
    })) << "furthest "
        << furthest;
    EXPECT_NE(player_->stateFlags() & MoviePlayer::Looping, 0u);
    if (!refs.empty()) {
        EXPECT_TRUE(waitFor([&] {
            const int n = ffmpegfiles::closestPicture(refs, shown());
            return n >= 0 && n < ffmpegfiles::kFrames / 2;
        })) << "pictures did not start again";
    }
    // And it goes on playing: the second round reaches its end too.
    EXPECT_TRUE(waitFor([&] { return player_->positionMs() >= 800; }));
    EXPECT_TRUE(player_->isPlaying());
}

INSTANTIATE_TEST_SUITE_P(Files, EndToEndPlaybackTest, ::testing::Values(Kind::Mpeg1, Kind::H264, Kind::Wav, Kind::Mbc),
                         [](const ::testing::TestParamInfo<Kind>& info) { return ffmpegfiles::nameOf(info.param); });

}  // namespace
