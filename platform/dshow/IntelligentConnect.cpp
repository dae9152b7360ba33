#include "platform/dshow/IntelligentConnect.h"

#include <algorithm>

#include "framework/ComUser.h"
#include "framework/StreamCallbacks.h"
#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/StreamInterfaces.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/GraphPins.h"

using namespace graphpins;

namespace {

// Registered filters that take what `out` offers; between two pins only filters with
// outputs are of use.
FilterQuery candidateQuery(IPin* out, bool outputNeeded) {
    FilterQuery q;
    q.minimumMerit = MERIT_DO_NOT_USE + 1;
    q.inputNeeded = true;
    q.outputNeeded = outputNeeded;
    q.inputTypes = offeredTypes(out);
    return q;
}

// How much of a file the source patterns may look at; headers beyond this are not read.
constexpr size_t kMaxHeadBytes = 64 * 1024;

std::vector<uint8_t> readHead(LPCWSTR fileName, size_t wanted, HRESULT* error) {
    const StreamCallbacks& cb = systemFileCallbacks();
    std::vector<uint8_t> head;
    HANDLE h = cb.open(fileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!h) {
        *error = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        return head;
    }
    head.resize(std::min(wanted, kMaxHeadBytes));
    uint32_t got = 0;
    if (!cb.read(h, head.data(), static_cast<uint32_t>(head.size()), &got)) got = 0;
    head.resize(got);
    cb.close(h);
    *error = S_OK;
    return head;
}

}  // namespace

void IntelligentConnect::disconnectBoth(IPin* out, IPin* in) {
    if (out) out->Disconnect();
    if (in) in->Disconnect();
}

InterfacePtr<IBaseFilter> IntelligentConnect::addRegistered(const FilterRegistration& registration) {
    InterfacePtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(registration.clsid, nullptr, CLSCTX_INPROC_SERVER, filter.put())) || !filter) return {};
    if (FAILED(graph_.AddFilter(filter.get(), registration.name.c_str()))) return {};
    return filter;
}

void IntelligentConnect::removeAdded(IBaseFilter* filter) {
    graph_.RemoveFilter(filter);
}

InterfacePtr<IPin> IntelligentConnect::connectToFreeInput(IPin* out, IBaseFilter* filter) {
    for (InterfacePtr<IPin>& in : pinsOf(filter, PINDIR_INPUT)) {
        if (isConnected(in.get())) continue;
        if (SUCCEEDED(graph_.ConnectDirect(out, in.get(), nullptr))) return in;
    }
    return {};
}

