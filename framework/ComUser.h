#pragma once
// The process-wide object-model initialisation, shared by reference counting, and object
// creation by class identifier. There is no system object broker here: classes are
// registered in-process (the media pipeline registers its filters) and created through
// CoCreateInstance exactly as callers written for the platform expect.
#include <cstddef>
#include <functional>
#include <new>

#include "framework/Unknown.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// A token holding one reference on the process-wide initialisation: the first reference
// initialises (multithreaded or apartment-threaded, as asked), later ones change nothing;
// the last one uninitialises and unloads the server libraries that agree to go.
class ComUser {
public:
    explicit ComUser(bool multithreaded = true);
    ~ComUser();
    ComUser(const ComUser&) = delete;
    ComUser& operator=(const ComUser&) = delete;

    // The same reference taken and given back without a token. release() without a
    // matching acquire() does nothing and answers false.
    static void acquire(bool multithreaded);
    static bool release();

    static uint32_t referenceCount();
    static bool isInitialised();
    // COINIT_MULTITHREADED or COINIT_APARTMENTTHREADED, as the first reference asked.
    static DWORD apartment();

    // Libraries loaded to create objects in-process. The list takes over the caller's
    // reference on module (one entry per library: adding one that is listed gives the
    // extra reference back). False, and nothing taken, while not initialised.
    static bool addServerLibrary(HMODULE module);
    static size_t serverLibraryCount();
    static bool isServerLibrary(HMODULE module);
};

// Makes an object of a registered class and answers riid from it into *out with one
// reference; must leave *out null on failure.
using ClassCreateFunction = std::function<HRESULT(REFIID riid, void** out)>;

// Adds or replaces the creation function of a class; false for an empty function.
bool registerComClass(REFCLSID clsid, ClassCreateFunction create);
// False when the class was not registered.
bool unregisterComClass(REFCLSID clsid);
bool isComClassRegistered(REFCLSID clsid);

// E_POINTER without out; REGDB_E_CLASSNOTREG for an unknown class or a context without
// an in-process part; CLASS_E_NOAGGREGATION when outer is given (no class aggregates);
// otherwise what the creation function answers (E_FAIL if it claims success with nothing).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** out);

template <class T>
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, T** out) {
    return CoCreateInstance(clsid, outer, context, T::iid, reinterpret_cast<void**>(out));
}

// A creation function body for a default-constructible class built on ComObject.
template <class T>
HRESULT createComObject(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

// Memory that crosses interface boundaries (media types, enumerated names): one
// allocator for every side. Zero bytes still gives a distinct block; freeing null is fine.
void* CoTaskMemAlloc(size_t bytes);
void* CoTaskMemRealloc(void* block, size_t bytes);
void CoTaskMemFree(void* block);
