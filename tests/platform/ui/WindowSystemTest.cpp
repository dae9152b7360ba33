#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <thread>

#include "UiTestSupport.h"
#include "framework/MessageDispatcher.h"
#include "framework/Module.h"
#include "platform/ui/DroppedFiles.h"

namespace {

class WindowSystemTest : public ::testing::Test, public UiTest {};

TEST_F(WindowSystemTest, CreateShowResizeDestroyInPlatformOrder) {
    int marker = 0;
    const CREATESTRUCTW* seen = nullptr;
    void* seenParam = nullptr;
    constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX;
    // The smallest window whose client area is 336 x 32.
    RECT smallest{0, 0, 336, 32};
    ASSERT_TRUE(AdjustWindowRectEx(&smallest, kStyle, FALSE, 0));
    hook = [&](HWND, UINT m, WPARAM, LPARAM lp, LRESULT& r) {
        if (m == WM_CREATE) {
            seen = reinterpret_cast<const CREATESTRUCTW*>(lp);
            seenParam = seen->lpCreateParams;
        }
        if (m == WM_GETMINMAXINFO) {
            reinterpret_cast<MINMAXINFO*>(lp)->ptMinTrackSize =
                POINT{smallest.right - smallest.left, smallest.bottom - smallest.top};
            r = 0;
            return true;
        }
        return false;
    };
    HWND top = createTop(kStyle, WS_EX_ACCEPTFILES, &marker);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(seenParam, &marker);
    HWND play =
        CreateWindowExW(0, kClass, u"PlayWindow", WS_CHILD | WS_VISIBLE, 0, 0, 1, 1, top, nullptr, nullptr, nullptr);
    ASSERT_NE(play, nullptr);
    EXPECT_NE(play, top);

    // Nothing is sized before it is created; showing reports the client size, which is
    // the 400 x 300 window less its frame.
    auto first = messagesFor(top);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(std::count(first.begin(), first.end(), WM_SIZE), 0);
    EXPECT_EQ(*std::find_if(first.begin(), first.end(), [](UINT m) { return m != WM_GETMINMAXINFO; }), WM_CREATE);
    ShowWindow(top, SW_SHOW);
    RECT frame{0, 0, 0, 0};
    ASSERT_TRUE(AdjustWindowRectEx(&frame, kStyle, FALSE, 0));
    LONG clientWidth = 400 - (frame.right - frame.left);
    LONG clientHeight = 300 - (frame.bottom - frame.top);
    EXPECT_GT(clientWidth, 300);
    RECT client{};
    ASSERT_TRUE(GetClientRect(top, &client));
    EXPECT_EQ(client.right, clientWidth);
    EXPECT_EQ(client.bottom, clientHeight);
    RECT window{};
    ASSERT_TRUE(GetWindowRect(top, &window));
    EXPECT_EQ(window.right - window.left, 400);
    EXPECT_EQ(window.bottom - window.top, 300);
    auto sizeIt =
        std::find_if(log.begin(), log.end(), [&](auto& r) { return r.window == top && r.message == WM_SIZE; });
    ASSERT_NE(sizeIt, log.end());
    EXPECT_EQ(LOWORD(static_cast<uintptr_t>(sizeIt->lParam)), clientWidth);
    EXPECT_EQ(HIWORD(static_cast<uintptr_t>(sizeIt->lParam)), clientHeight);

    // The minimum tracking size holds against a smaller size; no maximise button.
    QWidget* frameWidget = system_->frameOf(top);
    ASSERT_NE(frameWidget, nullptr);
    EXPECT_EQ(system_->widgetOf(top)->window(), frameWidget);
    EXPECT_FALSE(frameWidget->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frameWidget->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(frameWidget->windowTitle(), QString("Layerdeck"));
    MoveWindow(top, 0, 0, 100, 10, TRUE);
    ASSERT_TRUE(GetClientRect(top, &client));
    EXPECT_EQ(client.right, 336);
    EXPECT_EQ(client.bottom, 32);

    // The child moves inside its parent and reports its own size.
    log.clear();
    ASSERT_TRUE(MoveWindow(play, 0, 0, 200, 150, TRUE));
    ASSERT_TRUE(GetClientRect(play, &client));
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(messagesFor(play), std::vector<UINT>{WM_SIZE});

    // The parent hears of its end before its child; both handles are dead afterwards.
    log.clear();
    ASSERT_TRUE(DestroyWindow(top));
    std::vector<UINT> destroys;
    std::vector<HWND> order;
    for (auto& r : log)
        if (r.message == WM_DESTROY) order.push_back(r.window);
    EXPECT_EQ(order, (std::vector<HWND>{top, play}));
    EXPECT_FALSE(IsWindow(top));
    EXPECT_FALSE(IsWindow(play));
    EXPECT_FALSE(PostMessageW(play, WM_APP, 0, 0));
    EXPECT_FALSE(DestroyWindow(top));
}

TEST_F(WindowSystemTest, CreateRefusedByProcedureGivesNoWindow) {
    hook = [](HWND, UINT m, WPARAM, LPARAM, LRESULT& r) {
        if (m != WM_CREATE) return false;
        r = -1;
        return true;
    };
    EXPECT_EQ(createTop(), nullptr);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().message, WM_DESTROY);
    EXPECT_FALSE(IsWindow(log.back().window));
    // Unknown classes and orphans are refused too.
    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateWindowExW(0, kClass, u"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(WindowSystemTest, PostsFromOtherThreadsArriveInOrderBeforeQuit) {
    HWND top = createTop();
    ASSERT_NE(top, nullptr);
    constexpr int kCount = 2000;
    std::vector<WPARAM> received;
    hook = [&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT& r) {
        if (m != WM_APP + 1) return false;
        received.push_back(wp);
        r = 0;
        return true;
    };
    std::thread sender([&] {
        for (int i = 0; i < kCount; ++i) PostMessageW(top, WM_APP + 1, static_cast<WPARAM>(i), 0);
        // Quit follows every message posted before it.
        PostQuitMessage(5);
    });
    EXPECT_EQ(runLoop(), 5);
    sender.join();
    ASSERT_EQ(received.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(received[static_cast<size_t>(i)], static_cast<WPARAM>(i));
    DestroyWindow(top);
}

TEST_F(WindowSystemTest, PostedMessagesReachWindowsWithoutTheLoop) {
    // A modal loop or Qt's own loop still delivers posted messages.
    HWND top = createTop();
    int got = 0;
    hook = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT&) {
        if (m == WM_APP + 2) ++got;
        return false;
    };
    std::thread([&] { PostMessageW(top, WM_APP + 2, 0, 0); }).join();
    for (int i = 0; i < 100 && got == 0; ++i) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(got, 1);
    DestroyWindow(top);
}

TEST_F(WindowSystemTest, WindowTimersRepeatUntilKilled) {
    HWND top = createTop();
    int ticks = 0;
    int afterKill = 0;
    bool killed = false;
    hook = [&](HWND w, UINT m, WPARAM wp, LPARAM, LRESULT&) {
        if (m == WM_TIMER && wp == 7) {
            if (killed) ++afterKill;
            if (++ticks == 3) {
                EXPECT_TRUE(KillTimer(w, 7));
                killed = true;
                // A second timer proves time goes on after the first was killed.
                SetTimer(w, 8, 30, nullptr);
            }
        }
        if (m == WM_TIMER && wp == 8) {
            KillTimer(w, 8);
            PostQuitMessage(0);
        }
        return false;
    };
    ASSERT_EQ(SetTimer(top, 7, 10, nullptr), 7u);
    EXPECT_EQ(runLoop(), 0);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(afterKill, 0);
    EXPECT_FALSE(KillTimer(top, 7));
    DestroyWindow(top);
}

TEST_F(WindowSystemTest, TimerProcedureRunsInsteadOfWindowProcedure) {
    static int procCalls = 0;
    procCalls = 0;
    UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT m, UINT_PTR, DWORD) {
        EXPECT_EQ(m, WM_TIMER);
        ++procCalls;
        PostQuitMessage(1);
    });
    ASSERT_NE(id, 0u);
    EXPECT_EQ(runLoop(), 1);
    EXPECT_TRUE(KillTimer(nullptr, id));
    EXPECT_GE(procCalls, 1);
}

