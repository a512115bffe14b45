#pragma once

// The data grid: the records of a dataset as a table of cells, painted by the grid itself. A
// title row on top, an indicator column on the left, one row per record of its data link's
// window and one column per configured field.

#include "FieldText.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

class QLineEdit;

namespace sorvanto {

class TComponent;
class TDataSource;
class TDBGrid;
class TDBGridColumns;
class TColumn;

enum class TDBGridOption {
    dgEditing,
    dgAlwaysShowEditor,
    dgTitles,
    dgIndicator,
    dgColumnResize,
    dgColLines,
    dgRowLines,
    dgTabs,
    dgRowSelect,
    dgAlwaysShowSelection,
    dgConfirmDelete,
    dgCancelOnExit,
    dgMultiSelect,
    dgTitleClick,
    dgTitleHotTrack,
};

// A set of grid options.
class TDBGridOptions {
public:
    constexpr TDBGridOptions() = default;
    constexpr TDBGridOptions(std::initializer_list<TDBGridOption> options) {
        for (TDBGridOption option : options)
            bits_ |= Bit(option);
    }
    constexpr bool Contains(TDBGridOption option) const { return (bits_ & Bit(option)) != 0; }
    constexpr TDBGridOptions& Include(TDBGridOption option) {
        bits_ |= Bit(option);
        return *this;
    }
    constexpr TDBGridOptions& Exclude(TDBGridOption option) {
        bits_ &= ~Bit(option);
        return *this;
    }
    constexpr bool operator==(const TDBGridOptions&) const = default;
    // The options every grid starts with.
    static TDBGridOptions Defaults();

private:
    static constexpr unsigned Bit(TDBGridOption option) {
        return 1u << static_cast<unsigned>(option);
    }
    unsigned bits_ = 0;
};

enum class TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };
enum class TGridDrawingStyle { gdsClassic, gdsThemed, gdsGradient };

// How a cell is being drawn, for OnDrawColumnCell.
struct TGridDrawState {
    bool selected = false;
    bool focused = false;
    bool fixed = false;
};

// The title of a column. Each value is either assigned or follows its default, computed anew
// whenever it is read.
class TColumnTitle {
public:
    explicit TColumnTitle(TColumn& column) : column_(column) {}

    // The bound field's display name, or the column's FieldName without a field.
    QString Caption() const;
    void SetCaption(const QString& value);
    TAlignment Alignment() const { return alignment_.value_or(TAlignment::taLeftJustify); }
    void SetAlignment(TAlignment value);
    // The grid's FixedColor.
    QColor Color() const;
    void SetColor(const QColor& value);
    // The grid's TitleFont.
    QFont Font() const;
    void SetFont(const QFont& value);
    void RestoreDefaults();

private:
    TColumn& column_;
    std::optional<QString> caption_;
    std::optional<TAlignment> alignment_;
    std::optional<QColor> color_;
    std::optional<QFont> font_;
};

// One column of a grid: the field it shows and how.
class TColumn {
public:
    explicit TColumn(TDBGridColumns& owner);
    TColumn(const TColumn&) = delete;
    TColumn& operator=(const TColumn&) = delete;

    TDBGrid& Grid() const noexcept;
    // The position in the grid's column list.
    int Index() const;
    // Moves the column to another position in the list.
    void SetIndex(int value);

    QString FieldName() const { return fieldName_; }
    void SetFieldName(const QString& value);
    // The dataset field of FieldName while the grid's dataset is open, else nullptr.
    TField* Field() const;

    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool value);
    bool Expanded = false;

    // Assigned, or computed from the field's display width, the fonts and the title.
    int Width() const;
    void SetWidth(int value);
    bool WidthAssigned() const noexcept { return width_.has_value(); }
    // The bound field's alignment; left without a field.
    TAlignment Alignment() const;
    void SetAlignment(TAlignment value);
    // The grid's Color.
    QColor Color() const;
    void SetColor(const QColor& value);
    // The grid's Font.
    QFont Font() const;
    void SetFont(const QFont& value);
    // True when the grid is read-only or the bound field is.
    bool ReadOnly() const;
    void SetReadOnly(bool value);
    TColumnTitle& Title() noexcept { return title_; }
    const TColumnTitle& Title() const noexcept { return title_; }
    void RestoreDefaults();

    TColumnButtonStyle ButtonStyle = TColumnButtonStyle::cbsAuto;
    QStringList PickList;
    int DropDownRows = 7;

    // Tells the grid that a value changed.
    void Changed();

private:
    friend class TDBGridColumns;
    TDBGridColumns& owner_;
    QString fieldName_;
    bool visible_ = true;
    std::optional<int> width_;
    std::optional<TAlignment> alignment_;
    std::optional<QColor> color_;
    std::optional<QFont> font_;
    std::optional<bool> readOnly_;
    TColumnTitle title_;
};

enum class TDBGridColumnsState { csDefault, csCustomized };

// The column list of a grid. Until a column is added it is in its default state and follows the
// dataset's fields, one column per field; columns added here are the grid's stored columns, and
// the list is then fixed and no longer follows the dataset.
class TDBGridColumns {
public:
    explicit TDBGridColumns(TDBGrid& grid) : grid_(grid) {}
    TDBGridColumns(const TDBGridColumns&) = delete;
    TDBGridColumns& operator=(const TDBGridColumns&) = delete;

