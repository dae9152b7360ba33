#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <cstdio>
#include <string>

#include "UiTestSupport.h"

namespace {

class ControlsTest : public ::testing::Test, public UiTest {
protected:
    void SetUp() override {
        top = createTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        ASSERT_NE(top, nullptr);
    }
    void TearDown() override { DestroyWindow(top); }

    HWND control(const char16_t* cls, const char16_t* name, DWORD style, int id, int x, int width, int height = 32) {
        return CreateWindowExW(0, cls, name, style, x, 200, width, height, top,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }

    // The notifications the parent got, as (message, wParam, lParam).
    std::vector<RecordedMessage> notifications(UINT message) const {
        std::vector<RecordedMessage> out;
        for (auto& r : log)
            if (r.window == top && r.message == message) out.push_back(r);
        return out;
    }

    HWND top = nullptr;
};

TEST_F(ControlsTest, ButtonClickSendsCommandWithIdAndHandle) {
    HWND play = control(u"BUTTON", u"PlayButton", 0x58010040, 1002, 0, 32);
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(GetDlgItem(top, 1002), play);
    auto* button = qobject_cast<QPushButton*>(system_->widgetOf(play));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isEnabled());  // created disabled, as its style says

    // A disabled button tells nobody.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(notifications(WM_COMMAND).empty());

    EXPECT_TRUE(EnableWindow(play, TRUE));  // it was disabled
    EXPECT_FALSE(EnableWindow(play, TRUE));
    EXPECT_TRUE(IsWindowEnabled(play));
    QTest::mouseClick(button, Qt::LeftButton);
    auto commands = notifications(WM_COMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(LOWORD(commands[0].wParam), 1002);
    EXPECT_EQ(HIWORD(commands[0].wParam), BN_CLICKED);
    EXPECT_EQ(reinterpret_cast<HWND>(commands[0].lParam), play);

    // Icons come from handles; the previous one is returned.
    QPixmap red(16, 16);
    red.fill(Qt::red);
    HICON first = system_->addIcon(QIcon(red));
    HICON second = system_->addIcon(QIcon(red));
    EXPECT_EQ(SendMessageW(play, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(first)), 0);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_TRUE(button->text().isEmpty());  // an icon button shows no text
    EXPECT_EQ(SendMessageW(play, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(second)),
              reinterpret_cast<LRESULT>(first));
    EXPECT_EQ(SendMessageW(play, BM_GETIMAGE, IMAGE_ICON, 0), reinterpret_cast<LRESULT>(second));

    SendMessageW(play, BM_CLICK, 0, 0);
    EXPECT_EQ(notifications(WM_COMMAND).size(), 2u);
}

TEST_F(ControlsTest, StaticShowsCentredText) {
    HWND text = control(u"STATIC", u"", 0x50000201, 0, 64, 72);
    ASSERT_NE(text, nullptr);
    auto* label = qobject_cast<QLabel*>(system_->widgetOf(text));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    // Its own background, not the black of the window beneath it.
    QImage shot = label->grab().toImage();
    EXPECT_NE(QColor(shot.pixel(1, 1)), QColor(Qt::black));
    EXPECT_NE(label->palette().color(QPalette::WindowText), QColor(shot.pixel(1, 1)));
    ASSERT_TRUE(SetWindowTextW(text, u"00:00 / 00:00"));
    EXPECT_EQ(label->text(), QString("00:00 / 00:00"));
    char16_t buffer[8];
    EXPECT_EQ(GetWindowTextW(text, buffer, 8), 7);  // cut to fit
    EXPECT_EQ(std::u16string(buffer), u"00:00 /");
}

class TrackbarTest : public ControlsTest {
protected:
    void SetUp() override {
        ControlsTest::SetUp();
        slider = control(u"msctls_trackbar32", u"TimeSeekSlider", 0x58000018, 1005, 136, 264);
        ASSERT_NE(slider, nullptr);
        widget = qobject_cast<QSlider*>(system_->widgetOf(slider));
        ASSERT_NE(widget, nullptr);
        SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 2000));
        SendMessageW(slider, TBM_SETPAGESIZE, 0, 100);
        EnableWindow(slider, TRUE);
    }

