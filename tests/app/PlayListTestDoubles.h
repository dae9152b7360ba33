#pragma once
// Test doubles for the play list: a player whose answers the test sets and whose calls it
// counts, a factory handing out prepared players per path, a host recording what the list
// asks of the application, and a compositor on the software device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/PlayListHost.h"
#include "framework/InterfacePtr.h"
#include "framework/WindowApi.h"
#include "graphics/DisplayConfig.h"
#include "graphics/DrawBase.h"
#include "graphics/LayerDrawer.h"
#include "media/MoviePlayer.h"
#include "media/MoviePlayerFactory.h"
#include "media/VideoFrameSource.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/PresentationTarget.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "tests/support/TestSupport.h"

namespace apptest {

class TestPlayer : public MoviePlayer {
public:
    TestPlayer(bool video, bool audio, uint32_t width, uint32_t height, uint32_t durationMs)
        : video_(video), audio_(audio), width_(width), height_(height), duration_(durationMs) {}

    // A frame source as a texture renderer sets it up: top-down A8R8G8B8 pictures of the
    // video size.
    VideoFrameSource& addFrameSource() {
        source_ = std::make_unique<VideoFrameSource>(VideoFrameSource::TargetKind::Texture);
        source_->setLayout(int32_t(width_), -int32_t(height_), int64_t(width_) * 4);
        source_->setFormats(9, D3DFMT_A8R8G8B8);
        return *source_;
    }

    std::atomic<int> plays{0}, closes{0}, videoRects{0}, pan{12345}, volume{12345};
    std::atomic<uint32_t> lastSeek{0xFFFFFFFFu};
    bool acceptAudioChanges = true;

    void close() override { ++closes; }
    int play(int) override { return ++plays, 0; }
    int stop() override { return 0; }
    bool isPlaying() const override { return plays > 0; }
    uint32_t positionMs() override { return 0; }
    int64_t position() override { return 0; }
    int togglePause() override { return 0; }
    int seekForwardMs(uint32_t) override { return 0; }
    int seekBackMs(uint32_t) override { return 0; }
    int seekToMs(uint32_t ms) override { return lastSeek = ms, 0; }
    int setPan(int p) override { return acceptAudioChanges ? (pan = p, 1) : 0; }
    int setVolume(int v) override { return acceptAudioChanges ? (volume = v, 1) : 0; }
    uint32_t durationMs() const override { return duration_; }
    int64_t duration() const override { return int64_t(duration_) * 10000; }
    int videoSize(uint32_t* w, uint32_t* h) const override {
        if (!w || !h) return 0;
        *w = video_ ? width_ : 0;
        *h = video_ ? height_ : 0;
        return 1;
    }
    bool hasVideo() const override { return video_; }
    bool hasAudio() const override { return audio_; }
    int setVideoRect(int, const POINT*, const SIZE*) override { return ++videoRects, 1; }
    int toggleFullScreen(int) override { return 0; }
    int seekRelative(int64_t) override { return 0; }
    int seekTo(int64_t) override { return 0; }
    int setRate(double) override { return 0; }
    int setPanRaw(int32_t) override { return 0; }
    int setVolumeRaw(int32_t) override { return 0; }
    void suspend() override {}
    void resume() override {}
    VideoFrameSource* frameSource() override { return source_.get(); }

private:
    bool video_, audio_;
    uint32_t width_, height_, duration_;
    std::unique_ptr<VideoFrameSource> source_;
};

// Hands out the player registered for a path (a new reference each time), or null.
class TestFactory : public MoviePlayerFactory {
public:
    struct Call {
        std::u16string path;
        uint32_t flags;
        uintptr_t cookie;
    };

    void add(const std::u16string& path, TestPlayer* player) { players_[path] = player; }
    MoviePlayer* open(const std::u16string& fileName, uint32_t flags, uintptr_t cookie) override {
        calls.push_back({fileName, flags, cookie});
        auto it = players_.find(fileName);
        if (it == players_.end() || !it->second) return nullptr;
        it->second->addRef();
        return it->second.get();
    }
    std::vector<Call> calls;

private:
    std::map<std::u16string, InterfacePtr<TestPlayer>> players_;
};

// Keeps the last presented picture of the software device as 0x00RRGGBB.
class CaptureTarget : public gfx::PresentationTarget {
public:
    void present(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) override {
        std::lock_guard<std::mutex> hold(mutex_);
        width_ = width;
        rows_.clear();
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* p = bgra + size_t(y) * stride + size_t(x) * 4;
                rows_.push_back(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16);
            }
    }
    uint32_t at(uint32_t x, uint32_t y) {
        std::lock_guard<std::mutex> hold(mutex_);
        size_t i = size_t(y) * width_ + x;
        return x < width_ && i < rows_.size() ? rows_[i] : 0xDEADBEEF;
    }

private:
    std::mutex mutex_;
    uint32_t width_ = 0;
    std::vector<uint32_t> rows_;
};

