#include "tools/render/HeadlessStage.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/ImageItem.h"
#include "app/ItemTask.h"
#include "app/MovieItem.h"
#include "app/PlayList.h"
#include "app/PlayerApp.h"
#include "framework/ComUser.h"
#include "framework/Event.h"
#include "framework/Exceptions.h"
#include "framework/ThreadPool.h"
#include "framework/WideString.h"
#include "framework/dshow/Dshow.h"
#include "graphics/DisplayConfig.h"
#include "graphics/DrawBase.h"
#include "graphics/GbcfDecoder.h"
#include "graphics/LayerDrawer.h"
#include "media/DirectShowMoviePlayer.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/MediaClasses.h"
#include "media/VideoFrameSource.h"
#include "platform/audio/Mixer.h"
#include "platform/audio/NullAudioOutput.h"
#include "platform/audio/WavCaptureOutput.h"
#include "platform/dshow/PipelineClasses.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/PresentationTarget.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "splitters/GbcfPayload.h"
#include "tools/render/HeadlessWindows.h"

namespace {

constexpr DWORD kClearTargetAndDepth = 3;
constexpr uint32_t kPumpSliceMs = 5;

std::string utf8(const std::u16string& text) {
    return toUtf8(text);
}

void sleepMs(uint32_t ms) {
    Event never(Event::Reset::Manual);
    never.wait(ms);
}

// The graph's own control of a movie made by the DirectShow factory.
InterfacePtr<IMediaControl> graphControl(MovieItem& movie) {
    auto* player = dynamic_cast<DirectShowMoviePlayer*>(movie.media());
    if (!player || !player->graph()) return {};
    InterfacePtr<IGraphBuilder> graph(player->graph());
    return graph.as<IMediaControl>();
}

}  // namespace

// Keeps the last picture the software device presented to the video area.
class HeadlessStage::FrameCapture : public gfx::PresentationTarget {
public:
    void present(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) override {
        std::lock_guard<std::mutex> hold(mutex_);
        width_ = width;
        height_ = height;
        pixels_.resize(size_t(width) * height * 4);
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(pixels_.data() + size_t(y) * width * 4, bgra + size_t(y) * stride, size_t(width) * 4);
        ++count_;
    }
    uint64_t count() {
        std::lock_guard<std::mutex> hold(mutex_);
        return count_;
    }
    bool take(std::vector<uint8_t>* out, uint32_t width, uint32_t height) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (width_ != width || height_ != height) return false;
        *out = pixels_;
        return true;
    }

private:
    std::mutex mutex_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint64_t count_ = 0;
    std::vector<uint8_t> pixels_;
};

HeadlessStage::HeadlessStage() : capture_(std::make_shared<FrameCapture>()) {
    clock_.setPosition(0);
    clock_.pause();
}

HeadlessStage::~HeadlessStage() {
    if (pool_) {
        if (transport_ != Transport::Stopped) stop();
        pool_->stop();
    }
    pool_.reset();
    // Items (and their players) go before the factory and the compositor they use.
    if (list_) list_->clearList();
    pumpMessages(0);
    factory_.reset();
    drawBase_.reset();
    config_.reset();
    if (window_) {
        gfx::SoftwareAdapter::processAdapter()->setPresentationTarget(window_, nullptr);
        HeadlessWindows::instance().destroyWindow(window_);
    }
    list_.reset();
    taskLatch_.reset();
    Mixer::instance().closeOutput();
    HeadlessWindows::instance().uninstall();
    comUser_.reset();
}

