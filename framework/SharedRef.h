#pragma once
// The shared reference with which long-lived objects are held: a counted reference to an
// array of objects (often an array of one) plus a current element index. Access checks,
// in this order: an empty reference raises smart_ptr_exception (1), an index that is
// negative or not below the element count raises smart_ptr_exception (2).
#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "framework/Exceptions.h"

namespace detail {
// Element access is recorded with the type the objects were made as, so a base view of a
// derived array still finds element i (single inheritance, as for every holder here).
struct SharedBlock {
    std::atomic<long> refs;
    void* objects;
    size_t count;
    void (*destroy)(void*);
    void* (*at)(void*, size_t);
};
}  // namespace detail

template <class T>
class SharedRef {
public:
    SharedRef() = default;
    SharedRef(std::nullptr_t) {}

    // Takes ownership of one object made with new.
    explicit SharedRef(T* object) {
        if (object) block_ = new Block{{1}, object, 1, &deleteOne<T>, &elementAt<T>};
    }
    // An array of n default-made objects, index 0.
    static SharedRef makeArray(size_t n) {
        SharedRef r;
        if (n > 0) r.block_ = new Block{{1}, new T[n], n, &deleteArray<T>, &elementAt<T>};
        return r;
    }

    SharedRef(const SharedRef& o) : block_(o.block_), index_(o.index_) { retain(); }
    SharedRef(SharedRef&& o) noexcept : block_(std::exchange(o.block_, nullptr)), index_(o.index_) {}
    // A reference to a derived class's objects viewed as the base class.
    template <class U>
        requires std::is_base_of_v<T, U>
    SharedRef(const SharedRef<U>& o) : index_(o.index()) {
        block_ = o.block_;
        retain();
    }
    ~SharedRef() { drop(); }

    SharedRef& operator=(SharedRef o) noexcept {
        std::swap(block_, o.block_);
        std::swap(index_, o.index_);
        return *this;
    }

    void reset() {
        drop();
        block_ = nullptr;
        index_ = 0;
    }

    // The current element, checked.
    T* operator->() const { return &checkedElement(); }
    T& operator*() const { return checkedElement(); }
    T& operator[](ptrdiff_t i) const { return checkedElement(i); }

    // The current element or null, unchecked (for comparisons and optional use).
    T* get() const {
        if (!block_ || index_ < 0 || static_cast<size_t>(index_) >= block_->count) return nullptr;
        return element(index_);
    }

    ptrdiff_t index() const { return index_; }
    void setIndex(ptrdiff_t i) { index_ = i; }
    size_t count() const { return block_ ? block_->count : 0; }
    long useCount() const { return block_ ? block_->refs.load() : 0; }
    bool empty() const { return block_ == nullptr; }
    explicit operator bool() const { return block_ != nullptr; }

    friend bool operator==(const SharedRef& a, const SharedRef& b) {
        return a.block_ == b.block_ && a.index_ == b.index_;
    }

private:
    template <class>
    friend class SharedRef;

    using Block = detail::SharedBlock;
    template <class U>
    static void deleteOne(void* p) {
        delete static_cast<U*>(p);
    }
    template <class U>
    static void deleteArray(void* p) {
        delete[] static_cast<U*>(p);
    }
    template <class U>
    static void* elementAt(void* p, size_t i) {
        // Stored as the most derived pointer; converted to T by the caller's static_cast.
        return static_cast<void*>(static_cast<U*>(p) + i);
    }

    T* element(ptrdiff_t i) const {
        return static_cast<T*>(block_->at(block_->objects, static_cast<size_t>(i)));
    }
    T& checkedElement() const { return checkedElement(index_); }
    T& checkedElement(ptrdiff_t i) const {
        if (!block_) throw smart_ptr_exception(smart_ptr_exception::kEmpty);
        if (i < 0 || static_cast<size_t>(i) >= block_->count)
            throw smart_ptr_exception(smart_ptr_exception::kIndexOutOfRange);
        return *element(i);
    }
    void retain() {
        if (block_) block_->refs.fetch_add(1, std::memory_order_relaxed);
    }
    void drop() {
        if (block_ && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            block_->destroy(block_->objects);
            delete block_;
        }
    }

    Block* block_ = nullptr;
    ptrdiff_t index_ = 0;
};

template <class T, class... Args>
SharedRef<T> makeShared(Args&&... args) {
    return SharedRef<T>(new T(std::forward<Args>(args)...));
}
