#include "platform/ui/QtWindowSystem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "platform/ui/ClassWindowWidget.h"
#include "platform/ui/DeviceContext.h"
#include "platform/ui/DroppedFiles.h"
#include "platform/ui/PictureSlot.h"
#include "platform/ui/UiControls.h"
#include "platform/ui/UiFonts.h"
#include "platform/ui/UiMenu.h"
#include "platform/ui/WindowFrame.h"

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
    api.AdjustWindowRectEx = [](RECT* r, DWORD style, BOOL menu, DWORD ex) {
        return current->adjustWindowRect(r, style, menu, ex);
    };
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
    api.LoadMenu = [](HINSTANCE, UINT id) { return current->loadMenu(id); };
    api.DestroyMenu = [](HMENU menu) { return current->destroyMenu(menu); };
    api.SetMenu = [](HWND w, HMENU menu) { return current->setMenu(w, menu); };
    api.GetMenu = [](HWND w) { return current->getMenu(w); };
    api.GetSubMenu = [](HMENU menu, int position) -> HMENU {
        UiMenu* m = current->findMenu(menu);
        UiMenu* sub = m ? m->subMenu(position) : nullptr;
        return sub ? sub->handle() : nullptr;
    };
    api.EnableMenuItem = [](HMENU menu, UINT item, UINT flags) -> DWORD {
        UiMenu* m = current->findMenu(menu);
        return m ? m->enable(item, flags) : static_cast<DWORD>(-1);
    };
    api.CheckMenuItem = [](HMENU menu, UINT item, UINT flags) -> DWORD {
        UiMenu* m = current->findMenu(menu);
        return m ? m->check(item, flags) : static_cast<DWORD>(-1);
    };
    api.GetMenuState = [](HMENU menu, UINT item, UINT flags) -> UINT {
        UiMenu* m = current->findMenu(menu);
        return m ? m->state(item, flags) : static_cast<UINT>(-1);
    };
    api.DrawMenuBar = [](HWND w) { return current->drawMenuBar(w); };
    api.CreateDialogParam = [](HINSTANCE, UINT id, HWND owner, DLGPROC procedure, LPARAM param) {
        return current->createDialog(id, owner, procedure, param);
    };
    api.MapDialogRect = [](HWND dialog, RECT* r) { return current->mapDialogRect(dialog, r); };
    api.CreateFontIndirect = [](const LOGFONTW* font) { return current->createFont(*font); };
    api.DeleteObject = [](HGDIOBJ object) { return current->deleteObject(object); };
    api.GetSystemMetrics = [](int index) { return current->systemMetric(index); };
    api.InvalidateRect = [](HWND w, const RECT* r, BOOL) { return current->invalidateRect(w, r); };
    api.DrawIconEx = [](HDC dc, int x, int y, HICON icon, int width, int height, UINT, HBRUSH, UINT flags) {
        return current->drawIcon(dc, x, y, icon, width, height, flags);
    };
    api.GetParent = [](HWND w) { return current->getParent(w); };
    api.SetFocus = [](HWND w) { return current->setFocus(w); };
    api.GetFocus = [] { return current->getFocus(); };
    api.IsWindowVisible = [](HWND w) { return current->isWindowVisible(w); };
    api.GetWindowLongPtr = [](HWND w, int index) { return current->getWindowLong(w, index); };
    api.SetWindowLongPtr = [](HWND w, int index, LONG_PTR value) { return current->setWindowLong(w, index, value); };
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

QWidget* QtWindowSystem::frameOf(HWND window) const {
    if (!onUiThread()) return nullptr;
    auto w = find(window);
    return w ? w->frame.data() : nullptr;
}

HWND QtWindowSystem::handleOf(const QWidget* widget) const {
    if (!onUiThread() || !widget) return nullptr;
    for (auto& [handle, w] : windows_)
        if (w->widget == widget || (w->frame && w->frame == widget)) return handle;
    return nullptr;
}

