#include "Application.h"
#include "BoxAnswers.h"
#include "DBNavigator.h"
#include "DataSource.h"
#include "Glyphs.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace sorvanto;

using test::AnswerNextBox;
using test::EnabledButtons;
using test::PressButton;
using test::SeenBox;

namespace {

const TNavButtonSet kWindowButtons{nbFirst, nbPrior, nbNext,   nbLast,   nbDelete,
                                   nbEdit,  nbPost,  nbCancel, nbRefresh};

// KEY_WORDS with five rows numbered 1 to 5, an empty table, and a navigator on a data source of
// the keywords, shown in a window of its own, its clicks and actions noted.
class Navigator : public ::testing::Test {
protected:
    void SetUp() override {
        db = dir.File("nav.fdb");
        test::CreateDatabase(db, {"create table KEY_WORDS (KEYWORD_NO integer not null primary "
                                  "key, KEY_WORD varchar(20))",
                                  "create table EMPTY_TABLE (ID integer not null primary key)"});
        other = test::MakeConnection(db, "Other");
        for (int i = 1; i <= 5; ++i)
            other->Execute("insert into KEY_WORDS values (?, ?)",
                           {std::int64_t(i), std::string("word ") + std::to_string(i)});
        ds = test::MakeTable(db, "KEY_WORDS");
        source.SetDataSet(ds.get());
        window.resize(300, 60);
        nav = new TDBNavigator(&window, "DBNavigator1");
        nav->setGeometry(10, 10, 234, 25);
        nav->SetVisibleButtons(kWindowButtons);
        nav->SetDataSource(&source);
        nav->BeforeAction = [this](TDBNavigator* sender, TNavigateBtn button) {
            EXPECT_EQ(sender, nav);
            log.push_back("before " + std::to_string(button) + " at " + Current());
        };
        nav->OnClick = [this](TDBNavigator* sender, TNavigateBtn button) {
            EXPECT_EQ(sender, nav);
            log.push_back("click " + std::to_string(button) + " at " + Current());
        };
        window.show();
    }
    // The keyword number of the current record, "-" when there is none.
    std::string Current() const {
        if (!ds->Active() || ds->IsEmpty())
            return "-";
        TValue value = ds->Fields(0).Value();
        return IsNull(value) ? "new" : std::to_string(std::get<std::int64_t>(value));
    }
    void Click(TNavigateBtn button) { QTest::mouseClick(nav->Button(button), Qt::LeftButton); }
    // The box around what a button paints in its text colour: the dotted focus mark when it
    // shows one, else just the glyph.
    QRect Ink(TNavigateBtn which) const {
        TNavButton* button = nav->Button(which);
        const QImage image = button->grab().toImage();
        const QColor ink = button->palette().color(QPalette::ButtonText);
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == ink)
                    box |= QRect(x, y, 1, 1);
        return box;
    }
    // The buttons that show the focus mark, an inset of 3 pixels inside their edges.
    std::vector<int> Marked() const {
        std::vector<int> marked;
        for (int i = 0; i < kNavButtonCount; ++i) {
            TNavigateBtn which = static_cast<TNavigateBtn>(i);
            if (nav->Button(which)->isVisible() &&
                Ink(which) == nav->Button(which)->rect().adjusted(3, 3, -3, -3))
                marked.push_back(i);
        }
        return marked;
    }

    test::TempDir dir;
    std::string db;
    std::unique_ptr<TSQLConnection> other;
    std::unique_ptr<TSimpleDataSet> ds;
    TDataSource source;
    QWidget window;
    TDBNavigator* nav = nullptr;
    std::vector<std::string> log;
    test::BoxGuard guard;
};

// Fires a button's repeat timer once, as its expiry would.
void FireRepeat(TNavButton* button) {
    ASSERT_NE(button->RepeatTimerId(), 0);
    QTimerEvent expiry(button->RepeatTimerId());
    QCoreApplication::sendEvent(button, &expiry);
}

} // namespace