TEST_F(WindowSystemTest, CloseGoesThroughDispatcherAndEndsLoop) {
    // The program's own arrangement: a module, its dispatcher and a handler that lets
    // WM_CLOSE fall through to the default procedure, which destroys the window.
    struct Handler : MessageHandler {
        std::vector<UINT> seen;
        LRESULT handleMessage(HWND, UINT m, WPARAM, LPARAM) override {
            seen.push_back(m);
            return 1;
        }
    } handler;
    Module module(nullptr, nullptr, nullptr, SW_SHOW);
    module.dispatcher().addHandler(&handler);
    ASSERT_TRUE(
        module.registerClass(u"LayerdeckModuleClass", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(module.createWindow(WS_EX_ACCEPTFILES, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 480));
    RECT client{};
    ASSERT_TRUE(GetClientRect(module.mainWindow(), &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    QWidget* widget = system_->widgetOf(module.mainWindow());
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->isVisible());
    widget->window()->close();
    EXPECT_EQ(runLoop(), 0);
    EXPECT_FALSE(IsWindow(module.mainWindow()));
    EXPECT_NE(std::find(handler.seen.begin(), handler.seen.end(), WM_CLOSE), handler.seen.end());
    EXPECT_NE(std::find(handler.seen.begin(), handler.seen.end(), WM_SIZE), handler.seen.end());
    module.dispatcher().removeHandler(&handler);
}

TEST_F(WindowSystemTest, DroppedFilesArriveInDropOrder) {
    HWND top = createTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE, WS_EX_ACCEPTFILES);
    HWND play = CreateWindowExW(0, kClass, u"PlayWindow", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, top, nullptr, nullptr,
                                nullptr);
    ASSERT_NE(play, nullptr);
    std::vector<std::u16string> names;
    HWND target = nullptr;
    hook = [&](HWND w, UINT m, WPARAM wp, LPARAM, LRESULT& r) {
        if (m != WM_DROPFILES) return false;
        target = w;
        auto drop = reinterpret_cast<HDROP>(wp);
        UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            std::u16string name(DragQueryFileW(drop, i, nullptr, 0) + 1, u'\0');
            name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
            names.push_back(name);
        }
        DragFinish(drop);
        PostQuitMessage(0);
        r = 0;
        return true;
    };
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/c.png"), QUrl::fromLocalFile("/tmp/a.mbc"),
                  QUrl("https://example.invalid/x"), QUrl::fromLocalFile(QString::fromUtf8("/tmp/動画.ogv"))});
    // Dropped on the video area, which does not take files: its parent does.
    QWidget* area = system_->widgetOf(play);
    EXPECT_FALSE(area->acceptDrops());
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &drop);
    EXPECT_EQ(runLoop(), 0);
    EXPECT_EQ(target, top);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"/tmp/c.png", u"/tmp/a.mbc", u"/tmp/動画.ogv"}));
    DestroyWindow(top);
}

