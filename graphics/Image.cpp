#include "graphics/Image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/PixelFormat.h"
#include "graphics/RowConverter.h"

namespace {

// The part of [start, start + length) inside [0, limit), as [from, to).
void clip1(int64_t start, int64_t length, int64_t limit, int64_t* from, int64_t* to) {
    *from = std::max<int64_t>(start, 0);
    *to = std::min<int64_t>(start + length, limit);
}

}  // namespace

Image::Image(IDirect3DDevice9* device, D3DFORMAT defaultOpaqueFormat, D3DFORMAT defaultAlphaFormat)
    : device_(device), defaultOpaque_(defaultOpaqueFormat), defaultAlpha_(defaultAlphaFormat) {}

Image::~Image() {
    destroy();
}

bool Image::queryIdentifier(uint32_t id, void** out) {
    if (out && id == kIdentifier) {
        *out = this;
        addRef();
        return true;
    }
    return RefObject::queryIdentifier(id, out);
}

bool Image::hasAlpha() const {
    return pixelFormatHasAlpha(format_);
}

void Image::size(int32_t* width, int32_t* height) const {
    if (width) *width = int32_t(width_);
    if (height) *height = int32_t(height_);
}

void Image::destroy() {
    if (lockCount_ > 0 && surface_) surface_->UnlockRect();
    lockCount_ = 0;
    bits_ = nullptr;
    pitch_ = 0;
    surface_.reset();
    width_ = height_ = 0;
    format_ = 0;
    keyColour_ = 0;
}

bool Image::adopt(InterfacePtr<IDirect3DSurface9> surface) {
    D3DSURFACE_DESC desc{};
    if (!surface || FAILED(surface->GetDesc(&desc))) return false;
    int32_t format = pixelFormatOfD3dFormat(desc.Format);
    if (!format || desc.Width == 0 || desc.Height == 0 || desc.Width > 0x7FFFFFFFu || desc.Height > 0x7FFFFFFFu)
        return false;
    destroy();
    surface_ = std::move(surface);
    width_ = desc.Width;
    height_ = desc.Height;
    format_ = format;
    keyColour_ = pixelFormatHasAlpha(format) ? 0 : kOpaqueKeyColour;
    return true;
}

bool Image::createFormat(uint32_t width, uint32_t height, int32_t pixelFormat) {
    D3DFORMAT d3dFormat = d3dFormatOfPixelFormat(pixelFormat);
    if (!device_ || d3dFormat == D3DFMT_UNKNOWN || width == 0 || height == 0) return false;
    InterfacePtr<IDirect3DSurface9> surface;
    if (FAILED(
            device_->CreateOffscreenPlainSurface(width, height, d3dFormat, D3DPOOL_SYSTEMMEM, surface.put(), nullptr)))
        return false;
    return adopt(std::move(surface));
}

bool Image::create(uint32_t width, uint32_t height, bool alpha) {
    return createFormat(width, height, pixelFormatOfD3dFormat(alpha ? defaultAlpha_ : defaultOpaque_));
}

bool Image::attachSurface(IDirect3DSurface9* surface) {
    return adopt(InterfacePtr<IDirect3DSurface9>(surface));
}

bool Image::load(std::u16string_view path, ImageCodec& codec) {
    if (!codec.open(path)) return false;
    int32_t w = 0, h = 0;
    codec.size(&w, &h);
    bool made = false;
    switch (codec.bitCount()) {
        case 8:
            made = createFormat(uint32_t(w), uint32_t(h), kPixelFormatA8);
            break;
        case 16:
        case 24:
            made = create(uint32_t(w), uint32_t(h), false);
            break;
        case 32:
            made = create(uint32_t(w), uint32_t(h), true);
            break;
        default:
            break;
    }
    if (!made || !codec.decodeInto(*this)) {
        codec.close();
        destroy();
        return false;
    }
    sourceInfo_ = codec.info();
    codec.close();
    path_.assign(path.substr(0, kMaxPathUnits));
    return true;
}

bool Image::lock(void** bits, int32_t* pitch) {
    if (!surface_) return false;
    if (lockCount_ == 0) {
        D3DLOCKED_RECT locked{};
        if (FAILED(surface_->LockRect(&locked, nullptr, 0)) || !locked.pBits) return false;
        bits_ = static_cast<uint8_t*>(locked.pBits);
        pitch_ = locked.Pitch;
    }
    ++lockCount_;
    if (bits) *bits = bits_;
    if (pitch) *pitch = pitch_;
    return true;
}

void Image::unlock() {
    if (lockCount_ == 0) return;
    if (--lockCount_ == 0) {
        surface_->UnlockRect();
        bits_ = nullptr;
        pitch_ = 0;
    }
}

// The colour as one pixel of this image's format.
bool Image::packColour(uint32_t colour, uint8_t* out) const {
    switch (format_) {
        case kPixelFormatA8:
            out[0] = uint8_t(colour >> 24);
            return true;
        case kPixelFormatA2R10G10B10: {
            uint32_t a = colour >> 30, r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
            uint32_t v = a << 30 | r << 22 | g << 12 | b << 2;
            std::memcpy(out, &v, 4);
            return true;
        }
        default: {
            uint8_t wide[4];
            std::memcpy(wide, &colour, 4);
            return convertRow(out, format_, wide, kPixelFormatA8R8G8B8, 1);
        }
    }
}

