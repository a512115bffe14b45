// The data grid on real embedded tables, as real widgets on the offscreen platform.

#include "DBGrid.h"
#include "DataSource.h"
#include "Glyphs.h"
#include "GridFixture.h"
#include "MainUnit.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace sorvanto;
using namespace sorvanto::test;

namespace {

TEST_F(GridTest, LayoutFollowsTheDatasetOpenAndClosed) {
    Show("K100", {"KEYWORD_NO", "KEY_WORD", "TS", "MISSING"});
    const QFontMetrics metrics(grid->font());
    const int zero = metrics.horizontalAdvance(QLatin1Char('0'));
    const int titleWidth = metrics.horizontalAdvance(QStringLiteral("KEYWORD_NO")) + 4;
    EXPECT_EQ(grid->ColCount(), 5);
    EXPECT_EQ(grid->ColWidth(0), 11);
    EXPECT_EQ(grid->ColWidth(1), std::max(zero * 10 + 4, titleWidth)); // integer: 10 characters
    EXPECT_EQ(grid->ColWidth(2), zero * 100 + 4);                      // VARCHAR(100)
    EXPECT_EQ(grid->ColWidth(3), zero * 34 + 4);                       // timestamp
    EXPECT_EQ(grid->ColWidth(4), 64);                                  // no such field
    EXPECT_EQ(grid->Columns()[3].Title().Caption(), "MISSING");
    EXPECT_EQ(grid->Columns()[0].Alignment(), TAlignment::taRightJustify);
    EXPECT_EQ(grid->Columns()[1].Alignment(), TAlignment::taLeftJustify);
    EXPECT_TRUE(grid->TabStop(1));
    EXPECT_FALSE(grid->TabStop(4)); // a column without a field is never edited
    EXPECT_EQ(grid->CellText(4, 1), "");
    EXPECT_EQ(grid->IndicatorImage(1), DBGARROW);

    // An assigned width stays; the others follow the dataset.
    grid->Columns()[1].SetWidth(30);
    dataSet->Close();
    EXPECT_EQ(grid->RowCount(), 2); // titles over one blank row
    EXPECT_EQ(grid->ColWidth(1), 64);
    EXPECT_EQ(grid->ColWidth(2), 30);
    EXPECT_EQ(grid->ColWidth(3), 64);
    EXPECT_EQ(grid->Columns()[0].Title().Caption(), "KEYWORD_NO");
    EXPECT_EQ(grid->IndicatorImage(1), -1);
    EXPECT_FALSE(grid->TabStop(1));
    EXPECT_FALSE(grid->verticalScrollBar()->isVisible());
    EXPECT_EQ(grid->Columns().Count(), 4); // the stored columns never change
}

TEST_F(GridTest, WithoutStoredColumnsTheGridFollowsTheFields) {
    Show("K2", {});
    ASSERT_EQ(grid->Columns().State(), TDBGridColumnsState::csDefault);
    QStringList titles;
    for (int i = 0; i < grid->Columns().Count(); ++i)
        titles << grid->Columns()[i].Title().Caption();
    EXPECT_EQ(titles, QStringList({"KEYWORD_NO", "ID", "KEY_WORD", "USER_NAME", "TS"}));
    // Each painted data cell is reported with its field; both rows of the columns in view.
    int drawn = 0;
    QSet<QString> fields;
    grid->OnDrawDataCell = [&](TDBGrid&, QPainter&, const QRect&, TField* field, TGridDrawState) {
        ++drawn;
        fields << QString::fromStdString(field->FieldName());
    };
    grid->viewport()->repaint();
    EXPECT_TRUE(fields.contains("KEYWORD_NO") && fields.contains("ID"));
    EXPECT_EQ(drawn, 2 * fields.size());
    dataSet->Close();
    EXPECT_EQ(grid->Columns().Count(), 0);
}

TEST_F(GridTest, RowsAndBufferFollowTheRecordsThatFit) {
    struct Case {
        const char* table;
        int dataRows;
        int buffered;
        bool scrollBar;
    };
    for (const Case& c : {Case{"K0", 1, 0, false}, Case{"K1", 1, 1, false}, Case{"K2", 2, 2, true},
                          Case{"K100", 5, 5, true}}) {
        SCOPED_TRACE(c.table);
        Show(c.table, {"KEYWORD_NO", "ID"});
        ASSERT_EQ(grid->VisibleDataRowCount(), 5);
        EXPECT_EQ(grid->RowCount() - 1, c.dataRows);
        EXPECT_EQ(dataSet->WindowRecordCount(), c.buffered);
        QScrollBar* bar = grid->verticalScrollBar();
        EXPECT_EQ(bar->isVisible(), c.scrollBar);
        if (c.scrollBar) {
            // The range 1 .. records + visible rows - 1, as page and highest position.
            EXPECT_EQ(bar->minimum(), 1);
            EXPECT_EQ(bar->maximum() + bar->pageStep() - 1,
                      dataSet->RecordCount() + grid->VisibleDataRowCount() - 1);
            EXPECT_EQ(bar->value(), 1);
        }
        // An empty table shows the arrow on its one blank row.
        EXPECT_EQ(grid->IndicatorImage(1), DBGARROW);
        TearDown();
    }
}

TEST_F(GridTest, CellsShowTheDisplayTexts) {
    Show("SHOW", {"N", "TS", "NOTE", "NONE"});
    // Midnight shows the date alone; a null memo its kind, a memo with a value in capitals.
    EXPECT_EQ(grid->CellText(1, 1), "1");
    EXPECT_EQ(grid->CellText(2, 1), "2024/03/05");
    EXPECT_EQ(grid->CellText(3, 1), "(Memo)");
    EXPECT_EQ(grid->CellText(4, 1), "");
    EXPECT_EQ(grid->CellText(1, 2), "-2");
    EXPECT_EQ(grid->CellText(2, 2), "2024/03/05 0:00:01");
    EXPECT_EQ(grid->CellText(3, 2), "(MEMO)");
    EXPECT_EQ(grid->Columns()[3].Title().Caption(), "NONE");

    // The user's formats come from the locale, with four-digit years and seconds.
    TFormatSettings us = FormatSettingsFor(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.ShortDateFormat.contains("yyyy"));
    EXPECT_TRUE(us.LongTimeFormat.contains("ss"));
    EXPECT_FALSE(us.LongTimeFormat.contains('t'));
}

TEST_F(GridTest, IndicatorShowsTheDatasetState) {
    Show("K100", {"KEYWORD_NO", "ID"});
    dataSet->MoveBy(2);
    EXPECT_EQ(grid->Row(), 3);
    EXPECT_EQ(grid->IndicatorImage(3), DBGARROW);
    EXPECT_EQ(grid->IndicatorImage(1), -1);
    dataSet->Edit();
    EXPECT_EQ(grid->IndicatorImage(3), DBEDIT);
    dataSet->Cancel();
    dataSet->Insert();
    EXPECT_EQ(grid->IndicatorImage(3), DBINSERT);
    EXPECT_EQ(grid->CellText(1, 3), "");
    EXPECT_EQ(grid->CellText(1, 4), "3"); // the record it stands before
    dataSet->Cancel();
    EXPECT_EQ(grid->IndicatorImage(3), DBGARROW);

    // The images are the bit pictures, 6 by 11, black on transparent.
    const QImage& arrow = sorvanto::IndicatorImage(DBGARROW);
    EXPECT_EQ(arrow.size(), QSize(6, 11));
    EXPECT_EQ(arrow.pixelColor(0, 5), QColor(Qt::black));
    EXPECT_EQ(arrow.pixelColor(5, 0).alpha(), 0);
}

TEST_F(GridTest, ClickingTheCurrentCellOpensTheEditorAnotherCellOnlyMoves) {
    Show("K100", {"KEYWORD_NO", "ID", "KEY_WORD"});
    int entered = 0, exited = 0, cellClicks = 0;
    grid->OnColEnter = [&](TComponent*) { ++entered; };
    grid->OnColExit = [&](TComponent*) { ++exited; };
    grid->OnCellClick = [&](TColumn&) { ++cellClicks; };

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(2, 3));
    EXPECT_EQ(dataSet->RecNo(), 3);
    EXPECT_EQ(grid->Col(), 2);
    EXPECT_EQ(grid->SelectedIndex(), 1);
    EXPECT_EQ(grid->SelectedField(), dataSet->FindField("ID"));
    EXPECT_FALSE(grid->EditorMode());
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(exited, 1);
    EXPECT_EQ(cellClicks, 1);

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(2, 3));
    ASSERT_TRUE(grid->EditorMode());
    QLineEdit* editor = grid->InplaceEditor();
    EXPECT_EQ(editor->text(), "-3");
    EXPECT_EQ(editor->selectedText(), "-3");
    EXPECT_EQ(editor->geometry(), grid->CellRect(2, 3));
    EXPECT_EQ(dataSet->State(), TDataSetState::dsBrowse);

    // A click in the indicator column moves the row, keeping the column; the editor closes.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(0, 1));
    EXPECT_EQ(dataSet->RecNo(), 1);
    EXPECT_EQ(grid->Col(), 2);
    EXPECT_FALSE(grid->EditorMode());
}