QMenuBar* QtWindowSystem::menuBarOf(HWND window) const {
    if (!onUiThread()) return nullptr;
    auto w = find(window);
    return w && w->frame ? w->frame->menuBar() : nullptr;
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
    if (!instance && resourceId == IDI_APPLICATION) {
        if (!applicationIcon_) applicationIcon_ = addIcon(qApp->style()->standardIcon(QStyle::SP_DesktopIcon));
        return applicationIcon_;
    }
    auto it = iconResources_.find(resourceId);
    if (it != iconResources_.end()) return it->second;
    if (!onUiThread()) return nullptr;
    // A resource the program registered: read once, and again only when it is replaced.
    auto resource = findIconResource(resourceId);
    if (!resource) return nullptr;
    auto& loaded = loadedIcons_[resourceId];
    if (loaded.first == resource) return loaded.second;
    QPixmap picture;
    bool ok = resource->bytes.empty()
                  ? picture.load(toQString(resource->path))
                  : picture.loadFromData(resource->bytes.data(), static_cast<uint>(resource->bytes.size()));
    if (!ok || picture.isNull()) {
        loadedIcons_.erase(resourceId);
        return nullptr;
    }
    loaded = {resource, addIcon(QIcon(picture))};
    return loaded.second;
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
    if (!child && menu && !findMenu(menu)) return nullptr;
    WindowClass* windowClass = findClass(name);
    // Only class windows can be top-level here; controls always have a parent.
    if (!child && !windowClass) return nullptr;

    auto w = std::make_shared<Window>();
    w->handle = reinterpret_cast<HWND>(nextHandle_);
    nextHandle_ += 4;
    w->parent = child ? parent : nullptr;
    w->owner = child ? nullptr : parent;
    w->style = style;
    w->exStyle = exStyle;
    w->id = child ? static_cast<int>(reinterpret_cast<intptr_t>(menu)) : 0;
    w->text = copyText(windowName);
    QWidget* parentWidget = child ? parentWindow->widget.data() : nullptr;
    HWND handle = w->handle;

    if (windowClass) {
        w->windowClass = windowClass;
        w->procedure = windowClass->wc.lpfnWndProc;
        WindowFrame* frame = nullptr;
        if (!child) {
            frame = new WindowFrame(this, handle, parentWindow ? parentWindow->frame.data() : nullptr, false,
                                    (style & WS_THICKFRAME) != 0);
            frame->setWindowFlags(topLevelFlags(style));
            frame->setWindowTitle(toQString(w->text));
            QIcon icon = iconOf(windowClass->wc.hIcon);
            if (!icon.isNull()) frame->setWindowIcon(icon);
            parentWidget = frame;
            w->frame = frame;
        }
        auto* widget = new ClassWindowWidget(this, handle, parentWidget, (exStyle & WS_EX_ACCEPTFILES) != 0);
        QColor colour;
        if (brushColour(windowClass->wc.hbrBackground, colour)) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Window, colour);
            widget->setPalette(palette);
        }
        w->widget = widget;
        if (frame) frame->setClient(widget);
        PictureSlot::registerTarget(handle, widget, widget->pictures());
    } else {
        ControlContext context;
        context.handle = handle;
        context.id = w->id;
        context.sendToParent = [this, handle](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            auto self = find(handle);
            return self && self->parent ? sendMessage(self->parent, message, wParam, lParam) : 0;
        };
        context.icons = [this](HICON icon) { return iconOf(icon); };
        w->control = UiControl::create(name, style, parentWidget, context);
        if (!w->control) return nullptr;  // neither a registered class nor a control
        w->widget = w->control->widget();
        w->control->setText(w->text);
        // Controls paint in the system's colours, not in their parent's background brush
        // (black text on a black video area otherwise); group boxes stay see-through.
        QPalette system = QApplication::palette();
        system.setResolveMask(~QPalette::ResolveMask(0));  // every role its own, none inherited
        w->widget->setPalette(system);
        w->widget->setAutoFillBackground(!qobject_cast<QGroupBox*>(w->widget.data()));
    }

    if (!child && (x == CW_USEDEFAULT || y == CW_USEDEFAULT)) x = y = 100;
    if (width == CW_USEDEFAULT || height == CW_USEDEFAULT) {
        width = 640;
        height = 480;
    }
    windows_[handle] = w;
    {
        std::lock_guard lock(liveLock_);
        live_.insert(handle);
    }
    if (w->frame) {
        if (menu) attachMenu(w, menu);
        w->frame->move(x, y);
        w->frame->resizeInner(innerSizeFor(w, width, height));
        w->frame->setEnabled(!(style & WS_DISABLED));
    } else {
        w->widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
        w->widget->setEnabled(!(style & WS_DISABLED));
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
            w->widget->show();
        else
            showWindow(handle, SW_SHOW);
    }
    return handle;
}

