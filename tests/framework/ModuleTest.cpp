#include <gtest/gtest.h>

#include <string>

#include "FakeWindowApi.h"
#include "framework/Module.h"

namespace {

HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(uintptr_t(0x400000));
HMENU kMenu = reinterpret_cast<HMENU>(uintptr_t(105));

TEST(Module, KeepsItsArguments) {
    std::u16string line = u"player.exe";
    Module m(kInstance, reinterpret_cast<HINSTANCE>(uintptr_t(1)), line.c_str(), SW_SHOWMINIMIZED);
    line[0] = u'X';
    EXPECT_EQ(std::u16string(m.commandLine()), u"player.exe") << "the command line is a copy";
    EXPECT_EQ(m.instance(), kInstance);
    EXPECT_EQ(m.showCommand(), SW_SHOWMINIMIZED);
    EXPECT_EQ(m.mainWindow(), nullptr);
    EXPECT_EQ(m.classAtom(), 0);

    Module none(kInstance, nullptr, nullptr, SW_SHOW);
    EXPECT_EQ(none.commandLine(), nullptr);
}

TEST(Module, RegisterClassFillsTheDefaults) {
    FakeWindowSystem ws;
    Module m(kInstance, nullptr, u"", SW_SHOW);
    ASSERT_TRUE(m.registerClass(u"Layerdeck", nullptr, std::nullopt, nullptr, nullptr, nullptr, kMenu));
    ASSERT_EQ(ws.classes.size(), 1u);
    const WNDCLASSEXW& wc = ws.classes.begin()->second.wc;
    EXPECT_EQ(wc.style, 0x000Bu);
    EXPECT_EQ(wc.lpfnWndProc, &MessageDispatcher::windowProcedure);
    EXPECT_EQ(wc.hInstance, kInstance);
    EXPECT_EQ(wc.hbrBackground, FakeWindowSystem::stockBrush(WHITE_BRUSH));
    EXPECT_EQ(wc.hIcon, LoadIconW(nullptr, IDI_APPLICATION));
    EXPECT_EQ(wc.hIconSm, wc.hIcon);
    EXPECT_EQ(wc.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(wc.lpszMenuName, nullptr);
    EXPECT_EQ(m.className(), u"Layerdeck");
    EXPECT_EQ(m.menu(), kMenu);
    EXPECT_NE(m.classAtom(), 0);

    // A second registration fails and changes nothing.
    EXPECT_FALSE(m.registerClass(u"Other", nullptr, CS_DBLCLKS, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ws.classes.size(), 1u);
    EXPECT_EQ(m.className(), u"Layerdeck");
    EXPECT_EQ(m.menu(), kMenu);
}

TEST(Module, RegisterClassTakesWhatIsGivenAndSurvivesRefusal) {
    FakeWindowSystem ws;
    Module m(kInstance, nullptr, nullptr, SW_SHOW);
    ws.refuseClasses = true;
    HBRUSH black = FakeWindowSystem::stockBrush(BLACK_BRUSH);
    HICON icon = reinterpret_cast<HICON>(uintptr_t(101));
    EXPECT_FALSE(m.registerClass(u"Layerdeck", nullptr, CS_DBLCLKS, black, icon, nullptr, kMenu));
    EXPECT_EQ(m.classAtom(), 0);
    EXPECT_EQ(m.menu(), nullptr);
    EXPECT_FALSE(m.registerClass(u"", nullptr, CS_DBLCLKS, black, icon, nullptr, kMenu));

    ws.refuseClasses = false;
    WNDPROC own = [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
    ASSERT_TRUE(m.registerClass(u"Layerdeck", own, CS_DBLCLKS, black, icon, nullptr, kMenu));
    const WNDCLASSEXW& wc = ws.classes.at(u"Layerdeck").wc;
    EXPECT_EQ(wc.style, CS_DBLCLKS);
    EXPECT_EQ(wc.lpfnWndProc, own);
    EXPECT_EQ(wc.hbrBackground, black);
    EXPECT_EQ(wc.hIcon, icon);
    EXPECT_EQ(wc.hIconSm, icon);
}

class ModuleWindow : public ::testing::Test {
protected:
    FakeWindowSystem ws;
    Module m{kInstance, nullptr, nullptr, SW_SHOWNORMAL};

    const FakeWindow& mainWindow() { return ws.windows.at(m.mainWindow()); }
};

TEST_F(ModuleWindow, CreatesShowsAndIntroducesTheDispatcher) {
    EXPECT_FALSE(m.createWindow(0, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT))
        << "no class yet";
    ASSERT_TRUE(m.registerClass(u"Layerdeck", nullptr, CS_DBLCLKS, nullptr, nullptr, nullptr, kMenu));
    ASSERT_TRUE(
        m.createWindow(WS_EX_ACCEPTFILES, 0x02CE0000, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT));
    const FakeWindow& w = mainWindow();
    EXPECT_EQ(w.title, u"Layerdeck");
    EXPECT_EQ(w.exStyle, WS_EX_ACCEPTFILES);
    EXPECT_EQ(w.style, 0x02CE0000u);
    EXPECT_EQ(w.x, CW_USEDEFAULT);
    EXPECT_EQ(w.width, CW_USEDEFAULT) << "default sizes are passed on unadjusted";
    EXPECT_EQ(w.menu, kMenu);
    EXPECT_EQ(w.instance, kInstance);
    EXPECT_EQ(w.param, &m.dispatcher());
    EXPECT_EQ(w.shownWith, SW_SHOWNORMAL);
    EXPECT_TRUE(w.updated);
    EXPECT_EQ(MessageDispatcher::knownDispatcher(), &m.dispatcher());

    HWND first = m.mainWindow();
    EXPECT_FALSE(m.createWindow(0, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10)) << "one main window";
    EXPECT_EQ(m.mainWindow(), first);
    EXPECT_EQ(ws.windows.size(), 1u);
}

TEST_F(ModuleWindow, GivenSizeIsTheClientSize) {
    ASSERT_TRUE(m.registerClass(u"Layerdeck", nullptr, std::nullopt, nullptr, nullptr, nullptr, kMenu));
    ASSERT_TRUE(m.createWindow(0, WS_OVERLAPPEDWINDOW, 100, 50, 640, 480));
    const RECT f = FakeWindowSystem::kFrame;
    const LONG top = f.top + FakeWindowSystem::kMenuHeight;
    EXPECT_EQ(mainWindow().x, 100 - f.left);
    EXPECT_EQ(mainWindow().y, 50 - top);
    EXPECT_EQ(mainWindow().width, 640 + f.left + f.right);
    EXPECT_EQ(mainWindow().height, 480 + top + f.bottom);
}

TEST_F(ModuleWindow, DefaultPositionStaysDefaultAndFramelessSizeIsExact) {
    ASSERT_TRUE(m.registerClass(u"Layerdeck", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(m.createWindow(0, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320, 240));
    EXPECT_EQ(mainWindow().x, CW_USEDEFAULT);
    EXPECT_EQ(mainWindow().y, CW_USEDEFAULT);
    EXPECT_EQ(mainWindow().height, 240 + FakeWindowSystem::kFrame.top + FakeWindowSystem::kFrame.bottom)
        << "no menu, no menu bar";

    Module popup(kInstance, nullptr, nullptr, SW_SHOW);
    ASSERT_TRUE(popup.registerClass(u"Popup", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(popup.createWindow(0, WS_POPUP, 7, 9, 320, 240));
    const FakeWindow& w = ws.windows.at(popup.mainWindow());
    EXPECT_EQ(w.x, 7);
    EXPECT_EQ(w.y, 9);
    EXPECT_EQ(w.width, 320);
    EXPECT_EQ(w.height, 240);
}

TEST_F(ModuleWindow, DestroyingAnyWindowOfTheClassEndsTheLoop) {
    ASSERT_TRUE(m.registerClass(u"Layerdeck", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(m.createWindow(0, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100));
    HWND child = CreateWindowExW(0, u"Layerdeck", u"PlayWindow", WS_CHILD, 0, 0, 10, 10, m.mainWindow(), nullptr,
                                 kInstance, nullptr);
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(DestroyWindow(child));
    EXPECT_EQ(ws.quitCodes, std::vector<int>{0});
    EXPECT_TRUE(DestroyWindow(m.mainWindow()));
    EXPECT_EQ(ws.quitCodes, (std::vector<int>{0, 0}));
}

TEST_F(ModuleWindow, RefusedCreationAndDestructionUnregisters) {
    {
        Module temporary(kInstance, nullptr, nullptr, SW_SHOW);
        ASSERT_TRUE(temporary.registerClass(u"Temporary", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
        EXPECT_FALSE(temporary.createWindow(0, WS_OVERLAPPEDWINDOW, 0x7FFFFFF0, 0, 0x7FFFFFF0, 100))
            << "a size that overflows once the frame is added";
        EXPECT_TRUE(ws.windows.empty());
        ws.refuseWindows = true;
        EXPECT_FALSE(temporary.createWindow(0, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100));
        EXPECT_EQ(temporary.mainWindow(), nullptr);
        EXPECT_EQ(ws.classes.count(u"Temporary"), 1u);
    }
    EXPECT_EQ(ws.classes.count(u"Temporary"), 0u);
}

TEST(Module, WithoutWindowSystemEverythingFails) {
    uninstallWindowApi();
    Module m(kInstance, nullptr, nullptr, SW_SHOW);
    EXPECT_FALSE(m.registerClass(u"Layerdeck", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(m.createWindow(0, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100));
}

}  // namespace
