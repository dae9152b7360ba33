#include "platform/ui/ClassWindowWidget.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QUrl>
#include <QWindow>

#include "platform/ui/QtWindowSystem.h"

namespace {

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;

LPARAM pointParam(const QPointF& p) {
    return MAKELPARAM(static_cast<WORD>(static_cast<int>(p.x())), static_cast<WORD>(static_cast<int>(p.y())));
}

WPARAM buttonState(Qt::MouseButtons buttons) {
    return ((buttons & Qt::LeftButton) ? MK_LBUTTON : 0) | ((buttons & Qt::RightButton) ? MK_RBUTTON : 0);
}

// The local files of a drag, in its order; empty when it carries anything else.
std::vector<std::u16string> localFiles(const QMimeData* data) {
    std::vector<std::u16string> files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        QString path = url.toLocalFile();
        files.emplace_back(reinterpret_cast<const char16_t*>(path.utf16()), static_cast<size_t>(path.size()));
    }
    return files;
}

// A native window laid over a class window: its input goes on to the window's widget, so
// that clicks, double-clicks and drops behave as if the video were painted by the widget.
class ForwardingWindow : public QWindow {
public:
    explicit ForwardingWindow(QWidget* target) : target_(target) {}

protected:
    bool event(QEvent* e) override {
        switch (e->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
                if (target_) return QCoreApplication::sendEvent(target_, e);
                return false;
            default:
                return QWindow::event(e);
        }
    }

private:
    QPointer<QWidget> target_;
};

}  // namespace

ClassWindowWidget::ClassWindowWidget(QtWindowSystem* system, HWND handle, QWidget* parent, bool acceptFiles)
    : QWidget(parent), system_(system), handle_(handle) {
    setAcceptDrops(acceptFiles);
    setAutoFillBackground(true);
}

QWindow* ClassWindowWidget::nativeSurface(void (*prepare)(QWindow*)) {
    if (surface_) return surface_;
    auto* window = new ForwardingWindow(this);
    if (prepare) prepare(window);
    // The container takes the window and deletes it with itself.
    surfaceContainer_ = QWidget::createWindowContainer(window, this);
    surfaceContainer_->setGeometry(rect());
    surfaceContainer_->setAcceptDrops(acceptDrops());
    surfaceContainer_->show();
    surface_ = window;
    return surface_;
}

void ClassWindowWidget::paintEvent(QPaintEvent* e) {
    QWidget::paintEvent(e);
    QImage picture = pictures_->take();
    if (picture.isNull()) return;
    QPainter painter(this);
    painter.drawImage(rect(), picture);
}

void ClassWindowWidget::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (surfaceContainer_) surfaceContainer_->setGeometry(rect());
    QWidget* top = window();
    WPARAM kind = top->isMinimized() ? SIZE_MINIMIZED : top->isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
    system_->deliver(handle_, WM_SIZE, kind,
                     MAKELPARAM(static_cast<WORD>(e->size().width()), static_cast<WORD>(e->size().height())));
}

void ClassWindowWidget::closeEvent(QCloseEvent* e) {
    // The procedure decides: the default one destroys the window, the program may ask first.
    e->ignore();
    system_->deliver(handle_, WM_CLOSE, 0, 0);
}

void ClassWindowWidget::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isWindow() && isMinimized())
        system_->deliver(handle_, WM_SIZE, SIZE_MINIMIZED, 0);
}

void ClassWindowWidget::mousePressEvent(QMouseEvent* e) {
    UINT message = e->button() == Qt::LeftButton ? WM_LBUTTONDOWN : e->button() == Qt::RightButton ? WM_RBUTTONDOWN : 0;
    if (message) system_->deliver(handle_, message, buttonState(e->buttons()), pointParam(e->position()));
}

void ClassWindowWidget::mouseReleaseEvent(QMouseEvent* e) {
    UINT message = e->button() == Qt::LeftButton ? WM_LBUTTONUP : e->button() == Qt::RightButton ? WM_RBUTTONUP : 0;
    if (message) system_->deliver(handle_, message, buttonState(e->buttons()), pointParam(e->position()));
}

void ClassWindowWidget::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton)
        system_->deliver(handle_, WM_LBUTTONDBLCLK, buttonState(e->buttons()), pointParam(e->position()));
}

void ClassWindowWidget::dragEnterEvent(QDragEnterEvent* e) {
    if (!localFiles(e->mimeData()).empty()) e->acceptProposedAction();
}

void ClassWindowWidget::dragMoveEvent(QDragMoveEvent* e) {
    if (!localFiles(e->mimeData()).empty()) e->acceptProposedAction();
}

void ClassWindowWidget::dropEvent(QDropEvent* e) {
    auto files = localFiles(e->mimeData());
    if (files.empty()) return;
    e->acceptProposedAction();
    QPoint p = e->position().toPoint();
    system_->postDrop(handle_, std::move(files), POINT{p.x(), p.y()});
}
