#include "media/CallbackFile.h"

CallbackFile::CallbackFile(const StreamCallbacks& callbacks) : callbacks_(callbacks) {}

CallbackFile::~CallbackFile() {
    close();
}

bool CallbackFile::open(const char16_t* name) {
    if (!name || !callbacks_.open) return false;
    ScopedLock lock(lock_);
    if (handle_) return false;
    HANDLE h = callbacks_.open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!h) return false;
    int64_t size = 0;
    if (!callbacks_.size || !callbacks_.size(h, &size) || size < 0) {
        if (callbacks_.close) callbacks_.close(h);
        return false;
    }
    handle_ = h;
    length_ = size;
    position_ = 0;
    std::u16string_view full(name);
    size_t dot = full.rfind(u'.');
    size_t slash = full.find_last_of(u"/\\");
    extension_.clear();
    if (dot != std::u16string_view::npos && (slash == std::u16string_view::npos || dot > slash))
        extension_ = std::u16string(full.substr(dot + 1, kMaxExtension));
    return true;
}

void CallbackFile::close() {
    ScopedLock lock(lock_);
    if (handle_ && callbacks_.close) callbacks_.close(handle_);
    handle_ = nullptr;
    length_ = 0;
    position_ = 0;
}

bool CallbackFile::isOpen() {
    ScopedLock lock(lock_);
    return handle_ != nullptr;
}

bool CallbackFile::readAt(int64_t position, uint32_t count, void* buffer, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (position < 0 || (!buffer && count)) return false;
    ScopedLock lock(lock_);
    if (!handle_ || !callbacks_.seek || !callbacks_.read) return false;
    if (!callbacks_.seek(handle_, position, STREAM_SEEK_SET_ORIGIN)) return false;
    uint32_t got = 0;
    bool ok = count == 0 || callbacks_.read(handle_, buffer, count, &got);
    // A table that reports more than was asked is not believed.
    if (got > count) got = count;
    position_ = position + got;
    if (bytesRead) *bytesRead = got;
    return ok;
}

std::u16string CallbackFile::extension() {
    ScopedLock lock(lock_);
    return extension_;
}
