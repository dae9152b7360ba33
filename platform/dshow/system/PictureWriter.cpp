#include "platform/dshow/system/PictureWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int kMaxDimension = 8192;

int swsColourSpace(const AVFrame& f) {
    switch (f.colorspace) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M:
            return SWS_CS_ITU601;
        default:
            // Unlabelled pictures follow the usual practice: high definition is BT.709.
            return f.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

}  // namespace

PictureLayout pictureLayout(PictureFormat format, int width, int height) {
    PictureLayout l;
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return l;
    // Half-width chroma rows have no room for the last sample of an odd width.
    if (format != PictureFormat::Rgb32 && (width & 1)) return l;
    l.width = width;
    l.height = height;
    if (format == PictureFormat::Rgb32) {
        l.lumaStride = width * 4;
        l.imageSize = l.lumaStride * height;
    } else {
        l.lumaStride = (width + 3) & ~3;
        l.chromaStride = ((width / 2) + 3) & ~3;
        l.chromaRows = (height + 1) / 2;
        l.imageSize = l.lumaStride * height + 2 * l.chromaStride * l.chromaRows;
    }
    return l;
}

void PictureWriter::configure(PictureFormat format, int width, int height, bool bottomUp) {
    format_ = format;
    layout_ = pictureLayout(format, width, height);
    bottomUp_ = bottomUp && format == PictureFormat::Rgb32;
    sws_.reset();
}

bool PictureWriter::write(const AVFrame& frame, BYTE* buffer, LONG bufferSize) {
    if (!buffer || layout_.imageSize == 0 || bufferSize < layout_.imageSize) return false;
    if (frame.width < 1 || frame.height < 1 || frame.format < 0) return false;
    auto source = static_cast<AVPixelFormat>(frame.format);
    AVPixelFormat target = format_ == PictureFormat::Rgb32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_YUV420P;
    SwsContext* ctx = sws_getCachedContext(sws_.release(), frame.width, frame.height, source, layout_.width,
                                           layout_.height, target, SWS_BILINEAR, nullptr, nullptr, nullptr);
    sws_.reset(ctx);
    if (!ctx) return false;

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(source);
    if (desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
        int srcRange = frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        int dstRange = format_ == PictureFormat::Rgb32 ? 1 : 0;
        const int* coefficients = sws_getCoefficients(swsColourSpace(frame));
        // The planes stay in the source's colour space; only RGB needs the matrix.
        sws_setColorspaceDetails(ctx, coefficients, srcRange, coefficients, dstRange, 0, 1 << 16, 1 << 16);
    }

    uint8_t* planes[4] = {buffer, nullptr, nullptr, nullptr};
    int strides[4] = {layout_.lumaStride, 0, 0, 0};
    if (format_ != PictureFormat::Rgb32) {
        BYTE* first = buffer + layout_.lumaStride * layout_.height;
        BYTE* second = first + layout_.chromaStride * layout_.chromaRows;
        // YV12 keeps V before U; I420 the other way round.
        planes[1] = format_ == PictureFormat::I420 ? first : second;
        planes[2] = format_ == PictureFormat::I420 ? second : first;
        strides[1] = strides[2] = layout_.chromaStride;
    }
    if (sws_scale(ctx, frame.data, frame.linesize, 0, frame.height, planes, strides) <= 0) return false;

    if (bottomUp_) {
        std::vector<BYTE> row(static_cast<size_t>(layout_.lumaStride));
        for (int top = 0, bottom = layout_.height - 1; top < bottom; ++top, --bottom) {
            BYTE* a = buffer + static_cast<size_t>(top) * layout_.lumaStride;
            BYTE* b = buffer + static_cast<size_t>(bottom) * layout_.lumaStride;
            std::memcpy(row.data(), a, row.size());
            std::memcpy(a, b, row.size());
            std::memcpy(b, row.data(), row.size());
        }
    }
    return true;
}
