#pragma once

#include "Connection.h"
#include "DBGrid.h"
#include "DBNavigator.h"
#include "DataSource.h"
#include "GridFindBar.h"
#include "SimpleDataSet.h"
#include "ViewStatus.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace sorvanto {

// The main window: the logon button, the database path, the two table views and the exit
// button, with the components behind them.
class TMainForm : public QWidget {
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Controls, in the order the layout creates them.
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    TDBGrid* DBGrid1 = nullptr;
    TDBGrid* DBGrid2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* LogonButton = nullptr;
    QLineEdit* DatabaseNameEdit = nullptr;
    QPushButton* ShowKeywordButton = nullptr;
    QPushButton* MemoButton = nullptr;
    TDBNavigator* DBNavigator1 = nullptr;
    TDBNavigator* DBNavigator2 = nullptr;
    // Beside each navigator: the view's position and what it has not sent yet.
    TViewStatus* ViewStatus1 = nullptr;
    TViewStatus* ViewStatus2 = nullptr;
    // Ctrl+F in a grid: the bar that finds a text in its current column, over its bottom edge.
    TGridFindBar* FindBar1 = nullptr;
    TGridFindBar* FindBar2 = nullptr;

    // Components.
    std::unique_ptr<TDataSource> DataSource1;
    std::unique_ptr<TSQLConnection> SQLConnection1;
    std::unique_ptr<TDataSource> DataSource2;
    std::unique_ptr<TSimpleDataSet> SimpleDataSet1;
    std::unique_ptr<TSimpleDataSet> SimpleDataSet2;

    void FormCreate(QObject* sender);
    void Button1Click(QObject* sender);
    void LogonButtonClick(QObject* sender);
    void ShowKeywordButtonClick(QObject* sender);
    void MemoButtonClick(QObject* sender);
    void DBNavigator1Click(TDBNavigator* sender, TNavigateBtn button);
    void DBNavigator2Click(TDBNavigator* sender, TNavigateBtn button);
    // Writes where the view's current record stands into its status line: "12 / 1,000,013",
    // "* / count" while a new record is being inserted, nothing while the view is closed.
    void ShowPosition(TSimpleDataSet& view, TViewStatus& status);

    // Layout positions as stored, for a screen whose "0" is 13 pixels high.
    static constexpr int kClientWidth = 484;
    static constexpr int kClientHeight = 369;
    // The factor by which the stored layout was scaled for this screen's font.
    double LayoutScale() const noexcept { return scale_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    TDBGrid* CreateGrid(const char* name, int left, int top, int width, int height,
                        std::initializer_list<const char*> fieldNames);
    void CreateComponents();
    void Place(QWidget* control, int left, int top, int width, int height);
    void Connect(QPushButton* button, void (TMainForm::*handler)(QObject*));
    // Closes the view, drops what it held, and opens it anew on `table` with the path that stands
    // in DatabaseNameEdit; then enables its navigator.
    void OpenView(TSimpleDataSet& view, const char* table, TDBNavigator& navigator);
    TDBNavigator* CreateNavigator(const char* name, int top,
                                  void (TMainForm::*handler)(TDBNavigator*, TNavigateBtn));
    // Shows beside the view's navigator how many of its changes are not in the database yet,
    // and how many of them the last apply refused.
    void ShowPending(TSimpleDataSet& view);
    // Runs a long step of a view (the reading of an opening, the sending of an apply) with the
    // progress box; Cancel in the box makes the step fail with the cancellation.
    void RunLongWork(TSimpleDataSet& view, const QString& caption,
                     const std::function<void()>& work);

    double scale_ = 1.0;
    // Tell ShowPending of every post, delete, cancel and apply of each view.
    std::unique_ptr<TDataLink> pendingLink1_;
    std::unique_ptr<TDataLink> pendingLink2_;
};

} // namespace sorvanto
