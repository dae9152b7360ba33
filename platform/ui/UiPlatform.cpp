#include "platform/ui/UiPlatform.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

#include "platform/ui/QtWindowSystem.h"
#include "platform/ui/UiFonts.h"

const char16_t* const UiPlatform::kFontFamilies[] = {u"ＭＳ Ｐゴシック", UiFonts::kFallbackFamilies[0],
                                                     UiFonts::kFallbackFamilies[1], UiFonts::kFallbackFamilies[2]};

UiPlatform::UiPlatform(int& argc, char** argv) {
    if (!QApplication::instance()) ownApplication_ = std::make_unique<QApplication>(argc, argv);
    QFont font = QApplication::font();
    font.setFamilies(UiFonts::familiesFor(QString::fromUtf16(kFontFamilies[0])));
    font.setPixelSize(kFontPixels);
    QApplication::setFont(font);
    windowSystem_ = std::make_unique<QtWindowSystem>();
}

UiPlatform::~UiPlatform() {
    windowSystem_.reset();
    ownApplication_.reset();
}

bool UiPlatform::registerIconFile(UINT resourceId, const std::u16string& path) {
    QPixmap picture(QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size())));
    if (picture.isNull()) return false;
    windowSystem_->registerIconResource(resourceId, QIcon(picture));
    return true;
}
