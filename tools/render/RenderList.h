#pragma once
// The list file the headless renderer reads: a JSON object
//   {"size": [w, h], "background": [r, g, b],
//    "items": [{"path": "...", "source": [l, t, r, b], "dest": [l, t, r, b],
//               "opacity": 0-255, "volume": 0-1000, "pan": -1000..1000, "offsetMs": n}, ...]}
// in list order (the first item is the top layer). Every field but "items" and an item's
// "path" may be left out and takes the player's default. Unknown fields are refused, so
// that a misspelt setting does not silently fall back to its default. Relative paths
// are taken from the list file's folder.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/render/HeadlessStage.h"

struct RenderList {
    // The stage's size (0 x 0: fitted) and background.
    StageOptions options;
    std::vector<StageItem> items;

    // Reads the text of a list whose relative paths start at baseDir. False with a
    // one-line reason ("items[1].opacity: ...") in *error.
    static bool parse(std::string_view text, const std::filesystem::path& baseDir, RenderList* out, std::string* error);
    // Reads the file (at most kMaxFileBytes).
    static bool load(const std::filesystem::path& file, RenderList* out, std::string* error);

    static constexpr size_t kMaxFileBytes = 16u << 20;
};
