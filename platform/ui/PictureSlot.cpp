#include "platform/ui/PictureSlot.h"

#include <QMetaObject>
#include <QWidget>
#include <cstring>
#include <unordered_map>

namespace {

struct Target {
    QWidget* widget;
    std::shared_ptr<PictureSlot> slot;
};

std::mutex& targetsLock() {
    static std::mutex m;
    return m;
}

std::unordered_map<HWND, Target>& targets() {
    static auto* t = new std::unordered_map<HWND, Target>;
    return *t;
}

}  // namespace

void PictureSlot::registerTarget(HWND window, QWidget* widget, std::shared_ptr<PictureSlot> slot) {
    std::lock_guard lock(targetsLock());
    targets()[window] = Target{widget, std::move(slot)};
}

void PictureSlot::unregisterTarget(HWND window) {
    std::lock_guard lock(targetsLock());
    targets().erase(window);
}

bool PictureSlot::deliver(HWND window, const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) {
    if (!bgra || width == 0 || height == 0 || stride < width * 4) return false;
    // Held until the repaint is posted: the widget cannot be unregistered, and so not
    // deleted, in between.
    std::lock_guard lock(targetsLock());
    auto it = targets().find(window);
    if (it == targets().end()) return false;
    if (it->second.slot->store(bgra, width, height, stride))
        QMetaObject::invokeMethod(it->second.widget, "update", Qt::QueuedConnection);
    return true;
}

bool PictureSlot::store(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) {
    {
        std::lock_guard lock(lock_);
        if (picture_.width() != static_cast<int>(width) || picture_.height() != static_cast<int>(height))
            picture_ = QImage(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
        if (picture_.isNull()) return false;
        size_t row = static_cast<size_t>(width) * 4;
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(picture_.scanLine(static_cast<int>(y)), bgra + static_cast<size_t>(y) * stride, row);
    }
    return !pending_.exchange(true);
}

QImage PictureSlot::take() {
    pending_.store(false);
    std::lock_guard lock(lock_);
    return picture_.copy();
}
