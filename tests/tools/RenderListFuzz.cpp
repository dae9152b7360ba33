// Fuzz target: the headless renderer's list reader (and its JSON reader) on arbitrary
// bytes. A list it accepts must hold what the player can take.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tools/render/JsonValue.h"
#include "tools/render/RenderList.h"

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    for (
        const char* s : {
            R"({"size": [320, 240], "background": [0.5, 0, 1.0], "items": [{"path": "a.mbc", "source": [0, 0, 16, 16],)"
            R"( "dest": [-4, 8, 40, 2147483647], "opacity": 128, "volume": 500, "pan": -1000, "offsetMs": -250}]})",
            R"({"items": [{"path": "x\u00e9\ud83d\ude00.png"}, {"path": "/abs/b.mp4", "offsetMs": 1e3}]})",
            R"([1, -0, 0.5e-3, "\"\\\/\b\f\n\r\t", true, false, null, {}, []])",
            R"({"items": [{"path": "a", "opacity": 256}]})",
            R"({"items": [], "size": [0, 1]})",
            "{\"items\":[{\"path\":\"\xC3\xA9\"}]}",
        }) {
        std::string text(s);
        seeds->push_back(std::vector<uint8_t>(text.begin(), text.end()));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    JsonValue value;
    std::string error;
    if (!JsonValue::parse(text, &value, &error) && error.empty()) std::abort();

    RenderList list;
    error.clear();
    if (!RenderList::parse(text, "/lists", &list, &error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (list.items.empty()) std::abort();
    if ((list.options.width == 0) != (list.options.height == 0)) std::abort();
    for (int c = 0; c < 3; ++c)
        if (!(list.options.background[c] >= 0.0f && list.options.background[c] <= 1.0f)) std::abort();
    for (const StageItem& item : list.items) {
        if (item.path.empty()) std::abort();
        if (item.volume < 0 || item.volume > 1000 || item.pan < -1000 || item.pan > 1000) std::abort();
    }
    return 0;
}
