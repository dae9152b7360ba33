#pragma once
// IEnumFilters over a graph: a snapshot of its filters that reports
// VFW_E_ENUM_OUT_OF_SYNC once the graph's filter list changed, until Reset.
#include <vector>

#include "framework/ComObject.h"
#include "framework/InterfacePtr.h"
#include "platform/dshow/FilterGraph.h"

class FilterEnumerator : public ComObject<IEnumFilters> {
public:
    explicit FilterEnumerator(FilterGraph* graph);

    HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) override;
    HRESULT Skip(ULONG cFilters) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumFilters** ppEnum) override;

private:
    bool inSync() const { return graph_->filterListVersion() == version_; }

    InterfacePtr<FilterGraph> graph_;
    std::vector<InterfacePtr<IBaseFilter>> filters_;
    uint64_t version_ = 0;
    size_t position_ = 0;
};