TEST_F(Navigator, ButtonsFollowTheDatasetRowByRow) {
    EXPECT_EQ(EnabledButtons(*nav), "..........") << "closed";
    ds->Open();
    EXPECT_EQ(EnabledButtons(*nav), "..NLIDE..R") << "just opened";
    ds->Next();
    EXPECT_EQ(EnabledButtons(*nav), "FPNLIDE..R") << "middle";
    ds->Edit();
    EXPECT_EQ(EnabledButtons(*nav), "FPNLID.PCR") << "editing";
    ds->Cancel();
    ds->Insert();
    EXPECT_EQ(EnabledButtons(*nav).substr(4), "ID.PCR") << "inserting";
    ds->Cancel();
    ds->Last();
    EXPECT_EQ(EnabledButtons(*nav), "FP..IDE..R") << "after Last";

    nav->SetEnabled(false);
    EXPECT_EQ(EnabledButtons(*nav), "..........") << "navigator disabled";
    nav->SetEnabled(true);
    EXPECT_EQ(EnabledButtons(*nav), "FP..IDE..R") << "enabled again";
    source.SetEnabled(false);
    EXPECT_EQ(EnabledButtons(*nav), "..........") << "data source disabled";
    source.SetEnabled(true);
    ds->Close();
    EXPECT_EQ(EnabledButtons(*nav), "..........") << "closed again";

    ds->ReadOnly = true;
    ds->Open();
    ds->Next();
    EXPECT_EQ(EnabledButtons(*nav), "FPNL......") << "cannot be modified";
}

TEST_F(Navigator, AnEmptyTableLeavesEditAndRefreshAndEditStartsAnInsertion) {
    ds->Close();
    ds->DataSet().SetCommandText("EMPTY_TABLE");
    ds->Open();
    EXPECT_EQ(EnabledButtons(*nav), "....I.E..R");
    Click(nbEdit);
    EXPECT_EQ(ds->State(), TDataSetState::dsInsert);
    EXPECT_EQ(EnabledButtons(*nav).substr(6), ".PCR");
}

TEST_F(Navigator, TheLayoutDisabledNavigatorStaysGreyUntilEnabledAndLosesItsSource) {
    nav->SetEnabled(false);
    ds->Open();
    EXPECT_EQ(EnabledButtons(*nav), "..........");
    QTest::mouseClick(nav->Button(nbNext), Qt::LeftButton);
    EXPECT_TRUE(log.empty());
    nav->SetEnabled(true);
    EXPECT_EQ(EnabledButtons(*nav), "..NLIDE..R");

    auto doomed = std::make_unique<TDataSource>("Doomed");
    doomed->SetDataSet(ds.get());
    nav->SetDataSource(doomed.get());
    EXPECT_EQ(EnabledButtons(*nav), "..NLIDE..R");
    doomed.reset();
    EXPECT_EQ(nav->DataSource(), nullptr);
    EXPECT_EQ(EnabledButtons(*nav), "..........");
}

TEST_F(Navigator, AClickActsBetweenBeforeActionAndOnClick) {
    ds->Open();
    Click(nbNext);
    Click(nbLast);
    Click(nbFirst);
    EXPECT_EQ(log, (std::vector<std::string>{"before 2 at 1", "click 2 at 2", "before 3 at 2",
                                             "click 3 at 5", "before 0 at 5", "click 0 at 1"}));
    // A closed dataset: no action, yet OnClick.
    log.clear();
    ds->Close();
    nav->BtnClick(nbNext);
    EXPECT_EQ(log, std::vector<std::string>{"click 2 at -"});
}

TEST_F(Navigator, PriorBackToTheFirstRecordKeepsFirstAndPriorUntilOneMorePrior) {
    ds->Open();
    Click(nbNext);
    Click(nbPrior);
    EXPECT_EQ(Current(), "1");
    EXPECT_EQ(EnabledButtons(*nav).substr(0, 2), "FP");
    Click(nbPrior);
    EXPECT_EQ(Current(), "1");
    EXPECT_EQ(EnabledButtons(*nav).substr(0, 2), "..");
    EXPECT_EQ(log.size(), 6u);
}

TEST_F(Navigator, APressReleasedOutsideTheButtonDoesNothing) {
    ds->Open();
    TNavButton* next = nav->Button(nbNext);
    QTest::mousePress(next, Qt::LeftButton);
    EXPECT_TRUE(next->Down());
    QTest::mouseMove(next, QPoint(next->width() + 10, 5));
    EXPECT_FALSE(next->Down());
    QTest::mouseRelease(next, Qt::LeftButton, {}, QPoint(next->width() + 10, 5));
    EXPECT_FALSE(next->Down());
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(Current(), "1");
}

