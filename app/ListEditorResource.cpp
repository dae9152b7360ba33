// The list editor's dialog template (resource 108), beside the procedure that drives it.
#include "app/ListEditorDialog.h"
#include "framework/WindowResources.h"

namespace {

constexpr DWORD kEditStyle = ES_AUTOHSCROLL | WS_DISABLED;
constexpr DWORD kItemTrackbarStyle = TBS_BOTH | TBS_NOTICKS | WS_DISABLED | WS_TABSTOP;
constexpr DWORD kTrackbarStyle = TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;

// Four rectangle fields at y with the separators "," "-" "," between them.
void addRectFields(std::vector<DialogItemTemplate>& items, int firstId, int y) {
    static const char16_t* const kSeparators[3] = {u",", u"-", u","};
    const int xs[4] = {230, 267, 304, 341};
    for (int i = 0; i < 4; ++i) {
        items.push_back(dlg::editText(firstId + i, xs[i], y, 30, 14, kEditStyle));
        if (i < 3) items.push_back(dlg::ctext(kSeparators[i], IDC_STATIC, xs[i] + 30, y + 3, 7, 10));
    }
}

}  // namespace

void registerListEditorResource() {
    using namespace ListEditorIds;
    DialogTemplate d;
    d.title = u"再生情報";
    d.cx = 480;
    d.cy = 260;
    d.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
    d.fontName = u"ＭＳ Ｐゴシック";
    d.pointSize = 10;
    auto& items = d.items;

    items.push_back(dlg::groupBox(u"動画リスト", IDC_STATIC, 5, 5, 469, 115));
    items.push_back(dlg::control(
        u"", kList, u"SysListView32",
        LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER | WS_TABSTOP, 10, 17, 380, 95));
    items.push_back(dlg::pushButton(u"↑", kMoveUp, 400, 20, 15, 40));
    items.push_back(dlg::pushButton(u"↓", kMoveDown, 400, 70, 15, 40));
    items.push_back(dlg::pushButton(u"追加(&A)", kAdd, 425, 25, 40, 20));
    items.push_back(dlg::pushButton(u"削除(&D)", kDelete, 425, 55, 40, 20));
    items.push_back(dlg::pushButton(u"クリア(&C)", kClear, 425, 85, 40, 20));

    items.push_back(dlg::groupBox(u"アイテム情報", IDC_STATIC, 5, 125, 469, 70));
    items.push_back(dlg::ltext(u"ファイル名", IDC_STATIC, 10, 135, 35, 24));
    items.push_back(dlg::ltext(u"", kPath, 50, 135, 130, 24));
    items.push_back(dlg::ltext(u"描画元領域", IDC_STATIC, 185, 140, 40, 12));
    addRectFields(items, kSourceLeft, 137);
    items.push_back(dlg::pushButton(u"リセット(&M)", kResetSource, 375, 137, 40, 14));
    items.push_back(dlg::ltext(u"描画先領域", IDC_STATIC, 185, 160, 40, 12));
    addRectFields(items, kDestLeft, 157);
    items.push_back(dlg::pushButton(u"リセット(&N)", kResetDest, 375, 157, 40, 14));
    items.push_back(dlg::ltext(u"透過率", IDC_STATIC, 10, 162, 35, 12));
    items.push_back(dlg::control(u"", kOpacity, u"msctls_trackbar32", kItemTrackbarStyle, 50, 160, 120, 15));
    items.push_back(dlg::ltext(u"音量", IDC_STATIC, 10, 178, 35, 12));
    items.push_back(dlg::control(u"", kVolume, u"msctls_trackbar32", kItemTrackbarStyle, 50, 175, 150, 15));
    items.push_back(dlg::ltext(u"左右パン", IDC_STATIC, 220, 178, 35, 12));
    items.push_back(dlg::control(u"", kPan, u"msctls_trackbar32", kItemTrackbarStyle, 260, 175, 150, 15));
    items.push_back(dlg::ltext(u"再生オフセット", IDC_STATIC, 420, 140, 50, 12));
    items.push_back(dlg::editText(kOffset, 420, 157, 40, 14, WS_DISABLED));
    items.push_back(dlg::ltext(u"ms", IDC_STATIC, 462, 160, 10, 10));
    items.push_back(dlg::pushButton(u"オフセット更新", kOffsetUpdate, 420, 178, 50, 15));

    items.push_back(dlg::groupBox(u"ウィンドウ情報", IDC_STATIC, 5, 200, 420, 55));
    items.push_back(dlg::ltext(u"背景色", IDC_STATIC, 10, 215, 28, 12));
    const char16_t* const channelNames[3] = {u"R", u"G", u"B"};
    const int channelX[3] = {50, 165, 280};
    for (int c = 0; c < 3; ++c) {
        items.push_back(dlg::ltext(channelNames[c], IDC_STATIC, channelX[c], 215, 8, 10));
        items.push_back(dlg::rtext(u"", kBackgroundLabel[c], channelX[c] + 10, 215, 20, 10));
        items.push_back(dlg::control(u"", kBackgroundTrackbar[c], u"msctls_trackbar32", kTrackbarStyle,
                                     channelX[c] + 35, 212, 75, 15));
    }
    items.push_back(dlg::ltext(u"動画ウィンドウサイズ", IDC_STATIC, 10, 235, 65, 12));
    items.push_back(dlg::editText(kAreaWidth, 90, 233, 30, 14, ES_NUMBER));
    items.push_back(dlg::ltext(u"x", IDC_STATIC, 122, 236, 6, 10));
    items.push_back(dlg::editText(kAreaHeight, 129, 233, 30, 14, ES_NUMBER));
    items.push_back(dlg::pushButton(u"最大のアイテムに合わせる(&S)", kFitLargest, 175, 230, 110, 20));
    items.push_back(dlg::pushButton(u"ウィンドウサイズの更新(&R)", kResizeWindow, 295, 230, 110, 20));
    items.push_back(dlg::pushButton(u"閉じる(&X)", kClose, 430, 235, 45, 20));

    registerDialogResource(ListEditorDialog::kResourceId, std::move(d));
}
