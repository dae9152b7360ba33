#pragma once
// The modeless list editor (dialog resource 108): the play list as a table, the current
// item's rectangles, opacity, volume, pan and offset, the background colour and the
// video area's size. Changes to an item apply at once; list changes are asked of the
// main window (which changes the list and answers with list changed).
//
// The application opens it with
//   CreateDialogParamW(instance, ListEditorDialog::kResourceId, mainWindow,
//                      &ListEditorDialog::dialogProc, reinterpret_cast<LPARAM>(&playList));
// after registerListEditorResource(), and destroys it on the close message it posts.
// One editor exists at a time; everything runs on the user-interface thread.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/WindowApi.h"

class PlayList;
class PlayItem;

namespace ListEditorIds {
constexpr int kClose = 1001;
constexpr int kList = 1011;
constexpr int kMoveUp = 1012;
constexpr int kMoveDown = 1013;
constexpr int kAdd = 1014;
constexpr int kDelete = 1015;
constexpr int kClear = 1016;
constexpr int kPath = 1021;
constexpr int kSourceLeft = 1022;  // .. 1025: left, top, right, bottom
constexpr int kResetSource = 1026;
constexpr int kDestLeft = 1027;  // .. 1030
constexpr int kResetDest = 1031;
constexpr int kOpacity = 1032;
constexpr int kVolume = 1033;
constexpr int kPan = 1034;
constexpr int kOffset = 1035;
constexpr int kOffsetUpdate = 1036;
constexpr int kBackgroundLabel[3] = {1041, 1043, 1045};
constexpr int kBackgroundTrackbar[3] = {1042, 1044, 1046};
constexpr int kAreaWidth = 1047;
constexpr int kAreaHeight = 1048;
constexpr int kFitLargest = 1049;
constexpr int kResizeWindow = 1050;
}  // namespace ListEditorIds

// Registers dialog resource 108 (the control table of the editor).
void registerListEditorResource();

class ListEditorDialog {
public:
    static constexpr UINT kResourceId = 108;
    // Posted to the editor: list changed (lParam = id to select, 0 none) and window size
    // changed. Posted by the editor to the main window: list command (wParam = button
    // id, lParam = current id or 0), offset changed (lParam = id), close (lParam = dialog).
    static constexpr UINT kListChangedMessage = 0x8009;
    static constexpr UINT kWindowSizeChangedMessage = 0x800B;
    static constexpr UINT kListCommandMessage = 0x8009;
    static constexpr UINT kOffsetChangedMessage = 0x800A;
    static constexpr UINT kCloseDialogMessage = 0x8002;

    static INT_PTR dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // The open editor's current item id (0 = none), and whether one is open.
    static int32_t currentId();
    static bool isOpen();

private:
    ListEditorDialog(HWND dialog, PlayList& list);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

    void initialise();
    void onListChanged(LPARAM selectId);
    void onItemChanged(const struct NMLISTVIEW& change);
    void onCommand(int id, WORD code);
    void onScroll(HWND trackbar);

    void insertRows();
    void refreshRow(int32_t id);
    void setRowTexts(int row, PlayItem& item);
    int rowOf(int32_t id);
    void selectRow(int row);

    void fillFields(PlayItem& item);
    void clearFields();
    void resetVideoGroup();
    void resetAudioGroup();
    void enableGroup(const int* ids, size_t count, bool enable);
    void applyFields();
    void resetRect(bool source);
    void updateOffset();
    void sanitiseField(int id);

    std::u16string fieldText(int id);
    void setFieldText(int id, const std::u16string& text);
    void setFieldSigned(int id, int64_t value);
    int trackbarPosition(int id);
    void setTrackbarPosition(int id, int position);
    void setBackgroundLabel(int channel, float value);
    void postToMain(UINT message, WPARAM wParam, LPARAM lParam);

    HWND dialog_;
    PlayList& list_;
    int32_t currentId_ = 0;
    bool filling_ = false;
};
