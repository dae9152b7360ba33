#pragma once
// A picture in system memory in one of the framework's pixel formats: an offscreen plain
// surface of the graphics contract, made by the image itself or lent to it (a view onto a
// layer texture's staging surface is an Image too). Used by one thread at a time.
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/InterfacePtr.h"
#include "framework/Rect.h"
#include "framework/RefObject.h"
#include "framework/d3d9/D3D9.h"
#include "graphics/ImageCodec.h"

class Image : public RefObject {
public:
    // Answered by the identifier query, next to the base identifier.
    static constexpr uint32_t kIdentifier = 0x4020051;
    // Opaque pure green: the key colour of pictures without alpha.
    static constexpr uint32_t kOpaqueKeyColour = 0xFF00FF00u;
    static constexpr size_t kMaxPathUnits = 512;
    // copyFrom flag: convert plainly, without turning key-coloured pixels transparent.
    static constexpr uint32_t kCopyIgnoreKey = 1;

    // An image that makes its surfaces on `device` (a reference is held); create() uses the
    // given default opaque and alpha formats. A null device makes an image that can only
    // be given a surface with attachSurface.
    Image(IDirect3DDevice9* device, D3DFORMAT defaultOpaqueFormat, D3DFORMAT defaultAlphaFormat);
    Image() : Image(nullptr, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8) {}

    // A w x h picture in the default opaque or alpha format.
    bool create(uint32_t width, uint32_t height, bool alpha);
    // A w x h picture in the graphics format of a pixel format.
    bool createFormat(uint32_t width, uint32_t height, int32_t pixelFormat);
    // Shows an existing surface (a reference is held); fails for formats without a pixel format.
    bool attachSurface(IDirect3DSurface9* surface);
    // Reads a file through the codec; see ImageCodec for the formats.
    bool load(std::u16string_view path, ImageCodec& codec);
    // Drops the surface (unlocking it first).
    void destroy();

    bool valid() const { return surface_ != nullptr; }
    void size(int32_t* width, int32_t* height) const;
    int32_t width() const { return int32_t(width_); }
    int32_t height() const { return int32_t(height_); }
    int32_t format() const { return format_; }
    bool hasAlpha() const;

    // Makes the pixels reachable; nested locks share one surface lock.
    bool lock(void** bits, int32_t* pitch);
    void unlock();
    bool isLocked() const { return lockCount_ > 0; }

    // Every pixel of the rectangle (clipped; null for all) becomes the A8R8G8B8 colour.
    bool fill(uint32_t colour, const RECT* rect);
    // Copies the source (clipped) to (x, y), converting rows; pixels of the source's key
    // colour become transparent when this image has alpha and the source has none, unless
    // kCopyIgnoreKey is given.
    bool copyFrom(Image& source, int32_t x, int32_t y, uint32_t keyFlags);
    // Nearest-neighbour scaled copy of a source rectangle (null: all) into a rectangle of
    // this image (null: all; clipped), with the same key rule as copyFrom.
    bool stretchFrom(Image& source, const RECT* sourceRect, const RECT* destRect, uint32_t keyFlags);

    uint32_t keyColour() const { return keyColour_; }
    void setKeyColour(uint32_t colour) { keyColour_ = colour; }
    POINT position() const { return position_; }
    void setPosition(POINT p) { position_ = p; }
    const std::u16string& path() const { return path_; }
    // The decoder's description of the file the picture came from.
    const BitmapInfoHeader& sourceInfo() const { return sourceInfo_; }
    IDirect3DSurface9* surface() const { return surface_.get(); }

    bool queryIdentifier(uint32_t id, void** out) override;

protected:
    ~Image() override;

private:
    bool adopt(InterfacePtr<IDirect3DSurface9> surface);
    bool packColour(uint32_t colour, uint8_t* out) const;

    InterfacePtr<IDirect3DDevice9> device_;
    D3DFORMAT defaultOpaque_;
    D3DFORMAT defaultAlpha_;
    InterfacePtr<IDirect3DSurface9> surface_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    int32_t format_ = 0;
    uint32_t keyColour_ = 0;
    POINT position_{0, 0};
    int lockCount_ = 0;
    uint8_t* bits_ = nullptr;
    int32_t pitch_ = 0;
    std::u16string path_;
    BitmapInfoHeader sourceInfo_;
};
