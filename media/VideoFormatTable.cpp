#include "media/VideoFormatTable.h"

#include <array>

#include "framework/dshow/MediaGuids.h"
#include "graphics/PixelFormat.h"

namespace {

constexpr std::array<VideoFormat, 5> kVideoFormats = {{
    {MEDIASUBTYPE_RGB32, kPixelFormatX8R8G8B8, D3DFMT_X8R8G8B8},
    {MEDIASUBTYPE_ARGB32, kPixelFormatA8R8G8B8, D3DFMT_A8R8G8B8},
    {MEDIASUBTYPE_RGB24, kPixelFormatR8G8B8, D3DFMT_R8G8B8},
    {MEDIASUBTYPE_RGB565, kPixelFormatR5G6B5, D3DFMT_R5G6B5},
    {MEDIASUBTYPE_ARGB4444, kPixelFormatA4R4G4B4, D3DFMT_A4R4G4B4},
}};

}  // namespace

std::span<const VideoFormat> videoFormatTable() {
    return kVideoFormats;
}

const VideoFormat* findVideoFormat(const GUID& subtype) {
    for (const VideoFormat& row : kVideoFormats)
        if (row.subtype == subtype) return &row;
    return nullptr;
}
