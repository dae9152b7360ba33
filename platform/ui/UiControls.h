#pragma once
// The common controls a window can create by their class names: "BUTTON" (push buttons and
// group boxes), "STATIC" (text, icons, owner-drawn), "EDIT", "msctls_trackbar32" and
// "SysListView32" (ListViewControl.h). Each wraps one Qt widget, answers its control
// messages and tells its parent what the user did (WM_COMMAND, WM_HSCROLL/WM_VSCROLL,
// WM_NOTIFY, WM_DRAWITEM).
#include <QIcon>
#include <functional>
#include <memory>
#include <string>

#include "framework/WindowApi.h"

class QWidget;
class QPushButton;
class QLabel;
class QSlider;
class QGroupBox;
class QLineEdit;

// What a control knows of its place: its handle and id, and the way to its parent.
struct ControlContext {
    HWND handle = nullptr;
    int id = 0;
    // Sends a message to the parent window and answers its result (0 without a parent).
    std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)> sendToParent;
    // Turns an icon handle into the icon it stands for (empty when unknown).
    std::function<QIcon(HICON)> icons;

    // WM_COMMAND / WM_HSCROLL style notifications: lParam is the control's handle.
    void notify(UINT message, WPARAM wParam) const {
        if (sendToParent) sendToParent(message, wParam, reinterpret_cast<LPARAM>(handle));
    }
};

class UiControl {
public:
    virtual ~UiControl() = default;
    virtual QWidget* widget() const = 0;
    // True when the control knows the message; result then holds its answer.
    virtual bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    virtual void setText(const std::u16string& text) = 0;
    // The text the user may have changed (edit controls); false when the text is only
    // ever what was set.
    virtual bool liveText(std::u16string&) const { return false; }

    // The control for a class name, or null when the name is not a control class.
    static std::unique_ptr<UiControl> create(const std::u16string& className, DWORD style, QWidget* parent,
                                             const ControlContext& context);
};

class ButtonControl : public UiControl {
public:
    ButtonControl(DWORD style, QWidget* parent, const ControlContext& context);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string& text) override;

private:
    void fitIcon();

    QPushButton* button_;
    bool iconOnly_;
    HICON image_ = nullptr;
    std::function<QIcon(HICON)> icons_;
};

class GroupBoxControl : public UiControl {
public:
    explicit GroupBoxControl(QWidget* parent);
    QWidget* widget() const override;
    bool handle(UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
    void setText(const std::u16string& text) override;

private:
    QGroupBox* box_;
};

class StaticControl : public UiControl {
public:
    StaticControl(DWORD style, QWidget* parent);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string& text) override;

private:
    QLabel* label_;
};

// SS_ICON shows its icon stretched over the control; SS_OWNERDRAW asks its parent to paint
// with WM_DRAWITEM each time it is painted.
class PaintedStaticControl : public UiControl {
public:
    PaintedStaticControl(DWORD style, QWidget* parent, const ControlContext& context);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string&) override {}

private:
    class Surface;
    Surface* surface_;
};

class EditControl : public UiControl {
public:
    EditControl(DWORD style, QWidget* parent, const ControlContext& context);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string& text) override;
    bool liveText(std::u16string& text) const override;

private:
    class Field;
    Field* edit_;
};

class TrackbarControl : public UiControl {
public:
    TrackbarControl(DWORD style, QWidget* parent, const ControlContext& context);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string&) override {}

private:
    QSlider* slider_;
};
