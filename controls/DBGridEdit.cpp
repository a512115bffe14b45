// The data grid's keyboard, in-place editor and editing rules. Layout and painting are in
// DBGrid.cpp, the mouse in DBGridMouse.cpp.

#include "DBGrid.h"

#include "ControlHooks.h"
#include "DBGridPrivate.h"
#include "Errors.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QStringList>
#include <QTimer>
#include <QValidator>

#include <algorithm>
#include <exception>

namespace sorvanto {

namespace {
constexpr int kEditorInset = 2;

bool IsEditingState(TDataSetState state) {
    return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
}

// Key presses that change the text of an edit box.
bool ChangesText(QKeyEvent* event) {
    for (QKeySequence::StandardKey key :
         {QKeySequence::Paste, QKeySequence::Cut, QKeySequence::Undo, QKeySequence::Redo,
          QKeySequence::Delete, QKeySequence::Backspace, QKeySequence::DeleteEndOfWord,
          QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfLine,
          QKeySequence::DeleteCompleteLine})
        if (event->matches(key))
            return true;
    return event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete;
}

// The printable characters of a key's text (above 31, not DEL).
QString PrintableText(const QString& text) {
    QString printable;
    for (QChar c : text)
        if (c.unicode() > 31 && c.unicode() != 127)
            printable += c;
    return printable;
}
} // namespace

// Limits an edit box to a number of characters (code points), as the database counts them, not
// UTF-16 units. A text that grows past the limit loses the characters just before the caret,
// that is the end of what was typed or pasted; a character is never split.
class TCharacterLimit : public QValidator {
public:
    using QValidator::QValidator;
    int limit = 0; // 0: none

    State validate(QString& text, int& caret) const override {
        if (limit <= 0)
            return Acceptable;
        qsizetype excess = CharacterCount(text) - limit;
        if (excess <= 0)
            return Acceptable;
        qsizetype end = std::clamp<qsizetype>(caret, 0, text.size());
        qsizetype start = end;
        for (; excess > 0 && start > 0; --excess)
            start -=
                start >= 2 && text[start - 1].isLowSurrogate() && text[start - 2].isHighSurrogate()
                    ? 2
                    : 1;
        text.remove(start, end - start);
        caret = static_cast<int>(start);
        if (excess > 0) // nothing left before the caret: cut the end
            text = FirstCharacters(text, limit);
        return Acceptable;
    }
};

void TDBGrid::Private::Guarded(const std::function<void()>& work) {
    RunHandled(&q, work);
}

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
        const QScopedValueRollback focusing(selfFocus, true);
        q.setFocus(Qt::OtherFocusReason);
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
        // Every change of the text goes through the grid's keys: no menu, no dropping.
        editor->setContextMenuPolicy(Qt::NoContextMenu);
        editor->setAcceptDrops(false);
        editorLimit = new TCharacterLimit(editor);
        editor->setValidator(editorLimit);
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
    editor->setTextMargins(kEditorInset, 0, kEditorInset, 0);
    const bool textField = field && (field->DataType() == TFieldType::ftString ||
                                     field->DataType() == TFieldType::ftWideString);
    // The limit counts characters; the edit box's own one (UTF-16 units) only has to leave room.
    const int limit = textField && field->Size() > 0 ? field->Size() : 0;
    editorLimit->limit = limit;
    editor->setMaxLength(std::max(32767, 2 * limit));
    editor->setReadOnly(column->ReadOnly());
    switch (column->Alignment()) {
    case TAlignment::taLeftJustify:
        editor->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        break;
    case TAlignment::taRightJustify:
        editor->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case TAlignment::taCenter:
        editor->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        break;
    }
    if (opening || editorCol != col || editorRow != row) {
        // The text comes from the field as it is now, never from what an earlier cell left:
        // a view just opened has sent no move that would have loaded it.
        if (!link.Modified)
            LoadEditText();
        editor->selectAll();
    }
    editorCol = col;
    editorRow = row;
    editorShown = true;
    editor->show();
    if (IsActiveControl() && !editor->hasFocus()) {
        const QScopedValueRollback focusing(selfFocus, true);
        editor->setFocus(Qt::OtherFocusReason);
    }
}

void TDBGrid::Private::LoadEditText() {
    TField* field = FieldOf(col);
    editText = field && link.Active() ? EditText(*field, field->Value()) : QString();
    if (editor) {
        const QScopedValueRollback feeding(feedingEditor, true);
        editor->setText(editText);
    }
}

void TDBGrid::Private::EditorTextEdited() {
    // The mark was set when the key was let through; a change that came another way still
    // counts as the operator's.
    if (!feedingEditor && link.Editing())
        link.Modified = true;
}

// ---- Editing rules --------------------------------------------------------------------------

