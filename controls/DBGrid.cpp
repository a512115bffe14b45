// The data grid's columns, layout, painting, mouse, scroll bars and reactions to the data link.
// The keyboard, the in-place editor and the editing rules are in DBGridEdit.cpp.

#include "DBGrid.h"

#include "DBGridPrivate.h"
#include "Glyphs.h"
#include "SimpleDataSet.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionHeader>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace sorvanto {

namespace {
constexpr int kIndicatorWidth = 11;
constexpr int kNoFieldWidth = 64;
constexpr int kTextMargin = 2;
constexpr double kRowHeight = 17.0;
constexpr double kLineHeight = 13.0;

// Runs a layout request for its scope.
class LayoutScope {
public:
    explicit LayoutScope(TDBGrid& grid) : grid_(grid) { grid_.BeginLayout(); }
    ~LayoutScope() { grid_.EndLayout(); }
    LayoutScope(const LayoutScope&) = delete;
    LayoutScope& operator=(const LayoutScope&) = delete;

private:
    TDBGrid& grid_;
};
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

// ---- Columns --------------------------------------------------------------------------------

QString TColumnTitle::Caption() const {
    if (caption_)
        return *caption_;
    if (TField* field = column_.Field())
        return QString::fromStdString(field->DisplayName());
    return column_.FieldName();
}

void TColumnTitle::SetCaption(const QString& value) {
    caption_ = value;
    column_.Changed();
}

void TColumnTitle::SetAlignment(TAlignment value) {
    alignment_ = value;
    column_.Changed();
}

QColor TColumnTitle::Color() const {
    return color_ ? *color_ : column_.Grid().FixedColor();
}

void TColumnTitle::SetColor(const QColor& value) {
    color_ = value;
    column_.Changed();
}

QFont TColumnTitle::Font() const {
    return font_ ? *font_ : column_.Grid().TitleFont();
}

void TColumnTitle::SetFont(const QFont& value) {
    font_ = value;
    column_.Changed();
}

void TColumnTitle::RestoreDefaults() {
    caption_.reset();
    alignment_.reset();
    color_.reset();
    font_.reset();
}

TColumn::TColumn(TDBGridColumns& owner) : owner_(owner), title_(*this) {}

TDBGrid& TColumn::Grid() const noexcept {
    return owner_.Grid();
}

int TColumn::Index() const {
    return owner_.IndexOf(*this);
}

void TColumn::SetIndex(int value) {
    owner_.Move(Index(), value);
}

void TColumn::SetFieldName(const QString& value) {
    fieldName_ = value;
    Changed();
}

TField* TColumn::Field() const {
    const TDataLink& link = Grid().d->link;
    TDataSet* dataSet = link.DataSet();
    if (!link.Active() || !dataSet || fieldName_.isEmpty())
        return nullptr;
    return dataSet->FindField(fieldName_.toStdString());
}

void TColumn::SetVisible(bool value) {
    visible_ = value;
    Changed();
}

int TColumn::Width() const {
    return width_ ? *width_ : Grid().d->DefaultColumnWidth(*this);
}

void TColumn::SetWidth(int value) {
    width_ = std::max(value, 0);
    Changed();
}

TAlignment TColumn::Alignment() const {
    if (alignment_)
        return *alignment_;
    TField* field = Field();
    return field ? FieldAlignment(*field) : TAlignment::taLeftJustify;
}

void TColumn::SetAlignment(TAlignment value) {
    alignment_ = value;
    Changed();
}

QColor TColumn::Color() const {
    return color_ ? *color_ : Grid().Color();
}

void TColumn::SetColor(const QColor& value) {
    color_ = value;
    Changed();
}

QFont TColumn::Font() const {
    return font_ ? *font_ : Grid().font();
}

void TColumn::SetFont(const QFont& value) {
    font_ = value;
    Changed();
}

bool TColumn::ReadOnly() const {
    if (readOnly_)
        return *readOnly_;
    TField* field = Field();
    return Grid().ReadOnly() || (field && field->ReadOnly());
}

void TColumn::SetReadOnly(bool value) {
    readOnly_ = value;
    Changed();
}

void TColumn::RestoreDefaults() {
    width_.reset();
    alignment_.reset();
    color_.reset();
    font_.reset();
    readOnly_.reset();
    title_.RestoreDefaults();
    Changed();
}

void TColumn::Changed() {
    Grid().d->RequestLayout();
}

TColumn& TDBGridColumns::Add() {
    if (!customized_)
        columns_.clear(); // the columns that followed the fields give way
    customized_ = true;
    columns_.push_back(std::make_unique<TColumn>(*this));
    grid_.d->RequestLayout();
    return *columns_.back();
}

void TDBGridColumns::FollowFields(const std::vector<TField*>& fields) {
    columns_.clear();
    for (TField* field : fields) {
        columns_.push_back(std::make_unique<TColumn>(*this));
        columns_.back()->fieldName_ = QString::fromStdString(field->FieldName());
    }
}

void TDBGridColumns::AddFields(std::initializer_list<const char*> fieldNames) {
    LayoutScope scope(grid_);
    for (const char* name : fieldNames)
        Add().SetFieldName(QString::fromUtf8(name));
}

void TDBGridColumns::Clear() {
    columns_.clear();
    customized_ = false;
    grid_.d->RequestLayout();
}

int TDBGridColumns::IndexOf(const TColumn& column) const {
    for (int i = 0; i < Count(); ++i)
        if (columns_[static_cast<size_t>(i)].get() == &column)
            return i;
    return -1;
}

void TDBGridColumns::Move(int from, int to) {
    if (from < 0 || from >= Count())
        return;
    to = std::clamp(to, 0, Count() - 1);
    if (from == to)
        return;
    auto moved = std::move(columns_[static_cast<size_t>(from)]);
    columns_.erase(columns_.begin() + from);
    columns_.insert(columns_.begin() + to, std::move(moved));
    grid_.d->RequestLayout();
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
    if (c < indicatorOffset)
        return 0;
    int x = FixedWidth() - HOffset();
    for (int i = indicatorOffset; i < c && i < static_cast<int>(colWidths.size()); ++i)
        if (colWidths[static_cast<size_t>(i)] > 0)
            x += colWidths[static_cast<size_t>(i)] + LineWidthV();
    return x;
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
    for (int i = 0; i < rowCount; ++i) {
        int y = RowY(i);
        if (pos.y() >= y && pos.y() < y + RowH(i) + LineWidthH()) {
            r = i;
            break;
        }
    }
    for (int i = 0; i < static_cast<int>(colWidths.size()); ++i) {
        int width = colWidths[static_cast<size_t>(i)];
        if (width <= 0)
            continue;
        int x = ColX(i);
        if (i >= indicatorOffset && pos.x() < FixedWidth())
            continue;
        if (pos.x() >= x && pos.x() < x + width + LineWidthV()) {
            c = i;
            break;
        }
    }
    return c >= 0 && r >= 0;
}

int TDBGrid::Private::VisibleRows() const {
    int height = q.viewport()->height() - TitlePitch();
    return std::max(1, height / RowPitch());
}

TField* TDBGrid::Private::FieldOf(int c) const {
    int index = ColumnIndex(c);
    if (index < 0 || index >= static_cast<int>(fieldMap.size()))
        return nullptr;
    return fieldMap[static_cast<size_t>(index)];
}

TColumn* TDBGrid::Private::ColumnOf(int c) const {
    int index = ColumnIndex(c);
    if (index < 0 || index >= columns.Count())
        return nullptr;
    return &columns[index];
}

int TDBGrid::Private::DefaultColumnWidth(const TColumn& column) const {
    TField* field = column.Field();
    if (!field)
        return kNoFieldWidth;
    QFontMetrics metrics(column.Font());
    // Qt's fonts report no overhang.
    const int overhang = 0;
    int width = (metrics.horizontalAdvance(QLatin1Char('0')) - overhang) * DisplayWidth(*field) +
                overhang + 4;
    if (Has(TDBGridOption::dgTitles)) {
        QFontMetrics titleMetrics(column.Title().Font());
        width = std::max(width, titleMetrics.horizontalAdvance(column.Title().Caption()) + 4);
    }
    return width;
}

// ---- Layout ---------------------------------------------------------------------------------

void TDBGrid::Private::RequestLayout() {
    if (inLayout)
        return; // the layout under way takes it in
    LayoutScope scope(q);
}

void TDBGrid::Private::Layout() {
    inLayout = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{inLayout};
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
    auto* dataSet = dynamic_cast<TSimpleDataSet*>(link.DataSet());
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
    int total = 0;
    for (int i = indicatorOffset; i < static_cast<int>(colWidths.size()); ++i)
        if (colWidths[static_cast<size_t>(i)] > 0)
            total += colWidths[static_cast<size_t>(i)] + LineWidthV();
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

void TDBGrid::Private::ScrollBarReleased() {
    QScrollBar* bar = q.verticalScrollBar();
    int position = bar->sliderPosition();
    if (!TakeFocus() || !link.Active()) {
        bar->setSliderPosition(bar->value());
        return;
    }
    auto* dataSet = link.DataSet();
    struct Restore {
        QScrollBar* bar;
        ~Restore() { bar->setSliderPosition(bar->value()); }
    } restore{bar};
    if (position <= 1)
        dataSet->First();
    else if (position >= dataSet->RecordCount())
        dataSet->Last();
    else
        dataSet->SetRecNo(position);
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
    QRegion covered;
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c = 0; c < q.ColCount(); ++c) {
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
        for (int c = 0; c < q.ColCount(); ++c) {
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
    painter.fillRect(rect,
                     state.selected ? q.palette().color(QPalette::Highlight) : column->Color());
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

TDBGridColumns& TDBGrid::Columns() noexcept {
    return d->columns;
}

const TDBGridColumns& TDBGrid::Columns() const noexcept {
    return d->columns;
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

QFont TDBGrid::TitleFont() const {
    return d->titleFont ? *d->titleFont : font();
}

void TDBGrid::SetTitleFont(const QFont& font) {
    d->titleFont = font;
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

TField* TDBGrid::SelectedField() const {
    return d->FieldOf(d->col);
}

int TDBGrid::SelectedIndex() const {
    return d->ColumnIndex(d->col);
}

void TDBGrid::SetSelectedIndex(int index) {
    d->MoveCol(index + d->indicatorOffset, 0);
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

int TDBGrid::ColCount() const noexcept {
    return d->columns.Count() + d->indicatorOffset;
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

int TDBGrid::ColWidth(int col) const {
    if (col < 0 || col >= static_cast<int>(d->colWidths.size()))
        return 0;
    return d->colWidths[static_cast<size_t>(col)];
}

int TDBGrid::VisibleDataRowCount() const {
    return d->VisibleRows();
}

QRect TDBGrid::CellRect(int col, int row) const {
    return d->CellRect(col, row);
}

bool TDBGrid::TabStop(int col) const {
    TColumn* column = d->ColumnOf(col);
    TField* field = d->FieldOf(col);
    return column && column->Visible() && !column->ReadOnly() && d->link.Active() && field &&
           field->FieldKind() != TFieldKind::fkCalculated && !field->ReadOnly();
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

bool TDBGrid::viewportEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::Leave:
        if (d->hotTitle >= 0) {
            d->InvalidateCell(d->hotTitle, 0);
            d->hotTitle = -1;
        }
        break;
    default:
        break;
    }
    return QAbstractScrollArea::viewportEvent(event);
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

void TDBGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    d->Guarded([this, event] { d->MousePress(event->position().toPoint()); });
}

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

void TDBGrid::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (d->mouseState == Private::MouseState::TitlePress ||
        d->mouseState == Private::MouseState::ColumnResize ||
        d->mouseState == Private::MouseState::ColumnMove) {
        d->MouseTitleMove(pos);
        return;
    }
    int c, r;
    int hot = -1;
    if (d->CellAt(pos, c, r) && r < d->titleOffset && c >= d->indicatorOffset)
        hot = c;
    if (hot != d->hotTitle) {
        if (d->hotTitle >= 0)
            d->InvalidateCell(d->hotTitle, 0);
        d->hotTitle = hot;
        if (hot >= 0)
            d->InvalidateCell(hot, 0);
    }
    viewport()->setCursor(d->titleOffset && d->ColumnBorderAt(pos) >= 0 ? Qt::SplitHCursor
                                                                        : Qt::ArrowCursor);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    d->Guarded([this, event] { d->MouseRelease(event->position().toPoint()); });
}

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
