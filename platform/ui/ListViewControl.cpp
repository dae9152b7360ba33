#include "platform/ui/ListViewControl.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <algorithm>
#include <memory>

namespace {

constexpr UINT kTrackedStates = LVIS_SELECTED | LVIS_FOCUSED;
constexpr UINT LVFI_STRING = 0x0002;
constexpr UINT LVFI_PARTIAL = 0x0008;

QString fromText(LPCWSTR text) {
    return text ? QString::fromUtf16(text) : QString();
}

Qt::Alignment alignmentOf(int format) {
    switch (format & 3) {
        case LVCFMT_RIGHT:
            return Qt::AlignRight | Qt::AlignVCenter;
        case LVCFMT_CENTER:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

}  // namespace

// The table widget. User input is handled as one step: the states it changes are told
// together when the step is over, not one Qt signal at a time.
class ListViewControl::Table : public QTableWidget {
public:
    Table(QWidget* parent, std::shared_ptr<ListViewControl*> owner) : QTableWidget(parent), owner_(std::move(owner)) {}

protected:
    void mousePressEvent(QMouseEvent* e) override {
        step([&] {
            // A click on no row takes the selection away, as the platform's list does.
            if (!indexAt(e->position().toPoint()).isValid()) clearSelection();
            QTableWidget::mousePressEvent(e);
        });
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QTableWidget::mouseReleaseEvent(e);
        if (e->button() == Qt::LeftButton && *owner_)
            (*owner_)->notifyActivate(NM_CLICK, indexAt(e->position().toPoint()).row());
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        step([&] { QTableWidget::mouseDoubleClickEvent(e); });
        if (e->button() == Qt::LeftButton && *owner_)
            (*owner_)->notifyActivate(NM_DBLCLK, indexAt(e->position().toPoint()).row());
    }
    void keyPressEvent(QKeyEvent* e) override {
        step([&] { QTableWidget::keyPressEvent(e); });
    }
    void focusInEvent(QFocusEvent* e) override {
        step([&] { QTableWidget::focusInEvent(e); });
    }

private:
    template <class F>
    void step(F&& work) {
        if (*owner_) ++(*owner_)->quiet_;
        work();
        if (!*owner_) return;
        --(*owner_)->quiet_;
        (*owner_)->syncStates(true);
    }

    std::shared_ptr<ListViewControl*> owner_;
};

ListViewControl::ListViewControl(DWORD style, QWidget* parent, const ControlContext& context)
    : context_(context), style_(style), self_(std::make_shared<ListViewControl*>(this)) {
    table_ = new Table(parent, self_);
    // A placeholder column holds the rows' first cells until the program adds columns.
    table_->setColumnCount(1);
    table_->setHorizontalHeaderItem(0, new QTableWidgetItem(QString()));
    columnAlignment_.push_back(LVCFMT_LEFT);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setSectionsClickable((style & LVS_NOSORTHEADER) == 0);
    table_->horizontalHeader()->setHighlightSections(false);
    table_->horizontalHeader()->setStretchLastSection(false);
    table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table_->setSortingEnabled(false);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode((style & LVS_SINGLESEL) ? QAbstractItemView::SingleSelection
                                                     : QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setFrameShape((style & WS_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
    table_->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);

    auto owner = self_;
    auto changed = [owner] {
        if (*owner && (*owner)->quiet_ == 0) (*owner)->syncStates(true);
    };
    QObject::connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, table_, changed);
    QObject::connect(table_->selectionModel(), &QItemSelectionModel::currentChanged, table_, changed);
}

ListViewControl::~ListViewControl() {
    *self_ = nullptr;
}

QWidget* ListViewControl::widget() const {
    return table_;
}

int ListViewControl::rowCount() const {
    return table_->rowCount();
}

UINT ListViewControl::stateOf(int row) const {
    UINT state = 0;
    if (table_->selectionModel()->isRowSelected(row, QModelIndex())) state |= LVIS_SELECTED;
    QModelIndex current = table_->selectionModel()->currentIndex();
    if (current.isValid() && current.row() == row) state |= LVIS_FOCUSED;
    return state;
}

LPARAM ListViewControl::paramOf(int row) const {
    QTableWidgetItem* item = table_->item(row, 0);
    return item ? static_cast<LPARAM>(item->data(Qt::UserRole).toLongLong()) : 0;
}

void ListViewControl::setCell(int row, int column, const QString& text) {
    if (!validRow(row) || column < 0 || column >= table_->columnCount()) return;
    QTableWidgetItem* item = table_->item(row, column);
    if (!item) return;
    item->setText(text);
}

QString ListViewControl::cellText(int row, int column) const {
    if (!validRow(row) || column < 0 || column >= table_->columnCount()) return QString();
    QTableWidgetItem* item = table_->item(row, column);
    return item ? item->text() : QString();
}

void ListViewControl::applyState(int row, UINT state, UINT mask) {
    QItemSelectionModel* selection = table_->selectionModel();
    QModelIndex index = table_->model()->index(row, 0);
    if (mask & LVIS_SELECTED) {
        if (state & LVIS_SELECTED) {
            // One selected row at most in a single-selection list.
            auto command = (style_ & LVS_SINGLESEL) ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select;
            selection->select(index, command | QItemSelectionModel::Rows);
        } else {
            selection->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
    }
    if (mask & LVIS_FOCUSED) {
        if (state & LVIS_FOCUSED)
            selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        else if (selection->currentIndex().row() == row)
            selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
}

LRESULT ListViewControl::insertColumn(int index, const LVCOLUMNW& column) {
    int at;
    if (placeholderColumn_) {
        placeholderColumn_ = false;
        at = 0;
    } else {
        at = std::clamp(index, 0, table_->columnCount());
        table_->insertColumn(at);
        columnAlignment_.insert(columnAlignment_.begin() + at, LVCFMT_LEFT);
        for (int row = 0; row < rowCount(); ++row) {
            auto* cell = new QTableWidgetItem();
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            table_->setItem(row, at, cell);
        }
    }
    auto* header = new QTableWidgetItem((column.mask & LVCF_TEXT) ? fromText(column.pszText) : QString());
    int format = (column.mask & LVCF_FMT) ? column.fmt : LVCFMT_LEFT;
    header->setTextAlignment(alignmentOf(format));
    table_->setHorizontalHeaderItem(at, header);
    columnAlignment_[static_cast<size_t>(at)] = format;
    for (int row = 0; row < rowCount(); ++row)
        if (QTableWidgetItem* cell = table_->item(row, at)) cell->setTextAlignment(alignmentOf(format));
    if (column.mask & LVCF_WIDTH) table_->setColumnWidth(at, std::max(column.cx, 0));
    return at;
}

LRESULT ListViewControl::insertItem(const LVITEMW& item) {
    if (item.iSubItem != 0) return -1;
    int row = std::clamp(item.iItem, 0, rowCount());
    ++quiet_;
    table_->insertRow(row);
    for (int column = 0; column < table_->columnCount(); ++column) {
        auto* cell = new QTableWidgetItem();
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        cell->setTextAlignment(alignmentOf(columnAlignment_[static_cast<size_t>(column)]));
        table_->setItem(row, column, cell);
    }
    QTableWidgetItem* first = table_->item(row, 0);
    if (item.mask & LVIF_TEXT) first->setText(fromText(item.pszText));
    first->setData(Qt::UserRole, static_cast<qlonglong>((item.mask & LVIF_PARAM) ? item.lParam : 0));
    states_.insert(states_.begin() + row, 0);
    --quiet_;
    // The rows after it moved down with their states: nothing changed for the parent.
    syncStates(false);
    if ((item.mask & LVIF_STATE) && (item.stateMask & kTrackedStates)) {
        ++quiet_;
        applyState(row, item.state, item.stateMask & kTrackedStates);
        --quiet_;
        syncStates(true);
    }
    return row;
}

bool ListViewControl::setItem(const LVITEMW& item) {
    if (!validRow(item.iItem)) return false;
    if (item.mask & LVIF_TEXT) setCell(item.iItem, item.iSubItem, fromText(item.pszText));
    if ((item.mask & LVIF_PARAM) && item.iSubItem == 0)
        table_->item(item.iItem, 0)->setData(Qt::UserRole, static_cast<qlonglong>(item.lParam));
    if (item.mask & LVIF_STATE) {
        ++quiet_;
        applyState(item.iItem, item.state, item.stateMask & kTrackedStates);
        --quiet_;
        syncStates(true);
    }
    return true;
}

int ListViewControl::copyText(const QString& text, LPWSTR buffer, int capacity) const {
    if (!buffer || capacity <= 0) return 0;
    int count = std::min(static_cast<int>(text.size()), capacity - 1);
    std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), count, buffer);
    buffer[count] = 0;
    return count;
}

bool ListViewControl::getItem(LVITEMW& item) const {
    if (!validRow(item.iItem)) return false;
    if (item.mask & LVIF_TEXT) copyText(cellText(item.iItem, item.iSubItem), item.pszText, item.cchTextMax);
    if (item.mask & LVIF_PARAM) item.lParam = paramOf(item.iItem);
    if (item.mask & LVIF_STATE) item.state = stateOf(item.iItem) & item.stateMask;
    return true;
}

int ListViewControl::nextItem(int start, UINT flags) const {
    UINT wanted = 0;
    if (flags & LVNI_SELECTED) wanted |= LVIS_SELECTED;
    if (flags & LVNI_FOCUSED) wanted |= LVIS_FOCUSED;
    for (int row = std::max(start + 1, 0); row < rowCount(); ++row)
        if ((stateOf(row) & wanted) == wanted) return row;
    return -1;
}

int ListViewControl::findItem(int start, const LVFINDINFOW& find) const {
    QString wanted = fromText(find.psz);
    for (int row = std::max(start + 1, 0); row < rowCount(); ++row) {
        if (find.flags & LVFI_PARAM) {
            if (paramOf(row) == find.lParam) return row;
        } else if (find.flags & (LVFI_STRING | LVFI_PARTIAL)) {
            QString text = cellText(row, 0);
            bool match = (find.flags & LVFI_PARTIAL) ? text.startsWith(wanted, Qt::CaseInsensitive)
                                                     : text.compare(wanted, Qt::CaseInsensitive) == 0;
            if (match) return row;
        }
    }
    return -1;
}

void ListViewControl::deleteRows(int first, int count) {
    if (count <= 0) return;
    ++quiet_;
    // The states of the rows that stay. Qt would select a neighbour of a deleted selected
    // row; the platform's list leaves the others as they were.
    std::vector<UINT> kept;
    for (int row = 0; row < rowCount(); ++row)
        if (row < first || row >= first + count) kept.push_back(stateOf(row));
    for (int i = 0; i < count; ++i) table_->removeRow(first);
    states_.erase(states_.begin() + first, states_.begin() + first + count);
    QItemSelectionModel* selection = table_->selectionModel();
    selection->clearSelection();
    selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    for (int row = 0; row < rowCount() && row < static_cast<int>(kept.size()); ++row)
        applyState(row, kept[static_cast<size_t>(row)],
                   kTrackedStates & ~LVIS_FOCUSED & kept[static_cast<size_t>(row)]);
    for (int row = 0; row < rowCount() && row < static_cast<int>(kept.size()); ++row)
        if (kept[static_cast<size_t>(row)] & LVIS_FOCUSED) applyState(row, LVIS_FOCUSED, LVIS_FOCUSED);
    --quiet_;
    // Deleting rows is not a state change the parent hears of.
    syncStates(false);
}

void ListViewControl::syncStates(bool notify) {
    struct Change {
        int row;
        UINT oldState;
        UINT newState;
    };
    std::vector<Change> lost, gained;
    states_.resize(static_cast<size_t>(rowCount()), 0);
    for (int row = 0; row < rowCount(); ++row) {
        UINT now = stateOf(row);
        UINT before = states_[static_cast<size_t>(row)];
        if (now == before) continue;
        states_[static_cast<size_t>(row)] = now;
        ((before & ~now) ? lost : gained).push_back(Change{row, before, now});
    }
    if (!notify) return;
    // Rows that lost a state are told first, so the parent sees the old selection go
    // before the new one comes.
    auto owner = self_;
    for (auto* list : {&lost, &gained})
        for (const Change& c : *list) {
            if (!*owner) return;  // the parent destroyed the list while it was being told
            notifyChange(c.row, c.oldState, c.newState);
        }
}

void ListViewControl::notifyChange(int row, UINT oldState, UINT newState) {
    NMLISTVIEW change{};
    change.hdr.hwndFrom = context_.handle;
    change.hdr.idFrom = static_cast<UINT_PTR>(context_.id);
    change.hdr.code = LVN_ITEMCHANGED;
    change.iItem = row;
    change.iSubItem = 0;
    change.uNewState = newState;
    change.uOldState = oldState;
    change.uChanged = LVIF_STATE;
    change.lParam = validRow(row) ? paramOf(row) : 0;
    ControlContext context = context_;  // this object may go during the call
    if (context.sendToParent)
        context.sendToParent(WM_NOTIFY, static_cast<WPARAM>(context.id), reinterpret_cast<LPARAM>(&change));
}

void ListViewControl::notifyActivate(UINT code, int row) {
    NMITEMACTIVATE activate{};
    activate.hdr.hwndFrom = context_.handle;
    activate.hdr.idFrom = static_cast<UINT_PTR>(context_.id);
    activate.hdr.code = code;
    activate.iItem = validRow(row) ? row : -1;
    activate.lParam = validRow(row) ? paramOf(row) : 0;
    ControlContext context = context_;
    if (context.sendToParent)
        context.sendToParent(WM_NOTIFY, static_cast<WPARAM>(context.id), reinterpret_cast<LPARAM>(&activate));
}

bool ListViewControl::handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    int row = static_cast<int>(static_cast<intptr_t>(wParam));
    switch (message) {
        case LVM_GETITEMCOUNT:
            result = rowCount();
            return true;
        case LVM_SETEXTENDEDLISTVIEWSTYLE: {
            result = extendedStyle_;
            DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
            extendedStyle_ = (extendedStyle_ & ~mask) | (static_cast<DWORD>(lParam) & mask);
            table_->setShowGrid((extendedStyle_ & LVS_EX_GRIDLINES) != 0);
            return true;
        }
        case LVM_GETEXTENDEDLISTVIEWSTYLE:
            result = extendedStyle_;
            return true;
        case LVM_INSERTCOLUMNW:
            result = lParam ? insertColumn(row, *reinterpret_cast<const LVCOLUMNW*>(lParam)) : -1;
            return true;
        case LVM_SETCOLUMNWIDTH:
            if (row < 0 || row >= table_->columnCount()) return true;
            table_->setColumnWidth(row, std::max(static_cast<int>(static_cast<int16_t>(LOWORD(lParam))), 0));
            result = TRUE;
            return true;
        case LVM_GETCOLUMNWIDTH:
            result = row >= 0 && row < table_->columnCount() ? table_->columnWidth(row) : 0;
            return true;
        case LVM_INSERTITEMW:
            result = lParam ? insertItem(*reinterpret_cast<const LVITEMW*>(lParam)) : -1;
            return true;
        case LVM_SETITEMW:
            result = lParam && setItem(*reinterpret_cast<const LVITEMW*>(lParam)) ? TRUE : FALSE;
            return true;
        case LVM_GETITEMW:
            result = lParam && getItem(*reinterpret_cast<LVITEMW*>(lParam)) ? TRUE : FALSE;
            return true;
        case LVM_SETITEMTEXTW: {
            if (!lParam || !validRow(row)) return true;
            const auto& item = *reinterpret_cast<const LVITEMW*>(lParam);
            setCell(row, item.iSubItem, fromText(item.pszText));
            result = TRUE;
            return true;
        }
        case LVM_GETITEMTEXTW: {
            if (!lParam) return true;
            auto& item = *reinterpret_cast<LVITEMW*>(lParam);
            result = copyText(cellText(row, item.iSubItem), item.pszText, item.cchTextMax);
            return true;
        }
        case LVM_SETITEMSTATE: {
            if (!lParam) return true;
            const auto& item = *reinterpret_cast<const LVITEMW*>(lParam);
            UINT mask = item.stateMask & kTrackedStates;
            if (row != -1 && !validRow(row)) return true;
            ++quiet_;
            if (row == -1) {
                // Selecting every row of a single-selection list is refused.
                if ((style_ & LVS_SINGLESEL) && (item.state & mask & LVIS_SELECTED)) mask &= ~LVIS_SELECTED;
                for (int r = 0; r < rowCount(); ++r) applyState(r, item.state, mask & ~LVIS_FOCUSED);
            } else {
                applyState(row, item.state, mask);
            }
            --quiet_;
            syncStates(true);
            result = TRUE;
            return true;
        }
        case LVM_GETITEMSTATE:
            result = validRow(row) ? static_cast<LRESULT>(stateOf(row) & static_cast<UINT>(lParam)) : 0;
            return true;
        case LVM_GETSELECTEDCOUNT:
            result = static_cast<LRESULT>(table_->selectionModel()->selectedRows().size());
            return true;
        case LVM_GETNEXTITEM:
            result = nextItem(row, static_cast<UINT>(LOWORD(lParam)));
            return true;
        case LVM_FINDITEMW:
            result = lParam ? findItem(row, *reinterpret_cast<const LVFINDINFOW*>(lParam)) : -1;
            return true;
        case LVM_DELETEITEM:
            if (!validRow(row)) return true;
            deleteRows(row, 1);
            result = TRUE;
            return true;
        case LVM_DELETEALLITEMS:
            deleteRows(0, rowCount());
            result = TRUE;
            return true;
        case LVM_ENSUREVISIBLE:
            if (!validRow(row)) return true;
            table_->scrollToItem(table_->item(row, 0));
            result = TRUE;
            return true;
        default:
            return false;
    }
}
