#include "platform/ui/DeviceContext.h"

#include <algorithm>
#include <vector>

namespace {

// Painting happens on the user-interface thread only, and contexts nest at most a few deep.
std::vector<DeviceContext*>& live() {
    static std::vector<DeviceContext*> contexts;
    return contexts;
}

}  // namespace

DeviceContext::DeviceContext(QPainter& painter) : painter_(painter) {
    live().push_back(this);
}

DeviceContext::~DeviceContext() {
    std::erase(live(), this);
}

QPainter* DeviceContext::painterOf(HDC dc) {
    auto& contexts = live();
    auto it = std::find(contexts.begin(), contexts.end(), reinterpret_cast<DeviceContext*>(dc));
    return it == contexts.end() ? nullptr : &(*it)->painter_;
}
