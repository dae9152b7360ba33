// The whole player with its real engine: PlayerApp with the DirectShow factory it makes
// itself, the software device and the mixer writing a WAV capture, driven through posted
// messages. An .mbc, an .mp4 and a .png are dropped together and become three layers;
// the composed frames are compared region by region with the files decoded elsewhere
// while the transport and the list editor act on them.
// Before Qt, whose "emit" would clash with the encoder's.
#include "tests/media/FfmpegFiles.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "ShellHarness.h"
#include "app/ImageItem.h"
#include "app/ListEditorDialog.h"
#include "app/MovieItem.h"
#include "framework/WideString.h"
#include "media/MediaClasses.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/WavCaptureOutput.h"
#include "platform/dshow/PipelineClasses.h"

namespace {

using ffmpegfiles::Kind;
using ffmpegfiles::Picture;
using shelltest::pump;
using shelltest::pumpUntil;

constexpr uint32_t kBackdropColour = 0x3050C0;
constexpr int kBackdropWidth = 320, kBackdropHeight = 240;
constexpr int kMovieWidth = ffmpegfiles::kWidth, kMovieHeight = ffmpegfiles::kHeight;
constexpr int kFrameMs = 1000 / ffmpegfiles::kRate;

// Keeps every presented picture's last copy whole, so that a region is read from one frame.
class FrameGrabber : public gfx::PresentationTarget {
public:
    struct Frame {
        uint32_t width = 0, height = 0;
        std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows top first
        uint64_t number = 0;

        uint32_t at(int x, int y) const {
            return uint32_t(x) < width && uint32_t(y) < height ? pixels[size_t(y) * width + size_t(x)] : 0xDEADBEEF;
        }
        Picture region(int left, int top, int w, int h) const {
            Picture out;
            for (int y = top; y < top + h; ++y)
                for (int x = left; x < left + w; ++x) out.push_back(at(x, y));
            return out;
        }
    };

    void present(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) override {
        std::vector<uint32_t> pixels(size_t(width) * height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* p = bgra + size_t(y) * stride + size_t(x) * 4;
                pixels[size_t(y) * width + x] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
            }
        std::lock_guard<std::mutex> hold(mutex_);
        last_.width = width;
        last_.height = height;
        last_.pixels = std::move(pixels);
        ++last_.number;
    }
    Frame last() {
        std::lock_guard<std::mutex> hold(mutex_);
        return last_;
    }

private:
    std::mutex mutex_;
    Frame last_;
};

class LayersEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_FFMPEG();
        mbc_ = ffmpegfiles::file(Kind::Mbc);
        mp4_ = ffmpegfiles::file(Kind::H264);
        png_ = ffmpegfiles::Folder::path() / "backdrop.png";
        ASSERT_FALSE(mbc_.empty() || mp4_.empty());
        ASSERT_TRUE(ffmpegfiles::makePicture(png_, kBackdropWidth, kBackdropHeight, kBackdropColour));
        mbcRefs_ = ffmpegfiles::readerPictures(mbc_);
        mp4Refs_ = ffmpegfiles::decodedPictures(mp4_);
        ASSERT_EQ(mbcRefs_.size(), size_t(ffmpegfiles::kFrames));
        ASSERT_EQ(mp4Refs_.size(), size_t(ffmpegfiles::kFrames));

        shelltest::preparePlatform();
        registerPipelineClasses();
        registerMediaClasses();
        auto capture = std::make_unique<WavCaptureOutput>(dir_ / "mix.wav", WavCaptureOutput::Pacing::RealTime);
        ASSERT_TRUE(Mixer::instance().setOutput(std::move(capture)));
        boxes_.install();
        module_ = std::make_unique<Module>(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
        app_ = std::make_unique<PlayerApp>(*module_);
        PlayerApp::Hooks hooks;
        hooks.videoAreaCreated = [this](HWND videoArea) {
            gfx::SoftwareAdapter::processAdapter()->setPresentationTarget(videoArea, grabber_);
        };
        app_->setHooks(std::move(hooks));
        ASSERT_TRUE(app_->initialise());
    }
    void TearDown() override {
        if (app_) app_->shutdown();
        app_.reset();
        module_.reset();
        boxes_.remove();
        Mixer::instance().closeOutput();
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
    }

