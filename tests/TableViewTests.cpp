#include "Application.h"
#include "BoxAnswers.h"
#include "DBNavigator.h"
#include "LongWork.h"
#include "MainUnit.h"
#include "TestSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

using namespace sorvanto;
using test::AnswerNextBox;
using test::EnabledButtons;
using test::SeenBox;

namespace {

// A drives folder of its own with the profile and the stored database, both tables filled.
class Drives {
public:
    Drives() : env_("SORVANTO_DRIVES", dir_.Path().c_str()) {
        std::filesystem::create_directories(dir_.Path() + "/c/DOCUMENT");
        std::filesystem::create_directories(dir_.Path() + "/c/firebird");
        database_ = dir_.Path() + "/c/firebird/document.fdb";
        test::CreateDatabase(database_,
                             {"create table KEY_WORDS (KEYWORD_NO integer not null primary key, "
                              "KEY_WORD varchar(100))",
                              "create table MEMO (INPUTNO integer not null primary key, TITLE "
                              "varchar(100), MEMO blob sub_type text)"});
        other_ = test::MakeConnection(database_, "Other");
        for (int i = 1; i <= 4; ++i) {
            other_->Execute("insert into KEY_WORDS values (?, ?)",
                            {std::int64_t(i), std::string("word ") + std::to_string(i)});
            other_->Execute("insert into MEMO values (?, ?, ?)",
                            {std::int64_t(i), std::string("title ") + std::to_string(i),
                             std::string("memo ") + std::to_string(i)});
        }
        std::ofstream(dir_.Path() + "/c/DOCUMENT/Connection.ini", std::ios::binary)
            << "[FBDOCUMENTCONNECTION]\r\nDriverName=Firebird\r\nDatabase=c:\\firebird\\"
               "document.fdb\r\nUser_Name=sysdba\r\nPassword=masterkey\r\n";
    }
    // The value of a column of a table's row as the database holds it now; "<no row>" without it.
    std::string Stored(const std::string& table, int key, const std::string& column) {
        std::string keyColumn = table == "MEMO" ? "INPUTNO" : "KEYWORD_NO";
        std::unique_ptr<TSQLResultSet> rows;
        other_->Execute("select " + column + " from " + table + " where " + keyColumn + " = ?",
                        {std::int64_t(key)}, &rows);
        if (!rows->Next())
            return "<no row>";
        TValue value = rows->Reader().GetValue(0);
        return IsNull(value) ? "<null>" : std::get<std::string>(value);
    }
    const std::string& Path() const { return dir_.Path(); }
    // A second attachment: what the database holds, whatever the window's datasets say.
    TSQLConnection& Other() { return *other_; }

private:
    test::TempDir dir_;
    test::ScopedEnv env_;
    std::string database_;
    std::unique_ptr<TSQLConnection> other_;
};

} // namespace

TEST(TableViews, NavigatorsStandAtTheirPlacesDisabledByTheCreationHandler) {
    Drives drives;
    TMainForm form;
    const double s = form.LayoutScale();
    auto r = [s](int v) { return static_cast<int>(std::lround(v * s)); };
    struct Place {
        TDBNavigator* navigator;
        int top;
        TDataSource* source;
    };
    for (const Place& p : {Place{form.DBNavigator1, 174, form.DataSource1.get()},
                           Place{form.DBNavigator2, 335, form.DataSource2.get()}}) {
        SCOPED_TRACE(p.navigator->objectName().toStdString());
        int width = r(234) - r(234) % 9;
        EXPECT_EQ(p.navigator->geometry(), QRect(r(48), r(p.top), width, r(25)));
        EXPECT_EQ(p.navigator->ButtonWidth(), width / 9);
        EXPECT_EQ(p.navigator->DataSource(), p.source);
        EXPECT_FALSE(p.navigator->Enabled());
        EXPECT_FALSE(p.navigator->TabStop());
        EXPECT_TRUE(p.navigator->ConfirmDelete);
        EXPECT_TRUE(p.navigator->ShowHint());
        EXPECT_EQ(p.navigator->VisibleButtons(),
                  (TNavButtonSet{nbFirst, nbPrior, nbNext, nbLast, nbDelete, nbEdit, nbPost,
                                 nbCancel, nbRefresh}));
        EXPECT_TRUE(p.navigator->OnClick != nullptr);
        EXPECT_EQ(EnabledButtons(*p.navigator), "..........");
        EXPECT_EQ(p.navigator->Button(nbNext)->toolTip(), "次のレコード");
    }
    // Opened while the navigator is disabled: still all grey.
    form.DataSource2->DataSet()->Open();
    EXPECT_EQ(EnabledButtons(*form.DBNavigator2), "..........");
}

