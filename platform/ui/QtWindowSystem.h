#pragma once
// The window system of the program on Qt Widgets: registered classes, windows of those
// classes (top-level and child), the common controls, posted messages from any thread,
// window timers and the message loop, installed as the process-wide WindowApi table.
//
// One instance per process, made on the Qt GUI thread after the QApplication; that thread
// is the user-interface thread. Handles are numbers that are never reused, so a message
// posted to a window that has gone is dropped rather than delivered to a stranger.
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "framework/WindowApi.h"
#include "framework/WindowResources.h"

class QMenuBar;

class QFont;
class QTimer;
class QWindow;
class QWidget;
class UiControl;
class UiMenu;
class WindowFrame;

class QtWindowSystem : public QObject {
public:
    // Installs the table; the QApplication must exist and this must be its thread.
    QtWindowSystem();
    // Destroys the windows that are left and uninstalls the table.
    ~QtWindowSystem() override;

    static QtWindowSystem* instance();

    // The widget that shows a window (for a class window or dialog: its client area), or null.
    QWidget* widgetOf(HWND window) const;
    // The top-level widget of a window (the frame with its menu bar), or null for a child.
    QWidget* frameOf(HWND window) const;
    // The native window over a class window's client area (see NativeSurface.h).
    QWindow* nativeWindowOf(HWND window, void (*prepare)(QWindow*));
    // The window whose widget this is (client, frame or control), or null.
    HWND handleOf(const QWidget* widget) const;
    // The widgets of a menu's items (after SetMenu), for tests and accessibility.
    QMenuBar* menuBarOf(HWND window) const;
    // A handle for an icon, valid for the life of the window system.
    HICON addIcon(const QIcon& icon);
    // Makes LoadIcon (instance given, resourceId) answer this icon.
    void registerIconResource(UINT resourceId, const QIcon& icon);
    QIcon iconOf(HICON icon) const;
    // A registered icon resource (any instance), or the system application icon (no instance).
    HICON loadIcon(HINSTANCE instance, UINT resourceId);

    // What a message box asks; a test may answer it instead of a person.
    struct MessageBoxRequest {
        HWND owner;
        std::u16string text;
        std::u16string caption;
        UINT type;
    };
    using MessageBoxAnswerer = std::function<int(const MessageBoxRequest&)>;
    // With an answerer set, message boxes are not shown: it gives the result.
    void setMessageBoxAnswerer(MessageBoxAnswerer answerer) { answerer_ = std::move(answerer); }

    // What an open-file dialog offers; a test may choose instead of a person (an empty
    // answer is a cancel).
    struct OpenFileRequest {
        HWND owner;
        std::u16string title;
        std::vector<QString> filters;  // "description (patterns)", in the given order
        int selectedFilter;            // index into filters
    };
    using OpenFileAnswerer = std::function<std::u16string(const OpenFileRequest&)>;
    void setOpenFileAnswerer(OpenFileAnswerer answerer) { fileAnswerer_ = std::move(answerer); }
    // The filters of a double-NUL-terminated platform filter list, as Qt name filters.
    static std::vector<QString> parseFilters(LPCWSTR filter);

