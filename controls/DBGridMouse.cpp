// The data grid's mouse: presses on data cells and titles, hovering, column resizing and moving
// with their marks, double clicks, the wheel and the vertical scroll bar. One state per gesture: a
// press picks it, a move switches on it, a release ends it.

#include "DBGrid.h"

#include "DBGridPrivate.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace sorvanto {

namespace {
constexpr int kResizeZone = 3; // pixels either side of a column line that start resizing
constexpr int kMinColumnWidth = 4;
constexpr int kMoveScrollMs = 60;
} // namespace

// ---- Presses --------------------------------------------------------------------------------

void TDBGrid::Private::MousePress(const QPoint& pos) {
    if (!TakeFocus())
        return;
    int c, r;
    if (!CellAt(pos, c, r)) {
        mouseState = MouseState::None;
        return;
    }
    if (r < titleOffset) {
        UpdateData();
        MouseTitlePress(pos, c);
        return;
    }
    if (!link.Active())
        return;
    if (c < indicatorOffset) {
        MoveBy(r - row);
        return;
    }
    const bool wasCurrent = c == col && r == row;
    UpdateData();
    if (!wasCurrent)
        HideEditor();
    if (r != row)
        MoveBy(r - row);
    MoveCol(c, 0);
    mouseState = MouseState::CellPress;
    pressCol = c;
    if (wasCurrent && c == col && r == row)
        ShowEditor();
    else
        InvalidateEditor();
}

void TDBGrid::Private::MouseTitlePress(const QPoint& pos, int c) {
    pressCol = c;
    SetHotTitle(c);
    if (int border = ColumnBorderAt(pos); border >= 0) {
        mouseState = MouseState::ColumnResize;
        sizingCol = border;
        sizingOrigin = ColX(border);
        sizingPos = pos.x();
        InvalidateSizingLine();
        return;
    }
    if (c < indicatorOffset) {
        mouseState = MouseState::None;
        return;
    }
    mouseState = MouseState::TitlePress;
    moveTarget = c;
    movePos = pos;
    InvalidateCell(c, 0);
}

// ---- Moves ----------------------------------------------------------------------------------

void TDBGrid::Private::MouseMove(const QPoint& pos) {
    switch (mouseState) {
    case MouseState::None:
    case MouseState::CellPress:
        Hover(pos);
        break;
    case MouseState::ColumnResize:
        movePos = pos;
        InvalidateSizingLine();
        sizingPos = std::max(pos.x(), sizingOrigin + kMinColumnWidth);
        InvalidateSizingLine();
        break;
    case MouseState::TitlePress:
    case MouseState::ColumnMove:
        TitleDrag(pos);
        break;
    }
}

void TDBGrid::Private::Hover(const QPoint& pos) {
    int c, r;
    SetHotTitle(CellAt(pos, c, r) && r < titleOffset && c >= indicatorOffset ? c : -1);
    q.viewport()->setCursor(titleOffset && ColumnBorderAt(pos) >= 0 ? Qt::SplitHCursor
                                                                    : Qt::ArrowCursor);
}

void TDBGrid::Private::SetHotTitle(int c) {
    if (c == hotTitle)
        return;
    InvalidateCell(hotTitle, 0);
    hotTitle = c;
    InvalidateCell(hotTitle, 0);
}

void TDBGrid::Private::TitleDrag(const QPoint& pos) {
    movePos = pos;
    int c, r;
    const int under = CellAt(QPoint(pos.x(), 0), c, r) ? c : -1;
    SetHotTitle(under);
    if (!Has(TDBGridOption::dgColumnResize))
        return;
    if (mouseState == MouseState::TitlePress) {
        if (under < indicatorOffset || under == pressCol)
            return;
        // Dragged onto another title: the press becomes a column move.
        mouseState = MouseState::ColumnMove;
        InvalidateCell(pressCol, 0);
    }
    if (under >= indicatorOffset && under != moveTarget) {
        InvalidateMoveMarker();
        moveTarget = under;
        InvalidateMoveMarker();
    }
    // Beyond the edge the grid scrolls sideways, one step every 60 ms.
    const bool beyond = pos.x() < FixedWidth() || pos.x() >= q.viewport()->width();
    if (beyond && !moveTimer) {
        moveTimer = new QTimer(&q);
        moveTimer->setInterval(kMoveScrollMs);
        QObject::connect(moveTimer, &QTimer::timeout, &q, [this] { MoveTimerTick(); });
    }
    if (beyond && !moveTimer->isActive())
        moveTimer->start();
    else if (!beyond && moveTimer)
        moveTimer->stop();
}

