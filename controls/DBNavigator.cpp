#include "DBNavigator.h"

#include "DataSource.h"
#include "Glyphs.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimerEvent>
#include <QVariant>

#include <algorithm>
#include <array>

namespace sorvanto {

// ---- Data link ----------------------------------------------------------------------------

class TNavDataLink : public TDataLink {
public:
    explicit TNavDataLink(TDBNavigator* navigator) : navigator_(navigator) {}

protected:
    void ActiveChanged() override { navigator_->ActiveChanged(); }
    void EditingChanged() override { navigator_->EditingChanged(); }
    // Scrolls and layout changes come here too; record changes are of no interest.
    void DataSetChanged() override { navigator_->DataChanged(); }

private:
    TDBNavigator* navigator_;
};

struct TDBNavigator::Private {
    explicit Private(TDBNavigator* navigator) : link(navigator) {}

    TNavDataLink link;
    std::array<TNavButton*, kNavButtonCount> buttons{};
    TNavButtonSet visible = TNavButtonSet::All();
    bool flat = false;
    QStringList hints;
    bool showHint = false;
    bool parentShowHint = true;
    bool tabStop = false;
    TAlign align = TAlign::alNone;
    int buttonWidth = 0;
    TNavigateBtn focused = nbFirst;
    bool arranging = false;
};

// ---- Button -------------------------------------------------------------------------------

TNavButton::TNavButton(TDBNavigator* navigator, TNavigateBtn index)
    : QWidget(navigator), navigator_(navigator), index_(index) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

TNavButton::~TNavButton() = default;

void TNavButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.state |= down_ ? QStyle::State_Sunken : QStyle::State_Raised;
    if (down_)
        option.state &= ~QStyle::State_Raised;
    // A flat button shows its bevel only under the pointer or while pressed.
    if (!navigator_->Flat() || hovered_ || down_)
        style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);

    QPixmap glyph = NavigatorGlyph(index_, !isEnabled());
    int shift = down_ ? 1 : 0;
    QPoint at((width() - glyph.width()) / 2 + shift, (height() - glyph.height()) / 2 + shift);
    painter.drawPixmap(at, glyph);

    if (navigator_->ShowsFocusMark(index_)) {
        QRect mark = rect().adjusted(3, 3, -3, -3).translated(shift, shift);
        QPen pen(palette().color(QPalette::ButtonText));
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(mark.adjusted(0, 0, -1, -1));
    }
}

void TNavButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    tracking_ = true;
    down_ = true;
    update();
    navigator_->ButtonPressed(index_);
    if (Repeats() && tracking_)
        StartTimer(kInitialRepeatDelay);
}

void TNavButton::mouseMoveEvent(QMouseEvent* event) {
    if (!tracking_)
        return;
    bool over = rect().contains(event->position().toPoint());
    if (over != down_) {
        down_ = over;
        update();
    }
}

void TNavButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !tracking_)
        return;
    bool over = rect().contains(event->position().toPoint());
    LetGo();
    if (over && isEnabled())
        RunHandled(this, [this] { navigator_->BtnClick(index_); });
}

void TNavButton::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_ || timerId_ == 0) {
        QWidget::timerEvent(event);
        return;
    }
    // The timer stands still while this repeat runs: a click that takes longer than the
    // interval (an apply waiting on a locked row) is not followed by another one at once.
    StopTimer();
    // A release may be waiting behind the timer: input that has come in goes first (a release
    // clicks once and ends the hold), and then the button must really still be held.
    QPointer<TNavButton> self(this);
    QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
    if (!self || !tracking_)
        return;
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        LetGo();
        return;
    }
    if (down_) {
        RunHandled(this, [this] {
            try {
                navigator_->BtnClick(index_);
            } catch (...) {
                // The failure ends the hold: no more repeats, and the release clicks nothing.
                LetGo();
                throw;
            }
        });
    }
    // The next repeat counts from the end of this one.
    if (self && tracking_ && isEnabled())
        StartTimer(kRepeatInterval);
}

void TNavButton::changeEvent(QEvent* event) {
    // A button that is disabled while held never clicks again until pressed anew.
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        LetGo();
    QWidget::changeEvent(event);
}

void TNavButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    if (navigator_->Flat())
        update();
    QWidget::enterEvent(event);
}

void TNavButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    if (navigator_->Flat())
        update();
    QWidget::leaveEvent(event);
}

void TNavButton::StartTimer(int interval) {
    StopTimer();
    timerId_ = startTimer(interval);
    interval_ = interval;
}

void TNavButton::StopTimer() {
    if (timerId_ != 0)
        killTimer(timerId_);
    timerId_ = 0;
    interval_ = 0;
}

void TNavButton::LetGo() {
    StopTimer();
    if (tracking_ || down_) {
        tracking_ = false;
        down_ = false;
        update();
    }
}

// ---- Navigator ----------------------------------------------------------------------------

