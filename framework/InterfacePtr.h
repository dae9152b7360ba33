#pragma once
// Holder of one reference to a contract interface (AddRef/Release) or a framework
// object (addRef/release): releases it when done, and raises interface_ptr_exception (1)
// on access while empty.
#include <utility>

#include "framework/Exceptions.h"
#include "framework/Unknown.h"

namespace detail {
template <class T>
void holdRef(T* p) {
    if constexpr (requires { p->AddRef(); })
        p->AddRef();
    else
        p->addRef();
}
template <class T>
void dropRef(T* p) {
    if constexpr (requires { p->Release(); })
        p->Release();
    else
        p->release();
}
}  // namespace detail

template <class T>
class InterfacePtr {
public:
    InterfacePtr() = default;
    InterfacePtr(std::nullptr_t) {}
    // Takes a new reference on p.
    InterfacePtr(T* p) : p_(p) {
        if (p_) detail::holdRef(p_);
    }
    InterfacePtr(const InterfacePtr& o) : InterfacePtr(o.p_) {}
    InterfacePtr(InterfacePtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    InterfacePtr(const InterfacePtr<U>& o) : InterfacePtr(static_cast<T*>(o.get())) {}
    ~InterfacePtr() { reset(); }

    InterfacePtr& operator=(const InterfacePtr& o) {
        InterfacePtr(o).swap(*this);
        return *this;
    }
    InterfacePtr& operator=(InterfacePtr&& o) noexcept {
        InterfacePtr(std::move(o)).swap(*this);
        return *this;
    }
    InterfacePtr& operator=(T* p) {
        InterfacePtr(p).swap(*this);
        return *this;
    }

    // Adopts a reference the caller already owns.
    static InterfacePtr adopt(T* p) {
        InterfacePtr r;
        r.p_ = p;
        return r;
    }
    void attach(T* p) {
        reset();
        p_ = p;
    }
    T* detach() { return std::exchange(p_, nullptr); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr)) detail::dropRef(p);
    }
    // For out-parameters: releases what is held and hands out the slot.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* get() const { return p_; }
    T* operator->() const {
        if (!p_) throw interface_ptr_exception(interface_ptr_exception::kEmpty);
        return p_;
    }
    T& operator*() const { return *operator->(); }
    explicit operator bool() const { return p_ != nullptr; }

    // Queries the held object for another interface.
    template <class U>
    HRESULT as(InterfacePtr<U>& out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(U::iid, out.putVoid());
    }
    template <class U>
    InterfacePtr<U> as() const {
        InterfacePtr<U> out;
        if (p_) p_->QueryInterface(U::iid, out.putVoid());
        return out;
    }

    void swap(InterfacePtr& o) noexcept { std::swap(p_, o.p_); }

    friend bool operator==(const InterfacePtr& a, const InterfacePtr& b) { return a.p_ == b.p_; }
    friend bool operator==(const InterfacePtr& a, std::nullptr_t) { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};
