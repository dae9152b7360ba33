#include "app/AboutDialog.h"

#include <string>

#include "app/PlayerApp.h"
#include "app/Resources.h"

namespace {

PlayerApp* appOf(HWND dialog) {
    return reinterpret_cast<PlayerApp*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

}  // namespace

INT_PTR AboutDialog::procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* app = reinterpret_cast<PlayerApp*>(lParam);
            if (!app) return FALSE;
            SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
            HINSTANCE instance = app->module().instance();
            std::u16string title = loadResourceString(instance, PlayerApp::kStringTitle) + u" " +
                                   loadResourceString(instance, PlayerApp::kStringVersion);
            SetDlgItemTextW(dialog, kTitleId, title.c_str());
            SetDlgItemTextW(dialog, kNoticeId, loadResourceString(instance, PlayerApp::kStringNotice).c_str());
            return TRUE;
        }
        case WM_DRAWITEM: {
            const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            PlayerApp* app = appOf(dialog);
            if (wParam != static_cast<WPARAM>(kIconId) || !draw || !app) return FALSE;
            RECT client{};
            GetClientRect(draw->hwndItem, &client);
            DrawIconEx(draw->hDC, client.left, client.top,
                       LoadIconW(app->module().instance(), PlayerApp::kIconApplication), client.right - client.left,
                       client.bottom - client.top, 0, nullptr, DI_IMAGE);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) != kCloseId && LOWORD(wParam) != IDCANCEL) return FALSE;
            [[fallthrough]];
        case WM_CLOSE: {
            PlayerApp* app = appOf(dialog);
            if (!app) return FALSE;
            PostMessageW(app->mainWindow(), PlayerApp::kCloseDialogMessage, 0, reinterpret_cast<LPARAM>(dialog));
            return TRUE;
        }
        default:
            return FALSE;
    }
}
