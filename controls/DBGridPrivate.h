#pragma once

// The grid's private state, shared by its four files:
//   DBGrid.cpp         geometry, layout, the scroll bars' ranges, painting, reactions to the
//                      data link
//   DBGridColumns.cpp  the columns and their titles
//   DBGridMouse.cpp    the mouse: presses, moves, releases, column resizing and moving, wheel,
//                      scroll bar clicks and thumb, the refusal tooltip
//   DBGridEdit.cpp     the keyboard, the in-place editor and the editing rules

#include "DBGrid.h"
#include "DataSource.h"

#include <QPoint>

#include <QString>
#include <functional>

class QKeyEvent;
class QLineEdit;
class QPainter;
class QTimer;

namespace sorvanto {

class TCharacterLimit;

// Holds the grid's layout for its scope: one layout when the outermost scope ends.
class LayoutScope {
public:
    explicit LayoutScope(TDBGrid& grid) : grid_(grid) { grid_.BeginLayout(); }
    ~LayoutScope() { grid_.EndLayout(); }
    LayoutScope(const LayoutScope&) = delete;
    LayoutScope& operator=(const LayoutScope&) = delete;

private:
    TDBGrid& grid_;
};

// The grid's connection to its data source; every reaction goes to the grid.
class TGridDataLink : public TDataLink {
public:
    explicit TGridDataLink(TDBGrid::Private& grid) : grid_(grid) {}
    // The in-place editor's text was changed by the operator and not yet written to the field.
    bool Modified = false;

protected:
    void ActiveChanged() override;
    void EditingChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled(int distance) override;
    void LayoutChanged() override;
    void RecordChanged(TField* field) override;
    void UpdateData() override;
    void FocusControl(TField* field) override;

private:
    TDBGrid::Private& grid_;
};

struct TDBGrid::Private {
    explicit Private(TDBGrid& grid);

    TDBGrid& q;
    TGridDataLink link;
    TDBGridColumns columns;
    TDBGridOptions options = TDBGridOptions::Defaults();
    bool readOnly = false;
    std::optional<QFont> titleFont;
    std::optional<QColor> color;
    std::optional<QColor> fixedColor;

    // Layout.
    int layoutLock = 0;
    bool layoutPending = false;
    bool inLayout = false;
    std::vector<TField*> fieldMap; // per column
    std::vector<int> colWidths;    // per grid column, the indicator first
    std::vector<int> colLefts;     // left edge of each scrolled column, unscrolled
    int contentWidth = 0;          // the right edge of the last column, unscrolled
    int indicatorOffset = 1;
    int titleOffset = 1;
    int rowCount = 2;
    int col = 1; // the current cell
    int row = 1;
    bool vbarShown = false;

    // Mouse.
    enum class MouseState { None, TitlePress, CellPress, ColumnResize, ColumnMove };
    MouseState mouseState = MouseState::None;
    int pressCol = -1;           // the cell where the press began
    int hotTitle = -1;           // the title cell under the mouse
    int sizingCol = -1;          // the column being resized
    int sizingOrigin = 0;        // its left edge, in viewport coordinates
    int sizingPos = 0;           // where the sizing line is drawn
    int moveTarget = -1;         // where a moved column would go
    QPoint movePos;              // last mouse position of a column move
    QTimer* moveTimer = nullptr; // scrolls sideways while a moved column is beyond the edge
    double wheelRemainder = 0;

    // The in-place editor.
    QLineEdit* editor = nullptr;
    TCharacterLimit* editorLimit = nullptr; // the editor's, limits its text to the field's size
    bool editorMode = false;
    bool editorShown = false;
    QString editText;   // the text as last taken over by the grid
    int editorCol = -1; // the cell the editor was last placed on
    int editorRow = -1;
    bool feedingEditor = false; // the grid itself is setting the editor's text
    bool selfFocus = false;

    // ==== DBGrid.cpp ==========================================================================

    // ---- Geometry ------------------------------------------------------------------------
    bool Has(TDBGridOption option) const { return options.Contains(option); }
    int LineWidthV() const { return Has(TDBGridOption::dgColLines) ? 1 : 0; }
    int LineWidthH() const { return Has(TDBGridOption::dgRowLines) ? 1 : 0; }
    int DataRowHeight() const;
    int TitleRowHeight() const;
    int RowPitch() const { return DataRowHeight() + LineWidthH(); }
    int TitlePitch() const { return titleOffset ? TitleRowHeight() + LineWidthH() : 0; }
    int FixedWidth() const;
    int HOffset() const;
    int ColX(int c) const; // left edge of a grid column in viewport coordinates
    // The last scrolled column whose left edge is at or left of viewport x; indicatorOffset - 1
    // when there is none.
    int ColumnAtX(int x) const;
    int RowY(int r) const; // top edge of a grid row
    int RowH(int r) const;
    QRect CellRect(int c, int r) const;
    // The grid cell under a viewport point; false outside every cell.
    bool CellAt(const QPoint& pos, int& c, int& r) const;
    int VisibleRows() const;
    int ColumnIndex(int c) const { return c - indicatorOffset; }
    TField* FieldOf(int c) const;
    TColumn* ColumnOf(int c) const;
    int DefaultColumnWidth(const TColumn& column) const;

