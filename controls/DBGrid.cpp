// The data grid's geometry, layout, scroll bar ranges, painting and reactions to the data
// link. The columns are in DBGridColumns.cpp, the mouse in DBGridMouse.cpp, the keyboard, the
// in-place editor and the editing rules in DBGridEdit.cpp.

#include "DBGrid.h"

#include "DBGridPrivate.h"
#include "Glyphs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionHeader>

#include <algorithm>
#include <cmath>

namespace sorvanto {

namespace {
constexpr int kIndicatorWidth = 11;
constexpr int kTextMargin = 2;
constexpr double kRowHeight = 17.0;
constexpr double kLineHeight = 13.0;

} // namespace

TDBGridOptions TDBGridOptions::Defaults() {
    using enum TDBGridOption;
    TDBGridOptions options{dgEditing,      dgTitles,     dgIndicator,    dgColumnResize,
                           dgColLines,     dgRowLines,   dgTabs,         dgConfirmDelete,
                           dgCancelOnExit, dgTitleClick, dgTitleHotTrack};
    // Korean desktops keep the editor open while moving.
    if (QLocale::system().language() == QLocale::Korean)
        options.Include(dgAlwaysShowEditor);
    return options;
}

// ---- The data link --------------------------------------------------------------------------

void TGridDataLink::ActiveChanged() {
    grid_.LinkActive();
}

void TGridDataLink::EditingChanged() {
    grid_.EditingChanged();
}

void TGridDataLink::DataSetChanged() {
    grid_.DataChanged();
}

void TGridDataLink::DataSetScrolled(int distance) {
    grid_.Scrolled(distance);
}

void TGridDataLink::LayoutChanged() {
    grid_.LayoutChangedReaction();
}

void TGridDataLink::RecordChanged(TField* field) {
    grid_.RecordChanged(field);
}

void TGridDataLink::UpdateData() {
    grid_.UpdateData();
}

void TGridDataLink::FocusControl(TField* field) {
    grid_.FocusField(field);
}

// ---- Geometry -------------------------------------------------------------------------------

TDBGrid::Private::Private(TDBGrid& grid) : q(grid), link(*this), columns(grid) {}

namespace {
// One line of text and its margin: 17 pixels where a line is 13 high (the layout's font at the
// window's base size), growing with the line as the window's layout grows with its font.
int LineRowHeight(const QFont& font) {
    return static_cast<int>(std::lround(QFontMetrics(font).height() * kRowHeight / kLineHeight));
}
} // namespace

int TDBGrid::Private::DataRowHeight() const {
    return LineRowHeight(q.font());
}

int TDBGrid::Private::TitleRowHeight() const {
    return LineRowHeight(q.TitleFont());
}

int TDBGrid::Private::FixedWidth() const {
    return indicatorOffset ? kIndicatorWidth + LineWidthV() : 0;
}

int TDBGrid::Private::HOffset() const {
    return q.horizontalScrollBar()->value();
}

int TDBGrid::Private::ColX(int c) const {
    if (c < indicatorOffset || c >= static_cast<int>(colLefts.size()))
        return 0;
    return colLefts[static_cast<size_t>(c)] - HOffset();
}

int TDBGrid::Private::ColumnAtX(int x) const {
    // The left edges rise with the column index; hidden columns share the next one's edge.
    const auto first =
        colLefts.begin() + std::min<std::ptrdiff_t>(indicatorOffset, std::ssize(colLefts));
    const auto after = std::upper_bound(first, colLefts.end(), x + HOffset());
    return static_cast<int>(after - colLefts.begin()) - 1;
}

int TDBGrid::Private::RowY(int r) const {
    if (r < titleOffset)
        return 0;
    return TitlePitch() + (r - titleOffset) * RowPitch();
}

int TDBGrid::Private::RowH(int r) const {
    return r < titleOffset ? TitleRowHeight() : DataRowHeight();
}

QRect TDBGrid::Private::CellRect(int c, int r) const {
    if (c < 0 || r < 0 || c >= static_cast<int>(colWidths.size()) || r >= rowCount)
        return {};
    int width = colWidths[static_cast<size_t>(c)];
    if (width <= 0)
        return {};
    QRect rect(ColX(c), RowY(r), width, RowH(r));
    if (c >= indicatorOffset) {
        // Scrolled columns never cover the fixed column.
        QRect scrollable(FixedWidth(), 0, q.viewport()->width() - FixedWidth(),
                         q.viewport()->height());
        rect = rect.intersected(scrollable);
    }
    return rect;
}

bool TDBGrid::Private::CellAt(const QPoint& pos, int& c, int& r) const {
    c = -1;
    r = -1;
    if (pos.y() >= 0) {
        if (pos.y() < TitlePitch())
            r = 0;
        else if (int i = titleOffset + (pos.y() - TitlePitch()) / RowPitch(); i < rowCount)
            r = i;
    }
    if (pos.x() >= 0 && pos.x() < FixedWidth()) {
        c = 0; // the indicator, never covered by scrolled columns
    } else if (pos.x() >= FixedWidth()) {
        int i = ColumnAtX(pos.x());
        if (i >= indicatorOffset) {
            const int width = colWidths[static_cast<size_t>(i)];
            if (width > 0 && pos.x() < ColX(i) + width + LineWidthV())
                c = i;
        }
    }
    return c >= 0 && r >= 0;
}

int TDBGrid::Private::VisibleRows() const {
    int height = q.viewport()->height() - TitlePitch();
    return std::max(1, height / RowPitch());
}

// ---- Layout ---------------------------------------------------------------------------------

void TDBGrid::Private::RequestLayout() {
    if (inLayout)
        return; // the layout under way takes it in
    LayoutScope scope(q);
}

void TDBGrid::Private::Layout() {
    const QScopedValueRollback inLayoutScope(inLayout, true);
    indicatorOffset = Has(TDBGridOption::dgIndicator) ? 1 : 0;
    if (columns.State() == TDBGridColumnsState::csDefault) {
        std::vector<TField*> fields;
        if (TDataSet* dataSet = link.DataSet(); link.Active() && dataSet)
            for (int i = 0; i < dataSet->FieldCount(); ++i)
                fields.push_back(&dataSet->Fields(i));
        columns.FollowFields(fields);
    }
    fieldMap.clear();
    if (link.Active()) {
        TDataSet* dataSet = link.DataSet();
        for (int i = 0; i < columns.Count(); ++i)
            fieldMap.push_back(dataSet->FindField(columns[i].FieldName().toStdString()));
    } else {
        fieldMap.assign(static_cast<size_t>(columns.Count()), nullptr);
    }
    titleOffset = Has(TDBGridOption::dgTitles) ? 1 : 0;
    colWidths.clear();
    if (indicatorOffset)
        colWidths.push_back(kIndicatorWidth);
    for (int i = 0; i < columns.Count(); ++i)
        colWidths.push_back(columns[i].Visible() ? columns[i].Width() : 0);
    colLefts.assign(colWidths.size(), 0);
    contentWidth = FixedWidth();
    for (size_t i = static_cast<size_t>(indicatorOffset); i < colWidths.size(); ++i) {
        colLefts[i] = contentWidth;
        if (colWidths[i] > 0)
            contentWidth += colWidths[i] + LineWidthV();
    }
    col = std::clamp(col, indicatorOffset, std::max(indicatorOffset, q.ColCount() - 1));
    UpdateRowCount();
    UpdateHorizontalBar();
    UpdateActive();
    q.viewport()->update();
}

void TDBGrid::Private::UpdateRowCount() {
    int old = rowCount;
    TDataSet* dataSet = link.DataSet();
    if (!link.Active() || !dataSet || dataSet->IsEmpty()) {
        rowCount = titleOffset + 1;
    } else {
        link.SetBufferCount(VisibleRows());
        rowCount = titleOffset + std::max(1, link.RecordCount());
    }
    UpdateActive();
    if (rowCount != old)
        q.viewport()->update();
}

void TDBGrid::Private::UpdateScrollBar() {
    QScrollBar* bar = q.verticalScrollBar();
    TDataSet* dataSet = link.DataSet();
    bool show = link.Active() && dataSet && dataSet->IsSequenced() && dataSet->RecordCount() > 1;
    if (show) {
        QSignalBlocker blocker(bar);
        int visible = VisibleRows();
        // The bar's range is 1 to RecordCount + visible - 1 with a page of the visible rows: its
        // highest position is the last record.
        bar->setRange(1, dataSet->RecordCount());
        bar->setPageStep(visible);
        bar->setSingleStep(1);
        if (dataSet->State() != TDataSetState::dsInsert)
            bar->setValue(dataSet->RecNo());
    }
    if (show != vbarShown) {
        vbarShown = show;
        q.setVerticalScrollBarPolicy(show ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    }
}

void TDBGrid::Private::UpdateHorizontalBar() {
    const int total = contentWidth - FixedWidth();
    int page = std::max(0, q.viewport()->width() - FixedWidth());
    QScrollBar* bar = q.horizontalScrollBar();
    bar->setRange(0, std::max(0, total - page));
    bar->setPageStep(std::max(1, page));
    bar->setSingleStep(std::max(1, DataRowHeight()));
}

void TDBGrid::Private::UpdateActive() {
    if (!link.Active())
        return;
    int target = titleOffset + std::max(0, link.ActiveRecord());
    if (target == row)
        return;
    if (!Has(TDBGridOption::dgAlwaysShowEditor))
        HideEditor();
    InvalidateCell(col, row);
    InvalidateIndicator(row);
    row = target;
    InvalidateCell(col, row);
    InvalidateIndicator(row);
    LoadEditText();
}

void TDBGrid::Private::ScrollColumnIntoView(int c) {
    if (c < indicatorOffset || c >= static_cast<int>(colWidths.size()))
        return;
    QScrollBar* bar = q.horizontalScrollBar();
    int left = ColX(c) + HOffset() - FixedWidth(); // position among the scrolled columns
    int width = colWidths[static_cast<size_t>(c)];
    int page = q.viewport()->width() - FixedWidth();
    if (left < bar->value())
        bar->setValue(left);
    else if (left + width > bar->value() + page)
        bar->setValue(std::min(left, left + width - page));
}

void TDBGrid::Private::InvalidateCell(int c, int r) {
    QRect rect = CellRect(c, r);
    if (!rect.isEmpty())
        q.viewport()->update(rect.adjusted(0, 0, LineWidthV(), LineWidthH()));
}

void TDBGrid::Private::InvalidateRow(int r) {
    if (r < 0 || r >= rowCount)
        return;
    q.viewport()->update(QRect(0, RowY(r), q.viewport()->width(), RowH(r) + LineWidthH()));
}

void TDBGrid::Private::InvalidateColumnOf(const TField* field) {
    for (int c = indicatorOffset; c < q.ColCount(); ++c) {
        if (FieldOf(c) != field)
            continue;
        QRect rect = CellRect(c, titleOffset);
        if (rect.isEmpty())
            continue;
        q.viewport()->update(QRect(rect.left(), rect.top(), rect.width() + LineWidthV(),
                                   q.viewport()->height() - rect.top()));
    }
}

void TDBGrid::Private::InvalidateIndicator(int r) {
    if (indicatorOffset)
        InvalidateCell(0, r);
}

// ---- Moving ---------------------------------------------------------------------------------

void TDBGrid::Private::MoveCol(int target, int direction) {
    UpdateData();
    int last = q.ColCount() - 1;
    if (last < indicatorOffset)
        return;
    target = std::clamp(target, indicatorOffset, last);
    if (direction != 0) {
        while (target >= indicatorOffset && target <= last &&
               colWidths[static_cast<size_t>(target)] <= 0)
            target += direction;
        if (target < indicatorOffset || target > last)
            return;
    }
    if (target == col)
        return;
    int before = col;
    if (q.OnColExit)
        q.OnColExit(nullptr);
    if (col != before)
        return;
    if (!Has(TDBGridOption::dgAlwaysShowEditor))
        HideEditor();
    InvalidateCell(col, row);
    col = target;
    ScrollColumnIntoView(col);
    InvalidateCell(col, row);
    LoadEditText();
    if (Has(TDBGridOption::dgAlwaysShowEditor))
        UpdateEditor();
    if (q.OnColEnter)
        q.OnColEnter(nullptr);
}

int TDBGrid::Private::MoveBy(int distance) {
    if (!link.Active() || distance == 0)
        return 0;
    return link.MoveBy(distance);
}

bool TDBGrid::Private::IsActiveControl() const {
    QWidget* focus = q.window()->focusWidget();
    return focus && (focus == &q || (editor && focus == editor));
}

bool TDBGrid::Private::TakeFocus() {
    if (q.focusPolicy() == Qt::NoFocus || !q.isEnabled())
        return true;
    if (IsActiveControl())
        return true;
    q.setFocus(Qt::MouseFocusReason);
    return IsActiveControl();
}

// ---- Reactions to the data link -------------------------------------------------------------

void TDBGrid::Private::LinkActive() {
    if (!link.Active())
        HideEditor();
    Layout();
    UpdateScrollBar();
    // Opening sends no move: the current cell's text is taken here.
    LoadEditText();
    link.Modified = false;
}

void TDBGrid::Private::DataChanged() {
    UpdateRowCount();
    UpdateScrollBar();
    UpdateActive();
    LoadEditText();
    q.viewport()->update();
    link.Modified = false;
}

void TDBGrid::Private::Scrolled(int distance) {
    if (titleOffset + link.ActiveRecord() >= rowCount)
        UpdateRowCount();
    UpdateScrollBar();
    const int oldRow = row;
    UpdateActive();
    if (distance == 0) {
        InvalidateCell(col, oldRow);
        InvalidateCell(col, row);
        return;
    }
    const bool wasShown = editorShown;
    HideEditor();
    if (std::abs(distance) > VisibleRows()) {
        q.viewport()->update();
    } else {
        // Move the data rows' pixels and repaint what was uncovered; the cells that change
        // their look are the current cell before and after the move and the indicators.
        const int dataTop = TitlePitch();
        const int dataHeight = (rowCount - titleOffset) * RowPitch();
        const int dy = -distance * RowPitch();
        q.viewport()->scroll(0, dy, QRect(0, dataTop, q.viewport()->width(), dataHeight));
        int shifted = oldRow - distance;
        if (shifted >= titleOffset && shifted < rowCount) {
            InvalidateCell(col, shifted);
            InvalidateIndicator(shifted);
        }
        InvalidateCell(col, row);
        InvalidateIndicator(row);
    }
    if (wasShown && Has(TDBGridOption::dgAlwaysShowEditor))
        ShowEditor();
}

void TDBGrid::Private::LayoutChangedReaction() {
    Layout();
    DataChanged();
}

void TDBGrid::Private::EditingChanged() {
    InvalidateIndicator(row);
}

void TDBGrid::Private::RecordChanged(TField* field) {
    // Another field changed while the operator's text waits: that text goes in first.
    if (field && field != FieldOf(col) && link.Modified)
        UpdateData();
    if (!field)
        q.viewport()->update();
    else
        InvalidateColumnOf(field);
    if (!field || field == FieldOf(col)) {
        TField* current = FieldOf(col);
        QString text = current ? EditText(*current, current->Value()) : QString();
        if (text != editText) {
            LoadEditText();
            if (editor)
                editor->end(false);
        }
    }
    link.Modified = false;
}

void TDBGrid::Private::FocusField(TField* field) {
    if (!field)
        return;
    for (int c = indicatorOffset; c < q.ColCount(); ++c) {
        if (FieldOf(c) != field)
            continue;
        MoveCol(c, 0);
        if (col == c && q.focusPolicy() != Qt::NoFocus && q.isEnabled()) {
            q.setFocus(Qt::OtherFocusReason);
            q.SetEditorMode(true);
        }
        return;
    }
}

// ---- Painting -------------------------------------------------------------------------------

void TDBGrid::Private::Paint(QPainter& painter, const QRegion& region) {
    const QRect bounds = region.boundingRect();
    const QColor background = q.Color();
    // The visible range, once.
    int firstRow = rowCount, lastRow = -1;
    for (int r = 0; r < rowCount; ++r) {
        int top = RowY(r);
        if (top + RowH(r) + LineWidthH() > bounds.top() && top <= bounds.bottom()) {
            firstRow = std::min(firstRow, r);
            lastRow = r;
        }
    }
    // The indicator when the region reaches it, then the scrolled columns under the region.
    std::vector<int> cols;
    if (indicatorOffset && bounds.left() < FixedWidth())
        cols.push_back(0);
    const int lastCol = ColumnAtX(bounds.right());
    for (int c = std::max(indicatorOffset, ColumnAtX(bounds.left())); c <= lastCol; ++c)
        cols.push_back(c);
    QRegion covered;
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c : cols) {
            QRect rect = CellRect(c, r);
            if (rect.isEmpty())
                continue;
            QRect withLines = rect.adjusted(0, 0, LineWidthV(), LineWidthH());
            if (!region.intersects(withLines))
                continue;
            painter.save();
            painter.setClipRect(rect);
            if (r < titleOffset)
                DrawTitleCell(painter, rect, c);
            else if (c < indicatorOffset)
                DrawIndicatorCell(painter, rect, r);
            else
                DrawDataCell(painter, rect, c, r);
            painter.restore();
            covered += withLines;
        }
    }
    // Grid lines, in a second pass.
    const QColor lineColor = q.palette().color(QPalette::Mid);
    painter.setPen(lineColor);
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c : cols) {
            QRect rect = CellRect(c, r);
            if (rect.isEmpty())
                continue;
            if (LineWidthV()) {
                int x = ColX(c) + colWidths[static_cast<size_t>(c)];
                if (c < indicatorOffset || x >= FixedWidth())
                    painter.drawLine(x, rect.top(), x, rect.bottom() + LineWidthH());
            }
            if (LineWidthH()) {
                int y = rect.bottom() + 1;
                painter.drawLine(rect.left(), y, rect.right() + LineWidthV(), y);
            }
        }
    }
    // Below the last row and right of the last column: the grid's colour.
    QRegion rest = region.subtracted(covered);
    for (const QRect& rect : rest)
        painter.fillRect(rect, background);
    PaintSizingMarks(painter);
}