TEST_F(Navigator, DeleteAsksAndEveryAnswerIsFollowedByOnClick) {
    struct Case {
        const char* answer;
        std::function<void(QWidget*)> act;
        bool deleted;
    };
    const Case cases[] = {
        {"Cancel", [](QWidget* box) { PressButton(box, "キャンセル"); }, false},
        {"Escape", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
        {"closing", [](QWidget* box) { box->close(); }, false},
        {"Enter", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); }, true},
        {"OK", [](QWidget* box) { PressButton(box, "OK"); }, true},
    };
    ds->Open();
    int rows = 5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        log.clear();
        SeenBox box;
        AnswerNextBox(box, c.act);
        Click(nbDelete);
        ASSERT_TRUE(box->seen);
        EXPECT_EQ(box->caption, "確認");
        EXPECT_EQ(box->text, "レコードを削除しますか？");
        EXPECT_EQ(box->buttons, (QStringList{"OK", "キャンセル"}));
        EXPECT_EQ(box->defaultButton, "OK");
        rows -= c.deleted ? 1 : 0;
        EXPECT_EQ(ds->RecordCount(), rows);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].substr(0, 7), "click 5");
    }
    // Without confirmation the record goes at once.
    nav->ConfirmDelete = false;
    Click(nbDelete);
    EXPECT_EQ(ds->RecordCount(), rows - 1);
}

TEST_F(Navigator, ARefusedPostShowsTheErrorAndRaisesNoOnClick) {
    ds->Open();
    ds->Insert();
    SeenBox box;
    AnswerNextBox(box, test::PressEnter);
    Click(nbPost);
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->text, "項目 'KEYWORD_NO' の値が必要です.");
    EXPECT_EQ(log, std::vector<std::string>{"before 7 at new"});
    EXPECT_EQ(ds->State(), TDataSetState::dsInsert);
    EXPECT_EQ(EnabledButtons(*nav).substr(6), ".PCR");
}

TEST_F(Navigator, NextRepeatsWhileHeldAndTheReleaseIsOneMoreClick) {
    ds->Open();
    TNavButton* next = nav->Button(nbNext);
    QTest::mousePress(next, Qt::LeftButton);
    EXPECT_EQ(next->RepeatInterval(), TNavButton::kInitialRepeatDelay);
    EXPECT_TRUE(log.empty()) << "a press alone clicks nothing";
    FireRepeat(next);
    EXPECT_EQ(next->RepeatInterval(), TNavButton::kRepeatInterval);
    FireRepeat(next);
    EXPECT_EQ(Current(), "3");
    // Off the button the timer runs on without clicking; back on it clicks again.
    QTest::mouseMove(next, QPoint(-5, 5));
    FireRepeat(next);
    EXPECT_EQ(Current(), "3");
    QTest::mouseMove(next, QPoint(5, 5));
    FireRepeat(next);
    QTest::mouseRelease(next, Qt::LeftButton);
    EXPECT_EQ(Current(), "5");
    EXPECT_EQ(next->RepeatTimerId(), 0);
    int clicks = 0;
    for (const std::string& line : log)
        clicks += line.rfind("click 2", 0) == 0 ? 1 : 0;
    EXPECT_EQ(clicks, 4);

    // Other buttons do not repeat.
    QTest::mousePress(nav->Button(nbFirst), Qt::LeftButton);
    EXPECT_EQ(nav->Button(nbFirst)->RepeatTimerId(), 0);
    QTest::mouseRelease(nav->Button(nbFirst), Qt::LeftButton);
}

// A repeated click that outlasts the repeat interval (as an apply waiting on a locked row does)
// is not followed by the repeat that fell due meanwhile: the operator let go during it, so the
// release is the only click after it. Real timers and mouse events; the first repeat keeps the
// event loop busy for three intervals and the release comes in behind it.
TEST_F(Navigator, ARepeatOutlastingTheIntervalIsFollowedOnlyByTheRelease) {
    ds->Open();
    TNavButton* next = nav->Button(nbNext);
    int clicks = 0;
    bool released = false;
    nav->OnClick = [&](TDBNavigator*, TNavigateBtn) {
        if (++clicks != 1)
            return;
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < 3 * TNavButton::kRepeatInterval) {
        }
        QTimer::singleShot(1, next, [&] {
            QTest::mouseRelease(next, Qt::LeftButton);
            released = true;
        });
    };
    QTest::mousePress(next, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return released; }, 30000));
    EXPECT_EQ(next->RepeatTimerId(), 0);
    EXPECT_EQ(clicks, 2) << "one repeat and the release";
    EXPECT_EQ(Current(), "3");
}