bool TDBGrid::Private::CanEditModify() {
    if (readOnly || !link.Active() || link.ReadOnly())
        return false;
    TColumn* column = ColumnOf(col);
    TField* field = FieldOf(col);
    if (!column || column->ReadOnly() || !field || !FieldCanModify(*field) ||
        IsNonTextKind(field->DataType()))
        return false;
    // A value that did not read as text cannot be edited: say why, once per attempt.
    if (std::string reason = field->DataSet().FieldNotEditable(*field); !reason.empty()) {
        Guarded([&] { throw EDatabaseError(reason); });
        return false;
    }
    link.Edit();
    if (!link.Editing())
        return false;
    link.Modified = true;
    return true;
}

bool TDBGrid::Private::AcceptTyping(const QString& text) {
    TField* field = FieldOf(col);
    if (field) {
        for (QChar c : text) {
            if (!FieldAcceptsChar(*field, c)) {
                QApplication::beep();
                return false;
            }
        }
    }
    return CanEditModify();
}

void TDBGrid::Private::UpdateData() {
    if (!link.Modified)
        return;
    TField* field = FieldOf(col);
    const QString text = editor ? editor->text() : editText;
    if (field && EditText(*field, field->Value()) != text)
        SetFieldText(*field, text); // a refused text leaves the mark set
    link.Modified = false;
}

void TDBGrid::Private::RowDown() {
    TDataSet* dataSet = link.DataSet();
    if (dataSet->State() == TDataSetState::dsInsert && !dataSet->Modified() && !link.Modified) {
        if (link.Eof())
            return;
        dataSet->Cancel();
    } else {
        MoveBy(1);
    }
    if (link.Eof() && dataSet->CanModify() && !readOnly && Has(TDBGridOption::dgEditing))
        dataSet->Append();
}

void TDBGrid::Private::RowUp() {
    TDataSet* dataSet = link.DataSet();
    if (dataSet->State() == TDataSetState::dsInsert && !dataSet->Modified() && link.Eof() &&
        !link.Modified) {
        dataSet->Cancel();
        return;
    }
    MoveBy(-1);
}

void TDBGrid::Private::NextPrevCell(bool next) {
    const int start = col;
    const int last = q.ColCount() - 1;
    if (last < indicatorOffset)
        return;
    int c = col;
    do {
        if (next) {
            if (++c > last) {
                RowDown();
                c = indicatorOffset;
            }
        } else {
            if (--c < indicatorOffset) {
                RowUp();
                c = last;
            }
        }
        if (c == start)
            return;
    } while (!q.TabStop(c));
    MoveCol(c, 0);
}

void TDBGrid::Private::CancelStep() {
    if (link.Modified) {
        // Throw the typing away.
        LoadEditText();
        if (editor)
            editor->end(false);
        link.Modified = false;
    } else if (IsEditingState(link.DataSet()->State())) {
        link.DataSet()->Cancel();
    }
    if (!Has(TDBGridOption::dgAlwaysShowEditor))
        HideEditor();
}

void TDBGrid::Private::DeleteRecord() {
    TDataSet* dataSet = link.DataSet();
    if (readOnly || dataSet->IsEmpty() || !dataSet->CanModify())
        return;
    if (Has(TDBGridOption::dgConfirmDelete) &&
        !ConfirmDeletion(QStringLiteral("レコードを削除しますか？")))
        return;
    dataSet->Delete();
}

bool TDBGrid::Private::IsLeaving(QWidget* next, Qt::FocusReason reason) const {
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return false;
    if (!next || next == &q || next == editor)
        return false;
    return next->window() == q.window();
}

void TDBGrid::Private::LeavingGrid() {
    if (editor && editorShown) {
        // Hidden, text kept; it shows again when the grid takes the focus back.
        editor->hide();
        editorShown = false;
    }
    if (!link.Active())
        return;
    try {
        TDataSet* dataSet = link.DataSet();
        if (Has(TDBGridOption::dgCancelOnExit) && dataSet->State() == TDataSetState::dsInsert &&
            !dataSet->Modified() && !link.Modified)
            dataSet->Cancel();
        else
            UpdateData();
    } catch (...) {
        // Back to the grid, and the error to the operator once the focus change is over.
        std::exception_ptr error = std::current_exception();
        QTimer::singleShot(0, &q, [this, error] {
            q.setFocus(Qt::OtherFocusReason);
            Guarded([this, error] {
                if (editorMode)
                    UpdateEditor();
                std::rethrow_exception(error);
            });
        });
    }
}

