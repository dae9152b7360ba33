#pragma once
// The graph preparations the container table names: each puts into a graph the filters
// that a container needs before the source's pin is rendered.
#include "framework/Guid.h"
#include "framework/WinTypes.h"
#include "media/ContainerFormatTable.h"

struct IGraphBuilder;
struct IFilterMapper2;

// The engine's own filters that the preparations add by class.
constexpr CLSID CLSID_TheoraMediaSplitter = guidOf("{4595A233-328D-4848-8658-37972AA1E104}");
constexpr CLSID CLSID_WindowsMediaSplitter = guidOf("{48A08C9D-D710-4182-83D1-643875CEAE29}");
constexpr CLSID CLSID_VorbisDecodeFilter = guidOf("{4ABB3F56-A173-492B-8ED1-F8DC1CB723A6}");

class ContainerHandlers {
public:
    // Result of prepare when the container is left to the graph's own search.
    static constexpr HRESULT kNotHandled = 1;

    // Runs the handler of a row: 0 when the graph was prepared, kNotHandled when the
    // handler declines (E_NOTIMPL) or there is none, or the handler's first error.
    static HRESULT prepare(ContainerHandler handler, IGraphBuilder* graph, IFilterMapper2* mapper);

    // Adds one colour converter unless the graph holds one: 1 when one was there, 0 when
    // one was added, or the error.
    static HRESULT ensureColourConverter(IGraphBuilder* graph);

    // The handlers, each 0 or its first error (the colour converter handler also 1).
    static HRESULT prepareSystemMpeg1(IGraphBuilder* graph, IFilterMapper2* mapper);
    static HRESULT prepareWindowsMedia(IGraphBuilder* graph);
    static HRESULT prepareMbc(IGraphBuilder* graph);
    static HRESULT prepareOggTheora(IGraphBuilder* graph);
    static HRESULT prepareWebm(IGraphBuilder* graph);

    // Creates a filter by class and adds it under name; the graph keeps the only reference.
    static HRESULT addByClass(IGraphBuilder* graph, REFCLSID clsid, const char16_t* name);
};
