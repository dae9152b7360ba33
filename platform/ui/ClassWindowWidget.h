#pragma once
// The widget of a window of a registered class. It turns the Qt events the program
// cares about into window messages for the class's procedure: WM_SIZE, WM_CLOSE, mouse
// buttons and double-clicks, and WM_DROPFILES when the window accepts files.
#include <QPointer>
#include <QWidget>
#include <memory>

#include "framework/WindowApi.h"
#include "platform/ui/PictureSlot.h"

class QtWindowSystem;
class QWindow;

class ClassWindowWidget : public QWidget {
public:
    ClassWindowWidget(QtWindowSystem* system, HWND handle, QWidget* parent, bool acceptFiles);

    HWND handle() const { return handle_; }
    // Pictures handed to the window from any thread land here.
    const std::shared_ptr<PictureSlot>& pictures() const { return pictures_; }
    // The native window over the client area (made on the first call).
    QWindow* nativeSurface(void (*prepare)(QWindow*));

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
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
    std::shared_ptr<PictureSlot> pictures_ = std::make_shared<PictureSlot>();
    QPointer<QWidget> surfaceContainer_;
    QWindow* surface_ = nullptr;  // owned by its container
};