void TDBGrid::Private::LeaveByKeyboard(bool next) {
    // The grid keeps Tab for its cells; as in the platform's text editors, Ctrl+Tab and
    // Ctrl+Shift+Tab go on to the neighbours in tab order. The grid's own children (the editor)
    // are not neighbours.
    QWidget* step = &q;
    for (;;) {
        step = next ? step->nextInFocusChain() : step->previousInFocusChain();
        if (!step || step == &q)
            return;
        if (q.isAncestorOf(step) || step->isWindow())
            continue;
        if ((step->focusPolicy() & Qt::TabFocus) && step->isVisibleTo(q.window()) &&
            step->isEnabled())
            break;
    }
    // Leaving runs on the focus change; a refusal puts the focus back.
    step->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

// ---- The key map ----------------------------------------------------------------------------

bool TDBGrid::Private::KeyDown(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const bool alt = mods & Qt::AltModifier;
    const int key = event->key();
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && ctrl && !alt) {
        // Also while inactive: the keyboard's way out of the grid.
        LeaveByKeyboard(key == Qt::Key_Tab && !shift);
        return true;
    }
    if (!link.Active())
        return true; // every key is ignored while inactive
    TDataSet* dataSet = link.DataSet();
    const bool rowSelect = Has(TDBGridOption::dgRowSelect);
    const bool singleColumn = q.ColCount() - indicatorOffset <= 1;
    auto toTop = [&] { MoveBy(-link.ActiveRecord()); };
    auto toBottom = [&] { MoveBy(link.BufferCount() - link.ActiveRecord() - 1); };
    auto firstColumn = [&] { MoveCol(indicatorOffset, 1); };
    auto lastColumn = [&] { MoveCol(q.ColCount() - 1, -1); };
    switch (key) {
    case Qt::Key_Up:
        ctrl ? toTop() : RowUp();
        return true;
    case Qt::Key_Down:
        ctrl ? toBottom() : RowDown();
        return true;
    case Qt::Key_PageUp:
        ctrl ? toTop() : void(MoveBy(-VisibleRows()));
        return true;
    case Qt::Key_PageDown:
        ctrl ? toBottom() : void(MoveBy(VisibleRows()));
        return true;
    case Qt::Key_Left:
        if (rowSelect)
            RowUp();
        else if (ctrl)
            firstColumn();
        else
            MoveCol(col - 1, -1);
        return true;
    case Qt::Key_Right:
        if (rowSelect)
            RowDown();
        else if (ctrl)
            lastColumn();
        else
            MoveCol(col + 1, 1);
        return true;
    case Qt::Key_Home:
        if (ctrl || rowSelect || singleColumn)
            dataSet->First();
        else
            firstColumn();
        return true;
    case Qt::Key_End:
        if (ctrl || rowSelect || singleColumn)
            dataSet->Last();
        else
            lastColumn();
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if (!alt)
            NextPrevCell(key == Qt::Key_Tab && !shift);
        return true;
    case Qt::Key_Insert:
        if (!shift && !ctrl && !alt && dataSet->CanModify() && !readOnly &&
            Has(TDBGridOption::dgEditing))
            dataSet->Insert();
        return true;
    case Qt::Key_Escape:
        CancelStep();
        return true;
    case Qt::Key_F2:
        ShowEditor();
        return true;
    case Qt::Key_Delete:
        if (ctrl) {
            DeleteRecord();
            return true;
        }
        return false;
    case Qt::Key_C:
        if (!ctrl || alt)
            return false;
        QGuiApplication::clipboard()->setText(shift ? q.CurrentRowText() : q.CurrentCellText());
        return true;
    case Qt::Key_F:
        if (!ctrl || alt || shift)
            return false;
        if (q.OnFind)
            q.OnFind(q);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!Has(TDBGridOption::dgAlwaysShowEditor)) {
            UpdateData();
            if (editorMode && editorShown)
                HideEditor();
            else
                ShowEditor();
        }
        return true;
    default:
        return false;
    }
}

bool TDBGrid::Private::EditorKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    const bool forward = Has(TDBGridOption::dgAlwaysShowEditor);
    const int key = event->key();
    const bool noSelection = !editor->hasSelectedText();
    const bool atStart = noSelection && editor->cursorPosition() == 0;
    const bool atEnd = noSelection && editor->cursorPosition() == editor->text().size();
    bool toGrid = false;
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        toGrid = true;
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        toGrid = !alt;
        break;
    case Qt::Key_Insert:
        toGrid = mods == Qt::NoModifier;
        break;
    case Qt::Key_Left:
    case Qt::Key_Home:
        toGrid = forward && (ctrl || atStart);
        break;
    case Qt::Key_Right:
    case Qt::Key_End:
        toGrid = forward && (ctrl || atEnd);
        break;
    case Qt::Key_Delete:
        toGrid = ctrl && !(mods & Qt::ShiftModifier);
        break;
    case Qt::Key_C:
        // Ctrl+C is the edit box's own copy; the row copy and the find are the grid's.
        toGrid = ctrl && !alt && (mods & Qt::ShiftModifier);
        break;
    case Qt::Key_F:
        toGrid = ctrl && !alt && !(mods & Qt::ShiftModifier);
        break;
    case Qt::Key_F2:
        // Inside the editor F2 puts the caret at the end.
        editor->end(false);
        return true;
    default:
        break;
    }
    if (toGrid) {
        KeyDown(event);
        return true;
    }
    if (ChangesText(event))
        return !CanEditModify(); // dropped when the cell may not be modified
    const QString printable = PrintableText(event->text());
    if (!printable.isEmpty() && !ctrl)
        return !AcceptTyping(printable);
    return false;
}

