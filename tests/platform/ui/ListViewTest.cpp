#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTableWidget>
#include <QTest>
#include <string>
#include <vector>

#include "UiTestSupport.h"

namespace {

constexpr int kList = 1011;

// One LVN_ITEMCHANGED as the parent saw it.
struct Change {
    int row;
    UINT oldState;
    UINT newState;
    UINT changed;
    LPARAM param;
    bool operator==(const Change&) const = default;
};

class ListViewTest : public ::testing::Test, public UiTest {
protected:
    void SetUp() override {
        top = createTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        ASSERT_NE(top, nullptr);
        hook = [this](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
            if (w != top || m != WM_NOTIFY) return false;
            auto* header = reinterpret_cast<const NMHDR*>(lp);
            EXPECT_EQ(header->hwndFrom, list);
            EXPECT_EQ(header->idFrom, static_cast<UINT_PTR>(kList));
            EXPECT_EQ(wp, static_cast<WPARAM>(kList));
            if (header->code == LVN_ITEMCHANGED) {
                auto* c = reinterpret_cast<const NMLISTVIEW*>(lp);
                changes.push_back({c->iItem, c->uOldState, c->uNewState, c->uChanged, c->lParam});
            } else {
                activations.push_back({header->code, reinterpret_cast<const NMITEMACTIVATE*>(lp)->iItem});
            }
            r = 0;
            return true;
        };
        list = CreateWindowExW(0, u"SysListView32", u"",
                               WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                                   LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                               0, 0, 380, 200, top, reinterpret_cast<HMENU>(static_cast<intptr_t>(kList)), nullptr,
                               nullptr);
        ASSERT_NE(list, nullptr);
        table = qobject_cast<QTableWidget*>(system_->widgetOf(list));
        ASSERT_NE(table, nullptr);
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        const char16_t* names[] = {u"ファイル名", u"描画元領域", u"音量"};
        int widths[] = {230, 110, 50};
        for (int i = 0; i < 3; ++i) {
            LVCOLUMNW column{};
            column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
            column.fmt = LVCFMT_LEFT;
            column.cx = widths[i];
            column.pszText = const_cast<LPWSTR>(names[i]);
            column.iSubItem = i;
            ASSERT_EQ(SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)),
                      i);
        }
    }
    void TearDown() override { DestroyWindow(top); }

    // Appends a row with its parameter and cells; answers its index.
    int addRow(LPARAM param, std::vector<std::u16string> cells) {
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = cells[0].data();
        item.lParam = param;
        int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        for (size_t i = 1; i < cells.size(); ++i) {
            LVITEMW cell{};
            cell.iSubItem = static_cast<int>(i);
            cell.pszText = cells[i].data();
            SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
        }
        return row;
    }

    void select(int row) {
        LVITEMW state{};
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    }

    int selected() {
        return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }

    QPoint centreOf(int row) { return table->visualRect(table->model()->index(row, 1)).center(); }

    HWND top = nullptr;
    HWND list = nullptr;
    QTableWidget* table = nullptr;
    std::vector<Change> changes;
    std::vector<std::pair<UINT, int>> activations;
};

constexpr UINT kSel = LVIS_SELECTED | LVIS_FOCUSED;

TEST_F(ListViewTest, ColumnsRowsTextsAndParameters) {
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), QString::fromUtf16(u"ファイル名"));
    EXPECT_EQ(table->columnWidth(1), 110);
    EXPECT_TRUE(table->showGrid());
    EXPECT_FALSE(table->horizontalHeader()->sectionsClickable());
    EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(addRow(11, {u"/a.mbc", u"(0,0)-(640,480)", u"100%"}), 0);
    EXPECT_EQ(addRow(22, {u"/b.png", u"(0,0)-(32,32)", u"-"}), 1);
    // Inserting before the first row moves the others down with their parameters.
    LVITEMW first{};
    first.mask = LVIF_TEXT | LVIF_PARAM;
    first.iItem = 0;
    first.pszText = const_cast<LPWSTR>(u"/c.ogv");
    first.lParam = 33;
    EXPECT_EQ(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&first)), 0);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(table->item(1, 0)->text(), QString("/a.mbc"));
    EXPECT_EQ(table->item(2, 2)->text(), QString("-"));

    // Reading back: the parameter and a cell, cut to the buffer.
    char16_t text[8];
    LVITEMW read{};
    read.mask = LVIF_TEXT | LVIF_PARAM;
    read.iItem = 2;
    read.iSubItem = 1;
    read.pszText = text;
    read.cchTextMax = 8;
    ASSERT_TRUE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read)));
    EXPECT_EQ(read.lParam, 22);
    EXPECT_EQ(std::u16string(text), u"(0,0)-(");
    // Changing the parameter, and finding a row by it.
    LVITEMW param{};
    param.mask = LVIF_PARAM;
    param.iItem = 2;
    param.lParam = 44;
    ASSERT_TRUE(SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&param)));
    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = 44;
    EXPECT_EQ(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), 2);
    find.lParam = 22;
    EXPECT_EQ(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), -1);
    // Rows that do not exist are refused.
    read.iItem = 3;
    EXPECT_FALSE(SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&read)));
    LVITEMW cell{};
    cell.iSubItem = 7;
    cell.pszText = text;
    SendMessageW(list, LVM_SETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&cell));
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_TRUE(changes.empty());
}

