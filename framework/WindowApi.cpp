#include "framework/WindowApi.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::atomic<const WindowApi*> installed{nullptr};

// Replaced tables are kept: a call on another thread may still be reading one.
std::mutex& keptMutex() {
    static std::mutex m;
    return m;
}
std::vector<std::unique_ptr<WindowApi>>& keptTables() {
    static auto* kept = new std::vector<std::unique_ptr<WindowApi>>;
    return *kept;
}

// The entry of the installed table, or null.
template <class F>
F entry(F WindowApi::*member) {
    const WindowApi* api = installed.load(std::memory_order_acquire);
    return api ? api->*member : nullptr;
}

}  // namespace

void installWindowApi(const WindowApi& table) {
    auto copy = std::make_unique<WindowApi>(table);
    std::lock_guard lock(keptMutex());
    installed.store(copy.get(), std::memory_order_release);
    keptTables().push_back(std::move(copy));
}

void uninstallWindowApi() {
    installed.store(nullptr, std::memory_order_release);
}

const WindowApi* windowApi() {
    return installed.load(std::memory_order_acquire);
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto f = entry(&WindowApi::DefWindowProc);
    return f ? f(window, message, wParam, lParam) : 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto f = entry(&WindowApi::PostMessage);
    return f ? f(window, message, wParam, lParam) : FALSE;
}

void PostQuitMessage(int exitCode) {
    if (auto f = entry(&WindowApi::PostQuitMessage)) f(exitCode);
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto f = entry(&WindowApi::SendMessage);
    return f ? f(window, message, wParam, lParam) : 0;
}

ATOM RegisterClassExW(const WNDCLASSEXW* windowClass) {
    auto f = entry(&WindowApi::RegisterClassEx);
    return f && windowClass ? f(windowClass) : 0;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance) {
    auto f = entry(&WindowApi::UnregisterClass);
    return f && className ? f(className, instance) : FALSE;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    auto f = entry(&WindowApi::CreateWindowEx);
    if (!f || !className) return nullptr;
    return f(exStyle, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}

BOOL DestroyWindow(HWND window) {
    auto f = entry(&WindowApi::DestroyWindow);
    return f && window ? f(window) : FALSE;
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) {
    auto f = entry(&WindowApi::AdjustWindowRectEx);
    return f && rect ? f(rect, style, menu, exStyle) : FALSE;
}

BOOL ShowWindow(HWND window, int showCommand) {
    auto f = entry(&WindowApi::ShowWindow);
    return f && window ? f(window, showCommand) : FALSE;
}

BOOL UpdateWindow(HWND window) {
    auto f = entry(&WindowApi::UpdateWindow);
    return f && window ? f(window) : FALSE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    auto f = entry(&WindowApi::GetClientRect);
    return f && window && rect ? f(window, rect) : FALSE;
}

HGDIOBJ GetStockObject(int object) {
    auto f = entry(&WindowApi::GetStockObject);
    return f ? f(object) : nullptr;
}

HICON LoadIconW(HINSTANCE instance, UINT resourceId) {
    auto f = entry(&WindowApi::LoadIcon);
    return f ? f(instance, resourceId) : nullptr;
}

HCURSOR LoadCursorW(HINSTANCE instance, UINT resourceId) {
    auto f = entry(&WindowApi::LoadCursor);
    return f ? f(instance, resourceId) : nullptr;
}

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    auto f = entry(&WindowApi::GetMessage);
    return f && message ? f(message, window, filterMin, filterMax) : -1;
}

BOOL TranslateMessage(const MSG* message) {
    auto f = entry(&WindowApi::TranslateMessage);
    return f && message ? f(message) : FALSE;
}

LRESULT DispatchMessageW(const MSG* message) {
    auto f = entry(&WindowApi::DispatchMessage);
    return f && message ? f(message) : 0;
}

BOOL IsDialogMessageW(HWND dialog, MSG* message) {
    auto f = entry(&WindowApi::IsDialogMessage);
    return f && dialog && message ? f(dialog, message) : FALSE;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure) {
    auto f = entry(&WindowApi::SetTimer);
    return f ? f(window, id, elapseMs, procedure) : 0;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    auto f = entry(&WindowApi::KillTimer);
    return f ? f(window, id) : FALSE;
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    auto f = entry(&WindowApi::SetWindowText);
    return f && window ? f(window, text) : FALSE;
}

