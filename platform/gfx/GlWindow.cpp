#include "platform/gfx/GlWindow.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string_view>

namespace gfx {
namespace {

std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}

std::map<HWND, QWindow*>& registry() {
    static std::map<HWND, QWindow*> windows;
    return windows;
}

std::atomic<uintptr_t> nextHandle{0x47000000};

}  // namespace

void registerGlWindow(HWND window, QWindow* qwindow) {
    std::lock_guard hold(registryMutex());
    if (qwindow)
        registry()[window] = qwindow;
    else
        registry().erase(window);
}

void unregisterGlWindow(HWND window) {
    std::lock_guard hold(registryMutex());
    registry().erase(window);
}

QWindow* findGlWindow(HWND window) {
    std::lock_guard hold(registryMutex());
    auto it = registry().find(window);
    return it == registry().end() ? nullptr : it->second;
}

void prepareGlWindow(QWindow* qwindow) {
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    // Presentation waits for the vertical retrace.
    format.setSwapInterval(1);
    qwindow->setSurfaceType(QSurface::OpenGLSurface);
    qwindow->setFormat(format);
}

bool glWindowsAvailable() {
    if (!QGuiApplication::instance()) {
        // Without a display Qt would abort; the offscreen platform has no OpenGL.
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if (platform && std::string_view(platform).starts_with("offscreen")) return false;
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return false;
        // An unreachable display would abort: let Qt fall back to a platform without OpenGL.
        static char name[] = "layerdeck", option[] = "-platform";
        static char platforms[] = "xcb;offscreen", waylandFirst[] = "wayland;xcb;offscreen";
        static char* argv[] = {name, nullptr, nullptr, nullptr};
        static int argc = 1;
        if (!platform) {
            argv[1] = option;
            argv[2] = std::getenv("DISPLAY") ? platforms : waylandFirst;
            argc = 3;
        }
        new QGuiApplication(argc, argv);  // lives for the rest of the process
    }
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return false;
    return QOpenGLContext::supportsThreadedOpenGL();
}

GlSurfaceWindow::GlSurfaceWindow(uint32_t width, uint32_t height) {
    window_ = new QWindow();
    prepareGlWindow(window_);
    window_->resize(int(width), int(height));
    window_->create();
    window_->show();
    handle_ = reinterpret_cast<HWND>(nextHandle.fetch_add(0x10));
    registerGlWindow(handle_, window_);
    processEvents();
}

GlSurfaceWindow::~GlSurfaceWindow() {
    unregisterGlWindow(handle_);
    delete window_;
}

void GlSurfaceWindow::processEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace gfx
