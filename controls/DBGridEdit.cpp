// The data grid's keyboard, in-place editor and editing rules. Layout and painting are in
// DBGrid.cpp.

#include "DBGrid.h"

#include "DBGridPrivate.h"

#include <QApplication>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace sorvanto {

// ---- The in-place editor --------------------------------------------------------------------

bool TDBGrid::Private::CanEditShow() const {
    return Has(TDBGridOption::dgEditing) && !Has(TDBGridOption::dgRowSelect) &&
           (IsActiveControl() || Has(TDBGridOption::dgAlwaysShowEditor)) && layoutLock == 0 &&
           !inLayout && link.Active() && ColumnOf(col) && row >= titleOffset;
}

void TDBGrid::Private::ShowEditor() {
    editorMode = true;
    UpdateEditor();
}

void TDBGrid::Private::HideEditor() {
    editorMode = false;
    if (!editor || !editorShown)
        return;
    const bool hadFocus = editor->hasFocus();
    editorShown = false;
    editor->hide();
    if (hadFocus) {
        selfFocus = true;
        q.setFocus(Qt::OtherFocusReason);
        selfFocus = false;
    }
}

void TDBGrid::Private::InvalidateEditor() {
    editorCol = -1;
    editorRow = -1;
    UpdateEditor();
}

void TDBGrid::Private::UpdateEditor() {
    if (!editorMode)
        return;
    if (!CanEditShow()) {
        HideEditor();
        return;
    }
    const bool opening = !editorShown;
    if (!editor) {
        editor = new QLineEdit(q.viewport());
        editor->setObjectName(QStringLiteral("InplaceEditor"));
        editor->setFrame(false);
        editor->setAttribute(Qt::WA_InputMethodEnabled);
        editor->installEventFilter(&q);
        editor->hide();
        QObject::connect(editor, &QLineEdit::textEdited, &q, [this] { EditorTextEdited(); });
    }
    TColumn* column = ColumnOf(col);
    TField* field = FieldOf(col);
    QRect rect = CellRect(col, row);
    if (rect.isEmpty()) {
        HideEditor();
        editorMode = true;
        return;
    }
    editor->setGeometry(rect);
    editor->setFont(column->Font());
    editor->setTextMargins(2, 0, 2, 0);
    const bool textField = field && (field->DataType() == TFieldType::ftString ||
                                     field->DataType() == TFieldType::ftWideString);
    editor->setMaxLength(textField && field->Size() > 0 ? field->Size() : 32767);
    editor->setReadOnly(column->ReadOnly());
    if (opening || editorCol != col || editorRow != row) {
        if (!link.Modified) {
            feedingEditor = true;
            editor->setText(editText);
            feedingEditor = false;
        }
        editor->selectAll();
    }
    editorCol = col;
    editorRow = row;
    editorShown = true;
    editor->show();
    if (IsActiveControl() && !editor->hasFocus()) {
        selfFocus = true;
        editor->setFocus(Qt::OtherFocusReason);
        selfFocus = false;
    }
}

void TDBGrid::Private::LoadEditText() {
    TField* field = FieldOf(col);
    editText = field && link.Active() ? EditText(*field, field->Value()) : QString();
    if (editor) {
        feedingEditor = true;
        editor->setText(editText);
        feedingEditor = false;
    }
}

void TDBGrid::Private::EditorTextEdited() {}

bool TDBGrid::Private::CanEditModify() {
    return false;
}

void TDBGrid::Private::UpdateData() {
    if (!link.Modified)
        return;
}

// ---- Column resizing and moving -------------------------------------------------------------

int TDBGrid::Private::ColumnBorderAt(const QPoint&) const {
    return -1;
}

void TDBGrid::Private::MouseTitlePress(const QPoint&, int c) {
    mouseState = MouseState::TitlePress;
    pressCol = c;
    InvalidateCell(c, 0);
}

void TDBGrid::Private::MouseTitleMove(const QPoint& pos) {
    int c, r;
    int hot = CellAt(pos, c, r) && r < titleOffset ? c : -1;
    if (hot != hotTitle) {
        InvalidateCell(hotTitle, 0);
        hotTitle = hot;
        InvalidateCell(hotTitle, 0);
    }
}

void TDBGrid::Private::MouseTitleRelease(const QPoint& pos) {
    mouseState = MouseState::None;
    InvalidateCell(pressCol, 0);
    int c, r;
    if (CellAt(pos, c, r) && r < titleOffset && c >= indicatorOffset &&
        Has(TDBGridOption::dgTitleClick)) {
        if (TColumn* column = ColumnOf(c); column && q.OnTitleClick)
            q.OnTitleClick(*column);
    }
}

void TDBGrid::Private::MoveTimerTick() {}

void TDBGrid::Private::PaintSizingMarks(QPainter&) {}

// ---- The widget's editing side --------------------------------------------------------------

bool TDBGrid::EditorMode() const {
    return d->editorMode && d->editorShown;
}

void TDBGrid::SetEditorMode(bool value) {
    if (value)
        d->ShowEditor();
    else
        d->HideEditor();
}

QLineEdit* TDBGrid::InplaceEditor() const {
    return d->editor;
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    QAbstractScrollArea::keyPressEvent(event);
}

void TDBGrid::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    if (d->editorMode && !d->selfFocus)
        d->UpdateEditor();
}

void TDBGrid::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TDBGrid::inputMethodEvent(QInputMethodEvent* event) {
    QAbstractScrollArea::inputMethodEvent(event);
}

QVariant TDBGrid::inputMethodQuery(Qt::InputMethodQuery query) const {
    return QAbstractScrollArea::inputMethodQuery(query);
}

bool TDBGrid::focusNextPrevChild(bool next) {
    return QAbstractScrollArea::focusNextPrevChild(next);
}

bool TDBGrid::event(QEvent* event) {
    return QAbstractScrollArea::event(event);
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event) {
    return QAbstractScrollArea::eventFilter(watched, event);
}

} // namespace sorvanto
