#include "media/OpenFlags.h"

#include <array>

namespace {

struct FlagRule {
    uint32_t key;    // all of these set ...
    uint32_t clear;  // ... clears these
};

// Order matters: audio-only with video-only drops both before the renderer rules look.
constexpr std::array<FlagRule, 4> kRules{{
    {0x30000, 0x30000},    // audio-only and video-only
    {0x110000, 0x100000},  // audio-only needs no surface renderer
    {0x210000, 0x200000},  // nor a texture renderer
    {0x300000, 0x100000},  // both renderers: the texture renderer wins
}};

}  // namespace

uint32_t normaliseOpenFlags(uint32_t flags) {
    for (const FlagRule& rule : kRules)
        if ((flags & rule.key) == rule.key) flags &= ~rule.clear;
    return flags;
}
