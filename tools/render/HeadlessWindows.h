#pragma once
// A window system without a screen: made-up window handles with a client size and one
// thread-safe queue of posted messages. It gives the compositor its back-buffer size
// (GetClientRect) and the media engine somewhere to post its ready and graph-event
// messages; the owner takes them off the queue on its own thread.
//
// The window table is process-wide, so there is one instance (instance()); install()
// makes it the process's window system and uninstall() takes it away again.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "framework/WindowApi.h"

class HeadlessWindows {
public:
    static HeadlessWindows& instance();

    HeadlessWindows(const HeadlessWindows&) = delete;
    HeadlessWindows& operator=(const HeadlessWindows&) = delete;

    // Replaces any installed window system with this one.
    void install();
    // Only when this one is installed; its windows and queued messages are dropped.
    void uninstall();
    bool installed() const;

    // A new window of that client size; never null.
    HWND createWindow(uint32_t width, uint32_t height);
    // Forgets the window and the messages queued for it.
    void destroyWindow(HWND window);
    bool isWindow(HWND window) const;
    bool setClientSize(HWND window, uint32_t width, uint32_t height);
    bool clientSize(HWND window, uint32_t* width, uint32_t* height) const;

    // Queues a message for a window of this system (false for any other handle). Any
    // thread.
    bool post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The oldest queued message, waiting up to timeoutMs for one; false when none came.
    bool take(MSG* message, uint32_t timeoutMs);
    size_t queued() const;

private:
    HeadlessWindows() = default;

    struct Window {
        uint32_t width;
        uint32_t height;
    };

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<HWND, Window> windows_;
    std::deque<MSG> queue_;
    uintptr_t nextHandle_ = 0x5EAD0000;
    bool installed_ = false;
};