namespace {

// The window, logged on, with the keywords view open; its boxes answered or, when nobody expects
// them, failing the test.
class TableView : public ::testing::Test {
protected:
    void SetUp() override {
        SeenBox info;
        AnswerNextBox(info, test::PressEnter);
        QTest::mouseClick(form.LogonButton, Qt::LeftButton);
        ASSERT_TRUE(info->seen);
        ASSERT_TRUE(form.ShowKeywordButton->isEnabled());
        Open(form.ShowKeywordButton);
        ASSERT_TRUE(keywords.Active());
    }
    // Presses a view's button; returns the text of the error box it showed, if any.
    QString Open(QPushButton* viewButton) {
        SeenBox error;
        AnswerNextBox(error, test::PressEnter);
        QTest::mouseClick(viewButton, Qt::LeftButton);
        return error->seen ? error->text : QString();
    }
    void Click(TDBNavigator* navigator, TNavigateBtn button) {
        QTest::mouseClick(navigator->Button(button), Qt::LeftButton);
    }
    // As typing into the grid does: the record goes into edit state and the cell gets the text.
    void Type(TSimpleDataSet& view, int recNo, const std::string& column, const std::string& text) {
        view.SetRecNo(recNo);
        view.Edit();
        view.FieldByName(column).SetValue(text);
    }
    std::string Shown(TSimpleDataSet& view, const std::string& column) {
        return std::get<std::string>(view.FieldByName(column).Value());
    }

    Drives drives;
    test::BoxGuard guard;
    TMainForm form;
    TSimpleDataSet& keywords = *form.SimpleDataSet1;
    TSimpleDataSet& memos = *form.SimpleDataSet2;
};

} // namespace

TEST_F(TableView, OpeningAViewSetsItsParametersAndEnablesOnlyItsNavigator) {
    const TParamList& params = keywords.Connection().Params();
    EXPECT_EQ(params.ValueOfName("Database"), "c:\\firebird\\document.fdb");
    EXPECT_EQ(params.ValueOfName("drivername"), "Firebird");
    EXPECT_EQ(params.ValueOfName("User_Name"), "SYSDBA");
    EXPECT_EQ(params.ValueOfName("Password"), "quillbarn");
    EXPECT_EQ(keywords.RecordCount(), 4);
    EXPECT_EQ(EnabledButtons(*form.DBNavigator1), "..NLIDE..R");
    EXPECT_FALSE(memos.Active());
    EXPECT_EQ(EnabledButtons(*form.DBNavigator2), "..........");
    EXPECT_FALSE(form.DBNavigator2->Enabled());

    EXPECT_TRUE(Open(form.MemoButton).isEmpty());
    EXPECT_TRUE(memos.Active());
    EXPECT_EQ(memos.DataSet().CommandText(), "MEMO");
    EXPECT_EQ(memos.Connection().Params().ValueOfName("Password"), "quillbarn");
    EXPECT_EQ(EnabledButtons(*form.DBNavigator2), "..NLIDE..R");
}

