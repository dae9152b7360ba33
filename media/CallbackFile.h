#pragma once
// One open file reached through a StreamCallbacks table. Every read is a seek followed by
// a read under the file's own lock, so the asynchronous worker, synchronous readers and
// stream views can share the handle.
#include <atomic>
#include <cstdint>
#include <string>

#include "framework/CriticalSection.h"
#include "framework/StreamCallbacks.h"

class CallbackFile {
public:
    // Longest extension kept (the text after the last dot).
    static constexpr size_t kMaxExtension = 63;
    // Reads need no particular alignment.
    static constexpr int64_t kAlignment = 1;

    explicit CallbackFile(const StreamCallbacks& callbacks);
    ~CallbackFile();
    CallbackFile(const CallbackFile&) = delete;
    CallbackFile& operator=(const CallbackFile&) = delete;

    // False when the file cannot be opened or its size is unknown (nothing stays open).
    bool open(const char16_t* name);
    void close();
    bool isOpen();

    // Reads up to count bytes at position; a short count at the end of the file is a
    // success. False on a failed seek or read.
    bool readAt(int64_t position, uint32_t count, void* buffer, uint32_t* bytesRead);

    // Fixed while open, so asking never waits behind a read in progress.
    int64_t length() const { return length_.load(std::memory_order_acquire); }
    std::u16string extension();

private:
    CriticalSection lock_;
    StreamCallbacks callbacks_;
    HANDLE handle_ = nullptr;
    std::atomic<int64_t> length_{0};
    int64_t position_ = 0;  // where the handle stands after the last read
    std::u16string extension_;
};
