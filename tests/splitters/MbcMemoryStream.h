#pragma once
// Test double: a byte vector reached through StreamCallbacks. The stream object itself
// is the handle passed as the "name" to open. A hook can run at a chosen read, so a test
// can act at a known point of a reader's work.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "framework/StreamCallbacks.h"

namespace mbctest {

class MemoryStream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    LPCWSTR name() { return reinterpret_cast<LPCWSTR>(this); }
    static const StreamCallbacks& callbacks() {
        static const StreamCallbacks table{&open, &read, &seek, &size, &close};
        return table;
    }
    // Runs hook once, on the reading thread, when a read starts at or past position
    // (inside the reader's own call, with whatever locks it holds).
    void onFirstReadAt(uint64_t position, std::function<void()> hook) {
        hookAt_ = position;
        hook_ = std::move(hook);
        hookRan_ = false;
    }
    bool hookRan() const { return hookRan_.load(); }
    int opens() const { return opens_; }
    int closes() const { return closes_; }

private:
    static HANDLE open(LPCWSTR name, uint32_t access, uint32_t, uint32_t disposition) {
        auto* s = reinterpret_cast<MemoryStream*>(const_cast<char16_t*>(name));
        if (!s || access != GENERIC_READ || disposition != OPEN_EXISTING) return nullptr;
        ++s->opens_;
        s->pos_ = 0;
        return s;
    }
    static bool read(HANDLE h, void* buffer, uint32_t count, uint32_t* got) {
        auto* s = static_cast<MemoryStream*>(h);
        if (s->hook_ && !s->hookRan_ && s->pos_ >= s->hookAt_) {
            s->hookRan_ = true;
            s->hook_();
        }
        const uint64_t n = s->pos_ < s->bytes_.size() ? std::min<uint64_t>(count, s->bytes_.size() - s->pos_) : 0;
        if (n) std::memcpy(buffer, s->bytes_.data() + s->pos_, n);
        s->pos_ += n;
        *got = static_cast<uint32_t>(n);
        return true;
    }
    static bool seek(HANDLE h, int64_t position, uint32_t origin) {
        auto* s = static_cast<MemoryStream*>(h);
        const int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(s->pos_) : int64_t(s->bytes_.size());
        if (base + position < 0) return false;
        s->pos_ = static_cast<uint64_t>(base + position);
        return true;
    }
    static bool size(HANDLE h, int64_t* out) {
        *out = static_cast<int64_t>(static_cast<MemoryStream*>(h)->bytes_.size());
        return true;
    }
    static void close(HANDLE h) { ++static_cast<MemoryStream*>(h)->closes_; }

    std::vector<uint8_t> bytes_;
    uint64_t pos_ = 0;
    int opens_ = 0, closes_ = 0;
    uint64_t hookAt_ = 0;
    std::function<void()> hook_;
    std::atomic<bool> hookRan_{false};
};

}  // namespace mbctest
