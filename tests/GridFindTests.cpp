// The grid's conveniences: copying a cell or a row, the find bar, and the record the scroll bar's
// thumb points at while dragged, driven with real key and mouse events.

#include "GridFindBar.h"
#include "GridFixture.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <algorithm>

using namespace sorvanto;
using namespace sorvanto::test;

namespace {

class GridFindTest : public GridTest {
protected:
    // K100 in a grid with its find bar; a few KEY_WORD values changed in the cache.
    void ShowKeywords() {
        Show("K100", {"KEYWORD_NO", "ID", "KEY_WORD", "USER_NAME", "TS"});
        bar = new TGridFindBar(*grid, window.get());
        for (auto [recNo, text] : {std::pair{10, "xABCx"},
                                   {30, "𠮷野家"},
                                   {40, "ＡＢＣ全角"},
                                   {60, "ｶﾀｶﾅ"},
                                   {70, "tab\there \"quoted\""}}) {
            dataSet->SetRecNo(recNo);
            dataSet->Edit();
            dataSet->FieldByName("KEY_WORD").SetValue(std::string(text));
            dataSet->Post();
        }
    }
    // Puts the current cell on a column of a record, the focus in the grid.
    void Go(int recNo, int column) {
        dataSet->SetRecNo(recNo);
        grid->SetSelectedIndex(column - 1);
        grid->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([this] {
            return grid->hasFocus() || QApplication::focusWidget() == grid->InplaceEditor();
        }));
    }
    // Ctrl+F, the text typed over what the box held, then Enter (Shift+Enter backwards).
    void Find(const QString& text, bool forward = true) {
        Key(Qt::Key_F, Qt::ControlModifier);
        ASSERT_TRUE(bar->isVisible());
        ASSERT_EQ(QApplication::focusWidget(), bar->Edit());
        Compose(text);
        Key(Qt::Key_Return, forward ? Qt::NoModifier : Qt::ShiftModifier);
    }
    // Typed text; what a keyboard cannot type comes as the input method commits it.
    void Compose(const QString& text) {
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
            Type(text);
            return;
        }
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(FocusWidget(), &commit);
    }
    QString Clipboard() const { return QGuiApplication::clipboard()->text(); }

    TGridFindBar* bar = nullptr;
};

TEST_F(GridFindTest, CopyTakesTheCellOrTheRowWithTitlesAndTheEditorKeepsItsOwnCopy) {
    ShowKeywords();
    Go(3, 3);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "word 3");
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    const QString ts = grid->CellText(5, grid->Row());
    EXPECT_EQ(Clipboard(),
              "KEYWORD_NO\tID\tKEY_WORD\tUSER_NAME\tTS\n3\t-3\tword 3\tuser\t" + ts + "\n");
    ASSERT_FALSE(ts.isEmpty());

    // A value with a tab or a quote is quoted as spreadsheets quote it.
    Go(70, 3);
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(Clipboard().contains("\t\"tab\there \"\"quoted\"\"\"\tuser\t"))
        << Clipboard().toStdString();

    // In the editor Ctrl+C copies the selection; Ctrl+Shift+C still copies the row, as typed.
    Go(3, 3);
    Type("new text");
    ASSERT_TRUE(grid->EditorMode());
    Key(Qt::Key_Left, Qt::ShiftModifier);
    Key(Qt::Key_Left, Qt::ShiftModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "xt");
    Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(Clipboard().contains("\n3\t-3\tnew text\tuser\t")) << Clipboard().toStdString();
    EXPECT_EQ(QApplication::focusWidget(), grid->InplaceEditor());
}

