#include "framework/dshow/CMediaType.h"

#include <cstring>

CMediaType::CMediaType() : AM_MEDIA_TYPE{} {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* majorType) : CMediaType() {
    if (majorType) majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& source, HRESULT* phr) : CMediaType() {
    HRESULT hr = Set(source);
    if (phr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& source) : CMediaType() {
    Set(source);
}

CMediaType& CMediaType::operator=(const CMediaType& source) {
    Set(source);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& source) {
    Set(source);
    return *this;
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

bool CMediaType::operator==(const CMediaType& other) const {
    return mediaTypesEqual(*this, other);
}

HRESULT CMediaType::Set(const CMediaType& source) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(source));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& source) {
    if (&source == this) return S_OK;
    FreeMediaType(*this);
    HRESULT hr = CopyMediaType(this, &source);
    if (FAILED(hr)) InitMediaType();
    return hr;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
    if (length && !format) return false;
    if (!AllocFormatBuffer(length) && length) return false;
    if (length) std::memcpy(pbFormat, format, length);
    return true;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    if (cbFormat == length && pbFormat) {
        std::memset(pbFormat, 0, length);
        return pbFormat;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return block;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return nullptr;
    std::memset(block, 0, length);
    if (pbFormat) std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return block;
}

void CMediaType::ResetFormatBuffer() {
    if (pbFormat) CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

void CMediaType::InitMediaType() {
    ResetFormatBuffer();
    if (pUnk) pUnk->Release();
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
    pUnk = nullptr;
}

bool CMediaType::MatchesPartial(const CMediaType* partial) const {
    return partial && mediaTypeMatchesPartial(*this, *partial);
}

bool CMediaType::IsPartiallySpecified() const {
    // The subtype may stay open in a fully specified type.
    return majortype == GUID_NULL || formattype == GUID_NULL;
}
