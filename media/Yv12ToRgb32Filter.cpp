#include "media/Yv12ToRgb32Filter.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/MediaGuids.h"

namespace {

// ((width x bits / 8) + 3) rounded down to a multiple of 4, with integer division.
int64_t rowBytes(int64_t width, int bitsPerPixel) {
    return ((width * bitsPerPixel / 8) + 3) & ~int64_t(3);
}

bool isVideoInfo(const GUID& formatType) {
    return formatType == FORMAT_VideoInfo || formatType == FORMAT_VideoInfo2;
}

}  // namespace

bool Yv12ToRgb32Filter::planeGeometry(int32_t biWidth, int32_t biHeight, bool i420, PlaneGeometry* out) {
    const int64_t width = biWidth;
    const int64_t height = std::llabs(int64_t(biHeight));
    constexpr int64_t kLimit = std::numeric_limits<LONG>::max();
    // Below two pixels the chroma rows would be empty; a row wider than a sample can be
    // is refused before any product can overflow.
    if (width < 2 || height == 0 || width * 4 > kLimit) return false;
    const int64_t rgbStride = rowBytes(width, 32);
    const int64_t lumaStride = rowBytes(width, 8);
    const int64_t chromaStride = rowBytes(width, 4);
    const int64_t chromaRows = (height + 1) / 2;
    const int64_t rgbImageSize = height * rgbStride;
    const int64_t inputSize = height * lumaStride + 2 * chromaRows * chromaStride;
    if (rgbImageSize > kLimit || inputSize > kLimit) return false;

    PlaneGeometry g;
    g.width = int32_t(width);
    g.height = int32_t(height);
    g.rgbStride = int32_t(rgbStride);
    g.rgbImageSize = int32_t(rgbImageSize);
    g.lumaStride = int32_t(lumaStride);
    g.lumaPlaneSize = int32_t(height * lumaStride);
    g.uStride = g.vStride = int32_t(chromaStride);
    g.uPlaneSize = g.vPlaneSize = int32_t(chromaRows * chromaStride);
    g.lumaOffset = 0;
    if (i420) {
        g.uOffset = g.lumaPlaneSize;
        g.vOffset = g.lumaPlaneSize + g.uPlaneSize;
    } else {
        g.vOffset = g.lumaPlaneSize;
        g.uOffset = g.lumaPlaneSize + g.vPlaneSize;
    }
    if (out) *out = g;
    return true;
}

Yv12ToRgb32Filter::Yv12ToRgb32Filter(HRESULT* phr)
    : CTransformFilter(kName, kClassId, phr),
      rowConverter_(activeYuvRowConverter()),
      coefficients_(yuvCoefficients(kColourStandardBt709Studio)) {}

HRESULT Yv12ToRgb32Filter::create(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = S_OK;
    auto* filter = new (std::nothrow) Yv12ToRgb32Filter(&hr);
    if (!filter) return E_OUTOFMEMORY;
    filter->AddRef();
    if (SUCCEEDED(hr)) hr = filter->QueryInterface(riid, out);
    filter->Release();
    return hr;
}

HRESULT Yv12ToRgb32Filter::CheckInputType(const CMediaType* mtIn) {
    if (!mtIn) return E_POINTER;
    if (mtIn->majortype != MEDIATYPE_Video) return VFW_E_INVALIDMEDIATYPE;
    if (mtIn->subtype != MEDIASUBTYPE_YV12 && mtIn->subtype != MEDIASUBTYPE_I420) return VFW_E_INVALIDSUBTYPE;
    if (!isVideoInfo(mtIn->formattype)) return VFW_E_NO_TYPES;
    // The block must hold its header, and the header a picture that can be converted.
    const BITMAPINFOHEADER* header = bitmapHeaderOf(mtIn->formattype, mtIn->pbFormat, mtIn->cbFormat);
    if (!header) return VFW_E_NO_TYPES;
    if (!planeGeometry(header->biWidth, header->biHeight, false, nullptr)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT Yv12ToRgb32Filter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    if (!mtIn || !mtOut) return E_POINTER;
    if (CheckInputType(mtIn) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    if (mtOut->majortype != MEDIATYPE_Video || mtOut->subtype != MEDIASUBTYPE_RGB32 || !isVideoInfo(mtOut->formattype))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT Yv12ToRgb32Filter::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition < 0) return E_INVALIDARG;
    if (!pMediaType) return E_POINTER;
    std::lock_guard hold(mutex_);
    if (geometry_.width == 0 || geometry_.height == 0 || iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Video);
    pMediaType->SetSubtype(&MEDIASUBTYPE_RGB32);
    pMediaType->SetFormatType(&formatType_);
    pMediaType->SetTemporalCompression(FALSE);
    pMediaType->SetSampleSize(ULONG(geometry_.rgbImageSize));
    bool stored = false;
    if (formatType_ == FORMAT_VideoInfo2) {
        VIDEOINFOHEADER2 block = format_.info2;
        block.dwInterlaceFlags = 0;
        stored = pMediaType->SetFormat(reinterpret_cast<const BYTE*>(&block), sizeof block);
    } else {
        stored = pMediaType->SetFormat(reinterpret_cast<const BYTE*>(&format_.info), sizeof format_.info);
    }
    return stored ? S_OK : E_OUTOFMEMORY;
}

HRESULT Yv12ToRgb32Filter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    if (direction != PINDIR_INPUT) return S_OK;
    if (!pmt) return E_POINTER;
    if (!isVideoInfo(pmt->formattype)) return VFW_E_NO_TYPES;
    const BITMAPINFOHEADER* header = bitmapHeaderOf(pmt->formattype, pmt->pbFormat, pmt->cbFormat);
    if (!header) return VFW_E_NO_TYPES;
    PlaneGeometry g;
    if (!planeGeometry(header->biWidth, header->biHeight, pmt->subtype == MEDIASUBTYPE_I420, &g))
        return VFW_E_TYPE_NOT_ACCEPTED;

    std::lock_guard hold(mutex_);
    geometry_ = g;
    formatType_ = pmt->formattype;
    format_ = {};
    BITMAPINFOHEADER* outHeader = nullptr;
    if (formatType_ == FORMAT_VideoInfo2) {
        std::memcpy(&format_.info2, pmt->pbFormat, sizeof format_.info2);
        outHeader = &format_.info2.bmiHeader;
    } else {
        std::memcpy(&format_.info, pmt->pbFormat, sizeof format_.info);
        outHeader = &format_.info.bmiHeader;
    }
    // The output is a top-down 32-bit picture; rectangles, frame time and aspect pass through.
    outHeader->biHeight = -g.height;
    outHeader->biBitCount = 32;
    outHeader->biCompression = BI_RGB;
    outHeader->biSizeImage = DWORD(g.rgbImageSize);
    return S_OK;
}

