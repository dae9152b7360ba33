#include "platform/ui/UiControls.h"

#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QString>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/ListViewControl.h"

namespace {

QString toQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

bool sameClass(const std::u16string& a, const char* b) {
    return toQString(a).compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::unique_ptr<UiControl> UiControl::create(const std::u16string& className, DWORD style, QWidget* parent,
                                             const ControlContext& context) {
    if (sameClass(className, "BUTTON")) {
        if ((style & BS_TYPEMASK) == BS_GROUPBOX) return std::make_unique<GroupBoxControl>(parent);
        return std::make_unique<ButtonControl>(style, parent, context);
    }
    if (sameClass(className, "STATIC")) {
        DWORD type = style & SS_TYPEMASK;
        if (type == SS_OWNERDRAW || type == SS_ICON)
            return std::make_unique<PaintedStaticControl>(style, parent, context);
        return std::make_unique<StaticControl>(style, parent);
    }
    if (sameClass(className, "EDIT")) return std::make_unique<EditControl>(style, parent, context);
    if (sameClass(className, "msctls_trackbar32")) return std::make_unique<TrackbarControl>(style, parent, context);
    if (sameClass(className, "SysListView32")) return std::make_unique<ListViewControl>(style, parent, context);
    return nullptr;
}

// Buttons.

ButtonControl::ButtonControl(DWORD style, QWidget* parent, const ControlContext& context)
    : button_(new QPushButton(parent)), iconOnly_((style & BS_ICON) != 0), icons_(context.icons) {
    button_->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    // The lambda keeps no pointer to this object: the widget may outlive it by a moment.
    ControlContext ctx = context;
    QObject::connect(button_, &QPushButton::clicked, button_,
                     [ctx] { ctx.notify(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(ctx.id), BN_CLICKED)); });
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

// Group boxes: a frame with a title, beneath the controls made after it.

GroupBoxControl::GroupBoxControl(QWidget* parent) : box_(new QGroupBox(parent)) {
    box_->setFocusPolicy(Qt::NoFocus);
}

QWidget* GroupBoxControl::widget() const {
    return box_;
}

void GroupBoxControl::setText(const std::u16string& text) {
    box_->setTitle(toQString(text));
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

// Painted statics.

class PaintedStaticControl::Surface : public QWidget {
public:
    Surface(DWORD style, QWidget* parent, const ControlContext& context)
        : QWidget(parent), ownerDrawn_((style & SS_TYPEMASK) == SS_OWNERDRAW), context_(context) {}

    HICON icon = nullptr;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (ownerDrawn_) {
            DeviceContext dc(painter);
            DRAWITEMSTRUCT item{};
            item.CtlType = ODT_STATIC;
            item.CtlID = static_cast<UINT>(context_.id);
            item.itemAction = ODA_DRAWENTIRE;
            item.hwndItem = context_.handle;
            item.hDC = dc.handle();
            item.rcItem = RECT{0, 0, width(), height()};
            if (context_.sendToParent)
                context_.sendToParent(WM_DRAWITEM, static_cast<WPARAM>(context_.id), reinterpret_cast<LPARAM>(&item));
            return;
        }
        QIcon picture = context_.icons && icon ? context_.icons(icon) : QIcon();
        if (!picture.isNull()) picture.paint(&painter, rect());
    }

private:
    bool ownerDrawn_;
    ControlContext context_;
};

PaintedStaticControl::PaintedStaticControl(DWORD style, QWidget* parent, const ControlContext& context)
    : surface_(new Surface(style, parent, context)) {}

QWidget* PaintedStaticControl::widget() const {
    return surface_;
}

bool PaintedStaticControl::handle(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
        case STM_SETICON:
            result = reinterpret_cast<LRESULT>(surface_->icon);
            surface_->icon = reinterpret_cast<HICON>(wParam);
            surface_->update();
            return true;
        case STM_GETICON:
            result = reinterpret_cast<LRESULT>(surface_->icon);
            return true;
        default:
            return false;
    }
}

// Edit fields.

class EditControl::Field : public QLineEdit {
public:
    Field(QWidget* parent, const ControlContext& context) : QLineEdit(parent), context_(context) {}

protected:
    void focusInEvent(QFocusEvent* e) override {
        QLineEdit::focusInEvent(e);
        context_.notify(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(context_.id), EN_SETFOCUS));
    }
    void focusOutEvent(QFocusEvent* e) override {
        QLineEdit::focusOutEvent(e);
        context_.notify(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(context_.id), EN_KILLFOCUS));
    }

private:
    ControlContext context_;
};

EditControl::EditControl(DWORD style, QWidget* parent, const ControlContext& context)
    : edit_(new Field(parent, context)) {
    edit_->setFrame((style & WS_BORDER) != 0);
    edit_->setReadOnly((style & ES_READONLY) != 0);
    Qt::Alignment horizontal = (style & ES_RIGHT)    ? Qt::AlignRight
                               : (style & ES_CENTER) ? Qt::AlignHCenter
                                                     : Qt::AlignLeft;
    edit_->setAlignment(horizontal | Qt::AlignVCenter);
    // Digits only for what the user types; text set by the program is taken as it is.
    if (style & ES_NUMBER)
        edit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit_));
    edit_->setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    // Every change, typed or set, is announced, as the platform's single-line edits do.
    ControlContext ctx = context;
    QObject::connect(edit_, &QLineEdit::textChanged, edit_,
                     [ctx] { ctx.notify(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(ctx.id), EN_CHANGE)); });
}

QWidget* EditControl::widget() const {
    return edit_;
}

bool EditControl::handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (message) {
        case EM_SETSEL: {
            int length = static_cast<int>(edit_->text().size());
            int start = static_cast<int>(static_cast<intptr_t>(wParam));
            int end = static_cast<int>(lParam);
            if (start < 0) {
                edit_->deselect();
                return true;
            }
            if (end < 0 || end > length) end = length;
            start = std::min(start, length);
            edit_->setSelection(start, end - start);
            return true;
        }
        case EM_GETSEL: {
            int start = edit_->hasSelectedText() ? edit_->selectionStart() : edit_->cursorPosition();
            int end = edit_->hasSelectedText() ? edit_->selectionEnd() : start;
            if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(start);
            if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(end);
            result = MAKELONG(static_cast<WORD>(start), static_cast<WORD>(end));
            return true;
        }
        case EM_SETLIMITTEXT: {
            int limit = wParam == 0 || wParam > 32767 ? 32767 : static_cast<int>(wParam);
            edit_->setMaxLength(limit);
            return true;
        }
        case EM_SETREADONLY:
            edit_->setReadOnly(wParam != 0);
            result = TRUE;
            return true;
        default:
            return false;
    }
}

void EditControl::setText(const std::u16string& text) {
    edit_->setText(toQString(text));
}

bool EditControl::liveText(std::u16string& text) const {
    QString current = edit_->text();
    text.assign(reinterpret_cast<const char16_t*>(current.utf16()), static_cast<size_t>(current.size()));
    return true;
}

// Trackbars.

TrackbarControl::TrackbarControl(DWORD style, QWidget* parent, const ControlContext& context)
    : slider_(new QSlider((style & TBS_VERT) ? Qt::Vertical : Qt::Horizontal, parent)) {
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
    ControlContext ctx = context;
    UINT scroll = (style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
    auto post = [ctx, scroll](WORD code, int position) {
        ctx.notify(scroll, MAKEWPARAM(code, static_cast<WORD>(position)));
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
