#include "framework/Module.h"

#include <cstdint>

Module::Module(HINSTANCE instance, HINSTANCE, LPCWSTR commandLine, int showCommand)
    : instance_(instance), showCommand_(showCommand), dispatcher_(std::make_unique<MessageDispatcher>()) {
    if (commandLine) commandLine_ = std::u16string(commandLine);
}

Module::~Module() {
    if (classAtom_ != 0) UnregisterClassW(className_.c_str(), instance_);
}

bool Module::registerClass(LPCWSTR className, WNDPROC procedure, std::optional<UINT> style, HBRUSH background,
                           HICON icon, HCURSOR cursor, HMENU menu) {
    if (classAtom_ != 0 || !className || !*className) return false;
    HICON classIcon = icon ? icon : LoadIconW(nullptr, IDI_APPLICATION);
    WNDCLASSEXW wc{};
    wc.style = style.value_or(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS);
    wc.lpfnWndProc = procedure ? procedure : &MessageDispatcher::windowProcedure;
    wc.hInstance = instance_;
    wc.hIcon = classIcon;
    wc.hIconSm = classIcon;
    wc.hCursor = cursor ? cursor : LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = background ? background : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszMenuName = nullptr;  // the menu is given to the window itself
    wc.lpszClassName = className;
    ATOM atom = RegisterClassExW(&wc);
    if (atom == 0) return false;
    className_ = className;
    menu_ = menu;
    classAtom_ = atom;
    return true;
}

bool Module::createWindow(DWORD exStyle, DWORD style, int x, int y, int width, int height) {
    if (classAtom_ == 0 || mainWindow_) return false;
    if (width != CW_USEDEFAULT && height != CW_USEDEFAULT) {
        RECT r{0, 0, width, height};
        if (!AdjustWindowRectEx(&r, style, menu_ ? TRUE : FALSE, exStyle)) return false;
        // The frame reaches left of and above the client origin: grow by that much and
        // move a given position back, so the client area lands where it was asked for.
        int64_t left = r.left, top = r.top, right = r.right, bottom = r.bottom;
        int64_t newX = x, newY = y;
        if (left < 0) {
            if (x != CW_USEDEFAULT) newX += left;
            right -= left;
            left = 0;
        }
        if (top < 0) {
            if (y != CW_USEDEFAULT) newY += top;
            bottom -= top;
            top = 0;
        }
        // A moved position must not land on the "default" marker or outside the range.
        auto fitsPosition = [](int given, int64_t v) {
            return given == CW_USEDEFAULT || (v > INT32_MIN && v <= INT32_MAX);
        };
        auto fitsSize = [](int64_t v) { return v <= INT32_MAX; };
        if (!fitsPosition(x, newX) || !fitsPosition(y, newY) || !fitsSize(right - left) || !fitsSize(bottom - top))
            return false;
        x = static_cast<int>(newX);
        y = static_cast<int>(newY);
        width = static_cast<int>(right - left);
        height = static_cast<int>(bottom - top);
    }
    HWND window = CreateWindowExW(exStyle, className_.c_str(), className_.c_str(), style, x, y, width, height, nullptr,
                                  menu_, instance_, dispatcher_.get());
    if (!window) return false;
    mainWindow_ = window;
    ShowWindow(window, showCommand_);
    UpdateWindow(window);
    return true;
}
