#include "framework/ComUser.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "framework/LibraryTable.h"

namespace {

struct ComState {
    // Serialises the first acquire and the last release, so that no reference is handed
    // out while the state is being built or torn down.
    std::mutex transition;
    std::atomic<uint32_t> count{0};
    std::atomic<bool> initialised{false};
    std::atomic<DWORD> apartment{COINIT_MULTITHREADED};

    std::mutex listLock;
    std::vector<HMODULE> servers;
};

// Never destroyed: tokens may be released from other objects' static destructors.
ComState& comState() {
    static ComState* s = new ComState;
    return *s;
}

struct ClassRegistry {
    std::mutex mutex;
    std::map<GUID, ClassCreateFunction> classes;
};

ClassRegistry& classRegistry() {
    static ClassRegistry* r = new ClassRegistry;
    return *r;
}

// Gives back every listed server library that agrees to be unloaded; one that cannot be
// asked stays listed, and is asked again at the next last release.
void unloadIdleServers(ComState& s) {
    std::vector<HMODULE> idle;
    {
        std::lock_guard lock(s.listLock);
        auto keep = std::remove_if(s.servers.begin(), s.servers.end(), [&](HMODULE m) {
            auto canUnload = reinterpret_cast<HRESULT (*)()>(getProcAddress(m, "DllCanUnloadNow"));
            if (!canUnload || canUnload() != S_OK) return false;
            idle.push_back(m);
            return true;
        });
        s.servers.erase(keep, s.servers.end());
    }
    // Unloading runs the library's finalisers: not under the list lock.
    for (HMODULE m : idle) freeLibrary(m);
}

}  // namespace

ComUser::ComUser(bool multithreaded) {
    acquire(multithreaded);
}

ComUser::~ComUser() {
    release();
}

void ComUser::acquire(bool multithreaded) {
    ComState& s = comState();
    uint32_t c = s.count.load(std::memory_order_acquire);
    while (c > 0)
        if (s.count.compare_exchange_weak(c, c + 1, std::memory_order_acq_rel)) return;
    std::lock_guard lock(s.transition);
    if (s.count.load(std::memory_order_acquire) == 0) {
        s.apartment.store(multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
        s.initialised.store(true, std::memory_order_release);
    }
    s.count.fetch_add(1, std::memory_order_acq_rel);
}

bool ComUser::release() {
    ComState& s = comState();
    uint32_t c = s.count.load(std::memory_order_acquire);
    while (c > 1)
        if (s.count.compare_exchange_weak(c, c - 1, std::memory_order_acq_rel)) return true;
    std::lock_guard lock(s.transition);
    c = 1;
    if (!s.count.compare_exchange_strong(c, 0, std::memory_order_acq_rel)) {
        if (c == 0) return false;                         // nothing to give back
        s.count.fetch_sub(1, std::memory_order_acq_rel);  // another reference came meanwhile
        return true;
    }
    // Last reference: new acquirers now wait on the transition lock until this is done.
    {
        std::lock_guard listLock(s.listLock);
        s.initialised.store(false, std::memory_order_release);
    }
    unloadIdleServers(s);
    return true;
}

uint32_t ComUser::referenceCount() {
    return comState().count.load(std::memory_order_acquire);
}

bool ComUser::isInitialised() {
    return comState().initialised.load(std::memory_order_acquire);
}

DWORD ComUser::apartment() {
    return comState().apartment.load();
}

bool ComUser::addServerLibrary(HMODULE module) {
    if (!module) return false;
    ComState& s = comState();
    bool duplicate = false;
    {
        std::lock_guard lock(s.listLock);
        if (!s.initialised.load(std::memory_order_acquire)) return false;
        duplicate = std::find(s.servers.begin(), s.servers.end(), module) != s.servers.end();
        if (!duplicate) s.servers.push_back(module);
    }
    if (duplicate) freeLibrary(module);
    return true;
}

size_t ComUser::serverLibraryCount() {
    ComState& s = comState();
    std::lock_guard lock(s.listLock);
    return s.servers.size();
}

bool ComUser::isServerLibrary(HMODULE module) {
    ComState& s = comState();
    std::lock_guard lock(s.listLock);
    return std::find(s.servers.begin(), s.servers.end(), module) != s.servers.end();
}

bool registerComClass(REFCLSID clsid, ClassCreateFunction create) {
    if (!create) return false;
    ClassRegistry& r = classRegistry();
    std::lock_guard lock(r.mutex);
    r.classes[clsid] = std::move(create);
    return true;
}

bool unregisterComClass(REFCLSID clsid) {
    ClassRegistry& r = classRegistry();
    std::lock_guard lock(r.mutex);
    return r.classes.erase(clsid) > 0;
}

bool isComClassRegistered(REFCLSID clsid) {
    ClassRegistry& r = classRegistry();
    std::lock_guard lock(r.mutex);
    return r.classes.count(clsid) > 0;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ClassCreateFunction create;
    {
        ClassRegistry& r = classRegistry();
        std::lock_guard lock(r.mutex);
        auto it = r.classes.find(clsid);
        if (it == r.classes.end()) return REGDB_E_CLASSNOTREG;
        create = it->second;
    }
    if ((context & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
    if (outer) return CLASS_E_NOAGGREGATION;
    // The creation function runs unlocked: a filter may create its inner objects the same way.
    HRESULT hr;
    try {
        hr = create(riid, out);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_FAIL;
    }
    if (SUCCEEDED(hr) && !*out) return E_FAIL;
    return hr;
}

void* CoTaskMemAlloc(size_t bytes) {
    return std::malloc(bytes ? bytes : 1);
}

void* CoTaskMemRealloc(void* block, size_t bytes) {
    return std::realloc(block, bytes ? bytes : 1);
}

void CoTaskMemFree(void* block) {
    std::free(block);
}
