#pragma once
// Writes decoded pictures into the buffers of the decoder's output type: planar 4:2:0
// (YV12 with V before U, or I420 with U before V, planes laid out with rows rounded up to
// four bytes and half-height chroma) or 32-bit RGB (B, G, R, 255 in memory), top-down
// unless a bottom-up RGB picture was asked for. A picture of another size or pixel format
// than the output is converted and scaled to it, so nothing is ever written beyond the
// negotiated picture.
#include <cstdint>

#include "framework/dshow/DshowTypes.h"
#include "platform/dshow/system/AvHandles.h"

enum class PictureFormat { Yv12, I420, Rgb32 };

struct PictureLayout {
    int width = 0;
    int height = 0;
    LONG lumaStride = 0;
    LONG chromaStride = 0;
    LONG chromaRows = 0;
    LONG imageSize = 0;
};

// Geometry of a picture of the format; 0 sizes for dimensions out of range.
PictureLayout pictureLayout(PictureFormat format, int width, int height);

class PictureWriter {
public:
    void configure(PictureFormat format, int width, int height, bool bottomUp);
    const PictureLayout& layout() const { return layout_; }
    PictureFormat format() const { return format_; }

    // false when the frame could not be converted (the buffer is left as it was).
    bool write(const AVFrame& frame, BYTE* buffer, LONG bufferSize);

private:
    PictureFormat format_ = PictureFormat::Rgb32;
    PictureLayout layout_;
    bool bottomUp_ = false;
    av::Sws sws_;
};