TEST_F(GridFindTest, FindMovesToTheNextMatchIgnoringCaseAndWidthAndGoesRound) {
    struct Case {
        const char* name;
        int from;
        int column;
        const char* text;
        bool forward;
        int found;           // the current record afterwards
        const char* message; // what the bar says
    };
    const Case cases[] = {
        {"case", 1, 3, "abc", true, 10, ""},
        {"full width found by half width", 10, 3, "abc", true, 40, ""},
        {"full width text", 1, 3, "ａｂｃ", true, 10, ""},
        {"goes round past the end", 40, 3, "ABC", true, 10, "先頭から検索しました"},
        {"backwards", 50, 3, "abc", false, 40, ""},
        {"backwards round past the start", 5, 3, "abc", false, 40, "末尾から検索しました"},
        {"outside the BMP", 1, 3, "𠮷", true, 30, ""},
        {"half-width katakana", 1, 3, "カタカナ", true, 60, ""},
        {"ascii after the current", 7, 3, "WORD 7", true, 71, ""},
        {"integer column", 1, 2, "-42", true, 42, ""},
        {"the current record alone", 30, 3, "野家", true, 30, ""},
        {"miss", 5, 3, "zzz", true, 5, "見つかりません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShowKeywords();
        Go(c.from, c.column);
        Find(QString::fromUtf8(c.text), c.forward);
        EXPECT_EQ(dataSet->RecNo(), c.found);
        EXPECT_EQ(bar->Message()->text(), QString::fromUtf8(c.message));
        EXPECT_EQ(grid->SelectedIndex(), c.column - 1);
        EXPECT_EQ(QApplication::focusWidget(), bar->Edit()) << "Enter again finds the next";
        TearDown();
    }
}

TEST_F(GridFindTest, TextValuesFoldedByteByByteMatchAsTheFullFoldingDoes) {
    ShowKeywords();
    const TField& field = dataSet->FieldByName("KEY_WORD");
    const char* texts[] = {"ABC def", "ＡＢＣ＿ｄｅｆ", "ｶﾞｷﾞｸﾞ", "ガギグ",       "か\u3099",
                           "が",      "検索語ー",       "①②Ⅻ",    "ﬁle",          "Straße",
                           "𠮷野家",  "全\u3000角",     "ｱｲｳ",    "キーワード12", "\xe3\x81"};
    const char* needles[] = {"abc", "C_D", "ガギ", "か", "が", "ー", "12",
                             "xii", "fi",  "SS",   "𠮷", " ",  "ア", "ｷｰﾜｰﾄﾞ"};
    for (const char* text : texts) {
        const QString shown = DisplayText(field, std::string(text));
        for (const char* needle : needles) {
            const TTextMatcher matcher(QString::fromUtf8(needle));
            EXPECT_EQ(matcher.Matches(field, std::string(text)), matcher.Matches(shown))
                << text << " / " << needle;
        }
    }
    EXPECT_TRUE(TTextMatcher("ｶﾞｷﾞ").Matches(field, std::string("ガギグ")));
    EXPECT_TRUE(TTextMatcher("ＡＢＣ").Matches(field, std::string("xabcx")));
    EXPECT_FALSE(TTextMatcher("ｶｷ").Matches(field, std::string("ガギグ")));
}

TEST_F(GridFindTest, EnterFindsAgainAndEscapeGivesTheFocusBack) {
    ShowKeywords();
    Go(1, 3);
    Find("abc");
    EXPECT_EQ(dataSet->RecNo(), 10);
    Key(Qt::Key_Return);
    EXPECT_EQ(dataSet->RecNo(), 40);
    Key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(dataSet->RecNo(), 10);
    EXPECT_EQ(grid->Row(), grid->FixedRows() + dataSet->ActiveRecord());
    Key(Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), grid);
    // Opening again selects the old text: typing replaces it.
    Find("word 9");
    EXPECT_EQ(bar->Edit()->text(), "word 9");
    EXPECT_EQ(dataSet->RecNo(), 90);
}

TEST_F(GridFindTest, FindPostsTheEditedRowAsAMoveDoesAndAMissKeepsTheEdit) {
    ShowKeywords();
    Go(3, 3);
    Type("changed");
    ASSERT_EQ(dataSet->State(), TDataSetState::dsEdit);
    // A miss neither moves nor posts; the typed text is written on leaving the grid.
    Find("zzz");
    EXPECT_EQ(dataSet->RecNo(), 3);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsEdit);
    EXPECT_EQ(FieldText("KEY_WORD"), "changed");
    // A hit moves through the dataset's move, which posts the record first.
    bar->Edit()->selectAll();
    Type("word 5");
    Key(Qt::Key_Return);
    EXPECT_EQ(dataSet->RecNo(), 5);
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(dataSet->ChangeCount(), 6);
    dataSet->SetRecNo(3);
    EXPECT_EQ(FieldText("KEY_WORD"), "changed");

    // An untouched new record is dropped, a filled-in one posted, before the search starts.
    Go(50, 3);
    Key(Qt::Key_Insert);
    ASSERT_EQ(dataSet->State(), TDataSetState::dsInsert);
    Find("xabc");
    EXPECT_EQ(dataSet->RecNo(), 10);
    EXPECT_EQ(dataSet->RecordCount(), 100);
}

TEST_F(GridFindTest, TheThumbShowsTheRecordItWillGoToAndMovesOnlyOnRelease) {
    ShowKeywords();
    Go(1, 3);
    QScrollBar* scroll = grid->verticalScrollBar();
    ASSERT_TRUE(scroll->isVisible());
    QStyleOptionSlider option;
    option.initFrom(scroll);
    option.orientation = Qt::Vertical;
    option.minimum = scroll->minimum();
    option.maximum = scroll->maximum();
    option.sliderPosition = scroll->sliderPosition();
    option.sliderValue = scroll->value();
    option.pageStep = scroll->pageStep();
    const QRect thumb = scroll->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                        QStyle::SC_ScrollBarSlider, scroll);
    const QRect groove = scroll->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                         QStyle::SC_ScrollBarGroove, scroll);
    QTest::mousePress(scroll, Qt::LeftButton, {}, thumb.center());
    const QPoint middle(thumb.center().x(), groove.center().y());
    QTest::mouseMove(scroll, middle);
    ASSERT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }));
    const int target = scroll->sliderPosition();
    ASSERT_GT(target, 10);
    EXPECT_EQ(QToolTip::text(), QString::number(target) + " / 100");
    EXPECT_EQ(dataSet->RecNo(), 1) << "nothing moves while dragging";
    QTest::mouseRelease(scroll, Qt::LeftButton, {}, middle);
    EXPECT_EQ(dataSet->RecNo(), target);
    EXPECT_FALSE(QToolTip::isVisible());
}

} // namespace