QSize QtWindowSystem::innerSizeFor(const std::shared_ptr<Window>& w, int width, int height) const {
    RECT m = frameMargins(w->style, w->exStyle);
    return QSize(std::max<int>(width - m.left - m.right, 0), std::max<int>(height - m.top - m.bottom, 0));
}

RECT QtWindowSystem::frameMargins(DWORD style, DWORD exStyle) {
    // The sizes of the platform's classic metrics at 96 dots per inch.
    LONG side = 0;
    if (style & WS_THICKFRAME)
        side = 8;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        side = 3;
    else if (style & WS_BORDER)
        side = 1;
    if (exStyle & WS_EX_CLIENTEDGE) side += 2;
    LONG caption = (style & WS_CAPTION) == WS_CAPTION ? 23 : 0;
    return RECT{side, side + caption, side, side};
}

int QtWindowSystem::menuBarHeight() {
    if (menuBarHeight_ == 0) {
        // One line of the program's font with the style's spacing, measured once.
        QMenuBar probe;
        probe.setNativeMenuBar(false);
        probe.addMenu(QStringLiteral("&File"));
        menuBarHeight_ = std::max(probe.sizeHint().height(), 1);
    }
    return menuBarHeight_;
}

BOOL QtWindowSystem::adjustWindowRect(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect) return FALSE;
    RECT m = (style & WS_CHILD) ? RECT{0, 0, 0, 0} : frameMargins(style, exStyle);
    if (style & WS_CHILD) {
        LONG side = (style & WS_BORDER) ? 1 : 0;
        if (exStyle & WS_EX_CLIENTEDGE) side += 2;
        m = RECT{side, side, side, side};
    }
    rect->left -= m.left;
    rect->top -= m.top;
    rect->right += m.right;
    rect->bottom += m.bottom;
    if (menu && !(style & WS_CHILD)) rect->top -= onUiThread() ? menuBarHeight() : 20;
    return TRUE;
}

int QtWindowSystem::systemMetric(int index) {
    QScreen* screen = onUiThread() ? QGuiApplication::primaryScreen() : nullptr;
    switch (index) {
        case SM_CXSCREEN:
            return screen ? screen->geometry().width() : 0;
        case SM_CYSCREEN:
            return screen ? screen->geometry().height() : 0;
        case SM_CYCAPTION:
            return 23;
        case SM_CXBORDER:
        case SM_CYBORDER:
            return 1;
        case SM_CXDLGFRAME:
        case SM_CYDLGFRAME:
            return 3;
        case SM_CXFRAME:
        case SM_CYFRAME:
            return 8;
        case SM_CYMENU:
            return onUiThread() ? menuBarHeight() : 0;
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        case SM_CXSMICON:
        case SM_CYSMICON:
            return 16;
        case SM_CXMINTRACK:
            return 136;
        case SM_CYMINTRACK:
            return 39;
        default:
            return 0;
    }
}

