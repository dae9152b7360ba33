#include "app/ListEditorDialog.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "app/EditorMappings.h"
#include "app/PlayItem.h"
#include "app/PlayList.h"
#include "app/PlayListHost.h"

using namespace ListEditorIds;
namespace em = EditorMappings;

namespace {

// The one open editor; made on WM_INITDIALOG, gone with WM_DESTROY.
std::unique_ptr<ListEditorDialog>& openEditor() {
    static std::unique_ptr<ListEditorDialog> editor;
    return editor;
}

constexpr int kVideoGroup[] = {kSourceLeft,  kSourceLeft + 1, kSourceLeft + 2, kSourceLeft + 3,
                               kDestLeft,    kDestLeft + 1,   kDestLeft + 2,   kDestLeft + 3,
                               kResetSource, kResetDest,      kOpacity};
constexpr int kAudioGroup[] = {kVolume, kPan};
constexpr int kItemGroup[] = {kOffset, kOffsetUpdate};

struct Column {
    const char16_t* title;
    int width;
};
constexpr Column kColumns[] = {
    {u"ファイル名", 230}, {u"描画元領域", 110}, {u"描画先領域", 110}, {u"透過率", 50},
    {u"音量", 50},        {u"左右パン", 50},    {u"オフセット", 50},
};

bool isRectField(int id) {
    return (id >= kSourceLeft && id < kSourceLeft + 4) || (id >= kDestLeft && id < kDestLeft + 4);
}

}  // namespace

INT_PTR ListEditorDialog::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* list = reinterpret_cast<PlayList*>(lParam);
        if (!list) return FALSE;
        openEditor().reset(new ListEditorDialog(dialog, *list));
        openEditor()->initialise();
        return TRUE;
    }
    ListEditorDialog* editor = openEditor().get();
    if (!editor || editor->dialog_ != dialog) return FALSE;
    if (message == WM_DESTROY) {
        openEditor().reset();
        return TRUE;
    }
    return editor->handle(message, wParam, lParam);
}

int32_t ListEditorDialog::currentId() {
    return openEditor() ? openEditor()->currentId_ : 0;
}

bool ListEditorDialog::isOpen() {
    return openEditor() != nullptr;
}

ListEditorDialog::ListEditorDialog(HWND dialog, PlayList& list) : dialog_(dialog), list_(list) {}

INT_PTR ListEditorDialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kListChangedMessage:
            onListChanged(lParam);
            return TRUE;
        case kWindowSizeChangedMessage: {
            uint32_t w = 0, h = 0;
            list_.host().videoAreaSize(&w, &h);
            SetDlgItemInt(dialog_, kAreaWidth, w, FALSE);
            SetDlgItemInt(dialog_, kAreaHeight, h, FALSE);
            return TRUE;
        }
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header && header->idFrom == UINT_PTR(kList) && header->code == LVN_ITEMCHANGED)
                onItemChanged(*reinterpret_cast<const NMLISTVIEW*>(lParam));
            return TRUE;
        }
        case WM_COMMAND:
            onCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_HSCROLL:
            onScroll(reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_CLOSE:
            postToMain(kCloseDialogMessage, 0, reinterpret_cast<LPARAM>(dialog_));
            return TRUE;
        default:
            return FALSE;
    }
}

