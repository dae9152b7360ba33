#pragma once
// What a player factory hands a DirectShow player for its open.
#include <cstdint>

#include "framework/StreamCallbacks.h"
#include "media/DirectShowPlayerFactory.h"

class DrawBase;
struct IDirect3DDevice9;

struct OpenParameters {
    uint32_t flags = 0;    // already normalised
    uintptr_t cookie = 0;  // posted back with the completion message
    const StreamCallbacks* streamCallbacks = nullptr;
    DecodeFilterHook decodeFilterHook = nullptr;
    DrawBase* compositor = nullptr;
    IDirect3DDevice9* device = nullptr;  // the compositor's device, or null without one
};
