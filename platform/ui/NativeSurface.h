#pragma once
// What the program's entry point needs to show video in a window, without Qt's headers in
// the callers' way beyond QWindow's name: the native surface an OpenGL device renders into,
// and a picture sink for a device that renders in memory.
#include <cstdint>

#include "framework/WinTypes.h"

class QWindow;

// The native window laid over the window's client area (made on the first call, then the
// same one), or null for an unknown window. prepare, when given, runs on the new window
// before it is embedded and created (surface type, format). Mouse input and dropped files
// on it reach the window as if it were not there. User-interface thread only.
QWindow* nativeWindowOf(HWND window, void (*prepare)(QWindow*) = nullptr);

// Shows a picture (B, G, R, A bytes, rows stride bytes apart) in the window's client area,
// stretched to it; the alpha bytes are ignored. Any thread; the pixels are copied before
// the call returns. Pictures for a window that is gone are dropped; false then.
bool showPicture(HWND window, const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride);