    // The table entries (also usable directly on the user-interface thread).
    LRESULT defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void postQuitMessage(int exitCode);
    LRESULT sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    ATOM registerClass(const WNDCLASSEXW& windowClass);
    BOOL unregisterClass(LPCWSTR className);
    HWND createWindow(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                      int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
    BOOL destroyWindow(HWND window);
    BOOL showWindow(HWND window, int showCommand);
    BOOL getClientRect(HWND window, RECT* rect);
    BOOL getWindowRect(HWND window, RECT* rect);
    BOOL getMessage(MSG* message);
    LRESULT dispatchMessage(const MSG* message);
    UINT_PTR setTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure);
    BOOL killTimer(HWND window, UINT_PTR id);
    BOOL setWindowText(HWND window, LPCWSTR text);
    int getWindowText(HWND window, LPWSTR buffer, int capacity);
    BOOL enableWindow(HWND window, BOOL enable);
    BOOL isWindowEnabled(HWND window);
    BOOL isWindow(HWND window);
    BOOL setWindowPos(HWND window, int x, int y, int width, int height, UINT flags);
    HWND getDlgItem(HWND parent, int id);
    int messageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
    BOOL getOpenFileName(OPENFILENAMEW* request);
    BOOL adjustWindowRect(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
    int systemMetric(int index);
    HMENU loadMenu(UINT resourceId);
    BOOL destroyMenu(HMENU menu);
    BOOL setMenu(HWND window, HMENU menu);
    HMENU getMenu(HWND window);
    UiMenu* findMenu(HMENU menu) const;
    BOOL drawMenuBar(HWND window);
    HWND createDialog(UINT resourceId, HWND owner, DLGPROC procedure, LPARAM initParam);
    BOOL mapDialogRect(HWND dialog, RECT* rect);
    HFONT createFont(const LOGFONTW& font);
    BOOL deleteObject(HGDIOBJ object);
    // The font a handle stands for, or null.
    const QFont* fontOf(HFONT font) const;
    BOOL invalidateRect(HWND window, const RECT* rect);
    BOOL drawIcon(HDC dc, int x, int y, HICON icon, int width, int height, UINT flags);
    HWND getParent(HWND window);
    HWND setFocus(HWND window);
    HWND getFocus();
    BOOL isWindowVisible(HWND window);
    LONG_PTR getWindowLong(HWND window, int index);
    LONG_PTR setWindowLong(HWND window, int index, LONG_PTR value);
    // The height of a one-line menu bar in the program's font.
    int menuBarHeight();
    // The frame, caption and border a top-level window of this style is given around its
    // inner area, as left, top, right, bottom thicknesses (the menu bar not included).
    static RECT frameMargins(DWORD style, DWORD exStyle);

    // A dialog's keyboard command: IDCANCEL (Esc), or 0 for Enter (the default button,
    // else IDOK). Nothing happens when that button is disabled.
    void dialogCommand(HWND dialog, int id);
    // Called by the class windows' widgets for their Qt events.
    LRESULT deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void postDrop(HWND window, std::vector<std::u16string> files, POINT point);

protected:
    bool event(QEvent* e) override;

private:
    struct WindowClass {
        std::u16string name;
        WNDCLASSEXW wc{};
        ATOM atom = 0;
    };
    struct Window {
        HWND handle = nullptr;
        HWND parent = nullptr;
        HWND owner = nullptr;                      // a top-level window's owner
        const WindowClass* windowClass = nullptr;  // null for a control
        WNDPROC procedure = nullptr;
        DWORD style = 0;
        DWORD exStyle = 0;
        int id = 0;
        std::u16string text;
        QPointer<QWidget> widget;
        QPointer<WindowFrame> frame;  // top-level windows only
        std::unique_ptr<UiControl> control;
        DLGPROC dialogProcedure = nullptr;  // dialogs only
        QSize baseUnits;                    // dialogs only: the dialog font's base units
        HFONT ownFont = nullptr;            // a font made for this window, deleted with it
        HFONT font = nullptr;               // WM_SETFONT
        HMENU menu = nullptr;
        HICON icons[2] = {nullptr, nullptr};  // ICON_SMALL, ICON_BIG
        LONG_PTR userData = 0;
    };
    struct TimerKey {
        HWND window;
        UINT_PTR id;
        bool operator<(const TimerKey& o) const { return window != o.window ? window < o.window : id < o.id; }
    };
    struct Timer {
        QTimer* timer = nullptr;
        TIMERPROC procedure = nullptr;
        bool queued = false;  // a WM_TIMER of it waits in the queue (they do not pile up)
    };

    bool onUiThread() const { return std::this_thread::get_id() == uiThread_; }
    std::shared_ptr<Window> find(HWND window) const;
    WindowClass* findClass(const std::u16string& name);
    LRESULT callProcedure(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam);
    // The window's procedure, its dialog procedure (then the default dialog handling) or
    // its control's own handling.
    LRESULT dispatchTo(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT defDialogProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT controlMessage(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam);
    void attachMenu(const std::shared_ptr<Window>& w, HMENU menu);
    QSize innerSizeFor(const std::shared_ptr<Window>& w, int width, int height) const;
    void applyFont(const std::shared_ptr<Window>& w, HFONT font);
    void applyMinMax(const std::shared_ptr<Window>& w);
    void destroyTree(const std::shared_ptr<Window>& w);
    void enqueue(const MSG& message);
    bool takeMessage(MSG* message);
    void requestWake();
    void drainQueue();
    void buryWidget(QWidget* widget);
    void flushGraveyard();

    std::thread::id uiThread_;
    std::vector<std::unique_ptr<WindowClass>> classes_;
    ATOM nextAtom_ = 0xC000;
    std::unordered_map<HWND, std::shared_ptr<Window>> windows_;
    uintptr_t nextHandle_ = 0x10000;
    std::map<TimerKey, Timer> timers_;
    UINT_PTR nextThreadTimerId_ = 0x7F00;
    std::vector<std::unique_ptr<QIcon>> icons_;
    std::map<UINT, HICON> iconResources_;
    HICON applicationIcon_ = nullptr;
    MessageBoxAnswerer answerer_;
    OpenFileAnswerer fileAnswerer_;
    std::vector<QPointer<QWidget>> graveyard_;
    std::unordered_map<HMENU, std::unique_ptr<UiMenu>> menus_;  // roots
    std::unordered_map<HFONT, std::unique_ptr<QFont>> fonts_;
    std::map<UINT, std::pair<std::shared_ptr<const IconResource>, HICON>> loadedIcons_;
    int menuBarHeight_ = 0;
    int callDepth_ = 0;
    int waitingDepth_ = -1;  // the call depth at which GetMessage waits, -1 when none waits

    // Shared with other threads.
    mutable std::mutex liveLock_;
    std::unordered_set<HWND> live_;
    std::mutex queueLock_;
    std::deque<MSG> queue_;
    bool quitPosted_ = false;
    int quitCode_ = 0;
    std::atomic<bool> wakePending_{false};
};