    QPoint handleCentre() {
        QStyleOptionSlider option;
        option.initFrom(widget);
        option.orientation = widget->orientation();
        option.minimum = widget->minimum();
        option.maximum = widget->maximum();
        option.sliderPosition = widget->sliderPosition();
        option.sliderValue = widget->value();
        option.pageStep = widget->pageStep();
        option.singleStep = widget->singleStep();
        option.upsideDown = widget->invertedAppearance();
        option.tickPosition = widget->tickPosition();
        return widget->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, widget).center();
    }

    std::vector<WORD> scrollCodes() const {
        std::vector<WORD> codes;
        for (auto& r : notifications(WM_HSCROLL)) {
            EXPECT_EQ(reinterpret_cast<HWND>(r.lParam), slider);
            codes.push_back(LOWORD(r.wParam));
        }
        return codes;
    }

    HWND slider = nullptr;
    QSlider* widget = nullptr;
};

TEST_F(TrackbarTest, SettingsAreSilentAndReadBack) {
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 2000);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPAGESIZE, 0, 0), 100);
    SendMessageW(slider, TBM_SETPOS, TRUE, 1500);
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 1500);
    SendMessageW(slider, TBM_SETPOS, TRUE, 5000);  // kept inside the range
    EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), 2000);
    EXPECT_TRUE(notifications(WM_HSCROLL).empty());
    EXPECT_EQ(widget->tickPosition(), QSlider::NoTicks);
}

TEST_F(TrackbarTest, DragTracksThenEndsWithPosition) {
    SendMessageW(slider, TBM_SETPOS, TRUE, 0);
    QPoint start = handleCentre();
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, start);
    for (int dx = 20; dx <= 120; dx += 20) QTest::mouseMove(widget, start + QPoint(dx, 0));
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, start + QPoint(120, 0));

    auto codes = scrollCodes();
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes.back(), TB_ENDTRACK);
    EXPECT_EQ(codes[codes.size() - 2], TB_THUMBPOSITION);
    auto all = notifications(WM_HSCROLL);
    int last = -1;
    for (size_t i = 0; i + 2 < all.size(); ++i) {
        ASSERT_EQ(LOWORD(all[i].wParam), TB_THUMBTRACK);
        int position = HIWORD(all[i].wParam);
        EXPECT_GT(position, last);  // each move to the right goes further
        last = position;
    }
    LRESULT final = SendMessageW(slider, TBM_GETPOS, 0, 0);
    EXPECT_GT(final, 0);
    EXPECT_EQ(HIWORD(all[all.size() - 2].wParam), final);
}

TEST_F(TrackbarTest, KeyboardActionsEndEachAction) {
    widget->setFocus();
    SendMessageW(slider, TBM_SETPOS, TRUE, 1000);
    // The position already moved when the end of the action is reported.
    LRESULT atEnd = -1;
    hook = [&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT&) {
        if (m == WM_HSCROLL && LOWORD(wp) == TB_ENDTRACK) atEnd = SendMessageW(slider, TBM_GETPOS, 0, 0);
        return false;
    };
    QTest::keyClick(widget, Qt::Key_End);
    EXPECT_EQ(scrollCodes(), (std::vector<WORD>{TB_BOTTOM, TB_ENDTRACK}));
    EXPECT_EQ(atEnd, 2000);
    log.clear();
    QTest::keyClick(widget, Qt::Key_Home);
    EXPECT_EQ(scrollCodes(), (std::vector<WORD>{TB_TOP, TB_ENDTRACK}));
    EXPECT_EQ(atEnd, 0);
    log.clear();
    QTest::keyClick(widget, Qt::Key_Right);
    EXPECT_EQ(scrollCodes(), (std::vector<WORD>{TB_LINEDOWN, TB_ENDTRACK}));
    EXPECT_EQ(atEnd, 1);
}

}  // namespace