void QtWindowSystem::applyMinMax(const std::shared_ptr<Window>& w) {
    MINMAXINFO info{};
    info.ptMaxTrackSize = POINT{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    callProcedure(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    // Without a sizing border the window keeps the size it is given.
    if (!w->frame || !(w->style & WS_THICKFRAME)) return;
    // The sizes are whole-window sizes: the frame's inner area is that less the margins.
    RECT m = frameMargins(w->style, w->exStyle);
    int marginX = m.left + m.right;
    int marginY = m.top + m.bottom;
    if (info.ptMinTrackSize.x > 0 || info.ptMinTrackSize.y > 0)
        w->frame->setMinimumSize(std::max<int>(info.ptMinTrackSize.x - marginX, 0),
                                 std::max<int>(info.ptMinTrackSize.y - marginY, 0));
    if (info.ptMaxTrackSize.x > 0 && info.ptMaxTrackSize.y > 0)
        w->frame->setMaximumSize(
            std::clamp<int>(info.ptMaxTrackSize.x - (info.ptMaxTrackSize.x < QWIDGETSIZE_MAX ? marginX : 0), 0,
                            QWIDGETSIZE_MAX),
            std::clamp<int>(info.ptMaxTrackSize.y - (info.ptMaxTrackSize.y < QWIDGETSIZE_MAX ? marginY : 0), 0,
                            QWIDGETSIZE_MAX));
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
    // Owned windows (dialogs) go first, as on the platform.
    std::vector<std::shared_ptr<Window>> owned;
    for (auto& [handle, other] : windows_)
        if (other->owner == w->handle) owned.push_back(other);
    for (auto& o : owned) destroyTree(o);
    if (!find(w->handle)) return;
    bool top = !w->parent || !find(w->parent);
    if (top) {
        if (w->frame)
            w->frame->hide();
        else if (w->widget)
            w->widget->hide();
    }
    // The window hears of its end before its children, as on the platform.
    if (w->procedure || w->dialogProcedure) dispatchTo(w, WM_DESTROY, 0, 0);
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
    PictureSlot::unregisterTarget(w->handle);
    // A window's menu goes with it; its bar goes with the frame.
    if (w->menu) {
        auto it = menus_.find(w->menu);
        if (it != menus_.end()) {
            it->second->detach();
            menus_.erase(it);
        }
        w->menu = nullptr;
    }
    if (w->ownFont) {
        fonts_.erase(w->ownFont);
        w->ownFont = nullptr;
    }
    // The control object goes now; its widget goes with the top widget of the tree.
    QWidget* widget = w->frame ? static_cast<QWidget*>(w->frame.data()) : w->widget.data();
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
    QWidget* widget = w->frame ? static_cast<QWidget*>(w->frame.data()) : w->widget.data();
    BOOL wasVisible = widget->isVisible();
    if (w->frame && w->procedure && showCommand != SW_HIDE) applyMinMax(w);
    switch (showCommand) {
        case SW_HIDE:
            widget->hide();
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            widget->showMinimized();
            break;
        case SW_SHOWMAXIMIZED:
            widget->showMaximized();
            break;
        case SW_RESTORE:
            widget->showNormal();
            break;
        default:
            widget->show();
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
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !w->widget || !rect) return FALSE;
    if (w->frame) {
        // The frame's inner area with the platform-sized margins around it.
        RECT m = frameMargins(w->style, w->exStyle);
        QPoint origin = w->frame->pos();
        QSize inner = w->frame->size();
        *rect = RECT{origin.x(), origin.y(), origin.x() + inner.width() + m.left + m.right,
                     origin.y() + inner.height() + m.top + m.bottom};
        return TRUE;
    }
    QPoint origin = w->widget->mapToGlobal(QPoint(0, 0));
    *rect = RECT{origin.x(), origin.y(), origin.x() + w->widget->width(), origin.y() + w->widget->height()};
    return TRUE;
}

BOOL QtWindowSystem::setWindowPos(HWND window, int x, int y, int width, int height, UINT flags) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !w->widget) return FALSE;
    QWidget* widget = w->frame ? static_cast<QWidget*>(w->frame.data()) : w->widget.data();
    if (!(flags & SWP_NOMOVE)) widget->move(x, y);
    if (!(flags & SWP_NOSIZE)) {
        if (w->frame) {
            w->frame->resizeInner(innerSizeFor(w, width, height).expandedTo(w->frame->minimumSize()));
        } else {
            widget->resize(std::max(width, 0), std::max(height, 0));
            if (w->control) {
                LRESULT ignored = 0;
                w->control->handle(WM_SIZE, SIZE_RESTORED, 0, ignored);
            }
        }
    }
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
    std::u16string text = w->text;
    if (w->control) w->control->liveText(text);
    size_t count = std::min<size_t>(text.size(), static_cast<size_t>(capacity - 1));
    std::copy_n(text.data(), count, buffer);
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

LRESULT QtWindowSystem::dispatchTo(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (w->procedure) return callProcedure(w, message, wParam, lParam);
    if (w->dialogProcedure) {
        INT_PTR handled;
        {
            CallScope scope(callDepth_);
            handled = w->dialogProcedure(w->handle, message, wParam, lParam);
        }
        if (handled) return handled;
        return find(w->handle) ? defDialogProc(w, message, wParam, lParam) : 0;
    }
    if (w->control) return controlMessage(w, message, wParam, lParam);
    return 0;
}

LRESULT QtWindowSystem::deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto w = find(window);
    if (!w || (!w->procedure && !w->dialogProcedure)) return 0;
    // No burial here: the widget whose event this is may be the one destroyed.
    return dispatchTo(w, message, wParam, lParam);
}