void ListEditorDialog::initialise() {
    currentId_ = 0;
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES;
    SendDlgItemMessageW(dialog_, kList, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    int index = 0;
    for (const Column& c : kColumns) {
        std::u16string title = c.title;
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = c.width;
        column.pszText = title.data();
        column.iSubItem = index;
        SendDlgItemMessageW(dialog_, kList, LVM_INSERTCOLUMNW, WPARAM(index), reinterpret_cast<LPARAM>(&column));
        ++index;
    }
    for (int id : {kOpacity, kVolume, kPan}) {
        SendDlgItemMessageW(dialog_, id, TBM_SETRANGE, FALSE, MAKELPARAM(em::kTrackbarMin, em::kTrackbarMax));
        SendDlgItemMessageW(dialog_, id, TBM_SETPAGESIZE, 0, em::kTrackbarPage);
        setTrackbarPosition(id, 0);
    }
    PostMessageW(dialog_, kListChangedMessage, 0, -1);
    for (int c = 0; c < 3; ++c) {
        const int id = kBackgroundTrackbar[c];
        const float value = list_.background(c);
        SendDlgItemMessageW(dialog_, id, TBM_SETRANGE, FALSE, MAKELPARAM(em::kTrackbarMin, em::kTrackbarMax));
        SendDlgItemMessageW(dialog_, id, TBM_SETPAGESIZE, 0, em::kTrackbarPage);
        setTrackbarPosition(id, em::positionFromChannel(value));
        setBackgroundLabel(c, value);
    }
    PostMessageW(dialog_, kWindowSizeChangedMessage, 0, 0);
}

// ---- the table ----------------------------------------------------------------------------

void ListEditorDialog::setRowTexts(int row, PlayItem& item) {
    std::array<std::u16string, 7> cells;
    cells[0] = item.path();
    if (item.hasVideo()) {
        cells[1] = em::rectText(item.sourceRect());
        cells[2] = em::rectText(item.destRect());
        cells[3] = em::opacityText(item.colour() >> 24);
    } else {
        cells[1] = cells[2] = cells[3] = std::u16string(em::kNoValue);
    }
    if (item.hasAudio()) {
        cells[4] = em::volumeText(item.volume());
        cells[5] = em::panText(item.pan());
    } else {
        cells[4] = cells[5] = std::u16string(em::kNoValue);
    }
    cells[6] = em::offsetText(item.offsetMs());
    for (int i = 0; i < 7; ++i) {
        LVITEMW cell{};
        cell.iSubItem = i;
        cell.pszText = cells[size_t(i)].data();
        SendDlgItemMessageW(dialog_, kList, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&cell));
    }
}

void ListEditorDialog::insertRows() {
    SendDlgItemMessageW(dialog_, kList, LVM_DELETEALLITEMS, 0, 0);
    ScopedLock hold(list_.lock());
    int row = 0;
    list_.forEach([&](PlayItem& item) {
        std::u16string path = item.path();
        LVITEMW entry{};
        entry.mask = LVIF_TEXT | LVIF_PARAM;
        entry.iItem = row;
        entry.pszText = path.data();
        entry.lParam = item.id();
        const int at = int(SendDlgItemMessageW(dialog_, kList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry)));
        if (at >= 0) setRowTexts(at, item);
        ++row;
    });
}

int ListEditorDialog::rowOf(int32_t id) {
    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = id;
    return int(SendDlgItemMessageW(dialog_, kList, LVM_FINDITEMW, WPARAM(-1), reinterpret_cast<LPARAM>(&find)));
}

void ListEditorDialog::refreshRow(int32_t id) {
    const int row = rowOf(id);
    if (row < 0) return;
    ScopedLock hold(list_.lock());
    SharedRef<PlayItem> item = list_.findItem(id);
    if (item) setRowTexts(row, *item);
}

void ListEditorDialog::selectRow(int row) {
    LVITEMW state{};
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageW(dialog_, kList, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&state));
    SendDlgItemMessageW(dialog_, kList, LVM_ENSUREVISIBLE, WPARAM(row), FALSE);
}

void ListEditorDialog::onListChanged(LPARAM selectId) {
    insertRows();
    if (selectId != 0) currentId_ = int32_t(selectId);
    filling_ = true;
    {
        ScopedLock hold(list_.lock());
        SharedRef<PlayItem> item = list_.findItem(currentId_);
        if (item) {
            const int row = rowOf(currentId_);
            if (row >= 0) selectRow(row);
            fillFields(*item);
        } else {
            clearFields();
            currentId_ = 0;
        }
    }
    filling_ = false;
}

void ListEditorDialog::onItemChanged(const NMLISTVIEW& change) {
    if (!(change.uChanged & LVIF_STATE)) return;
    const bool selectedBefore = change.uOldState & LVIS_SELECTED;
    const bool selectedNow = change.uNewState & LVIS_SELECTED;
    const bool wasFilling = filling_;
    if (selectedNow && !selectedBefore) {
        currentId_ = int32_t(change.lParam);
        filling_ = true;
        if (currentId_ == 0) {
            clearFields();
        } else {
            ScopedLock hold(list_.lock());
            SharedRef<PlayItem> item = list_.findItem(currentId_);
            if (item)
                fillFields(*item);
            else
                clearFields();
        }
        filling_ = wasFilling;
    } else if (!selectedNow && !selectedBefore && int32_t(change.lParam) == currentId_ && currentId_ != 0) {
        currentId_ = 0;
        filling_ = true;
        clearFields();
        filling_ = wasFilling;
    }
    // A row losing its selection (a click on empty space) keeps the fields on the item.
}