TEST_F(TableView, MovingPostingAndCancellingSendTheChangesAtOnce) {
    Type(keywords, 1, "KEY_WORD", "moved");
    Click(form.DBNavigator1, nbNext);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "moved");
    EXPECT_EQ(keywords.ChangeCount(), 0);

    Type(keywords, 2, "KEY_WORD", "posted");
    Click(form.DBNavigator1, nbPost);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "posted");

    // Cancel drops the edit but sends what was posted before it.
    Type(keywords, 3, "KEY_WORD", "posted earlier");
    keywords.Post();
    EXPECT_EQ(drives.Stored("KEY_WORDS", 3, "KEY_WORD"), "word 3") << "pending until a click";
    Type(keywords, 4, "KEY_WORD", "cancelled");
    Click(form.DBNavigator1, nbCancel);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 3, "KEY_WORD"), "posted earlier");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 4, "KEY_WORD"), "word 4");
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "word 4");
    EXPECT_EQ(keywords.ChangeCount(), 0);

    // Edit leaves browse mode only for the moment of the click.
    Click(form.DBNavigator1, nbEdit);
    EXPECT_EQ(keywords.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(EnabledButtons(*form.DBNavigator1).substr(6), "E..R");
}

TEST_F(TableView, DeleteDeclinedStillSendsEarlierChangesAndAcceptedDeletesTheRow) {
    Type(keywords, 1, "KEY_WORD", "kept");
    keywords.Post();
    keywords.SetRecNo(2);
    SeenBox box;
    AnswerNextBox(box, [](QWidget* b) { test::PressButton(b, "キャンセル"); });
    Click(form.DBNavigator1, nbDelete);
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "kept");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "word 2");

    SeenBox yes;
    AnswerNextBox(yes, [](QWidget* b) { test::PressButton(b, "OK"); });
    Click(form.DBNavigator1, nbDelete);
    ASSERT_TRUE(yes->seen);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "<no row>");
    EXPECT_EQ(keywords.RecordCount(), 3);
    EXPECT_EQ(keywords.ChangeCount(), 0);
}

TEST_F(TableView, RefreshRereadsButFailsWhileAChangeIsPending) {
    drives.Other().Execute("update KEY_WORDS set KEY_WORD = 'theirs' where KEYWORD_NO = 3", {});
    Click(form.DBNavigator1, nbRefresh);
    keywords.SetRecNo(3);
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "theirs");

    Type(keywords, 1, "KEY_WORD", "pending");
    keywords.Post();
    SeenBox error;
    AnswerNextBox(error, test::PressEnter);
    Click(form.DBNavigator1, nbRefresh);
    ASSERT_TRUE(error->seen);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "word 1") << "no apply after a failure";
    EXPECT_EQ(keywords.ChangeCount(), 1);

    Click(form.DBNavigator1, nbNext);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "pending");
    Click(form.DBNavigator1, nbRefresh);
    EXPECT_EQ(keywords.ChangeCount(), 0);
}

TEST_F(TableView, ARefusedChangeStaysPendingAndTheNextClickSendsItOnceTheCauseIsGone) {
    drives.Other().Execute("update KEY_WORDS set KEY_WORD = 'theirs' where KEYWORD_NO = 1", {});
    Type(keywords, 1, "KEY_WORD", "mine");
    Type(keywords, 2, "KEY_WORD", "also mine");
    Click(form.DBNavigator1, nbPost);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "theirs");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "also mine") << "the others go through";
    EXPECT_EQ(keywords.ChangeCount(), 1);
    keywords.SetRecNo(1);
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "mine");

    Click(form.DBNavigator1, nbNext);
    EXPECT_EQ(keywords.ChangeCount(), 1) << "sent again, refused again";
    drives.Other().Execute("update KEY_WORDS set KEY_WORD = 'word 1' where KEYWORD_NO = 1", {});
    Click(form.DBNavigator1, nbPrior);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "mine");
    EXPECT_EQ(keywords.ChangeCount(), 0);
}

