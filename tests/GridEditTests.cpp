// Editing in the data grid: the in-place editor, the key map, inserting, appending, deleting,
// cancelling, leaving the grid and dragging columns, driven with real key and mouse events.

#include "Errors.h"
#include "Glyphs.h"
#include "GridFixture.h"

#include <QClipboard>
#include <QInputMethodEvent>

using namespace sorvanto;
using namespace sorvanto::test;

namespace {

class GridEditTest : public GridTest {
protected:
    // Shows K100 with its five columns, the current cell on `column` of record `recNo`.
    void ShowKeywords(int column = 1, int recNo = 1) {
        Show("K100", {"KEYWORD_NO", "ID", "KEY_WORD", "USER_NAME", "TS"});
        dataSet->SetRecNo(recNo);
        grid->SetSelectedIndex(column - 1);
    }
    QLineEdit* Editor() const { return grid->InplaceEditor(); }
    bool EditorOpen() const { return grid->EditorMode() && Editor() && Editor()->isVisible(); }
};

// The editor opens with the current cell's text whichever way it opens, also on a view just
// opened (no move has been made yet) and on a view reopened after the grid showed another record;
// it takes the keyboard, and only an opening that typed puts the dataset in edit.
TEST_F(GridEditTest, EditorOpensWithTheCellTextRightAfterTheViewOpens) {
    struct Way {
        const char* name;
        std::function<void()> open;
        const char* typed; // the editor's text when the opening typed into it, else the cell's
        TDataSetState state = TDataSetState::dsBrowse;
    };
    auto compose = [this](const QString& preedit, const QString& commit) {
        QInputMethodEvent start(preedit, {});
        QApplication::sendEvent(grid, &start);
        QInputMethodEvent done;
        done.setCommitString(commit);
        QApplication::sendEvent(QApplication::focusWidget(), &done);
    };
    const Way ways[] = {
        {"F2", [this] { Key(Qt::Key_F2); }, nullptr},
        {"Enter", [this] { Key(Qt::Key_Return); }, nullptr},
        {"a digit", [this] { Type("7"); }, "7", TDataSetState::dsEdit},
        {"Backspace", [this] { Key(Qt::Key_Backspace); }, "", TDataSetState::dsEdit},
        {"a click on the current cell",
         [this] {
             QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                               CellCentre(grid->Col(), grid->Row()));
         },
         nullptr},
        {"F2 after a click on the indicator",
         [this] {
             QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(0, grid->Row()));
             Key(Qt::Key_F2);
         },
         nullptr},
        {"input method", [&] { compose(QStringLiteral("4"), QStringLiteral("4")); }, "4",
         TDataSetState::dsEdit},
        // A composition under way stands in for the selected text; nothing is typed yet.
        {"input method composing",
         [this] {
             QInputMethodEvent start(QStringLiteral("4"), {});
             QApplication::sendEvent(grid, &start);
         },
         ""},
    };
    struct Start {
        const char* name;
        std::function<void()> before; // run on the open view before the editor opens
    };
    const Start starts[] = {
        {"just opened", [] {}},
        {"after a move", [this] { Key(Qt::Key_Down); }},
        {"reopened after a move",
         [this] {
             Key(Qt::Key_Down);
             dataSet->Close();
             dataSet->Open();
         }},
    };
    for (const Start& start : starts) {
        for (const Way& way : ways) {
            SCOPED_TRACE(std::string(start.name) + ", " + way.name);
            // Attached while closed and opened afterwards, as a view opens in the window.
            Show("K100", {"KEYWORD_NO", "ID", "KEY_WORD"});
            dataSet->Close();
            dataSet->Open();
            start.before();
            ASSERT_FALSE(EditorOpen());
            const QString shown = grid->CellText(grid->Col(), grid->Row());
            ASSERT_EQ(shown, FieldText("KEYWORD_NO"));
            way.open();
            ASSERT_TRUE(EditorOpen());
            EXPECT_EQ(Editor()->text(), way.typed ? QString::fromUtf8(way.typed) : shown);
            if (!way.typed) {
                EXPECT_EQ(Editor()->selectedText(), shown);
            }
            EXPECT_EQ(dataSet->State(), way.state);
            EXPECT_EQ(QApplication::focusWidget(), Editor());
            // What the editor opened with, under what was typed.
            while (Editor()->isUndoAvailable())
                Editor()->undo();
            EXPECT_EQ(Editor()->text(), shown);
            TearDown();
        }
    }
}