LRESULT QtWindowSystem::defDialogProc(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // The close box is the cancel command; the dialog decides what that means.
            postMessage(w->handle, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(IDCANCEL), BN_CLICKED),
                        reinterpret_cast<LPARAM>(getDlgItem(w->handle, IDCANCEL)));
            return 0;
        default:
            return defWindowProc(w->handle, message, wParam, lParam);
    }
}

void QtWindowSystem::dialogCommand(HWND dialog, int id) {
    auto w = find(dialog);
    if (!w || !w->dialogProcedure) return;
    if (id == 0) {
        id = IDOK;
        for (auto& [handle, c] : windows_)
            if (c->parent == dialog && c->control && (c->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
                c->windowClass == nullptr && dynamic_cast<ButtonControl*>(c->control.get())) {
                id = c->id;
                break;
            }
    }
    HWND button = getDlgItem(dialog, id);
    if (button && !isWindowEnabled(button)) return;
    sendMessage(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

LRESULT QtWindowSystem::defWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!onUiThread()) return 0;
    auto w = find(window);
    if (!w) return 0;
    switch (message) {
        case WM_CLOSE:
            destroyWindow(window);
            return 0;
        case WM_SETTEXT:
            w->text = copyText(reinterpret_cast<LPCWSTR>(lParam));
            if (w->frame) w->frame->setWindowTitle(toQString(w->text));
            return TRUE;
        case WM_GETTEXT: {
            auto* buffer = reinterpret_cast<LPWSTR>(lParam);
            if (!buffer || wParam == 0) return 0;
            size_t count = std::min<size_t>(w->text.size(), wParam - 1);
            std::copy_n(w->text.data(), count, buffer);
            buffer[count] = 0;
            return static_cast<LRESULT>(count);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(w->text.size());
        case WM_SETFONT:
            applyFont(w, reinterpret_cast<HFONT>(wParam));
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(w->font);
        case WM_SETICON: {
            size_t kind = wParam == ICON_SMALL ? 0 : 1;
            HICON previous = w->icons[kind];
            w->icons[kind] = reinterpret_cast<HICON>(lParam);
            if (w->frame) {
                // The big icon is the window's; the small one stands in when there is no big one.
                HICON shown = w->icons[1] ? w->icons[1] : w->icons[0];
                w->frame->setWindowIcon(iconOf(shown));
            }
            return reinterpret_cast<LRESULT>(previous);
        }
        case WM_GETICON:
            return reinterpret_cast<LRESULT>(w->icons[wParam == ICON_SMALL ? 0 : 1]);
        default:
            return 0;
    }
}

void QtWindowSystem::applyFont(const std::shared_ptr<Window>& w, HFONT font) {
    const QFont* f = fontOf(font);
    w->font = f ? font : nullptr;
    // Qt hands a widget's font down to its children that have none of their own.
    if (w->widget) w->widget->setFont(f ? *f : QFont());
}

LRESULT QtWindowSystem::controlMessage(const std::shared_ptr<Window>& w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT:
            w->text = copyText(reinterpret_cast<LPCWSTR>(lParam));
            w->control->setText(w->text);
            return TRUE;
        case WM_GETTEXT:
            return getWindowText(w->handle, reinterpret_cast<LPWSTR>(lParam),
                                 static_cast<int>(std::min<WPARAM>(wParam, 0x7FFFFFFF)));
        case WM_GETTEXTLENGTH: {
            std::u16string text = w->text;
            w->control->liveText(text);
            return static_cast<LRESULT>(text.size());
        }
        case WM_ENABLE:
            return enableWindow(w->handle, wParam != 0);
        case WM_SETFONT:
            applyFont(w, reinterpret_cast<HFONT>(wParam));
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(w->font);
        default: {
            LRESULT result = 0;
            return w->control->handle(message, wParam, lParam, result) ? result : 0;
        }
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
    return dispatchTo(w, message, wParam, lParam);
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

// Menus.

UiMenu* QtWindowSystem::findMenu(HMENU menu) const {
    if (!menu || !onUiThread()) return nullptr;
    for (auto& [handle, root] : menus_) {
        std::vector<UiMenu*> all;
        root->collect(all);
        for (UiMenu* m : all)
            if (m->handle() == menu) return m;
    }
    return nullptr;
}

HMENU QtWindowSystem::loadMenu(UINT resourceId) {
    if (!onUiThread()) return nullptr;
    auto resource = findMenuResource(resourceId);
    if (!resource) return nullptr;
    auto menu = std::make_unique<UiMenu>(*resource);
    HMENU handle = menu->handle();
    menus_[handle] = std::move(menu);
    return handle;
}

BOOL QtWindowSystem::destroyMenu(HMENU menu) {
    if (!onUiThread()) return FALSE;
    auto it = menus_.find(menu);
    if (it == menus_.end()) return FALSE;
    // A menu on a window is the window's: taking it away under the bar would leave the
    // bar's items pointing nowhere.
    for (auto& [handle, w] : windows_)
        if (w->menu == menu) return FALSE;
    menus_.erase(it);
    return TRUE;
}

void QtWindowSystem::attachMenu(const std::shared_ptr<Window>& w, HMENU menu) {
    if (w->menu) {
        auto old = menus_.find(w->menu);
        if (old != menus_.end()) old->second->detach();
    }
    w->menu = nullptr;
    QMenuBar* bar = nullptr;
    if (menu) {
        auto it = menus_.find(menu);
        if (it == menus_.end()) return;
        HWND handle = w->handle;
        // As on the platform the command is posted: the menu has closed when it arrives.
        bar = it->second->buildBar(w->frame, [this, handle](UINT id) {
            postMessage(handle, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
        });
        w->menu = menu;
    }
    w->frame->setMenuBar(bar, menuBarHeight());
}

BOOL QtWindowSystem::setMenu(HWND window, HMENU menu) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !w->frame || w->dialogProcedure) return FALSE;
    if (menu) {
        auto it = menus_.find(menu);
        if (it == menus_.end()) return FALSE;
        if (it->second->attached() && w->menu != menu) return FALSE;  // on another window
    }
    attachMenu(w, menu);
    return TRUE;
}

HMENU QtWindowSystem::getMenu(HWND window) {
    auto w = onUiThread() ? find(window) : nullptr;
    return w ? w->menu : nullptr;
}

BOOL QtWindowSystem::drawMenuBar(HWND window) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !w->frame || !w->frame->menuBar()) return FALSE;
    w->frame->menuBar()->update();
    return TRUE;
}

