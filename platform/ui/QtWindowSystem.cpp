#include "platform/ui/QtWindowSystem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "platform/ui/ClassWindowWidget.h"
#include "platform/ui/DroppedFiles.h"
#include "platform/ui/UiControls.h"

namespace {

QtWindowSystem* current = nullptr;

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

std::u16string copyText(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

QString toQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

DWORD messageTime() {
    using namespace std::chrono;
    return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Stock objects are small fixed handles; brushes among them map to colours.
constexpr uintptr_t kStockBase = 0x5000;
HGDIOBJ stockObject(int id) {
    if (id < 0 || id > DEFAULT_GUI_FONT) return nullptr;
    return reinterpret_cast<HGDIOBJ>(kStockBase + static_cast<uintptr_t>(id));
}
bool brushColour(HBRUSH brush, QColor& colour) {
    auto id = reinterpret_cast<uintptr_t>(brush) - kStockBase;
    switch (id) {
        case WHITE_BRUSH:
            colour = Qt::white;
            return true;
        case LTGRAY_BRUSH:
            colour = QColor(192, 192, 192);
            return true;
        case GRAY_BRUSH:
            colour = QColor(128, 128, 128);
            return true;
        case DKGRAY_BRUSH:
            colour = QColor(64, 64, 64);
            return true;
        case BLACK_BRUSH:
            colour = Qt::black;
            return true;
        default:
            return false;
    }
}

Qt::WindowFlags topLevelFlags(DWORD style) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if ((style & WS_CAPTION) == WS_CAPTION) flags |= Qt::WindowTitleHint;
    if (style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    if (style & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
    if ((style & WS_CAPTION) != WS_CAPTION && !(style & WS_THICKFRAME)) flags |= Qt::FramelessWindowHint;
    return flags;
}

// RAII count of procedure calls in progress.
struct CallScope {
    explicit CallScope(int& depth) : depth_(depth) { ++depth_; }
    ~CallScope() { --depth_; }
    int& depth_;
};

WindowApi makeTable() {
    WindowApi api;
    api.DefWindowProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) { return current->defWindowProc(w, m, wp, lp); };
    api.PostMessage = [](HWND w, UINT m, WPARAM wp, LPARAM lp) { return current->postMessage(w, m, wp, lp); };
    api.PostQuitMessage = [](int code) { current->postQuitMessage(code); };
    api.SendMessage = [](HWND w, UINT m, WPARAM wp, LPARAM lp) { return current->sendMessage(w, m, wp, lp); };
    api.RegisterClassEx = [](const WNDCLASSEXW* wc) { return current->registerClass(*wc); };
    api.UnregisterClass = [](LPCWSTR name, HINSTANCE) { return current->unregisterClass(name); };
    api.CreateWindowEx = [](DWORD ex, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y, int w, int h, HWND parent,
                            HMENU menu, HINSTANCE inst, void* param) {
        return current->createWindow(ex, cls, title, style, x, y, w, h, parent, menu, inst, param);
    };
    api.DestroyWindow = [](HWND w) { return current->destroyWindow(w); };
    // Qt and the desktop's window manager own the frame: the window is its client area.
    api.AdjustWindowRectEx = [](RECT*, DWORD, BOOL, DWORD) -> BOOL { return TRUE; };
    api.ShowWindow = [](HWND w, int cmd) { return current->showWindow(w, cmd); };
    api.UpdateWindow = [](HWND w) -> BOOL {
        QWidget* widget = current->widgetOf(w);
        if (!widget) return FALSE;
        widget->update();
        return TRUE;
    };
    api.GetClientRect = [](HWND w, RECT* r) { return current->getClientRect(w, r); };
    api.GetStockObject = [](int id) { return stockObject(id); };
    api.LoadIcon = [](HINSTANCE inst, UINT id) { return current->loadIcon(inst, id); };
    api.LoadCursor = [](HINSTANCE inst, UINT id) -> HCURSOR {
        return !inst && id == IDC_ARROW ? reinterpret_cast<HCURSOR>(uintptr_t(0x7000 + id)) : nullptr;
    };
    api.GetMessage = [](MSG* msg, HWND, UINT, UINT) { return current->getMessage(msg); };
    api.TranslateMessage = [](const MSG*) -> BOOL { return FALSE; };
    api.DispatchMessage = [](const MSG* msg) { return current->dispatchMessage(msg); };
    // Qt's dialogs do their own keyboard handling: nothing is taken from the loop.
    api.IsDialogMessage = [](HWND, MSG*) -> BOOL { return FALSE; };
    api.SetTimer = [](HWND w, UINT_PTR id, UINT ms, TIMERPROC proc) { return current->setTimer(w, id, ms, proc); };
    api.KillTimer = [](HWND w, UINT_PTR id) { return current->killTimer(w, id); };
    api.SetWindowText = [](HWND w, LPCWSTR text) { return current->setWindowText(w, text); };
    api.GetWindowText = [](HWND w, LPWSTR buffer, int capacity) { return current->getWindowText(w, buffer, capacity); };
    api.EnableWindow = [](HWND w, BOOL enable) { return current->enableWindow(w, enable); };
    api.IsWindowEnabled = [](HWND w) { return current->isWindowEnabled(w); };
    api.IsWindow = [](HWND w) { return current->isWindow(w); };
    api.MoveWindow = [](HWND w, int x, int y, int width, int height, BOOL) {
        return current->setWindowPos(w, x, y, width, height, SWP_NOZORDER);
    };
    api.SetWindowPos = [](HWND w, HWND, int x, int y, int width, int height, UINT flags) {
        return current->setWindowPos(w, x, y, width, height, flags);
    };
    api.GetWindowRect = [](HWND w, RECT* r) { return current->getWindowRect(w, r); };
    api.GetDlgItem = [](HWND parent, int id) { return current->getDlgItem(parent, id); };
    api.DragQueryFile = [](HDROP drop, UINT index, LPWSTR buffer, UINT capacity) {
        return DroppedFiles::fromHandle(drop)->query(index, buffer, capacity);
    };
    api.DragFinish = [](HDROP drop) { delete DroppedFiles::fromHandle(drop); };
    api.MessageBox = [](HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
        return current->messageBox(owner, text, caption, type);
    };
    api.GetOpenFileName = [](OPENFILENAMEW* request) { return current->getOpenFileName(request); };
    return api;
}

}  // namespace

QtWindowSystem::QtWindowSystem() : uiThread_(std::this_thread::get_id()) {
    current = this;
    installWindowApi(makeTable());
}

QtWindowSystem::~QtWindowSystem() {
    uninstallWindowApi();
    // Top-level windows first: destroying them takes their children along.
    std::vector<std::shared_ptr<Window>> tops;
    for (auto& [handle, w] : windows_)
        if (!w->parent) tops.push_back(w);
    for (auto& w : tops) destroyTree(w);
    for (auto& [key, t] : timers_) delete t.timer;
    timers_.clear();
    {
        std::lock_guard lock(queueLock_);
        for (const MSG& m : queue_)
            if (m.message == WM_DROPFILES) delete DroppedFiles::fromHandle(reinterpret_cast<HDROP>(m.wParam));
        queue_.clear();
    }
    callDepth_ = 0;
    flushGraveyard();
    if (current == this) current = nullptr;
}

QtWindowSystem* QtWindowSystem::instance() {
    return current;
}

std::shared_ptr<QtWindowSystem::Window> QtWindowSystem::find(HWND window) const {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : it->second;
}

QWidget* QtWindowSystem::widgetOf(HWND window) const {
    if (!onUiThread()) return nullptr;
    auto w = find(window);
    return w ? w->widget.data() : nullptr;
}

HICON QtWindowSystem::addIcon(const QIcon& icon) {
    icons_.push_back(std::make_unique<QIcon>(icon));
    return reinterpret_cast<HICON>(icons_.back().get());
}

void QtWindowSystem::registerIconResource(UINT resourceId, const QIcon& icon) {
    iconResources_[resourceId] = addIcon(icon);
}

HICON QtWindowSystem::loadIcon(HINSTANCE instance, UINT resourceId) {
    if (!instance) {
        if (resourceId != IDI_APPLICATION) return nullptr;
        if (!applicationIcon_) applicationIcon_ = addIcon(qApp->style()->standardIcon(QStyle::SP_DesktopIcon));
        return applicationIcon_;
    }
    auto it = iconResources_.find(resourceId);
    return it == iconResources_.end() ? nullptr : it->second;
}

QIcon QtWindowSystem::iconOf(HICON icon) const {
    for (const auto& i : icons_)
        if (reinterpret_cast<HICON>(i.get()) == icon) return *i;
    return QIcon();
}

// Classes.

QtWindowSystem::WindowClass* QtWindowSystem::findClass(const std::u16string& name) {
    for (auto& c : classes_)
        if (toQString(c->name).compare(toQString(name), Qt::CaseInsensitive) == 0) return c.get();
    return nullptr;
}

ATOM QtWindowSystem::registerClass(const WNDCLASSEXW& windowClass) {
    if (!onUiThread() || !windowClass.lpszClassName || !windowClass.lpfnWndProc) return 0;
    std::u16string name = windowClass.lpszClassName;
    if (name.empty() || findClass(name)) return 0;
    auto c = std::make_unique<WindowClass>();
    c->name = name;
    c->wc = windowClass;
    c->wc.lpszClassName = nullptr;  // the copied name is the one kept
    c->wc.lpszMenuName = nullptr;
    c->atom = nextAtom_++;
    classes_.push_back(std::move(c));
    return classes_.back()->atom;
}

BOOL QtWindowSystem::unregisterClass(LPCWSTR className) {
    if (!onUiThread() || !className) return FALSE;
    WindowClass* c = findClass(className);
    if (!c) return FALSE;
    for (auto& [handle, w] : windows_)
        if (w->windowClass == c) return FALSE;  // still in use
    std::erase_if(classes_, [c](const auto& p) { return p.get() == c; });
    return TRUE;
}

// Windows.

HWND QtWindowSystem::createWindow(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                                  int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    if (!onUiThread() || !className) return nullptr;
    std::u16string name = className;
    bool child = (style & WS_CHILD) != 0;
    std::shared_ptr<Window> parentWindow = parent ? find(parent) : nullptr;
    if (parent && !parentWindow) return nullptr;
    if (child && !parentWindow) return nullptr;
    WindowClass* windowClass = findClass(name);

    auto w = std::make_shared<Window>();
    w->handle = reinterpret_cast<HWND>(nextHandle_);
    nextHandle_ += 4;
    w->parent = child ? parent : nullptr;
    w->style = style;
    w->exStyle = exStyle;
    w->id = child ? static_cast<int>(reinterpret_cast<intptr_t>(menu)) : 0;
    w->text = copyText(windowName);
    QWidget* parentWidget = child ? parentWindow->widget.data() : nullptr;
    HWND handle = w->handle;

    if (windowClass) {
        w->windowClass = windowClass;
        w->procedure = windowClass->wc.lpfnWndProc;
        auto* widget = new ClassWindowWidget(this, handle, parentWidget, (exStyle & WS_EX_ACCEPTFILES) != 0);
        QColor colour;
        if (brushColour(windowClass->wc.hbrBackground, colour)) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Window, colour);
            widget->setPalette(palette);
        }
        if (!child) {
            widget->setWindowFlags(topLevelFlags(style));
            widget->setWindowTitle(toQString(w->text));
            QIcon icon = iconOf(windowClass->wc.hIcon);
            if (!icon.isNull()) widget->setWindowIcon(icon);
        }
        w->widget = widget;
    } else {
        auto notify = [this, handle](UINT message, WPARAM wParam) {
            auto self = find(handle);
            if (self && self->parent) sendMessage(self->parent, message, wParam, reinterpret_cast<LPARAM>(handle));
        };
        auto icons = [this](HICON icon) { return iconOf(icon); };
        w->control = UiControl::create(name, style, w->id, parentWidget, notify, icons);
        if (!w->control) return nullptr;  // neither a registered class nor a control
        w->widget = w->control->widget();
        w->control->setText(w->text);
    }