TEST_F(GridEditTest, IntegerCellDropsLettersAndTakesTheNumberOnEnter) {
    ShowKeywords(2, 3);
    Type("12a");
    EXPECT_EQ(Editor()->text(), "12");
    EXPECT_EQ(grid->IndicatorImage(grid->Row()), DBEDIT);
    Key(Qt::Key_Return); // writes the field, closes the editor, posts nothing
    EXPECT_FALSE(EditorOpen());
    EXPECT_EQ(dataSet->State(), TDataSetState::dsEdit);
    EXPECT_EQ(FieldText("ID"), "12");
    EXPECT_EQ(grid->CellText(2, grid->Row()), "12");
}

TEST_F(GridEditTest, RefusedTextIsShownAndKeptAndTheMoveDoesNotHappen) {
    struct Case {
        int column;
        const char* typed;
        Qt::Key then;
        const char* error;
    };
    const Case cases[] = {
        {5, "abc", Qt::Key_Return, "SQL タイムスタンプ文字列が解析できません."},
        {5, "abc", Qt::Key_Down, "SQL タイムスタンプ文字列が解析できません."},
        {2, "3000000000", Qt::Key_Tab,
         "3e+09 は項目 'ID' に適した値ではありません。-2.14748e+09 から 2.14748e+09 の範囲が許さ"
         "れます."},
        {2, "-+1", Qt::Key_Up, "'-+1' は項目 'ID' に適した整数値ではありません."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ShowKeywords(c.column, 3);
        Type(c.typed);
        SeenBox box = AnswerModal([&] { Key(c.then); }, PressOk);
        EXPECT_EQ(box.text, c.error);
        EXPECT_EQ(dataSet->RecNo(), 3);
        EXPECT_EQ(grid->SelectedIndex(), c.column - 1);
        ASSERT_TRUE(EditorOpen());
        EXPECT_EQ(Editor()->text(), c.typed);
        EXPECT_EQ(dataSet->State(), TDataSetState::dsEdit);
        // Escape throws the typing away; the field never changed.
        Key(Qt::Key_Escape);
        EXPECT_EQ(FieldText(c.column == 5 ? "TS" : "ID"),
                  c.column == 5 ? "2024/03/05 10:20:30" : "-3");
        TearDown();
    }
}

TEST_F(GridEditTest, ErasedTimestampBecomesNullAndTypedOneIsRead) {
    ShowKeywords(5, 2);
    Key(Qt::Key_F2);
    Key(Qt::Key_Backspace); // the whole text was selected
    Key(Qt::Key_Return);
    EXPECT_TRUE(dataSet->FieldByName("TS").IsNull());
    EXPECT_EQ(grid->CellText(5, grid->Row()), "");
    Type("2025/01/02 3:04:05");
    Key(Qt::Key_Return);
    EXPECT_EQ(FieldText("TS"), "2025/01/02 3:04:05");
}

TEST_F(GridEditTest, EscapeFirstRestoresTheTextThenCancelsTheEdit) {
    ShowKeywords(3, 2);
    Type("new word");
    ASSERT_EQ(dataSet->State(), TDataSetState::dsEdit);
    Key(Qt::Key_Escape);
    EXPECT_EQ(Editor()->text(), "word 2");
    EXPECT_FALSE(EditorOpen());
    EXPECT_EQ(dataSet->State(), TDataSetState::dsEdit);
    EXPECT_EQ(grid->IndicatorImage(grid->Row()), DBEDIT);
    Key(Qt::Key_Escape);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(grid->IndicatorImage(grid->Row()), DBGARROW);
    EXPECT_EQ(FieldText("KEY_WORD"), "word 2");
}

TEST_F(GridEditTest, DownOnTheLastRecordAppendsAndUpRemovesTheBlankRow) {
    ShowKeywords(1, 100);
    const int lastRow = grid->Row();
    Key(Qt::Key_Down);
    ASSERT_EQ(dataSet->State(), TDataSetState::dsInsert);
    EXPECT_EQ(grid->Row(), lastRow);
    EXPECT_EQ(grid->IndicatorImage(lastRow), DBINSERT);
    EXPECT_EQ(grid->CellText(1, lastRow - 1), "100");
    Key(Qt::Key_Down); // the untouched new record stays
    EXPECT_EQ(dataSet->State(), TDataSetState::dsInsert);
    EXPECT_EQ(dataSet->RecordCount(), 100);
    Key(Qt::Key_Up);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(dataSet->RecNo(), 100);
    EXPECT_EQ(grid->CellText(1, lastRow), "100");

    // Typed into, the new record is posted into the cache by the next Down, which appends again.
    Key(Qt::Key_Down);
    Type("101");
    Key(Qt::Key_Down);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsInsert);
    EXPECT_EQ(dataSet->RecordCount(), 101);
    EXPECT_EQ(dataSet->ChangeCount(), 1);
    EXPECT_EQ(grid->CellText(1, lastRow - 1), "101");
}

