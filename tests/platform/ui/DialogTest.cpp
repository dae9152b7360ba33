#include <gtest/gtest.h>

#include <QBuffer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <vector>

#include "UiTestSupport.h"
#include "framework/WindowResources.h"

namespace {

constexpr UINT kDialog = 908;
constexpr UINT kSmallDialog = 909;
constexpr UINT kIcon = 901;

// The dialog procedure records everything; a hook may answer instead.
struct DialogLog {
    std::vector<RecordedMessage> messages;
    std::function<bool(HWND, UINT, WPARAM, LPARAM)> hook;
};
DialogLog* dialogLog = nullptr;

INT_PTR dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    dialogLog->messages.push_back({dialog, message, wParam, lParam});
    if (dialogLog->hook) return dialogLog->hook(dialog, message, wParam, lParam) ? TRUE : FALSE;
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

class DialogTest : public ::testing::Test, public UiTest {
protected:
    void SetUp() override {
        dialogLog = &record;
        DialogTemplate t;
        t.title = u"再生情報";
        t.cx = 480;
        t.cy = 260;
        t.fontName = u"ＭＳ Ｐゴシック";
        t.pointSize = 10;
        t.items = {
            dlg::groupBox(u"動画リスト", IDC_STATIC, 5, 5, 469, 115),
            dlg::editText(1022, 230, 137, 30, 14, ES_AUTOHSCROLL),
            dlg::editText(1047, 90, 233, 30, 14, ES_NUMBER),
            dlg::rtext(u"50%", 1041, 60, 215, 20, 10),
            dlg::control(u"", 1032, u"msctls_trackbar32", TBS_BOTH | TBS_NOTICKS | WS_DISABLED | WS_TABSTOP, 50, 160,
                         120, 15),
            dlg::control(u"", 1082, u"STATIC", SS_OWNERDRAW, 10, 10, 48, 48),
            dlg::pushButton(u"閉じる(&X)", 1001, 430, 235, 45, 20),
        };
        registerDialogResource(kDialog, t);
        // A small one for the tests that show and activate a dialog: painting small areas
        // keeps Qt's raster engine on this thread (its helper threads synchronise in ways
        // the thread sanitizer cannot see).
        t.cx = 120;
        t.cy = 60;
        t.items = {
            dlg::editText(1022, 5, 5, 30, 14, ES_AUTOHSCROLL),
            dlg::editText(1047, 40, 5, 30, 14, ES_NUMBER),
            dlg::pushButton(u"閉じる(&X)", 1001, 70, 35, 45, 20),
        };
        registerDialogResource(kSmallDialog, t);
        owner = createTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        ASSERT_NE(owner, nullptr);
    }
    void TearDown() override {
        if (IsWindow(owner)) DestroyWindow(owner);
        clearWindowResources();
        dialogLog = nullptr;
    }

    HWND open(LPARAM param = 0, UINT id = kDialog) {
        return CreateDialogParamW(nullptr, id, owner, dialogProcedure, param);
    }

    // Shows the dialog as the active window: focus and shortcuts need one.
    void activate(HWND dialog) {
        ShowWindow(dialog, SW_SHOW);
        QWidget* frame = system_->frameOf(dialog);
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    }

    std::vector<WPARAM> commands(HWND dialog) const {
        std::vector<WPARAM> out;
        for (auto& r : record.messages)
            if (r.window == dialog && r.message == WM_COMMAND) out.push_back(r.wParam);
        return out;
    }
    std::vector<WPARAM> clicks(HWND dialog) const {
        std::vector<WPARAM> out;
        for (WPARAM c : commands(dialog))
            if (HIWORD(c) == BN_CLICKED) out.push_back(c);
        return out;
    }

    // Lets posted messages arrive.
    void settle() {
        PostQuitMessage(0);
        runLoop();
    }

