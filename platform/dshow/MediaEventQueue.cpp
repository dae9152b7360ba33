#include "platform/dshow/MediaEventQueue.h"

#include <chrono>

#include "framework/WindowApi.h"
#include "framework/dshow/EventCodes.h"
#include "framework/dshow/GraphInterfaces.h"

MediaEventQueue::MediaEventQueue() = default;

bool MediaEventQueue::isCompletion(LONG code) {
    return code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT;
}

void MediaEventQueue::push(LONG code, LONG_PTR param1, LONG_PTR param2) {
    OAHWND window = 0;
    LONG message = 0;
    LONG_PTR instance = 0;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (flags_ & AM_MEDIAEVENT_NONOTIFY) return;
        entries_.push_back({code, param1, param2});
        if (isCompletion(code) && !completed_) {
            completed_ = true;
            completionCode_ = code;
        }
        signal_.set();
        window = window_;
        message = message_;
        instance = instance_;
    }
    arrived_.notify_all();
    // Posting never blocks; done outside the lock so a window system that delivers at
    // once cannot re-enter the queue while it is held.
    if (window) PostMessageW(reinterpret_cast<HWND>(window), static_cast<UINT>(message), 0, instance);
}

namespace {
template <class Pred>
bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, LONG msTimeout, Pred pred) {
    if (msTimeout < 0) {
        cv.wait(lock, pred);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(msTimeout), pred);
}
}  // namespace

HRESULT MediaEventQueue::get(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout) {
    if (!code || !param1 || !param2) return E_POINTER;
    *code = 0;
    *param1 = 0;
    *param2 = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!waitFor(arrived_, lock, msTimeout, [&] { return !entries_.empty(); })) return E_ABORT;
    Entry e = entries_.front();
    entries_.pop_front();
    if (entries_.empty()) signal_.reset();
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
}

HRESULT MediaEventQueue::waitForCompletion(LONG msTimeout, LONG* code) {
    if (!code) return E_POINTER;
    *code = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!waitFor(arrived_, lock, msTimeout, [&] { return completed_; })) return E_ABORT;
    *code = completionCode_;
    return S_OK;
}

void MediaEventQueue::resetCompletion() {
    std::lock_guard<std::mutex> g(mutex_);
    completed_ = false;
    completionCode_ = 0;
}

void MediaEventQueue::setNotifyWindow(OAHWND hwnd, LONG message, LONG_PTR instanceData) {
    size_t waiting = 0;
    {
        std::lock_guard<std::mutex> g(mutex_);
        window_ = hwnd;
        message_ = message;
        instance_ = instanceData;
        waiting = hwnd ? entries_.size() : 0;
    }
    for (size_t i = 0; i < waiting; ++i)
        PostMessageW(reinterpret_cast<HWND>(hwnd), static_cast<UINT>(message), 0, instanceData);
}

HRESULT MediaEventQueue::setNotifyFlags(LONG flags) {
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::lock_guard<std::mutex> g(mutex_);
    flags_ = flags;
    if (flags & AM_MEDIAEVENT_NONOTIFY) {
        entries_.clear();
        signal_.reset();
    }
    return S_OK;
}

LONG MediaEventQueue::notifyFlags() const {
    std::lock_guard<std::mutex> g(mutex_);
    return flags_;
}

size_t MediaEventQueue::size() const {
    std::lock_guard<std::mutex> g(mutex_);
    return entries_.size();
}
