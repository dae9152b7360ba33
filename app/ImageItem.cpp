#include "app/ImageItem.h"

#include "graphics/DrawBase.h"
#include "graphics/Image.h"
#include "graphics/TextureFactory.h"

namespace {
// Palette pictures (the 8-bit pixel formats) are not shown as layers.
bool isPaletteFormat(int32_t pixelFormat) {
    return pixelFormat == 1 || pixelFormat == 2;
}
}  // namespace

ImageItem::ImageItem(int32_t id, DrawBase* owner) : PlayItem(id), owner_(owner) {
    bindStartTimer(startTimer_);
}

ImageItem::~ImageItem() {
    close();
}

bool ImageItem::open(const std::u16string& path) {
    close();
    if (!owner_) return false;
    TextureFactory& factory = owner_->textureFactory();
    InterfacePtr<Image> image = factory.createImageFromFile(path);
    if (!image || isPaletteFormat(image->format())) return false;
    setPath(path);
    InterfacePtr<LayerTexture> made = factory.createTextureFromImage(*image, 1, false);
    if (!made) return false;
    int32_t w = 0, h = 0;
    made->size(&w, &h);
    ScopedLock hold(lock());
    texture_ = std::move(made);
    resetRects(uint32_t(w), uint32_t(h));
    dirty_ = true;
    visible_ = true;
    return true;
}

void ImageItem::close() {
    cancelStart();
    ScopedLock hold(lock());
    texture_.reset();
}

bool ImageItem::prepare(bool) {
    return true;
}

void ImageItem::play() {
    visible_ = true;
}

void ImageItem::stop() {
    visible_ = offsetMs() <= 0;
}

bool ImageItem::isRunning() {
    return false;
}

bool ImageItem::pause() {
    return true;
}

void ImageItem::seek(int64_t) {}

bool ImageItem::scheduleStart(int32_t delayMs) {
    cancelStart();
    // Hidden before the timer exists, so a short timer cannot show it and be overridden.
    visible_ = false;
    return scheduleStartTimer(delayMs);
}

void ImageItem::cancelStart() {
    cancelStartTimer();
}

bool ImageItem::draw() {
    ScopedLock hold(lock());
    if (!texture_ || !visible_ || !owner_) return false;
    return drawLayer(*owner_, *texture_, dirty_);
}

uint32_t ImageItem::duration() {
    return 0;
}

bool ImageItem::getSize(uint32_t* width, uint32_t* height) {
    ScopedLock hold(lock());
    if (!texture_) return false;
    int32_t w = 0, h = 0;
    texture_->size(&w, &h);
    if (width) *width = uint32_t(w);
    if (height) *height = uint32_t(h);
    return true;
}

bool ImageItem::hasVideo() {
    ScopedLock hold(lock());
    return texture_ != nullptr;
}

bool ImageItem::hasAudio() {
    return false;
}