// Dialogs.

HWND QtWindowSystem::createDialog(UINT resourceId, HWND owner, DLGPROC procedure, LPARAM initParam) {
    if (!onUiThread() || !procedure) return nullptr;
    auto resource = findDialogResource(resourceId);
    if (!resource) return nullptr;
    std::shared_ptr<Window> ownerWindow = owner ? find(owner) : nullptr;
    if (owner && !ownerWindow) return nullptr;
    // A child's top-level window owns the dialog.
    while (ownerWindow && ownerWindow->parent) ownerWindow = find(ownerWindow->parent);
    const DialogTemplate& t = *resource;

    auto w = std::make_shared<Window>();
    w->handle = reinterpret_cast<HWND>(nextHandle_);
    nextHandle_ += 4;
    w->owner = ownerWindow ? ownerWindow->handle : nullptr;
    w->style = t.style & ~WS_CHILD;
    w->exStyle = t.exStyle;
    w->text = t.title;
    w->dialogProcedure = procedure;
    HWND handle = w->handle;

    auto* frame = new WindowFrame(this, handle, ownerWindow ? ownerWindow->frame.data() : nullptr, true,
                                  (w->style & WS_THICKFRAME) != 0);
    Qt::WindowFlags flags = topLevelFlags(w->style) | Qt::Dialog;
    frame->setWindowFlags(flags);
    frame->setWindowTitle(toQString(t.title));
    auto* client = new QWidget(frame);
    client->setAutoFillBackground(true);
    frame->setClient(client);
    w->frame = frame;
    w->widget = client;

    QFont font = UiFonts::dialogFont(toQString(t.fontName), t.pointSize);
    {
        auto stored = std::make_unique<QFont>(font);
        w->ownFont = reinterpret_cast<HFONT>(stored.get());
        fonts_[w->ownFont] = std::move(stored);
    }
    w->font = w->ownFont;
    client->setFont(font);
    w->baseUnits = UiFonts::baseUnits(font);

    windows_[handle] = w;
    {
        std::lock_guard lock(liveLock_);
        live_.insert(handle);
    }

    RECT size{0, 0, t.cx, t.cy};
    mapDialogRect(handle, &size);
    frame->resizeInner(QSize(size.right, size.bottom));
    RECT place{t.x, t.y, 0, 0};
    mapDialogRect(handle, &place);
    QPoint origin(place.left, place.top);
    if (ownerWindow && ownerWindow->widget) {
        QWidget* ownerClient = ownerWindow->widget;
        if (t.style & DS_CENTER) {
            QPoint centre = ownerClient->mapToGlobal(ownerClient->rect().center());
            origin = centre - QPoint(size.right / 2, size.bottom / 2);
        } else {
            origin += ownerClient->mapToGlobal(QPoint(0, 0));
        }
    }
    frame->move(origin);

    // The controls, in the template's order (which is also the tab order).
    HWND firstTabStop = nullptr;
    for (const DialogItemTemplate& item : t.items) {
        RECT r{item.x, item.y, item.x + item.cx, item.y + item.cy};
        mapDialogRect(handle, &r);
        HWND control = createWindow(item.exStyle, item.className.c_str(), item.text.c_str(), item.style | WS_CHILD,
                                    r.left, r.top, r.right - r.left, r.bottom - r.top, handle,
                                    reinterpret_cast<HMENU>(static_cast<intptr_t>(item.id)), nullptr, nullptr);
        if (!control) {
            // A control that cannot be made fails the whole dialog; its procedure never
            // hears of a dialog it was not given.
            w->dialogProcedure = nullptr;
            destroyTree(w);
            return nullptr;
        }
        if (!firstTabStop && (item.style & WS_TABSTOP) && !(item.style & WS_DISABLED)) firstTabStop = control;
    }

    if (t.style & DS_SETFONT) dispatchTo(w, WM_SETFONT, reinterpret_cast<WPARAM>(w->ownFont), FALSE);
    if (!find(handle)) return nullptr;
    INT_PTR focus = dispatchTo(w, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam);
    if (!find(handle)) return nullptr;  // destroyed while being made
    if (focus && firstTabStop) setFocus(firstTabStop);
    if (t.style & WS_VISIBLE) showWindow(handle, SW_SHOW);
    return handle;
}

