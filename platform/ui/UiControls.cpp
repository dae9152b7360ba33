#include "platform/ui/UiControls.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QString>

namespace {

QString toQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

bool sameClass(const std::u16string& a, const char* b) {
    return toQString(a).compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::unique_ptr<UiControl> UiControl::create(const std::u16string& className, DWORD style, int id, QWidget* parent,
                                             Notifier notify, IconLookup icons) {
    if (sameClass(className, "BUTTON"))
        return std::make_unique<ButtonControl>(style, id, parent, std::move(notify), std::move(icons));
    if (sameClass(className, "STATIC")) return std::make_unique<StaticControl>(style, parent);
    if (sameClass(className, "msctls_trackbar32")) return std::make_unique<TrackbarControl>(style, parent, notify);
    return nullptr;
}

// Buttons.

ButtonControl::ButtonControl(DWORD style, int id, QWidget* parent, Notifier notify, IconLookup icons)
    : button_(new QPushButton(parent)), iconOnly_((style & BS_ICON) != 0), icons_(std::move(icons)) {
    button_->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    // The lambda keeps no pointer to this object: the widget may outlive it by a moment.
    QObject::connect(button_, &QPushButton::clicked, button_,
                     [notify, id] { notify(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED)); });
}

QWidget* ButtonControl::widget() const {
    return button_;
}

void ButtonControl::fitIcon() {
    // An icon button shows its picture at the button's size, less a small margin.
    int side = std::max(1, std::min(button_->width(), button_->height()) - 8);
    button_->setIconSize(QSize(side, side));
}

bool ButtonControl::handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case BM_SETIMAGE: {
            result = reinterpret_cast<LRESULT>(image_);
            if (wParam != IMAGE_ICON) return true;
            image_ = reinterpret_cast<HICON>(lParam);
            button_->setIcon(icons_ ? icons_(image_) : QIcon());
            fitIcon();
            return true;
        }
        case BM_GETIMAGE:
            result = wParam == IMAGE_ICON ? reinterpret_cast<LRESULT>(image_) : 0;
            return true;
        case BM_CLICK:
            result = 0;
            if (button_->isEnabled()) button_->click();
            return true;
        case WM_SIZE:
            fitIcon();
            result = 0;
            return true;
        default:
            return false;
    }
}

void ButtonControl::setText(const std::u16string& text) {
    // An icon button shows only its picture; the text stays its name.
    if (!iconOnly_) button_->setText(toQString(text));
}

// Static text.

StaticControl::StaticControl(DWORD style, QWidget* parent) : label_(new QLabel(parent)) {
    Qt::Alignment horizontal = Qt::AlignLeft;
    switch (style & SS_TYPEMASK) {
        case SS_CENTER:
            horizontal = Qt::AlignHCenter;
            break;
        case SS_RIGHT:
            horizontal = Qt::AlignRight;
            break;
        default:
            break;
    }
    label_->setAlignment(horizontal | ((style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop));
    label_->setTextFormat(Qt::PlainText);
}

QWidget* StaticControl::widget() const {
    return label_;
}

bool StaticControl::handle(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

void StaticControl::setText(const std::u16string& text) {
    label_->setText(toQString(text));
}

// Trackbars.

TrackbarControl::TrackbarControl(DWORD style, QWidget* parent, Notifier notify)
    : slider_(new QSlider((style & TBS_VERT) ? Qt::Vertical : Qt::Horizontal, parent)),
      scrollMessage_((style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL),
      notify_(std::move(notify)) {
    // The platform's defaults: range 0-100, line 1, page a fifth of the range.
    slider_->setRange(0, 100);
    slider_->setSingleStep(1);
    slider_->setPageStep(20);
    slider_->setTracking(true);
    if (style & TBS_NOTICKS)
        slider_->setTickPosition(QSlider::NoTicks);
    else if (style & TBS_BOTH)
        slider_->setTickPosition(QSlider::TicksBothSides);
    else if (style & TBS_AUTOTICKS)
        slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);

    // The lambdas keep copies, not this object: the widget may outlive it by a moment.
    QSlider* slider = slider_;
    Notifier send = notify_;
    UINT scroll = scrollMessage_;
    auto post = [send, scroll](WORD code, int position) {
        send(scroll, MAKEWPARAM(code, static_cast<WORD>(position)));
    };
    QObject::connect(slider, &QSlider::sliderMoved, slider, [post](int position) { post(TB_THUMBTRACK, position); });
    QObject::connect(slider, &QSlider::sliderReleased, slider, [post, slider] {
        post(TB_THUMBPOSITION, slider->sliderPosition());
        post(TB_ENDTRACK, 0);
    });
    // Line and page steps and jumps to the ends (mouse on the track, keyboard, wheel) are
    // each a whole slider action: their code, then the end of the action. The position
    // has already moved when the action is reported.
    QObject::connect(slider, &QAbstractSlider::actionTriggered, slider, [post](int action) {
        WORD code;
        switch (action) {
            case QAbstractSlider::SliderSingleStepAdd:
                code = TB_LINEDOWN;
                break;
            case QAbstractSlider::SliderSingleStepSub:
                code = TB_LINEUP;
                break;
            case QAbstractSlider::SliderPageStepAdd:
                code = TB_PAGEDOWN;
                break;
            case QAbstractSlider::SliderPageStepSub:
                code = TB_PAGEUP;
                break;
            case QAbstractSlider::SliderToMinimum:
                code = TB_TOP;
                break;
            case QAbstractSlider::SliderToMaximum:
                code = TB_BOTTOM;
                break;
            default:
                return;  // thumb moves are reported by sliderMoved
        }
        post(code, 0);
        post(TB_ENDTRACK, 0);
    });
}

QWidget* TrackbarControl::widget() const {
    return slider_;
}

bool TrackbarControl::handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (message) {
        case TBM_GETPOS:
            // The slider's own position: during an action it is ahead of its value.
            result = slider_->sliderPosition();
            return true;
        case TBM_GETRANGEMIN:
            result = slider_->minimum();
            return true;
        case TBM_GETRANGEMAX:
            result = slider_->maximum();
            return true;
        case TBM_GETPAGESIZE:
            result = slider_->pageStep();
            return true;
        case TBM_GETLINESIZE:
            result = slider_->singleStep();
            return true;
        case TBM_SETPOS: {
            QSignalBlocker quiet(slider_);  // setting the position notifies nobody
            slider_->setValue(static_cast<int>(lParam));
            return true;
        }
        case TBM_SETRANGE: {
            QSignalBlocker quiet(slider_);
            slider_->setRange(LOWORD(static_cast<uintptr_t>(lParam)), HIWORD(static_cast<uintptr_t>(lParam)));
            return true;
        }
        case TBM_SETRANGEMIN: {
            QSignalBlocker quiet(slider_);
            slider_->setMinimum(static_cast<int>(lParam));
            return true;
        }
        case TBM_SETRANGEMAX: {
            QSignalBlocker quiet(slider_);
            slider_->setMaximum(static_cast<int>(lParam));
            return true;
        }
        case TBM_SETPAGESIZE:
            result = slider_->pageStep();
            slider_->setPageStep(static_cast<int>(lParam));
            return true;
        case TBM_SETLINESIZE:
            result = slider_->singleStep();
            slider_->setSingleStep(static_cast<int>(lParam));
            return true;
        default:
            (void)wParam;
            return false;
    }
}