    DialogLog record;
    HWND owner = nullptr;
};

TEST_F(DialogTest, TemplateGivesControlsAtDialogUnitsAndInitialises) {
    HWND dialog = open(0x5eed);
    ASSERT_NE(dialog, nullptr);
    // WM_SETFONT comes first, then WM_INITDIALOG with the caller's parameter.
    ASSERT_GE(record.messages.size(), 2u);
    EXPECT_EQ(record.messages[0].message, WM_SETFONT);
    EXPECT_EQ(record.messages[1].message, WM_INITDIALOG);
    EXPECT_EQ(record.messages[1].lParam, 0x5eed);
    // The first enabled tab stop is offered the focus.
    EXPECT_EQ(reinterpret_cast<HWND>(record.messages[1].wParam), GetDlgItem(dialog, 1022));
    EXPECT_EQ(GetParent(dialog), owner);

    // The base units of the dialog font, measured here independently: the average width
    // of the Latin letters and the character height.
    QWidget* client = system_->widgetOf(dialog);
    ASSERT_NE(client, nullptr);
    QFontMetrics metrics(client->font());
    EXPECT_EQ(client->font().pixelSize(), 13);  // 10 points at 96 dots per inch
    int baseX =
        (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) /
        2;
    int baseY = metrics.height();
    auto mapX = [&](int v) { return (v * baseX + 2) / 4; };
    auto mapY = [&](int v) { return (v * baseY + 4) / 8; };

    RECT units{230, 137, 260, 151};
    ASSERT_TRUE(MapDialogRect(dialog, &units));
    EXPECT_EQ(units.left, mapX(230));
    EXPECT_EQ(units.bottom, mapY(151));
    QWidget* edit = system_->widgetOf(GetDlgItem(dialog, 1022));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->geometry(), QRect(QPoint(mapX(230), mapY(137)), QPoint(mapX(260) - 1, mapY(151) - 1)));
    RECT client480{};
    GetClientRect(dialog, &client480);
    EXPECT_EQ(client480.right, mapX(480));
    EXPECT_EQ(client480.bottom, mapY(260));

    // Every control is reachable by its id, with its kind and state.
    EXPECT_TRUE(qobject_cast<QGroupBox*>(system_->widgetOf(GetDlgItem(dialog, IDC_STATIC))));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1032)));
    EXPECT_EQ(GetDlgItem(dialog, 9999), nullptr);
    char16_t text[16];
    EXPECT_EQ(GetDlgItemTextW(dialog, 1041, text, 16), 3u);
    EXPECT_EQ(std::u16string(text), u"50%");
    EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dialog, 1047), GWLP_ID), 1047);
    EXPECT_NE(GetWindowLongPtrW(GetDlgItem(dialog, 1047), GWL_STYLE) & ES_NUMBER, 0);

    // Not shown until asked (the template has no WS_VISIBLE).
    EXPECT_FALSE(IsWindowVisible(dialog));
    ShowWindow(dialog, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(system_->frameOf(dialog)->windowTitle(), QString::fromUtf16(u"再生情報"));

    // Destroying the owner takes the dialog first.
    record.messages.clear();
    log.clear();
    ASSERT_TRUE(DestroyWindow(owner));
    EXPECT_FALSE(IsWindow(dialog));
    ASSERT_FALSE(record.messages.empty());
    EXPECT_EQ(record.messages.front().message, WM_DESTROY);
    EXPECT_EQ(log.front().message, WM_DESTROY);
}

