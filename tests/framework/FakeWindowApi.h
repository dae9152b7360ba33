#pragma once
// A window system in memory for the framework's window tests: classes, windows and the
// messages the framework relies on (WM_CREATE with its creation parameter from
// CreateWindowEx, WM_DESTROY from DestroyWindow), with every call recorded.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "framework/WindowApi.h"

struct FakeWindow {
    std::u16string className;
    std::u16string title;
    DWORD exStyle = 0;
    DWORD style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    void* param = nullptr;
    WNDPROC procedure = nullptr;
    int shownWith = -1;
    bool updated = false;
};

struct FakeClass {
    WNDCLASSEXW wc{};
    std::u16string name;
};

class FakeWindowSystem {
public:
    // The frame AdjustWindowRectEx adds for a captioned window, and the menu bar height.
    static constexpr RECT kFrame{8, 31, 8, 8};
    static constexpr LONG kMenuHeight = 20;
    static constexpr LRESULT kDefaultResult = 0xDEF;

    FakeWindowSystem() {
        current() = this;
        WindowApi api;
        api.DefWindowProc = [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT {
            current()->defaultMessages.push_back(m);
            return kDefaultResult;
        };
        api.PostQuitMessage = [](int code) { current()->quitCodes.push_back(code); };
        api.SendMessage = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            auto it = current()->windows.find(w);
            return it == current()->windows.end() ? 0 : it->second.procedure(w, m, wp, lp);
        };
        api.RegisterClassEx = [](const WNDCLASSEXW* wc) -> ATOM { return current()->registerClass(*wc); };
        api.UnregisterClass = [](LPCWSTR name, HINSTANCE) -> BOOL { return current()->classes.erase(name) > 0; };
        api.CreateWindowEx = [](DWORD ex, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y, int w, int h, HWND,
                                HMENU menu, HINSTANCE inst, void* param) -> HWND {
            return current()->create(ex, cls, title, style, x, y, w, h, menu, inst, param);
        };
        api.DestroyWindow = [](HWND w) -> BOOL { return current()->destroy(w); };
        api.AdjustWindowRectEx = [](RECT* r, DWORD style, BOOL menu, DWORD) -> BOOL {
            if ((style & WS_CAPTION) == WS_CAPTION) {
                r->left -= kFrame.left;
                r->top -= kFrame.top;
                r->right += kFrame.right;
                r->bottom += kFrame.bottom;
            }
            if (menu) r->top -= kMenuHeight;
            return TRUE;
        };
        api.ShowWindow = [](HWND w, int cmd) -> BOOL {
            current()->windows[w].shownWith = cmd;
            return TRUE;
        };
        api.UpdateWindow = [](HWND w) -> BOOL {
            current()->windows[w].updated = true;
            return TRUE;
        };
        api.GetStockObject = [](int id) -> HGDIOBJ { return reinterpret_cast<HGDIOBJ>(uintptr_t(0x5000 + id)); };
        api.LoadIcon = [](HINSTANCE inst, UINT id) -> HICON {
            return inst ? nullptr : reinterpret_cast<HICON>(uintptr_t(0x6000 + id));
        };
        api.LoadCursor = [](HINSTANCE inst, UINT id) -> HCURSOR {
            return inst ? nullptr : reinterpret_cast<HCURSOR>(uintptr_t(0x7000 + id));
        };
        installWindowApi(api);
    }
    ~FakeWindowSystem() {
        uninstallWindowApi();
        current() = nullptr;
    }

    static HBRUSH stockBrush(int id) { return static_cast<HBRUSH>(GetStockObject(id)); }

    ATOM registerClass(const WNDCLASSEXW& wc) {
        if (refuseClasses || classes.count(wc.lpszClassName)) return 0;
        FakeClass& c = classes[wc.lpszClassName];
        c.wc = wc;
        c.name = wc.lpszClassName;
        c.wc.lpszClassName = c.name.c_str();
        return nextAtom++;
    }

    HWND create(DWORD ex, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y, int w, int h, HMENU menu,
                HINSTANCE inst, void* param) {
        auto c = classes.find(cls);
        if (refuseWindows || c == classes.end()) return nullptr;
        HWND handle = reinterpret_cast<HWND>(uintptr_t(0x1000 + windows.size() + destroyed.size()));
        FakeWindow fw{cls, title ? title : u"", ex, style, x, y, w, h, menu, inst, param, c->second.wc.lpfnWndProc};
        windows[handle] = fw;
        CREATESTRUCTW cs{param, inst, menu, nullptr, h, w, y, x, static_cast<LONG>(style), title, cls, ex};
        if (fw.procedure(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
            windows.erase(handle);
            return nullptr;
        }
        return handle;
    }

    BOOL destroy(HWND w) {
        auto it = windows.find(w);
        if (it == windows.end()) return FALSE;
        it->second.procedure(w, WM_DESTROY, 0, 0);
        destroyed.push_back(w);
        windows.erase(w);
        return TRUE;
    }

    static FakeWindowSystem*& current() {
        static FakeWindowSystem* c = nullptr;
        return c;
    }

    std::map<std::u16string, FakeClass> classes;
    std::map<HWND, FakeWindow> windows;
    std::vector<HWND> destroyed;
    std::vector<UINT> defaultMessages;
    std::vector<int> quitCodes;
    bool refuseClasses = false;
    bool refuseWindows = false;
    ATOM nextAtom = 0xC001;
};