// A compositor on the software device presenting into a capture target. The window is a
// made-up handle whose client size the installed window table reports (unless the test
// gives a real window of an installed window system).
class SoftwareCompositor {
public:
    static HWND fakeWindow() { return reinterpret_cast<HWND>(uintptr_t(0x7150)); }

    SoftwareCompositor(int32_t width, int32_t height, HWND window = nullptr) {
        if (!window) {
            window = fakeWindow();
            clientRect() = RECT{0, 0, width, height};
            WindowApi api;
            api.GetClientRect = [](HWND w, RECT* r) -> BOOL {
                if (w != fakeWindow() || !r) return FALSE;
                *r = clientRect();
                return TRUE;
            };
            installWindowApi(api);
            ownsApi_ = true;
        }
        EXPECT_TRUE(registerDirect3DModule());
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
        gfx::SoftwareAdapter::processAdapter()->setPresentationTarget(window, capture);
        // Made once the runtime is registered: the configuration loads it.
        config = std::make_unique<DisplayConfig>();
        config->setOptions(128);
        config->setWindowedSize(width, height);
        drawBase = std::make_unique<DrawBase>(window, *config);
    }
    ~SoftwareCompositor() {
        drawBase.reset();
        config.reset();
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
        if (ownsApi_) uninstallWindowApi();
    }

    // One frame as the render loop makes it: clear, the callback draws, present.
    template <class F>
    void frame(uint32_t background, F&& drawLayers) {
        {
            ScopedLock hold(drawBase->sceneLock());
            drawBase->beginScene();
            drawBase->layerDrawer().clear(nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0);
            drawLayers();
            drawBase->endScene();
        }
        drawBase->present();
    }

    std::shared_ptr<CaptureTarget> capture = std::make_shared<CaptureTarget>();
    std::unique_ptr<DisplayConfig> config;
    std::unique_ptr<DrawBase> drawBase;

private:
    static RECT& clientRect() {
        static RECT r{};
        return r;
    }
    bool ownsApi_ = false;
};

class TestHost : public PlayListHost {
public:
    DrawBase* compositor() override { return drawBase; }
    MoviePlayerFactory* directShowFactory() override { return &directShow; }
    MoviePlayerFactory* mediaFoundationFactory() override { return withMediaFoundation ? &mediaFoundation : nullptr; }
    HWND mainWindow() override { return window; }
    void videoAreaSize(uint32_t* w, uint32_t* h) override {
        *w = areaWidth;
        *h = areaHeight;
    }
    void resizeToVideoSize(uint32_t w, uint32_t h) override {
        resizes.push_back({w, h});
        areaWidth = w;
        areaHeight = h;
    }
    void notifyListEditor(int32_t selectId) override { notified.push_back(selectId); }
    void showLoadError() override { ++loadErrors; }

    DrawBase* drawBase = nullptr;
    TestFactory directShow;
    TestFactory mediaFoundation;
    bool withMediaFoundation = true;
    HWND window = nullptr;
    uint32_t areaWidth = 640, areaHeight = 480;
    std::vector<std::pair<uint32_t, uint32_t>> resizes;
    std::vector<int32_t> notified;
    int loadErrors = 0;
};

// A 24-bit bottom-up BMP of w x h pixels of one 0xRRGGBB colour.
inline void writeBmp(const std::filesystem::path& path, uint32_t w, uint32_t h, uint32_t rgb) {
    const uint32_t row = (w * 3 + 3) & ~3u;
    std::vector<uint8_t> b(54 + size_t(row) * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M', b[26] = 1, b[28] = 24;
    put32(2, uint32_t(b.size())), put32(10, 54), put32(14, 40), put32(18, w), put32(22, h);
    for (uint32_t y = 0; y < h; ++y)
        for (size_t i = 54 + size_t(y) * row, end = i + size_t(w) * 3; i < end; i += 3)
            b[i] = uint8_t(rgb), b[i + 1] = uint8_t(rgb >> 8), b[i + 2] = uint8_t(rgb >> 16);
    testsupport::writeFile(path, b);
}

inline std::u16string u16(const std::filesystem::path& p) {
    return p.u16string();
}

}  // namespace apptest