    QWidget* widget = w->widget;
    if (!child && (x == CW_USEDEFAULT || y == CW_USEDEFAULT)) x = y = 100;
    if (width == CW_USEDEFAULT || height == CW_USEDEFAULT) {
        width = 640;
        height = 480;
    }
    widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    widget->setEnabled(!(style & WS_DISABLED));

    windows_[handle] = w;
    {
        std::lock_guard lock(liveLock_);
        live_.insert(handle);
    }

    if (w->procedure) {
        if (!child) applyMinMax(w);
        CREATESTRUCTW cs{};
        cs.lpCreateParams = param;
        cs.hInstance = instance;
        cs.hMenu = menu;
        cs.hwndParent = parent;
        cs.cy = height;
        cs.cx = width;
        cs.y = y;
        cs.x = x;
        cs.style = static_cast<LONG>(style);
        cs.lpszName = w->text.c_str();
        cs.lpszClass = windowClass->name.c_str();
        cs.dwExStyle = exStyle;
        if (callProcedure(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
            destroyTree(w);
            return nullptr;
        }
        if (!find(handle)) return nullptr;  // destroyed while being created
    }
    if (style & WS_VISIBLE) {
        if (child)
            widget->show();
        else
            showWindow(handle, SW_SHOW);
    }
    return handle;
}

void QtWindowSystem::applyMinMax(const std::shared_ptr<Window>& w) {
    MINMAXINFO info{};
    info.ptMaxTrackSize = POINT{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    callProcedure(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    if (!w->widget) return;
    if (info.ptMinTrackSize.x > 0 || info.ptMinTrackSize.y > 0)
        w->widget->setMinimumSize(std::max<LONG>(info.ptMinTrackSize.x, 0), std::max<LONG>(info.ptMinTrackSize.y, 0));
    if (info.ptMaxTrackSize.x > 0 && info.ptMaxTrackSize.y > 0)
        w->widget->setMaximumSize(std::min<LONG>(info.ptMaxTrackSize.x, QWIDGETSIZE_MAX),
                                  std::min<LONG>(info.ptMaxTrackSize.y, QWIDGETSIZE_MAX));
}

BOOL QtWindowSystem::destroyWindow(HWND window) {
    if (!onUiThread()) return FALSE;
    auto w = find(window);
    if (!w) return FALSE;
    destroyTree(w);
    return TRUE;
}

void QtWindowSystem::destroyTree(const std::shared_ptr<Window>& w) {
    if (!find(w->handle)) return;  // already on its way out
    bool top = !w->parent || !find(w->parent);
    if (top && w->widget) w->widget->hide();
    // The window hears of its end before its children, as on the platform.
    if (w->procedure) callProcedure(w, WM_DESTROY, 0, 0);
    std::vector<std::shared_ptr<Window>> children;
    for (auto& [handle, other] : windows_)
        if (other->parent == w->handle) children.push_back(other);
    for (auto& c : children) destroyTree(c);
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->first.window == w->handle) {
            delete it->second.timer;
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
    windows_.erase(w->handle);
    {
        std::lock_guard lock(liveLock_);
        live_.erase(w->handle);
    }
    // The control object goes now; its widget goes with the top widget of the tree.
    QWidget* widget = w->widget.data();
    w->control.reset();
    if (top && widget) buryWidget(widget);
}

void QtWindowSystem::buryWidget(QWidget* widget) {
    // A widget may be deep in one of its own event handlers (a close button, a click):
    // it is deleted once no window procedure is running.
    graveyard_.emplace_back(widget);
    if (callDepth_ == 0) flushGraveyard();
}

void QtWindowSystem::flushGraveyard() {
    auto dead = std::move(graveyard_);
    graveyard_.clear();
    for (auto& widget : dead) delete widget.data();
}

BOOL QtWindowSystem::showWindow(HWND window, int showCommand) {
    if (!onUiThread()) return FALSE;
    auto w = find(window);
    if (!w || !w->widget) return FALSE;
    BOOL wasVisible = w->widget->isVisible();
    if (!w->parent && w->procedure && showCommand != SW_HIDE) applyMinMax(w);
    switch (showCommand) {
        case SW_HIDE:
            w->widget->hide();
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            w->widget->showMinimized();
            break;
        case SW_SHOWMAXIMIZED:
            w->widget->showMaximized();
            break;
        case SW_RESTORE:
            w->widget->showNormal();
            break;
        default:
            w->widget->show();
            break;
    }
    if (showCommand == SW_HIDE)
        w->style &= ~WS_VISIBLE;
    else
        w->style |= WS_VISIBLE;
    return wasVisible;
}

BOOL QtWindowSystem::getClientRect(HWND window, RECT* rect) {
    QWidget* widget = widgetOf(window);
    if (!widget || !rect) return FALSE;
    *rect = RECT{0, 0, widget->width(), widget->height()};
    return TRUE;
}

BOOL QtWindowSystem::getWindowRect(HWND window, RECT* rect) {
    QWidget* widget = widgetOf(window);
    if (!widget || !rect) return FALSE;
    QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    *rect = RECT{origin.x(), origin.y(), origin.x() + widget->width(), origin.y() + widget->height()};
    return TRUE;
}

BOOL QtWindowSystem::setWindowPos(HWND window, int x, int y, int width, int height, UINT flags) {
    QWidget* widget = widgetOf(window);
    if (!widget) return FALSE;
    if (!(flags & SWP_NOMOVE)) widget->move(x, y);
    if (!(flags & SWP_NOSIZE)) widget->resize(std::max(width, 0), std::max(height, 0));
    if (flags & SWP_SHOWWINDOW) widget->show();
    if (flags & SWP_HIDEWINDOW) widget->hide();
    return TRUE;
}

BOOL QtWindowSystem::setWindowText(HWND window, LPCWSTR text) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w) return FALSE;
    if (w->procedure) return sendMessage(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
    w->text = copyText(text);
    if (w->control) w->control->setText(w->text);
    return TRUE;
}

int QtWindowSystem::getWindowText(HWND window, LPWSTR buffer, int capacity) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !buffer || capacity <= 0) return 0;
    size_t count = std::min<size_t>(w->text.size(), static_cast<size_t>(capacity - 1));
    std::copy_n(w->text.data(), count, buffer);
    buffer[count] = 0;
    return static_cast<int>(count);
}

