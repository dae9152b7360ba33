#include "app/PlayItem.h"

#include "framework/OneShotTimer.h"
#include "graphics/DrawBase.h"
#include "graphics/LayerDrawer.h"
#include "graphics/LayerTexture.h"

PlayItem::PlayItem(int32_t id) : id_(id) {}

PlayItem::~PlayItem() = default;

RECT PlayItem::sourceRect() {
    ScopedLock hold(lock_);
    return sourceRect_;
}

RECT PlayItem::destRect() {
    ScopedLock hold(lock_);
    return destRect_;
}

uint32_t PlayItem::colour() {
    ScopedLock hold(lock_);
    return colour_;
}

bool PlayItem::storeRect(RECT* field, const RECT* rect) {
    RECT r{};
    if (rect) {
        r = *rect;
    } else {
        uint32_t w = 0, h = 0;
        if (!getSize(&w, &h)) return false;
        r = RECT{0, 0, LONG(w), LONG(h)};
    }
    ScopedLock hold(lock_);
    *field = r;
    markDirty();
    return true;
}

bool PlayItem::setSourceRect(const RECT* rect) { return storeRect(&sourceRect_, rect); }

bool PlayItem::setDestRect(const RECT* rect) { return storeRect(&destRect_, rect); }

void PlayItem::setColour(uint32_t argb) {
    ScopedLock hold(lock_);
    colour_ = argb;
    markDirty();
}

void PlayItem::setOffset(int32_t ms) {
    offsetMs_.store(ms, std::memory_order_relaxed);
}

bool PlayItem::setPan(int32_t pan) {
    storePan(pan);
    return true;
}

bool PlayItem::setVolume(int32_t volume) {
    storeVolume(volume);
    return true;
}

void PlayItem::resetRects(uint32_t width, uint32_t height) {
    ScopedLock hold(lock_);
    sourceRect_ = RECT{0, 0, LONG(width), LONG(height)};
    destRect_ = sourceRect_;
}

void PlayItem::onStartTimer(uint32_t id, void* context) {
    PlayItem* self = static_cast<PlayItem*>(context);
    self->play();
    // Only this timer's own id is cleared: a later schedule has already killed this one
    // (kill waits for a running callback), so the slot can hold only this id or 0 here.
    uint32_t expected = id;
    if (self->timerSlot_ && self->timerSlot_->compare_exchange_strong(expected, 0)) OneShotTimer::instance().kill(id);
}

bool PlayItem::scheduleStartTimer(int32_t delayMs) {
    if (!timerSlot_) return false;
    cancelStartTimer();
    uint32_t delay = delayMs < int32_t(OneShotTimer::kMinDelayMs) ? OneShotTimer::kMinDelayMs : uint32_t(delayMs);
    uint32_t id = OneShotTimer::instance().schedule(delay, &PlayItem::onStartTimer, this);
    if (id == 0) return false;
    // The callback may already have run and found the slot empty; then the id is stale
    // and killing it later is harmless (kill of a fired id answers false).
    timerSlot_->store(id);
    return true;
}

void PlayItem::cancelStartTimer() {
    if (!timerSlot_) return;
    if (uint32_t id = timerSlot_->exchange(0)) OneShotTimer::instance().kill(id);
}

bool PlayItem::drawLayer(DrawBase& owner, LayerTexture& texture, bool& dirty) {
    if (dirty) {
        texture.setGeometry(destRect_, &sourceRect_, colour_, 1.0f, 0.0f);
        texture.mesh().uploadVertices();
        texture.mesh().uploadIndices();
        dirty = false;
    }
    RefObject* objects[1] = {&texture};
    owner.layerDrawer().drawObjects(objects, 1, 0, nullptr, 0, 0);
    return true;
}