int GetWindowTextW(HWND window, LPWSTR buffer, int capacity) {
    auto f = entry(&WindowApi::GetWindowText);
    if (buffer && capacity > 0) buffer[0] = 0;
    return f && window && buffer && capacity > 0 ? f(window, buffer, capacity) : 0;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    auto f = entry(&WindowApi::EnableWindow);
    return f && window ? f(window, enable) : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
    auto f = entry(&WindowApi::IsWindowEnabled);
    return f && window ? f(window) : FALSE;
}

BOOL IsWindow(HWND window) {
    auto f = entry(&WindowApi::IsWindow);
    return f && window ? f(window) : FALSE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    auto f = entry(&WindowApi::MoveWindow);
    return f && window ? f(window, x, y, width, height, repaint) : FALSE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    auto f = entry(&WindowApi::SetWindowPos);
    return f && window ? f(window, insertAfter, x, y, width, height, flags) : FALSE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    auto f = entry(&WindowApi::GetWindowRect);
    return f && window && rect ? f(window, rect) : FALSE;
}

HWND GetDlgItem(HWND parent, int id) {
    auto f = entry(&WindowApi::GetDlgItem);
    return f && parent ? f(parent, id) : nullptr;
}

UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR buffer, UINT capacity) {
    auto f = entry(&WindowApi::DragQueryFile);
    return f && drop ? f(drop, index, buffer, capacity) : 0;
}

void DragFinish(HDROP drop) {
    if (auto f = entry(&WindowApi::DragFinish); f && drop) f(drop);
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    auto f = entry(&WindowApi::MessageBox);
    return f ? f(owner, text ? text : u"", caption ? caption : u"", type) : 0;
}

BOOL GetOpenFileNameW(OPENFILENAMEW* request) {
    auto f = entry(&WindowApi::GetOpenFileName);
    return f && request && request->lpstrFile && request->nMaxFile > 0 ? f(request) : FALSE;
}

// Menus.

HMENU LoadMenuW(HINSTANCE instance, UINT resourceId) {
    auto f = entry(&WindowApi::LoadMenu);
    return f ? f(instance, resourceId) : nullptr;
}

BOOL DestroyMenu(HMENU menu) {
    auto f = entry(&WindowApi::DestroyMenu);
    return f && menu ? f(menu) : FALSE;
}

BOOL SetMenu(HWND window, HMENU menu) {
    auto f = entry(&WindowApi::SetMenu);
    return f && window ? f(window, menu) : FALSE;
}

HMENU GetMenu(HWND window) {
    auto f = entry(&WindowApi::GetMenu);
    return f && window ? f(window) : nullptr;
}

HMENU GetSubMenu(HMENU menu, int position) {
    auto f = entry(&WindowApi::GetSubMenu);
    return f && menu ? f(menu, position) : nullptr;
}

DWORD EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    auto f = entry(&WindowApi::EnableMenuItem);
    return f && menu ? f(menu, item, flags) : static_cast<DWORD>(-1);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    auto f = entry(&WindowApi::CheckMenuItem);
    return f && menu ? f(menu, item, flags) : static_cast<DWORD>(-1);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    auto f = entry(&WindowApi::GetMenuState);
    return f && menu ? f(menu, item, flags) : static_cast<UINT>(-1);
}

BOOL DrawMenuBar(HWND window) {
    auto f = entry(&WindowApi::DrawMenuBar);
    return f && window ? f(window) : FALSE;
}

// Dialogs.