BOOL QtWindowSystem::enableWindow(HWND window, BOOL enable) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !w->widget) return FALSE;
    BOOL wasDisabled = !w->widget->isEnabled();
    w->widget->setEnabled(enable != FALSE);
    if (enable)
        w->style &= ~WS_DISABLED;
    else
        w->style |= WS_DISABLED;
    return wasDisabled;
}

BOOL QtWindowSystem::isWindowEnabled(HWND window) {
    QWidget* widget = widgetOf(window);
    return widget && widget->isEnabled();
}

BOOL QtWindowSystem::isWindow(HWND window) {
    std::lock_guard lock(liveLock_);
    return live_.count(window) ? TRUE : FALSE;
}

HWND QtWindowSystem::getDlgItem(HWND parent, int id) {
    if (!onUiThread()) return nullptr;
    for (auto& [handle, w] : windows_)
        if (w->parent == parent && w->id == id) return handle;
    return nullptr;
}

// Messages.

LRESULT QtWindowSystem::callProcedure(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
    CallScope scope(callDepth_);
    return w->procedure(w->handle, message, wParam, lParam);
}

LRESULT QtWindowSystem::deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto w = find(window);
    if (!w || !w->procedure) return 0;
    // No burial here: the widget whose event this is may be the one destroyed.
    return callProcedure(w, message, wParam, lParam);
}