TDBNavigator::TDBNavigator(QWidget* parent, std::string name)
    : QWidget(parent), TComponent(std::move(name)), d(std::make_unique<Private>(this)) {
    setObjectName(QString::fromStdString(Name()));
    setFocusPolicy(Qt::NoFocus);
    for (int i = 0; i < kNavButtonCount; ++i)
        d->buttons[static_cast<size_t>(i)] = new TNavButton(this, static_cast<TNavigateBtn>(i));
    UpdateHints();
    ActiveChanged();
    Arrange();
}

TDBNavigator::~TDBNavigator() {
    // The link's reactions reach back into the buttons; detach while they still exist.
    d->link.SetDataSource(nullptr);
}

TDataSource* TDBNavigator::DataSource() const {
    return d->link.DataSource();
}

void TDBNavigator::SetDataSource(TDataSource* source) {
    d->link.SetDataSource(source);
    if (!Loading())
        ActiveChanged();
}

TNavButtonSet TDBNavigator::VisibleButtons() const {
    return d->visible;
}

void TDBNavigator::SetVisibleButtons(TNavButtonSet buttons) {
    d->visible = buttons;
    Arrange();
}

bool TDBNavigator::Flat() const {
    return d->flat;
}

void TDBNavigator::SetFlat(bool value) {
    if (value == d->flat)
        return;
    d->flat = value;
    for (TNavButton* button : d->buttons)
        button->update();
}

QStringList TDBNavigator::Hints() const {
    return d->hints;
}

void TDBNavigator::SetHints(const QStringList& hints) {
    d->hints = hints;
    UpdateHints();
}

QString TDBNavigator::DefaultHint(TNavigateBtn button) {
    static const std::array<const char16_t*, kNavButtonCount> hints{
        u"最初のレコード", u"前のレコード",   u"次のレコード",   u"最後のレコード",
        u"レコードの挿入", u"レコードの削除", u"レコードの編集", u"レコードの登録",
        u"編集の取り消し", u"データ更新",
    };
    return QString::fromUtf16(hints.at(static_cast<size_t>(button)));
}

QString TDBNavigator::Hint(TNavigateBtn button) const {
    auto line = static_cast<qsizetype>(button);
    if (line < d->hints.size() && !d->hints.at(line).isEmpty())
        return d->hints.at(line);
    return DefaultHint(button);
}

bool TDBNavigator::ShowHint() const {
    if (d->parentShowHint) {
        QWidget* parent = parentWidget();
        return parent && parent->property("ShowHint").toBool();
    }
    return d->showHint;
}

void TDBNavigator::SetShowHint(bool value) {
    d->showHint = value;
    d->parentShowHint = false;
    UpdateHints();
}

bool TDBNavigator::ParentShowHint() const {
    return d->parentShowHint;
}

void TDBNavigator::SetParentShowHint(bool value) {
    d->parentShowHint = value;
    UpdateHints();
}

void TDBNavigator::UpdateHints() {
    bool show = ShowHint();
    for (TNavButton* button : d->buttons)
        button->setToolTip(show ? Hint(button->Index()) : QString());
}

bool TDBNavigator::Enabled() const {
    return !testAttribute(Qt::WA_ForceDisabled);
}

void TDBNavigator::SetEnabled(bool value) {
    setEnabled(value);
}

bool TDBNavigator::TabStop() const {
    return d->tabStop;
}

void TDBNavigator::SetTabStop(bool value) {
    d->tabStop = value;
    setFocusPolicy(value ? Qt::TabFocus : Qt::NoFocus);
}

TAlign TDBNavigator::Align() const {
    return d->align;
}

void TDBNavigator::SetAlign(TAlign value) {
    d->align = value;
    Arrange();
}

TNavButton* TDBNavigator::Button(TNavigateBtn button) const {
    return d->buttons.at(static_cast<size_t>(button));
}

TNavigateBtn TDBNavigator::FocusedButton() const {
    return d->focused;
}

int TDBNavigator::ButtonWidth() const {
    return d->buttonWidth;
}

// ---- Clicks -------------------------------------------------------------------------------

void TDBNavigator::BtnClick(TNavigateBtn button) {
    TDataSource* source = DataSource();
    if (source && source->State() != TDataSetState::dsInactive) {
        if (BeforeAction)
            BeforeAction(this, button);
        TDataSet* dataSet = source->DataSet();
        switch (button) {
        case nbFirst:
            dataSet->First();
            break;
        case nbPrior:
            dataSet->Prior();
            break;
        case nbNext:
            dataSet->Next();
            break;
        case nbLast:
            dataSet->Last();
            break;
        case nbInsert:
            dataSet->Insert();
            break;
        case nbDelete:
            if (!ConfirmDelete || ConfirmDeletion(QStringLiteral("レコードを削除しますか？")))
                dataSet->Delete();
            break;
        case nbEdit:
            dataSet->Edit();
            break;
        case nbPost:
            dataSet->Post();
            break;
        case nbCancel:
            dataSet->Cancel();
            break;
        case nbRefresh:
            dataSet->Refresh();
            break;
        }
    }
    if (OnClick)
        OnClick(this, button);
}

