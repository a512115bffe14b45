// Columns of the legacy character sets shown and edited in a real grid under each ServerCharSet
// a profile may name, or none: the text shows as stored, an edit typed through the input method
// arrives as typed, a character the column cannot hold is refused with a box that names it, and
// bytes that are no characters are shown marked and cannot be edited.

#include "GridFixture.h"

using namespace sorvanto;
using namespace sorvanto::test;

namespace {

struct SetCase {
    const char* set;
    const char* stored;
    const char* typed;
    const char* refused; // null when the set holds every character
    const char* unread;  // bytes that are no characters of the set (hex); null when none
};

const SetCase kSets[] = {
    {"SJIS_0208", "検索語", "二回目ﾃｽﾄ半角", "𠮷", "EB40"},
    {"EUCJ_0208", "日本語の文書", "変更後の文書", "ｱ", "8EB1"},
    {"WIN1252", "Grüße", "Müller €", "日", "81"},
    {"ISO8859_1", "Grüße", "Müller ½", "€", nullptr},
    {"UTF8", "検索語", "𠮷野家ﾃｽﾄ", nullptr, nullptr},
    {"NONE", "検索語", "二回目", nullptr, "FFFE"},
};

void PrintTo(const SetCase& c, std::ostream* out) {
    *out << c.set;
}

// A table whose NAME column is in one character set, shown in a grid through an attachment in
// another (or none).
class CharacterSetGrid
    : public ::testing::TestWithParam<std::tuple<SetCase, const char* /*ServerCharSet*/>> {
protected:
    void SetUp() override {
        const SetCase& c = std::get<0>(GetParam());
        db_ = dir_.File("legacy.fdb");
        CreateDatabase(db_, {"create table T (N integer not null primary key, NAME varchar(20) "
                             "character set " +
                             std::string(c.set) + ")"});
        utf8_ = MakeConnection(db_, "Other");
        utf8_->Params().Add("ServerCharSet=UTF8");
        utf8_->Execute("insert into T values (1, ?)", {std::string(c.stored)});
        if (c.unread)
            MakeConnection(db_, "Raw")
                ->Execute("insert into T values (2, cast(x'" + std::string(c.unread) +
                              "' as varchar(20) character set " + c.set + "))",
                          {});
        dataSet = MakeTable(db_, "T");
        std::string attachment = std::get<1>(GetParam());
        if (attachment == "own")
            attachment = c.set;
        if (!attachment.empty())
            dataSet->Connection().Params().Add("ServerCharSet=" + attachment);
        dataSet->Open();
        source_.SetDataSet(dataSet.get());
        window_.resize(500, 300);
        grid = new TDBGrid(&window_);
        grid->Columns().AddFields({"N", "NAME"});
        grid->SetDataSource(&source_);
        grid->setGeometry(0, 0, 480, 200);
        window_.show();
        window_.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
        grid->setFocus();
    }
    // NAME of row n as a second attachment in UTF8 reads it (as isql-fb -ch UTF8 shows it).
    std::string Stored(int n) {
        std::unique_ptr<TSQLResultSet> rows;
        utf8_->Execute("select NAME from T where N = ?", {std::int64_t(n)}, &rows);
        EXPECT_TRUE(rows->Next());
        return std::get<std::string>(rows->Reader().GetValue(0));
    }
    // Types text into the NAME cell of the current record as an input method commits it, and
    // ends the editing with Enter.
    void Type(const QString& text) {
        grid->SetSelectedIndex(1);
        QTest::keyClick(grid, Qt::Key_F2);
        ASSERT_TRUE(grid->EditorMode());
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(FocusWidget(), &commit);
        QTest::keyClick(FocusWidget(), Qt::Key_Return);
    }
    // The widget with the focus; after a modal box the window is made active again first.
    QWidget* FocusWidget() {
        if (!QApplication::focusWidget()) {
            window_.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window_));
        }
        return QApplication::focusWidget();
    }

    std::unique_ptr<TSimpleDataSet> dataSet;
    TDBGrid* grid = nullptr; // owned by the window

private:
    TempDir dir_;
    std::string db_;
    std::unique_ptr<TSQLConnection> utf8_;
    TDataSource source_{"DataSource1"};
    QWidget window_;
};

TEST_P(CharacterSetGrid, TextShowsAsStoredAndAnEditArrivesAsTyped) {
    const SetCase& c = std::get<0>(GetParam());
    EXPECT_EQ(grid->CellText(2, 1).toStdString(), c.stored);
    Type(QString::fromUtf8(c.typed));
    dataSet->Post();
    EXPECT_EQ(dataSet->ApplyUpdates(-1), 0) << dataSet->WindowRecordRefusal(0);
    EXPECT_EQ(Stored(1), c.typed);
    EXPECT_EQ(grid->CellText(2, 1).toStdString(), c.typed);
}

TEST_P(CharacterSetGrid, ACharacterTheColumnCannotHoldIsRefusedByName) {
    const SetCase& c = std::get<0>(GetParam());
    if (!c.refused)
        GTEST_SKIP() << c.set << " holds every character";
    const SeenBox box = AnswerModal([&] { Type(QString::fromUtf8("x") + c.refused); }, PressOk);
    EXPECT_TRUE(box.text.contains(QString::fromUtf8("文字 '") + c.refused + "'"))
        << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QString("文字セット ") + c.set)) << box.text.toStdString();
    QTest::keyClick(FocusWidget(), Qt::Key_Escape);
    dataSet->Cancel();
    EXPECT_EQ(dataSet->ApplyUpdates(-1), 0);
    EXPECT_EQ(Stored(1), c.stored);
}

TEST_P(CharacterSetGrid, BytesThatAreNoCharactersShowMarkedAndCannotBeEdited) {
    const SetCase& c = std::get<0>(GetParam());
    if (!c.unread)
        GTEST_SKIP() << "the engine holds no such bytes in " << c.set;
    const std::string before = Stored(2);
    dataSet->SetRecNo(2);
    EXPECT_TRUE(grid->CellText(2, 2).contains(QChar(0xFFFD))) << grid->CellText(2, 2).toStdString();
    grid->SetSelectedIndex(1);
    const SeenBox box = AnswerModal([&] { QTest::keyClicks(grid, "z"); }, PressOk);
    EXPECT_TRUE(box.text.contains(QString::fromUtf8("読めない"))) << box.text.toStdString();
    EXPECT_FALSE(dataSet->Modified());
    EXPECT_EQ(dataSet->ApplyUpdates(-1), 0);
    EXPECT_EQ(Stored(2), before);
}

INSTANTIATE_TEST_SUITE_P(EachSetAndAttachment, CharacterSetGrid,
                         ::testing::Combine(::testing::ValuesIn(kSets),
                                            ::testing::Values("", "own", "UTF8")),
                         [](const auto& test) {
                             std::string name = std::get<0>(test.param).set;
                             std::erase(name, '_');
                             std::string attachment = std::get<1>(test.param);
                             return name + "_" +
                                    (attachment.empty() ? "NoServerCharSet" : attachment);
                         });

} // namespace
