#include "splitters/MbcRegionView.h"

#include <algorithm>

void MbcRegionView::attach(MbcSharedStream* stream, uint64_t start, uint64_t size) {
    stream_ = stream;
    start_ = start;
    size_ = size;
    pos_ = 0;
    if (stream_) stream_->lastUser = nullptr;
}

void MbcRegionView::detach() {
    if (stream_ && stream_->lastUser == this) stream_->lastUser = nullptr;
    stream_ = nullptr;
    start_ = size_ = pos_ = 0;
}

bool MbcRegionView::read(void* buffer, uint32_t count, uint32_t* got) {
    if (got) *got = 0;
    if (!stream_ || !stream_->callbacks || !buffer) return false;
    ScopedLock hold(*stream_->lock);
    const uint64_t want = std::min<uint64_t>(count, size_ - pos_);
    if (want == 0) return true;
    if (stream_->lastUser != this) {
        if (start_ + pos_ > static_cast<uint64_t>(INT64_MAX)) return false;
        if (!stream_->callbacks->seek(stream_->handle, static_cast<int64_t>(start_ + pos_), STREAM_SEEK_SET_ORIGIN))
            return false;
        stream_->lastUser = this;
    }
    uint32_t n = 0;
    if (!stream_->callbacks->read(stream_->handle, buffer, static_cast<uint32_t>(want), &n)) {
        stream_->lastUser = nullptr;  // the handle's position is unknown now
        return false;
    }
    n = std::min<uint32_t>(n, static_cast<uint32_t>(want));
    pos_ += n;
    if (got) *got = n;
    return true;
}

bool MbcRegionView::seek(int64_t position, uint32_t origin) {
    if (!stream_) return false;
    ScopedLock hold(*stream_->lock);
    int64_t base = 0;
    if (origin == STREAM_SEEK_CUR_ORIGIN)
        base = static_cast<int64_t>(pos_);
    else if (origin == STREAM_SEEK_END_ORIGIN)
        base = static_cast<int64_t>(std::min<uint64_t>(size_, INT64_MAX));
    else if (origin != STREAM_SEEK_SET_ORIGIN)
        return false;
    int64_t target;
    if (__builtin_add_overflow(base, position, &target)) target = position < 0 ? 0 : INT64_MAX;
    const uint64_t clamped = target < 0 ? 0 : std::min<uint64_t>(static_cast<uint64_t>(target), size_);
    if (clamped != pos_ && stream_->lastUser == this) stream_->lastUser = nullptr;
    pos_ = clamped;
    return true;
}

namespace {

HANDLE viewOpen(LPCWSTR nameOrHandle, uint32_t access, uint32_t, uint32_t disposition) {
    if (access != GENERIC_READ || disposition != OPEN_EXISTING) return nullptr;
    return const_cast<char16_t*>(nameOrHandle);
}

bool viewRead(HANDLE h, void* buffer, uint32_t count, uint32_t* got) {
    return h && static_cast<MbcRegionView*>(h)->read(buffer, count, got);
}

bool viewSeek(HANDLE h, int64_t position, uint32_t origin) {
    return h && static_cast<MbcRegionView*>(h)->seek(position, origin);
}

bool viewSize(HANDLE h, int64_t* size) {
    if (!h || !size) return false;
    *size = static_cast<int64_t>(std::min<uint64_t>(static_cast<MbcRegionView*>(h)->size(), INT64_MAX));
    return true;
}

void viewClose(HANDLE) {}

const StreamCallbacks kViewCallbacks{viewOpen, viewRead, viewSeek, viewSize, viewClose};

}  // namespace

const StreamCallbacks& MbcRegionView::callbacks() {
    return kViewCallbacks;
}
