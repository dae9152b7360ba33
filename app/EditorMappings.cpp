#include "app/EditorMappings.h"

#include <limits>

namespace EditorMappings {

namespace {

double fraction(int position) {
    return double(position) / double(kTrackbarMax);
}

// Doubles far outside the int range (from out-of-range stored values) would make the
// conversion undefined; they are clamped first.
int truncToInt(double v) {
    if (!(v == v)) return 0;
    if (v >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(v);
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

std::u16string percentText(int value) {
    return signedText(value) + u"%";
}

}  // namespace

uint32_t alphaFromPosition(int position) {
    return uint32_t(truncToInt(fraction(position) * 255.0)) & 0xFF;
}

uint32_t colourWithPosition(uint32_t oldColour, int position) {
    return alphaFromPosition(position) << 24 | (oldColour & 0x00FFFFFFu);
}

int positionFromAlpha(uint32_t alpha) {
    return truncToInt(double(alpha & 0xFF) / 255.0 * 2000.0);
}

int32_t volumeFromPosition(int position) {
    return truncToInt(fraction(position) * 1000.0);
}

int positionFromVolume(int32_t volume) {
    return truncToInt(double(volume) / 1000.0 * 2000.0);
}

int32_t panFromPosition(int position) {
    return -1000 - truncToInt(fraction(position) * -2000.0);
}

int positionFromPan(int32_t pan) {
    return truncToInt((double(pan) + 1000.0) / 2000.0 * 2000.0);
}

float channelFromPosition(int position) {
    return float(fraction(position));
}

int positionFromChannel(float channel) {
    return truncToInt(double(channel) * 2000.0);
}

uint32_t clearColour(float red, float green, float blue) {
    auto byte = [](float c) { return uint32_t(truncToInt(double(c) * 255.0)) & 0xFF; };
    return 0xFF000000u | byte(red) << 16 | byte(green) << 8 | byte(blue);
}

std::u16string signedText(int64_t value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string rectText(const RECT& rect) {
    return u"(" + signedText(rect.left) + u"," + signedText(rect.top) + u")-(" + signedText(rect.right) + u"," +
           signedText(rect.bottom) + u")";
}

std::u16string opacityText(uint32_t alpha) {
    return percentText(truncToInt(double(alpha & 0xFF) / 255.0 * 100.0));
}

std::u16string volumeText(int32_t volume) {
    return percentText(truncToInt(double(volume) / 1000.0 * 100.0));
}

std::u16string panText(int32_t pan) {
    if (pan == 0) return u"[C]";
    if (pan < 0) return u"L" + percentText(truncToInt(double(pan) / -1000.0 * 100.0));
    return u"R" + percentText(truncToInt(double(pan) / 1000.0 * 100.0));
}

std::u16string offsetText(int32_t offsetMs) {
    return signedText(offsetMs) + u"ms";
}

std::u16string channelText(float channel) {
    return percentText(truncToInt(double(channel) * 100.0));
}

std::u16string sanitiseNumericText(std::u16string_view text) {
    if (text.size() > kMaxFieldChars) text = text.substr(0, kMaxFieldChars);
    if (text.empty()) return u"0";
    std::u16string out;
    size_t i = 0;
    while (i < text.size() && !isDigit(text[i]) && text[i] != u'-') ++i;
    if (i < text.size() && text[i] == u'-') {
        out.push_back(u'-');
        ++i;
    }
    for (; i < text.size(); ++i)
        if (isDigit(text[i])) out.push_back(text[i]);
    if (out.empty()) return u"0";
    return out;
}

int32_t parseSigned(std::u16string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == u'-') {
        negative = true;
        ++i;
    }
    if (i >= text.size()) return 0;
    int64_t magnitude = 0;
    const int64_t limit = negative ? int64_t(1) << 31 : (int64_t(1) << 31) - 1;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i])) return 0;
        magnitude = magnitude * 10 + (text[i] - u'0');
        if (magnitude > limit) magnitude = limit;
    }
    return int32_t(negative ? -magnitude : magnitude);
}

uint32_t parseUnsigned(std::u16string_view text) {
    if (text.empty()) return 0;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (!isDigit(c)) return 0;
        value = value * 10 + uint64_t(c - u'0');
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
    }
    return uint32_t(value);
}

}  // namespace EditorMappings
