#pragma once
// Implements IUnknown for an object exposing one or more contract interfaces: an atomic
// count (starting at 0, the first holder takes the first reference), deletion at zero,
// and a query that answers IUnknown and each listed interface. A class that exposes more
// (an inner object, a pin's seeking object) overrides queryOther.
#include <atomic>

#include "framework/Unknown.h"

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IUnknown::iid) {
            *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!(match<First>(riid, ppv) || (match<Rest>(riid, ppv) || ...))) {
            return queryOther(riid, ppv);
        }
        AddRef();
        return S_OK;
    }
    ULONG referenceCount() const { return refs_.load(std::memory_order_relaxed); }

protected:
    ComObject() = default;
    ~ComObject() override = default;
    // Further interfaces; an implementation must AddRef what it hands out.
    virtual HRESULT queryOther(REFIID, void**) { return E_NOINTERFACE; }

private:
    template <class I>
    bool match(REFIID riid, void** ppv) {
        if (riid != I::iid) return false;
        *ppv = static_cast<I*>(this);
        return true;
    }
    std::atomic<ULONG> refs_{0};
};
