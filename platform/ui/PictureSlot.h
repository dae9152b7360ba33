#pragma once
// The last picture handed to a window from any thread, waiting to be painted on the
// user-interface thread.
#include <QImage>
#include <atomic>
#include <memory>
#include <mutex>

#include "framework/WinTypes.h"

class QWidget;

class PictureSlot {
public:
    // Copies the picture; true when a repaint should be asked for (none is pending yet).
    bool store(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride);
    // The picture to paint (null when none came yet); clears the pending repaint.
    QImage take();

    // The windows that take pictures: a window is registered while its widget lives, so
    // that a sender on another thread never reaches a widget that has gone.
    static void registerTarget(HWND window, QWidget* widget, std::shared_ptr<PictureSlot> slot);
    static void unregisterTarget(HWND window);
    // Stores the picture for the window and asks for a repaint; false for an unknown window.
    static bool deliver(HWND window, const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride);

private:
    std::mutex lock_;
    QImage picture_;
    std::atomic<bool> pending_{false};
};