TEST_F(GridTest, TitleClickIsReportedForItsColumn) {
    Show("K100", {"KEYWORD_NO", "ID"});
    QString clicked;
    grid->OnTitleClick = [&](TColumn& column) { clicked = column.FieldName(); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(2, 0));
    EXPECT_EQ(clicked, "ID");
    EXPECT_EQ(dataSet->RecNo(), 1);
}

TEST_F(GridTest, ScrollBarMovesTheDatasetTheThumbOnlyOnRelease) {
    Show("K100", {"KEYWORD_NO", "ID"});
    QScrollBar* bar = grid->verticalScrollBar();
    bar->setSliderDown(true);
    bar->setSliderPosition(50);
    EXPECT_EQ(dataSet->RecNo(), 1);
    bar->setSliderDown(false);
    EXPECT_EQ(dataSet->RecNo(), 50);
    EXPECT_EQ(bar->value(), 50);

    struct Case {
        QAbstractSlider::SliderAction action;
        int from;
        int to;
    };
    // Line steps go to the record just beyond the visible rows; page steps by the visible rows.
    for (const Case& c : {Case{QAbstractSlider::SliderSingleStepAdd, 1, 6},
                          Case{QAbstractSlider::SliderSingleStepSub, 1, 1},
                          Case{QAbstractSlider::SliderPageStepAdd, 1, 6},
                          Case{QAbstractSlider::SliderPageStepSub, 100, 95},
                          Case{QAbstractSlider::SliderToMaximum, 1, 100},
                          Case{QAbstractSlider::SliderToMinimum, 100, 1}}) {
        SCOPED_TRACE(c.action);
        if (c.from == 1)
            dataSet->First();
        else
            dataSet->Last();
        bar->triggerAction(c.action);
        EXPECT_EQ(dataSet->RecNo(), c.to);
        EXPECT_EQ(bar->value(), c.to);
    }
}