TEST_F(GridEditTest, InsertInTheMiddleThenDownWithoutTypingRemovesTheBlankRow) {
    ShowKeywords(1, 3);
    const int row = grid->Row();
    Key(Qt::Key_Insert);
    ASSERT_EQ(dataSet->State(), TDataSetState::dsInsert);
    EXPECT_EQ(grid->CellText(1, row), "");
    EXPECT_EQ(grid->CellText(1, row + 1), "3");
    Key(Qt::Key_Down);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(dataSet->RecNo(), 3);
    EXPECT_EQ(grid->CellText(1, row), "3");
    EXPECT_EQ(dataSet->RecordCount(), 100);
}

TEST_F(GridEditTest, TabSkipsReadOnlyColumnsAndWrapsPastTheLastRecord) {
    ShowKeywords(1, 100);
    grid->Columns()[1].SetReadOnly(true); // ID
    Key(Qt::Key_Tab);
    EXPECT_EQ(grid->SelectedIndex(), 2);
    Key(Qt::Key_Backtab);
    EXPECT_EQ(grid->SelectedIndex(), 0);

    // Typing into the read-only column is ignored.
    grid->SetSelectedIndex(1);
    Type("5");
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(FieldText("ID"), "-100");

    // Tab from the last cell of the last record appends and goes to the first tab stop.
    grid->SetSelectedIndex(4);
    Key(Qt::Key_Tab);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsInsert);
    EXPECT_EQ(grid->SelectedIndex(), 0);
    // Shift+Tab before the first column removes it again and goes to the last column.
    Key(Qt::Key_Backtab);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(dataSet->RecNo(), 100);
    EXPECT_EQ(grid->SelectedIndex(), 4);
}

TEST_F(GridEditTest, CtrlDeleteAsksAndOnlyCancelKeepsTheRecord) {
    struct Case {
        const char* name;
        std::function<void(QWidget*)> answer;
        bool deleted;
    };
    auto click = [](const char* caption) {
        return [caption](QWidget* box) {
            for (QPushButton* b : box->findChildren<QPushButton*>())
                if (b->text() == QString::fromUtf8(caption))
                    QTest::mouseClick(b, Qt::LeftButton);
        };
    };
    const Case cases[] = {
        {"OK", click("OK"), true},
        {"Enter", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); }, true},
        {"Cancel", click("キャンセル"), false},
        {"Escape", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
        {"closing", [](QWidget* box) { box->close(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShowKeywords(1, 3);
        SeenBox box = AnswerModal([&] { Key(Qt::Key_Delete, Qt::ControlModifier); }, c.answer);
        EXPECT_EQ(box.caption, "確認");
        EXPECT_EQ(box.text, "レコードを削除しますか？");
        EXPECT_EQ(dataSet->RecordCount(), c.deleted ? 99 : 100);
        EXPECT_EQ(FieldText("KEYWORD_NO"), c.deleted ? "4" : "3");
        TearDown();
    }
}

TEST_F(GridEditTest, LeavingTheGridCancelsAnUntouchedNewRecordANoFocusButtonDoesNot) {
    ShowKeywords(1, 100);
    Key(Qt::Key_Down);
    ASSERT_EQ(dataSet->State(), TDataSetState::dsInsert);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsInsert);
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(dataSet->RecordCount(), 100);

    // A typed text is written when the grid is left; the record stays in edit state.
    grid->setFocus();
    grid->SetSelectedIndex(2);
    Type("left");
    other->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsEdit);
    EXPECT_EQ(FieldText("KEY_WORD"), "left");
}

TEST_F(GridEditTest, LeavingWithARefusedTextPutsTheFocusBack) {
    ShowKeywords(5, 2);
    Type("abc");
    SeenBox box = AnswerModal([&] { other->setFocus(Qt::MouseFocusReason); }, PressOk);
    EXPECT_EQ(box.text, "SQL タイムスタンプ文字列が解析できません.");
    EXPECT_TRUE(QTest::qWaitFor([&] { return FocusWidget() == Editor(); }, 5000));
    EXPECT_EQ(Editor()->text(), "abc");
    EXPECT_EQ(dataSet->State(), TDataSetState::dsEdit);
}