TEST_F(Navigator, RepeatingStopsAtTheEndAndTheReleaseClicksNothingMore) {
    ds->Open();
    ds->Last();
    ds->Prior();
    ds->Next(); // on the last record, not at EOF
    TNavButton* next = nav->Button(nbNext);
    QTest::mousePress(next, Qt::LeftButton);
    FireRepeat(next);
    EXPECT_TRUE(ds->Eof());
    EXPECT_FALSE(next->isEnabled());
    EXPECT_EQ(next->RepeatTimerId(), 0);
    QTest::mouseRelease(next, Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"before 2 at 5", "click 2 at 5"}));
}

TEST_F(Navigator, AFailingRepeatStopsTheRepeating) {
    ds->Open();
    ds->Insert(); // Next has to post the new record, which lacks its key
    ds->Fields(1).SetValue(std::string("new"));
    TNavButton* next = nav->Button(nbNext);
    QTest::mousePress(next, Qt::LeftButton);
    SeenBox box;
    AnswerNextBox(box, test::PressEnter);
    FireRepeat(next);
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(next->RepeatTimerId(), 0);
    EXPECT_FALSE(next->Down());
    QTest::mouseRelease(next, Qt::LeftButton);
    EXPECT_EQ(log, std::vector<std::string>{"before 2 at new"});
}

TEST_F(Navigator, SizingFillsTheStripWithEqualButtons) {
    ds->Open();
    EXPECT_EQ(nav->width(), 234);
    EXPECT_EQ(nav->ButtonWidth(), 26);
    int x = 0;
    for (int i = 0; i < kNavButtonCount; ++i) {
        TNavButton* button = nav->Button(static_cast<TNavigateBtn>(i));
        if (i == nbInsert) {
            EXPECT_EQ(button->x(), 235);
            continue;
        }
        EXPECT_EQ(button->geometry(), QRect(x, 0, 26, 25)) << i;
        x += 26;
    }
    // Ten buttons: the width is rounded down to a multiple of ten.
    nav->SetVisibleButtons(TNavButtonSet::All());
    EXPECT_EQ(nav->width(), 230);
    EXPECT_EQ(nav->ButtonWidth(), 23);
    EXPECT_EQ(nav->Button(nbInsert)->geometry(), QRect(92, 0, 23, 25));
    // Too small: at least 20 by 18 per button.
    nav->resize(50, 5);
    EXPECT_EQ(nav->size(), QSize(200, 18));
    // Aligned: the width stays, the remainder goes one pixel each to some buttons.
    nav->SetVisibleButtons(kWindowButtons);
    nav->SetAlign(TAlign::alTop);
    nav->resize(236, 25);
    EXPECT_EQ(nav->width(), 236);
    std::vector<int> widths;
    for (int i = 0; i < kNavButtonCount; ++i)
        if (i != nbInsert)
            widths.push_back(nav->Button(static_cast<TNavigateBtn>(i))->width());
    EXPECT_EQ(widths, (std::vector<int>{26, 26, 27, 26, 26, 26, 27, 26, 26}));
    // The focus mark follows each button's own size: on a widened one too.
    EXPECT_EQ(Marked(), std::vector<int>{}) << "no focus, no mark";
    nav->SetTabStop(true);
    QApplication::setActiveWindow(&window);
    nav->setFocus();
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(nav, Qt::Key_Right);
    ASSERT_EQ(nav->FocusedButton(), nbNext);
    EXPECT_EQ(nav->Button(nbNext)->width(), 27);
    EXPECT_EQ(Marked(), std::vector<int>{nbNext});
}

