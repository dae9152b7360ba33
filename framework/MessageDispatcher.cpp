#include "framework/MessageDispatcher.h"

#include <algorithm>
#include <atomic>

#include "framework/WindowApi.h"

namespace {
std::atomic<MessageDispatcher*> known{nullptr};
}

MessageHandler::~MessageHandler() {
    std::vector<MessageDispatcher*> links;
    {
        std::lock_guard lock(linksLock_);
        links.swap(links_);
    }
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());
    for (MessageDispatcher* d : links) d->removeHandler(this);
}

MessageDispatcher::~MessageDispatcher() {
    clear();
    MessageDispatcher* self = this;
    known.compare_exchange_strong(self, nullptr);
}

void MessageDispatcher::link(MessageHandler* h) {
    std::lock_guard lock(h->linksLock_);
    h->links_.push_back(this);
}

void MessageDispatcher::unlink(MessageHandler* h) {
    std::lock_guard lock(h->linksLock_);
    h->links_.erase(std::remove(h->links_.begin(), h->links_.end(), this), h->links_.end());
}

void MessageDispatcher::addHandler(MessageHandler* h) {
    if (!h) return;
    ScopedLock lock(lock_);
    handlers_.push_back(h);
    link(h);
    h->attached(this);
}

void MessageDispatcher::removeHandler(MessageHandler* h) {
    ScopedLock lock(lock_);
    auto gone = std::remove(handlers_.begin(), handlers_.end(), h);
    if (gone == handlers_.end()) return;
    handlers_.erase(gone, handlers_.end());
    unlink(h);
}

void MessageDispatcher::clear() {
    ScopedLock lock(lock_);
    // A handler may remove (or destroy) itself or others while being told: walk a copy
    // and tell only those still listed.
    std::vector<MessageHandler*> told = handlers_;
    for (MessageHandler* h : told)
        if (contains(h)) h->detached(this);
    for (MessageHandler* h : handlers_) unlink(h);
    handlers_.clear();
}

bool MessageDispatcher::contains(MessageHandler* h) {
    return std::find(handlers_.begin(), handlers_.end(), h) != handlers_.end();
}

LRESULT MessageDispatcher::dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ScopedLock lock(lock_);
    // The lock is recursive, so a handler may add or remove handlers (its own thread) while
    // it runs: walk a copy, and skip an entry that has been removed in the meantime.
    std::vector<MessageHandler*> order = handlers_;
    LRESULT result = 1;
    for (MessageHandler* h : order) {
        if (!contains(h)) continue;
        result = h->handleMessage(window, message, wParam, lParam);
        if (result == 0) break;
    }
    return result;
}

size_t MessageDispatcher::handlerCount() {
    ScopedLock lock(lock_);
    return handlers_.size();
}

MessageDispatcher* MessageDispatcher::knownDispatcher() {
    return known.load(std::memory_order_acquire);
}

LRESULT MessageDispatcher::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MessageDispatcher* dispatcher = known.load(std::memory_order_acquire);
    if (message == WM_CREATE && !dispatcher) {
        if (auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam))
            known.store(static_cast<MessageDispatcher*>(create->lpCreateParams), std::memory_order_release);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (!dispatcher) return DefWindowProcW(window, message, wParam, lParam);
    if (dispatcher->dispatch(window, message, wParam, lParam) != 0)
        return DefWindowProcW(window, message, wParam, lParam);
    return 0;
}