TEST_F(TableView, ReopeningDropsUnappliedChangesOfThatViewOnly) {
    ASSERT_TRUE(Open(form.MemoButton).isEmpty());
    Type(memos, 1, "TITLE", "memo pending");
    memos.Post();
    Type(keywords, 1, "KEY_WORD", "posted, not sent");
    keywords.Post();
    Type(keywords, 2, "KEY_WORD", "being edited");

    EXPECT_TRUE(Open(form.ShowKeywordButton).isEmpty());
    EXPECT_EQ(keywords.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(keywords.ChangeCount(), 0);
    keywords.SetRecNo(1);
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "word 1");
    keywords.SetRecNo(2);
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "word 2");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "word 1");
    // The memos view is untouched: still open, its change still pending, then sent by its own
    // navigator.
    EXPECT_TRUE(memos.Active());
    EXPECT_EQ(memos.ChangeCount(), 1);
    Click(form.DBNavigator2, nbNext);
    EXPECT_EQ(drives.Stored("MEMO", 1, "TITLE"), "memo pending");
    EXPECT_EQ(keywords.ChangeCount(), 0);
}

TEST_F(TableView, AWrongPathFailsAndLeavesTheViewClosedUntilACorrectedOne) {
    form.DatabaseNameEdit->setText("c:\\firebird\\missing.fdb");
    QString error = Open(form.ShowKeywordButton);
    EXPECT_TRUE(error.contains("missing.fdb")) << error.toStdString();
    EXPECT_FALSE(keywords.Active());
    // The navigator, enabled by the earlier open, stays so with nothing to act on.
    EXPECT_TRUE(form.DBNavigator1->Enabled());
    EXPECT_EQ(EnabledButtons(*form.DBNavigator1), "..........");
    // The memos view was never opened: its navigator is not enabled by a failed open either.
    error = Open(form.MemoButton);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(memos.Active());
    EXPECT_FALSE(form.DBNavigator2->Enabled());

    form.DatabaseNameEdit->setText("c:\\firebird\\document.fdb");
    EXPECT_TRUE(Open(form.ShowKeywordButton).isEmpty());
    EXPECT_EQ(keywords.RecordCount(), 4);
    EXPECT_EQ(EnabledButtons(*form.DBNavigator1), "..NLIDE..R");
}

TEST_F(TableView, AnEmptyPathRemovesTheDatabaseLine) {
    form.DatabaseNameEdit->clear();
    QString error = Open(form.MemoButton);
    EXPECT_FALSE(memos.Connection().Params().IndexOfName("Database") >= 0);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(memos.Active());
    EXPECT_FALSE(form.DBNavigator2->Enabled());
}

TEST_F(TableView, APathTypedLaterServesTheNextViewOpenedAndNotTheOpenOne) {
    std::string second = drives.Path() + "/c/firebird/second.fdb";
    test::CreateDatabase(second, {"create table MEMO (INPUTNO integer not null primary key, TITLE "
                                  "varchar(100), MEMO blob sub_type text)",
                                  "insert into MEMO values (7, 'second title', 'second memo')"});
    form.DatabaseNameEdit->setText("c:\\FIREBIRD\\second.fdb");
    ASSERT_TRUE(Open(form.MemoButton).isEmpty());
    EXPECT_EQ(memos.RecordCount(), 1);
    EXPECT_EQ(Shown(memos, "TITLE"), "second title");

    // The keywords view still works on the database it was opened with.
    Type(keywords, 1, "KEY_WORD", "first database");
    Click(form.DBNavigator1, nbPost);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "first database");
}