BOOL QtWindowSystem::mapDialogRect(HWND dialog, RECT* rect) {
    auto w = onUiThread() ? find(dialog) : nullptr;
    if (!w || !w->dialogProcedure || !rect) return FALSE;
    int x = w->baseUnits.width();
    int y = w->baseUnits.height();
    rect->left = UiFonts::mulDiv(rect->left, x, 4);
    rect->right = UiFonts::mulDiv(rect->right, x, 4);
    rect->top = UiFonts::mulDiv(rect->top, y, 8);
    rect->bottom = UiFonts::mulDiv(rect->bottom, y, 8);
    return TRUE;
}

// Fonts, painting and the rest.

HFONT QtWindowSystem::createFont(const LOGFONTW& font) {
    if (!onUiThread()) return nullptr;
    auto stored = std::make_unique<QFont>(UiFonts::fromLogFont(font));
    auto handle = reinterpret_cast<HFONT>(stored.get());
    fonts_[handle] = std::move(stored);
    return handle;
}

const QFont* QtWindowSystem::fontOf(HFONT font) const {
    auto it = fonts_.find(font);
    return it == fonts_.end() ? nullptr : it->second.get();
}

BOOL QtWindowSystem::deleteObject(HGDIOBJ object) {
    if (!onUiThread() || !object) return FALSE;
    // Stock objects are never deleted, and deleting one is harmless.
    auto id = reinterpret_cast<uintptr_t>(object);
    if (id >= kStockBase && id <= kStockBase + DEFAULT_GUI_FONT) return TRUE;
    auto font = static_cast<HFONT>(object);
    auto it = fonts_.find(font);
    if (it == fonts_.end()) return FALSE;
    // The widgets keep their own copies of the font; only the handle goes.
    for (auto& [handle, w] : windows_)
        if (w->ownFont == font) return FALSE;  // a dialog's own font goes with the dialog
    for (auto& [handle, w] : windows_)
        if (w->font == font) w->font = nullptr;
    fonts_.erase(it);
    return TRUE;
}