HRESULT Yv12ToRgb32Filter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!pAlloc || !pProp) return E_POINTER;
    const LONG needed = geometry().rgbImageSize;
    if (needed <= 0) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES request = *pProp;
    request.cBuffers = kOutputBuffers;
    request.cbBuffer = needed;
    if (request.cbAlign <= 0) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < needed) return E_OUTOFMEMORY;
    return S_OK;
}

Yv12ToRgb32Filter::PlaneGeometry Yv12ToRgb32Filter::geometry() const {
    std::lock_guard hold(mutex_);
    return geometry_;
}

HRESULT Yv12ToRgb32Filter::Transform(IMediaSample* pIn, IMediaSample* pOut) {
    if (!pIn || !pOut) return E_POINTER;
    const PlaneGeometry g = geometry();
    BYTE* in = nullptr;
    BYTE* out = nullptr;
    if (FAILED(pIn->GetPointer(&in)) || FAILED(pOut->GetPointer(&out)) || !in || !out) return E_POINTER;

    pOut->SetSyncPoint(pIn->IsSyncPoint() == S_OK);
    pOut->SetPreroll(pIn->IsPreroll() == S_OK);
    pOut->SetDiscontinuity(pIn->IsDiscontinuity() == S_OK);
    pOut->SetActualDataLength(g.rgbImageSize);

    REFERENCE_TIME start = 0, end = 0;
    HRESULT hr = pIn->GetTime(&start, &end);
    if (FAILED(hr))
        pOut->SetTime(nullptr, nullptr);
    else if (hr == S_OK)
        pOut->SetTime(&start, &end);
    else
        pOut->SetTime(&start, nullptr);
    LONGLONG mediaStart = 0, mediaEnd = 0;
    if (pIn->GetMediaTime(&mediaStart, &mediaEnd) == S_OK)
        pOut->SetMediaTime(&mediaStart, &mediaEnd);
    else
        pOut->SetMediaTime(nullptr, nullptr);

    // A sample that cannot hold the whole picture (or an output too small for it) is
    // dropped rather than read or written past its end.
    if (g.width == 0 || pIn->GetSize() < g.inputSize() || pOut->GetSize() < g.rgbImageSize) return S_FALSE;
    convertPicture(g, in, out);
    return S_OK;
}

void Yv12ToRgb32Filter::convertPicture(const PlaneGeometry& g, const uint8_t* in, uint8_t* out) const {
    const uint8_t* luma = in + g.lumaOffset;
    const uint8_t* u = in + g.uOffset;
    const uint8_t* v = in + g.vOffset;
    // An odd width whose chroma rows are one sample short: the last pixel repeats the
    // row's last chroma sample instead of reading into the next row (or past the plane).
    const bool shortChroma = g.uStride < (g.width + 1) / 2;
    const uint32_t converted = uint32_t(shortChroma ? g.width - 1 : g.width);
    for (int32_t r = 0; r < g.height; ++r) {
        uint8_t* row = out;
        rowConverter_(row, luma, u, v, coefficients_, 0, converted);
        if (shortChroma) convertYuvRowScalar(row, luma, u - 1, v - 1, coefficients_, converted, 1);
        out += g.rgbStride;
        luma += g.lumaStride;
        if (r & 1) {
            u += g.uStride;
            v += g.vStride;
        }
    }
}
