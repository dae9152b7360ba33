#include "tools/render/HeadlessWindows.h"

#include <algorithm>
#include <chrono>

namespace {

BOOL postHeadless(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return HeadlessWindows::instance().post(window, message, wParam, lParam) ? TRUE : FALSE;
}

BOOL clientRectHeadless(HWND window, RECT* rect) {
    uint32_t w = 0, h = 0;
    if (!rect || !HeadlessWindows::instance().clientSize(window, &w, &h)) return FALSE;
    *rect = RECT{0, 0, LONG(w), LONG(h)};
    return TRUE;
}

BOOL windowRectHeadless(HWND window, RECT* rect) {
    return clientRectHeadless(window, rect);
}

BOOL isWindowHeadless(HWND window) {
    return HeadlessWindows::instance().isWindow(window) ? TRUE : FALSE;
}

// Nothing to paint: a known window answers success, as a real one would.
BOOL updateWindowHeadless(HWND window) {
    return isWindowHeadless(window);
}

BOOL isVisibleHeadless(HWND window) {
    return isWindowHeadless(window);
}

}  // namespace

HeadlessWindows& HeadlessWindows::instance() {
    static HeadlessWindows windows;
    return windows;
}

void HeadlessWindows::install() {
    WindowApi api;
    api.PostMessage = &postHeadless;
    api.GetClientRect = &clientRectHeadless;
    api.GetWindowRect = &windowRectHeadless;
    api.IsWindow = &isWindowHeadless;
    api.UpdateWindow = &updateWindowHeadless;
    api.IsWindowVisible = &isVisibleHeadless;
    installWindowApi(api);
    std::lock_guard<std::mutex> hold(mutex_);
    installed_ = true;
}

void HeadlessWindows::uninstall() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!installed_) return;
        installed_ = false;
        windows_.clear();
        queue_.clear();
    }
    uninstallWindowApi();
}

bool HeadlessWindows::installed() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return installed_;
}

HWND HeadlessWindows::createWindow(uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> hold(mutex_);
    nextHandle_ += 0x10;
    HWND window = reinterpret_cast<HWND>(nextHandle_);
    windows_[window] = Window{width, height};
    return window;
}

void HeadlessWindows::destroyWindow(HWND window) {
    std::lock_guard<std::mutex> hold(mutex_);
    windows_.erase(window);
    std::erase_if(queue_, [window](const MSG& m) { return m.hwnd == window; });
}

bool HeadlessWindows::isWindow(HWND window) const {
    std::lock_guard<std::mutex> hold(mutex_);
    return windows_.count(window) != 0;
}

bool HeadlessWindows::setClientSize(HWND window, uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    it->second = Window{width, height};
    return true;
}

bool HeadlessWindows::clientSize(HWND window, uint32_t* width, uint32_t* height) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    if (width) *width = it->second.width;
    if (height) *height = it->second.height;
    return true;
}

bool HeadlessWindows::post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (!windows_.count(window)) return false;
        MSG m{};
        m.hwnd = window;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        queue_.push_back(m);
    }
    arrived_.notify_all();
    return true;
}

bool HeadlessWindows::take(MSG* message, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (!arrived_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return !queue_.empty(); }))
        return false;
    if (message) *message = queue_.front();
    queue_.pop_front();
    return true;
}

size_t HeadlessWindows::queued() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return queue_.size();
}
