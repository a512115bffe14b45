#include "Application.h"
#include "BoxAnswers.h"
#include "DBNavigator.h"
#include "MainUnit.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

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

TEST_F(TableView, TheStatusLineFollowsEveryMoveAndTheFindBarLiesOverItsGrid) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.DBGrid1->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.DBGrid1->hasFocus(); }));
    EXPECT_EQ(form.ViewStatus1->text(), "1 / 4");
    EXPECT_EQ(form.ViewStatus2->text(), "") << "a closed view has no position";

    auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(QApplication::focusWidget(), k, mods);
    };
    key(Qt::Key_Down);
    EXPECT_EQ(form.ViewStatus1->text(), "2 / 4");
    Click(form.DBNavigator1, nbLast);
    EXPECT_EQ(form.ViewStatus1->text(), "4 / 4");
    key(Qt::Key_Down); // appends a blank record
    EXPECT_EQ(form.ViewStatus1->text(), "* / 4");
    key(Qt::Key_Escape);
    EXPECT_EQ(form.ViewStatus1->text(), "4 / 4");

    // The window has no room below the grid: the bar covers the grid's bottom edge.
    key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(form.FindBar1->isVisible());
    EXPECT_FALSE(form.FindBar2->isVisible());
    EXPECT_TRUE(form.DBGrid1->geometry().contains(form.FindBar1->geometry()));
    EXPECT_EQ(form.FindBar1->geometry().bottom(), form.DBGrid1->geometry().bottom());
    form.DBGrid1->SetSelectedIndex(2);
    QTest::keyClicks(form.FindBar1->Edit(), "WORD 2");
    key(Qt::Key_Return);
    EXPECT_EQ(form.ViewStatus1->text(), "2 / 4");
    key(Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), form.DBGrid1);

    form.DatabaseNameEdit->setText("c:\\firebird\\missing.fdb");
    EXPECT_FALSE(Open(form.ShowKeywordButton).isEmpty());
    EXPECT_EQ(form.ViewStatus1->text(), "");
}
