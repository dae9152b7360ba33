// Hostile file heads and byte patterns for the source lookup that RenderFile runs on
// every file: any input must give an answer without reading outside the head.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dshow/FilterRegistry.h"

namespace {
constexpr CLSID kFuzzSource = guidOf("{6A3E6001-1F0C-4E0B-9E51-3C7D2A8B9F01}");

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> out;
        while (n-- && at < size) out.push_back(data[at++]);
        return out;
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader r{data, size};
    FilterRegistration entry;
    entry.clsid = kFuzzSource;
    entry.name = u"Fuzz Source";
    int lines = r.byte() % 3;
    for (int l = 0; l < lines; ++l) {
        std::vector<ByteCheck> checks;
        int count = r.byte() % 4;
        for (int c = 0; c < count; ++c) {
            ByteCheck check;
            check.offset = static_cast<int16_t>(r.byte() | (r.byte() << 8));
            check.value = r.bytes(r.byte() % 9);
            check.mask = r.bytes(r.byte() % 9);
            checks.push_back(std::move(check));
        }
        entry.patterns.push_back(std::move(checks));
    }
    std::u16string ext = u".";
    for (uint8_t c : r.bytes(r.byte() % 5)) ext += static_cast<char16_t>(c);
    entry.extensions = {ext};
    std::u16string name;
    for (uint8_t c : r.bytes(r.byte() % 12)) name += static_cast<char16_t>(c);
    std::vector<uint8_t> head = r.bytes(size);

    FilterRegistry& registry = FilterRegistry::instance();
    registry.registerFilter(entry);
    volatile bool found = registry.sourceFor(name, head).has_value();
    (void)found;
    (void)registry.patternSpan();
    registry.unregisterFilter(kFuzzSource);
    return 0;
}