// ---- the item fields ----------------------------------------------------------------------

void ListEditorDialog::enableGroup(const int* ids, size_t count, bool enable) {
    for (size_t i = 0; i < count; ++i) EnableWindow(GetDlgItem(dialog_, ids[i]), enable ? TRUE : FALSE);
}

void ListEditorDialog::resetVideoGroup() {
    for (int i = 0; i < 4; ++i) {
        setFieldSigned(kSourceLeft + i, 0);
        setFieldSigned(kDestLeft + i, 0);
    }
    setTrackbarPosition(kOpacity, em::kTrackbarMax);
    enableGroup(kVideoGroup, std::size(kVideoGroup), false);
}

void ListEditorDialog::resetAudioGroup() {
    setTrackbarPosition(kVolume, em::kTrackbarMax);
    setTrackbarPosition(kPan, em::positionFromPan(0));
    enableGroup(kAudioGroup, std::size(kAudioGroup), false);
}

void ListEditorDialog::clearFields() {
    setFieldText(kPath, u"");
    resetVideoGroup();
    resetAudioGroup();
    enableGroup(kItemGroup, std::size(kItemGroup), false);
    setFieldSigned(kOffset, 0);
}

void ListEditorDialog::fillFields(PlayItem& item) {
    setFieldText(kPath, item.path());
    if (item.hasVideo()) {
        enableGroup(kVideoGroup, std::size(kVideoGroup), true);
        const RECT s = item.sourceRect();
        const RECT d = item.destRect();
        const LONG sv[4] = {s.left, s.top, s.right, s.bottom};
        const LONG dv[4] = {d.left, d.top, d.right, d.bottom};
        for (int i = 0; i < 4; ++i) {
            setFieldSigned(kSourceLeft + i, sv[i]);
            setFieldSigned(kDestLeft + i, dv[i]);
        }
        setTrackbarPosition(kOpacity, em::positionFromAlpha(item.colour() >> 24));
    } else {
        resetVideoGroup();
    }
    if (item.hasAudio()) {
        enableGroup(kAudioGroup, std::size(kAudioGroup), true);
        setTrackbarPosition(kVolume, em::positionFromVolume(item.volume()));
        setTrackbarPosition(kPan, em::positionFromPan(item.pan()));
    } else {
        resetAudioGroup();
    }
    enableGroup(kItemGroup, std::size(kItemGroup), true);
    setFieldSigned(kOffset, item.offsetMs());
}

void ListEditorDialog::applyFields() {
    ScopedLock holdList(list_.lock());
    SharedRef<PlayItem> item = list_.findItem(currentId_);
    if (!item) return;
    if (item->hasVideo()) {
        RECT source{}, dest{};
        LONG* sv[4] = {&source.left, &source.top, &source.right, &source.bottom};
        LONG* dv[4] = {&dest.left, &dest.top, &dest.right, &dest.bottom};
        for (int i = 0; i < 4; ++i) {
            *sv[i] = em::parseSigned(fieldText(kSourceLeft + i));
            *dv[i] = em::parseSigned(fieldText(kDestLeft + i));
        }
        const int opacity = trackbarPosition(kOpacity);
        ScopedLock holdItem(item->lock());
        const uint32_t colour = item->colour();
        item->setSourceRect(&source);
        item->setDestRect(&dest);
        // Position and value truncate both ways, so a position the trackbar only shows
        // maps to a smaller value; written back, every other edit would wear the opacity
        // down. It changes only when the trackbar was moved off what the value shows.
        item->setColour(opacity != em::positionFromAlpha(colour >> 24) ? em::colourWithPosition(colour, opacity)
                                                                       : colour);
    }
    if (item->hasAudio()) {
        const int volume = trackbarPosition(kVolume);
        const int pan = trackbarPosition(kPan);
        if (volume != em::positionFromVolume(item->volume())) item->setVolume(em::volumeFromPosition(volume));
        if (pan != em::positionFromPan(item->pan())) item->setPan(em::panFromPosition(pan));
    }
    refreshRow(item->id());
}

