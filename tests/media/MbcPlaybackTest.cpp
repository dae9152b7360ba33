// A whole movie through the engine as the application plays it: an .mbc file made with
// the project's encoder (lossless transform, RGB layout) opened by the DirectShow factory
// with the own file source and the texture renderer over the software device. Pictures
// reach an attached LayerTexture exactly as encoded, the sound reaches the mixer's WAV
// capture, and stop, seek and loop behave.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "PostedMessages.h"
#include "VideoTestHarness.h"
#include "framework/ComUser.h"
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
#include "tests/support/TestSupport.h"
#include "tools/mbcenc/MbcFileWriter.h"

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 16;
constexpr int kFrames = 15;  // half a second at 30 frames per second
constexpr uint32_t kSampleRate = 48000;
constexpr uintptr_t kCookie = 0xBEEF;
// Only a guard against a hang; nothing here measures speed.
constexpr auto kPatience = std::chrono::seconds(30);

// Frame t: every pixel distinct within the frame, every frame distinct from the others.
std::vector<uint8_t> picture(int t) {
    std::vector<uint8_t> p(kWidth * kHeight * 4);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* q = &p[(y * kWidth + x) * 4];
            q[0] = static_cast<uint8_t>(x * 7 + t * 3);
            q[1] = static_cast<uint8_t>(y * 13 + x);
            q[2] = static_cast<uint8_t>(t * 16 + y);
            q[3] = 255;
        }
    return p;
}

// The picture as the texture holds it: X8R8G8B8 words, alpha ignored.
std::vector<uint32_t> asPixels(const std::vector<uint8_t>& bgra) {
    std::vector<uint32_t> out(bgra.size() / 4);
    for (size_t i = 0; i < out.size(); ++i) {
        std::memcpy(&out[i], &bgra[i * 4], 4);
        out[i] &= 0x00FFFFFF;
    }
    return out;
}

std::vector<uint8_t> makeMovie() {
    MbcFileOptions options;
    options.video.width = kWidth;
    options.video.height = kHeight;
    options.video.layout = 16;  // RGB
    options.video.transform = 1;
    options.video.quantiser = 0;
    options.pattern = "IPBB";
    options.chunkLength = 8;
    MbcFileWriter writer;
    EXPECT_TRUE(writer.begin(options));
    for (int t = 0; t < kFrames; ++t) EXPECT_TRUE(writer.addFrame(picture(t).data(), kWidth * 4));
    // A 440 Hz tone at half scale over the movie's length.
    size_t frames = kSampleRate * kFrames / 30;
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 440.0 * i / kSampleRate));
    EXPECT_TRUE(writer.setAudio(pcm.data(), frames, 2, kSampleRate, WbcfEncoderOptions{}));
    std::vector<uint8_t> file;
    EXPECT_TRUE(writer.finish(file));
    return file;
}

// The float samples of a capture's data chunk.
std::vector<float> readCapture(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size = 0;
        std::memcpy(&size, &bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            size_t n = std::min<size_t>(size, bytes.size() - at - 8) / 4;
            std::vector<float> samples(n);
            std::memcpy(samples.data(), &bytes[at + 8], n * 4);
            return samples;
        }
        at += 8 + size;
    }
    return {};
}

BOOL clientRect(HWND, RECT* r) {
    *r = RECT{0, 0, 64, 48};
    return TRUE;
}

class MbcPlaybackTest : public ::testing::Test {
protected:
    static HWND window() { return reinterpret_cast<HWND>(uintptr_t(0x7B00)); }

    void SetUp() override {
        // The compositor on the software device, its window with a queue the test reads.
        ASSERT_TRUE(registerDirect3DModule());
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
        WindowApi api;
        api.GetClientRect = &clientRect;
        api.PostMessage = &fakegraph::recordPost;
        installWindowApi(api);
        config_ = std::make_unique<DisplayConfig>();
        config_->setOptions(0);
        config_->setWindowedSize(64, 48);
        drawBase_ = std::make_unique<DrawBase>(window(), *config_);
        ASSERT_NE(drawBase_->device(), nullptr);
        registerPipelineClasses();
        registerMediaClasses();
        auto capture = std::make_unique<WavCaptureOutput>(dir_ / "mix.wav", WavCaptureOutput::Pacing::RealTime);
        ASSERT_TRUE(Mixer::instance().setOutput(std::move(capture)));
        testsupport::writeFile(dir_ / "movie.mbc", makeMovie());
    }
    void TearDown() override {
        Mixer::instance().closeOutput();
        texture_.reset();
        drawBase_.reset();
        config_.reset();
        uninstallWindowApi();
    }

