#pragma once
// The output pin of a CTransformFilter: offers the filter's output types once the input
// is connected, and answers IMediaSeeking by passing it to the pin upstream of the input.
#include "framework/dshow/CBaseOutputPin.h"

class CTransformFilter;
class CPosPassThru;

class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(const char16_t* objectName, CTransformFilter* filter, HRESULT* phr, const char16_t* pinName);
    ~CTransformOutputPin() override;

    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT CheckMediaType(const CMediaType* mtOut) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    CTransformFilter* m_pTransformFilter;
    CPosPassThru* m_pPosition = nullptr;  // made on the first seeking query
};
