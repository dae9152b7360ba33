#pragma once
// Enumerates a filter's pins; reports VFW_E_ENUM_OUT_OF_SYNC once the filter's pin set
// changed (Reset starts again on the new set).
#include "framework/ComObject.h"
#include "framework/dshow/FilterInterfaces.h"

class CBaseFilter;

class CEnumPins : public ComObject<IEnumPins> {
public:
    // Holds a reference on the filter; from, when given, supplies the position (Clone).
    CEnumPins(CBaseFilter* filter, CEnumPins* from);

    HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cPins) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** ppEnum) override;

protected:
    ~CEnumPins() override;

private:
    bool outOfSync();

    CBaseFilter* m_pFilter;
    int m_Position = 0;
    LONG m_Version;
};