void TDBGrid::Private::DrawText(QPainter& painter, const QRect& rect, const QString& text,
                                TAlignment alignment) {
    Qt::Alignment flags = Qt::AlignVCenter;
    switch (alignment) {
    case TAlignment::taLeftJustify:
        flags |= Qt::AlignLeft;
        break;
    case TAlignment::taRightJustify:
        flags |= Qt::AlignRight;
        break;
    case TAlignment::taCenter:
        flags |= Qt::AlignHCenter;
        break;
    }
    painter.drawText(rect.adjusted(kTextMargin, 0, -kTextMargin, 0),
                     static_cast<int>(flags | Qt::TextSingleLine), text);
}

void TDBGrid::Private::DrawTitleCell(QPainter& painter, const QRect& rect, int c) {
    TColumn* column = ColumnOf(c);
    QColor fill = column ? column->Title().Color() : q.FixedColor();
    if (q.DrawingStyle == TGridDrawingStyle::gdsThemed) {
        QStyleOptionHeader option;
        option.initFrom(&q);
        option.rect = rect;
        option.palette.setColor(QPalette::Button, fill);
        option.palette.setColor(QPalette::Window, fill);
        option.state = QStyle::State_Raised;
        if (q.isEnabled())
            option.state |= QStyle::State_Enabled;
        if (column && Has(TDBGridOption::dgTitleHotTrack) && c == hotTitle)
            option.state |= QStyle::State_MouseOver;
        if (column && Has(TDBGridOption::dgTitleClick) && mouseState == MouseState::TitlePress &&
            c == pressCol && c == hotTitle)
            option.state |= QStyle::State_Sunken;
        option.orientation = Qt::Horizontal;
        option.position = QStyleOptionHeader::Middle;
        q.style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, &q);
    } else {
        painter.fillRect(rect, fill);
    }
    if (!column)
        return;
    painter.setFont(column->Title().Font());
    painter.setPen(q.palette().color(q.isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     QPalette::ButtonText));
    DrawText(painter, rect, column->Title().Caption(), column->Title().Alignment());
}

