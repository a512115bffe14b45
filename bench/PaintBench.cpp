#include "PaintBench.h"

#include "BenchSupport.h"
#include "KeywordTable.h"

#include <Application.h>
#include <MainUnit.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sorvanto::bench {

namespace {

// Notes when the window paints itself.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget& window) : window_(window) {
        clock_.start();
        window.installEventFilter(this);
    }
    std::vector<qint64> times;
    qint64 Now() const { return clock_.nsecsElapsed(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint)
            times.push_back(Now());
        return false;
    }

private:
    QWidget& window_;
    QElapsedTimer clock_;
};

} // namespace

int RunPaintBench(const std::vector<std::string>& args) {
    TableOptions options;
    if (!ParseTableOptions(args, options))
        return 2;
    PrepareKeywordTable(options.database, options.rows);

    // The window's drives: the profile and the stored database lead to the benchmark's table.
    namespace fs = std::filesystem;
    fs::path drives = fs::temp_directory_path() / ("sorvanto-paint-" + std::to_string(::getpid()));
    fs::create_directories(drives / "c/DOCUMENT");
    fs::create_directories(drives / "c/firebird");
    fs::create_symlink(fs::absolute(options.database), drives / "c/firebird/document.fdb");
    std::ofstream(drives / "c/DOCUMENT/Connection.ini", std::ios::binary)
        << "[FBDOCUMENTCONNECTION]\r\nDriverName=Firebird\r\nDatabase=c:\\firebird\\"
           "document.fdb\r\nUser_Name=sysdba\r\nPassword=masterkey\r\n";
    qputenv("SORVANTO_DRIVES", QByteArray::fromStdString(drives.string()));

    double gapMs = 0;
    double openSeconds = 0;
    int rows = 0;
    {
        OffscreenArguments arguments;
        TApplication application(arguments.argc, arguments.argv);
        TMainForm form;
        form.show();
        form.DatabaseNameEdit->setText(QStringLiteral("c:\\firebird\\document.fdb"));
        QCoreApplication::processEvents();

        // Something asks the window to repaint every few milliseconds throughout.
        QTimer asking;
        QObject::connect(&asking, &QTimer::timeout, &form, [&form] { form.update(); });
        asking.start(5);
        PaintClock paints(form);
        qint64 start = paints.Now();
        form.ShowKeywordButtonClick(nullptr);
        qint64 end = paints.Now();
        asking.stop();

        std::vector<qint64> marks{start};
        for (qint64 t : paints.times)
            if (t > start && t < end)
                marks.push_back(t);
        marks.push_back(end);
        qint64 longest = 0;
        for (std::size_t i = 1; i < marks.size(); ++i)
            longest = std::max(longest, marks[i] - marks[i - 1]);
        gapMs = static_cast<double>(longest) / 1e6;
        openSeconds = static_cast<double>(end - start) / 1e9;
        rows = form.SimpleDataSet1->RecordCount();
        std::fprintf(stderr, "opened %d rows in %.3f s with %zu paints of the window\n", rows,
                     openSeconds, marks.size() - 2);
    }
    fs::remove_all(drives);
    if (rows != options.rows)
        throw std::runtime_error("the view holds " + std::to_string(rows) + " rows");
    PrintResult("rows", static_cast<std::int64_t>(rows));
    PrintResult("open_seconds", openSeconds);
    PrintResult("open_paint_gap_ms", gapMs);
    return 0;
}

} // namespace sorvanto::bench
