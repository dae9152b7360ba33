#pragma once
// A decoded picture in the codec's own store format: 4 bytes per pixel in the order
// Cr, Cb, Y, A (chroma at full resolution), width and height multiples of 16, rows
// of 4 * width bytes, 64-byte aligned.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

class MbcPicture {
public:
    MbcPicture() = default;
    MbcPicture(MbcPicture&&) noexcept = default;
    MbcPicture& operator=(MbcPicture&&) noexcept = default;
    MbcPicture(const MbcPicture&) = delete;
    MbcPicture& operator=(const MbcPicture&) = delete;

    // Sizes must be non-zero multiples of 16; false (and empty) otherwise or when out of memory.
    bool allocate(uint32_t width, uint32_t height);
    // Same size and contents as other (allocating when needed).
    bool copyFrom(const MbcPicture& other);
    void release();

    bool empty() const { return !data_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    ptrdiff_t stride() const { return static_cast<ptrdiff_t>(width_) * 4; }
    size_t byteSize() const { return static_cast<size_t>(width_) * height_ * 4; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    uint8_t* row(uint32_t y) { return data_.get() + static_cast<ptrdiff_t>(y) * stride(); }
    const uint8_t* row(uint32_t y) const { return data_.get() + static_cast<ptrdiff_t>(y) * stride(); }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> data_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};
