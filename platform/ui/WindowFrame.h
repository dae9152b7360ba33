#pragma once
// The top-level widget of a window or dialog: the menu bar (when the window has a menu)
// above the client area. The frame, caption and borders around it are the desktop's; the
// window system accounts for them with fixed platform-like sizes (AdjustWindowRectEx).
// Closing it asks the window's procedure (WM_CLOSE); a dialog frame also turns Esc and
// Enter into the commands the platform's dialogs send.
#include <QPointer>
#include <QWidget>

#include "framework/WindowApi.h"

class QMenuBar;
class QtWindowSystem;

class WindowFrame : public QWidget {
public:
    // A frame without a sizing border (resizable false) keeps the size the program gives it.
    WindowFrame(QtWindowSystem* system, HWND handle, QWidget* owner, bool dialog, bool resizable);

    void setClient(QWidget* client);
    QWidget* client() const { return client_; }
    // Puts a bar of menuHeight pixels above the client (null takes it away); the old bar
    // is deleted.
    void setMenuBar(QMenuBar* bar, int menuHeight);
    QMenuBar* menuBar() const { return bar_; }
    int menuHeight() const { return bar_ ? menuHeight_ : 0; }
    // Resizes so that the menu bar and client fill size, laying them out at once (also
    // while hidden, when Qt would wait for the first show).
    void resizeInner(const QSize& size);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void layoutChildren(const QSize& size);

    QtWindowSystem* system_;
    HWND handle_;
    bool dialog_;
    bool resizable_;
    QPointer<QWidget> client_;
    QPointer<QMenuBar> bar_;
    int menuHeight_ = 0;
};
