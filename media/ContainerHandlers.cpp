#include "media/ContainerHandlers.h"

#include <array>
#include <string>

#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/Dshow.h"
#include "media/WebmFactoryReference.h"
#include "media/Yv12ToRgb32Filter.h"
#include "splitters/MbcSplitter.h"

namespace {

// Filters found through the mapper must come from a registration of at least this merit.
constexpr DWORD kMpegMinimumMerit = 0x200001;
constexpr UINT kMaxFriendlyName = 128;

struct MapperPick {
    GUID major;
    GUID minor;
    CLSID clsid;
};

constexpr std::array<MapperPick, 3> kMpeg1Filters{{
    {MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System, CLSID_MPEG1Splitter},
    {MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Packet, CLSID_CMpegVideoCodec},
    {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet, CLSID_CMpegAudioCodec},
}};

struct DmoDecoder {
    CLSID dmo;
    GUID category;
    const char16_t* name;
};

constexpr std::array<DmoDecoder, 2> kWindowsMediaDecoders{{
    {CLSID_CWMVDecMediaObject, DMOCATEGORY_VIDEO_DECODER, u"WMVideo Decoder DMO"},
    {CLSID_CWMADecMediaObject, DMOCATEGORY_AUDIO_DECODER, u"WMAudio Decoder DMO"},
}};

struct WebmPart {
    WebmFilter which;
    const char16_t* name;
};

constexpr std::array<WebmPart, 3> kWebmFilters{{
    {WebmFilter::Splitter, u"WebM Splitter"},
    {WebmFilter::Vp8Decoder, u"VP8 Decoce Filter"},
    {WebmFilter::Vp9Decoder, u"VP9 Decoce Filter"},
}};

// The moniker's friendly name when it is usable: present, text, 1..128 characters.
bool friendlyName(IMoniker* moniker, std::u16string* name) {
    InterfacePtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IPropertyBag::iid, bag.putVoid())) || !bag) return false;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    bool usable = false;
    if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal) {
        UINT length = SysStringLen(value.bstrVal);
        if (length > 0 && length <= kMaxFriendlyName) {
            name->assign(value.bstrVal, length);
            usable = true;
        }
    }
    VariantClear(&value);
    return usable;
}

// Walks the mapper's matches for one input type and adds the first filter of the wanted
// class under its friendly name. Finding none is not an error: the render may still
// find another path.
HRESULT addMatchingFilter(IGraphBuilder* graph, IFilterMapper2* mapper, const MapperPick& pick) {
    InterfacePtr<IEnumMoniker> monikers;
    const GUID types[2] = {pick.major, pick.minor};
    HRESULT hr = mapper->EnumMatchingFilters(monikers.put(), 0, FALSE, kMpegMinimumMerit, TRUE, 1, types, nullptr,
                                             nullptr, FALSE, TRUE, 0, nullptr, nullptr, nullptr);
    if (FAILED(hr) || !monikers) return S_OK;
    for (;;) {
        InterfacePtr<IMoniker> moniker;
        ULONG fetched = 0;
        if (monikers->Next(1, moniker.put(), &fetched) != S_OK || fetched != 1 || !moniker) break;
        std::u16string name;
        if (!friendlyName(moniker.get(), &name)) continue;
        InterfacePtr<IBaseFilter> filter;
        if (FAILED(moniker->BindToObject(nullptr, nullptr, IBaseFilter::iid, filter.putVoid())) || !filter) continue;
        CLSID clsid = GUID_NULL;
        if (FAILED(filter->GetClassID(&clsid)) || clsid != pick.clsid) continue;
        hr = graph->AddFilter(filter.get(), name.c_str());
        return FAILED(hr) ? hr : S_OK;
    }
    return S_OK;
}

bool graphHoldsClass(IGraphBuilder* graph, REFCLSID clsid) {
    InterfacePtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.put())) || !filters) return false;
    for (;;) {
        InterfacePtr<IBaseFilter> filter;
        ULONG fetched = 0;
        if (filters->Next(1, filter.put(), &fetched) != S_OK || fetched != 1 || !filter) return false;
        CLSID found = GUID_NULL;
        if (SUCCEEDED(filter->GetClassID(&found)) && found == clsid) return true;
    }
}

