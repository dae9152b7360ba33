// Fuzz target: the editor's numeric field rule and the field readers on arbitrary UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/EditorMappings.h"

namespace em = EditorMappings;

extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    for (const char* s : {"12-3", "a-5", "--5", "-", "abc", "", "99999999999", "-2147483648", "12a"}) {
        std::vector<uint8_t> bytes;
        for (const char* p = s; *p; ++p) {
            bytes.push_back(uint8_t(*p));
            bytes.push_back(0);
        }
        seeds->push_back(bytes);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | data[i + 1] << 8));
    const std::u16string clean = em::sanitiseNumericText(text);
    // The result is "0", "-", or an optional "-" and digits, at most 63 characters, and
    // the rule leaves its own output as it is.
    if (clean.empty() || clean.size() > em::kMaxFieldChars) std::abort();
    for (size_t i = 0; i < clean.size(); ++i)
        if (!((clean[i] >= u'0' && clean[i] <= u'9') || (i == 0 && clean[i] == u'-'))) std::abort();
    if (em::sanitiseNumericText(clean) != clean) std::abort();
    const int32_t value = em::parseSigned(clean);
    if (clean[0] != u'-' && value < 0) std::abort();
    em::parseSigned(text);
    em::parseUnsigned(text);
    return 0;
}