HRESULT IntelligentConnect::connect(IPin* out, IPin* in, int depth) {
    if (SUCCEEDED(graph_.ConnectDirect(out, in, nullptr))) return S_OK;
    if (depth >= kMaxDepth) return VFW_E_CANNOT_CONNECT;
    // A filter of the same class as either end is not put between them: it would only
    // repeat the conversion that end already makes.
    CLSID outClass = classOf(filterOf(out).get());
    CLSID inClass = classOf(filterOf(in).get());
    for (const FilterRegistration& r : FilterRegistry::instance().matching(candidateQuery(out, true))) {
        if (r.clsid == outClass || r.clsid == inClass) continue;
        InterfacePtr<IBaseFilter> filter = addRegistered(r);
        if (!filter) continue;
        if (InterfacePtr<IPin> filterIn = connectToFreeInput(out, filter.get())) {
            for (InterfacePtr<IPin>& filterOut : pinsOf(filter.get(), PINDIR_OUTPUT)) {
                if (isConnected(filterOut.get())) continue;
                if (SUCCEEDED(connect(filterOut.get(), in, depth + 1))) return S_OK;
            }
            disconnectBoth(out, filterIn.get());
        }
        removeAdded(filter.get());
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT IntelligentConnect::render(IPin* out, int depth) {
    if (isConnected(out)) return VFW_E_ALREADY_CONNECTED;
    InterfacePtr<IBaseFilter> self = filterOf(out);
    // Filters already in the graph take the pin directly; the ones upstream of it would
    // close a loop.
    for (InterfacePtr<IBaseFilter>& f : graph_.filters()) {
        if (f.get() == self.get() || isUpstreamOf(f.get(), self.get())) continue;
        InterfacePtr<IPin> in = connectToFreeInput(out, f.get());
        if (!in) continue;
        HRESULT hr = renderOutputs(f.get(), depth + 1);
        if (SUCCEEDED(hr)) return hr;
        disconnectBoth(out, in.get());
    }
    if (depth >= kMaxDepth) return VFW_E_CANNOT_RENDER;
    CLSID selfClass = classOf(self.get());
    for (const FilterRegistration& r : FilterRegistry::instance().matching(candidateQuery(out, false))) {
        if (r.clsid == selfClass) continue;
        InterfacePtr<IBaseFilter> filter = addRegistered(r);
        if (!filter) continue;
        if (InterfacePtr<IPin> in = connectToFreeInput(out, filter.get())) {
            HRESULT hr = renderOutputs(filter.get(), depth + 1);
            if (SUCCEEDED(hr)) return hr;
            disconnectBoth(out, in.get());
        }
        removeAdded(filter.get());
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT IntelligentConnect::renderOutputs(IBaseFilter* filter, int depth) {
    size_t tried = 0, rendered = 0;
    bool partialBelow = false, missedAudio = false, missedVideo = false, missedOther = false;
    for (InterfacePtr<IPin>& out : pinsOf(filter, PINDIR_OUTPUT)) {
        if (isConnected(out.get())) continue;
        // Pins named with a leading '~' are not meant to be rendered.
        std::u16string name = pinName(out.get());
        if (!name.empty() && name[0] == u'~') continue;
        ++tried;
        HRESULT hr = render(out.get(), depth);
        if (SUCCEEDED(hr)) {
            ++rendered;
            if (hr != S_OK) partialBelow = true;
            continue;
        }
        GUID major = majorTypeOf(out.get());
        if (major == MEDIATYPE_Audio)
            missedAudio = true;
        else if (major == MEDIATYPE_Video)
            missedVideo = true;
        else
            missedOther = true;
    }
    if (tried == 0) return S_OK;  // a renderer, or every output already connected
    if (rendered == 0) return VFW_E_CANNOT_RENDER;
    if (rendered == tried && !partialBelow) return S_OK;
    if (missedOther || partialBelow || (missedAudio && missedVideo)) return VFW_S_PARTIAL_RENDER;
    return missedAudio ? VFW_S_AUDIO_NOT_RENDERED : VFW_S_VIDEO_NOT_RENDERED;
}

HRESULT IntelligentConnect::addSource(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** out) {
    if (!fileName || !out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = S_OK;
    std::vector<uint8_t> head = readHead(fileName, std::max<size_t>(FilterRegistry::instance().patternSpan(), 16), &hr);
    if (FAILED(hr)) return hr;
    std::optional<CLSID> clsid = FilterRegistry::instance().sourceFor(fileName, head);
    if (!clsid) {
        if (!isComClassRegistered(CLSID_AsyncReader)) return VFW_E_UNKNOWN_FILE_TYPE;
        clsid = CLSID_AsyncReader;
    }
    InterfacePtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, filter.put())) || !filter)
        return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    InterfacePtr<IFileSourceFilter> loader = filter.as<IFileSourceFilter>();
    if (!loader) return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
    hr = graph_.AddFilter(filter.get(), filterName ? filterName : fileName);
    if (FAILED(hr)) return hr;
    hr = loader->Load(fileName, nullptr);
    if (FAILED(hr)) {
        graph_.RemoveFilter(filter.get());
        return hr;
    }
    *out = filter.detach();
    return S_OK;
}
