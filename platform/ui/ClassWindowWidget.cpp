#include "platform/ui/ClassWindowWidget.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QUrl>

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

}  // namespace

ClassWindowWidget::ClassWindowWidget(QtWindowSystem* system, HWND handle, QWidget* parent, bool acceptFiles)
    : QWidget(parent), system_(system), handle_(handle) {
    setAcceptDrops(acceptFiles);
    setAutoFillBackground(true);
}

void ClassWindowWidget::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    WPARAM kind = isWindow() && isMinimized() ? SIZE_MINIMIZED : isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
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