TEST(DroppedFilesTest, QueryFollowsThePlatformContract) {
    auto* drop = new DroppedFiles({u"/a/long-name.png", u"/b"}, POINT{3, 4});
    HDROP h = drop->handle();
    EXPECT_EQ(DroppedFiles::fromHandle(h)->query(0xFFFFFFFF, nullptr, 0), 2u);
    EXPECT_EQ(drop->query(0, nullptr, 0), 16u);
    char16_t small[6];
    EXPECT_EQ(drop->query(0, small, 6), 5u);  // cut to fit, always terminated
    EXPECT_EQ(std::u16string(small), u"/a/lo");
    char16_t none[1] = {u'x'};
    EXPECT_EQ(drop->query(1, none, 1), 0u);
    EXPECT_EQ(none[0], 0);
    EXPECT_EQ(drop->query(2, small, 6), 0u);  // past the end
    EXPECT_EQ(drop->query(1, small, 0), 0u);
    delete drop;
}

TEST(WindowApiTest, WithoutWindowSystemEveryCallFails) {
    uninstallWindowApi();
    MSG msg{};
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), -1);
    EXPECT_EQ(SetTimer(nullptr, 1, 10, nullptr), 0u);
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(uintptr_t(0x10000))));
    char16_t text[4] = {u'a', u'b', 0, 0};
    EXPECT_EQ(GetWindowTextW(reinterpret_cast<HWND>(uintptr_t(0x10000)), text, 4), 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(DragQueryFileW(nullptr, 0, nullptr, 0), 0u);
}

}  // namespace