TEST_F(Navigator, HintsAreTheDefaultsOrTheHintsLines) {
    EXPECT_TRUE(nav->Button(nbFirst)->toolTip().isEmpty()) << "the parent shows no hints";
    nav->SetShowHint(true);
    EXPECT_FALSE(nav->ParentShowHint());
    const char* defaults[] = {
        "最初のレコード", "前のレコード",   "次のレコード",   "最後のレコード", "レコードの挿入",
        "レコードの削除", "レコードの編集", "レコードの登録", "編集の取り消し", "データ更新"};
    for (int i = 0; i < kNavButtonCount; ++i)
        EXPECT_EQ(nav->Button(static_cast<TNavigateBtn>(i))->toolTip(), defaults[i]);
    nav->SetHints({"", "戻る", "", "", "挿入"});
    EXPECT_EQ(nav->Button(nbFirst)->toolTip(), "最初のレコード");
    EXPECT_EQ(nav->Button(nbPrior)->toolTip(), "戻る");
    EXPECT_EQ(nav->Button(nbInsert)->toolTip(), "挿入") << "hidden buttons count too";
    EXPECT_EQ(nav->Button(nbRefresh)->toolTip(), "データ更新");
}

TEST_F(Navigator, TheKeyboardMovesTheMarkOverVisibleButtonsOnlyWithTheFocus) {
    ds->Open();
    EXPECT_EQ(nav->focusPolicy(), Qt::NoFocus);
    QTest::mouseClick(nav->Button(nbNext), Qt::LeftButton);
    EXPECT_FALSE(nav->hasFocus()) << "without TabStop a click leaves the focus alone";
    log.clear();

    nav->SetTabStop(true);
    QApplication::setActiveWindow(&window);
    QTest::mouseClick(nav->Button(nbFirst), Qt::LeftButton);
    EXPECT_TRUE(nav->hasFocus());
    log.clear();
    QTest::keyClick(nav, Qt::Key_Left);
    EXPECT_EQ(nav->FocusedButton(), nbFirst);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(nav, Qt::Key_Right);
    EXPECT_EQ(nav->FocusedButton(), nbDelete) << "Insert is hidden";
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(nav, Qt::Key_Right);
    EXPECT_EQ(nav->FocusedButton(), nbRefresh);
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(nav, Qt::Key_Left);
    EXPECT_EQ(nav->FocusedButton(), nbNext);
    QTest::keyClick(nav, Qt::Key_Space);
    EXPECT_EQ(Current(), "2");
    QTest::keyClick(nav, Qt::Key_Left);
    QTest::keyClick(nav, Qt::Key_Left);
    EXPECT_EQ(nav->FocusedButton(), nbFirst);
    QTest::keyClick(nav, Qt::Key_Space);
    QTest::keyClick(nav, Qt::Key_Space); // First is disabled now: nothing
    EXPECT_EQ(log, (std::vector<std::string>{"before 2 at 1", "click 2 at 2", "before 0 at 2",
                                             "click 0 at 1"}));
    // The mark is painted on the focused button only, and only while the navigator has the
    // focus: a disabled button keeps it too.
    EXPECT_EQ(Marked(), std::vector<int>{nbFirst});
    QTest::keyClick(nav, Qt::Key_Right);
    EXPECT_EQ(Marked(), std::vector<int>{nbPrior});
    nav->clearFocus();
    EXPECT_EQ(Marked(), std::vector<int>{});
}

TEST(NavigatorGlyphs, EachHasItsSizeATransparentBackgroundAndAnEmbossedDisabledImage) {
    for (int i = 0; i < kNavButtonCount; ++i) {
        SCOPED_TRACE(i);
        QImage normal = NavigatorGlyph(i, false).toImage();
        QImage disabled = NavigatorGlyph(i, true).toImage();
        int width = (i == nbPrior || i == nbNext) ? 10 : 14;
        EXPECT_EQ(normal.size(), QSize(width, 13));
        EXPECT_EQ(disabled.size(), QSize(width, 13));
        EXPECT_EQ(normal.pixelColor(0, 12).alpha(), 0);
        int black = 0, grey = 0, white = 0;
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < width; ++x) {
                black += normal.pixelColor(x, y) == QColor(Qt::black);
                grey += disabled.pixelColor(x, y) == QColor(128, 128, 128);
                white += disabled.pixelColor(x, y) == QColor(Qt::white);
            }
        EXPECT_GT(black, 8);
        EXPECT_EQ(grey, black);
        EXPECT_GT(white, 0);
    }
}
