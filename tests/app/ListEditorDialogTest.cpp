// The list editor on the Qt window system (offscreen): the table, enabling by item kind,
// selection, field edits applied to items, the offset button, the list commands posted
// to the main window, the background trackbars and the size fields.
#include <gtest/gtest.h>

#include <QApplication>
#include <vector>

#include "PlayListTestDoubles.h"
#include "app/EditorMappings.h"
#include "app/ListEditorDialog.h"
#include "app/PlayList.h"
#include "framework/WindowResources.h"
#include "platform/ui/QtWindowSystem.h"

using namespace apptest;
using namespace ListEditorIds;

namespace {

constexpr const char16_t* kMainClass = u"ListEditorTestMain";

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Posted>* postedLog = nullptr;

LRESULT mainProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m >= 0x8000 && postedLog) {
        postedLog->push_back({m, wp, lp});
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "app-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class ListEditorDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        system_ = std::make_unique<QtWindowSystem>();
        postedLog = &posted_;
        WNDCLASSEXW wc{};
        wc.lpfnWndProc = &mainProcedure;
        wc.lpszClassName = kMainClass;
        RegisterClassExW(&wc);
        main_ = CreateWindowExW(0, kMainClass, u"Layerdeck", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
        ASSERT_NE(main_, nullptr);
        compositor_ = std::make_unique<SoftwareCompositor>(64, 48, main_);
        host_.drawBase = compositor_->drawBase.get();
        host_.window = main_;
        list_ = std::make_unique<PlayList>(host_);
        registerListEditorResource();
    }
    void TearDown() override {
        if (dialog_) DestroyWindow(dialog_);
        list_.reset();
        compositor_.reset();
        DestroyWindow(main_);
        clearWindowResources();
        system_.reset();
        postedLog = nullptr;
    }

    void pump() {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    void openEditor() {
        dialog_ = CreateDialogParamW(nullptr, ListEditorDialog::kResourceId, main_, &ListEditorDialog::dialogProc,
                                     reinterpret_cast<LPARAM>(list_.get()));
        ASSERT_NE(dialog_, nullptr);
        pump();
    }

    // A prepared movie with video and audio, or a picture.
    SharedRef<PlayItem> addMovie(const std::u16string& name, uint32_t w = 320, uint32_t h = 240) {
        InterfacePtr<TestPlayer> p(new TestPlayer(true, true, w, h, 1000));
        p->addFrameSource();
        host_.directShow.add(name, p.get());
        SharedRef<PlayItem> item = list_->createItem(name, false);
        EXPECT_TRUE(item);
        list_->appendItem(item);
        item->prepare(false);
        return item;
    }
    SharedRef<PlayItem> addImage() {
        writeBmp(dir_ / "pic.bmp", 4, 2, 0xFF0000);
        SharedRef<PlayItem> item = list_->createItem(u16(dir_ / "pic.bmp"), false);
        EXPECT_TRUE(item);
        list_->appendItem(item);
        return item;
    }

    int rows() { return int(SendDlgItemMessageW(dialog_, kList, LVM_GETITEMCOUNT, 0, 0)); }
    std::u16string cell(int row, int column) {
        char16_t buffer[256] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 256;
        SendDlgItemMessageW(dialog_, kList, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
        return buffer;
    }
    int selectedRow() { return int(SendDlgItemMessageW(dialog_, kList, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)); }
    void setRowState(int row, UINT state) {
        LVITEMW item{};
        item.state = state;
        item.stateMask = LVIS_SELECTED;
        SendDlgItemMessageW(dialog_, kList, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    }
    std::u16string text(int id) {
        char16_t buffer[256] = {};
        GetDlgItemTextW(dialog_, id, buffer, 256);
        return buffer;
    }
    bool enabled(int id) { return IsWindowEnabled(GetDlgItem(dialog_, id)) != FALSE; }
    int position(int id) { return int(SendDlgItemMessageW(dialog_, id, TBM_GETPOS, 0, 0)); }
    // A trackbar moved by the user: new position, then the scroll notification.
    void moveTrackbar(int id, int to) {
        SendDlgItemMessageW(dialog_, id, TBM_SETPOS, TRUE, to);
        SendMessageW(dialog_, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
    }
    void click(int id) {
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
    }
    std::unique_ptr<QtWindowSystem> system_;
    std::vector<Posted> posted_;
    HWND main_ = nullptr;
    HWND dialog_ = nullptr;
    std::unique_ptr<SoftwareCompositor> compositor_;
    TestHost host_;
    std::unique_ptr<PlayList> list_;
    testsupport::TempDir dir_;
};

TEST_F(ListEditorDialogTest, TableShowsEveryItemAndGroupsFollowTheSelectedKind) {
    SharedRef<PlayItem> movie = addMovie(u"a.mbc");
    SharedRef<PlayItem> image = addImage();
    movie->setOffset(-250);
    movie->setPan(-500);
    list_->setBackground(1, 0.25f);
    openEditor();

    ASSERT_EQ(rows(), 2);
    EXPECT_EQ(cell(0, 0), u"a.mbc");
    EXPECT_EQ(cell(0, 1), u"(0,0)-(320,240)");
    EXPECT_EQ(cell(0, 5), u"L50%");
    EXPECT_EQ(cell(0, 6), u"-250ms");
    EXPECT_EQ(cell(1, 2), u"(0,0)-(4,2)");
    EXPECT_EQ(cell(1, 4), u"-");
    EXPECT_EQ(cell(1, 5), u"-");
    // Nothing selected yet: every item control is off.
    EXPECT_EQ(selectedRow(), -1);
    EXPECT_FALSE(enabled(kSourceLeft) || enabled(kVolume) || enabled(kOffset));
    // Window settings.
    EXPECT_EQ(text(kBackgroundLabel[1]), u"25%");
    EXPECT_EQ(position(kBackgroundTrackbar[1]), 500);
    EXPECT_EQ(text(kAreaWidth), u"640");
    EXPECT_EQ(text(kAreaHeight), u"480");

    setRowState(1, LVIS_SELECTED);
    EXPECT_EQ(ListEditorDialog::currentId(), image->id());
    EXPECT_TRUE(enabled(kDestLeft + 2) && enabled(kOpacity) && enabled(kOffsetUpdate));
    EXPECT_FALSE(enabled(kVolume) || enabled(kPan));
    EXPECT_EQ(text(kDestLeft + 2), u"4");
    EXPECT_EQ(position(kVolume), 2000);

    setRowState(0, LVIS_SELECTED);
    EXPECT_EQ(ListEditorDialog::currentId(), movie->id());
    EXPECT_TRUE(enabled(kVolume));
    EXPECT_EQ(position(kPan), 500);
    EXPECT_EQ(text(kOffset), u"-250");
    EXPECT_EQ(text(kPath), u"a.mbc");
}

TEST_F(ListEditorDialogTest, RectangleFieldsAreSanitisedAndApplied) {
    SharedRef<PlayItem> movie = addMovie(u"a.mbc");
    openEditor();
    setRowState(0, LVIS_SELECTED);
    SetDlgItemTextW(dialog_, kDestLeft, u"12a");
    EXPECT_EQ(text(kDestLeft), u"12");
    EXPECT_EQ(movie->destRect(), (RECT{12, 0, 320, 240}));
    EXPECT_EQ(cell(0, 2), u"(12,0)-(320,240)");
    SetDlgItemTextW(dialog_, kSourceLeft + 3, u"");
    EXPECT_EQ(text(kSourceLeft + 3), u"0");
    EXPECT_EQ(movie->sourceRect(), (RECT{0, 0, 320, 0}));
    // A lone minus is kept while typing and reads as 0.
    SetDlgItemTextW(dialog_, kSourceLeft, u"-");
    EXPECT_EQ(text(kSourceLeft), u"-");
    EXPECT_EQ(movie->sourceRect().left, 0);

    click(kResetSource);
    EXPECT_EQ(movie->sourceRect(), (RECT{0, 0, 320, 240}));
    EXPECT_EQ(text(kSourceLeft + 3), u"240");
    EXPECT_EQ(movie->destRect().left, 12);
}

TEST_F(ListEditorDialogTest, TrackbarsApplyAllFieldsWithoutWearingUntouchedValues) {
    SharedRef<PlayItem> movie = addMovie(u"a.mbc");
    movie->setColour(0x7F123456);
    movie->setVolume(333);
    openEditor();
    setRowState(0, LVIS_SELECTED);
    moveTrackbar(kPan, 2000);
    EXPECT_EQ(movie->pan(), 1000);
    EXPECT_EQ(movie->colour(), 0x7F123456u);
    EXPECT_EQ(movie->volume(), 333);
    EXPECT_EQ(cell(0, 5), u"R100%");
    for (int i = 0; i < 3; ++i) moveTrackbar(kVolume, position(kVolume));
    EXPECT_EQ(movie->colour(), 0x7F123456u);

    moveTrackbar(kOpacity, 1600);
    EXPECT_EQ(movie->colour(), 0xCC123456u);
    moveTrackbar(kOpacity, 0);
    EXPECT_EQ(movie->colour(), 0x00123456u);
    EXPECT_EQ(cell(0, 3), u"0%");
    moveTrackbar(kVolume, 1000);
    EXPECT_EQ(movie->volume(), 500);
}

TEST_F(ListEditorDialogTest, CommandsArePostedToTheMainWindowWithTheCurrentItem) {
    addMovie(u"a.mbc");
    SharedRef<PlayItem> second = addMovie(u"b.mbc");
    second->setOffset(1500);
    openEditor();
    click(kMoveUp);  // no current item: nothing
    click(kOffsetUpdate);
    click(kAdd);
    setRowState(1, LVIS_SELECTED);
    click(kOffsetUpdate);  // unchanged: nothing
    SetDlgItemTextW(dialog_, kOffset, u"x-20y0");
    EXPECT_EQ(text(kOffset), u"-200");
    EXPECT_EQ(second->offsetMs(), 1500);  // only the button applies it
    click(kOffsetUpdate);
    EXPECT_EQ(second->offsetMs(), -200);
    EXPECT_EQ(cell(1, 6), u"-200ms");
    click(kMoveUp);
    click(kDelete);
    click(kClear);
    click(kClose);
    pump();
    std::vector<std::pair<UINT, WPARAM>> kinds;
    for (const Posted& p : posted_) kinds.push_back({p.message, p.wParam});
    const UINT command = ListEditorDialog::kListCommandMessage;
    EXPECT_EQ(kinds, (std::vector<std::pair<UINT, WPARAM>>{{command, WPARAM(kAdd)},
                                                           {ListEditorDialog::kOffsetChangedMessage, 0},
                                                           {command, WPARAM(kMoveUp)},
                                                           {command, WPARAM(kDelete)},
                                                           {command, WPARAM(kClear)},
                                                           {ListEditorDialog::kCloseDialogMessage, 0}}));
    ASSERT_EQ(posted_.size(), 6u);
    EXPECT_EQ(posted_[0].lParam, 0);
    EXPECT_EQ(posted_[1].lParam, second->id());
    EXPECT_EQ(posted_[2].lParam, second->id());
    EXPECT_EQ(posted_[4].lParam, 0);
    EXPECT_EQ(posted_[5].lParam, reinterpret_cast<LPARAM>(dialog_));
}

TEST_F(ListEditorDialogTest, ListChangesKeepOrDropTheSelection) {
    SharedRef<PlayItem> first = addMovie(u"a.mbc");
    SharedRef<PlayItem> second = addMovie(u"b.mbc");
    openEditor();
    setRowState(1, LVIS_SELECTED);
    // What the main window does for "up": move, then list changed with the id.
    list_->moveItemUp(second->id());
    PostMessageW(dialog_, ListEditorDialog::kListChangedMessage, 0, second->id());
    pump();
    EXPECT_EQ(cell(0, 0), u"b.mbc");
    EXPECT_EQ(selectedRow(), 0);
    EXPECT_EQ(ListEditorDialog::currentId(), second->id());
    EXPECT_EQ(text(kPath), u"b.mbc");

    // Clicking empty space: the row loses its selection, the fields stay on the item.
    setRowState(0, 0);
    EXPECT_EQ(ListEditorDialog::currentId(), second->id());
    EXPECT_EQ(text(kPath), u"b.mbc");

    list_->removeItem(second->id());
    PostMessageW(dialog_, ListEditorDialog::kListChangedMessage, 0, 0);
    pump();
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(selectedRow(), -1);
    EXPECT_EQ(ListEditorDialog::currentId(), 0);
    EXPECT_EQ(text(kPath), u"");
    EXPECT_FALSE(enabled(kOpacity));
    EXPECT_EQ(text(kDestLeft), u"0");
    EXPECT_EQ(position(kOpacity), 2000);
    EXPECT_EQ(position(kPan), 1000);
}

TEST_F(ListEditorDialogTest, WindowGroupSetsBackgroundAndSizes) {
    SharedRef<PlayItem> a = addMovie(u"a.mbc", 640, 480);
    SharedRef<PlayItem> b = addMovie(u"b.mbc");
    RECT tall{100, 50, 300, 700};
    b->setDestRect(&tall);
    openEditor();
    moveTrackbar(kBackgroundTrackbar[2], 1000);
    EXPECT_FLOAT_EQ(list_->backgroundBlue(), 0.5f);
    EXPECT_EQ(text(kBackgroundLabel[2]), u"50%");
    EXPECT_EQ(list_->clearColour(), 0xFF00007Fu);

    click(kFitLargest);
    EXPECT_EQ(text(kAreaWidth), u"640");
    EXPECT_EQ(text(kAreaHeight), u"700");
    EXPECT_TRUE(host_.resizes.empty());
    click(kResizeWindow);
    ASSERT_EQ(host_.resizes.size(), 1u);
    EXPECT_EQ(host_.resizes[0], std::make_pair(640u, 700u));
    // The main window answers a resize with window size changed.
    host_.areaWidth = 336;
    PostMessageW(dialog_, ListEditorDialog::kWindowSizeChangedMessage, 0, 0);
    pump();
    EXPECT_EQ(text(kAreaWidth), u"336");
}

}  // namespace
