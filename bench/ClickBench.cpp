#include "ClickBench.h"

#include "ApplyBench.h"
#include "BenchSupport.h"
#include "KeywordTable.h"
#include "OpenBench.h"

#include <DBNavigator.h>
#include <DataSource.h>
#include <SimpleDataSet.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace sorvanto::bench {

namespace {

constexpr int kIdleClicks = 500;
constexpr int kChangeClicks = 40; // also the plain updates: an even count keeps the row as it was

// A left click as the mouse makes it: press and release in the middle of the button.
void ClickButton(QWidget* button) {
    QPointF centre(button->width() / 2.0, button->height() / 2.0);
    QPointF global = button->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(button, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(button, &release);
}

} // namespace

int RunClickBench(const std::vector<std::string>& args) {
    TableOptions options;
    if (!ParseTableOptions(args, options))
        return 2;
    if (options.rows < kIdleClicks + kChangeClicks + 2) {
        std::fprintf(stderr, "--rows must be at least %d for the clicks to move forward\n",
                     kIdleClicks + kChangeClicks + 2);
        return 2;
    }
    PrepareKeywordTable(options.database, options.rows);

    OffscreenArguments arguments;
    QApplication application(arguments.argc, arguments.argv);

    // The keywords view as the window has it: dataset, data source, navigator, apply on click.
    TSimpleDataSet ds("SimpleDataSet1");
    SetUpKeywordDataSet(ds, options.database);
    TDataSource source("DataSource1");
    source.SetDataSet(&ds);
    QWidget window;
    auto* navigator = new TDBNavigator(&window, "DBNavigator1");
    navigator->setGeometry(48, 174, 234, 25);
    navigator->SetVisibleButtons(
        {nbFirst, nbPrior, nbNext, nbLast, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh});
    navigator->SetDataSource(&source);
    navigator->OnClick = [&ds](TDBNavigator*, TNavigateBtn) { ds.ApplyUpdates(-1); };
    window.show();
    Stopwatch opening;
    ds.Open();
    std::fprintf(stderr, "opened %d rows in %.2f s\n", ds.RecordCount(), opening.Seconds());
    QWidget* next = navigator->Button(nbNext);

    std::vector<double> idle;
    for (int i = 0; i < kIdleClicks; ++i) {
        Stopwatch watch;
        ClickButton(next);
        idle.push_back(watch.Seconds());
    }

    // Change clicks and plain updates alternate, so that both see the same commit latency,
    // which drifts over a run.
    TField& keyword = ds.FieldByName("KEY_WORD");
    std::vector<double> change;
    auto changeClick = [&] {
        ds.Edit();
        TValue old = keyword.Value();
        const auto* text = std::get_if<std::string>(&old);
        keyword.SetValue(std::string(text ? *text : std::string()) + "*");
        Stopwatch watch;
        ClickButton(next);
        change.push_back(watch.Seconds());
        if (ds.ChangeCount() != 0 || ds.State() != TDataSetState::dsBrowse)
            throw std::runtime_error("the click left " + std::to_string(ds.ChangeCount()) +
                                     " changes pending");
    };
    std::vector<double> plain =
        PlainSingleRowUpdates(options.database, options.rows, kChangeClicks, changeClick);
    // Put the changed rows back as they were, through the same apply.
    ds.First();
    ds.MoveBy(kIdleClicks);
    for (int i = 0; i < kChangeClicks; ++i) {
        ds.Edit();
        std::string text = std::get<std::string>(keyword.Value());
        keyword.SetValue(text.substr(0, text.size() - 1));
        ds.Next();
    }
    // Only rows that really hold the clicked changes take these back.
    if (ds.ApplyUpdates(-1) != 0 || ds.ChangeCount() != 0)
        throw std::runtime_error("the changed rows did not hold what the clicks sent");
    ds.Close();

    double idleMs = Median(idle) * 1000;
    double changeMs = Median(change) * 1000;
    double plainMs = Median(plain) * 1000;
    std::fprintf(stderr,
                 "idle clicks: %d, best %.3f ms; change clicks: %d, best %.3f ms; plain "
                 "updates: %d, best %.3f ms (medians below)\n",
                 kIdleClicks, *std::min_element(idle.begin(), idle.end()) * 1000, kChangeClicks,
                 *std::min_element(change.begin(), change.end()) * 1000, kChangeClicks,
                 *std::min_element(plain.begin(), plain.end()) * 1000);
    PrintResult("rows", options.rows);
    PrintResult("idle_click_ms", idleMs);
    PrintResult("change_click_ms", changeMs);
    PrintResult("plain_update_ms", plainMs);
    PrintResult("click_ratio", changeMs / plainMs);
    return 0;
}

} // namespace sorvanto::bench
