#include "splitters/MbcPicture.h"

#include <cstring>

bool MbcPicture::allocate(uint32_t width, uint32_t height) {
    if (width == width_ && height == height_ && data_) return true;
    release();
    if (width == 0 || height == 0 || (width & 15) || (height & 15)) return false;
    size_t bytes = static_cast<size_t>(width) * height * 4;
    void* p = std::aligned_alloc(64, bytes);
    if (!p) return false;
    std::memset(p, 0, bytes);
    data_.reset(static_cast<uint8_t*>(p));
    width_ = width;
    height_ = height;
    return true;
}

bool MbcPicture::copyFrom(const MbcPicture& other) {
    if (&other == this) return true;
    if (other.empty()) {
        release();
        return true;
    }
    if (!allocate(other.width_, other.height_)) return false;
    std::memcpy(data_.get(), other.data_.get(), byteSize());
    return true;
}

void MbcPicture::release() {
    data_.reset();
    width_ = height_ = 0;
}