bool HeadlessStage::start(const StageOptions& options, std::string* error) {
    if (drawBase_) {
        if (error) *error = "the stage is already started";
        return false;
    }
    options_ = options;
    fitted_ = options.width == 0 && options.height == 0;
    if (!fitted_ && (options.width == 0 || options.height == 0 || options.width > PlayerApp::kMaxVideoExtent ||
                     options.height > PlayerApp::kMaxVideoExtent)) {
        if (error) *error = "the video area must be 1 to 16384 pixels on each side";
        return false;
    }
    width_ = fitted_ ? uint32_t(PlayerApp::kInitialVideoWidth) : options.width;
    height_ = fitted_ ? uint32_t(PlayerApp::kInitialVideoHeight) : options.height;

    comUser_ = std::make_unique<ComUser>(true);
    // What the player's entry point registers, but no window system with a screen: the
    // software device is the only one the video area can get.
    registerDirect3DModule();
    registerPipelineClasses();
    registerMediaClasses();
    setGbcfPayloadDecoder(&decodeGbcfPayload);
    // No sound device is needed: the mix is pulled by the null output until a capture
    // is asked for.
    Mixer::instance().setOutput(std::make_unique<NullAudioOutput>());

    HeadlessWindows& windows = HeadlessWindows::instance();
    windows.install();
    window_ = windows.createWindow(width_, height_);
    gfx::SoftwareAdapter::processAdapter()->setPresentationTarget(window_, capture_);

    try {
        config_ = std::make_unique<DisplayConfig>(nullptr, nullptr);
        config_->setOptions(DisplayConfig::kUseDirect3D9Ex);
        config_->setWindowedSize(int32_t(width_), int32_t(height_));
        drawBase_ = std::make_unique<DrawBase>(window_, *config_);
        factory_ = std::make_unique<DirectShowPlayerFactory>(window_, int(width_), int(height_));
        factory_->setCompositor(drawBase_.get());
    } catch (const IException&) {
        drawBase_.reset();
        if (error) *error = "the compositor could not be made on the software device";
        return false;
    } catch (const std::exception&) {
        drawBase_.reset();
        if (error) *error = "the compositor could not be made on the software device";
        return false;
    }

    list_ = std::make_unique<PlayList>(static_cast<PlayListHost&>(*this));
    for (int channel = 0; channel < 3; ++channel) list_->setBackground(channel, options.background[channel]);
    pool_ = std::make_unique<ThreadPool>(std::max(std::thread::hardware_concurrency(), 4u));
    taskLatch_ = std::make_unique<Semaphore>(0, 0x7FFFFFFF);
    if (!pool_->start()) {
        if (error) *error = "the worker threads could not be started";
        return false;
    }
    return true;
}

MoviePlayerFactory* HeadlessStage::directShowFactory() {
    return factory_.get();
}

void HeadlessStage::videoAreaSize(uint32_t* width, uint32_t* height) {
    if (width) *width = width_;
    if (height) *height = height_;
}

void HeadlessStage::resizeToVideoSize(uint32_t width, uint32_t height) {
    if (!fitted_) return;
    // The player's video area is the main window's client area above the control strip.
    const SIZE client = PlayerApp::clientSizeForVideo(width, height);
    resizeVideoArea(uint32_t(client.cx), uint32_t(client.cy - PlayerApp::kStripHeight));
}

bool HeadlessStage::resizeVideoArea(uint32_t width, uint32_t height) {
    if (!drawBase_ || width == 0 || height == 0) return false;
    if (width == width_ && height == height_) return true;
    HeadlessWindows::instance().setClientSize(window_, width, height);
    width_ = width;
    height_ = height;
    // The locks every thread takes, in their order, as the player holds them for a reset.
    ScopedLock scene(drawBase_->sceneLock());
    ScopedLock list(list_->lock());
    std::vector<SharedRef<PlayItem>> items = list_->items();
    for (SharedRef<PlayItem>& item : items) item->lock().lock();
    const bool ok = drawBase_->resize();
    for (auto it = items.rbegin(); it != items.rend(); ++it) (*it)->lock().unlock();
    return ok;
}

void HeadlessStage::handleMessage(const MSG& message) {
    switch (message.message) {
        case DirectShowPlayerFactory::kGraphEventMessage:
            if (factory_) factory_->onGraphEvent(message.message, message.wParam, message.lParam);
            break;
        case DirectShowPlayerFactory::kMediaReadyMessage:
            if (list_)
                list_->onItemReady(static_cast<uintptr_t>(message.lParam),
                                   static_cast<HRESULT>(static_cast<int32_t>(message.wParam)), false);
            break;
        default:
            break;
    }
}

void HeadlessStage::pumpMessages(uint32_t waitMs) {
    HeadlessWindows& windows = HeadlessWindows::instance();
    MSG message{};
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        while (windows.take(&message, 0)) handleMessage(message);
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        if (windows.take(&message, uint32_t(std::max<int64_t>(left, 1)))) handleMessage(message);
    }
}