// ---- Copying ------------------------------------------------------------------------------

namespace {
// A value as a spreadsheet cell: quoted when it holds a tab, a line break or a quote.
QString SheetValue(const QString& text) {
    if (!text.contains(QLatin1Char('\t')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('"')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

QString TDBGrid::CurrentCellText() const {
    // The editor's text while the operator is changing it, else what the cell shows.
    if (d->editor && d->editorShown && d->link.Modified)
        return d->editor->text();
    return CellText(d->col, d->row);
}

QString TDBGrid::CurrentRowText() const {
    QStringList titles;
    QStringList values;
    for (int c = d->indicatorOffset; c < ColCount(); ++c) {
        TColumn* column = d->ColumnOf(c);
        if (!column || !column->Visible())
            continue;
        titles << SheetValue(column->Title().Caption());
        const bool editing = c == d->col && d->editor && d->editorShown && d->link.Modified;
        values << SheetValue(editing ? d->editor->text() : CellText(c, d->row));
    }
    return titles.join(QLatin1Char('\t')) + QLatin1Char('\n') + values.join(QLatin1Char('\t')) +
           QLatin1Char('\n');
}

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
    bool handled = true;
    d->Guarded([&] { handled = d->KeyDown(event); });
    if (handled) {
        event->accept();
        return;
    }
    const QString printable = PrintableText(event->text());
    const bool typing = (!printable.isEmpty() && !(event->modifiers() & Qt::ControlModifier)) ||
                        event->key() == Qt::Key_Backspace;
    if (typing && d->CanEditShow()) {
        // Typing opens the editor and goes into it as if typed there.
        d->Guarded([this] { d->ShowEditor(); });
        if (d->editor && d->editorShown) {
            QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(),
                           event->isAutoRepeat(), static_cast<ushort>(event->count()));
            QApplication::sendEvent(d->editor, &copy);
        }
        event->accept();
        return;
    }
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
    if (d->IsLeaving(QApplication::focusWidget(), event->reason()))
        d->LeavingGrid();
}

void TDBGrid::inputMethodEvent(QInputMethodEvent* event) {
    // The start of a composition opens the editor, which takes the composition over.
    if (!d->link.Active() || !d->CanEditShow()) {
        event->ignore();
        return;
    }
    d->Guarded([this] { d->ShowEditor(); });
    if (d->editor && d->editorShown)
        QApplication::sendEvent(d->editor, event);
}

QVariant TDBGrid::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (d->editor && d->editorShown)
        return d->editor->inputMethodQuery(query);
    if (query == Qt::ImEnabled)
        return d->link.Active() && d->Has(TDBGridOption::dgEditing);
    return QAbstractScrollArea::inputMethodQuery(query);
}

bool TDBGrid::focusNextPrevChild(bool next) {
    // With dgTabs the grid keeps Tab and Shift+Tab for its cells.
    if (d->Has(TDBGridOption::dgTabs))
        return false;
    return QAbstractScrollArea::focusNextPrevChild(next);
}

bool TDBGrid::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // The grid wants its keys before any shortcut of the window.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter || key->key() == Qt::Key_Delete) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched != d->editor)
        return QAbstractScrollArea::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress: {
        bool consumed = true;
        d->Guarded([&] { consumed = d->EditorKey(static_cast<QKeyEvent*>(event)); });
        return consumed;
    }
    case QEvent::ShortcutOverride:
        event->accept();
        return true;
    case QEvent::InputMethod: {
        auto* input = static_cast<QInputMethodEvent*>(event);
        const QString commit = input->commitString();
        // A failure on the way drops the text.
        bool accepted = commit.isEmpty();
        if (!accepted)
            d->Guarded([&] { accepted = d->AcceptTyping(commit); });
        if (!accepted) {
            // The committed text may not go in: drop it, ending the composition.
            QInputMethodEvent ended;
            QApplication::sendEvent(d->editor, &ended);
            return true;
        }
        return false;
    }
    case QEvent::FocusOut: {
        auto* focus = static_cast<QFocusEvent*>(event);
        if (d->IsLeaving(QApplication::focusWidget(), focus->reason()))
            d->LeavingGrid();
        return false;
    }
    default:
        return false;
    }
}

} // namespace sorvanto
