#pragma once
// The modeless about dialog (resource 109): the program name and version, a one-line
// notice and the program icon. It never destroys itself: closing posts 0x8002 with its
// own window to the main window, which destroys it.
#include "framework/WindowApi.h"

class AboutDialog {
public:
    static constexpr int kCloseId = 1001;
    static constexpr int kTitleId = 1081;
    static constexpr int kIconId = 1082;
    static constexpr int kNoticeId = 1083;

    // The dialog procedure; WM_INITDIALOG's lParam is the PlayerApp.
    static INT_PTR procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};
