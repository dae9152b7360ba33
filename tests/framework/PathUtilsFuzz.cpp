// Arbitrary UTF-16 names through the path helpers: no crash, and the results keep
// their stated properties.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/PathUtils.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);

    if (auto dot = extensionOf(text)) {
        require(*dot < text.size() && text[*dot] == u'.');
        require(text.find_first_of(u"/\\", *dot) == std::u16string::npos);
        require(*dot > 0 && text[*dot - 1] != u'/' && text[*dot - 1] != u'\\');
    }

    if (auto full = fullPathOf(text)) {
        require(!full->empty() && full->front() == u'/');
        require(full->find(u"//") == std::u16string::npos);
        std::u16string padded = *full + u'/';
        require(padded.find(u"/./") == std::u16string::npos && padded.find(u"/../") == std::u16string::npos);
        require(fullPathOf(*full) == full);  // already normal
        std::u16string buffer(full->size() + 1, u'#');
        require(fullPathOf(text.c_str(), buffer.data(), buffer.size()) == buffer.data() && buffer == *full + u'\0');
    }

    size_t half = text.size() / 2;
    std::u16string_view a(text.data(), half), b(text.data() + half, text.size() - half);
    require(compareNoCase(a, a) == 0);
    require(sign(compareNoCase(a, b)) == -sign(compareNoCase(b, a)));
    std::u16string lowered(a);
    for (auto& c : lowered) c = lowerCaseUnit(c);
    require(compareNoCase(a, lowered) == 0);
    return 0;
}
