#pragma once
// Files in memory behind a StreamCallbacks table, found by name, with a gate that can
// hold reads while a test looks at what happens meanwhile.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/StreamCallbacks.h"

namespace memoryfiles {

struct MemoryFile {
    std::vector<uint8_t> bytes;
    int64_t position = 0;
    bool closed = false;

    std::mutex mutex;
    std::condition_variable cv;
    bool holdReads = false;
    int readsWaiting = 0;

    // Reads stop at the gate until release().
    void hold() {
        std::lock_guard<std::mutex> g(mutex);
        holdReads = true;
    }
    void release() {
        std::lock_guard<std::mutex> g(mutex);
        holdReads = false;
        cv.notify_all();
    }
    void waitUntilAReadWaits() {
        std::unique_lock<std::mutex> g(mutex);
        cv.wait(g, [&] { return readsWaiting > 0; });
    }
};

inline std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
inline std::map<std::u16string, MemoryFile*>& registry() {
    static std::map<std::u16string, MemoryFile*> files;
    return files;
}

// Makes the file reachable under name while the object lives.
class Registration {
public:
    Registration(std::u16string name, MemoryFile* file) : name_(std::move(name)) {
        std::lock_guard<std::mutex> g(registryMutex());
        registry()[name_] = file;
    }
    ~Registration() {
        std::lock_guard<std::mutex> g(registryMutex());
        registry().erase(name_);
    }

private:
    std::u16string name_;
};

inline HANDLE openMemory(LPCWSTR name, uint32_t, uint32_t, uint32_t) {
    std::lock_guard<std::mutex> g(registryMutex());
    auto it = registry().find(name);
    return it == registry().end() ? nullptr : it->second;
}
inline bool readMemory(HANDLE h, void* buffer, uint32_t count, uint32_t* got) {
    auto* f = static_cast<MemoryFile*>(h);
    std::unique_lock<std::mutex> g(f->mutex);
    ++f->readsWaiting;
    f->cv.notify_all();
    f->cv.wait(g, [&] { return !f->holdReads; });
    --f->readsWaiting;
    int64_t left = static_cast<int64_t>(f->bytes.size()) - f->position;
    uint32_t n = static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(count, left)));
    if (n) std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    *got = n;
    return true;
}
inline bool seekMemory(HANDLE h, int64_t position, uint32_t origin) {
    auto* f = static_cast<MemoryFile*>(h);
    std::lock_guard<std::mutex> g(f->mutex);
    int64_t base = origin == 0 ? 0 : origin == 1 ? f->position : static_cast<int64_t>(f->bytes.size());
    if (base + position < 0) return false;
    f->position = base + position;
    return true;
}
inline bool sizeMemory(HANDLE h, int64_t* size) {
    *size = static_cast<int64_t>(static_cast<MemoryFile*>(h)->bytes.size());
    return true;
}
inline void closeMemory(HANDLE h) {
    static_cast<MemoryFile*>(h)->closed = true;
}

inline const StreamCallbacks& callbacks() {
    static const StreamCallbacks table{openMemory, readMemory, seekMemory, sizeMemory, closeMemory};
    return table;
}

// Bytes 0, 1, 2, ... (mod 251, so no short period lines up with sizes used in tests).
inline std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i % 251);
    return v;
}

}  // namespace memoryfiles