    PlayList& list() { return app_->playList(); }
    LRESULT command(int id) { return SendMessageW(app_->mainWindow(), WM_COMMAND, WPARAM(id), 0); }
    void settle() { app_->workerPool()->waitIdle(INFINITE); }
    SIZE videoArea() {
        uint32_t w = 0, h = 0;
        app_->videoAreaSize(&w, &h);
        return SIZE{LONG(w), LONG(h)};
    }

    // Drops the three files, first to last, and waits until both movies are prepared.
    void dropAll() {
        QtWindowSystem::instance()->postDrop(app_->mainWindow(), {mbc_.u16string(), mp4_.u16string(), png_.u16string()},
                                             POINT{20, 20});
        ASSERT_TRUE(pumpUntil(*app_, [&] {
            return list().count() == 3 && list().pendingLoads() == 0 && videoArea().cy == kBackdropHeight;
        })) << "the dropped files were not all loaded";
        items_ = list().items();
    }

    // Which picture of a movie a region of the composed frame shows, -1 when it is none
    // of them within the tolerance (0 for the .mbc, whose decoder is the reference; one
    // level for the .mp4, decoded by ffmpeg and converted by the engine's rule).
    static int frameIn(const std::vector<Picture>& refs, const Picture& region, int tolerance) {
        const int n = ffmpegfiles::closestPicture(refs, region);
        return n >= 0 && ffmpegfiles::largestDifference(refs[size_t(n)], region) <= tolerance ? n : -1;
    }
    int mbcFrame(const FrameGrabber::Frame& f, int left = 0, int top = 0) {
        return frameIn(mbcRefs_, f.region(left, top, kMovieWidth, kMovieHeight), 0);
    }
    int mp4Frame(const FrameGrabber::Frame& f, int left, int top) {
        return frameIn(mp4Refs_, f.region(left, top, kMovieWidth, kMovieHeight), 1);
    }

    // Pumps until a composed frame satisfies the condition; the last frame seen is kept.
    template <class F>
    bool frameUntil(F&& condition) {
        return pumpUntil(*app_, [&] {
            seen_ = grabber_->last();
            return seen_.width > 0 && condition(seen_);
        });
    }

