#pragma once

// A grid on real embedded tables, shown in a window of its own beside a line edit that can take
// the focus and a button that cannot (as a navigator's buttons cannot).

#include "DBGrid.h"
#include "DataSource.h"
#include "Messages.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace sorvanto::test {

constexpr const char* kKeywordColumns =
    "(KEYWORD_NO INTEGER NOT NULL PRIMARY KEY, ID INTEGER, KEY_WORD VARCHAR(100), "
    "USER_NAME VARCHAR(31), TS TIMESTAMP)";

// A statement that fills a keyword table with rows numbered 1 to n.
inline std::string FillKeywords(const std::string& table, int n) {
    return "execute block as declare i integer = 1; begin while (i <= " + std::to_string(n) +
           ") do begin insert into " + table +
           " values (:i, -:i, 'word ' || :i, 'user', timestamp '2024-03-05 10:20:30'); "
           "i = i + 1; end end";
}

// One database for each suite: keyword tables of 0, 1, 2 and 100 rows and a table of the
// display cases.
class GridTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        CreateDatabase(Database(),
                       {std::string("create table K0 ") + kKeywordColumns,
                        std::string("create table K1 ") + kKeywordColumns,
                        std::string("create table K2 ") + kKeywordColumns,
                        std::string("create table K100 ") + kKeywordColumns, FillKeywords("K1", 1),
                        FillKeywords("K2", 2), FillKeywords("K100", 100),
                        "create table SHOW (N INTEGER NOT NULL PRIMARY KEY, TS TIMESTAMP, "
                        "NOTE BLOB SUB_TYPE TEXT)",
                        "insert into SHOW values (1, timestamp '2024-03-05 00:00:00', null)",
                        "insert into SHOW values (-2, timestamp '2024-03-05 00:00:01', 'x')"});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Database() { return dir_->File("grid.fdb"); }

    void SetUp() override { FormatSettings() = FormatSettingsFor(QLocale::c()); }

    // Opens a table and shows it in a grid with the given columns that fits `rows` data rows.
    void Show(const std::string& table, std::initializer_list<const char*> columns, int rows = 5) {
        dataSet = OpenTable(Database(), table);
        source = std::make_unique<TDataSource>("DataSource1");
        source->SetDataSet(dataSet.get());
        window = std::make_unique<QWidget>();
        window->resize(700, 400);
        grid = new TDBGrid(window.get());
        grid->setObjectName(QStringLiteral("DBGrid1"));
        grid->Columns().AddFields(columns);
        grid->SetDataSource(source.get());
        grid->setGeometry(0, 0, 600, 200);
        other = new QLineEdit(window.get());
        other->setGeometry(0, 360, 200, 25);
        button = new QPushButton(QStringLiteral("Post"), window.get());
        button->setFocusPolicy(Qt::NoFocus);
        button->setGeometry(300, 360, 75, 25);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        grid->setFocus();
        FitRows(rows);
    }

    // Sizes the grid so that `rows` whole data rows fit, with half a row to spare.
    void FitRows(int rows) {
        for (int i = 0; i < 3; ++i) {
            int pitch = grid->RowHeight(1) + 1;
            int wanted = grid->RowHeight(0) + 1 + rows * pitch + pitch / 2;
            grid->resize(grid->width(), grid->height() + wanted - grid->viewport()->height());
        }
    }

    QPoint CellCentre(int col, int row) const { return grid->CellRect(col, row).center(); }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(FocusWidget(), key, mods);
    }
    void Type(const QString& text) { QTest::keyClicks(FocusWidget(), text); }
    // The widget with the focus; after a modal box the window is made active again first.
    QWidget* FocusWidget() {
        if (!QApplication::focusWidget()) {
            window->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        }
        return QApplication::focusWidget();
    }
    // The field's current value as the grid's edit text.
    QString FieldText(const char* name) const {
        TField& field = dataSet->FieldByName(name);
        return EditText(field, field.Value());
    }

    void TearDown() override {
        window.reset();
        source.reset();
        dataSet.reset();
    }

    std::unique_ptr<QWidget> window;
    TDBGrid* grid = nullptr;
    QLineEdit* other = nullptr;
    QPushButton* button = nullptr;
    std::unique_ptr<TSimpleDataSet> dataSet;
    std::unique_ptr<TDataSource> source;

private:
    static inline TempDir* dir_ = nullptr;
};

// Runs act, which is to open a modal box (at once or from the event loop), and answers the box
// with answer; returns the box's caption and text ("" when none opened).
struct SeenBox {
    QString caption;
    QString text;
};
inline SeenBox AnswerModal(const std::function<void()>& act,
                           const std::function<void(QWidget* box)>& answer) {
    SeenBox seen;
    bool done = false;
    bool answered = false;
    std::function<void()> poll = [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) {
            if (!done)
                QTimer::singleShot(10, poll);
            return;
        }
        answered = true;
        seen.caption = box->windowTitle();
        if (auto* message = qobject_cast<QMessageBox*>(box))
            seen.text = message->text();
        else if (auto* dialog = dynamic_cast<TMessageDialog*>(box))
            seen.text = dialog->Text();
        answer(box);
    };
    QTimer::singleShot(0, poll);
    act();
    // A box that the action only posts comes a little later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 5000)) << "no box opened";
    done = true;
    return seen;
}

// Closes an error box with its OK button.
inline void PressOk(QWidget* box) {
    QTest::keyClick(box, Qt::Key_Return);
}

} // namespace sorvanto::test
