#pragma once
// The object model of the framework's and the engine's own objects: an atomic reference
// count (new objects start at 0; the first holder takes the first reference) and a
// small numeric interface query. Every object answers the base identifier 1.
#include <atomic>
#include <cstdint>

class RefObject {
public:
    static constexpr uint32_t kBaseIdentifier = 1;

    RefObject() = default;
    RefObject(const RefObject&) = delete;
    RefObject& operator=(const RefObject&) = delete;

    uint32_t addRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    uint32_t release() {
        uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    uint32_t referenceCount() const { return refs_.load(std::memory_order_relaxed); }

    // On success *out holds the object as the asked-for interface, with a new reference.
    virtual bool queryIdentifier(uint32_t id, void** out) {
        if (!out) return false;
        if (id == kBaseIdentifier) {
            *out = this;
            addRef();
            return true;
        }
        *out = nullptr;
        return false;
    }

protected:
    virtual ~RefObject() = default;

private:
    std::atomic<uint32_t> refs_{0};
};