HRESULT addFilter(IGraphBuilder* graph, IBaseFilter* filter, const char16_t* name) {
    HRESULT hr = graph->AddFilter(filter, name);
    return FAILED(hr) ? hr : S_OK;
}

}  // namespace

HRESULT ContainerHandlers::addByClass(IGraphBuilder* graph, REFCLSID clsid, const char16_t* name) {
    InterfacePtr<IBaseFilter> filter;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, filter.put());
    if (FAILED(hr)) return hr;
    if (!filter) return E_FAIL;
    return addFilter(graph, filter.get(), name);
}

HRESULT ContainerHandlers::prepareSystemMpeg1(IGraphBuilder* graph, IFilterMapper2* mapper) {
    for (const MapperPick& pick : kMpeg1Filters) {
        HRESULT hr = addMatchingFilter(graph, mapper, pick);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT ContainerHandlers::prepareWindowsMedia(IGraphBuilder* graph) {
    HRESULT hr = addByClass(graph, CLSID_WindowsMediaSplitter, u"Windows Media Splitter");
    if (FAILED(hr)) return hr;
    for (const DmoDecoder& decoder : kWindowsMediaDecoders) {
        InterfacePtr<IBaseFilter> wrapper;
        hr = CoCreateInstance(CLSID_DMOWrapperFilter, nullptr, CLSCTX_INPROC_SERVER, wrapper.put());
        if (FAILED(hr)) return hr;
        if (!wrapper) return E_FAIL;
        InterfacePtr<IDMOWrapperFilter> init;
        hr = wrapper.as(init);
        if (FAILED(hr)) return hr;
        hr = init->Init(decoder.dmo, decoder.category);
        if (FAILED(hr)) return hr;
        hr = addFilter(graph, wrapper.get(), decoder.name);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT ContainerHandlers::prepareMbc(IGraphBuilder* graph) {
    return addByClass(graph, MbcSplitter::kClassId, MbcSplitter::kName);
}

HRESULT ContainerHandlers::prepareOggTheora(IGraphBuilder* graph) {
    return addByClass(graph, CLSID_TheoraMediaSplitter, u"Theora Media Splitter");
}

HRESULT ContainerHandlers::ensureColourConverter(IGraphBuilder* graph) {
    if (graphHoldsClass(graph, Yv12ToRgb32Filter::kClassId)) return 1;
    return addByClass(graph, Yv12ToRgb32Filter::kClassId, Yv12ToRgb32Filter::kName);
}

HRESULT ContainerHandlers::prepareWebm(IGraphBuilder* graph) {
    HRESULT hr = WebmFactoryReference::ensureFactory();
    if (FAILED(hr)) return hr;
    for (const WebmPart& part : kWebmFilters) {
        InterfacePtr<IBaseFilter> filter;
        hr = WebmFactoryReference::createFilter(part.which, IBaseFilter::iid, filter.putVoid());
        if (FAILED(hr)) return hr;
        hr = addFilter(graph, filter.get(), part.name);
        if (FAILED(hr)) return hr;
    }
    hr = addByClass(graph, CLSID_VorbisDecodeFilter, u"Vorbis Decode Filter");
    if (FAILED(hr)) return hr;
    hr = ensureColourConverter(graph);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ContainerHandlers::prepare(ContainerHandler handler, IGraphBuilder* graph, IFilterMapper2* mapper) {
    if (!graph) return E_POINTER;
    HRESULT hr = kNotHandled;
    switch (handler) {
        case ContainerHandler::SystemMpeg1:
            hr = mapper ? prepareSystemMpeg1(graph, mapper) : kNotHandled;
            break;
        case ContainerHandler::WindowsMedia:
            hr = prepareWindowsMedia(graph);
            break;
        case ContainerHandler::Mbc:
            hr = prepareMbc(graph);
            break;
        case ContainerHandler::OggTheora:
            hr = prepareOggTheora(graph);
            break;
        case ContainerHandler::ColourConverterOnly:
            hr = ensureColourConverter(graph);
            break;
        case ContainerHandler::WebM:
            hr = prepareWebm(graph);
            break;
        case ContainerHandler::NotHandled:
            hr = E_NOTIMPL;
            break;
        case ContainerHandler::None:
            hr = kNotHandled;
            break;
    }
    return hr == E_NOTIMPL ? kNotHandled : hr;
}
