#include "graphics/PngDecoder.h"

#include <png.h>

#include <cstring>

namespace {

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void readFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (!r || length > r->size - r->pos) png_error(png, "read past the end");
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
}

// No text goes anywhere: errors end the decode through the long jump, warnings are dropped.
void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

struct PngSetup {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    uint16_t bitCount = 0;
    int passes = 1;
};

// Reads the header and sets up the transformations; a longjmp may leave from here. Returns
// false for colour types the picture cannot become.
bool setUp(png_structp png, png_infop info, PngSetup* s) {
    png_read_info(png, info);
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(png, info, &s->width, &s->height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    if (bitDepth > 8) png_set_strip_16(png);
    switch (colourType) {
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png);
            s->bitCount = 24;
            break;
        case PNG_COLOR_TYPE_PALETTE: {
            png_set_palette_to_rgb(png);
            png_set_bgr(png);
            png_bytep trans = nullptr;
            int transCount = 0;
            png_uint_32 hasTrns = png_get_tRNS(png, info, &trans, &transCount, nullptr);
            if (hasTrns && transCount > 0) {
                s->bitCount = 32;
            } else {
                if (hasTrns) png_set_strip_alpha(png);
                s->bitCount = 24;
            }
            break;
        }
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            png_set_strip_alpha(png);
            s->bitCount = 8;
            break;
        case PNG_COLOR_TYPE_GRAY:
            if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
            s->bitCount = 8;
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            png_set_bgr(png);
            s->bitCount = 32;
            break;
        default:
            return false;
    }
    s->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    // The rows libpng will hand out must be exactly the bitmap's pixels.
    return png_get_rowbytes(png, info) == size_t(s->width) * (s->bitCount / 8);
}

// Everything between setjmp and the last libpng call lives here, with no object that has a
// destructor, so the long jump skips nothing.
bool readPicture(png_structp png, png_infop info, DibBitmap* bitmap, uint32_t* error) {
    PngSetup setup;
    if (setjmp(png_jmpbuf(png))) return false;
    if (!setUp(png, info, &setup)) return false;
    if (setup.width == 0 || setup.height == 0 || setup.width > uint32_t(DibBitmap::kMaxDimension) ||
        setup.height > uint32_t(DibBitmap::kMaxDimension) ||
        !bitmap->create(int32_t(setup.width), int32_t(setup.height), setup.bitCount)) {
        *error = ImageCodec::kErrorOutOfMemory;
        return false;
    }
    for (int pass = 0; pass < setup.passes; ++pass)
        for (png_uint_32 y = 0; y < setup.height; ++y) png_read_row(png, bitmap->rowFromTop(int32_t(y)), nullptr);
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

namespace PngDecoder {

bool probe(const uint8_t* data, size_t size) {
    return size >= 8 && png_sig_cmp(const_cast<png_bytep>(data), 0, 8) == 0;
}

bool header(const uint8_t* data, size_t size, BitmapInfoHeader* header) {
    // IHDR follows the signature: length, "IHDR", width, height, depth, colour type.
    if (size < 8 + 8 + 13 || std::memcmp(data + 12, "IHDR", 4) != 0) {
        ImageCodec::setLastError(ImageCodec::kErrorBadData);
        return false;
    }
    auto be32 = [&](size_t at) {
        return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 | data[at + 3];
    };
    uint32_t width = be32(16), height = be32(20);
    uint8_t colourType = data[25];
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        ImageCodec::setLastError(ImageCodec::kErrorBadData);
        return false;
    }
    *header = BitmapInfoHeader{};
    header->width = int32_t(width);
    header->height = int32_t(height);
    switch (colourType) {
        case PNG_COLOR_TYPE_RGB:
            header->bitCount = 24;
            break;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            header->bitCount = 32;
            break;
        case PNG_COLOR_TYPE_GRAY:
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            header->bitCount = 8;
            break;
        case PNG_COLOR_TYPE_PALETTE:
            header->bitCount = 24;
            break;  // 32 once a tRNS chunk is seen
        default:
            ImageCodec::setLastError(ImageCodec::kErrorBadData);
            return false;
    }
    return true;
}

bool decode(const uint8_t* data, size_t size, DibBitmap* bitmap) {
    bitmap->reset();
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) {
        ImageCodec::setLastError(ImageCodec::kErrorOutOfMemory);
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        ImageCodec::setLastError(ImageCodec::kErrorOutOfMemory);
        return false;
    }
    MemoryReader reader{data, size, 0};
    png_set_read_fn(png, &reader, readFromMemory);
    uint32_t error = ImageCodec::kErrorBadData;
    bool ok = readPicture(png, info, bitmap, &error);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        bitmap->reset();
        ImageCodec::setLastError(error);
    }
    return ok;
}

}  // namespace PngDecoder