// ---- Enabling -----------------------------------------------------------------------------

void TDBNavigator::ActiveChanged() {
    if (!Enabled() || !d->link.Active()) {
        for (TNavButton* button : d->buttons)
            button->setEnabled(false);
        return;
    }
    DataChanged();
    EditingChanged();
}

void TDBNavigator::DataChanged() {
    bool on = Enabled() && d->link.Active();
    bool bof = on && d->link.Bof();
    bool eof = on && d->link.Eof();
    bool canModify = on && d->link.DataSet()->CanModify();
    Button(nbFirst)->setEnabled(on && !bof);
    Button(nbPrior)->setEnabled(on && !bof);
    Button(nbNext)->setEnabled(on && !eof);
    Button(nbLast)->setEnabled(on && !eof);
    Button(nbDelete)->setEnabled(canModify && !(bof && eof));
}

void TDBNavigator::EditingChanged() {
    bool modify = Enabled() && d->link.Active() && d->link.DataSet()->CanModify();
    bool editing = d->link.Editing();
    Button(nbInsert)->setEnabled(modify);
    Button(nbEdit)->setEnabled(modify && !editing);
    Button(nbPost)->setEnabled(modify && editing);
    Button(nbCancel)->setEnabled(modify && editing);
    Button(nbRefresh)->setEnabled(modify);
}

void TDBNavigator::Loaded() {
    UpdateHints();
    ActiveChanged();
    Arrange();
}

void TDBNavigator::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !Loading())
        ActiveChanged();
    else if (event->type() == QEvent::ParentChange && d->parentShowHint)
        UpdateHints();
    QWidget::changeEvent(event);
}

// ---- Sizing -------------------------------------------------------------------------------

void TDBNavigator::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}

void TDBNavigator::Arrange() {
    if (Loading() || d->arranging)
        return;
    int count = std::max(1, d->visible.Count());
    int w = 0, h = 0;
    {
        // The resizes below come back here; they must not arrange again.
        const QScopedValueRollback arranging(d->arranging, true);
        setMinimumSize(count * kMinButtonWidth, kMinButtonHeight);
        w = std::max(width(), count * kMinButtonWidth);
        h = std::max(height(), kMinButtonHeight);
        if (d->align == TAlign::alNone)
            w -= w % count;
        if (w != width() || h != height())
            resize(w, h);
    }

    d->buttonWidth = w / count;
    int remainder = w % count;
    int counter = count / 2;
    int x = 0;
    for (TNavButton* button : d->buttons) {
        if (!d->visible.Contains(button->Index())) {
            button->setGeometry(w + 1, 0, d->buttonWidth, h);
            button->hide();
            continue;
        }
        int bw = d->buttonWidth;
        if (remainder != 0) {
            counter -= remainder;
            if (counter < 0) {
                counter += count;
                ++bw;
            }
        }
        button->setGeometry(x, 0, bw, h);
        button->show();
        x += bw;
    }
}

// ---- Keyboard -----------------------------------------------------------------------------

void TDBNavigator::ButtonPressed(TNavigateBtn button) {
    TNavigateBtn old = d->focused;
    d->focused = button;
    if (old != button) {
        Button(old)->update();
        Button(button)->update();
    }
    if (d->tabStop && !hasFocus())
        setFocus(Qt::MouseFocusReason);
}

bool TDBNavigator::ShowsFocusMark(TNavigateBtn button) const {
    return button == d->focused && hasFocus();
}

void TDBNavigator::keyPressEvent(QKeyEvent* event) {
    auto mark = [this](TNavigateBtn button) {
        Button(d->focused)->update();
        d->focused = button;
        Button(button)->update();
    };
    switch (event->key()) {
    case Qt::Key_Left:
        for (int i = d->focused - 1; i >= 0; --i)
            if (d->visible.Contains(static_cast<TNavigateBtn>(i))) {
                mark(static_cast<TNavigateBtn>(i));
                break;
            }
        break;
    case Qt::Key_Right:
        for (int i = d->focused + 1; i < kNavButtonCount; ++i)
            if (d->visible.Contains(static_cast<TNavigateBtn>(i))) {
                mark(static_cast<TNavigateBtn>(i));
                break;
            }
        break;
    case Qt::Key_Space:
        if (Button(d->focused)->isEnabled())
            RunHandled(this, [this] { BtnClick(d->focused); });
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TDBNavigator::focusInEvent(QFocusEvent* event) {
    Button(d->focused)->update();
    QWidget::focusInEvent(event);
}

void TDBNavigator::focusOutEvent(QFocusEvent* event) {
    Button(d->focused)->update();
    QWidget::focusOutEvent(event);
}

} // namespace sorvanto
