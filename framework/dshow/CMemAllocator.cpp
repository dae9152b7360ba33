#include "framework/dshow/CMemAllocator.h"

#include <cstdlib>
#include <new>

#include "framework/dshow/DshowErrors.h"

CMemAllocator::CMemAllocator(const char16_t* name, IUnknown* outer, HRESULT* phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
    // Every sample is back (each outstanding one held a reference).
    ScopedLock lock(m_cs);
    releaseMemory();
}

HRESULT CMemAllocator::create(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    auto* allocator = new (std::nothrow) CMemAllocator(u"CMemAllocator", nullptr, &hr);
    if (!allocator) return E_OUTOFMEMORY;
    allocator->AddRef();
    if (SUCCEEDED(hr)) hr = allocator->QueryInterface(riid, ppv);
    allocator->Release();
    return hr;
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    ALLOCATOR_PROPERTIES request = *pRequest;
    HRESULT hr = CBaseAllocator::SetProperties(&request, pActual);
    if (FAILED(hr)) return hr;
    ScopedLock lock(m_cs);
    // The buffer grows so that every prefix starts aligned; report what is really there.
    int64_t aligned = (static_cast<int64_t>(m_lSize) + m_lPrefix + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    if (aligned > 0x7FFFFFFF) return E_OUTOFMEMORY;
    pActual->cbBuffer = static_cast<LONG>(aligned - m_lPrefix);
    m_lSize = pActual->cbBuffer;
    pActual->cBuffers = m_lCount;
    pActual->cbAlign = m_lAlignment;
    pActual->cbPrefix = m_lPrefix;
    return S_OK;
}

HRESULT CMemAllocator::Alloc() {
    HRESULT hr = CBaseAllocator::Alloc();
    if (FAILED(hr)) return hr;
    if (m_pBuffer && !m_bChanged) return S_OK;
    releaseMemory();

    int64_t stride = static_cast<int64_t>(m_lSize) + m_lPrefix;
    stride = (stride + m_lAlignment - 1) / m_lAlignment * m_lAlignment;
    int64_t total = stride * m_lCount + m_lAlignment;
    // One contiguous block; refuse sizes no caller can mean.
    if (stride <= 0 || total > (int64_t{1} << 40)) return E_OUTOFMEMORY;
    m_pBuffer = static_cast<BYTE*>(std::malloc(static_cast<size_t>(total)));
    if (!m_pBuffer) return E_OUTOFMEMORY;

    auto base = reinterpret_cast<uintptr_t>(m_pBuffer);
    uintptr_t first = (base + static_cast<uintptr_t>(m_lAlignment) - 1) & ~(static_cast<uintptr_t>(m_lAlignment) - 1);
    BYTE* next = m_pBuffer + (first - base);
    for (LONG i = 0; i < m_lCount; ++i, next += stride) {
        HRESULT shr = S_OK;
        auto* sample =
            new (std::nothrow) CMediaSample(u"Default memory media sample", this, &shr, next + m_lPrefix, m_lSize);
        if (!sample || FAILED(shr)) {
            delete sample;
            releaseMemory();
            return E_OUTOFMEMORY;
        }
        m_lFree.push_back(sample);
        ++m_lAllocated;
    }
    m_bChanged = false;
    return S_OK;
}

void CMemAllocator::Free() {
    // Samples stay with the memory until the properties change or the allocator goes;
    // a later Commit reuses them.
}

void CMemAllocator::releaseMemory() {
    for (CMediaSample* sample : m_lFree) delete sample;
    m_lFree.clear();
    m_lAllocated = 0;
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
}