    void seekSlider(int position) {
        HWND slider = app_->seekSlider();
        SendMessageW(app_->mainWindow(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, WORD(position)), LPARAM(slider));
        SendMessageW(slider, TBM_SETPOS, TRUE, position);
        SendMessageW(app_->mainWindow(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
        settle();
    }

    testsupport::TempDir dir_;
    std::filesystem::path mbc_, mp4_, png_;
    std::vector<Picture> mbcRefs_, mp4Refs_;
    shelltest::BoxAnswerer boxes_;
    std::shared_ptr<FrameGrabber> grabber_ = std::make_shared<FrameGrabber>();
    std::unique_ptr<Module> module_;
    std::unique_ptr<PlayerApp> app_;
    std::vector<SharedRef<PlayItem>> items_;
    FrameGrabber::Frame seen_;
};

TEST_F(LayersEndToEndTest, DroppedFilesBecomeLayersThatPlayPauseSeekStopAndLoop) {
    dropAll();
    ASSERT_EQ(items_.size(), 3u);
    // Drop order is list order, and the first entry is the top layer.
    EXPECT_EQ(items_[0]->path(), mbc_.u16string());
    EXPECT_EQ(items_[1]->path(), mp4_.u16string());
    EXPECT_EQ(items_[2]->path(), png_.u16string());
    EXPECT_NE(dynamic_cast<MovieItem*>(items_[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<MovieItem*>(items_[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<ImageItem*>(items_[2].get()), nullptr);
    const uint32_t sizes[3][2] = {{160, 120}, {160, 120}, {320, 240}};
    for (int i = 0; i < 3; ++i) {
        uint32_t w = 0, h = 0;
        ASSERT_TRUE(items_[size_t(i)]->getSize(&w, &h)) << i;
        EXPECT_EQ(w, sizes[i][0]) << i;
        EXPECT_EQ(h, sizes[i][1]) << i;
        EXPECT_EQ(items_[size_t(i)]->destRect(), (RECT{0, 0, LONG(sizes[i][0]), LONG(sizes[i][1])})) << i;
    }
    EXPECT_TRUE(items_[0]->hasAudio() && items_[1]->hasAudio());
    // The video area fits the largest entry (widened to the strip's minimum).
    EXPECT_EQ(videoArea().cx, std::max<LONG>(kBackdropWidth, PlayerApp::kMinClientWidth));
    EXPECT_TRUE(boxes_.boxes().empty());
    // The second movie moves to the lower right corner, beside the first.
    const RECT lowerRight{kMovieWidth, kMovieHeight, 2 * kMovieWidth, 2 * kMovieHeight};
    ASSERT_TRUE(items_[1]->setDestRect(&lowerRight));

    // Play: both movies advance in their regions, over the picture, whose colour shows
    // where no movie lies.
    command(PlayerApp::kCmdPlay);
    settle();
    EXPECT_EQ(app_->transportState(), PlayerApp::kStatePlaying);
    int firstMbc = -1, firstMp4 = -1;
    ASSERT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        firstMbc = mbcFrame(f);
        firstMp4 = mp4Frame(f, kMovieWidth, kMovieHeight);
        return firstMbc >= 0 && firstMp4 >= 0;
    })) << "the movies' pictures never showed: mbc "
        << mbcFrame(seen_) << " mp4 " << mp4Frame(seen_, kMovieWidth, kMovieHeight);
    EXPECT_EQ(seen_.at(kMovieWidth + 10, 10), kBackdropColour);
    EXPECT_EQ(seen_.at(10, kMovieHeight + 10), kBackdropColour);
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        return mbcFrame(f) >= firstMbc + 5 && mp4Frame(f, kMovieWidth, kMovieHeight) >= firstMp4 + 5;
    })) << "the movies did not advance";

