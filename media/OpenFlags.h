#pragma once
// The open flags a DirectShow player may be built with: combinations that cannot be
// honoured together are reduced before the player sees them.
#include <cstdint>

// Applies the reduction rules in order, each to the running value.
uint32_t normaliseOpenFlags(uint32_t flags);
