#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "UiTestSupport.h"
#include "framework/WindowResources.h"

namespace {

constexpr UINT kMenu = 905;
constexpr DWORD kStyle = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX;

class MenuTest : public ::testing::Test, public UiTest {
protected:
    void SetUp() override {
        registerMenuResource(kMenu, MenuTemplate{{
                                        menuPopup(u"ファイル(&F)", {menuItem(u"新規(&N)", 40001), menuSeparator(),
                                                                    menuItem(u"終了(&X)", 40005)}),
                                        menuPopup(u"操作(&O)", {menuItem(u"再生(&P)", 40006, MF_GRAYED),
                                                                menuItem(u"ループ(&L)", 40009, MF_CHECKED)}),
                                    }});
        menu = LoadMenuW(nullptr, kMenu);
        ASSERT_NE(menu, nullptr);
        top = CreateWindowExW(0, kClass, u"Layerdeck", kStyle, 10, 10, 500, 400, nullptr, menu, nullptr, nullptr);
        ASSERT_NE(top, nullptr);
    }
    void TearDown() override {
        DestroyWindow(top);
        clearWindowResources();
    }

    // The action of an item, found by its text in the bar's pop-ups.
    QAction* action(const QString& text) {
        QMenuBar* bar = system_->menuBarOf(top);
        if (!bar) return nullptr;
        for (QAction* popup : bar->actions())
            if (popup->menu())
                for (QAction* a : popup->menu()->actions())
                    if (a->text() == text) return a;
        return nullptr;
    }

    // The id of the WM_COMMAND posted so far (it comes before the marker posted now), or 0.
    UINT nextCommand() {
        UINT id = 0;
        hook = [&](HWND w, UINT m, WPARAM wp, LPARAM, LRESULT& r) {
            if (w != top || (m != WM_COMMAND && m != WM_APP)) return false;
            if (m == WM_COMMAND) id = LOWORD(wp);
            if (m == WM_APP) PostQuitMessage(0);
            r = 0;
            return true;
        };
        PostMessageW(top, WM_APP, 0, 0);
        runLoop();
        hook = nullptr;
        return id;
    }

