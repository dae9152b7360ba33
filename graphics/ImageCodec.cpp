#include "graphics/ImageCodec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "framework/StreamCallbacks.h"
#include "graphics/BmpDecoder.h"
#include "graphics/GbcfDecoder.h"
#include "graphics/Image.h"
#include "graphics/PixelFormat.h"
#include "graphics/PngDecoder.h"
#include "graphics/RowConverter.h"

std::atomic<uint32_t> ImageCodec::lastError_{ImageCodec::kErrorNone};

bool DibBitmap::create(int32_t width, int32_t height, uint16_t bitCount) {
    reset();
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) return false;
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) return false;
    size_t stride = strideOf(width, bitCount);
    uint64_t bytes = uint64_t(stride) * uint64_t(height);
    if (bytes > kMaxBytes) return false;
    try {
        bits_.assign(size_t(bytes), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    stride_ = stride;
    header_ = BitmapInfoHeader{};
    header_.width = width;
    header_.height = height;
    header_.bitCount = bitCount;
    header_.sizeImage = static_cast<uint32_t>(bytes);
    if (bitCount == 8) {
        for (uint32_t i = 0; i < 256; ++i) palette_[i] = i << 16 | i << 8 | i;
        header_.clrUsed = 256;
    }
    return true;
}

void DibBitmap::reset() {
    std::vector<uint8_t>().swap(bits_);
    header_ = BitmapInfoHeader{};
    stride_ = 0;
    palette_.fill(0);
}

const std::vector<ImageDecoder>& ImageCodec::decoders() {
    static const std::vector<ImageDecoder> list = {
        {"PNG", PngDecoder::probe, PngDecoder::header, PngDecoder::decode},
        {"GBCF", GbcfDecoder::probe, GbcfDecoder::header, GbcfDecoder::decode},
        {"BMP", BmpDecoder::probe, BmpDecoder::header, BmpDecoder::decode},
    };
    return list;
}

bool ImageCodec::open(std::u16string_view path) {
    close();
    const StreamCallbacks& files = systemFileCallbacks();
    std::u16string name(path);
    HANDLE h = files.open(name.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!h) return false;
    int64_t length = 0;
    bool ok = files.size(h, &length) && length >= 0;
    if (ok && length > kMaxFileBytes) {
        setLastError(kErrorOutOfMemory);
        ok = false;
    }
    std::unique_ptr<uint8_t[]> data;
    if (ok) {
        data.reset(new (std::nothrow) uint8_t[size_t(length) + 1]);
        if (!data) {
            setLastError(kErrorOutOfMemory);
            ok = false;
        }
    }
    size_t got = 0;
    while (ok && got < size_t(length)) {
        uint32_t want = static_cast<uint32_t>(std::min<size_t>(size_t(length) - got, 1u << 24));
        uint32_t read = 0;
        if (!files.read(h, data.get() + got, want, &read) || read == 0) break;
        got += read;
    }
    files.close(h);
    // A file that shrank while being read is taken as far as it was read.
    return ok && openMemory(data.get(), got);
}

bool ImageCodec::openMemory(const uint8_t* data, size_t size) {
    close();
    if (!data && size) size = 0;
    bool accepted = false;
    for (const ImageDecoder& d : decoders()) {
        if (!d.probe(data, size)) continue;
        accepted = true;
        BitmapInfoHeader info;
        if (!d.header(data, size, &info)) continue;
        if (d.decode(data, size, &bitmap_)) {
            decoder_ = d.name;
            setLastError(kErrorNone);
            return true;
        }
        bitmap_.reset();
    }
    if (!accepted) setLastError(size < 8 ? kErrorShortData : kErrorBadData);
    return false;
}

void ImageCodec::close() {
    bitmap_.reset();
    decoder_ = nullptr;
}

void ImageCodec::size(int32_t* width, int32_t* height) const {
    if (width) *width = bitmap_.width();
    if (height) *height = bitmap_.height();
}

bool ImageCodec::decodeRows(void* dst, int32_t pitch, int32_t dstFormat) const {
    if (bitmap_.empty() || !dst) return false;
    int32_t srcFormat;
    switch (bitmap_.bitCount()) {
        case 8:
            if (dstFormat != kPixelFormatA8) return false;
            srcFormat = kPixelFormatA8;
            break;
        case 16:
            srcFormat = kPixelFormatR5G6B5;
            break;
        case 24:
            srcFormat = kPixelFormatR8G8B8;
            break;
        case 32:
            srcFormat = kPixelFormatA8R8G8B8;
            break;
        default:
            return false;
    }
    if (!isRowConversionSupported(srcFormat, dstFormat)) return false;
    uint8_t* out = static_cast<uint8_t*>(dst);
    const uint32_t width = static_cast<uint32_t>(bitmap_.width());
    for (int32_t y = 0; y < bitmap_.height(); ++y) {
        if (!convertRow(out, dstFormat, bitmap_.rowFromTop(y), srcFormat, width)) return false;
        out += pitch;
    }
    return true;
}

bool ImageCodec::decodeInto(Image& image) const {
    if (bitmap_.empty() || image.width() != bitmap_.width() || image.height() != bitmap_.height()) return false;
    void* bits = nullptr;
    int32_t pitch = 0;
    if (!image.lock(&bits, &pitch)) return false;
    bool ok = decodeRows(bits, pitch, image.format());
    image.unlock();
    return ok;
}