void TDBGrid::Private::DrawIndicatorCell(QPainter& painter, const QRect& rect, int r) {
    if (q.DrawingStyle == TGridDrawingStyle::gdsThemed) {
        QStyleOptionHeader option;
        option.initFrom(&q);
        option.rect = rect;
        option.palette.setColor(QPalette::Button, q.FixedColor());
        option.palette.setColor(QPalette::Window, q.FixedColor());
        option.state = QStyle::State_Raised | QStyle::State_Enabled;
        option.orientation = Qt::Vertical;
        q.style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, &q);
    } else {
        painter.fillRect(rect, q.FixedColor());
    }
    int image = q.IndicatorImage(r);
    if (image < 0)
        return;
    const QImage& picture = sorvanto::IndicatorImage(image);
    int x = rect.right() + 1 - picture.width();
    int y = rect.top() + (rect.height() - picture.height()) / 2;
    painter.drawImage(x, y, picture);
}

void TDBGrid::Private::DrawDataCell(QPainter& painter, const QRect& rect, int c, int r) {
    TColumn* column = ColumnOf(c);
    if (!column)
        return;
    TGridDrawState state;
    const bool current =
        link.Active() && (r == row && (c == col || Has(TDBGridOption::dgRowSelect)));
    const bool focused = IsActiveControl() && q.window()->isActiveWindow();
    state.selected = current && (focused || Has(TDBGridOption::dgAlwaysShowSelection));
    state.focused = current && focused;
    QColor fill = column->Color();
    if (link.Active() && !state.selected) {
        int windowRow = link.FirstRecord() + (r - titleOffset);
        TDataSet* dataSet = link.DataSet();
        if (r - titleOffset < link.RecordCount() && dataSet->WindowRecordPending(windowRow))
            fill = dataSet->WindowRecordRefusal(windowRow).empty() ? q.PendingColor()
                                                                   : q.RefusedColor();
    }
    painter.fillRect(rect, state.selected ? q.palette().color(QPalette::Highlight) : fill);
    if (link.Active() && q.DefaultDrawing) {
        painter.setFont(column->Font());
        QColor ink = state.selected ? q.palette().color(QPalette::HighlightedText)
                                    : q.palette().color(QPalette::Active, QPalette::Text);
        if (!q.isEnabled())
            ink = q.palette().color(QPalette::Disabled, QPalette::Text);
        painter.setPen(ink);
        DrawText(painter, rect, q.CellText(c, r), column->Alignment());
    }
    if (state.focused && !Has(TDBGridOption::dgRowSelect)) {
        QStyleOptionFocusRect option;
        option.initFrom(&q);
        option.rect = rect;
        option.backgroundColor = q.palette().color(QPalette::Highlight);
        q.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &q);
    }
    if (link.Active() && q.OnDrawDataCell && columns.State() == TDBGridColumnsState::csDefault)
        q.OnDrawDataCell(q, painter, rect, FieldOf(c), state);
    if (link.Active() && q.OnDrawColumnCell)
        q.OnDrawColumnCell(q, painter, rect, ColumnIndex(c), *column, state);
}

