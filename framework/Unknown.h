#pragma once
// The root of the contract interfaces (graphics and media pipeline): reference counting
// and a query by interface identifier, as on the platform. Each interface names its own
// identifier in a static member `iid`, which InterfacePtr and queryInterface<T> use.
#include "framework/Guid.h"
#include "framework/Result.h"

struct IUnknown {
    static constexpr GUID iid = guidOf("{00000000-0000-0000-C000-000000000046}");

    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Typed query: on success *out holds a new reference.
template <class T>
HRESULT queryInterface(IUnknown* from, T** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!from) return E_POINTER;
    return from->QueryInterface(T::iid, reinterpret_cast<void**>(out));
}
