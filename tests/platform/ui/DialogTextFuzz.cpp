// Arbitrary field texts through the dialog number reader, and arbitrary filter lists
// through the open-file filter parser: no crash, and the results keep their properties.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/WindowApi.h"
#include "platform/ui/QtWindowSystem.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// A window system of one dialog item whose text is the input.
std::u16string fieldText;
const HWND kItem = reinterpret_cast<HWND>(uintptr_t(0x40));

void installField() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    WindowApi api;
    api.GetDlgItem = [](HWND, int) { return kItem; };
    api.GetWindowText = [](HWND, LPWSTR buffer, int capacity) {
        size_t count = std::min<size_t>(fieldText.size(), static_cast<size_t>(capacity - 1));
        std::copy_n(fieldText.data(), count, buffer);
        buffer[count] = 0;
        return static_cast<int>(count);
    };
    installWindowApi(api);
}

// The same rule written plainly: blanks around an optionally signed run of digits.
bool reference(const std::u16string& text, bool isSigned, int64_t& value) {
    size_t i = 0, end = text.size();
    size_t nul = text.find(u'\0');
    if (nul != std::u16string::npos) end = nul;
    if (end > 63) end = 63;  // the reader looks at most at 63 characters
    while (i < end && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = isSigned && i < end && text[i] == u'-';
    if (negative) ++i;
    size_t digits = i;
    int64_t v = 0;
    while (i < end && text[i] >= u'0' && text[i] <= u'9') {
        v = v * 10 + (text[i] - u'0');
        if (v > 0xFFFFFFFFll) return false;
        ++i;
    }
    if (i == digits) return false;
    while (i < end && (text[i] == u' ' || text[i] == u'\t')) ++i;
    if (i != end) return false;
    if (isSigned && (negative ? v > 0x80000000ll : v > 0x7FFFFFFFll)) return false;
    value = negative ? -v : v;
    return true;
}

}  // namespace

// Numbers near the edges and a filter list, as starting points for the mutations.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    const std::u16string texts[] = {u" 42 ", u"-2147483648", u"4294967295",
                                    u"12a",  u"-0",          std::u16string(u"Movies\0*.mbc;*.ogv\0All\0*\0", 25)};
    for (const std::u16string& t : texts) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(t.data());
        seeds->emplace_back(bytes, bytes + t.size() * 2);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    installField();
    fieldText.assign(size / 2, u'\0');
    if (!fieldText.empty()) std::memcpy(fieldText.data(), data, fieldText.size() * 2);

    for (BOOL isSigned : {FALSE, TRUE}) {
        BOOL ok = TRUE;
        UINT got = GetDlgItemInt(kItem, 1, &ok, isSigned);
        int64_t expected = 0;
        bool parses = reference(fieldText, isSigned, expected);
        require((ok != FALSE) == parses);
        if (parses)
            require(isSigned ? static_cast<int32_t>(got) == expected : got == static_cast<uint64_t>(expected));
        else
            require(got == 0);
    }

    // The filter list ends at two NULs; give it one so that it always ends.
    std::u16string filter = fieldText;
    filter.push_back(u'\0');
    filter.push_back(u'\0');
    auto filters = QtWindowSystem::parseFilters(filter.c_str());
    for (const QString& f : filters) require(f.endsWith(QLatin1Char(')')));
    return 0;
}
