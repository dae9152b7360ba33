#include "platform/dshow/GraphPins.h"

#include <set>

#include "framework/dshow/GraphInterfaces.h"
#include "framework/dshow/MediaType.h"

namespace graphpins {

std::vector<InterfacePtr<IPin>> pinsOf(IBaseFilter* filter) {
    std::vector<InterfacePtr<IPin>> out;
    if (!filter) return out;
    InterfacePtr<IEnumPins> e;
    if (FAILED(filter->EnumPins(e.put())) || !e) return out;
    for (;;) {
        IPin* pin = nullptr;
        ULONG got = 0;
        if (e->Next(1, &pin, &got) != S_OK || got != 1 || !pin) break;
        out.push_back(InterfacePtr<IPin>::adopt(pin));
        if (out.size() > 4096) break;  // a broken enumerator must not run forever
    }
    return out;
}

std::vector<InterfacePtr<IPin>> pinsOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
    std::vector<InterfacePtr<IPin>> out;
    for (InterfacePtr<IPin>& p : pinsOf(filter)) {
        PIN_DIRECTION d;
        if (direction(p.get(), &d) && d == wanted) out.push_back(std::move(p));
    }
    return out;
}

bool direction(IPin* pin, PIN_DIRECTION* out) {
    return pin && SUCCEEDED(pin->QueryDirection(out));
}

bool isConnected(IPin* pin) {
    return static_cast<bool>(peerOf(pin));
}

InterfacePtr<IPin> peerOf(IPin* pin) {
    InterfacePtr<IPin> peer;
    if (pin && SUCCEEDED(pin->ConnectedTo(peer.put()))) return peer;
    return {};
}

InterfacePtr<IBaseFilter> filterOf(IPin* pin) {
    if (!pin) return {};
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return {};
    return InterfacePtr<IBaseFilter>::adopt(info.pFilter);
}

std::u16string pinName(IPin* pin) {
    PIN_INFO info{};
    if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
    if (info.pFilter) info.pFilter->Release();
    info.achName[MAX_PIN_NAME - 1] = 0;
    return info.achName;
}

std::u16string filterName(IBaseFilter* filter) {
    FILTER_INFO info{};
    if (!filter || FAILED(filter->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    info.achName[MAX_FILTER_NAME - 1] = 0;
    return info.achName;
}

CLSID classOf(IBaseFilter* filter) {
    CLSID c = GUID_NULL;
    if (!filter || FAILED(filter->GetClassID(&c))) return GUID_NULL;
    return c;
}

std::vector<RegisteredPinType> offeredTypes(IPin* pin) {
    std::vector<RegisteredPinType> out;
    InterfacePtr<IEnumMediaTypes> e;
    if (!pin || FAILED(pin->EnumMediaTypes(e.put())) || !e) return out;
    for (int guard = 0; guard < 256; ++guard) {
        AM_MEDIA_TYPE* mt = nullptr;
        ULONG got = 0;
        if (e->Next(1, &mt, &got) != S_OK || got != 1 || !mt) break;
        out.push_back({mt->majortype, mt->subtype});
        DeleteMediaType(mt);
    }
    return out;
}

GUID majorTypeOf(IPin* pin) {
    AM_MEDIA_TYPE mt{};
    if (pin && SUCCEEDED(pin->ConnectionMediaType(&mt))) {
        GUID major = mt.majortype;
        FreeMediaType(mt);
        return major;
    }
    std::vector<RegisteredPinType> types = offeredTypes(pin);
    return types.empty() ? GUID_NULL : types.front().major;
}

bool isUpstreamOf(IBaseFilter* candidate, IBaseFilter* filter) {
    if (!candidate || !filter) return false;
    std::set<IBaseFilter*> seen;
    std::vector<InterfacePtr<IBaseFilter>> work{InterfacePtr<IBaseFilter>(filter)};
    while (!work.empty()) {
        InterfacePtr<IBaseFilter> f = std::move(work.back());
        work.pop_back();
        if (f.get() == candidate) return true;
        if (!seen.insert(f.get()).second) continue;
        for (InterfacePtr<IPin>& in : pinsOf(f.get(), PINDIR_INPUT)) {
            InterfacePtr<IPin> peer = peerOf(in.get());
            if (InterfacePtr<IBaseFilter> up = filterOf(peer.get())) work.push_back(std::move(up));
        }
    }
    return false;
}

bool isRenderer(IBaseFilter* filter) {
    bool inputs = false;
    for (InterfacePtr<IPin>& p : pinsOf(filter)) {
        PIN_DIRECTION d;
        if (!direction(p.get(), &d)) continue;
        if (d == PINDIR_OUTPUT) return false;
        inputs = true;
    }
    return inputs;
}

}  // namespace graphpins