TEST_F(DialogTest, EditsAnnounceChangesAndNumberFieldsTakeDigitsOnly) {
    HWND dialog = open(0, kSmallDialog);
    ASSERT_NE(dialog, nullptr);
    activate(dialog);
    auto* rect = qobject_cast<QLineEdit*>(system_->widgetOf(GetDlgItem(dialog, 1022)));
    auto* size = qobject_cast<QLineEdit*>(system_->widgetOf(GetDlgItem(dialog, 1047)));
    ASSERT_TRUE(rect && size);

    // Typed text and text set by the program both announce EN_CHANGE.
    record.messages.clear();
    rect->setFocus();
    QTest::keyClicks(rect, "12a");
    EXPECT_EQ(commands(dialog), (std::vector<WPARAM>(3, MAKEWPARAM(1022, EN_CHANGE))));
    char16_t text[32];
    GetDlgItemTextW(dialog, 1022, text, 32);
    EXPECT_EQ(std::u16string(text), u"12a");
    BOOL ok = TRUE;
    EXPECT_EQ(GetDlgItemInt(dialog, 1022, &ok, TRUE), 0u);
    EXPECT_FALSE(ok);
    record.messages.clear();
    ASSERT_TRUE(SetDlgItemInt(dialog, 1022, static_cast<UINT>(-42), TRUE));
    EXPECT_EQ(commands(dialog), std::vector<WPARAM>{MAKEWPARAM(1022, EN_CHANGE)});
    EXPECT_EQ(static_cast<int>(GetDlgItemInt(dialog, 1022, &ok, TRUE)), -42);
    EXPECT_TRUE(ok);
    EXPECT_EQ(GetDlgItemInt(dialog, 1022, &ok, FALSE), 0u);  // unsigned refuses the sign
    EXPECT_FALSE(ok);
    SetDlgItemTextW(dialog, 1022, u" 4294967295 ");
    EXPECT_EQ(GetDlgItemInt(dialog, 1022, &ok, FALSE), 4294967295u);
    EXPECT_TRUE(ok);
    SetDlgItemTextW(dialog, 1022, u"4294967296");
    EXPECT_EQ(GetDlgItemInt(dialog, 1022, &ok, FALSE), 0u);
    EXPECT_FALSE(ok);
    SetDlgItemTextW(dialog, 1022, u"-2147483649");
    EXPECT_EQ(GetDlgItemInt(dialog, 1022, &ok, TRUE), 0u);
    EXPECT_FALSE(ok);

    // Leaving the field is announced.
    record.messages.clear();
    size->setFocus();
    auto seen = commands(dialog);
    EXPECT_NE(std::find(seen.begin(), seen.end(), MAKEWPARAM(1022, EN_KILLFOCUS)), seen.end());

    // The digits-only field drops letters as they are typed.
    QTest::keyClicks(size, "6a4x0");
    GetDlgItemTextW(dialog, 1047, text, 32);
    EXPECT_EQ(std::u16string(text), u"640");
    EXPECT_EQ(GetDlgItemInt(dialog, 1047, &ok, FALSE), 640u);

    // WM_GETTEXT reads what was typed; a small buffer gets a cut, terminated copy.
    char16_t small[3];
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1047, WM_GETTEXT, 3, reinterpret_cast<LPARAM>(small)), 2);
    EXPECT_EQ(std::u16string(small), u"64");
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1047, WM_GETTEXTLENGTH, 0, 0), 3);
    DestroyWindow(dialog);
}

TEST_F(DialogTest, KeyboardAndCloseBoxBecomeCommands) {
    HWND dialog = open(0, kSmallDialog);
    ASSERT_NE(dialog, nullptr);
    activate(dialog);
    QWidget* frame = system_->frameOf(dialog);
    ASSERT_NE(frame, nullptr);

    record.messages.clear();
    QTest::keyClick(system_->widgetOf(GetDlgItem(dialog, 1022)), Qt::Key_Escape);
    EXPECT_EQ(clicks(dialog), std::vector<WPARAM>{MAKEWPARAM(IDCANCEL, BN_CLICKED)});

    // Enter on a focused push button presses it.
    record.messages.clear();
    QWidget* close = system_->widgetOf(GetDlgItem(dialog, 1001));
    close->setFocus();
    QTest::keyClick(close, Qt::Key_Return);
    EXPECT_EQ(clicks(dialog), std::vector<WPARAM>{MAKEWPARAM(1001, BN_CLICKED)});
    // Alt and the mnemonic press it as well.
    record.messages.clear();
    QTest::keyClick(frame->windowHandle(), Qt::Key_X, Qt::AltModifier);
    // A shortcut presses the button visibly: the click comes a moment later.
    for (int i = 0; i < 100 && clicks(dialog).empty(); ++i) QTest::qWait(10);
    EXPECT_EQ(clicks(dialog), std::vector<WPARAM>{MAKEWPARAM(1001, BN_CLICKED)});

    // The close box asks the procedure; unhandled, it becomes a cancel command and the
    // dialog stays.
    record.messages.clear();
    frame->close();
    settle();
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(clicks(dialog), std::vector<WPARAM>{MAKEWPARAM(IDCANCEL, BN_CLICKED)});
    DestroyWindow(dialog);
}