TEST_F(GridEditTest, InputMethodTextGoesIntoTheCell) {
    ShowKeywords(3, 2);
    QInputMethodEvent composing(QStringLiteral("にほんご"), {});
    QApplication::sendEvent(grid, &composing);
    ASSERT_TRUE(EditorOpen());
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本語"));
    QApplication::sendEvent(QApplication::focusWidget(), &commit);
    EXPECT_EQ(Editor()->text(), "日本語");
    Key(Qt::Key_Return);
    EXPECT_EQ(FieldText("KEY_WORD"), "日本語");

    // Into an integer cell the same text is refused.
    grid->SetSelectedIndex(1);
    Key(Qt::Key_F2);
    QInputMethodEvent refused;
    refused.setCommitString(QStringLiteral("日本"));
    QApplication::sendEvent(QApplication::focusWidget(), &refused);
    EXPECT_EQ(Editor()->text(), "-2");
}

TEST_F(GridEditTest, APostRefusedForARequiredFieldOpensTheEditorOnIt) {
    ShowKeywords(3, 100);
    Key(Qt::Key_Down);
    Type("only a word");
    EXPECT_THROW(dataSet->Post(), EDatabaseError); // KEYWORD_NO is required
    EXPECT_EQ(grid->SelectedIndex(), 0);
    EXPECT_TRUE(EditorOpen());
    EXPECT_EQ(dataSet->State(), TDataSetState::dsInsert);
    EXPECT_EQ(FieldText("KEY_WORD"), "only a word");
}

// The editor counts characters as the database does: 𠮷 (outside the Basic Multilingual Plane)
// is one character of KEY_WORD's 100, never cut in half, and what fits goes in whole.
TEST_F(GridEditTest, TheEditorCountsCharactersAndNeverSplitsOne) {
    const QString yoshi = QString::fromUtf8("\xF0\xA0\xAE\xB7");
    ShowKeywords(3, 50);
    dataSet->Edit();
    dataSet->FieldByName("KEY_WORD").SetValue(("x" + yoshi.repeated(60)).toStdString());
    dataSet->Post();
    Key(Qt::Key_F2);
    ASSERT_EQ(Editor()->text(), "x" + yoshi.repeated(60));
    Key(Qt::Key_Home);
    Key(Qt::Key_Delete);
    Type("y");
    Key(Qt::Key_Return);
    EXPECT_EQ(FieldText("KEY_WORD"), "y" + yoshi.repeated(60));

    struct Case {
        QString pasted;
        QString kept; // the editor's text afterwards, the whole old text selected first
    };
    const Case cases[] = {
        {yoshi.repeated(100), yoshi.repeated(100)},
        {yoshi.repeated(99) + "ab", yoshi.repeated(99) + "a"},
        {"a" + yoshi.repeated(100), "a" + yoshi.repeated(99)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kept.size());
        Key(Qt::Key_F2); // opens with the text selected
        ASSERT_TRUE(EditorOpen());
        QApplication::clipboard()->setText(c.pasted);
        Key(Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(Editor()->text(), c.kept);
        Type("z"); // a full editor takes no more
        EXPECT_EQ(Editor()->text(), c.kept);
        Key(Qt::Key_Return);
        EXPECT_EQ(FieldText("KEY_WORD"), c.kept);
    }
    dataSet->Post();
    ASSERT_EQ(dataSet->ApplyUpdates(-1), 0);
    auto check = MakeConnection(Database(), "Check");
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select KEY_WORD from K100 where KEYWORD_NO = 50", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(0), TValue(("a" + yoshi.repeated(99)).toStdString()));
}

TEST_F(GridEditTest, ColumnsAreMovedAndResizedWithTheMouseInMemory) {
    ShowKeywords(1, 1);
    int movedFrom = -1, movedTo = -1;
    grid->OnColumnMoved = [&](TDBGrid&, int from, int to) {
        movedFrom = from;
        movedTo = to;
    };
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, CellCentre(1, 0));
    QTest::mouseMove(grid->viewport(), CellCentre(2, 0));
    QTest::mouseMove(grid->viewport(), CellCentre(3, 0));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, CellCentre(3, 0));
    EXPECT_EQ(movedFrom, 0);
    EXPECT_EQ(movedTo, 2);
    EXPECT_EQ(grid->Columns()[2].FieldName(), "KEYWORD_NO");
    EXPECT_EQ(grid->Columns()[0].FieldName(), "ID");
    EXPECT_EQ(grid->CellText(3, 1), "1");

    const int width = grid->ColWidth(1);
    const QRect cell = grid->CellRect(1, 0);
    const QPoint border(cell.right() + 1, cell.center().y());
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(grid->viewport(), border + QPoint(30, 0));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, border + QPoint(30, 0));
    EXPECT_TRUE(grid->Columns()[0].WidthAssigned());
    EXPECT_EQ(grid->ColWidth(1), width + 30);
    EXPECT_EQ(movedFrom, 0); // resizing moved nothing
}

} // namespace
