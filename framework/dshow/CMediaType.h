#pragma once
// An AM_MEDIA_TYPE that owns its format block: copying copies the block, destruction
// frees it. Pins keep their connection type in one.
#include "framework/dshow/MediaType.h"

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majorType);
    CMediaType(const AM_MEDIA_TYPE& source, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& source);
    CMediaType& operator=(const CMediaType& source);
    CMediaType& operator=(const AM_MEDIA_TYPE& source);
    ~CMediaType();

    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    // Copies source into this; E_OUTOFMEMORY leaves this empty.
    HRESULT Set(const CMediaType& source);
    HRESULT Set(const AM_MEDIA_TYPE& source);
    // Major type set (GUID_NULL is not valid).
    bool IsValid() const { return majortype != GUID_NULL; }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }

    bool IsFixedSize() const { return bFixedSizeSamples != FALSE; }
    bool IsTemporalCompressed() const { return bTemporalCompression != FALSE; }
    ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Copies length bytes as the new format block.
    bool SetFormat(const BYTE* format, ULONG length);
    // A zeroed block of length bytes (kept when already that long), or null.
    BYTE* AllocFormatBuffer(ULONG length);
    // Grows or shrinks the block, keeping its start; null on failure.
    BYTE* ReallocFormatBuffer(ULONG length);
    void ResetFormatBuffer();

    // Back to an empty, variable-size type with no format.
    void InitMediaType();
    // Whether this full type fits the partial one (GUID_NULL fields match anything).
    bool MatchesPartial(const CMediaType* partial) const;
    bool IsPartiallySpecified() const;
};