// ---- The widget -----------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent)
    : QAbstractScrollArea(parent), d(std::make_unique<Private>(*this)) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setMouseTracking(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QScrollBar* bar = verticalScrollBar();
    bar->setTracking(false);
    connect(bar, &QScrollBar::actionTriggered, this,
            [this](int action) { d->Guarded([this, action] { d->ScrollBarAction(action); }); });
    connect(bar, &QScrollBar::sliderMoved, this,
            [this](int position) { d->Guarded([this, position] { d->ShowThumbTip(position); }); });
    connect(bar, &QScrollBar::sliderReleased, this,
            [this] { d->Guarded([this] { d->ScrollBarReleased(); }); });
    d->Layout();
}

// The link leaves its data source with the private state, without running any reaction.
TDBGrid::~TDBGrid() = default;

TDataSource* TDBGrid::DataSource() const {
    return d->link.DataSource();
}

void TDBGrid::SetDataSource(TDataSource* source) {
    d->link.SetDataSource(source);
    d->RequestLayout();
}

TDBGridOptions TDBGrid::Options() const noexcept {
    return d->options;
}

void TDBGrid::SetOptions(TDBGridOptions options) {
    if (options == d->options)
        return;
    d->options = options;
    if (options.Contains(TDBGridOption::dgRowSelect))
        d->HideEditor();
    d->RequestLayout();
}

