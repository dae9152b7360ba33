#pragma once
// Native windows that can carry an OpenGL context. The user-interface layer registers the
// QWindow behind a window handle; the runtime then renders into it with the OpenGL device.
// Nothing here needs Qt headers, so callers without Qt in their view can use it.
#include <cstdint>

#include "framework/WinTypes.h"

class QWindow;

namespace gfx {

// Handle -> window. A registered window must have the OpenGL surface type and the format of
// glWindowFormat(); it must outlive every device presenting to it.
void registerGlWindow(HWND window, QWindow* qwindow);
void unregisterGlWindow(HWND window);
QWindow* findGlWindow(HWND window);

// Prepares a QWindow (not yet created) for the OpenGL device: surface type and format.
void prepareGlWindow(QWindow* qwindow);

// Whether this process can make OpenGL windows at all: a GUI application exists (made here
// when there is none and a display is reachable) on a platform with threaded OpenGL.
// Call it from the thread that runs (or will run) the GUI.
bool glWindowsAvailable();

// A bare top-level OpenGL window with its own handle, for tools and tests that present
// without the player's window; registered while it lives. Make and destroy it on the GUI
// thread.
class GlSurfaceWindow {
public:
    GlSurfaceWindow(uint32_t width, uint32_t height);
    ~GlSurfaceWindow();
    GlSurfaceWindow(const GlSurfaceWindow&) = delete;
    GlSurfaceWindow& operator=(const GlSurfaceWindow&) = delete;

    HWND handle() const { return handle_; }
    QWindow* window() const { return window_; }
    // Lets the GUI handle pending window-system events (exposure after show).
    static void processEvents();

private:
    QWindow* window_ = nullptr;
    HWND handle_ = nullptr;
};

}  // namespace gfx
