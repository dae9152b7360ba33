#include "app/Resources.h"

#include "app/AboutDialog.h"
#include "app/ListEditorDialog.h"
#include "app/PlayerApp.h"
#include "app/ResourceIcons.h"
#include "framework/WindowResources.h"

namespace {

MenuTemplate mainMenu() {
    MenuTemplate menu;
    menu.items = {
        menuPopup(u"ファイル(&F)", {menuItem(u"新規リスト(&N)", PlayerApp::kCmdNewList),
                                    menuItem(u"単体のファイルを開く(&S)", PlayerApp::kCmdOpenSingle),
                                    menuItem(u"追加のファイルを開く(&A)", PlayerApp::kCmdOpenAppend),
                                    menuItem(u"MediaFoundationを有効にする(&M)", PlayerApp::kCmdUseMediaFoundation),
                                    menuSeparator(), menuItem(u"終了(&X)", PlayerApp::kCmdExit)}),
        menuPopup(u"操作(&O)", {menuItem(u"再生(&P)", PlayerApp::kCmdPlay, MF_GRAYED),
                                menuItem(u"停止(&S)", PlayerApp::kCmdStop, MF_GRAYED),
                                menuItem(u"一時停止(&A)", PlayerApp::kCmdPause, MF_GRAYED), menuSeparator(),
                                menuItem(u"ループ再生(&L)", PlayerApp::kCmdLoop)}),
        menuPopup(u"編集(&E)", {menuItem(u"リスト編集(&L)", PlayerApp::kCmdListEditor)}),
        menuPopup(u"ヘルプ(&H)", {menuItem(u"バージョン情報(&V)", PlayerApp::kCmdAbout)}),
    };
    return menu;
}

DialogTemplate aboutDialog() {
    DialogTemplate dialog;
    dialog.title = u"バージョン情報";
    dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_MODALFRAME;
    dialog.cx = 180;
    dialog.cy = 100;
    dialog.fontName = u"ＭＳ Ｐゴシック";
    dialog.pointSize = 10;
    dialog.items = {
        dlg::control(u"", AboutDialog::kIconId, u"STATIC", SS_OWNERDRAW, 10, 10, 48, 48),
        dlg::ltext(u"", AboutDialog::kTitleId, 66, 14, 108, 12),
        dlg::ltext(u"", AboutDialog::kNoticeId, 66, 32, 108, 24),
        dlg::defPushButton(u"閉じる(&C)", AboutDialog::kCloseId, 120, 78, 50, 15),
    };
    return dialog;
}

}  // namespace

void registerPlayerResources() {
    registerStringResource(PlayerApp::kStringTitle, u"Layerdeck");
    registerStringResource(PlayerApp::kStringVersion, u"1.07");
    registerStringResource(PlayerApp::kStringNotice, u"複数の動画と画像を重ねて再生します。");
    registerMenuResource(PlayerApp::kMenuMain, mainMenu());
    registerDialogResource(PlayerApp::kDialogAbout, aboutDialog());
    registerListEditorResource();
    registerEmbeddedIcons();
}

std::u16string loadResourceString(HINSTANCE instance, UINT id) {
    const char16_t* text = nullptr;
    const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return {};
    return std::u16string(text, static_cast<size_t>(length));
}
