#include "platform/ui/DroppedFiles.h"

#include <algorithm>

UINT DroppedFiles::query(UINT index, LPWSTR buffer, UINT capacity) const {
    if (index == 0xFFFFFFFFu) return static_cast<UINT>(files_.size());
    if (index >= files_.size()) return 0;
    const std::u16string& name = files_[index];
    if (!buffer) return static_cast<UINT>(name.size());
    if (capacity == 0) return 0;
    size_t count = std::min<size_t>(name.size(), capacity - 1);
    std::copy_n(name.data(), count, buffer);
    buffer[count] = 0;
    return static_cast<UINT>(count);
}
