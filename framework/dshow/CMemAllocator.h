#pragma once
// The allocator pins use by default: one block of memory cut into cBuffers samples of
// cbBuffer bytes, each preceded by cbPrefix bytes, the prefix starting on a multiple of
// cbAlign.
#include "framework/dshow/CBaseAllocator.h"
#include "framework/dshow/MediaGuids.h"

class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(const char16_t* name, IUnknown* outer, HRESULT* phr);
    ~CMemAllocator() override;

    // Creation by class identifier (CLSID_MemoryAllocator).
    static HRESULT create(IUnknown* outer, REFIID riid, void** ppv);

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

protected:
    HRESULT Alloc() override;
    void Free() override;

private:
    void releaseMemory();

    BYTE* m_pBuffer = nullptr;  // the whole block as allocated
};
