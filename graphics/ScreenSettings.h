#pragma once
// What the screen should look like: the logical drawing area, the window and fullscreen
// sizes, viewports, back-buffer format and how the sizes were settled. Copied by value.
#include <cstdint>

#include "framework/Rect.h"

struct ScreenSettings {
    // Bit 31: the sizes are settled and not fitted to the display's modes.
    static constexpr uint32_t kSettled = 0x80000000u;
    // What the player uses: settled, fitting rule 2 (never applied while settled).
    static constexpr uint32_t kPlayerFlags = 0x80020000u;

    int32_t logicalWidth = 0;
    int32_t logicalHeight = 0;
    int32_t windowWidth = 0;
    int32_t windowHeight = 0;
    int32_t fullscreenWidth = 0;
    int32_t fullscreenHeight = 0;
    int32_t aspectNumerator = 0;
    int32_t aspectDenominator = 0;
    RECT windowViewport{0, 0, 0, 0};
    RECT fullscreenViewport{0, 0, 0, 0};
    int32_t pixelFormat = 0;  // 0: the desktop's format
    int32_t refreshRate = 0;  // 0: the adapter's default
    uint32_t flags = 0;
    int32_t fullscreen = 0;

    // The windowed w x h screen the player asks for.
    static ScreenSettings windowed(int32_t width, int32_t height) {
        ScreenSettings s;
        s.logicalWidth = s.windowWidth = s.fullscreenWidth = width;
        s.logicalHeight = s.windowHeight = s.fullscreenHeight = height;
        s.windowViewport = s.fullscreenViewport = RECT{0, 0, width, height};
        s.flags = kPlayerFlags;
        return s;
    }
};
