#include "splitters/AsyncReaderFile.h"

#include <algorithm>

namespace {

AsyncReaderFile* fileOf(HANDLE h) {
    return static_cast<AsyncReaderFile*>(h);
}

HANDLE openReader(LPCWSTR nameOrHandle, uint32_t, uint32_t, uint32_t) {
    return const_cast<void*>(static_cast<const void*>(nameOrHandle));
}
bool readReader(HANDLE h, void* buffer, uint32_t count, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    return h && fileOf(h)->read(buffer, count, bytesRead);
}
bool seekReader(HANDLE h, int64_t position, uint32_t origin) {
    return h && fileOf(h)->seek(position, origin);
}
bool sizeReader(HANDLE h, int64_t* size) {
    return h && fileOf(h)->size(size);
}
void closeReader(HANDLE) {}

const StreamCallbacks kCallbacks{openReader, readReader, seekReader, sizeReader, closeReader};

}  // namespace

AsyncReaderFile::AsyncReaderFile(IAsyncReader* reader) : reader_(reader) {}

const StreamCallbacks& AsyncReaderFile::callbacks() {
    return kCallbacks;
}

bool AsyncReaderFile::size(int64_t* size) {
    if (!size || !reader_) return false;
    LONGLONG total = 0, available = 0;
    if (FAILED(reader_->Length(&total, &available)) || total < 0) return false;
    *size = total;
    return true;
}

int64_t AsyncReaderFile::position() {
    std::lock_guard<std::mutex> g(mutex_);
    return position_;
}

bool AsyncReaderFile::seek(int64_t position, uint32_t origin) {
    int64_t base = 0;
    if (origin == STREAM_SEEK_END_ORIGIN) {
        if (!size(&base)) return false;
    } else if (origin != STREAM_SEEK_SET_ORIGIN && origin != STREAM_SEEK_CUR_ORIGIN) {
        return false;
    }
    std::lock_guard<std::mutex> g(mutex_);
    if (origin == STREAM_SEEK_CUR_ORIGIN) base = position_;
    int64_t target;
    if (__builtin_add_overflow(base, position, &target) || target < 0) return false;
    position_ = target;
    return true;
}

bool AsyncReaderFile::read(void* buffer, uint32_t count, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (!buffer && count) return false;
    int64_t total = 0;
    if (!size(&total)) return false;
    std::lock_guard<std::mutex> g(mutex_);
    // One request carries at most a LONG's worth; callers read on for the rest.
    int64_t want = std::clamp<int64_t>(total - position_, 0, std::min<int64_t>(count, 0x7FFFFFFF));
    if (want > 0) {
        // Only what the file holds is asked for, so anything short is a failure.
        HRESULT hr = reader_->SyncRead(position_, static_cast<LONG>(want), static_cast<BYTE*>(buffer));
        if (hr != S_OK) return false;
    }
    position_ += want;
    if (bytesRead) *bytesRead = static_cast<uint32_t>(want);
    return true;
}
