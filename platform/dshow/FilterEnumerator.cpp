#include "platform/dshow/FilterEnumerator.h"

#include <new>

#include "framework/dshow/DshowErrors.h"

FilterEnumerator::FilterEnumerator(FilterGraph* graph) : graph_(graph) {
    Reset();
}

HRESULT FilterEnumerator::Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) {
    if (!ppFilter || (cFilters > 1 && !pcFetched)) return E_POINTER;
    if (pcFetched) *pcFetched = 0;
    if (!inSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    while (fetched < cFilters && position_ < filters_.size()) {
        ppFilter[fetched] = filters_[position_].get();
        ppFilter[fetched]->AddRef();
        ++fetched;
        ++position_;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cFilters ? S_OK : S_FALSE;
}

HRESULT FilterEnumerator::Skip(ULONG cFilters) {
    if (!inSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    if (cFilters > filters_.size() - position_) {
        position_ = filters_.size();
        return S_FALSE;
    }
    position_ += cFilters;
    return S_OK;
}

HRESULT FilterEnumerator::Reset() {
    ScopedLock l(graph_->graphLock());
    version_ = graph_->filterListVersion();
    filters_ = graph_->filters();
    position_ = 0;
    return S_OK;
}

HRESULT FilterEnumerator::Clone(IEnumFilters** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (!inSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* copy = new (std::nothrow) FilterEnumerator(graph_.get());
    if (!copy) return E_OUTOFMEMORY;
    copy->position_ = position_;
    copy->AddRef();
    *ppEnum = copy;
    return S_OK;
}