// The grids keep Tab for their cells; Ctrl+Tab and Ctrl+Shift+Tab take the keyboard out of
// either grid, whether its view is open, closed or being typed into, past the navigators.
TEST_F(TableView, CtrlTabLeavesEachGridForItsNeighbourInTabOrder) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto press = [](Qt::Key key) {
        QTest::keyClick(QApplication::focusWidget(), key,
                        key == Qt::Key_Backtab ? Qt::ControlModifier | Qt::ShiftModifier
                                               : Qt::ControlModifier);
    };
    struct Case {
        const char* name;
        TDBGrid* from;
        bool editing; // the in-place editor has the focus
        Qt::Key key;
        QWidget* to;
    };
    const Case cases[] = {
        {"DBGrid1, Ctrl+Tab", form.DBGrid1, false, Qt::Key_Tab, form.DBGrid2},
        {"DBGrid1's editor, Ctrl+Tab", form.DBGrid1, true, Qt::Key_Tab, form.DBGrid2},
        {"DBGrid1, Ctrl+Shift+Tab", form.DBGrid1, false, Qt::Key_Backtab, form.MemoButton},
        {"DBGrid1's editor, Ctrl+Shift+Tab", form.DBGrid1, true, Qt::Key_Backtab, form.MemoButton},
        {"DBGrid2, view closed, Ctrl+Tab", form.DBGrid2, false, Qt::Key_Tab, form.Button1},
        {"DBGrid2, view closed, Ctrl+Shift+Tab", form.DBGrid2, false, Qt::Key_Backtab,
         form.DBGrid1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.from->setFocus();
        if (c.editing) {
            QTest::keyClick(c.from, Qt::Key_F2);
            ASSERT_TRUE(c.from->EditorMode());
        }
        press(c.key);
        // A grid given the focus back may hand it on to its editor, still wanted open.
        QWidget* focus = QApplication::focusWidget();
        EXPECT_TRUE(focus == c.to || c.to->isAncestorOf(focus))
            << focus->metaObject()->className() << " " << focus->objectName().toStdString();
        EXPECT_FALSE(c.from->EditorMode());
    }
    EXPECT_EQ(keywords.State(), TDataSetState::dsBrowse);

    // Leaving this way takes the grid's leaving steps: an untouched appended record goes, typed
    // text reaches the field (nothing is posted or sent).
    form.DBGrid1->setFocus();
    keywords.Last();
    QTest::keyClick(form.DBGrid1, Qt::Key_Down);
    ASSERT_EQ(keywords.State(), TDataSetState::dsInsert);
    press(Qt::Key_Tab);
    EXPECT_EQ(keywords.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(keywords.RecordCount(), 4);

    form.DBGrid1->setFocus();
    keywords.First();
    form.DBGrid1->SetSelectedIndex(2); // KEY_WORD
    QTest::keyClicks(form.DBGrid1, "typed");
    press(Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.MemoButton);
    EXPECT_EQ(keywords.State(), TDataSetState::dsEdit);
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "typed");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1, "KEY_WORD"), "word 1");
}

namespace {

// The colour painted in the middle of a grid cell's blank right end.
QColor Painted(TDBGrid& grid, int col, int row) {
    QImage image = grid.viewport()->grab().toImage();
    QRect cell = grid.CellRect(col, row);
    return image.pixelColor(std::min(cell.right(), image.width() - 1) - 2, cell.center().y());
}

// The contrast ratio of two colours, as readability is judged (1 to 21).
double Contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    double la = luminance(a) + 0.05;
    double lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

// Grid row of a record, while the whole table fits into the grid.
int GridRow(int recNo) {
    return recNo; // the title row is row 0
}

constexpr int kBlankCol = 2; // ID: a stored column the test table lacks, so its cells are blank

} // namespace