void TDBGrid::Private::MoveTimerTick() {
    if (mouseState != MouseState::ColumnMove) {
        moveTimer->stop();
        return;
    }
    QScrollBar* bar = q.horizontalScrollBar();
    const int step = std::max(1, bar->singleStep());
    // The titles' pixels move with the scroll, the marker with them: the whole strip is redrawn.
    InvalidateMoveMarker();
    if (movePos.x() < FixedWidth())
        bar->setValue(bar->value() - step);
    else if (movePos.x() >= q.viewport()->width())
        bar->setValue(bar->value() + step);
    int c, r;
    const int edge = movePos.x() < FixedWidth() ? FixedWidth() : q.viewport()->width() - 1;
    if (CellAt(QPoint(edge, 0), c, r) && c >= indicatorOffset)
        moveTarget = c;
    InvalidateMoveMarker();
}

// ---- Releases -------------------------------------------------------------------------------

void TDBGrid::Private::MouseRelease(const QPoint& pos) {
    const auto state = mouseState;
    if (state == MouseState::TitlePress || state == MouseState::ColumnResize ||
        state == MouseState::ColumnMove) {
        MouseTitleRelease(pos);
        return;
    }
    mouseState = MouseState::None;
    int c, r;
    if (state == MouseState::CellPress && CellAt(pos, c, r) && r >= titleOffset) {
        if (TColumn* column = ColumnOf(c); column && q.OnCellClick)
            q.OnCellClick(*column);
    }
}

void TDBGrid::Private::MouseTitleRelease(const QPoint& pos) {
    const MouseState state = mouseState;
    // The marks go away with the state.
    InvalidateSizingLine();
    InvalidateMoveMarker();
    InvalidateCell(pressCol, 0);
    mouseState = MouseState::None;
    if (moveTimer)
        moveTimer->stop();
    if (state == MouseState::ColumnResize) {
        if (TColumn* column = ColumnOf(sizingCol))
            column->SetWidth(std::max(kMinColumnWidth, sizingPos - sizingOrigin));
        sizingCol = -1;
        return;
    }
    if (state == MouseState::ColumnMove && moveTarget != pressCol) {
        const int from = ColumnIndex(pressCol);
        const int to = ColumnIndex(moveTarget);
        const bool wasCurrent = pressCol == col;
        columns.Move(from, to);
        if (wasCurrent)
            col = moveTarget;
        LoadEditText();
        if (q.OnColumnMoved)
            q.OnColumnMoved(q, from, to);
        return;
    }
    // Released where it started: a title click.
    int c, r;
    if (CellAt(pos, c, r) && r < titleOffset && c == pressCol && c >= indicatorOffset &&
        Has(TDBGridOption::dgTitleClick)) {
        if (TColumn* column = ColumnOf(c); column && q.OnTitleClick)
            q.OnTitleClick(*column);
    }
}

// ---- The vertical scroll bar: clicks, and the thumb dragged then released ----------------

void TDBGrid::Private::ScrollBarAction(int action) {
    QScrollBar* bar = q.verticalScrollBar();
    if (action == QAbstractSlider::SliderMove) {
        // Dragging the thumb moves nothing until it is released.
        if (!bar->isSliderDown())
            ScrollBarReleased();
        return;
    }
    int value = bar->value();
    auto restore = [&] { bar->setSliderPosition(bar->value()); };
    if (!TakeFocus() || !link.Active()) {
        bar->setSliderPosition(value);
        return;
    }
    TDataSet* dataSet = link.DataSet();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        MoveBy(-link.ActiveRecord() - 1);
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        MoveBy(link.RecordCount() - link.ActiveRecord());
        break;
    case QAbstractSlider::SliderPageStepSub:
        MoveBy(-VisibleRows());
        break;
    case QAbstractSlider::SliderPageStepAdd:
        MoveBy(VisibleRows());
        break;
    case QAbstractSlider::SliderToMinimum:
        dataSet->First();
        break;
    case QAbstractSlider::SliderToMaximum:
        dataSet->Last();
        break;
    default:
        break;
    }
    restore();
}

void TDBGrid::Private::ShowThumbTip(int position) {
    QScrollBar* bar = q.verticalScrollBar();
    if (!bar->isSliderDown() || !link.Active())
        return;
    const int count = link.DataSet()->RecordCount();
    const int target = std::clamp(position, 1, std::max(count, 1));
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.singleStep = bar->singleStep();
    const QRect slider =
        q.style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    QToolTip::showText(bar->mapToGlobal(QPoint(0, slider.center().y())),
                       GroupedNumber(target) + QStringLiteral(" / ") + GroupedNumber(count), bar);
}