HWND CreateDialogParamW(HINSTANCE instance, UINT resourceId, HWND owner, DLGPROC procedure, LPARAM initParam) {
    auto f = entry(&WindowApi::CreateDialogParam);
    return f ? f(instance, resourceId, owner, procedure, initParam) : nullptr;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
    auto f = entry(&WindowApi::MapDialogRect);
    return f && dialog && rect ? f(dialog, rect) : FALSE;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowTextW(item, text ? text : u"") : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int capacity) {
    if (buffer && capacity > 0) buffer[0] = 0;
    HWND item = GetDlgItem(dialog, id);
    if (!item) return 0;
    int count = GetWindowTextW(item, buffer, capacity);
    return count > 0 ? static_cast<UINT>(count) : 0;
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    std::u16string text;
    bool negative = isSigned && static_cast<int32_t>(value) < 0;
    uint64_t magnitude = negative ? uint64_t(0) - static_cast<int64_t>(static_cast<int32_t>(value)) : value;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude);
    if (negative) text.insert(text.begin(), u'-');
    return SetDlgItemTextW(dialog, id, text.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated) *translated = FALSE;
    HWND item = GetDlgItem(dialog, id);
    if (!item) return 0;
    // Numbers are short: a field longer than this is not one.
    char16_t text[64];
    GetWindowTextW(item, text, 64);
    const char16_t* p = text;
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (blank(*p)) ++p;
    bool negative = false;
    if (isSigned && *p == u'-') {
        negative = true;
        ++p;
    }
    if (*p < u'0' || *p > u'9') return 0;
    uint64_t value = 0;
    for (; *p >= u'0' && *p <= u'9'; ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - u'0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    while (blank(*p)) ++p;
    if (*p) return 0;
    if (isSigned) {
        if (negative ? value > 0x80000000ull : value > 0x7FFFFFFFull) return 0;
        if (translated) *translated = TRUE;
        return negative ? static_cast<UINT>(0u - static_cast<uint32_t>(value)) : static_cast<UINT>(value);
    }
    if (translated) *translated = TRUE;
    return static_cast<UINT>(value);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SendMessageW(item, message, wParam, lParam) : 0;
}

// Fonts and the rest.

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCWSTR face) {
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWidth = width;
    font.lfEscapement = escapement;
    font.lfOrientation = orientation;
    font.lfWeight = weight;
    font.lfItalic = static_cast<BYTE>(italic);
    font.lfUnderline = static_cast<BYTE>(underline);
    font.lfStrikeOut = static_cast<BYTE>(strikeOut);
    font.lfCharSet = static_cast<BYTE>(charSet);
    font.lfOutPrecision = static_cast<BYTE>(outPrecision);
    font.lfClipPrecision = static_cast<BYTE>(clipPrecision);
    font.lfQuality = static_cast<BYTE>(quality);
    font.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
    // The face is cut to fit, never left unterminated.
    for (int i = 0; face && face[i] && i < LF_FACESIZE - 1; ++i) font.lfFaceName[i] = face[i];
    return CreateFontIndirectW(&font);
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
    auto f = entry(&WindowApi::CreateFontIndirect);
    return f && font ? f(font) : nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
    auto f = entry(&WindowApi::DeleteObject);
    return f && object ? f(object) : FALSE;
}

int GetSystemMetrics(int index) {
    auto f = entry(&WindowApi::GetSystemMetrics);
    return f ? f(index) : 0;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    auto f = entry(&WindowApi::InvalidateRect);
    return f && window ? f(window, rect, erase) : FALSE;
}

BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int width, int height, UINT step, HBRUSH flickerFree, UINT flags) {
    auto f = entry(&WindowApi::DrawIconEx);
    return f && dc && icon ? f(dc, x, y, icon, width, height, step, flickerFree, flags) : FALSE;
}

HWND GetParent(HWND window) {
    auto f = entry(&WindowApi::GetParent);
    return f && window ? f(window) : nullptr;
}

HWND SetFocus(HWND window) {
    auto f = entry(&WindowApi::SetFocus);
    return f ? f(window) : nullptr;
}

HWND GetFocus() {
    auto f = entry(&WindowApi::GetFocus);
    return f ? f() : nullptr;
}

BOOL IsWindowVisible(HWND window) {
    auto f = entry(&WindowApi::IsWindowVisible);
    return f && window ? f(window) : FALSE;
}

LONG_PTR GetWindowLongPtrW(HWND window, int index) {
    auto f = entry(&WindowApi::GetWindowLongPtr);
    return f && window ? f(window, index) : 0;
}

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    auto f = entry(&WindowApi::SetWindowLongPtr);
    return f && window ? f(window, index, value) : 0;
}
