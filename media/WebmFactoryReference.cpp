#include "media/WebmFactoryReference.h"

#include <mutex>
#include <utility>

#include "framework/ComUser.h"

namespace {

struct SharedState {
    std::mutex mutex;
    uint32_t references = 0;
    WebmClassFactoryMaker maker;
    std::unique_ptr<WebmClassFactory> factory;
};

SharedState& state() {
    static SharedState s;
    return s;
}

}  // namespace

void WebmFactoryReference::acquire() {
    std::lock_guard<std::mutex> lock(state().mutex);
    ++state().references;
}

void WebmFactoryReference::release() {
    std::unique_ptr<WebmClassFactory> dying;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (state().references == 0) return;
        if (--state().references == 0) dying = std::move(state().factory);
    }
    // Destroyed outside the lock: the filter set may call back in while it tears down.
}

uint32_t WebmFactoryReference::referenceCount() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().references;
}

HRESULT WebmFactoryReference::ensureFactory() {
    std::lock_guard<std::mutex> lock(state().mutex);
    if (state().factory) return S_OK;
    if (!state().maker) return REGDB_E_CLASSNOTREG;
    state().factory = state().maker();
    return state().factory ? S_OK : E_OUTOFMEMORY;
}

bool WebmFactoryReference::factoryExists() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().factory != nullptr;
}

HRESULT WebmFactoryReference::createFilter(WebmFilter which, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = ensureFactory();
    if (FAILED(hr)) return hr;
    // The factory lives until the last player factory goes, and a player factory outlives
    // the graphs it prepares, so the call may run outside the lock.
    WebmClassFactory* factory;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        factory = state().factory.get();
    }
    if (!factory) return E_UNEXPECTED;
    hr = factory->createFilter(which, nullptr, riid, out);
    if (SUCCEEDED(hr) && !*out) return E_FAIL;
    return hr;
}

void WebmFactoryReference::setMaker(WebmClassFactoryMaker maker) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().maker = std::move(maker);
}
