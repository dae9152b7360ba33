#pragma once
// Turns every planar 4:2:0 picture (YV12 or I420) into one top-down 32-bit RGB picture
// of the same size, so that the engine's renderers, which take packed RGB only, can show
// the output of YUV decoders. The graph's intelligent connect puts it between decoder
// and renderer by media type.
#include <cstdint>
#include <mutex>

#include "framework/Guid.h"
#include "framework/dshow/CTransformFilter.h"
#include "framework/dshow/Formats.h"
#include "media/Yv12Rows.h"

class Yv12ToRgb32Filter : public CTransformFilter {
public:
    static constexpr const char16_t* kName = u"ColorSpace YV12 To RGB32 Filter";
    static constexpr CLSID kClassId = guidOf("{377F17B2-4EFE-4F2D-A2EE-967F57A87F08}");
    // Output buffers asked of the allocator.
    static constexpr LONG kOutputBuffers = 4;

    // Where the planes of one input picture lie, and the output picture's size.
    struct PlaneGeometry {
        int32_t width = 0;
        int32_t height = 0;  // always positive: the planes are read top-down
        int32_t rgbStride = 0;
        int32_t rgbImageSize = 0;
        int32_t lumaStride = 0;
        int32_t lumaPlaneSize = 0;
        int32_t uStride = 0;
        int32_t vStride = 0;
        int32_t uPlaneSize = 0;
        int32_t vPlaneSize = 0;
        int32_t lumaOffset = 0;
        int32_t uOffset = 0;
        int32_t vOffset = 0;

        // Bytes one input picture takes.
        int64_t inputSize() const { return int64_t(lumaPlaneSize) + uPlaneSize + vPlaneSize; }
    };
    // False for a picture this filter cannot convert (narrower than 2 pixels, no rows,
    // or larger than a sample can be).
    static bool planeGeometry(int32_t biWidth, int32_t biHeight, bool i420, PlaneGeometry* out);

    explicit Yv12ToRgb32Filter(HRESULT* phr);
    static HRESULT create(REFIID riid, void** out);

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;

    PlaneGeometry geometry() const;

private:
    void convertPicture(const PlaneGeometry& g, const uint8_t* in, uint8_t* out) const;

    const YuvRowConverter rowConverter_;
    const YuvCoefficientSet& coefficients_;

    mutable std::mutex mutex_;  // the input type's state: set on connection, read per sample
    PlaneGeometry geometry_;
    GUID formatType_ = GUID_NULL;
    // The input's format block rewritten as the output's: exactly one of the two is held.
    union {
        VIDEOINFOHEADER info;
        VIDEOINFOHEADER2 info2;
    } format_{};
};