    // What the window thread does with the graph-event messages posted since the last call.
    void dispatchGraphEvents(DirectShowPlayerFactory& factory) {
        auto events = fakegraph::postedMessages(DirectShowPlayerFactory::kGraphEventMessage);
        for (size_t i = handled_; i < events.size(); ++i)
            factory.onGraphEvent(events[i].message, events[i].wParam, events[i].lParam);
        handled_ = events.size();
    }

    // Index of the source frame the texture shows, or -1.
    int shownFrame() {
        std::vector<uint32_t> shown;
        {
            ScopedLock lock(itemLock_);
            shown = videotest::readRgb(*texture_);
        }
        for (int t = 0; t < kFrames; ++t)
            if (shown == expected_[t]) return t;
        return -1;
    }

    // Waits for the next picture and answers which frame it is.
    int nextFrame(VideoFrameSource* source, DirectShowPlayerFactory& factory) {
        auto until = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < until) {
            dispatchGraphEvents(factory);
            if (source->waitForFrame(20) == VideoFrameSource::kWaitObject0) {
                source->resetFrame();
                return shownFrame();
            }
        }
        return -2;
    }

    testsupport::TempDir dir_;
    std::unique_ptr<DisplayConfig> config_;
    std::unique_ptr<DrawBase> drawBase_;
    CriticalSection itemLock_;
    InterfacePtr<LayerTexture> texture_;
    std::vector<std::vector<uint32_t>> expected_;
    size_t handled_ = 0;
};

TEST_F(MbcPlaybackTest, PlaysPicturesAndSoundSeeksAndLoops) {
    for (int t = 0; t < kFrames; ++t) expected_.push_back(asPixels(picture(t)));
    DirectShowPlayerFactory factory(window(), 64, 48);
    factory.setCompositor(drawBase_.get());
    InterfacePtr<MoviePlayer> player =
        InterfacePtr<MoviePlayer>::adopt(factory.open(fromUtf8((dir_ / "movie.mbc").string()), 0x1200000, kCookie));
    ASSERT_TRUE(player);

    auto ready = fakegraph::postedMessages(DirectShowPlayerFactory::kMediaReadyMessage);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(static_cast<HRESULT>(ready[0].wParam), S_OK);
    EXPECT_EQ(static_cast<uintptr_t>(ready[0].lParam), kCookie);
    uint32_t w = 0, h = 0;
    player->videoSize(&w, &h);
    EXPECT_EQ(w, uint32_t(kWidth));
    EXPECT_EQ(h, uint32_t(kHeight));
    EXPECT_TRUE(player->hasVideo());
    EXPECT_TRUE(player->hasAudio());
    EXPECT_EQ(player->durationMs(), 500u);

    // The application's hand-off: a texture of the picture's size and format, its lock.
    VideoFrameSource* source = player->frameSource();
    ASSERT_NE(source, nullptr);
    texture_ = drawBase_->textureFactory().createLayerTexture(w, h, source->textureFormat(), 1, false);
    ASSERT_TRUE(texture_);
    ASSERT_EQ(source->attach(texture_.get()), 1);
    source->setLock(&itemLock_);
    ASSERT_EQ(player->setVolume(1000), 1);

    // Looping play: pictures arrive in order, exactly as encoded, and after the last one
    // the movie starts again from the first.
    ASSERT_EQ(player->play(1), 1);
    int previous = -1, seen = 0;
    bool wrapped = false, sawLast = false;
    while (!wrapped) {
        int frame = nextFrame(source, factory);
        ASSERT_GE(frame, 0) << "a picture that is no source frame, or none at all";
        sawLast = sawLast || frame == kFrames - 1;
        if (frame < previous) wrapped = true;
        previous = frame;
        ++seen;
    }
    EXPECT_TRUE(sawLast);
    EXPECT_GE(seen, 3);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_TRUE(player->stateFlags() & MoviePlayer::Looping);

    // stop: paused on the first picture.
    ASSERT_EQ(player->stop(), 1);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->positionMs(), 0u);
    auto until = std::chrono::steady_clock::now() + kPatience;
    while (shownFrame() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(shownFrame(), 0);

    // A seek while paused shows the picture at that time: 200 ms is frame 6.
    source->resetFrame();
    ASSERT_EQ(player->seekToMs(200), 1);
    until = std::chrono::steady_clock::now() + kPatience;
    while (shownFrame() != 6 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(shownFrame(), 6);
    EXPECT_EQ(player->positionMs(), 200u);

    player->close();
    player.reset();
    Mixer::instance().closeOutput();

    // The tone reached the mix.
    std::vector<float> mix = readCapture(dir_ / "mix.wav");
    float peak = 0;
    for (float s : mix) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.3f);
    EXPECT_LT(peak, 0.7f);
}

}  // namespace