BOOL QtWindowSystem::invalidateRect(HWND window, const RECT* rect) {
    QWidget* widget = widgetOf(window);
    if (!widget) return FALSE;
    if (rect)
        widget->update(QRect(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1)));
    else
        widget->update();
    return TRUE;
}

BOOL QtWindowSystem::drawIcon(HDC dc, int x, int y, HICON icon, int width, int height, UINT flags) {
    if (!onUiThread()) return FALSE;
    QPainter* painter = DeviceContext::painterOf(dc);
    QIcon picture = iconOf(icon);
    if (!painter || picture.isNull()) return FALSE;
    if (width <= 0) width = 32;
    if (height <= 0) height = 32;
    QRect target(x, y, width, height);
    QPixmap pixmap = picture.pixmap(QSize(width, height));
    if ((flags & DI_NORMAL) == DI_IMAGE) {
        // The image without its mask: what is transparent in the picture shows as black.
        painter->fillRect(target, Qt::black);
    }
    painter->drawPixmap(target, pixmap);
    return TRUE;
}

HWND QtWindowSystem::getParent(HWND window) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w) return nullptr;
    return w->parent ? w->parent : w->owner;
}

HWND QtWindowSystem::getFocus() {
    if (!onUiThread()) return nullptr;
    return handleOf(QApplication::focusWidget());
}

HWND QtWindowSystem::setFocus(HWND window) {
    if (!onUiThread()) return nullptr;
    HWND previous = getFocus();
    if (!window) {
        if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
        return previous;
    }
    QWidget* widget = widgetOf(window);
    if (!widget) return nullptr;
    widget->setFocus(Qt::OtherFocusReason);
    return previous;
}

BOOL QtWindowSystem::isWindowVisible(HWND window) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w || !w->widget) return FALSE;
    QWidget* widget = w->frame ? static_cast<QWidget*>(w->frame.data()) : w->widget.data();
    return widget->isVisible() ? TRUE : FALSE;
}

LONG_PTR QtWindowSystem::getWindowLong(HWND window, int index) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w) return 0;
    switch (index) {
        case GWL_STYLE:
            return static_cast<LONG_PTR>(w->style);
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(w->exStyle);
        case GWLP_ID:
            return w->id;
        case GWLP_USERDATA:
            return w->userData;
        default:
            return 0;
    }
}

LONG_PTR QtWindowSystem::setWindowLong(HWND window, int index, LONG_PTR value) {
    auto w = onUiThread() ? find(window) : nullptr;
    if (!w) return 0;
    LONG_PTR previous = getWindowLong(window, index);
    switch (index) {
        case GWLP_USERDATA:
            w->userData = value;
            return previous;
        case GWLP_ID:
            if (w->parent) w->id = static_cast<int>(value);
            return previous;
        default:
            // Styles are fixed once the window is made here.
            return 0;
    }
}

QWindow* QtWindowSystem::nativeWindowOf(HWND window, void (*prepare)(QWindow*)) {
    auto w = onUiThread() ? find(window) : nullptr;
    auto* widget = w && w->windowClass ? dynamic_cast<ClassWindowWidget*>(w->widget.data()) : nullptr;
    return widget ? widget->nativeSurface(prepare) : nullptr;
}
