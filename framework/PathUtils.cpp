#include "framework/PathUtils.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "framework/WideString.h"

std::optional<size_t> extensionOf(std::u16string_view path) {
    size_t nameStart = path.find_last_of(u"/\\");
    nameStart = nameStart == std::u16string_view::npos ? 0 : nameStart + 1;
    size_t dot = path.rfind(u'.');
    if (dot == std::u16string_view::npos || dot < nameStart) return std::nullopt;
    if (dot == nameStart) return std::nullopt;  // a leading dot marks a hidden name, not an extension
    return dot;
}

namespace {

std::optional<std::u16string> currentDirectory() {
    std::vector<char> buf(4096);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) return fromUtf8(buf.data());
        if (errno != ERANGE || buf.size() >= (1u << 20)) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

std::optional<std::u16string> fullPathOf(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    // An embedded NUL would silently cut the name short at the system's boundary.
    if (path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    std::u16string joined;
    if (path.front() != u'/') {
        auto cwd = currentDirectory();
        if (!cwd) return std::nullopt;
        joined = *cwd;
        joined += u'/';
    }
    joined += path;

    // Split into components and resolve "." and ".." without touching the file system;
    // ".." at the root stays at the root.
    std::vector<std::u16string_view> parts;
    std::u16string_view rest(joined);
    while (!rest.empty()) {
        size_t slash = rest.find(u'/');
        std::u16string_view part = rest.substr(0, slash);
        rest = slash == std::u16string_view::npos ? std::u16string_view{} : rest.substr(slash + 1);
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::u16string out;
    for (auto part : parts) {
        out += u'/';
        out += part;
    }
    if (out.empty()) out.push_back(u'/');
    // A trailing separator names a directory; keep it as given.
    if (path.back() == u'/' && out.back() != u'/') out += u'/';
    return out;
}

LPWSTR fullPathOf(LPCWSTR path, LPWSTR buffer, size_t size) {
    if (!path || !buffer) return nullptr;
    auto full = fullPathOf(std::u16string_view(path));
    if (!full || full->size() + 1 > size) return nullptr;
    std::memcpy(buffer, full->c_str(), (full->size() + 1) * sizeof(char16_t));
    return buffer;
}

char16_t lowerCaseUnit(char16_t c) {
    auto even = [](char16_t u) { return (u & 1) == 0; };
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 0x20) : c;
    // Latin-1: U+00C0-U+00DE except the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    // Latin Extended-A: capital/small pairs, even/odd then odd/even after U+0138.
    if (c == 0x130) return u'i';  // capital I with dot above
    if (c >= 0x100 && c <= 0x137) return even(c) ? static_cast<char16_t>(c + 1) : c;
    if (c >= 0x139 && c <= 0x148) return even(c) ? c : static_cast<char16_t>(c + 1);
    if (c >= 0x14A && c <= 0x177) return even(c) ? static_cast<char16_t>(c + 1) : c;
    if (c == 0x178) return 0xFF;
    if (c >= 0x179 && c <= 0x17E) return even(c) ? c : static_cast<char16_t>(c + 1);
    // Greek.
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
    // Cyrillic.
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return even(c) ? static_cast<char16_t>(c + 1) : c;
    if (c == 0x4C0) return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE) return even(c) ? c : static_cast<char16_t>(c + 1);
    // Full-width Latin capitals (common in Japanese file names).
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 0x20);
    return c;
}

int compareNoCase(std::u16string_view a, std::u16string_view b) {
    size_t n = a.size() > b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int ca = i < a.size() ? lowerCaseUnit(a[i]) : 0;
        int cb = i < b.size() ? lowerCaseUnit(b[i]) : 0;
        if (ca != cb) return ca - cb;
    }
    return 0;
}

int compareNoCase(LPCWSTR a, LPCWSTR b) {
    return compareNoCase(a ? std::u16string_view(a) : std::u16string_view{},
                         b ? std::u16string_view(b) : std::u16string_view{});
}
