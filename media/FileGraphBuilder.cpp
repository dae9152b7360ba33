#include "media/FileGraphBuilder.h"

#include <string_view>

#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/Dshow.h"
#include "media/ContainerFormatTable.h"
#include "media/ContainerHandlers.h"
#include "media/FileStreamFilter.h"

namespace {

// The text after the last "." of a path's last component; false without one.
bool extensionOf(std::u16string_view path, std::u16string_view* extension) {
    size_t dot = path.find_last_of(u'.');
    if (dot == std::u16string_view::npos) return false;
    size_t slash = path.find_last_of(u"/\\");
    if (slash != std::u16string_view::npos && slash > dot) return false;
    *extension = path.substr(dot + 1);
    return true;
}

}  // namespace

HRESULT FileGraphBuilder::prepare(IGraphBuilder* graph, const GUID* subtype, const char16_t* fileName,
                                  DecodeFilterHook hook, IBaseFilter* source) {
    if (!graph) return E_POINTER;
    const ContainerFormat* row = nullptr;
    if (subtype) {
        row = ContainerFormatTable::findBySubtype(*subtype);
    } else {
        std::u16string_view extension;
        if (!fileName || !extensionOf(fileName, &extension)) return ContainerHandlers::kNotHandled;
        row = ContainerFormatTable::findByExtension(extension);
    }
    HRESULT hr = ContainerHandlers::kNotHandled;
    if (row && row->handler != ContainerHandler::None) {
        InterfacePtr<IFilterMapper2> mapper;
        if (SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, mapper.put())) && mapper)
            hr = ContainerHandlers::prepare(row->handler, graph, mapper.get());
    }
    if (FAILED(hr)) return hr;
    // The extension library may know what the engine's own table does not.
    if (hr == ContainerHandlers::kNotHandled && source && hook) hook(graph, source, 0);
    return hr;
}

HRESULT FileGraphBuilder::loadAndRender(IGraphBuilder* graph, FileStreamFilter* source, const char16_t* fileName,
                                        DecodeFilterHook hook) {
    if (!graph || !source) return E_POINTER;
    HRESULT hr = source->Load(fileName, nullptr);
    if (FAILED(hr)) return hr;
    CMediaType announced;
    GUID subtype = GUID_NULL;
    if (source->announcedType(&announced)) subtype = *announced.Subtype();
    hr = prepare(graph, &subtype, fileName, hook, source);
    if (FAILED(hr)) return hr;
    InterfacePtr<IPin> output;
    if (!firstPin(source, PINDIR_OUTPUT, output)) return E_FAIL;
    return graph->Render(output.get());
}

IPin* FileGraphBuilder::firstPin(IBaseFilter* filter, PIN_DIRECTION wanted, InterfacePtr<IPin>& holder) {
    InterfacePtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins) return nullptr;
    for (;;) {
        InterfacePtr<IPin> pin;
        ULONG fetched = 0;
        if (pins->Next(1, pin.put(), &fetched) != S_OK || fetched != 1 || !pin) return nullptr;
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) {
            holder = pin;
            return holder.get();
        }
    }
}
