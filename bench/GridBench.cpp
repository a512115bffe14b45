#include "GridBench.h"

#include "BenchSupport.h"
#include "KeywordTable.h"
#include "OpenBench.h"

#include <DBGrid.h>
#include <DataSource.h>
#include <GridFindBar.h>
#include <SimpleDataSet.h>

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace sorvanto::bench {

namespace {

constexpr std::int64_t kSmallRows = 1000;
constexpr int kPaintRounds = 200;
constexpr int kSteps = 200;
constexpr int kJumps = 50;
constexpr int kFinds = 5;

// The painted area of the viewport, summed over its paint events.
class PaintMeter : public QObject {
public:
    std::int64_t area = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region())
                area += std::int64_t(rect.width()) * rect.height();
        return false;
    }
};

struct GridFigures {
    double paintMs = 0;
    double stepMs = 0;
    double jumpMs = 0;
    double stepPaintedFraction = 0;
    double findMs = 0;
};

// The first grid of the window: its font, its stored size scaled as the window scales it, its
// stored columns.
GridFigures MeasureGrid(const std::string& database) {
    TSimpleDataSet dataSet("SimpleDataSet1");
    SetUpKeywordDataSet(dataSet, database);
    dataSet.Open();
    TDataSource source("DataSource1");
    source.SetDataSet(&dataSet);

    TDBGrid grid;
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(static_cast<int>(std::lround(11.0 * grid.logicalDpiY() / 96.0)));
    grid.setFont(font);
    grid.SetTitleFont(font);
    const double scale = QFontMetrics(font).height() / 13.0;
    grid.resize(static_cast<int>(std::lround(417 * scale)),
                static_cast<int>(std::lround(110 * scale)));
    grid.Columns().AddFields({"KEYWORD_NO", "ID", "KEY_WORD", "USER_NAME", "TS"});
    grid.SetDataSource(&source);
    grid.show();
    grid.activateWindow();
    grid.setFocus();
    QApplication::processEvents();

    GridFigures figures;
    std::vector<double> times;
    for (int i = 0; i < kPaintRounds; ++i) {
        Stopwatch watch;
        grid.viewport()->repaint();
        times.push_back(watch.Seconds() * 1000);
    }
    figures.paintMs = Median(times);

    // Steps down from the bottom row, from the middle of the table on.
    dataSet.SetRecNo(dataSet.RecordCount() / 2);
    dataSet.MoveBy(source.DataSet()->BufferCount() - 1 - dataSet.ActiveRecord());
    QApplication::processEvents();
    PaintMeter meter;
    grid.viewport()->installEventFilter(&meter);
    times.clear();
    for (int i = 0; i < kSteps; ++i) {
        Stopwatch watch;
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(&grid, &down);
        QApplication::processEvents();
        times.push_back(watch.Seconds() * 1000);
    }
    grid.viewport()->removeEventFilter(&meter);
    figures.stepMs = Median(times);
    const int dataTop = grid.RowHeight(0) + 1;
    const double dataArea =
        double(grid.viewport()->width()) * (grid.viewport()->height() - dataTop);
    figures.stepPaintedFraction = double(meter.area) / kSteps / dataArea;

    // The thumb released in the middle, alternating between two places there.
    QScrollBar* bar = grid.verticalScrollBar();
    times.clear();
    for (int i = 0; i < kJumps; ++i) {
        int target = dataSet.RecordCount() / 2 + (i % 2) * 1000;
        bar->setSliderDown(true);
        bar->setSliderPosition(target);
        Stopwatch watch;
        bar->setSliderDown(false);
        QApplication::processEvents();
        times.push_back(watch.Seconds() * 1000);
    }
    figures.jumpMs = Median(times);

    // A text no KEY_WORD holds, found for from the first record: Enter in the find bar reads
    // every row and moves nothing.
    TGridFindBar findBar(grid, nullptr);
    dataSet.First();
    grid.SetSelectedIndex(2);
    findBar.Edit()->setText(QStringLiteral("No Such Keyword"));
    times.clear();
    for (int i = 0; i < kFinds; ++i) {
        Stopwatch watch;
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(findBar.Edit(), &enter);
        times.push_back(watch.Seconds() * 1000);
    }
    if (dataSet.RecNo() != 1 || findBar.Message()->text().isEmpty())
        std::fprintf(stderr, "the find did not miss\n");
    figures.findMs = Median(times);
    return figures;
}

} // namespace

int RunGridBench(const std::vector<std::string>& args) {
    TableOptions options;
    if (!ParseTableOptions(args, options))
        return 2;
    std::filesystem::path large(options.database);
    std::string small =
        (large.parent_path() / (large.stem().string() + "-1k" + large.extension().string()))
            .string();
    PrepareKeywordTable(small, kSmallRows);
    PrepareKeywordTable(options.database, options.rows);

    OffscreenArguments arguments;
    QApplication app(arguments.argc, arguments.argv);

    GridFigures few = MeasureGrid(small);
    GridFigures many = MeasureGrid(options.database);
    PrintResult("rows_1k", kSmallRows);
    PrintResult("rows_1m", options.rows);
    PrintResult("paint_ms_1k", few.paintMs);
    PrintResult("paint_ms_1m", many.paintMs);
    PrintResult("step_ms_1k", few.stepMs);
    PrintResult("step_ms_1m", many.stepMs);
    PrintResult("jump_ms_1m", many.jumpMs);
    PrintResult("find_ms_1k", few.findMs);
    PrintResult("find_ms_1m", many.findMs);
    PrintResult("paint_ratio", many.paintMs / few.paintMs);
    PrintResult("step_ratio", many.stepMs / few.stepMs);
    PrintResult("step_painted_fraction", many.stepPaintedFraction);
    return 0;
}

} // namespace sorvanto::bench