    // Pause: the pictures hold still while the clock stands.
    command(PlayerApp::kCmdPause);
    settle();
    EXPECT_EQ(app_->transportState(), PlayerApp::kStatePaused);
    const uint32_t pausedAt = app_->masterClock().elapsed();
    // A picture on its way when the pause came may still land: wait for the movies to
    // stand still (which a movie that went on playing never does), then watch them.
    const auto movies = [&](const FrameGrabber::Frame& f) {
        return std::make_pair(f.region(0, 0, kMovieWidth, kMovieHeight),
                              f.region(kMovieWidth, kMovieHeight, kMovieWidth, kMovieHeight));
    };
    ASSERT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) { return mbcFrame(f) >= 0; }));
    FrameGrabber::Frame since = seen_;
    ASSERT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        if (f.number < since.number + 5) return false;
        if (movies(f) == movies(since)) return true;
        since = f;
        return false;
    })) << "the movies did not stand still";
    const auto held = movies(seen_);
    const uint64_t framesBefore = seen_.number;
    ASSERT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) { return f.number >= framesBefore + 15; }));
    EXPECT_TRUE(movies(seen_) == held) << "a paused movie moved on";
    EXPECT_EQ(app_->masterClock().elapsed(), pausedAt);

    // Seek while paused: both show the picture of the new time (slider 1200 of 2000 is
    // 600 ms of the one-second time line).
    seekSlider(1200);
    EXPECT_EQ(app_->transportState(), PlayerApp::kStatePaused);
    EXPECT_EQ(app_->masterClock().elapsed(), 600u);
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        return mbcFrame(f) == 600 / kFrameMs && mp4Frame(f, kMovieWidth, kMovieHeight) == 600 / kFrameMs;
    })) << "after the seek: mbc "
        << mbcFrame(seen_) << " mp4 " << mp4Frame(seen_, kMovieWidth, kMovieHeight);

    // Stop: the clock goes back to 0 and the movies show their first pictures.
    command(PlayerApp::kCmdStop);
    EXPECT_EQ(app_->transportState(), PlayerApp::kStateStopped);
    EXPECT_EQ(app_->masterClock().elapsed(), 0u);
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        return mbcFrame(f) == 0 && mp4Frame(f, kMovieWidth, kMovieHeight) == 0;
    })) << "after stop: mbc "
        << mbcFrame(seen_) << " mp4 " << mp4Frame(seen_, kMovieWidth, kMovieHeight);

    // Loop: past the end of the time line everything starts again.
    command(PlayerApp::kCmdLoop);
    ASSERT_NE(app_->flags() & PlayerApp::kLoopFlag, 0u);
    command(PlayerApp::kCmdPlay);
    settle();
    bool late = false;
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        const int n = mbcFrame(f);
        late = late || n >= ffmpegfiles::kFrames - 5;
        return late && n >= 0 && n < 5 && app_->transportState() == PlayerApp::kStatePlaying;
    })) << "the time line did not start again";
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) { return mbcFrame(f) >= 8; }));
    command(PlayerApp::kCmdStop);

    // The two movies' sound reached the mix.
    app_->shutdown();
    app_.reset();
    Mixer::instance().closeOutput();
    const std::vector<float> mix = ffmpegfiles::readCapture(dir_ / "mix.wav");
    const ffmpegfiles::Levels heard = ffmpegfiles::levelsOf(mix, 0, mix.size() / 2);
    EXPECT_GE(heard.windows, 20u) << "hardly any sound in the mix";
    // Each tone peaks at 0.25 on both sides; the two together stay below 0.5.
    float peak[2] = {0, 0};
    for (size_t i = 0; i < mix.size(); ++i) peak[i % 2] = std::max(peak[i % 2], std::fabs(mix[i]));
    for (float side : peak) {
        EXPECT_GT(side, 0.2f);
        EXPECT_LT(side, 0.55f);
    }
}

TEST_F(LayersEndToEndTest, AnOffsetMovieStartsLaterOnTheCommonTimeLine) {
    dropAll();
    const RECT lowerRight{kMovieWidth, kMovieHeight, 2 * kMovieWidth, 2 * kMovieHeight};
    ASSERT_TRUE(items_[1]->setDestRect(&lowerRight));
    // Stop shows both first pictures; then the second movie waits 400 ms for its start.
    command(PlayerApp::kCmdPlay);
    settle();
    command(PlayerApp::kCmdStop);
    ASSERT_TRUE(frameUntil(
        [&](const FrameGrabber::Frame& f) { return mbcFrame(f) == 0 && mp4Frame(f, kMovieWidth, kMovieHeight) == 0; }));
    items_[1]->setOffset(400);
    SendMessageW(app_->mainWindow(), PlayerApp::kOffsetChangedMessage, 0, items_[1]->id());
    EXPECT_EQ(list().recomputePlayLength(), 1400u);

    command(PlayerApp::kCmdPlay);
    settle();
    // Before its start the second movie stays on its first picture while the first plays;
    // after it, it never runs ahead of the time line less its offset. Only frames composed
    // after the play command count.
    const uint64_t playedFrom = grabber_->last().number + 2;
    bool checkedEarly = false, sawLater = false;  // early: a frame seen before the start
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        if (f.number < playedFrom) return false;
        const uint32_t now = app_->masterClock().elapsed();  // read after the frame was taken
        const int second = mp4Frame(f, kMovieWidth, kMovieHeight);
        if (second < 0) return false;
        if (now > 0 && now < 350 && mbcFrame(f) >= 3) {
            EXPECT_EQ(second, 0) << "at " << now << " ms";
            checkedEarly = true;
        }
        if (now >= 400) {
            EXPECT_LE(second * kFrameMs, int(now) - 400 + 2 * kFrameMs) << "at " << now << " ms";
        }
        sawLater = sawLater || second >= 10;
        // (A slow machine may give no early frame with the first movie moving: then only
        // the bound after the start is checked.)
        return sawLater;
    })) << "early check "
        << checkedEarly << ", later pictures " << sawLater;
    command(PlayerApp::kCmdStop);
}