bool HeadlessStage::open(const std::vector<StageItem>& items, std::string* error) {
    if (!list_) {
        if (error) *error = "the stage is not started";
        return false;
    }
    if (transport_ != Transport::Stopped) stop();
    list_->clearList();
    displaced_.clear();
    loadFailed_ = false;
    pumpMessages(0);

    // As the player opens files: the count of pending loads first, then each file tried
    // as a movie and then as a picture.
    list_->setPendingLoads(int32_t(items.size()));
    for (const StageItem& settings : items) {
        // A missing file deserves its own reason rather than "no engine opens it".
        if (!std::ifstream(std::filesystem::path(settings.path), std::ios::binary)) {
            list_->clearList();
            pumpMessages(0);
            if (error) *error = "cannot read " + utf8(settings.path);
            return false;
        }
        SharedRef<PlayItem> item = list_->createItem(settings.path, false);
        if (!item) {
            list_->clearList();
            pumpMessages(0);
            if (error) *error = "no engine opens " + utf8(settings.path);
            return false;
        }
        list_->appendItem(std::move(item));
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.patienceMs);
    while (list_->pendingLoads() > 0) {
        if (std::chrono::steady_clock::now() > until) {
            if (error) *error = "the files did not become ready in time";
            return false;
        }
        pumpMessages(kPumpSliceMs);
    }
    if (loadFailed_) {
        if (error) *error = "a file could not be loaded";
        return false;
    }
    // A movie whose picture has nowhere to go would silently show nothing.
    std::vector<SharedRef<PlayItem>> listed = list_->items();
    for (size_t i = 0; i < listed.size(); ++i) {
        auto* movie = dynamic_cast<MovieItem*>(listed[i].get());
        if (!movie || !movie->hasVideo() || !movie->renderer()) continue;
        ScopedLock hold(movie->lock());
        if (!movie->texture()) {
            if (error) *error = "no picture texture could be made for " + utf8(items[i].path);
            return false;
        }
    }
    return applySettings(items, error);
}

bool HeadlessStage::applySettings(const std::vector<StageItem>& items, std::string* error) {
    std::vector<SharedRef<PlayItem>> listed = list_->items();
    if (listed.size() != items.size()) {
        if (error) *error = "the list changed while it loaded";
        return false;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        PlayItem& item = *listed[i];
        const StageItem& s = items[i];
        if (s.source && !item.setSourceRect(&*s.source)) {
            if (error) *error = "the source rectangle of " + utf8(s.path) + " could not be set";
            return false;
        }
        if (s.dest && !item.setDestRect(&*s.dest)) {
            if (error) *error = "the destination rectangle of " + utf8(s.path) + " could not be set";
            return false;
        }
        item.setColour(uint32_t(s.opacity) << 24 | 0x00FFFFFFu);
        item.setOffset(s.offsetMs);
        // Levels reach the player only when it has sound; a silent file keeps them as
        // settings, as the player's editor does.
        if (!item.hasAudio() || !item.setVolume(s.volume) || !item.setPan(s.pan)) {
            item.PlayItem::setVolume(s.volume);
            item.PlayItem::setPan(s.pan);
        }
    }
    list_->recomputePlayLength();
    return true;
}

uint32_t HeadlessStage::playLength() {
    return list_ ? list_->recomputePlayLength() : 0;
}

bool HeadlessStage::compose(std::vector<uint8_t>* bgra) {
    if (!drawBase_ || !bgra) return false;
    DrawBase& compositor = *drawBase_;
    {
        ScopedLock scene(compositor.sceneLock());
        const bool began = !compositor.isInScene();
        if (began && !compositor.beginScene()) return false;
        compositor.layerDrawer().clear(nullptr, kClearTargetAndDepth, list_->clearColour(), 1.0f, 0);
        list_->forEachReverse([](PlayItem& item) { item.draw(); });
        if (began) compositor.endScene();
        const uint64_t before = capture_->count();
        if (!compositor.present() || capture_->count() == before) return false;
    }
    return capture_->take(bgra, width_, height_);
}

// ---- deterministic positioning ----

bool HeadlessStage::startStill(MovieItem& movie, int64_t ms, std::string* error) {
    VideoFrameSource* source = movie.renderer();
    InterfacePtr<IMediaControl> control = graphControl(movie);
    if (!source || !control) {
        if (error) *error = utf8(movie.path()) + " has no picture to show";
        return false;
    }
    // Stopped, positioned, then paused: a pause from a stop always delivers the picture
    // at the position afresh (a paused graph sought to where it already is would not),
    // and nothing delivered before the stop can arrive after it.
    control->Stop();
    movie.seek(ms);
    source->resetFrame();
    control->Pause();
    return true;
}

