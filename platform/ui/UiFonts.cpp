#include "platform/ui/UiFonts.h"

#include <QFontMetrics>
#include <QStringList>
#include <cstdlib>

namespace UiFonts {

// The program asks for a proportional gothic; its closest installed twin comes first.
const char16_t* const kFallbackFamilies[] = {u"IPAPGothic", u"IPAGothic", u"Noto Sans CJK JP"};
const int kFallbackFamilyCount = 3;

QStringList familiesFor(const QString& face) {
    QStringList families;
    if (!face.isEmpty()) families << face;
    for (int i = 0; i < kFallbackFamilyCount; ++i) {
        QString family = QString::fromUtf16(kFallbackFamilies[i]);
        if (!families.contains(family)) families << family;
    }
    return families;
}

QFont fromLogFont(const LOGFONTW& font) {
    size_t length = 0;
    while (length < LF_FACESIZE && font.lfFaceName[length]) ++length;
    QFont q;
    q.setFamilies(familiesFor(QString::fromUtf16(font.lfFaceName, static_cast<qsizetype>(length))));
    int pixels = std::abs(font.lfHeight);
    q.setPixelSize(pixels > 0 ? pixels : 12);
    // The weights share the scale 100-900; anything else is the normal weight.
    int weight = font.lfWeight >= 100 && font.lfWeight <= 900 ? font.lfWeight : FW_NORMAL;
    q.setWeight(static_cast<QFont::Weight>(weight));
    q.setItalic(font.lfItalic != 0);
    q.setUnderline(font.lfUnderline != 0);
    q.setStrikeOut(font.lfStrikeOut != 0);
    return q;
}

QFont dialogFont(const QString& face, int pointSize) {
    QFont q;
    q.setFamilies(familiesFor(face));
    int pixels = mulDiv(pointSize > 0 ? pointSize : 9, 96, 72);
    q.setPixelSize(pixels > 0 ? pixels : 12);
    return q;
}

QSize baseUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    int average = (width / 26 + 1) / 2;
    return QSize(std::max(average, 1), std::max(metrics.height(), 1));
}

int mulDiv(int a, int b, int c) {
    if (c == 0) return 0;
    long long product = static_cast<long long>(a) * b;
    long long half = std::llabs(static_cast<long long>(c)) / 2;
    bool negative = (product < 0) != (c < 0);
    long long magnitude = (std::llabs(product) + half) / std::llabs(static_cast<long long>(c));
    return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace UiFonts
