#pragma once
// How the list editor's controls relate to the stored item and window settings, and the
// texts the editor's table shows. Every trackbar runs 0..2000; conversions truncate
// toward zero so that a value read back from a position lands on the same position.
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/Rect.h"

namespace EditorMappings {

constexpr int kTrackbarMin = 0;
constexpr int kTrackbarMax = 2000;
constexpr int kTrackbarPage = 100;
// Numeric edit fields are read up to this many characters.
constexpr size_t kMaxFieldChars = 63;

// Opacity: the top byte of the ARGB colour.
uint32_t alphaFromPosition(int position);
// The new colour: the alpha from the position, the three colour bytes kept.
uint32_t colourWithPosition(uint32_t oldColour, int position);
int positionFromAlpha(uint32_t alpha);

int32_t volumeFromPosition(int position);
int positionFromVolume(int32_t volume);

int32_t panFromPosition(int position);
int positionFromPan(int32_t pan);

float channelFromPosition(int position);
int positionFromChannel(float channel);

// The compositor's clear colour: opaque, each channel trunc(c * 255) taken to 8 bits.
uint32_t clearColour(float red, float green, float blue);

// Table and label texts.
std::u16string rectText(const RECT& rect);    // "(%d,%d)-(%d,%d)"
std::u16string opacityText(uint32_t alpha);   // "%d%%"
std::u16string volumeText(int32_t volume);    // "%d%%"
std::u16string panText(int32_t pan);          // "[C]", "L%d%%", "R%d%%"
std::u16string offsetText(int32_t offsetMs);  // "%dms"
std::u16string channelText(float channel);    // "%d%%"
inline constexpr std::u16string_view kNoValue = u"-";

// "%d" and "%u" in UTF-16.
std::u16string signedText(int64_t value);

// The numeric field rule: keeps an optional leading "-" (the first "-" or digit found
// decides) followed by every decimal digit after it; anything else goes. Empty input
// and input without digits or "-" become "0"; a lone "-" stays.
std::u16string sanitiseNumericText(std::u16string_view text);

// A signed field's value: an optional "-" then digits, clamped to the 32-bit range;
// anything that does not parse reads 0.
int32_t parseSigned(std::u16string_view text);
// An unsigned field's value (digits only); anything else reads 0; clamped to 32 bits.
uint32_t parseUnsigned(std::u16string_view text);

}  // namespace EditorMappings