LRESULT QtWindowSystem::defWindowProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (!onUiThread()) return 0;
    auto w = find(window);
    if (!w) return 0;
    switch (message) {
        case WM_CLOSE:
            destroyWindow(window);
            return 0;
        case WM_SETTEXT:
            w->text = copyText(reinterpret_cast<LPCWSTR>(lParam));
            if (w->widget && !w->parent) w->widget->setWindowTitle(toQString(w->text));
            return TRUE;
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(w->text.size());
        default:
            return 0;
    }
}

LRESULT QtWindowSystem::sendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!onUiThread()) {
        // Like the platform, a message sent from another thread runs on the window's
        // thread while the sender waits.
        if (!isWindow(window)) return 0;
        LRESULT result = 0;
        QMetaObject::invokeMethod(
            this, [&] { result = sendMessage(window, message, wParam, lParam); }, Qt::BlockingQueuedConnection);
        return result;
    }
    auto w = find(window);
    if (!w) return 0;
    if (w->control) {
        LRESULT result = 0;
        if (message == WM_SETTEXT) {
            w->text = copyText(reinterpret_cast<LPCWSTR>(lParam));
            w->control->setText(w->text);
            return TRUE;
        }
        if (message == WM_ENABLE) return enableWindow(window, wParam != 0);
        return w->control->handle(message, wParam, lParam, result) ? result : 0;
    }
    return callProcedure(w, message, wParam, lParam);
}