    TDBGrid& Grid() const noexcept { return grid_; }
    int Count() const noexcept { return static_cast<int>(columns_.size()); }
    TColumn& operator[](int index) const { return *columns_.at(static_cast<size_t>(index)); }
    TColumn& Add();
    // Adds a column for each name, in order.
    void AddFields(std::initializer_list<const char*> fieldNames);
    // Removes every column; the list returns to its default state.
    void Clear();
    int IndexOf(const TColumn& column) const;
    // Moves a column from one position to another.
    void Move(int from, int to);
    TDBGridColumnsState State() const noexcept {
        return customized_ ? TDBGridColumnsState::csCustomized : TDBGridColumnsState::csDefault;
    }

private:
    friend class TDBGrid;
    // In the default state: one column per field of the dataset (none while it is closed).
    void FollowFields(const std::vector<TField*>& fields);

    TDBGrid& grid_;
    bool customized_ = false;
    std::vector<std::unique_ptr<TColumn>> columns_;
};

using TGridNotifyEvent = std::function<void(TComponent* sender)>;
using TDBGridClickEvent = std::function<void(TColumn& column)>;
using TMovedEvent = std::function<void(TDBGrid& sender, int fromIndex, int toIndex)>;
using TDrawColumnCellEvent =
    std::function<void(TDBGrid& sender, QPainter& painter, const QRect& rect, int dataCol,
                       TColumn& column, TGridDrawState state)>;
using TDrawDataCellEvent = std::function<void(TDBGrid& sender, QPainter& painter, const QRect& rect,
                                              TField* field, TGridDrawState state)>;
using TGridEvent = std::function<void(TDBGrid& sender)>;

class TDBGrid : public QAbstractScrollArea {
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    TDataSource* DataSource() const;
    void SetDataSource(TDataSource* source);

    TDBGridColumns& Columns() noexcept;
    const TDBGridColumns& Columns() const noexcept;

    TDBGridOptions Options() const noexcept;
    void SetOptions(TDBGridOptions options);
    bool ReadOnly() const noexcept;
    void SetReadOnly(bool value);
    // The title row's font: the grid's font until assigned.
    QFont TitleFont() const;
    void SetTitleFont(const QFont& font);
    // The grid's font is the widget's font (setFont).
    QColor Color() const;
    void SetColor(const QColor& color);
    QColor FixedColor() const;
    void SetFixedColor(const QColor& color);
    bool DefaultDrawing = true;
    TGridDrawingStyle DrawingStyle = TGridDrawingStyle::gdsThemed;

    // The field of the current column, or nullptr.
    TField* SelectedField() const;
    // The index of the current column in Columns.
    int SelectedIndex() const;
    void SetSelectedIndex(int index);
    // Whether the in-place editor is open.
    bool EditorMode() const;
    void SetEditorMode(bool value);
    // The in-place editor, once it has been created.
    QLineEdit* InplaceEditor() const;

    // Layout requests nest; the work is done once when the outermost one ends.
    void BeginLayout();
    void EndLayout();

    // The grid as a table of cells: the title row and the indicator column are the fixed row
    // and column (when shown); cells are numbered from them.
    int RowCount() const noexcept;
    int ColCount() const noexcept;
    int FixedRows() const noexcept;
    int FixedCols() const noexcept;
    // The current cell.
    int Row() const noexcept;
    int Col() const noexcept;
    int RowHeight(int row) const;
    int ColWidth(int col) const;
    // Whole data rows that fit into the viewport.
    int VisibleDataRowCount() const;
    // A cell's rectangle in viewport coordinates (empty when scrolled out of sight).
    QRect CellRect(int col, int row) const;
    // Whether Tab stops at a column (a grid column, counting the indicator).
    bool TabStop(int col) const;
    // The indicator image shown on a data row (0 arrow, 1 I-beam, 2 asterisk), or -1.
    int IndicatorImage(int row) const;
    // The text a data cell shows.
    QString CellText(int col, int row) const;
    // Rows whose record holds a change the database does not have yet are painted on a tint of
    // the palette; those whose change the last apply refused on a warmer one, with the
    // database's reason as the row's tooltip.
    QColor PendingColor() const;
    QColor RefusedColor() const;
    // The database's reason for refusing a data row's change; empty when it was not refused.
    QString RefusalText(int row) const;
    // What Ctrl+C and Ctrl+Shift+C put on the clipboard: the current cell's text; the column
    // titles and the current row's texts, tab-separated, as spreadsheets paste them.
    QString CurrentCellText() const;
    QString CurrentRowText() const;

    TDBGridClickEvent OnTitleClick;
    TDBGridClickEvent OnCellClick;
    TGridNotifyEvent OnColEnter;
    TGridNotifyEvent OnColExit;
    TMovedEvent OnColumnMoved;
    TDrawColumnCellEvent OnDrawColumnCell;
    TDrawDataCellEvent OnDrawDataCell;
    TGridEvent OnEditButtonClick;
    TGridEvent OnDblClick;
    // Ctrl+F: the operator asks to find a text in the current column.
    TGridEvent OnFind;

    struct Private;

protected:
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool focusNextPrevChild(bool next) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TColumn;
    friend class TDBGridColumns;
    std::unique_ptr<Private> d;
};

} // namespace sorvanto
