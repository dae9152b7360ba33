#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QWindow>
#include <thread>
#include <vector>

#include "UiTestSupport.h"
#include "platform/ui/NativeSurface.h"

namespace {

class SurfaceTest : public ::testing::Test, public UiTest {
protected:
    void SetUp() override {
        top = createTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        ASSERT_NE(top, nullptr);
        play = CreateWindowExW(0, kClass, u"PlayWindow", WS_CHILD | WS_VISIBLE, 0, 0, 64, 48, top, nullptr, nullptr,
                               nullptr);
        ASSERT_NE(play, nullptr);
    }
    void TearDown() override {
        if (IsWindow(top)) DestroyWindow(top);
    }

    HWND top = nullptr;
    HWND play = nullptr;
};

TEST_F(SurfaceTest, PicturesFromAnotherThreadAreShownStretched) {
    // A 2 x 2 picture, rows padded: blue on the left, red on the right (B, G, R, A).
    constexpr uint32_t kStride = 12;
    std::vector<uint8_t> pixels(kStride * 2, 0x55);
    for (int y = 0; y < 2; ++y) {
        uint8_t* row = pixels.data() + y * kStride;
        const uint8_t left[4] = {255, 0, 0, 0}, right[4] = {0, 0, 255, 0};
        std::copy(left, left + 4, row);
        std::copy(right, right + 4, row + 4);
    }
    bool shown = false;
    std::thread([&] { shown = showPicture(play, pixels.data(), 2, 2, kStride); }).join();
    EXPECT_TRUE(shown);
    QWidget* area = system_->widgetOf(play);
    // The repaint was asked for from the other thread; let it arrive.
    QCoreApplication::processEvents();
    QImage shot = area->grab().toImage();
    ASSERT_EQ(shot.size(), QSize(64, 48));
    EXPECT_EQ(QColor(shot.pixel(2, 2)), QColor(0, 0, 255));
    EXPECT_EQ(QColor(shot.pixel(61, 45)), QColor(255, 0, 0));

    // Bad pictures and windows that are not there are refused.
    EXPECT_FALSE(showPicture(play, pixels.data(), 4, 2, kStride));  // rows longer than the stride
    EXPECT_FALSE(showPicture(play, nullptr, 2, 2, kStride));
    DestroyWindow(top);
    EXPECT_FALSE(showPicture(play, pixels.data(), 2, 2, kStride));
}

TEST_F(SurfaceTest, PicturesRaceWindowDestruction) {
    std::vector<uint8_t> pixels(16 * 16 * 4, 0x80);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop.load()) showPicture(play, pixels.data(), 16, 16, 64);
    });
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    DestroyWindow(top);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    stop.store(true);
    sender.join();
    EXPECT_FALSE(IsWindow(play));
}

TEST_F(SurfaceTest, NativeWindowCoversTheAreaAndPassesInputOn) {
    static int prepared = 0;
    prepared = 0;
    QWindow* surface = nativeWindowOf(play, [](QWindow*) { ++prepared; });
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(prepared, 1);
    EXPECT_EQ(nativeWindowOf(play, [](QWindow*) { ++prepared; }), surface);
    EXPECT_EQ(prepared, 1);
    QTest::qWait(10);
    EXPECT_EQ(surface->size(), QSize(64, 48));
    MoveWindow(play, 0, 0, 80, 60, TRUE);
    QTest::qWait(10);
    EXPECT_EQ(surface->size(), QSize(80, 60));

    // A double-click on the video reaches the window's procedure.
    log.clear();
    QTest::mouseDClick(surface, Qt::LeftButton, {}, QPoint(5, 6));
    auto seen = messagesFor(play);
    EXPECT_NE(std::find(seen.begin(), seen.end(), WM_LBUTTONDBLCLK), seen.end());

    // Only class windows have one.
    HWND button = CreateWindowExW(0, u"BUTTON", u"", WS_CHILD, 0, 0, 8, 8, top, nullptr, nullptr, nullptr);
    EXPECT_EQ(nativeWindowOf(button), nullptr);
    EXPECT_EQ(nativeWindowOf(reinterpret_cast<HWND>(uintptr_t(0x1234))), nullptr);
}

}  // namespace
