// Databases in the Japanese legacy character sets, shown and edited in a grid through a UTF8
// attachment of the embedded engine: the text arrives as it was typed and is held in the set.

#include "GridFixture.h"

using namespace sorvanto;
using namespace sorvanto::test;

namespace {

// A database whose text column is in one character set, with two rows, shown in a grid.
class LegacySetView {
    TempDir dir_;
    std::string db_;
    std::unique_ptr<TSQLConnection> other_;

public:
    explicit LegacySetView(const std::string& set) : db_(dir_.File("legacy.fdb")) {
        CreateDatabase(db_, {"create table T (N integer not null primary key, NAME varchar(20))"},
                       set);
        other_ = MakeConnection(db_, "Other");
        other_->Params().Add("ServerCharSet=UTF8");
        other_->Execute("insert into T values (?, ?)",
                        {std::int64_t(1), std::string("日本語の文書")});
        other_->Execute("insert into T values (?, ?)",
                        {std::int64_t(2), std::string("ひらがなとカタカナ")});

        dataSet = MakeTable(db_, "T");
        dataSet->Connection().Params().Add("ServerCharSet=UTF8");
        dataSet->Open();
        source_.SetDataSet(dataSet.get());
        window_.resize(500, 300);
        grid = new TDBGrid(&window_);
        grid->Columns().AddFields({"N", "NAME"});
        grid->SetDataSource(&source_);
        grid->setGeometry(0, 0, 480, 200);
        window_.show();
        window_.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window_));
        grid->setFocus();
    }
    // NAME of row n and its size in bytes, as a second attachment reads them.
    std::pair<std::string, std::int64_t> Stored(int n) {
        std::unique_ptr<TSQLResultSet> rows;
        other_->Execute("select NAME, octet_length(NAME) from T where N = ?", {std::int64_t(n)},
                        &rows);
        EXPECT_TRUE(rows->Next());
        return {std::get<std::string>(rows->Reader().GetValue(0)), rows->Reader().GetInt64(1)};
    }
    // Types text into the NAME cell of the current record as an input method commits it.
    void Type(const QString& text) {
        grid->SetSelectedIndex(1);
        QTest::keyClick(grid, Qt::Key_F2);
        ASSERT_TRUE(grid->EditorMode());
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(QApplication::focusWidget(), &commit);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        dataSet->Post();
    }

    std::unique_ptr<TSimpleDataSet> dataSet;

private:
    TDataSource source_{"DataSource1"};
    QWidget window_;

public:
    TDBGrid* grid = nullptr; // owned by the window
};

TEST(LegacyCharacterSets, TextIsShownAndAnEditArrivesUnchangedOrIsRefusedWhole) {
    for (const char* set : {"SJIS_0208", "EUCJ_0208"}) {
        SCOPED_TRACE(set);
        LegacySetView view(set);
        EXPECT_EQ(view.grid->CellText(2, 1), "日本語の文書");
        EXPECT_EQ(view.grid->CellText(2, 2), "ひらがなとカタカナ");

        view.Type(QStringLiteral("変更後の文書"));
        EXPECT_EQ(view.dataSet->ApplyUpdates(-1), 0);
        // Six characters of two bytes each: held in the column's own set.
        EXPECT_EQ(view.Stored(1), std::make_pair(std::string("変更後の文書"), std::int64_t(12)));
        EXPECT_EQ(view.grid->CellText(2, 1), "変更後の文書");

        // A character the set does not have is refused, never replaced: the change stays.
        view.dataSet->SetRecNo(2);
        view.Type(QStringLiteral("𠮷野家"));
        EXPECT_EQ(view.dataSet->ApplyUpdates(-1), 1);
        EXPECT_EQ(view.dataSet->ChangeCount(), 1);
        EXPECT_EQ(view.Stored(2),
                  std::make_pair(std::string("ひらがなとカタカナ"), std::int64_t(18)));
        EXPECT_EQ(view.grid->CellText(2, 2), "𠮷野家");
    }
}

} // namespace
