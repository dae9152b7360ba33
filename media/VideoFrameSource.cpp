#include "media/VideoFrameSource.h"

#include <algorithm>
#include <cstdlib>

#include "framework/InterfacePtr.h"
#include "graphics/Image.h"
#include "graphics/LayerTexture.h"
#include "graphics/PixelFormat.h"
#include "graphics/RowConverter.h"

VideoFrameSource::VideoFrameSource(TargetKind kind) : kind_(kind) {}

VideoFrameSource::~VideoFrameSource() {
    if (target_) target_->release();
}

int VideoFrameSource::size(uint32_t* width, uint32_t* height) const {
    if (!width && !height) return 0;
    std::lock_guard hold(mutex_);
    if (width) *width = uint32_t(width_);
    if (height) *height = uint32_t(std::abs(int64_t(height_)));
    return 1;
}

uint32_t VideoFrameSource::pixelFormat() const {
    std::lock_guard hold(mutex_);
    return uint32_t(pixelFormat_);
}

D3DFORMAT VideoFrameSource::textureFormat() const {
    std::lock_guard hold(mutex_);
    return textureFormat_;
}

bool VideoFrameSource::hasFormat() const {
    std::lock_guard hold(mutex_);
    return pixelFormat_ != 0 || textureFormat_ != D3DFMT_UNKNOWN;
}

int32_t VideoFrameSource::attach(RefObject* target) {
    std::lock_guard hold(mutex_);
    if (target_ || !target) return 0;
    const uint32_t id = kind_ == TargetKind::Texture ? LayerTexture::kTextureIdentifier : Image::kIdentifier;
    void* found = nullptr;
    if (!target->queryIdentifier(id, &found) || !found) return 0;
    int32_t w = 0, h = 0;
    RefObject* object = nullptr;
    if (kind_ == TargetKind::Texture) {
        auto* texture = static_cast<LayerTexture*>(found);
        texture->size(&w, &h);
        object = texture;
    } else {
        auto* image = static_cast<Image*>(found);
        image->size(&w, &h);
        object = image;
    }
    if (int64_t(w) != int64_t(width_) || int64_t(h) != std::abs(int64_t(height_))) {
        object->release();
        return E_INVALIDARG;
    }
    target_ = object;
    return 1;
}

int VideoFrameSource::setDestination(const RECT*) {
    return 0;
}

int VideoFrameSource::setLock(CriticalSection* lock) {
    lock_.store(lock, std::memory_order_release);
    return 1;
}

uint32_t VideoFrameSource::waitForFrame(uint32_t milliseconds) {
    return newFrameEvent_.wait(milliseconds) ? kWaitObject0 : kWaitTimeout;
}

bool VideoFrameSource::frameSignalled() const {
    return newFrameEvent_.isSet();
}

void VideoFrameSource::resetFrame() {
    newFrameEvent_.reset();
}

VideoFrameSource::Statistics VideoFrameSource::statistics() const {
    Statistics s;
    s.drawn = drawn_.load(std::memory_order_relaxed);
    s.dropped = dropped_.load(std::memory_order_relaxed);
    s.notShown = notShown_.load(std::memory_order_relaxed);
    s.composed = composed_.load(std::memory_order_relaxed);
    return s;
}

void VideoFrameSource::noteComposed() {
    // Of the pictures written since the last composed frame only the newest is seen.
    const uint64_t writes = writesSinceComposed_.exchange(0, std::memory_order_relaxed);
    if (writes > 1) notShown_.fetch_add(writes - 1, std::memory_order_relaxed);
    composed_.fetch_add(1, std::memory_order_relaxed);
}

void VideoFrameSource::noteDropped() {
    dropped_.fetch_add(1, std::memory_order_relaxed);
}

void VideoFrameSource::setLayout(int32_t width, int32_t height, int64_t stride) {
    std::lock_guard hold(mutex_);
    width_ = width;
    height_ = height;
    stride_ = stride;
}

void VideoFrameSource::setFormats(int32_t pixelFormat, D3DFORMAT textureFormat) {
    std::lock_guard hold(mutex_);
    pixelFormat_ = pixelFormat;
    textureFormat_ = textureFormat;
}

HRESULT VideoFrameSource::deliver(const uint8_t* data, size_t bytes) {
    Picture picture{};
    InterfacePtr<RefObject> target;
    {
        std::lock_guard hold(mutex_);
        if (!target_) return S_FALSE;
        if (pixelFormat_ == 0 && textureFormat_ == D3DFMT_UNKNOWN) return E_FAIL;
        picture = Picture{width_, height_, stride_, pixelFormat_};
        target = target_;
    }

    CriticalSection* lock = lock_.load(std::memory_order_acquire);
    if (lock) lock->lock();
    bool written = false;
    if (kind_ == TargetKind::Texture) {
        auto* texture = static_cast<LayerTexture*>(target.get());
        if (InterfacePtr<Image> view = texture->openImage()) {
            void* bits = nullptr;
            int32_t pitch = 0;
            if (view->lock(&bits, &pitch)) {
                copyRows(picture, data, bytes, static_cast<uint8_t*>(bits), pitch, view->format(), view->width(),
                         view->height());
                view->unlock();
                written = true;
            }
            texture->commitImage(view.get(), nullptr);
        }
    } else {
        auto* image = static_cast<Image*>(target.get());
        void* bits = nullptr;
        int32_t pitch = 0;
        if (image->lock(&bits, &pitch)) {
            copyRows(picture, data, bytes, static_cast<uint8_t*>(bits), pitch, image->format(), image->width(),
                     image->height());
            image->unlock();
            written = true;
        }
    }
    if (written) {
        drawn_.fetch_add(1, std::memory_order_relaxed);
        writesSinceComposed_.fetch_add(1, std::memory_order_relaxed);
    }
    if (lock) lock->unlock();

    newFrameEvent_.set();
    return S_OK;
}

void VideoFrameSource::copyRows(const Picture& picture, const uint8_t* data, size_t bytes, uint8_t* dst, int32_t pitch,
                                int32_t dstFormat, int32_t dstWidth, int32_t dstHeight) const {
    const uint32_t pixelBytes = pixelFormatBytes(picture.pixelFormat);
    if (!data || !dst || pixelBytes == 0) return;
    // A picture larger than the target (a type change after attach) is cut to the target.
    const int64_t sourceRows = std::abs(int64_t(picture.height));
    const int64_t rows = std::min<int64_t>(sourceRows, std::max(dstHeight, 0));
    const int64_t columns = std::min<int64_t>(picture.width, std::max(dstWidth, 0));
    if (rows <= 0 || columns <= 0) return;
    const int64_t rowBytes = columns * pixelBytes;
    const bool bottomUp = picture.height >= 0;
    for (int64_t r = 0; r < rows; ++r) {
        // Bottom-up sources hold the top picture row last.
        const int64_t sourceRow = bottomUp ? sourceRows - 1 - r : r;
        // Rows the sample does not hold (however absurd the stride) are left as they were.
        int64_t offset = 0;
        if (__builtin_mul_overflow(picture.stride, sourceRow, &offset)) continue;
        if (offset < 0 || offset > int64_t(bytes) - rowBytes) continue;
        convertRow(dst + r * int64_t(pitch), dstFormat, data + offset, picture.pixelFormat, uint32_t(columns));
    }
}