BOOL QtWindowSystem::postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !isWindow(window)) return FALSE;
    enqueue(MSG{window, message, wParam, lParam, messageTime(), POINT{0, 0}});
    return TRUE;
}

void QtWindowSystem::postQuitMessage(int exitCode) {
    {
        std::lock_guard lock(queueLock_);
        quitPosted_ = true;
        quitCode_ = exitCode;
    }
    requestWake();
}

void QtWindowSystem::postDrop(HWND window, std::vector<std::u16string> files, POINT point) {
    auto* drop = new DroppedFiles(std::move(files), point);
    if (!postMessage(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop->handle()), 0)) delete drop;
}

void QtWindowSystem::enqueue(const MSG& message) {
    {
        std::lock_guard lock(queueLock_);
        queue_.push_back(message);
    }
    requestWake();
}

void QtWindowSystem::requestWake() {
    if (!wakePending_.exchange(true)) QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

bool QtWindowSystem::takeMessage(MSG* message) {
    std::lock_guard lock(queueLock_);
    if (!queue_.empty()) {
        *message = queue_.front();
        queue_.pop_front();
        if (message->message == WM_TIMER && message->hwnd) {
            auto it = timers_.find(TimerKey{message->hwnd, message->wParam});
            if (it != timers_.end()) it->second.queued = false;
        } else if (message->message == WM_TIMER) {
            auto it = timers_.find(TimerKey{nullptr, message->wParam});
            if (it != timers_.end()) it->second.queued = false;
        }
        return true;
    }
    if (quitPosted_) {
        // The quit message comes after everything posted before it.
        quitPosted_ = false;
        *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, messageTime(), POINT{0, 0}};
        return true;
    }
    return false;
}