bool TDBGrid::ReadOnly() const noexcept {
    return d->readOnly;
}

void TDBGrid::SetReadOnly(bool value) {
    d->readOnly = value;
    d->RequestLayout();
}

QColor TDBGrid::Color() const {
    return d->color ? *d->color : palette().color(QPalette::Base);
}

void TDBGrid::SetColor(const QColor& color) {
    d->color = color;
    viewport()->update();
}

QColor TDBGrid::FixedColor() const {
    return d->fixedColor ? *d->fixedColor : palette().color(QPalette::Button);
}

void TDBGrid::SetFixedColor(const QColor& color) {
    d->fixedColor = color;
    viewport()->update();
}

void TDBGrid::BeginLayout() {
    ++d->layoutLock;
}

void TDBGrid::EndLayout() {
    if (--d->layoutLock == 0)
        d->Layout();
}

int TDBGrid::RowCount() const noexcept {
    return d->rowCount;
}

int TDBGrid::FixedRows() const noexcept {
    return d->titleOffset;
}

int TDBGrid::FixedCols() const noexcept {
    return d->indicatorOffset;
}

int TDBGrid::Row() const noexcept {
    return d->row;
}

int TDBGrid::Col() const noexcept {
    return d->col;
}

int TDBGrid::RowHeight(int row) const {
    return d->RowH(row);
}

