#include "app/MovieItem.h"

#include <utility>

#include "graphics/DrawBase.h"
#include "graphics/TextureFactory.h"
#include "media/VideoFrameSource.h"

MovieItem::MovieItem(int32_t id, DrawBase* owner, Loader loader)
    : PlayItem(id), loader_(std::move(loader)), owner_(owner) {
    bindStartTimer(startTimer_);
}

MovieItem::~MovieItem() {
    close();
}

bool MovieItem::open(const std::u16string& path) {
    close();
    if (!loader_) return false;
    LoadResult loaded = loader_(path, cookie());
    if (!loaded.player) return false;
    media_ = std::move(loaded.player);
    fromMediaFoundation_ = loaded.fromMediaFoundation;
    renderer_ = media_->frameSource();
    setPath(path);
    return true;
}

void MovieItem::close() {
    cancelStart();
    if (media_) {
        media_->close();
        media_.reset();
    }
    renderer_ = nullptr;
    ScopedLock hold(lock());
    texture_.reset();
}

bool MovieItem::prepare(bool fromMediaFoundation) {
    if (!media_) return false;
    if (media_->hasAudio()) {
        media_->setVolume(volume());
        media_->setPan(pan());
    }
    if (!media_->hasVideo()) return true;
    if (!renderer_) {
        POINT zeroPosition{0, 0};
        SIZE zeroSize{0, 0};
        media_->setVideoRect(0, &zeroPosition, &zeroSize);
        return true;
    }
    uint32_t w = 0, h = 0;
    media_->videoSize(&w, &h);
    // A second ready report keeps the texture the frame source already writes into (the
    // source takes only one target for its life). The texture is made and attached
    // outside the item's lock: the factory and the source have locks of their own.
    if (!texture()) {
        if (!owner_) return false;
        InterfacePtr<LayerTexture> made =
            owner_->textureFactory().createLayerTexture(w, h, renderer_->textureFormat(), 1, fromMediaFoundation);
        if (!made) return false;
        // A texture the source refused never receives a picture: it is not kept, so the
        // item draws nothing rather than uninitialised texels.
        if (renderer_->attach(made.get()) != 1) return false;
        renderer_->setLock(&lock());
        ScopedLock hold(lock());
        texture_ = std::move(made);
    }
    ScopedLock hold(lock());
    texture_->fill(0, nullptr);
    resetRects(w, h);
    dirty_ = true;
    return true;
}

void MovieItem::play() {
    if (media_) media_->play(0);
}

void MovieItem::stop() {
    if (media_) media_->stop();
}

bool MovieItem::isRunning() {
    return media_ && media_->isPlaying();
}

bool MovieItem::pause() {
    return media_ && media_->togglePause() >= 0;
}

void MovieItem::seek(int64_t ms) {
    if (!media_) return;
    if (ms < 0) ms = 0;
    if (ms > int64_t(UINT32_MAX)) ms = UINT32_MAX;
    media_->seekToMs(uint32_t(ms));
}

bool MovieItem::scheduleStart(int32_t delayMs) {
    return scheduleStartTimer(delayMs);
}

void MovieItem::cancelStart() {
    cancelStartTimer();
}

bool MovieItem::setPan(int32_t pan) {
    if (!media_ || media_->setPan(pan) == 0) return false;
    storePan(pan);
    return true;
}

bool MovieItem::setVolume(int32_t volume) {
    if (!media_ || media_->setVolume(volume) == 0) return false;
    storeVolume(volume);
    return true;
}

bool MovieItem::draw() {
    ScopedLock hold(lock());
    if (!texture_ || !owner_) return false;
    const bool drawn = drawLayer(*owner_, *texture_, dirty_);
    // Under the lock the renderer writes with: every picture before this one was either
    // shown by this frame or overwritten unseen.
    if (renderer_) renderer_->noteComposed();
    return drawn;
}

uint32_t MovieItem::duration() {
    return media_ ? media_->durationMs() : 0;
}

bool MovieItem::getSize(uint32_t* width, uint32_t* height) {
    if (!media_) return false;
    return media_->videoSize(width, height) != 0;
}

bool MovieItem::hasVideo() {
    return media_ && media_->hasVideo();
}

bool MovieItem::hasAudio() {
    return media_ && media_->hasAudio();
}
