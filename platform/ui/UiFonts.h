#pragma once
// The program's fonts: the face a caller names comes first, then the Japanese gothic
// families that may be installed, so that every text has glyphs whatever the machine has.
// Font handles (HFONT) stand for QFont objects owned by the window system.
#include <QFont>
#include <QSize>
#include <QString>

#include "framework/WindowApi.h"

namespace UiFonts {

// The families tried after the named face, in order.
extern const char16_t* const kFallbackFamilies[];
extern const int kFallbackFamilyCount;

// The face first (when given), then the fallbacks.
QStringList familiesFor(const QString& face);
// The font of a LOGFONTW: |lfHeight| pixels (12 when 0), weight, italic, underline, strike-out.
QFont fromLogFont(const LOGFONTW& font);
// A dialog font of pointSize points at 96 pixels per inch, rounded as the platform does.
QFont dialogFont(const QString& face, int pointSize);
// The dialog base units of a font: the average width of the Latin letters (rounded) and
// the character height.
QSize baseUnits(const QFont& font);
// Rounded a * b / c, halves away from zero; 0 when c is 0.
int mulDiv(int a, int b, int c);

}  // namespace UiFonts
