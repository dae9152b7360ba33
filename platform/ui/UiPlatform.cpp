#include "platform/ui/UiPlatform.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

#include "platform/ui/QtWindowSystem.h"

const char16_t* const UiPlatform::kFontFamilies[] = {u"ＭＳ Ｐゴシック", u"IPAGothic", u"IPAPGothic",
                                                     u"Noto Sans CJK JP"};

UiPlatform::UiPlatform(int& argc, char** argv) {
    if (!QApplication::instance()) ownApplication_ = std::make_unique<QApplication>(argc, argv);
    QStringList families;
    for (const char16_t* family : kFontFamilies) families << QString::fromUtf16(family);
    QFont font = QApplication::font();
    font.setFamilies(families);
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