TEST_F(GridTest, WheelMovesOneRecordPerNotch) {
    Show("K100", {"KEYWORD_NO"});
    auto wheel = [&](int delta) {
        QPoint at = CellCentre(1, 2);
        QWheelEvent event(at, grid->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid->viewport(), &event);
    };
    wheel(-240);
    EXPECT_EQ(dataSet->RecNo(), 3);
    wheel(120);
    EXPECT_EQ(dataSet->RecNo(), 2);
}

// Collects the regions the viewport paints.
class PaintRecorder : public QObject {
public:
    QRegion painted;
    std::int64_t Area() const {
        std::int64_t area = 0;
        for (const QRect& rect : painted)
            area += std::int64_t(rect.width()) * rect.height();
        return area;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

TEST_F(GridTest, ScrollingOneRowPaintsOnlyTheUncoveredRowAndTheChangedCells) {
    Show("K100", {"KEYWORD_NO", "ID", "KEY_WORD"});
    dataSet->MoveBy(4); // the bottom row
    QApplication::processEvents();
    PaintRecorder recorder;
    grid->viewport()->installEventFilter(&recorder);
    dataSet->Next();
    QApplication::processEvents();
    grid->viewport()->removeEventFilter(&recorder);

    const int top = grid->RowHeight(0) + 1;
    const int pitch = grid->RowHeight(1) + 1;
    const QRect bottomRow(0, top + 4 * pitch, grid->viewport()->width(), pitch);
    const QRect dataArea(0, top, grid->viewport()->width(), 5 * pitch);
    EXPECT_TRUE(recorder.painted.contains(bottomRow));
    EXPECT_FALSE(recorder.painted.intersects(grid->CellRect(3, 1))); // moved, not painted
    EXPECT_LE(double(recorder.Area()) / (dataArea.width() * dataArea.height()), 0.35);

    // What the screen shows is what a full repaint shows.
    QImage shown = window->screen()->grabWindow(window->winId()).toImage();
    QImage fresh = window->grab().toImage();
    QRect area(grid->viewport()->mapTo(window.get(), QPoint(0, 0)), grid->viewport()->size());
    EXPECT_EQ(shown.copy(area).convertToFormat(QImage::Format_RGB32),
              fresh.copy(area).convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(grid->CellText(1, 5), "6");
}

TEST(MainFormGrids, BothGridsStandAtTheirPlacesWithTheirColumns) {
    TempDir drives;
    ScopedEnv env("SORVANTO_DRIVES", drives.Path().c_str());
    std::filesystem::create_directories(drives.File("c/firebird"));
    CreateDatabase(drives.File("c/firebird/document.fdb"),
                   {"create table MEMO (INPUTNO INTEGER NOT NULL PRIMARY KEY)"});
    TMainForm form;
    auto place = [&](int left, int top, int width, int height) {
        auto s = [&](int v) { return static_cast<int>(std::lround(v * form.LayoutScale())); };
        return QRect(s(left), s(top), s(width), s(height));
    };
    ASSERT_NE(form.DBGrid1, nullptr);
    EXPECT_EQ(form.DBGrid1->geometry(), place(48, 58, 417, 110));
    EXPECT_EQ(form.DBGrid2->geometry(), place(48, 224, 417, 105));
    EXPECT_EQ(form.DBGrid1->DataSource(), form.DataSource1.get());
    EXPECT_EQ(form.DBGrid2->DataSource(), form.DataSource2.get());
    auto names = [](const TDBGrid& grid) {
        QStringList list;
        for (int i = 0; i < grid.Columns().Count(); ++i)
            list << grid.Columns()[i].FieldName();
        return list;
    };
    EXPECT_EQ(names(*form.DBGrid1),
              QStringList({"KEYWORD_NO", "ID", "KEY_WORD", "USER_NAME", "TS"}));
    EXPECT_EQ(names(*form.DBGrid2), QStringList({"INPUTNO", "TITLE", "USER_NAME", "TS"}));
    EXPECT_EQ(form.DBGrid1->RowCount(), 2);
    // 17 pixels at the layout's base size, scaled with the window.
    EXPECT_EQ(form.DBGrid1->RowHeight(0), std::lround(17 * form.LayoutScale()));
    EXPECT_EQ(form.DBGrid2->RowHeight(1), std::lround(17 * form.LayoutScale()));
    // Tab order: the grids first.
    QStringList order;
    for (QWidget* w = form.nextInFocusChain(); w != &form; w = w->nextInFocusChain())
        if (w->parentWidget() == &form && (w->focusPolicy() & Qt::TabFocus))
            order << w->objectName();
    EXPECT_EQ(order.mid(0, 3), QStringList({"DBGrid1", "DBGrid2", "Button1"}));
}

} // namespace
