#pragma once
// The widget of a window of a registered class. It turns the Qt events the program
// cares about into window messages for the class's procedure: WM_SIZE, WM_CLOSE, mouse
// buttons and double-clicks, and WM_DROPFILES when the window accepts files.
#include <QWidget>

#include "framework/WindowApi.h"

class QtWindowSystem;

class ClassWindowWidget : public QWidget {
public:
    ClassWindowWidget(QtWindowSystem* system, HWND handle, QWidget* parent, bool acceptFiles);

    HWND handle() const { return handle_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    QtWindowSystem* system_;
    HWND handle_;
};