TEST_F(TableView, PendingAndRefusedRowsAreTintedCountedAndExplained) {
    form.show();
    TDBGrid& grid = *form.DBGrid1;
    auto status = [&] { return form.ViewStatus1->Pending(); };
    const QColor base = grid.palette().color(QPalette::Base);
    EXPECT_EQ(status(), "");

    keywords.Append();
    keywords.FieldByName("KEYWORD_NO").SetValue(std::int64_t(10));
    keywords.FieldByName("KEY_WORD").SetValue(std::string("inserted"));
    keywords.Post();
    EXPECT_EQ(status(), "未送信 1件");
    Type(keywords, 2, "KEY_WORD", "mine");
    keywords.Post();
    EXPECT_EQ(status(), "未送信 2件");
    keywords.SetRecNo(3);
    keywords.Delete();
    EXPECT_EQ(status(), "未送信 3件") << "a delete counts too";
    Type(keywords, 1, "KEY_WORD", "dropped");
    keywords.Cancel();
    EXPECT_EQ(status(), "未送信 3件");

    // Records 1 word 1, 2 mine, 3 word 4, 4 inserted.
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(1)), base);
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(2)), grid.PendingColor());
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(3)), base);
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(4)), grid.PendingColor());

    // Someone else changes record 2 first: the apply refuses that change and sends the others.
    drives.Other().Execute("update KEY_WORDS set KEY_WORD = 'theirs' where KEYWORD_NO = 2", {});
    Click(form.DBNavigator1, nbNext);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 10, "KEY_WORD"), "inserted");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 3, "KEY_WORD"), "<no row>");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "theirs");
    EXPECT_EQ(status(), "未送信 1件（うち拒否 1件）");
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(2)), grid.RefusedColor());
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(4)), base) << "sent";
    EXPECT_GT(grid.RefusedColor().red(), grid.RefusedColor().blue()) << "warm";

    // Hovering the refused row tells the database's reason; other rows tell nothing.
    auto hover = [&](int row) {
        QPoint at = grid.CellRect(kBlankCol, row).center();
        QHelpEvent help(QEvent::ToolTip, at, grid.viewport()->mapToGlobal(at));
        QApplication::sendEvent(grid.viewport(), &help);
        // A row without a reason leaves the event to others (and the tip fades out).
        return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(hover(GridRow(2)),
              "レコードが見つからないか、または他のユーザーによって変更されました。");
    EXPECT_EQ(hover(GridRow(1)), "");

    // Editing the refused row again keeps it refused until the next apply.
    Type(keywords, 2, "KEY_WORD", "mine again");
    keywords.Post();
    EXPECT_EQ(status(), "未送信 1件（うち拒否 1件）");
    drives.Other().Execute("update KEY_WORDS set KEY_WORD = 'word 2' where KEYWORD_NO = 2", {});
    Click(form.DBNavigator1, nbNext);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "mine again");
    EXPECT_EQ(status(), "");
    EXPECT_EQ(Painted(grid, kBlankCol, GridRow(2)), base);
    EXPECT_EQ(hover(GridRow(2)), "");
}

TEST_F(TableView, TintsStayReadableInALightAndADarkPalette) {
    TDBGrid& grid = *form.DBGrid1;
    Type(keywords, 1, "KEY_WORD", "mine");
    keywords.Post();
    QPalette light = grid.palette();
    QPalette dark = light;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    for (const QPalette& palette : {light, dark}) {
        grid.setPalette(palette);
        const QColor base = palette.color(QPalette::Base);
        const QColor text = palette.color(QPalette::Text);
        EXPECT_EQ(Painted(grid, kBlankCol, GridRow(1)), grid.PendingColor());
        for (const QColor& tint : {grid.PendingColor(), grid.RefusedColor()}) {
            EXPECT_NE(tint, base);
            EXPECT_GE(Contrast(tint, text), 7.0) << tint.name().toStdString();
        }
        EXPECT_NE(grid.PendingColor(), grid.RefusedColor());
    }
}