namespace {

class MessageBoxTest : public ::testing::Test, public UiTest {};

TEST_F(MessageBoxTest, AnswererSeesRequestAndOnlyValidButtonsCount) {
    HWND top = createTop();
    std::vector<QtWindowSystem::MessageBoxRequest> asked;
    int reply = IDNO;
    system_->setMessageBoxAnswerer([&](const QtWindowSystem::MessageBoxRequest& r) {
        asked.push_back(r);
        return reply;
    });
    EXPECT_EQ(MessageBoxW(top, u"終了します。よろしいですか？", u"確認", MB_YESNO | MB_ICONQUESTION), IDNO);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].owner, top);
    EXPECT_EQ(asked[0].text, u"終了します。よろしいですか？");
    EXPECT_EQ(asked[0].caption, u"確認");
    EXPECT_EQ(asked[0].type, MB_YESNO | MB_ICONQUESTION);
    reply = IDYES;
    EXPECT_EQ(MessageBoxW(top, u"x", u"y", MB_YESNO), IDYES);
    // An OK box cannot be answered Yes.
    EXPECT_EQ(MessageBoxW(top, u"x", u"エラー", MB_OK | MB_ICONERROR), 0);
    reply = IDOK;
    EXPECT_EQ(MessageBoxW(nullptr, nullptr, nullptr, MB_OK), IDOK);
    EXPECT_EQ(asked.back().text, u"");
    DestroyWindow(top);
}

TEST_F(MessageBoxTest, ShownBoxHasCaptionIconButtonsAndKeepsDeliveringPosts) {
    HWND top = createTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    int posted = 0;
    hook = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT&) {
        if (m == WM_APP + 3) ++posted;
        return false;
    };
    PostMessageW(top, WM_APP + 3, 0, 0);
    // Inspect the real box once it is up, then answer with its No button.
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(MessageBoxW(top, u"終了します。よろしいですか？", u"確認", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(caption, QString::fromUtf16(u"確認"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(buttons, int(QMessageBox::Yes | QMessageBox::No));
    EXPECT_EQ(posted, 1);
    DestroyWindow(top);
}

}  // namespace

namespace {

class OpenFileTest : public ::testing::Test, public UiTest {};

constexpr char16_t kFilter[] =
    u"動画ファイル\0*.avi;*.mpg;*.wmv;*.mp4;*.ogv;*.webm;*.mbc\0画像ファイル\0*.bmp;*.png\0すべてのファイル\0*.*\0";

TEST_F(OpenFileTest, FiltersTitleAndChosenExistingFile) {
    auto filters = QtWindowSystem::parseFilters(kFilter);
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_EQ(filters[0], QString::fromUtf16(u"動画ファイル (*.avi *.mpg *.wmv *.mp4 *.ogv *.webm *.mbc)"));
    EXPECT_EQ(filters[1], QString::fromUtf16(u"画像ファイル (*.bmp *.png)"));
    EXPECT_EQ(filters[2], QString::fromUtf16(u"すべてのファイル (*.*)"));
    EXPECT_TRUE(QtWindowSystem::parseFilters(nullptr).empty());
    EXPECT_EQ(QtWindowSystem::parseFilters(u"lonely\0\0").size(), 0u);

    std::string existing = testing::TempDir() + "layerdeck-open.png";
    FILE* f = std::fopen(existing.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    std::u16string existing16(existing.begin(), existing.end());

    QtWindowSystem::OpenFileRequest seen{};
    std::u16string answer = existing16;
    system_->setOpenFileAnswerer([&](const QtWindowSystem::OpenFileRequest& r) {
        seen = r;
        return answer;
    });
    char16_t path[260] = {};
    OPENFILENAMEW request{};
    request.lStructSize = sizeof(request);
    request.lpstrFilter = kFilter;
    request.nFilterIndex = 2;
    request.lpstrFile = path;
    request.nMaxFile = 260;
    request.lpstrTitle = u"ファイルを開く";
    request.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    ASSERT_TRUE(GetOpenFileNameW(&request));
    EXPECT_EQ(std::u16string(path), existing16);
    EXPECT_EQ(seen.title, u"ファイルを開く");
    EXPECT_EQ(seen.filters.size(), 3u);
    EXPECT_EQ(seen.selectedFilter, 1);

    // Cancel, a file that is not there, and a path that does not fit all fail.
    answer.clear();
    EXPECT_FALSE(GetOpenFileNameW(&request));
    answer = u"/nonexistent/movie.mbc";
    EXPECT_FALSE(GetOpenFileNameW(&request));
    answer = existing16;
    request.nMaxFile = static_cast<DWORD>(existing16.size());  // no room for the terminator
    EXPECT_FALSE(GetOpenFileNameW(&request));
    std::remove(existing.c_str());
}

}  // namespace