BOOL QtWindowSystem::getMessage(MSG* message) {
    if (!onUiThread() || !message) return -1;
    for (;;) {
        if (takeMessage(message)) return message->message == WM_QUIT ? 0 : 1;
        if (callDepth_ == 0) flushGraveyard();
        int saved = waitingDepth_;
        waitingDepth_ = callDepth_;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        waitingDepth_ = saved;
    }
}

LRESULT QtWindowSystem::dispatchMessage(const MSG* message) {
    if (!onUiThread() || !message) return 0;
    if (message->message == WM_TIMER && message->lParam) {
        auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
        procedure(message->hwnd, WM_TIMER, message->wParam, message->time);
        return 0;
    }
    if (message->message == WM_DROPFILES && !find(message->hwnd)) {
        // The window went before its drop arrived.
        delete DroppedFiles::fromHandle(reinterpret_cast<HDROP>(message->wParam));
        return 0;
    }
    if (!message->hwnd) return 0;
    LRESULT result = sendMessage(message->hwnd, message->message, message->wParam, message->lParam);
    if (callDepth_ == 0) flushGraveyard();
    return result;
}

void QtWindowSystem::drainQueue() {
    MSG message;
    for (;;) {
        {
            // A quit request stays for GetMessage: only ordinary messages are drained.
            std::lock_guard lock(queueLock_);
            if (queue_.empty()) return;
        }
        if (!takeMessage(&message)) return;
        dispatchMessage(&message);
    }
}

bool QtWindowSystem::event(QEvent* e) {
    if (e->type() != kWakeEvent) return QObject::event(e);
    wakePending_.store(false);
    // A GetMessage waiting at this very depth takes the messages itself; anywhere else
    // (a modal loop inside a procedure, or a program that runs Qt's own loop) the
    // messages are dispatched here so that they are never stuck.
    if (waitingDepth_ != callDepth_) drainQueue();
    return true;
}

// Timers.

UINT_PTR QtWindowSystem::setTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure) {
    if (!onUiThread()) return 0;
    if (window && !find(window)) return 0;
    if (!window) {
        // Without a window the system picks the id, unless an existing one is named.
        if (!id || !timers_.count(TimerKey{nullptr, id})) id = nextThreadTimerId_++;
    }
    TimerKey key{window, id};
    Timer& t = timers_[key];
    if (!t.timer) {
        t.timer = new QTimer(this);
        t.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(t.timer, &QTimer::timeout, this, [this, key] {
            auto it = timers_.find(key);
            if (it == timers_.end() || it->second.queued) return;
            it->second.queued = true;
            enqueue(MSG{key.window, WM_TIMER, key.id, reinterpret_cast<LPARAM>(it->second.procedure), messageTime(),
                        POINT{0, 0}});
        });
    }
    t.procedure = procedure;
    t.timer->start(static_cast<int>(std::max<UINT>(elapseMs, 10)));
    return window ? (id ? id : 1) : id;
}

