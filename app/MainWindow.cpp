// The main window procedure of PlayerApp: layout, menus, files, dialogs and the private
// messages of the engine, the render thread and the dialogs.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/AboutDialog.h"
#include "app/ListEditorDialog.h"
#include "app/PlayList.h"
#include "app/PlayerApp.h"
#include "framework/WindowApi.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/MediaFoundationPlayerFactory.h"

namespace {

constexpr DWORD kNoChangeDirectory = 0x00000008;  // OFN_NOCHANGEDIR
constexpr DWORD kOpenPathCapacity = 2048;
constexpr UINT kDropPathCapacity = 4096;

constexpr char16_t kOpenFilters[] =
    u"動画ファイル(*.avi,*.mpg,*.wmv,*.mp4,*.ogv,*.webm,*.mbc)\0*.avi;*.mpg;*.wmv;*.mp4;*.ogv;*.webm;*.mbc\0"
    u"画像ファイル(*.bmp,*.png)\0*.bmp;*.png\0"
    u"すべてのファイル(*.*)\0*\0";
constexpr char16_t kOpenSingleTitle[] = u"開く動画ファイルを選択する";
constexpr char16_t kOpenAppendTitle[] = u"追加する動画ファイルを選択する";
constexpr char16_t kConfirmExitText[] = u"終了します。よろしいですか？";
constexpr char16_t kConfirmExitCaption[] = u"確認";

}  // namespace

LRESULT PlayerApp::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            if (window == mainWindow() && wParam != SIZE_MINIMIZED) onSize();
            return 1;
        case WM_GETMINMAXINFO:
            if (window != mainWindow() || !lParam) return 1;
            onMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
            return 0;
        case WM_CLOSE:
            if (window != mainWindow()) return 1;
            PostMessageW(mainWindow(), kConfirmExitMessage, 0, 0);
            return 0;
        case WM_COMMAND:
            return onCommand(LOWORD(wParam));
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == seekSlider_) onHScroll(wParam);
            return 1;
        case WM_TIMER:
            if (wParam == readoutTimerId()) {
                updateReadout(false);
                return 1;
            }
            if (wParam == recoveryTimerId()) {
                retryRecovery();
                return 0;
            }
            return 1;
        case WM_LBUTTONDBLCLK:
            if (!list_->empty()) togglePlayPause();
            return 1;
        case WM_DROPFILES:
            onDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case kGraphEventMessage:
            return directShowFactory_ ? directShowFactory_->onGraphEvent(message, wParam, lParam) : 0;
        case kMediaReadyMessage:
        case kSessionMediaReadyMessage:
            list_->onItemReady(static_cast<uintptr_t>(lParam), static_cast<HRESULT>(static_cast<int32_t>(wParam)),
                               message == kSessionMediaReadyMessage);
            // A movie's length is known once it is ready.
            updateControls();
            return 0;
        case kSessionEventMessage:
            return mediaFoundationFactory_ ? mediaFoundationFactory_->onSessionEvent(message, wParam, lParam) : 0;
        case kConfirmExitMessage:
            if (MessageBoxW(mainWindow(), kConfirmExitText, kConfirmExitCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
                stopEngine();
                DestroyWindow(mainWindow());
            }
            return 0;
        case kCloseDialogMessage:
            onCloseDialog(reinterpret_cast<HWND>(lParam));
            return 0;
        case kEndOfTimeLineMessage:
            onEndOfTimeLine();
            return 0;
        case kListCommandMessage:
            onListCommand(static_cast<int>(wParam), static_cast<int32_t>(lParam));
            return 0;
        case kOffsetChangedMessage:
            onOffsetChanged(static_cast<int32_t>(lParam));
            return 0;
        case kDeviceLostMessage:
            recoverDevice();
            return 0;
        default:
            return 1;
    }
}