TEST_F(DialogTest, OwnerDrawnStaticPaintsTheIconStretched) {
    // A 4 x 4 red picture, registered as bytes.
    QImage red(4, 4, QImage::Format_ARGB32);
    red.fill(QColor(255, 0, 0));
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(red.save(&buffer, "PNG"));
    }
    registerIconResourceBytes(kIcon, std::vector<uint8_t>(png.begin(), png.end()));
    HICON icon = LoadIconW(nullptr, kIcon);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, kIcon), icon);

    record.hook = [&](HWND, UINT m, WPARAM, LPARAM lp) {
        if (m != WM_DRAWITEM) return false;
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        EXPECT_EQ(item->CtlType, ODT_STATIC);
        EXPECT_EQ(item->CtlID, 1082u);
        DrawIconEx(item->hDC, 0, 0, icon, item->rcItem.right, item->rcItem.bottom, 0, nullptr, DI_IMAGE);
        return true;
    };
    HWND dialog = open();
    ASSERT_NE(dialog, nullptr);
    QWidget* picture = system_->widgetOf(GetDlgItem(dialog, 1082));
    ASSERT_NE(picture, nullptr);
    QImage shot = picture->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // Stretched over the whole control, corners included.
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shot.pixel(shot.width() - 1, shot.height() - 1)), QColor(255, 0, 0));
    auto draws =
        std::count_if(record.messages.begin(), record.messages.end(), [](auto& r) { return r.message == WM_DRAWITEM; });
    EXPECT_GE(draws, 1);
    // A device context is good only while its paint lasts.
    EXPECT_FALSE(DrawIconEx(reinterpret_cast<HDC>(picture), 0, 0, icon, 4, 4, 0, nullptr, DI_NORMAL));
    DestroyWindow(dialog);
}

TEST_F(DialogTest, UnknownTemplatesAndControlsFailCleanly) {
    EXPECT_EQ(CreateDialogParamW(nullptr, 4711, owner, dialogProcedure, 0), nullptr);
    DialogTemplate bad;
    bad.cx = 10;
    bad.cy = 10;
    bad.items = {dlg::control(u"", 1, u"NoSuchControl", 0, 0, 0, 5, 5)};
    registerDialogResource(kDialog + 2, bad);
    EXPECT_EQ(CreateDialogParamW(nullptr, kDialog + 2, owner, dialogProcedure, 0), nullptr);
    EXPECT_TRUE(record.messages.empty());
}

TEST_F(DialogTest, FontsResolveToJapaneseCapableFamily) {
    HFONT font = CreateFontW(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"ＭＳ Ｐゴシック");
    ASSERT_NE(font, nullptr);
    const QFont* q = system_->fontOf(font);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->pixelSize(), 12);
    EXPECT_EQ(q->families().front(), QString::fromUtf16(u"ＭＳ Ｐゴシック"));
    QString family = QFontInfo(*q).family();
    EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese)) << family.toStdString();
    QFontMetrics metrics(*q);
    EXPECT_TRUE(metrics.inFontUcs4(U'再'));

    // WM_SETFONT reaches the widget; the handle can go while the widget keeps the font.
    HWND text = CreateWindowExW(0, u"STATIC", u"00:00 / 00:00", WS_CHILD | WS_VISIBLE, 0, 0, 72, 32, owner, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(text, nullptr);
    SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(system_->widgetOf(text)->font().pixelSize(), 12);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(SendMessageW(text, WM_GETFONT, 0, 0), 0);
    EXPECT_EQ(system_->widgetOf(text)->font().pixelSize(), 12);
}

}  // namespace
