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
