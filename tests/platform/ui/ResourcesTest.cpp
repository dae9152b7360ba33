#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>
#include <QWidget>
#include <cstdio>
#include <string>

#include "UiTestSupport.h"
#include "framework/WindowResources.h"

namespace {

TEST(WindowResourcesTest, StringsAreCutTerminatedAndOutliveReplacement) {
    registerStringResource(906, u"Layerdeck");
    char16_t buffer[6];
    EXPECT_EQ(LoadStringW(nullptr, 906, buffer, 6), 5);
    EXPECT_EQ(std::u16string(buffer), u"Layer");
    char16_t full[32];
    EXPECT_EQ(LoadStringW(nullptr, 906, full, 32), 9);
    EXPECT_EQ(std::u16string(full), u"Layerdeck");
    EXPECT_EQ(LoadStringW(nullptr, 999, full, 32), 0);
    EXPECT_EQ(full[0], 0);

    // Capacity 0 hands out the stored text itself; it stays valid when replaced.
    const char16_t* stored = nullptr;
    EXPECT_EQ(LoadStringW(nullptr, 906, reinterpret_cast<LPWSTR>(&stored), 0), 9);
    ASSERT_NE(stored, nullptr);
    registerStringResource(906, u"1.07");
    clearWindowResources();
    EXPECT_EQ(std::u16string(stored, 9), u"Layerdeck");
    EXPECT_EQ(LoadStringW(nullptr, 906, full, 32), 0);
}

class IconResourceTest : public ::testing::Test, public UiTest {
protected:
    void TearDown() override { clearWindowResources(); }
};

TEST_F(IconResourceTest, FilesLoadOnceAndReplacementLoadsAgain) {
    std::string file = testing::TempDir() + "layerdeck-icon-103.png";
    QImage picture(8, 8, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    ASSERT_TRUE(picture.save(QString::fromStdString(file)));
    QString qfile = QString::fromStdString(file);
    registerIconResourceFile(103, std::u16string(reinterpret_cast<const char16_t*>(qfile.utf16()), qfile.size()));
    auto instance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));
    HICON icon = LoadIconW(instance, 103);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, 103), icon);
    EXPECT_EQ(system_->iconOf(icon).pixmap(8, 8).toImage().pixelColor(4, 4), QColor(Qt::blue));

    registerIconResourceFile(103, u"/nonexistent/icon.png");
    EXPECT_EQ(LoadIconW(instance, 103), nullptr);
    registerIconResourceBytes(104, {1, 2, 3});
    EXPECT_EQ(LoadIconW(instance, 104), nullptr);
    std::remove(file.c_str());

    // A window's icon, as the big one and the small one.
    HWND top = createTop();
    registerIconResourceFile(103, std::u16string(reinterpret_cast<const char16_t*>(qfile.utf16()), qfile.size()));
    picture.save(qfile);
    icon = LoadIconW(instance, 103);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(SendMessageW(top, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)), 0);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageW(top, WM_GETICON, ICON_BIG, 0)), icon);
    EXPECT_EQ(SendMessageW(top, WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_FALSE(system_->frameOf(top)->windowIcon().isNull());
    std::remove(file.c_str());
    DestroyWindow(top);
}

}  // namespace
