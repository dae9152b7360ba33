#include "platform/ui/NativeSurface.h"

#include "platform/ui/PictureSlot.h"
#include "platform/ui/QtWindowSystem.h"

QWindow* nativeWindowOf(HWND window, void (*prepare)(QWindow*)) {
    QtWindowSystem* system = QtWindowSystem::instance();
    return system ? system->nativeWindowOf(window, prepare) : nullptr;
}

bool showPicture(HWND window, const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) {
    return PictureSlot::deliver(window, bgra, width, height, stride);
}