bool HeadlessStage::settle(MovieItem& movie, int64_t ms, bool* gotPicture, std::string* error) {
    InterfacePtr<IMediaControl> control = graphControl(movie);
    OAFilterState state = 0;
    if (!control || control->GetState(LONG(options_.patienceMs), &state) != S_OK) {
        if (error) *error = "no picture from " + utf8(movie.path()) + " at " + std::to_string(ms) + " ms in time";
        return false;
    }
    // Settled without a picture: the stream ended before that time.
    *gotPicture = movie.renderer() && movie.renderer()->frameSignalled();
    return true;
}

bool HeadlessStage::seekAndSettle(MovieItem& movie, int64_t ms, bool* gotPicture, std::string* error) {
    return startStill(movie, ms, error) && settle(movie, ms, gotPicture, error);
}

void HeadlessStage::park(MovieItem& movie) {
    if (InterfacePtr<IMediaControl> control = graphControl(movie)) control->Stop();
}

bool HeadlessStage::showLastPicture(MovieItem& movie, int64_t from, std::string* error) {
    // The stream ended before `from`: find the latest time that still gives a picture,
    // first stepping back further and further, then halving the gap to the millisecond.
    int64_t hi = from, lo = -1, step = 16;
    bool got = false;
    while (lo < 0) {
        const int64_t t = std::max<int64_t>(hi - step, 0);
        if (!seekAndSettle(movie, t, &got, error)) return false;
        if (got) {
            lo = t;
        } else {
            if (t == 0) {
                if (error) *error = utf8(movie.path()) + " gives no picture at all";
                return false;
            }
            hi = t;
            step *= 2;
        }
    }
    int64_t shown = lo;
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (!seekAndSettle(movie, mid, &got, error)) return false;
        shown = mid;
        if (got)
            lo = mid;
        else
            hi = mid;
    }
    if (shown == lo) return true;
    if (!seekAndSettle(movie, lo, &got, error)) return false;
    if (!got) {
        if (error) *error = utf8(movie.path()) + " gives no picture near its end";
        return false;
    }
    return true;
}

void HeadlessStage::clearPicture(MovieItem& movie) {
    // What loading leaves in the texture until the first picture arrives.
    ScopedLock hold(movie.lock());
    if (LayerTexture* texture = movie.texture()) texture->fill(0, nullptr);
}

bool HeadlessStage::renderAt(uint32_t ms, std::vector<uint8_t>* bgra, std::string* error) {
    if (!list_ || !bgra) {
        if (error) *error = "the stage is not started";
        return false;
    }
    if (transport_ != Transport::Stopped) {
        if (error) *error = "pictures at a set time are made only while the transport is stopped";
        return false;
    }
    pumpMessages(0);

    struct Sought {
        MovieItem* movie;
        int64_t at;
    };
    std::vector<Sought> sought;
    std::vector<SharedRef<PlayItem>> items = list_->items();
    for (SharedRef<PlayItem>& ref : items) {
        const int64_t offset = ref->offsetMs();
        const int64_t into = int64_t(ms) - offset;
        if (auto* image = dynamic_cast<ImageItem*>(ref.get())) {
            // Shown from its start on; a picture never ends.
            if (into < 0)
                image->stop();
            else
                image->play();
            continue;
        }
        auto* movie = dynamic_cast<MovieItem*>(ref.get());
        if (!movie || !movie->renderer()) continue;
        {
            ScopedLock hold(movie->lock());
            if (!movie->texture()) continue;
        }
        if (std::find(displaced_.begin(), displaced_.end(), movie->id()) == displaced_.end())
            displaced_.push_back(movie->id());
        const int64_t duration = movie->duration();
        // Not started yet, or over before the time line began (its start seek finds the
        // end, so no picture ever reaches it): the texture as loading left it, with the
        // graph stopped so that nothing overwrites it.
        if (into < 0 || (offset < 0 && duration <= -offset)) {
            park(*movie);
            clearPicture(*movie);
            continue;
        }
        // After its end a movie keeps its last picture.
        const int64_t at = into >= duration ? std::max<int64_t>(duration - 1, 0) : into;
        if (!startStill(*movie, at, error)) return false;
        sought.push_back({movie, at});
    }
    // All movies seek at once; then each is waited for.
    for (Sought& s : sought) {
        bool got = false;
        if (!settle(*s.movie, s.at, &got, error)) return false;
        if (!got && !showLastPicture(*s.movie, s.at, error)) return false;
    }
    pumpMessages(0);
    if (!compose(bgra)) {
        if (error) *error = "the frame could not be composed";
        return false;
    }
    return true;
}

