#pragma once
// The common controls a window can create by their class names: "BUTTON", "STATIC" and
// "msctls_trackbar32". Each wraps one Qt widget, answers its control messages and tells
// its parent what the user did through the notifier (WM_COMMAND, WM_HSCROLL/WM_VSCROLL).
#include <QIcon>
#include <functional>
#include <memory>
#include <string>

#include "framework/WindowApi.h"

class QWidget;
class QPushButton;
class QLabel;
class QSlider;

class UiControl {
public:
    // Sends a message to the control's parent window (lParam is the control's handle).
    using Notifier = std::function<void(UINT message, WPARAM wParam)>;
    // Turns an icon handle into the icon it stands for (empty when unknown).
    using IconLookup = std::function<QIcon(HICON)>;

    virtual ~UiControl() = default;
    virtual QWidget* widget() const = 0;
    // True when the control knows the message; result then holds its answer.
    virtual bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    virtual void setText(const std::u16string& text) = 0;

    // The control for a class name, or null when the name is not a control class.
    static std::unique_ptr<UiControl> create(const std::u16string& className, DWORD style, int id, QWidget* parent,
                                             Notifier notify, IconLookup icons);
};

class ButtonControl : public UiControl {
public:
    ButtonControl(DWORD style, int id, QWidget* parent, Notifier notify, IconLookup icons);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string& text) override;

private:
    void fitIcon();

    QPushButton* button_;
    bool iconOnly_;
    HICON image_ = nullptr;
    IconLookup icons_;
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

class TrackbarControl : public UiControl {
public:
    TrackbarControl(DWORD style, QWidget* parent, Notifier notify);
    QWidget* widget() const override;
    bool handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void setText(const std::u16string&) override {}

private:
    QSlider* slider_;
    UINT scrollMessage_;
    Notifier notify_;
};
