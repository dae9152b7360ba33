#include "platform/ui/WindowFrame.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>

#include "platform/ui/QtWindowSystem.h"

WindowFrame::WindowFrame(QtWindowSystem* system, HWND handle, QWidget* owner, bool dialog, bool resizable)
    : QWidget(owner, Qt::Window), system_(system), handle_(handle), dialog_(dialog), resizable_(resizable) {}

void WindowFrame::setClient(QWidget* client) {
    client_ = client;
    layoutChildren(size());
}

void WindowFrame::setMenuBar(QMenuBar* bar, int menuHeight) {
    if (bar_ && bar_ != bar) delete bar_.data();
    bar_ = bar;
    menuHeight_ = menuHeight;
    if (bar_) bar_->show();
    layoutChildren(size());
}

void WindowFrame::resizeInner(const QSize& size) {
    if (resizable_)
        resize(size);
    else
        setFixedSize(size);
    layoutChildren(size);
}

void WindowFrame::layoutChildren(const QSize& size) {
    int top = bar_ ? menuHeight_ : 0;
    if (bar_) bar_->setGeometry(0, 0, size.width(), top);
    if (client_) client_->setGeometry(0, top, size.width(), std::max(size.height() - top, 0));
}

void WindowFrame::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    layoutChildren(e->size());
}

void WindowFrame::closeEvent(QCloseEvent* e) {
    // The procedure decides: the default one destroys a window, a dialog asks its own.
    e->ignore();
    system_->sendMessage(handle_, WM_CLOSE, 0, 0);
}

void WindowFrame::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange && isMinimized())
        system_->sendMessage(handle_, WM_SIZE, SIZE_MINIMIZED, 0);
}

void WindowFrame::keyPressEvent(QKeyEvent* e) {
    if (!dialog_) {
        QWidget::keyPressEvent(e);
        return;
    }
    switch (e->key()) {
        case Qt::Key_Escape:
            system_->dialogCommand(handle_, IDCANCEL);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            // Enter presses the focused push button, otherwise the default one.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->window() == this) {
                if (button->isEnabled()) button->click();
                return;
            }
            system_->dialogCommand(handle_, 0);
            return;
        }
        default:
            QWidget::keyPressEvent(e);
    }
}