    // ---- Layout and the record window -----------------------------------------------------
    void RequestLayout();
    void Layout();
    void UpdateRowCount();
    void UpdateScrollBar();
    void UpdateHorizontalBar();
    void UpdateActive();
    void ScrollColumnIntoView(int c);
    void InvalidateCell(int c, int r);
    void InvalidateRow(int r);
    void InvalidateColumnOf(const TField* field);
    void InvalidateIndicator(int r);

    // ---- Moving ---------------------------------------------------------------------------
    // Moves the current column; direction -1, 0 or +1.
    void MoveCol(int target, int direction);
    int MoveBy(int distance);
    // Gives the grid the keyboard focus when it can take it; false when the focus stays
    // elsewhere.
    bool TakeFocus();
    bool IsActiveControl() const;

    // ---- Painting -------------------------------------------------------------------------
    void Paint(QPainter& painter, const QRegion& region);
    void DrawTitleCell(QPainter& painter, const QRect& rect, int c);
    void DrawIndicatorCell(QPainter& painter, const QRect& rect, int r);
    void DrawDataCell(QPainter& painter, const QRect& rect, int c, int r);
    void DrawText(QPainter& painter, const QRect& rect, const QString& text, TAlignment alignment);

    // ---- Reactions to the data link -------------------------------------------------------
    void LinkActive();
    void DataChanged();
    void Scrolled(int distance);
    void LayoutChangedReaction();
    void EditingChanged();
    void RecordChanged(TField* field);
    void FocusField(TField* field);

    // ==== DBGridMouse.cpp =====================================================================

    // The vertical scroll bar's clicks; its thumb moves the record only when released.
    void ScrollBarAction(int action);
    void ScrollBarReleased();
    // While the thumb is dragged: the record the release will go to, in a tooltip by the thumb.
    void ShowThumbTip(int position);
    void MousePress(const QPoint& pos);
    void MouseTitlePress(const QPoint& pos, int c);
    // A move, by the mouse state: hovering, resizing, or dragging a title.
    void MouseMove(const QPoint& pos);
    void Hover(const QPoint& pos);
    void SetHotTitle(int c);
    void TitleDrag(const QPoint& pos);
    void MoveTimerTick();
    void MouseRelease(const QPoint& pos);
    void MouseTitleRelease(const QPoint& pos);
    // The column whose right border is within reach of a title point; -1 when none.
    int ColumnBorderAt(const QPoint& pos) const;
    QRect SizingLineRect() const;
    QRect MoveMarkerRect() const;
    void InvalidateSizingLine();
    void InvalidateMoveMarker();
    void PaintSizingMarks(QPainter& painter);

    // ==== DBGridEdit.cpp ======================================================================

    // Runs an event handler's work: a failure goes to the application's error box here, never
    // through the toolkit's event dispatch.
    void Guarded(const std::function<void()>& work);
    bool CanEditShow() const;
    void ShowEditor();
    void HideEditor();
    void UpdateEditor();
    void InvalidateEditor();
    void LoadEditText();
    // Writes the editor's text to the field when the operator changed it.
    void UpdateData();
    bool CanEditModify();
    // The key map; false when the key is not the grid's.
    bool KeyDown(QKeyEvent* event);
    // A key pressed in the editor: handed to the grid, dropped, or left to the editor (false).
    bool EditorKey(QKeyEvent* event);
    // Whether a typed text may go in: each character accepted by the field (else a beep) and
    // the cell modifiable.
    bool AcceptTyping(const QString& text);
    void RowDown();
    void RowUp();
    void NextPrevCell(bool next);
    void CancelStep();
    void DeleteRecord();
    void EditorTextEdited();
    // The focus went from the grid to another control of its window.
    void LeavingGrid();
    // The focus left the grid or its editor for `next`: whether that is leaving the grid.
    bool IsLeaving(QWidget* next, Qt::FocusReason reason) const;
    // Ctrl+Tab, Ctrl+Shift+Tab: the focus to the next or previous control in tab order.
    void LeaveByKeyboard(bool next);
};

} // namespace sorvanto