bool Image::fill(uint32_t colour, const RECT* rect) {
    if (!surface_) return false;
    const uint32_t bpp = pixelFormatBytes(format_);
    uint8_t pixel[4] = {};
    if (!bpp || !packColour(colour, pixel)) return false;
    int64_t x0 = 0, x1 = width_, y0 = 0, y1 = height_;
    if (rect) {
        clip1(rect->left, int64_t(rect->right) - rect->left, width_, &x0, &x1);
        clip1(rect->top, int64_t(rect->bottom) - rect->top, height_, &y0, &y1);
    }
    if (x0 >= x1 || y0 >= y1) return true;
    std::vector<uint8_t> row(size_t(x1 - x0) * bpp);
    for (size_t i = 0; i < row.size(); i += bpp) std::memcpy(&row[i], pixel, bpp);
    void* bits = nullptr;
    int32_t pitch = 0;
    if (!lock(&bits, &pitch)) return false;
    for (int64_t y = y0; y < y1; ++y)
        std::memcpy(static_cast<uint8_t*>(bits) + y * pitch + x0 * bpp, row.data(), row.size());
    unlock();
    return true;
}

bool Image::copyFrom(Image& source, int32_t x, int32_t y, uint32_t keyFlags) {
    if (&source == this || !surface_ || !source.surface_) return false;
    if (!isRowConversionSupported(source.format_, format_)) return false;
    int64_t x0, x1, y0, y1;
    clip1(x, source.width_, width_, &x0, &x1);
    clip1(y, source.height_, height_, &y0, &y1);
    if (x0 >= x1 || y0 >= y1) return true;
    void* dstBits = nullptr;
    void* srcBits = nullptr;
    int32_t dstPitch = 0, srcPitch = 0;
    if (!lock(&dstBits, &dstPitch)) return false;
    if (!source.lock(&srcBits, &srcPitch)) {
        unlock();
        return false;
    }
    const uint32_t dstBpp = pixelFormatBytes(format_), srcBpp = pixelFormatBytes(source.format_);
    const uint32_t count = uint32_t(x1 - x0);
    bool ok = true;
    for (int64_t row = y0; row < y1 && ok; ++row) {
        uint8_t* d = static_cast<uint8_t*>(dstBits) + row * dstPitch + x0 * dstBpp;
        const uint8_t* s = static_cast<const uint8_t*>(srcBits) + (row - y) * srcPitch + (x0 - x) * srcBpp;
        ok = (keyFlags & kCopyIgnoreKey) ? convertRow(d, format_, s, source.format_, count)
                                         : convertRowKeyed(d, format_, s, source.format_, source.keyColour_, count);
    }
    source.unlock();
    unlock();
    return ok;
}

bool Image::stretchFrom(Image& source, const RECT* sourceRect, const RECT* destRect, uint32_t keyFlags) {
    if (&source == this || !surface_ || !source.surface_) return false;
    if (!isRowConversionSupported(source.format_, format_)) return false;
    RECT s = sourceRect ? *sourceRect : RECT{0, 0, LONG(source.width_), LONG(source.height_)};
    RECT d = destRect ? *destRect : RECT{0, 0, LONG(width_), LONG(height_)};
    if (s.left < 0 || s.top < 0 || s.right > LONG(source.width_) || s.bottom > LONG(source.height_) ||
        s.left >= s.right || s.top >= s.bottom || d.left >= d.right || d.top >= d.bottom)
        return false;
    int64_t x0, x1, y0, y1;
    clip1(d.left, int64_t(d.right) - d.left, width_, &x0, &x1);
    clip1(d.top, int64_t(d.bottom) - d.top, height_, &y0, &y1);
    if (x0 >= x1 || y0 >= y1) return true;
    const int64_t dw = int64_t(d.right) - d.left, dh = int64_t(d.bottom) - d.top;
    const int64_t sw = int64_t(s.right) - s.left, sh = int64_t(s.bottom) - s.top;
    const uint32_t dstBpp = pixelFormatBytes(format_), srcBpp = pixelFormatBytes(source.format_);
    const uint32_t count = uint32_t(x1 - x0);
    std::vector<uint8_t> gathered(size_t(count) * srcBpp);
    void* dstBits = nullptr;
    void* srcBits = nullptr;
    int32_t dstPitch = 0, srcPitch = 0;
    if (!lock(&dstBits, &dstPitch)) return false;
    if (!source.lock(&srcBits, &srcPitch)) {
        unlock();
        return false;
    }
    bool ok = true;
    for (int64_t row = y0; row < y1 && ok; ++row) {
        // Each destination pixel takes the source pixel its centre falls on.
        int64_t sy = s.top + ((row - d.top) * 2 + 1) * sh / (2 * dh);
        const uint8_t* srcRow = static_cast<const uint8_t*>(srcBits) + sy * srcPitch;
        for (int64_t col = x0; col < x1; ++col) {
            int64_t sx = s.left + ((col - d.left) * 2 + 1) * sw / (2 * dw);
            std::memcpy(&gathered[size_t(col - x0) * srcBpp], srcRow + sx * srcBpp, srcBpp);
        }
        uint8_t* out = static_cast<uint8_t*>(dstBits) + row * dstPitch + x0 * dstBpp;
        ok = (keyFlags & kCopyIgnoreKey)
                 ? convertRow(out, format_, gathered.data(), source.format_, count)
                 : convertRowKeyed(out, format_, gathered.data(), source.format_, source.keyColour_, count);
    }
    source.unlock();
    unlock();
    return ok;
}
