#pragma once
// Reads a still picture (PNG, GBCF or BMP, tried in that order whatever the name says)
// into a device-independent bitmap: bottom-up rows padded to 4 bytes, 8 bits with a
// palette, 16 bits R5G6B5, 24 bits B, G, R or 32 bits B, G, R, A. The bitmap then
// becomes an Image through decodeInto.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "framework/WinTypes.h"

class Image;

// The fields of a bitmap description that the decoders fill in.
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;  // positive: rows are stored bottom-up
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};

// A bottom-up bitmap in memory.
class DibBitmap {
public:
    // Largest pixel block a bitmap may take; larger pictures fail as "cannot be made".
    static constexpr uint64_t kMaxBytes = 256ull << 20;
    static constexpr int32_t kMaxDimension = 32767;

    // A zero-filled w x h bitmap; 8-bit bitmaps get a grey palette. False when the size is
    // invalid or the memory cannot be had.
    bool create(int32_t width, int32_t height, uint16_t bitCount);
    void reset();
    bool empty() const { return bits_.empty(); }

    const BitmapInfoHeader& header() const { return header_; }
    int32_t width() const { return header_.width; }
    int32_t height() const { return header_.height; }
    uint16_t bitCount() const { return header_.bitCount; }
    size_t stride() const { return stride_; }
    uint8_t* bits() { return bits_.data(); }
    const uint8_t* bits() const { return bits_.data(); }
    // Picture row y counted from the top (stored rows run bottom-up).
    uint8_t* rowFromTop(int32_t y) { return bits_.data() + size_t(header_.height - 1 - y) * stride_; }
    const uint8_t* rowFromTop(int32_t y) const { return bits_.data() + size_t(header_.height - 1 - y) * stride_; }
    // 256 entries 0x00RRGGBB (bytes B, G, R, 0) for 8-bit bitmaps.
    std::array<uint32_t, 256>& palette() { return palette_; }
    const std::array<uint32_t, 256>& palette() const { return palette_; }

    static size_t strideOf(int32_t width, uint16_t bitCount) {
        return ((size_t(uint32_t(width)) * bitCount + 31) / 32) * 4;
    }

private:
    BitmapInfoHeader header_;
    size_t stride_ = 0;
    std::vector<uint8_t> bits_;
    std::array<uint32_t, 256> palette_{};
};

// One picture format: a cheap probe, the header, and the decode into a bitmap. Each sets
// the codec's last error when it fails.
struct ImageDecoder {
    const char* name;
    bool (*probe)(const uint8_t* data, size_t size);
    bool (*header)(const uint8_t* data, size_t size, BitmapInfoHeader* header);
    bool (*decode)(const uint8_t* data, size_t size, DibBitmap* bitmap);
};

class ImageCodec {
public:
    // Last-error values (one process-wide value, as the codec has always kept it).
    static constexpr uint32_t kErrorNone = 29;
    static constexpr uint32_t kErrorShortData = 8;     // shorter than any signature
    static constexpr uint32_t kErrorBadData = 50;      // not this format, or damaged
    static constexpr uint32_t kErrorOutOfMemory = 14;  // the bitmap cannot be made
    // Files above this size are not read into memory.
    static constexpr int64_t kMaxFileBytes = 512ll << 20;

    ImageCodec() = default;
    ImageCodec(const ImageCodec&) = delete;
    ImageCodec& operator=(const ImageCodec&) = delete;

    // Reads the whole file (shared read, must exist), then openMemory.
    bool open(std::u16string_view path);
    // Tries every decoder in order; a failed decode lets the following ones try.
    bool openMemory(const uint8_t* data, size_t size);
    void close();
    bool isOpen() const { return !bitmap_.empty(); }

    void size(int32_t* width, int32_t* height) const;
    uint16_t bitCount() const { return bitmap_.bitCount(); }
    const DibBitmap& bitmap() const { return bitmap_; }
    const BitmapInfoHeader& info() const { return bitmap_.header(); }
    // Name of the decoder that produced the bitmap ("PNG", "GBCF", "BMP"), or null.
    const char* decoderName() const { return decoder_; }

    // Converts the bitmap into a w x h picture at dst (top row first, `pitch` bytes apart)
    // of the given pixel format: 8-bit bitmaps only into format 1; 16, 24 and 32 bits are
    // read as formats 3, 6 and 9.
    bool decodeRows(void* dst, int32_t pitch, int32_t dstFormat) const;
    // The same into a whole image (locks and unlocks it); its size must match.
    bool decodeInto(Image& image) const;

    static uint32_t lastError() { return lastError_.load(std::memory_order_relaxed); }
    static void setLastError(uint32_t error) { lastError_.store(error, std::memory_order_relaxed); }

    // The decoders in the order they are asked.
    static const std::vector<ImageDecoder>& decoders();

private:
    DibBitmap bitmap_;
    const char* decoder_ = nullptr;
    static std::atomic<uint32_t> lastError_;
};
