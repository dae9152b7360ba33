#include "framework/WindowApi.h"

#include <atomic>
#include <memory>
#include <mutex>
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
