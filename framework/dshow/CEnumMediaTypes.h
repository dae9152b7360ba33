#pragma once
// Enumerates a pin's preferred media types (its GetMediaType positions); reports
// VFW_E_ENUM_OUT_OF_SYNC once the pin's type version changed.
#include "framework/ComObject.h"
#include "framework/dshow/FilterInterfaces.h"

class CBasePin;

class CEnumMediaTypes : public ComObject<IEnumMediaTypes> {
public:
    // Holds a reference on the pin; from, when given, supplies the position (Clone).
    CEnumMediaTypes(CBasePin* pin, CEnumMediaTypes* from);

    HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cMediaTypes) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** ppEnum) override;

protected:
    ~CEnumMediaTypes() override;

private:
    bool outOfSync();

    CBasePin* m_pPin;
    int m_Position = 0;
    LONG m_Version;
};
