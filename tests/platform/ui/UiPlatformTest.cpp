#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPushButton>
#include <cstdio>
#include <string>

#include "platform/ui/QtWindowSystem.h"
#include "platform/ui/UiPlatform.h"

namespace {

TEST(UiPlatformTest, InstallsWindowSystemFontAndIconResources) {
    static int argc = 1;
    static char name[] = "platform-ui-test";
    static char* argv[] = {name, nullptr};
    {
        UiPlatform platform(argc, argv);
        ASSERT_NE(windowApi(), nullptr);
        QFont font = QApplication::font();
        EXPECT_EQ(font.pixelSize(), 12);
        ASSERT_FALSE(font.families().isEmpty());
        EXPECT_EQ(font.families().front(), QString::fromUtf16(u"ＭＳ Ｐゴシック"));

        std::string file = testing::TempDir() + "layerdeck-icon-102.png";
        QImage picture(32, 32, QImage::Format_ARGB32);
        picture.fill(Qt::green);
        ASSERT_TRUE(picture.save(QString::fromStdString(file)));
        QString qfile = QString::fromStdString(file);
        std::u16string path(reinterpret_cast<const char16_t*>(qfile.utf16()), static_cast<size_t>(qfile.size()));
        auto instance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));
        EXPECT_EQ(LoadIconW(instance, 102), nullptr);
        ASSERT_TRUE(platform.registerIconFile(102, path));
        HICON icon = LoadIconW(instance, 102);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(LoadIconW(instance, 102), icon);
        EXPECT_FALSE(QtWindowSystem::instance()->iconOf(icon).isNull());
        EXPECT_FALSE(platform.registerIconFile(103, u"/nonexistent/icon.png"));
        EXPECT_EQ(LoadIconW(instance, 103), nullptr);
        EXPECT_NE(LoadIconW(nullptr, IDI_APPLICATION), nullptr);
        std::remove(file.c_str());
    }
    // Gone with the platform: calls fail cleanly again.
    EXPECT_EQ(windowApi(), nullptr);
    EXPECT_EQ(LoadIconW(nullptr, IDI_APPLICATION), nullptr);
}

}  // namespace
