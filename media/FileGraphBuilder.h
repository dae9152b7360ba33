#pragma once
// The part of opening a movie that puts one file into a graph: the container table's
// preparation (with the extension library's hook for what the table leaves alone) and,
// through the engine's own file source, the load and the render of its pin. The player's
// open and the dump tool build their graphs with the same calls.
#include "framework/Guid.h"
#include "framework/InterfacePtr.h"
#include "framework/WinTypes.h"
#include "framework/dshow/FilterInterfaces.h"
#include "media/DirectShowPlayerFactory.h"

struct IGraphBuilder;
struct IBaseFilter;
class FileStreamFilter;

class FileGraphBuilder {
public:
    // Prepares the graph for the row of the announced subtype, or, when subtype is null,
    // for the row of the file name's extension. ContainerHandlers::kNotHandled when no
    // handler prepared it (the hook, when given with a source, has then been called),
    // 0 when one did, or the handler's error.
    static HRESULT prepare(IGraphBuilder* graph, const GUID* subtype, const char16_t* fileName, DecodeFilterHook hook,
                           IBaseFilter* source);

    // With the source already in the graph: loads the file into it, prepares the graph
    // for what the source announces and renders the source's output pin. The render's
    // result (a VFW_S_ code when part of the file stays unrendered), or the first error.
    static HRESULT loadAndRender(IGraphBuilder* graph, FileStreamFilter* source, const char16_t* fileName,
                                 DecodeFilterHook hook);

    // The filter's first pin of that direction (held in holder), or null.
    static IPin* firstPin(IBaseFilter* filter, PIN_DIRECTION wanted, InterfacePtr<IPin>& holder);
};