namespace {

// The keyword table grown to 200,004 rows, in one statement of the second attachment.
void SeedManyKeywords(Drives& drives) {
    drives.Other().Execute("execute block as declare i integer = 5; begin "
                           "while (i <= 200004) do begin "
                           "insert into KEY_WORDS values (:i, 'word ' || :i); i = i + 1; end end",
                           {});
}

// The progress box at once and up to date at every report, answered by `answer` each time it
// is brought up to date; the timing and the answer are put back afterwards.
class ProgressAnswer {
public:
    explicit ProgressAnswer(std::function<void(TProgressDialog&)> answer) {
        TLongWork::ShowAfterMs = 0;
        TLongWork::PaintEveryMs = 0;
        TLongWork::OnDialogUpdated = std::move(answer);
    }
    ~ProgressAnswer() {
        TLongWork::ShowAfterMs = showAfter_;
        TLongWork::PaintEveryMs = paintEvery_;
        TLongWork::OnDialogUpdated = nullptr;
    }

private:
    int showAfter_ = TLongWork::ShowAfterMs;
    int paintEvery_ = TLongWork::PaintEveryMs;
};

// What the box showed: its caption and the counts, in order, while it was up.
struct ProgressSeen {
    QString caption;
    std::vector<std::int64_t> counts;
    bool modal = false;
};

// Notes the box and presses its Cancel once it has counted `updates` times; the first time it
// also posts a key to the window's path box, which must not take it.
std::function<void(TProgressDialog&)> CancelAfter(ProgressSeen& seen, std::size_t updates,
                                                  QWidget* elsewhere) {
    return [&seen, updates, elsewhere](TProgressDialog& box) {
        if (seen.counts.empty()) {
            seen.caption = box.findChild<QLabel*>("CaptionLabel")->text();
            seen.modal = box.isVisible() && QApplication::activeModalWidget() == &box;
            QCoreApplication::postEvent(
                elsewhere, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
        }
        seen.counts.push_back(box.Count());
        if (seen.counts.size() == updates)
            QTest::mouseClick(box.CancelButton(), Qt::LeftButton);
    };
}

bool CountsUp(const std::vector<std::int64_t>& counts) {
    return std::is_sorted(counts.begin(), counts.end()) && counts.back() > counts.front();
}

} // namespace

TEST_F(TableView, ALongOpenShowsItsProgressAndCancelLeavesTheViewClosed) {
    SeedManyKeywords(drives);
    ProgressSeen seen;
    QString error;
    {
        ProgressAnswer answer(CancelAfter(seen, 5, form.DatabaseNameEdit));
        error = Open(form.ShowKeywordButton);
    }
    EXPECT_EQ(seen.caption, "読み込み中");
    EXPECT_TRUE(seen.modal);
    ASSERT_EQ(seen.counts.size(), 5u);
    EXPECT_TRUE(CountsUp(seen.counts));
    EXPECT_EQ(error, "SimpleDataSet1: 読み込みを取り消しました.");
    EXPECT_FALSE(keywords.Active());
    EXPECT_EQ(form.DatabaseNameEdit->text(), "c:\\firebird\\document.fdb") << "no input taken";
    EXPECT_EQ(form.ViewStatus1->Pending(), "");
    EXPECT_EQ(form.findChildren<TProgressDialog*>().size(), 0);

    // Left alone, the same open reads every row.
    EXPECT_EQ(Open(form.ShowKeywordButton), "");
    EXPECT_EQ(keywords.RecordCount(), 200004);
}

TEST_F(TableView, ALongApplyShowsItsProgressAndCancelRollsBackKeepingEveryChangePending) {
    SeedManyKeywords(drives);
    ASSERT_EQ(Open(form.ShowKeywordButton), "");
    // One change refused by an earlier apply, then many more: modified, deleted, inserted.
    drives.Other().Execute("update KEY_WORDS set KEY_WORD = 'theirs' where KEYWORD_NO = 1", {});
    Type(keywords, 1, "KEY_WORD", "refused");
    Click(form.DBNavigator1, nbNext);
    ASSERT_EQ(keywords.RefusedCount(), 1);
    for (int recNo = 2; recNo <= 300; ++recNo) {
        Type(keywords, recNo, "KEY_WORD", "mine " + std::to_string(recNo));
        keywords.Post();
    }
    keywords.SetRecNo(1000);
    keywords.Delete();
    keywords.Append();
    keywords.FieldByName("KEYWORD_NO").SetValue(std::int64_t(300000));
    keywords.Post();
    const int pending = keywords.ChangeCount();
    const QString status = form.ViewStatus1->Pending();
    ASSERT_EQ(status, "未送信 302件（うち拒否 1件）");

    ProgressSeen seen;
    SeenBox error;
    {
        ProgressAnswer answer(CancelAfter(seen, 20, form.DatabaseNameEdit));
        AnswerNextBox(error, test::PressEnter);
        Click(form.DBNavigator1, nbFirst);
    }
    EXPECT_EQ(seen.caption, "更新中");
    ASSERT_EQ(seen.counts.size(), 20u);
    EXPECT_TRUE(CountsUp(seen.counts));
    ASSERT_TRUE(error->seen);
    EXPECT_EQ(error->text,
              "SimpleDataSet1: 更新を取り消しました。変更はすべて未送信のまま残っています.");
    EXPECT_EQ(keywords.ChangeCount(), pending);
    EXPECT_EQ(keywords.RefusedCount(), 1);
    EXPECT_EQ(form.ViewStatus1->Pending(), status);
    EXPECT_EQ(form.DatabaseNameEdit->text(), "c:\\firebird\\document.fdb");
    // The database holds none of it, though changes had been sent before the Cancel.
    EXPECT_EQ(drives.Stored("KEY_WORDS", 2, "KEY_WORD"), "word 2");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 15, "KEY_WORD"), "word 15");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1000, "KEY_WORD"), "word 1000");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 300000, "KEY_WORD"), "<no row>");
    keywords.SetRecNo(15);
    EXPECT_EQ(Shown(keywords, "KEY_WORD"), "mine 15");

    // The next click sends them all; the refused one is refused again.
    Click(form.DBNavigator1, nbLast);
    EXPECT_EQ(drives.Stored("KEY_WORDS", 300, "KEY_WORD"), "mine 300");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 1000, "KEY_WORD"), "<no row>");
    EXPECT_EQ(drives.Stored("KEY_WORDS", 300000, "KEY_WORD"), "<null>");
    EXPECT_EQ(form.ViewStatus1->Pending(), "未送信 1件（うち拒否 1件）");
    // The position stands first, the unsent count on the line below it.
    EXPECT_EQ(form.ViewStatus1->text(),
              form.ViewStatus1->Position() + "\n" + form.ViewStatus1->Pending());
}

