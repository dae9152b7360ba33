#pragma once
// Shared by the window-system tests: one QApplication for the process, a window system
// per test, and a class whose procedure records every message it gets.
#include <QApplication>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "framework/WindowApi.h"
#include "platform/ui/QtWindowSystem.h"

struct RecordedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class UiTest {
public:
    static constexpr const char16_t* kClass = u"LayerdeckTestClass";

    UiTest() {
        static int argc = 1;
        static char name[] = "platform-ui-test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
        system_ = std::make_unique<QtWindowSystem>();
        current() = this;
        WNDCLASSEXW wc{};
        wc.lpfnWndProc = &UiTest::procedure;
        wc.lpszClassName = kClass;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        RegisterClassExW(&wc);
    }
    ~UiTest() {
        system_.reset();
        current() = nullptr;
    }

    static UiTest*& current() {
        static UiTest* test = nullptr;
        return test;
    }

    // Records, then asks the hook (when set) for the result; the default procedure otherwise.
    static LRESULT procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        UiTest* t = current();
        t->log.push_back({w, m, wp, lp});
        if (t->hook) {
            LRESULT result = 0;
            if (t->hook(w, m, wp, lp, result)) return result;
        }
        return DefWindowProcW(w, m, wp, lp);
    }

    // Runs the message loop until WM_QUIT and answers its code. A guard posts quit with
    // -99 if the loop would otherwise never end, so that a fault fails instead of hanging.
    static int runLoop() {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { PostQuitMessage(-99); });
        guard.start(30000);
        MSG msg;
        BOOL got;
        while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return got < 0 ? -98 : static_cast<int>(msg.wParam);
    }

    HWND createTop(DWORD style = WS_OVERLAPPEDWINDOW, DWORD exStyle = 0, void* param = nullptr) {
        return CreateWindowExW(exStyle, kClass, u"Layerdeck", style, 10, 10, 400, 300, nullptr, nullptr, nullptr,
                               param);
    }

    std::vector<UINT> messagesFor(HWND w) const {
        std::vector<UINT> out;
        for (auto& r : log)
            if (r.window == w) out.push_back(r.message);
        return out;
    }

    std::vector<RecordedMessage> log;
    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)> hook;
    std::unique_ptr<QtWindowSystem> system_;
};
