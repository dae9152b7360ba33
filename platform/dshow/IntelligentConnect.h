#pragma once
// Graph building beyond direct connections: Connect through registered intermediate
// filters in order of merit, Render of an output pin down to renderers (filters already
// in the graph first, then registered ones), and the source filter for a file. Works on
// a graph whose lock the caller holds; every filter it adds and fails to use is removed.
#include <string>

#include "framework/InterfacePtr.h"
#include "framework/dshow/FilterInterfaces.h"
#include "platform/dshow/FilterRegistry.h"

class FilterGraph;

class IntelligentConnect {
public:
    // Chains longer than this many inserted filters are not tried.
    static constexpr int kMaxDepth = 6;

    explicit IntelligentConnect(FilterGraph& graph) : graph_(graph) {}

    HRESULT connect(IPin* out, IPin* in) { return connect(out, in, 0); }
    // S_OK, or a VFW_S_ partial code when some downstream pins stayed unrendered.
    HRESULT render(IPin* out) { return render(out, 0); }
    // Finds, creates, adds and loads the source filter for a file.
    HRESULT addSource(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** filter);
    // Renders every output pin of a source; failure when none could be rendered.
    HRESULT renderOutputs(IBaseFilter* filter) { return renderOutputs(filter, 0); }

private:
    HRESULT connect(IPin* out, IPin* in, int depth);
    HRESULT render(IPin* out, int depth);
    HRESULT renderOutputs(IBaseFilter* filter, int depth);
    // Creates a registered filter and adds it under its friendly name.
    InterfacePtr<IBaseFilter> addRegistered(const FilterRegistration& registration);
    void removeAdded(IBaseFilter* filter);
    // Connects out to the first free input pin of filter that takes it.
    InterfacePtr<IPin> connectToFreeInput(IPin* out, IBaseFilter* filter);
    static void disconnectBoth(IPin* out, IPin* in);

    FilterGraph& graph_;
};