LRESULT PlayerApp::onCommand(int id) {
    switch (id) {
        case kPlayButtonId:
        case kCmdPlay:
        case kCmdPause:
            togglePlayPause();
            return 0;
        case kStopButtonId:
        case kCmdStop:
            stopTransport();
            return 0;
        case kCmdNewList:
            newList();
            return 0;
        case kCmdOpenSingle:
        case kCmdOpenAppend:
            openFile(id);
            return 0;
        case kCmdUseMediaFoundation: {
            // Greyed for good when the factory could not be made.
            if (!mediaFoundationFactory_) return 0;
            const bool on = (flags_.fetch_xor(kUseMediaFoundationFlag) & kUseMediaFoundationFlag) == 0;
            list_->setUseMediaFoundation(on);
            CheckMenuItem(module_.menu(), kCmdUseMediaFoundation, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
            return 0;
        }
        case kCmdExit:
            PostMessageW(mainWindow(), kConfirmExitMessage, 0, 0);
            return 0;
        case kCmdLoop: {
            const bool on = (flags_.fetch_xor(kLoopFlag) & kLoopFlag) == 0;
            CheckMenuItem(module_.menu(), kCmdLoop, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
            return 0;
        }
        case kCmdListEditor:
            openListEditor();
            return 0;
        case kCmdAbout:
            openAboutDialog();
            return 0;
        default:
            return 1;
    }
}

void PlayerApp::onSize() {
    RECT client{};
    if (!GetClientRect(mainWindow(), &client)) return;
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int stripTop = std::max(height - kStripHeight, 0);
    const UINT keep = SWP_NOZORDER | SWP_NOACTIVATE;
    if (playWindow_) SetWindowPos(playWindow_, nullptr, 0, 0, width, stripTop, keep);
    if (playButton_) SetWindowPos(playButton_, nullptr, 0, stripTop, kStripHeight, kStripHeight, keep);
    if (stopButton_) SetWindowPos(stopButton_, nullptr, 32, stripTop, kStripHeight, kStripHeight, keep);
    if (timeText_) SetWindowPos(timeText_, nullptr, 64, stripTop, 72, kStripHeight, keep);
    if (seekSlider_) SetWindowPos(seekSlider_, nullptr, 136, stripTop, std::max(width - 136, 0), kStripHeight, keep);

    if (drawBase_ && !resizeDevice()) SetTimer(mainWindow(), recoveryTimerId(), kRecoveryIntervalMs, nullptr);
    if (listEditor_) PostMessageW(listEditor_, kWindowSizeChangedMessage, 0, 0);
}

void PlayerApp::onMinMaxInfo(MINMAXINFO* info) {
    RECT frame{0, 0, kMinClientWidth, kStripHeight};
    AdjustWindowRectEx(&frame, kMainWindowStyle, TRUE, 0);
    info->ptMinTrackSize = POINT{frame.right - frame.left, frame.bottom - frame.top};
}

SIZE PlayerApp::clientSizeForVideo(uint32_t width, uint32_t height) {
    const uint32_t clientWidth = std::min(std::max(width, static_cast<uint32_t>(kMinClientWidth)), kMaxVideoExtent);
    const uint32_t clientHeight = std::min(height, kMaxVideoExtent) + kStripHeight;
    return SIZE{static_cast<LONG>(clientWidth), static_cast<LONG>(clientHeight)};
}

void PlayerApp::resizeToVideoSize(uint32_t width, uint32_t height) {
    const SIZE client = clientSizeForVideo(width, height);
    RECT frame{0, 0, client.cx, client.cy};
    AdjustWindowRectEx(&frame, kMainWindowStyle, TRUE, 0);
    SetWindowPos(mainWindow(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PlayerApp::onHScroll(WPARAM wParam) {
    switch (LOWORD(wParam)) {
        case TB_THUMBTRACK:
            flags_.fetch_and(~kSliderFollowsClockFlag);
            break;
        case TB_ENDTRACK:
            flags_.fetch_or(kSliderFollowsClockFlag);
            seekTo(static_cast<uint32_t>(SendMessageW(seekSlider_, TBM_GETPOS, 0, 0)));
            break;
        default:
            break;
    }
}

void PlayerApp::openFile(int command) {
    stopTransport();

    const bool single = command == kCmdOpenSingle;
    std::vector<char16_t> path(kOpenPathCapacity, u'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof(request);
    request.hwndOwner = mainWindow();
    request.hInstance = module_.instance();
    request.lpstrFilter = kOpenFilters;
    request.nFilterIndex = 1;
    request.lpstrFile = path.data();
    request.nMaxFile = kOpenPathCapacity;
    request.lpstrTitle = single ? kOpenSingleTitle : kOpenAppendTitle;
    request.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | kNoChangeDirectory;
    if (!GetOpenFileNameW(&request)) return;

    bool loaded = false;
    {
        ScopedLock hold(list_->lock());
        list_->setPendingLoads(single ? 1 : 0);
        SharedRef<PlayItem> item = list_->createItem(path.data(), false);
        if (!item.empty()) {
            if (single)
                list_->replaceList({item});
            else
                list_->appendItem(item);
            loaded = true;
        }
    }
    // The box waits for the user: not while the render thread needs the list.
    if (!loaded) {
        showLoadError();
        return;
    }
    updateControls();
    notifyListEditor(0);
}

void PlayerApp::onDropFiles(HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (!list_->empty()) {
        stopTransport();
        list_->clearList();
    }
    {
        ScopedLock hold(list_->lock());
        list_->setPendingLoads(static_cast<int32_t>(count));
        std::vector<char16_t> path(kDropPathCapacity, u'\0');
        for (UINT i = 0; i < count; ++i) {
            // A path that does not fit would name some other file: skip it.
            const UINT length = DragQueryFileW(drop, i, nullptr, 0);
            SharedRef<PlayItem> item;
            if (length > 0 && length < kDropPathCapacity && DragQueryFileW(drop, i, path.data(), kDropPathCapacity))
                item = list_->createItem(path.data(), false);
            if (item.empty())
                list_->finishPendingLoad();
            else
                list_->appendItem(item);
        }
    }
    updateControls();
    // Pictures never report ready: the editor would go on showing the old list.
    notifyListEditor(0);
    DragFinish(drop);
}

void PlayerApp::newList() {
    if (list_->empty()) return;
    stopTransport();
    list_->clearList();
    updateControls();
    notifyListEditor(0);
}

void PlayerApp::onListCommand(int command, int32_t id) {
    switch (command) {
        case kListMoveUp:
            list_->moveItemUp(id);
            notifyListEditor(id);
            break;
        case kListMoveDown:
            list_->moveItemDown(id);
            notifyListEditor(id);
            break;
        case kListAdd:
            openFile(kCmdOpenAppend);
            break;
        case kListRemove:
            list_->removeItem(id);
            if (!list_->empty())
                updateReadout(true);
            else
                stopTransport();
            notifyListEditor(0);
            break;
        case kListClear:
            newList();
            break;
        default:
            break;
    }
}

void PlayerApp::openListEditor() {
    if (listEditor_) return;
    listEditor_ = CreateDialogParamW(module_.instance(), kDialogListEditor, mainWindow(), &ListEditorDialog::dialogProc,
                                     reinterpret_cast<LPARAM>(list_.get()));
    if (!listEditor_) return;
    ShowWindow(listEditor_, SW_SHOW);
    UpdateWindow(listEditor_);
}

void PlayerApp::openAboutDialog() {
    if (aboutDialog_) return;
    aboutDialog_ = CreateDialogParamW(module_.instance(), kDialogAbout, mainWindow(), &AboutDialog::procedure,
                                      reinterpret_cast<LPARAM>(this));
    if (!aboutDialog_) return;
    ShowWindow(aboutDialog_, SW_SHOW);
    UpdateWindow(aboutDialog_);
}

void PlayerApp::onCloseDialog(HWND dialog) {
    if (!dialog) return;
    if (dialog == listEditor_) {
        listEditor_ = nullptr;
        DestroyWindow(dialog);
    } else if (dialog == aboutDialog_) {
        aboutDialog_ = nullptr;
        DestroyWindow(dialog);
    }
}

void PlayerApp::updateControls() {
    const uint32_t state = transportState();
    const bool nonEmpty = !list_->empty();
    HINSTANCE instance = module_.instance();
    if (playButton_)
        SendMessageW(playButton_, BM_SETIMAGE, IMAGE_ICON,
                     reinterpret_cast<LPARAM>(LoadIconW(instance, state == kStatePlaying ? kIconPause : kIconPlay)));

    HMENU menu = module_.menu();
    const UINT byCommand = MF_BYCOMMAND;
    const bool stopped = state == kStateStopped;
    EnableMenuItem(menu, kCmdPlay, byCommand | (stopped && nonEmpty ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(menu, kCmdStop, byCommand | (nonEmpty ? MF_ENABLED : MF_GRAYED));
    EnableMenuItem(menu, kCmdPause, byCommand | (stopped ? MF_GRAYED : MF_ENABLED));
    CheckMenuItem(menu, kCmdPause, byCommand | (state == kStatePaused ? MF_CHECKED : MF_UNCHECKED));
    if (mainWindow()) DrawMenuBar(mainWindow());

    for (HWND control : {playButton_, stopButton_, seekSlider_})
        if (control) EnableWindow(control, nonEmpty ? TRUE : FALSE);
    updateReadout(true);
}

void PlayerApp::updateReadout(bool recomputeLength) {
    const uint32_t length = recomputeLength ? list_->recomputePlayLength() : list_->playLength();
    const uint32_t now = masterClock_.elapsed();
    char text[64];
    std::snprintf(text, sizeof(text), "%02d:%02d / %02d:%02d", static_cast<int>(now / 1000 / 60),
                  static_cast<int>(now / 1000 % 60), static_cast<int>(length / 1000 / 60),
                  static_cast<int>(length / 1000 % 60));
    std::u16string wide(text, text + std::char_traits<char>::length(text));
    if (timeText_) SetWindowTextW(timeText_, wide.c_str());

    if (flags_.load() & kSliderFollowsClockFlag) {
        const auto position = length == 0 ? 0 : static_cast<LPARAM>(static_cast<double>(now) / length * kSliderRange);
        if (seekSlider_) SendMessageW(seekSlider_, TBM_SETPOS, TRUE, position);
    }
    if (length != 0 && now >= length) PostMessageW(mainWindow(), kEndOfTimeLineMessage, 0, 0);
}
