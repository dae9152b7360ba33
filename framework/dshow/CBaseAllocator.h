#pragma once
// The free list and commit state of a sample allocator. GetBuffer blocks until a sample
// is free; Decommit wakes every waiter (they get VFW_E_NOT_COMMITTED) and frees the
// memory once the last outstanding sample has come back. Derived classes make and free
// the memory (Alloc/Free).
#include <atomic>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/SampleInterfaces.h"

class CBaseAllocator : public IMemAllocator {
public:
    CBaseAllocator(const char16_t* name, IUnknown* outer, HRESULT* phr);
    virtual ~CBaseAllocator();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

    // Samples currently handed out.
    LONG outstandingCount();
    bool isCommitted();

protected:
    // Makes m_lCount samples of m_lSize bytes (called by Commit with the lock held).
    virtual HRESULT Alloc();
    // Frees the samples and memory; only when none is outstanding (lock held).
    virtual void Free() = 0;

    // Called with the lock held when the last outstanding sample has come back after a
    // Decommit.
    void finishDecommit();

    CriticalSection m_cs;
    std::vector<CMediaSample*> m_lFree;  // free samples (the allocator owns all of them)
    LONG m_lAllocated = 0;               // samples that exist
    LONG m_lCount = 0;
    LONG m_lSize = 0;
    LONG m_lAlignment = 0;
    LONG m_lPrefix = 0;
    bool m_bChanged = false;  // properties changed since the last Alloc
    bool m_bCommitted = false;
    bool m_bDecommitInProgress = false;

private:
    const char16_t* m_pName;
    IUnknown* m_pOuter;
    std::atomic<LONG> m_cRef{0};
    LONG m_lWaiting = 0;
    Semaphore m_freeSignal{0, 0x7FFFFFFF};
};