int TDBGrid::VisibleDataRowCount() const {
    return d->VisibleRows();
}

QRect TDBGrid::CellRect(int col, int row) const {
    return d->CellRect(col, row);
}

int TDBGrid::IndicatorImage(int row) const {
    if (!d->link.Active() || row != d->row || row < d->titleOffset)
        return -1;
    switch (d->link.DataSet()->State()) {
    case TDataSetState::dsBrowse:
        return DBGARROW;
    case TDataSetState::dsEdit:
        return DBEDIT;
    case TDataSetState::dsInsert:
        return DBINSERT;
    default:
        return -1;
    }
}

QString TDBGrid::CellText(int col, int row) const {
    TField* field = d->FieldOf(col);
    if (!field || !d->link.Active() || row < d->titleOffset)
        return {};
    int windowRow = d->link.FirstRecord() + (row - d->titleOffset);
    TDataSet* dataSet = d->link.DataSet();
    if (row - d->titleOffset >= d->link.RecordCount())
        return {};
    return DisplayText(*field, dataSet->WindowValue(windowRow, *field));
}

namespace {
// A colour mixed from two: `share` of the second over the first.
QColor Blend(const QColor& base, const QColor& over, double share) {
    auto mix = [share](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * share)); };
    return QColor(mix(base.red(), over.red()), mix(base.green(), over.green()),
                  mix(base.blue(), over.blue()));
}
} // namespace

QColor TDBGrid::PendingColor() const {
    return Blend(palette().color(QPalette::Base), palette().color(QPalette::Highlight), 0.22);
}

QColor TDBGrid::RefusedColor() const {
    // Warm whatever the palette: an orange red over the base, stronger on a dark base, where a
    // thin tint would not show.
    const QColor base = palette().color(QPalette::Base);
    return Blend(base, QColor(236, 96, 48), base.lightness() < 128 ? 0.38 : 0.30);
}

void TDBGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    d->Paint(painter, event->region());
}

void TDBGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    d->UpdateRowCount();
    d->UpdateHorizontalBar();
    d->UpdateScrollBar();
    d->UpdateEditor();
}

void TDBGrid::scrollContentsBy(int dx, int /*dy*/) {
    // The vertical bar counts records and scrolls nothing itself.
    if (dx == 0)
        return;
    QRect scrollable(d->FixedWidth(), 0, viewport()->width() - d->FixedWidth(),
                     viewport()->height());
    viewport()->scroll(dx, 0, scrollable);
    d->UpdateEditor();
}

void TDBGrid::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        d->RequestLayout();
        break;
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
    case QEvent::ActivationChange:
        viewport()->update();
        break;
    default:
        break;
    }
}

} // namespace sorvanto
