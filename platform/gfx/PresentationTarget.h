#pragma once
// Where a software device's presented pictures go: the user-interface layer supplies
// one per window. Each Present hands over the whole back buffer as B, G, R, A bytes.
#include <cstdint>

namespace gfx {

class PresentationTarget {
public:
    virtual ~PresentationTarget() = default;
    // Runs on the presenting thread; the pixels are valid only during the call.
    virtual void present(const uint8_t* bgra, uint32_t width, uint32_t height, uint32_t stride) = 0;
};

}  // namespace gfx
