// The grid's columns and their titles: stored settings with defaults taken from the field and
// the grid, every change handed to the grid's layout; and the grid's view of its columns.

#include "DBGrid.h"

#include "DBGridPrivate.h"
#include "FieldText.h"

#include <QFontMetrics>

#include <algorithm>

namespace sorvanto {

namespace {
constexpr int kNoFieldWidth = 64;
} // namespace

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

// ---- The grid's columns --------------------------------------------------------------------

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

TDBGridColumns& TDBGrid::Columns() noexcept {
    return d->columns;
}

const TDBGridColumns& TDBGrid::Columns() const noexcept {
    return d->columns;
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

bool TDBGrid::TabStop(int col) const {
    TColumn* column = d->ColumnOf(col);
    TField* field = d->FieldOf(col);
    return column && column->Visible() && !column->ReadOnly() && d->link.Active() && field &&
           field->FieldKind() != TFieldKind::fkCalculated && !field->ReadOnly();
}

QFont TDBGrid::TitleFont() const {
    return d->titleFont ? *d->titleFont : font();
}

void TDBGrid::SetTitleFont(const QFont& font) {
    d->titleFont = font;
    d->RequestLayout();
}

int TDBGrid::ColCount() const noexcept {
    return d->columns.Count() + d->indicatorOffset;
}

int TDBGrid::ColWidth(int col) const {
    if (col < 0 || col >= static_cast<int>(d->colWidths.size()))
        return 0;
    return d->colWidths[static_cast<size_t>(col)];
}

} // namespace sorvanto