void TDBGrid::Private::ScrollBarReleased() {
    QScrollBar* bar = q.verticalScrollBar();
    QToolTip::hideText();
    int position = bar->sliderPosition();
    if (!TakeFocus() || !link.Active()) {
        bar->setSliderPosition(bar->value());
        return;
    }
    auto* dataSet = link.DataSet();
    // The thumb goes back to the bar's value, however the move ends.
    const auto restore = qScopeGuard([bar] { bar->setSliderPosition(bar->value()); });
    if (position <= 1)
        dataSet->First();
    else if (position >= dataSet->RecordCount())
        dataSet->Last();
    else
        dataSet->SetRecNo(position);
}

// ---- Column borders and the sizing marks ----------------------------------------------------

int TDBGrid::Private::ColumnBorderAt(const QPoint& pos) const {
    if (!Has(TDBGridOption::dgColumnResize) || !titleOffset || pos.y() >= TitlePitch())
        return -1;
    // Only the columns whose right edge lies within reach of the point.
    const int first = ColumnAtX(pos.x() - kResizeZone - 1);
    const int last = ColumnAtX(pos.x() + kResizeZone);
    for (int c = std::max(first, indicatorOffset); c <= last; ++c) {
        int width = colWidths[static_cast<size_t>(c)];
        if (width <= 0)
            continue;
        int right = ColX(c) + width;
        if (right < FixedWidth())
            continue;
        if (std::abs(pos.x() - right) <= kResizeZone)
            return c;
    }
    return -1;
}

QRect TDBGrid::Private::SizingLineRect() const {
    return QRect(sizingPos, 0, 1, q.viewport()->height());
}

QRect TDBGrid::Private::MoveMarkerRect() const {
    return QRect(0, 0, q.viewport()->width(), TitlePitch());
}

void TDBGrid::Private::InvalidateSizingLine() {
    if (mouseState == MouseState::ColumnResize)
        q.viewport()->update(SizingLineRect());
}

void TDBGrid::Private::InvalidateMoveMarker() {
    if (mouseState == MouseState::ColumnMove)
        q.viewport()->update(MoveMarkerRect());
}

void TDBGrid::Private::PaintSizingMarks(QPainter& painter) {
    const QColor ink = q.palette().color(QPalette::WindowText);
    if (mouseState == MouseState::ColumnResize) {
        painter.fillRect(SizingLineRect(), ink);
    } else if (mouseState == MouseState::ColumnMove && moveTarget >= indicatorOffset) {
        // The marker stands on the side the column would go to.
        int x = ColX(moveTarget);
        if (moveTarget > pressCol)
            x += colWidths[static_cast<size_t>(moveTarget)];
        painter.fillRect(QRect(x - 1, 0, 3, TitlePitch()), ink);
    }
}

QString TDBGrid::RefusalText(int row) const {
    if (!d->link.Active() || row < d->titleOffset || row - d->titleOffset >= d->link.RecordCount())
        return {};
    int windowRow = d->link.FirstRecord() + (row - d->titleOffset);
    return QString::fromStdString(d->link.DataSet()->WindowRecordRefusal(windowRow));
}

// ---- The widget's mouse events --------------------------------------------------------------

bool TDBGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave)
        d->SetHotTitle(-1);
    if (event->type() == QEvent::ToolTip) {
        // Over a row whose change the database refused: the database's reason.
        auto* help = static_cast<QHelpEvent*>(event);
        int c = 0;
        int r = 0;
        QString reason;
        if (d->CellAt(help->pos(), c, r) && c >= d->indicatorOffset)
            reason = RefusalText(r);
        if (reason.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QRect row(0, d->RowY(r), viewport()->width(), d->RowH(r));
            QToolTip::showText(help->globalPos(), reason, viewport(), row);
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void TDBGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    d->Guarded([this, event] { d->MousePress(event->position().toPoint()); });
}

void TDBGrid::mouseMoveEvent(QMouseEvent* event) {
    d->MouseMove(event->position().toPoint());
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    d->Guarded([this, event] { d->MouseRelease(event->position().toPoint()); });
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OnDblClick)
        d->Guarded([this] { OnDblClick(*this); });
}

void TDBGrid::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (!d->link.Active())
        return;
    d->wheelRemainder += event->angleDelta().y() / 120.0;
    int notches = static_cast<int>(d->wheelRemainder);
    d->wheelRemainder -= notches;
    // A notch down moves one record on, a notch up one record back.
    d->Guarded([this, notches] {
        for (int i = 0; i < std::abs(notches); ++i)
            d->MoveBy(notches < 0 ? 1 : -1);
    });
}

} // namespace sorvanto