void ListEditorDialog::resetRect(bool source) {
    {
        ScopedLock holdList(list_.lock());
        SharedRef<PlayItem> item = list_.findItem(currentId_);
        if (!item) return;
        {
            ScopedLock holdItem(item->lock());
            if (source)
                item->setSourceRect(nullptr);
            else
                item->setDestRect(nullptr);
        }
        filling_ = true;
        fillFields(*item);
        filling_ = false;
    }
    refreshRow(currentId_);
}

void ListEditorDialog::updateOffset() {
    const int32_t offset = em::parseSigned(fieldText(kOffset));
    {
        ScopedLock hold(list_.lock());
        SharedRef<PlayItem> item = list_.findItem(currentId_);
        if (!item || item->offsetMs() == offset) return;
        item->setOffset(offset);
    }
    refreshRow(currentId_);
    postToMain(kOffsetChangedMessage, 0, currentId_);
}

void ListEditorDialog::sanitiseField(int id) {
    const std::u16string text = fieldText(id);
    const std::u16string clean = em::sanitiseNumericText(text);
    if (clean != text) setFieldText(id, clean);
}

// ---- commands and trackbars ---------------------------------------------------------------

void ListEditorDialog::onCommand(int id, WORD code) {
    if (isRectField(id)) {
        if (filling_) return;
        sanitiseField(id);
        applyFields();
        return;
    }
    if (id == kOffset) {
        sanitiseField(id);
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
        case kMoveUp:
        case kMoveDown:
        case kDelete:
            if (currentId_ != 0) postToMain(kListCommandMessage, WPARAM(id), currentId_);
            break;
        case kAdd:
        case kClear:
            postToMain(kListCommandMessage, WPARAM(id), 0);
            break;
        case kResetSource:
        case kResetDest:
            if (!filling_) resetRect(id == kResetSource);
            break;
        case kOffsetUpdate:
            updateOffset();
            break;
        case kFitLargest: {
            uint32_t w = 0, h = 0;
            if (list_.largestDestExtent(&w, &h)) {
                SetDlgItemInt(dialog_, kAreaWidth, w, FALSE);
                SetDlgItemInt(dialog_, kAreaHeight, h, FALSE);
            }
            break;
        }
        case kResizeWindow:
            list_.host().resizeToVideoSize(em::parseUnsigned(fieldText(kAreaWidth)),
                                           em::parseUnsigned(fieldText(kAreaHeight)));
            break;
        case kClose:
            postToMain(kCloseDialogMessage, 0, reinterpret_cast<LPARAM>(dialog_));
            break;
        default:
            break;
    }
}

void ListEditorDialog::onScroll(HWND trackbar) {
    if (!trackbar) return;
    for (int c = 0; c < 3; ++c) {
        const int id = kBackgroundTrackbar[c];
        if (trackbar != GetDlgItem(dialog_, id)) continue;
        const float value = em::channelFromPosition(trackbarPosition(id));
        list_.setBackground(c, value);
        setBackgroundLabel(c, value);
        return;
    }
    if (filling_) return;
    for (int id : {kOpacity, kVolume, kPan}) {
        if (trackbar == GetDlgItem(dialog_, id)) {
            applyFields();
            return;
        }
    }
}

// ---- control access -----------------------------------------------------------------------

std::u16string ListEditorDialog::fieldText(int id) {
    char16_t buffer[em::kMaxFieldChars + 1] = {};
    const UINT n = GetDlgItemTextW(dialog_, id, buffer, int(std::size(buffer)));
    return std::u16string(buffer, std::min<size_t>(n, em::kMaxFieldChars));
}

void ListEditorDialog::setFieldText(int id, const std::u16string& text) {
    SetDlgItemTextW(dialog_, id, text.c_str());
}

void ListEditorDialog::setFieldSigned(int id, int64_t value) {
    setFieldText(id, em::signedText(value));
}

int ListEditorDialog::trackbarPosition(int id) {
    return int(SendDlgItemMessageW(dialog_, id, TBM_GETPOS, 0, 0));
}

void ListEditorDialog::setTrackbarPosition(int id, int position) {
    SendDlgItemMessageW(dialog_, id, TBM_SETPOS, TRUE, position);
}

void ListEditorDialog::setBackgroundLabel(int channel, float value) {
    setFieldText(kBackgroundLabel[channel], em::channelText(value));
}

void ListEditorDialog::postToMain(UINT message, WPARAM wParam, LPARAM lParam) {
    PostMessageW(list_.host().mainWindow(), message, wParam, lParam);
}