TEST_F(LayersEndToEndTest, ListEditorChangesShowInTheNextComposedFrames) {
    dropAll();
    command(PlayerApp::kCmdListEditor);
    HWND editor = app_->listEditor();
    ASSERT_NE(editor, nullptr);
    // The list-changed notices of the drop reach the editor first.
    pump(*app_);
    using namespace ListEditorIds;
    auto select = [&](int row) {
        LVITEMW item{};
        item.state = LVIS_SELECTED;
        item.stateMask = LVIS_SELECTED;
        SendDlgItemMessageW(editor, kList, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
        pump(*app_);
    };
    auto moveTrackbar = [&](int id, int to) {
        SendDlgItemMessageW(editor, id, TBM_SETPOS, TRUE, to);
        SendMessageW(editor, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(GetDlgItem(editor, id)));
    };
    // Stopped on the first pictures; the first movie covers the second.
    command(PlayerApp::kCmdPlay);
    settle();
    command(PlayerApp::kCmdStop);
    ASSERT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) { return mbcFrame(f) == 0; }));
    EXPECT_EQ(mp4Frame(seen_, kMovieWidth, kMovieHeight), -1);

    // The second movie's destination typed into the editor: it appears lower right.
    select(1);
    ASSERT_EQ(ListEditorDialog::currentId(), items_[1]->id());
    SetDlgItemTextW(editor, kDestLeft, u"160");
    SetDlgItemTextW(editor, kDestLeft + 1, u"120");
    SetDlgItemTextW(editor, kDestLeft + 2, u"320");
    SetDlgItemTextW(editor, kDestLeft + 3, u"240");
    EXPECT_EQ(items_[1]->destRect(), (RECT{160, 120, 320, 240}));
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        return mp4Frame(f, kMovieWidth, kMovieHeight) == 0 && mbcFrame(f) == 0;
    })) << "the moved layer did not show";

    // The first movie's opacity to nothing: the picture beneath shows through it.
    select(0);
    ASSERT_EQ(ListEditorDialog::currentId(), items_[0]->id());
    moveTrackbar(kOpacity, 0);
    EXPECT_EQ(items_[0]->colour() >> 24, 0u);
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        return f.at(10, 10) == kBackdropColour && f.at(150, 110) == kBackdropColour;
    })) << "the transparent layer still covers: "
        << std::hex << seen_.at(10, 10);
    // Half opacity: halfway between the movie and the backdrop.
    moveTrackbar(kOpacity, 1000);
    const uint32_t alpha = items_[0]->colour() >> 24;
    EXPECT_NEAR(double(alpha), 127.5, 1.0);
    const uint32_t movie = mbcRefs_[0][size_t(60) * kMovieWidth + 100];
    EXPECT_TRUE(frameUntil([&](const FrameGrabber::Frame& f) {
        const uint32_t p = f.at(100, 60);
        for (int shift = 0; shift < 24; shift += 8) {
            const double top = double(movie >> shift & 0xFF), below = double(kBackdropColour >> shift & 0xFF);
            const double expected = (top * alpha + below * (255 - alpha)) / 255;
            if (std::fabs(double(p >> shift & 0xFF) - expected) > 2) return false;
        }
        return true;
    })) << "blend shows "
        << std::hex << seen_.at(100, 60);
    SendMessageW(app_->mainWindow(), PlayerApp::kCloseDialogMessage, 0, LPARAM(editor));
    pump(*app_);
}

}  // namespace
