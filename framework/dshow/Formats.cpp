#include "framework/dshow/Formats.h"

#include "framework/dshow/MediaGuids.h"

const BITMAPINFOHEADER* bitmapHeaderOf(const GUID& formatType, const BYTE* format, ULONG formatSize) {
    if (!format) return nullptr;
    if (formatType == FORMAT_VideoInfo && formatSize >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(format)->bmiHeader;
    if (formatType == FORMAT_VideoInfo2 && formatSize >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(format)->bmiHeader;
    return nullptr;
}
