#include "media/MediaFoundationApi.h"

#include <map>
#include <mutex>
#include <string>

namespace {

struct Bindings {
    std::mutex mutex;
    std::map<std::string, FARPROC, std::less<>> functions;
};

Bindings& bindings() {
    static Bindings b;
    return b;
}

}  // namespace

HRESULT MediaFoundationApi::bind(const LibraryTable& table, const HMODULE* modules) {
    std::map<std::string, FARPROC, std::less<>> found;
    for (size_t i = 0; i < kMediaFoundationLibraries.size(); ++i) {
        for (const char* name : kMediaFoundationLibraries[i].functions) {
            if (!name) break;
            FARPROC address = table.getProcAddress(modules[i], name);
            if (!address) return E_NOTIMPL;
            found.emplace(name, address);
        }
    }
    std::lock_guard<std::mutex> lock(bindings().mutex);
    bindings().functions.swap(found);
    return S_OK;
}

FARPROC MediaFoundationApi::function(std::string_view name) {
    std::lock_guard<std::mutex> lock(bindings().mutex);
    auto it = bindings().functions.find(name);
    return it == bindings().functions.end() ? nullptr : it->second;
}

MFStartupFunction MediaFoundationApi::startup() {
    return reinterpret_cast<MFStartupFunction>(function("MFStartup"));
}

MFShutdownFunction MediaFoundationApi::shutdown() {
    return reinterpret_cast<MFShutdownFunction>(function("MFShutdown"));
}