TEST_F(TableView, TheStatusLineFollowsEveryMoveAndTheFindBarLiesOverItsGrid) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.DBGrid1->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.DBGrid1->hasFocus(); }));
    EXPECT_EQ(form.ViewStatus1->Position(), "1 / 4");
    EXPECT_EQ(form.ViewStatus2->Position(), "") << "a closed view has no position";

    auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(QApplication::focusWidget(), k, mods);
    };
    key(Qt::Key_Down);
    EXPECT_EQ(form.ViewStatus1->Position(), "2 / 4");
    Click(form.DBNavigator1, nbLast);
    EXPECT_EQ(form.ViewStatus1->Position(), "4 / 4");
    key(Qt::Key_Down); // appends a blank record
    EXPECT_EQ(form.ViewStatus1->Position(), "* / 4");
    key(Qt::Key_Escape);
    EXPECT_EQ(form.ViewStatus1->Position(), "4 / 4");

    // The window has no room below the grid: the bar covers the grid's bottom edge.
    key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(form.FindBar1->isVisible());
    EXPECT_FALSE(form.FindBar2->isVisible());
    EXPECT_TRUE(form.DBGrid1->geometry().contains(form.FindBar1->geometry()));
    EXPECT_EQ(form.FindBar1->geometry().bottom(), form.DBGrid1->geometry().bottom());
    form.DBGrid1->SetSelectedIndex(2);
    QTest::keyClicks(form.FindBar1->Edit(), "WORD 2");
    key(Qt::Key_Return);
    EXPECT_EQ(form.ViewStatus1->Position(), "2 / 4");
    key(Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), form.DBGrid1);

    form.DatabaseNameEdit->setText("c:\\firebird\\missing.fdb");
    EXPECT_FALSE(Open(form.ShowKeywordButton).isEmpty());
    EXPECT_EQ(form.ViewStatus1->Position(), "");
}