TEST_F(ListViewTest, SelectionByCodeTellsOldRowFirst) {
    addRow(11, {u"a"});
    addRow(22, {u"b"});
    addRow(33, {u"c"});
    select(1);
    EXPECT_EQ(changes, (std::vector<Change>{{1, 0, kSel, LVIF_STATE, 22}}));
    EXPECT_EQ(selected(), 1);

    changes.clear();
    select(2);
    // Single selection: row 1 loses its states before row 2 gains them.
    EXPECT_EQ(changes, (std::vector<Change>{{1, kSel, 0, LVIF_STATE, 22}, {2, 0, kSel, LVIF_STATE, 33}}));
    EXPECT_EQ(selected(), 2);
    EXPECT_EQ(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 2, LVIS_SELECTED), static_cast<LRESULT>(LVIS_SELECTED));

    // Taking the selection from every row.
    changes.clear();
    LVITEMW none{};
    none.stateMask = LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    EXPECT_EQ(changes, (std::vector<Change>{{2, kSel, LVIS_FOCUSED, LVIF_STATE, 33}}));
    EXPECT_EQ(selected(), -1);

    // Deleting rows tells nothing, and the focus does not move to a neighbour.
    select(1);
    changes.clear();
    ASSERT_TRUE(SendMessageW(list, LVM_DELETEITEM, 1, 0));
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(selected(), -1);
    EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), -1);
    select(1);
    changes.clear();
    ASSERT_TRUE(SendMessageW(list, LVM_DELETEALLITEMS, 0, 0));
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
    // And rows added afterwards start unselected.
    addRow(55, {u"d"});
    select(0);
    EXPECT_EQ(changes, (std::vector<Change>{{0, 0, kSel, LVIF_STATE, 55}}));
}

TEST_F(ListViewTest, SelectionByClickTellsOldRowFirstAndEmptySpaceDeselects) {
    addRow(11, {u"a", u"x"});
    addRow(22, {u"b", u"y"});
    ShowWindow(top, SW_SHOW);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(0));
    EXPECT_EQ(changes, (std::vector<Change>{{0, 0, kSel, LVIF_STATE, 11}}));
    ASSERT_FALSE(activations.empty());
    EXPECT_EQ(activations.back(), (std::pair<UINT, int>{NM_CLICK, 0}));

    changes.clear();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(1));
    EXPECT_EQ(changes, (std::vector<Change>{{0, kSel, 0, LVIF_STATE, 11}, {1, 0, kSel, LVIF_STATE, 22}}));

    // Below the last row: the selected row loses its selection and nothing gains it.
    changes.clear();
    activations.clear();
    QPoint below(centreOf(1).x(), table->viewport()->height() - 2);
    ASSERT_FALSE(table->indexAt(below).isValid());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, below);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].row, 1);
    EXPECT_EQ(changes[0].param, 22);
    EXPECT_TRUE(changes[0].oldState & LVIS_SELECTED);
    EXPECT_FALSE(changes[0].newState & LVIS_SELECTED);
    EXPECT_EQ(selected(), -1);
    EXPECT_EQ(activations, (std::vector<std::pair<UINT, int>>{{NM_CLICK, -1}}));

    activations.clear();
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centreOf(0));
    EXPECT_NE(std::find(activations.begin(), activations.end(), std::pair<UINT, int>{NM_DBLCLK, 0}), activations.end());
}

TEST_F(ListViewTest, ParentMayEmptyTheListWhileBeingTold) {
    addRow(11, {u"a"});
    addRow(22, {u"b"});
    select(0);
    // The program rebuilds its table from inside the notification, as a list editor does.
    auto inner = hook;
    int calls = 0;
    hook = [&](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
        bool handled = inner(w, m, wp, lp, r);
        if (m == WM_NOTIFY && ++calls == 1) {
            SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
            addRow(33, {u"c"});
        }
        return handled;
    };
    changes.clear();
    select(1);
    EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 1);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front(), (Change{0, kSel, 0, LVIF_STATE, 11}));
    hook = inner;  // the locals it refers to end here
}

}  // namespace
