#pragma once
// The packed RGB video subtypes the engine's renderers take, with the pixel format the
// picture is copied from and the texture format the target must have. Row order is the
// search order.
#include <cstdint>
#include <span>

#include "framework/Guid.h"
#include "framework/d3d9/D3D9Types.h"

struct VideoFormat {
    GUID subtype;
    int32_t pixelFormat;  // the framework's pixel format number
    D3DFORMAT textureFormat;
};

std::span<const VideoFormat> videoFormatTable();
// The first row for a subtype, or null.
const VideoFormat* findVideoFormat(const GUID& subtype);