// ---- transport ----

uint32_t HeadlessStage::releaseTasks(uint32_t count) {
    if (count > 0) taskLatch_->release(static_cast<long>(count));
    return count;
}

bool HeadlessStage::play() {
    if (!list_ || list_->empty() || !pool_) return false;
    pool_->waitIdle(INFINITE);
    if (transport_ == Transport::Paused) {
        // Resume: paused players go on, items not yet started get the rest of their wait.
        uint32_t tasks = 0;
        {
            ScopedLock hold(list_->lock());
            const int64_t now = clock_.elapsed();
            for (SharedRef<PlayItem>& item : list_->items()) {
                if (item->isRunning()) {
                    pool_->postTask(std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::Pause));
                    ++tasks;
                } else {
                    const int64_t wait = std::clamp<int64_t>(item->offsetMs() - now, INT32_MIN, INT32_MAX);
                    item->scheduleStart(static_cast<int32_t>(wait));
                }
            }
        }
        releaseTasks(tasks);
        clock_.resume();
        transport_ = Transport::Playing;
        return true;
    }
    if (transport_ == Transport::Playing) return true;
    if (list_->recomputePlayLength() == 0) return false;

    // Movies moved by renderAt go back to where a stopped player keeps them: at their
    // start, showing what loading left until they start.
    for (int32_t id : displaced_) {
        SharedRef<PlayItem> item = list_->findItem(id);
        auto* movie = item ? dynamic_cast<MovieItem*>(item.get()) : nullptr;
        if (!movie) continue;
        park(*movie);
        movie->seek(0);
        clearPicture(*movie);
    }
    displaced_.clear();

    uint32_t tasks = 0;
    {
        ScopedLock hold(list_->lock());
        for (SharedRef<PlayItem>& item : list_->items()) {
            const int32_t offset = item->offsetMs();
            if (offset > 0) {
                // The lead is added without passing the largest offset a list may hold.
                const int64_t delay = std::min<int64_t>(int64_t(offset) + ItemTask::kStartLeadMs, INT32_MAX);
                item->scheduleStart(static_cast<int32_t>(delay));
            } else {
                pool_->postTask(
                    std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::SeekAndPlay, -int64_t(offset)));
                ++tasks;
            }
        }
    }
    sleepMs(ItemTask::kStartLeadMs);
    clock_.restart();
    releaseTasks(tasks);
    transport_ = Transport::Playing;
    return true;
}

bool HeadlessStage::pause() {
    if (!list_ || !pool_ || transport_ != Transport::Playing) return false;
    pool_->waitIdle(INFINITE);
    uint32_t tasks = 0;
    {
        ScopedLock hold(list_->lock());
        for (SharedRef<PlayItem>& item : list_->items()) {
            if (item->isRunning()) {
                pool_->postTask(std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::Pause));
                ++tasks;
            } else {
                item->cancelStart();
            }
        }
    }
    releaseTasks(tasks);
    clock_.pause();
    transport_ = Transport::Paused;
    return true;
}

void HeadlessStage::stop() {
    if (list_ && !list_->empty() && pool_) {
        pool_->waitIdle(INFINITE);
        releaseTasks(postForEveryItem(*list_, *pool_, *taskLatch_, ItemTask::Action::Stop));
        pool_->waitIdle(INFINITE);
    }
    clock_.setPosition(0);
    clock_.pause();
    transport_ = Transport::Stopped;
}

bool HeadlessStage::playFor(uint32_t ms, std::string* error) {
    if (transport_ != Transport::Stopped) stop();
    if (!play()) {
        if (error) *error = "the list has nothing to play";
        return false;
    }
    while (clock_.elapsed() < ms) pumpMessages(std::min<uint32_t>(kPumpSliceMs, ms - clock_.elapsed()));
    stop();
    pumpMessages(0);
    return true;
}

// ---- audio ----

bool HeadlessStage::captureAudioTo(const std::string& path, std::string* error) {
    if (!Mixer::instance().setOutput(std::make_unique<WavCaptureOutput>(path, WavCaptureOutput::Pacing::RealTime))) {
        Mixer::instance().setOutput(std::make_unique<NullAudioOutput>());
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

void HeadlessStage::endAudioCapture() {
    Mixer::instance().setOutput(std::make_unique<NullAudioOutput>());
}