BOOL QtWindowSystem::killTimer(HWND window, UINT_PTR id) {
    if (!onUiThread()) return FALSE;
    auto it = timers_.find(TimerKey{window, id});
    if (it == timers_.end()) return FALSE;
    delete it->second.timer;
    timers_.erase(it);
    // A WM_TIMER already queued for it no longer arrives.
    std::lock_guard lock(queueLock_);
    std::erase_if(queue_, [&](const MSG& m) { return m.message == WM_TIMER && m.hwnd == window && m.wParam == id; });
    return TRUE;
}

// Message boxes.

int QtWindowSystem::messageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    if (!onUiThread()) return 0;
    UINT buttons = type & MB_TYPEMASK;
    if (buttons != MB_OK && buttons != MB_OKCANCEL && buttons != MB_YESNO) buttons = MB_OK;
    if (answerer_) {
        int answer = answerer_(MessageBoxRequest{owner, copyText(text), copyText(caption), type});
        // Only a button the box has can be the answer.
        bool valid = buttons == MB_YESNO      ? (answer == IDYES || answer == IDNO)
                     : buttons == MB_OKCANCEL ? (answer == IDOK || answer == IDCANCEL)
                                              : answer == IDOK;
        return valid ? answer : 0;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK) {
        case MB_ICONERROR:
            icon = QMessageBox::Critical;
            break;
        case MB_ICONQUESTION:
            icon = QMessageBox::Question;
            break;
        case MB_ICONWARNING:
            icon = QMessageBox::Warning;
            break;
        case MB_ICONINFORMATION:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    QMessageBox box(icon, toQString(copyText(caption)), toQString(copyText(text)), QMessageBox::NoButton,
                    widgetOf(owner));
    QMessageBox::StandardButton escape = QMessageBox::Ok;
    if (buttons == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        escape = QMessageBox::No;
    } else if (buttons == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        escape = QMessageBox::Cancel;
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setEscapeButton(escape);
    // The box's own loop runs inside this call: posted messages go on being delivered.
    CallScope scope(callDepth_);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Ok:
            return IDOK;
        default:
            return buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
}

// The open-file dialog.

std::vector<QString> QtWindowSystem::parseFilters(LPCWSTR filter) {
    std::vector<QString> out;
    if (!filter) return out;
    const char16_t* p = filter;
    while (*p) {
        std::u16string description = p;
        p += description.size() + 1;
        if (!*p) break;  // a description without patterns ends the list
        std::u16string patterns = p;
        p += patterns.size() + 1;
        QString list = toQString(patterns);
        list.replace(QLatin1Char(';'), QLatin1Char(' '));
        out.push_back(toQString(description) + QStringLiteral(" (") + list + QLatin1Char(')'));
    }
    return out;
}

BOOL QtWindowSystem::getOpenFileName(OPENFILENAMEW* request) {
    if (!onUiThread() || !request || !request->lpstrFile || request->nMaxFile == 0) return FALSE;
    OpenFileRequest asked{request->hwndOwner, copyText(request->lpstrTitle), parseFilters(request->lpstrFilter), 0};
    if (request->nFilterIndex >= 1 && request->nFilterIndex <= asked.filters.size())
        asked.selectedFilter = static_cast<int>(request->nFilterIndex) - 1;
    std::u16string chosen;
    if (fileAnswerer_) {
        chosen = fileAnswerer_(asked);
    } else {
        QFileDialog dialog(widgetOf(request->hwndOwner), toQString(asked.title));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode((request->Flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        QStringList filters;
        for (const QString& f : asked.filters) filters << f;
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            dialog.selectNameFilter(filters[asked.selectedFilter]);
        }
        CallScope scope(callDepth_);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            QString path = dialog.selectedFiles().front();
            chosen.assign(reinterpret_cast<const char16_t*>(path.utf16()), static_cast<size_t>(path.size()));
        }
    }
    if (chosen.empty()) return FALSE;
    if ((request->Flags & OFN_FILEMUSTEXIST) && !QFileInfo(toQString(chosen)).isFile()) return FALSE;
    // A path that does not fit is refused rather than cut into another file's name.
    if (chosen.size() + 1 > request->nMaxFile) return FALSE;
    std::copy(chosen.begin(), chosen.end(), request->lpstrFile);
    request->lpstrFile[chosen.size()] = 0;
    return TRUE;
}