    HMENU menu = nullptr;
    HWND top = nullptr;
};

TEST_F(MenuTest, TemplateBuildsBarWithMnemonicsSeparatorsAndStates) {
    EXPECT_EQ(GetMenu(top), menu);
    QMenuBar* bar = system_->menuBarOf(top);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text(), QString::fromUtf16(u"ファイル(&F)"));
    QMenu* file = bar->actions()[0]->menu();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->actions().size(), 3);
    EXPECT_TRUE(file->actions()[1]->isSeparator());

    QAction* play = action(QString::fromUtf16(u"再生(&P)"));
    QAction* loop = action(QString::fromUtf16(u"ループ(&L)"));
    ASSERT_TRUE(play && loop);
    EXPECT_FALSE(play->isEnabled());
    EXPECT_TRUE(loop->isChecked());
    EXPECT_EQ(GetMenuState(menu, 40006, MF_BYCOMMAND), MF_GRAYED);
    EXPECT_EQ(GetMenuState(menu, 40009, MF_BYCOMMAND), MF_CHECKED);

    // States change at run time and answer the previous state.
    EXPECT_EQ(EnableMenuItem(menu, 40006, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
    EXPECT_TRUE(play->isEnabled());
    EXPECT_EQ(CheckMenuItem(menu, 40009, MF_BYCOMMAND | MF_UNCHECKED), MF_CHECKED);
    EXPECT_FALSE(loop->isChecked());
    EXPECT_EQ(CheckMenuItem(menu, 40006, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
    EXPECT_TRUE(play->isChecked());
    EXPECT_TRUE(DrawMenuBar(top));

    // Pop-ups and positions.
    HMENU operate = GetSubMenu(menu, 1);
    ASSERT_NE(operate, nullptr);
    EXPECT_EQ(GetSubMenu(menu, 2), nullptr);
    EXPECT_EQ(EnableMenuItem(operate, 0, MF_BYPOSITION | MF_GRAYED), MF_ENABLED);
    EXPECT_FALSE(play->isEnabled());
    EXPECT_EQ(EnableMenuItem(menu, 49999, MF_BYCOMMAND | MF_GRAYED), static_cast<DWORD>(-1));
    EXPECT_EQ(CheckMenuItem(operate, 7, MF_BYPOSITION | MF_CHECKED), static_cast<DWORD>(-1));
    // A menu on a window belongs to it.
    EXPECT_FALSE(DestroyMenu(menu));
}

TEST_F(MenuTest, ChoosingAnItemPostsItsIdAndLeavesTheCheckToTheProgram) {
    QAction* quit = action(QString::fromUtf16(u"終了(&X)"));
    ASSERT_NE(quit, nullptr);
    quit->trigger();
    EXPECT_EQ(nextCommand(), 40005u);

    // A ticked item stays ticked until the program says otherwise.
    QAction* loop = action(QString::fromUtf16(u"ループ(&L)"));
    ASSERT_NE(loop, nullptr);
    loop->trigger();
    EXPECT_TRUE(loop->isChecked());
    EXPECT_EQ(nextCommand(), 40009u);
    EXPECT_EQ(GetMenuState(menu, 40009, MF_BYCOMMAND), MF_CHECKED);

    // A greyed item cannot be chosen.
    QAction* play = action(QString::fromUtf16(u"再生(&P)"));
    ASSERT_NE(play, nullptr);
    play->trigger();
    EXPECT_EQ(nextCommand(), 0u);
}

TEST_F(MenuTest, AdjustedSizeGivesExactClientAreaUnderTheMenuBar) {
    ShowWindow(top, SW_SHOW);
    RECT wanted{0, 0, 640, 512};
    ASSERT_TRUE(AdjustWindowRectEx(&wanted, kStyle, TRUE, 0));
    // The frame and caption on every side, and the menu bar on top.
    EXPECT_LT(wanted.left, 0);
    EXPECT_LT(wanted.top, wanted.left - GetSystemMetrics(SM_CYCAPTION) + 1);
    RECT noMenu{0, 0, 640, 512};
    AdjustWindowRectEx(&noMenu, kStyle, FALSE, 0);
    EXPECT_EQ(noMenu.top - wanted.top, GetSystemMetrics(SM_CYMENU));

    ASSERT_TRUE(SetWindowPos(top, nullptr, 0, 0, wanted.right - wanted.left, wanted.bottom - wanted.top,
                             SWP_NOMOVE | SWP_NOZORDER));
    RECT client{};
    ASSERT_TRUE(GetClientRect(top, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 512);
    // The client area starts below the bar.
    EXPECT_EQ(system_->widgetOf(top)->y(), GetSystemMetrics(SM_CYMENU));

    // Taking the menu away gives its height to the client area, the window keeps its size.
    ASSERT_TRUE(SetMenu(top, nullptr));
    ASSERT_TRUE(GetClientRect(top, &client));
    EXPECT_EQ(client.bottom, 512 + GetSystemMetrics(SM_CYMENU));
    EXPECT_EQ(GetMenu(top), nullptr);
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_EQ(LoadMenuW(nullptr, 4242), nullptr);
}

TEST_F(MenuTest, MinimumTrackingSizeIsAWindowSize) {
    DestroyWindow(top);
    hook = [](HWND, UINT m, WPARAM, LPARAM lp, LRESULT& r) {
        if (m != WM_GETMINMAXINFO) return false;
        RECT smallest{0, 0, 336, 32};
        AdjustWindowRectEx(&smallest, kStyle, TRUE, 0);
        reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize =
            POINT{smallest.right - smallest.left, smallest.bottom - smallest.top};
        r = 0;
        return true;
    };
    menu = LoadMenuW(nullptr, kMenu);
    top =
        CreateWindowExW(0, kClass, u"Layerdeck", kStyle | WS_VISIBLE, 0, 0, 800, 600, nullptr, menu, nullptr, nullptr);
    ASSERT_NE(top, nullptr);
    MoveWindow(top, 0, 0, 50, 50, TRUE);
    RECT client{};
    ASSERT_TRUE(GetClientRect(top, &client));
    EXPECT_EQ(client.right, 336);
    EXPECT_EQ(client.bottom, 32);
    // A user's resize meets the same limit.
    QWidget* frame = system_->frameOf(top);
    ASSERT_NE(frame, nullptr);
    frame->resize(10, 10);
    ASSERT_TRUE(GetClientRect(top, &client));
    EXPECT_EQ(client.right, 336);
    EXPECT_EQ(client.bottom, 32);
}

}  // namespace
