// The optional extension library as the application loads it ("extcodec.dll", found
// here as libextcodec.so): its hook records each call and, when the test has handed it
// a filter, adds that filter to the graph through the pipeline interfaces alone.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "framework/dshow/GraphInterfaces.h"

namespace {

std::atomic<int> calls{0};
std::atomic<IGraphBuilder*> lastGraph{nullptr};
std::atomic<IBaseFilter*> lastSource{nullptr};
std::atomic<uintptr_t> lastReserved{~uintptr_t(0)};
std::atomic<bool> sourceInGraph{false};
std::atomic<IBaseFilter*> filterToAdd{nullptr};
std::atomic<HRESULT> addResult{S_FALSE};

// The source filter names the graph it joined; a hook can rely on that.
bool joinedGraph(IBaseFilter* source, IGraphBuilder* graph) {
    FILTER_INFO info;
    std::memset(&info, 0, sizeof info);
    if (!source || FAILED(source->QueryFilterInfo(&info))) return false;
    bool same = false;
    if (info.pGraph) {
        IFilterGraph* asked = nullptr;
        same = SUCCEEDED(graph->QueryInterface(IFilterGraph::iid, reinterpret_cast<void**>(&asked))) &&
               asked == info.pGraph;
        if (asked) asked->Release();
        info.pGraph->Release();
    }
    return same;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void AddMediaDecodeFilter(IGraphBuilder* graph, IBaseFilter* source,
                                                                 uintptr_t reserved) {
    lastGraph = graph;
    lastSource = source;
    lastReserved = reserved;
    sourceInGraph = joinedGraph(source, graph);
    if (IBaseFilter* f = filterToAdd.load()) addResult = graph->AddFilter(f, u"Ext Decode Filter");
    ++calls;
}

__attribute__((visibility("default"))) int extcodecCallCount() {
    return calls.load();
}

__attribute__((visibility("default"))) void extcodecLastCall(IGraphBuilder** graph, IBaseFilter** source,
                                                             uintptr_t* reserved, int* sourceJoinedGraph,
                                                             HRESULT* added) {
    *graph = lastGraph;
    *source = lastSource;
    *reserved = lastReserved;
    *sourceJoinedGraph = sourceInGraph ? 1 : 0;
    *added = addResult;
}

// The filter the next calls add (not reference-counted: the test keeps it alive).
__attribute__((visibility("default"))) void extcodecSetFilter(IBaseFilter* filter) {
    filterToAdd = filter;
    addResult = S_FALSE;
}
}
