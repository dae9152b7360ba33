#pragma once
// The WebM filter set's one class factory for the whole process. Every DirectShow player
// factory holds a reference for its lifetime; the class factory itself is made the first
// time a WebM graph is prepared and destroyed when the last player factory lets go.
// The filter set plugs in by installing how its class factory is made; until it does,
// preparing a WebM graph fails cleanly with REGDB_E_CLASSNOTREG.
#include <cstdint>
#include <functional>
#include <memory>

#include "framework/Unknown.h"

enum class WebmFilter { Splitter, Vp8Decoder, Vp9Decoder };

// What the filter set's class factory offers the engine.
class WebmClassFactory {
public:
    virtual ~WebmClassFactory() = default;
    // A new filter answering riid into *out with one reference; *out null on failure.
    virtual HRESULT createFilter(WebmFilter which, IUnknown* outer, REFIID riid, void** out) = 0;
};

using WebmClassFactoryMaker = std::function<std::unique_ptr<WebmClassFactory>()>;

class WebmFactoryReference {
public:
    // Held by each player factory.
    static void acquire();
    // The last release destroys the class factory if one was made. Extra releases do nothing.
    static void release();
    static uint32_t referenceCount();

    // Makes the class factory unless it exists; REGDB_E_CLASSNOTREG without a maker,
    // E_OUTOFMEMORY when the maker gives nothing.
    static HRESULT ensureFactory();
    static bool factoryExists();
    // ensureFactory, then the class factory's createFilter (no aggregation).
    static HRESULT createFilter(WebmFilter which, REFIID riid, void** out);

    // How the class factory is made; an empty function removes the filter set. A class
    // factory already made stays until the last reference goes.
    static void setMaker(WebmClassFactoryMaker maker);
};
