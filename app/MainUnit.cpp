#include "MainUnit.h"

#include "Application.h"
#include "DrivePaths.h"
#include "LongWork.h"
#include "Messages.h"
#include "ScopeExit.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

namespace sorvanto {

namespace {
constexpr const char* kProfileFile = "C:\\DOCUMENT\\Connection.ini";
constexpr const char* kConnectionName = "FBDOCUMENTCONNECTION";
constexpr const char* kStoredDatabase = "c:\\firebird\\document.fdb";

// The stored settings every connection of the window shares.
void StoreConnection(TSQLConnection& connection, bool logon) {
    connection.BeginLoading();
    connection.SetConnectionName(kConnectionName);
    connection.SetDriverName("Firebird");
    connection.GetDriverFunc = "getSQLDriverFIREBIRD";
    connection.LibraryName = "fbdriver.dll";
    connection.VendorLib = "fbclient.dll";
    connection.LoadParamsOnConnect = logon;
    connection.LoginPrompt = logon;
    connection.Params().Add("DriverPackageLoader=TFirebirdDriverLoader");
    connection.Params().Add("VendorLib=fbclient.DLL");
}

void StoreTable(TSimpleDataSet& dataSet, const char* table, int maxBlobSize) {
    dataSet.BeginLoading();
    StoreConnection(dataSet.Connection(), false);
    dataSet.DataSet().SetCommandType(TSQLCommandType::ctTable);
    dataSet.DataSet().SetCommandText(table);
    dataSet.DataSet().MaxBlobSize = maxBlobSize;
}
// Follows a view's dataset for its status line: what is pending changes with every post,
// delete, cancel and apply, each of which ends an edit or makes the dataset read anew.
class TPendingLink : public TDataLink {
public:
    explicit TPendingLink(std::function<void()> show) : show_(std::move(show)) {}

protected:
    void ActiveChanged() override { show_(); }
    void EditingChanged() override { show_(); }
    void DataSetChanged() override { show_(); }
    void DataSetScrolled(int) override {}

private:
    std::function<void()> show_;
};
} // namespace

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Sorvanto"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(static_cast<int>(std::lround(11.0 * logicalDpiY() / 96.0)));
    setFont(font);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    // The layout was made where "0" is 13 pixels high; a font of another height scales it.
    int zeroHeight = QFontMetrics(font).height();
    if (zeroHeight != 13)
        scale_ = zeroHeight / 13.0;

    CreateControls();
    CreateComponents();
    // Loading is complete: the stored connection of the MEMO view connects now. A failure
    // leaves this constructor, and with it the window and everything it owns.
    SQLConnection1->EndLoading();
    SimpleDataSet1->Connection().EndLoading();
    SimpleDataSet1->EndLoading();
    SimpleDataSet2->Connection().EndLoading();
    SimpleDataSet2->EndLoading();
    DBNavigator1->EndLoading();
    DBNavigator2->EndLoading();
    FormCreate(this);
}

TMainForm::~TMainForm() {
    // The views close as they go: their status lines have nothing more to show.
    for (TDataSource* source : {DataSource1.get(), DataSource2.get()}) {
        source->OnDataChange = nullptr;
        source->OnStateChange = nullptr;
    }
}

void TMainForm::Place(QWidget* control, int left, int top, int width, int height) {
    auto s = [this](int v) { return static_cast<int>(std::lround(v * scale_)); };
    control->setGeometry(s(left), s(top), s(width), s(height));
}

void TMainForm::Connect(QPushButton* button, void (TMainForm::*handler)(QObject*)) {
    QObject::connect(button, &QPushButton::clicked, this, [this, button, handler] {
        Application->Guarded(button, [&] { (this->*handler)(button); });
    });
}

void TMainForm::CreateControls() {
    auto s = [this](int v) { return static_cast<int>(std::lround(v * scale_)); };
    setFixedSize(QSize(s(kClientWidth), s(kClientHeight)));
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(s(kClientWidth), s(kClientHeight));

    Label1 = new QLabel(QStringLiteral("＜KEY_WORD＞テーブル"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Place(Label1, 8, 39, 118, 13);
    Label2 = new QLabel(QStringLiteral("＜MOMO＞テーブル"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Place(Label2, 10, 205, 94, 13);
    // Labels size themselves to their text: where the substituted font is wider or taller than
    // the one the layout was made with, the text is not cut.
    for (QLabel* label : {Label1, Label2})
        label->resize(label->size().expandedTo(label->sizeHint()));
    DBGrid1 = CreateGrid("DBGrid1", 48, 58, 417, 110,
                         {"KEYWORD_NO", "ID", "KEY_WORD", "USER_NAME", "TS"});
    DBGrid2 = CreateGrid("DBGrid2", 48, 224, 417, 105, {"INPUTNO", "TITLE", "USER_NAME", "TS"});

    auto button = [this](const char* name, const QString& caption, int left, int top) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        b->setDefault(false);
        Place(b, left, top, 75, 25);
        return b;
    };
    // Tab order: DBGrid1, DBGrid2, Button1, LogonButton, DatabaseNameEdit, ShowKeywordButton,
    // MemoButton (the navigators come after their grids).
    Button1 = button("Button1", QStringLiteral("終了"), 175, 0);
    LogonButton = button("LogonButton", QStringLiteral("Logon"), 248, 0);
    DatabaseNameEdit = new QLineEdit(this);
    DatabaseNameEdit->setObjectName(QStringLiteral("DatabaseNameEdit"));
    DatabaseNameEdit->setMaxLength(32767);
    Place(DatabaseNameEdit, 132, 31, 240, 21);
    ShowKeywordButton = button("ShowKeywordButton", QStringLiteral("表示"), 392, 32);
    MemoButton = button("MemoButton", QStringLiteral("表示"), 392, 200);
    // Button1 and LogonButton overlap by two pixels; the later one lies on top.
    LogonButton->raise();

    DBNavigator1 = CreateNavigator("DBNavigator1", 174, &TMainForm::DBNavigator1Click);
    DBNavigator2 = CreateNavigator("DBNavigator2", 335, &TMainForm::DBNavigator2Click);
    // In the free space right of each navigator.
    ViewStatus1 = new TViewStatus(this, "ViewStatus1");
    Place(ViewStatus1, 290, 172, 190, 30);
    ViewStatus2 = new TViewStatus(this, "ViewStatus2");
    Place(ViewStatus2, 290, 333, 190, 30);

    FindBar1 = new TGridFindBar(*DBGrid1, this);
    FindBar2 = new TGridFindBar(*DBGrid2, this);

    setTabOrder(DBGrid1, DBGrid2);
    setTabOrder(DBGrid2, Button1);
    setTabOrder(Button1, LogonButton);
    setTabOrder(LogonButton, DatabaseNameEdit);
    setTabOrder(DatabaseNameEdit, ShowKeywordButton);
    setTabOrder(ShowKeywordButton, MemoButton);

    Connect(Button1, &TMainForm::Button1Click);
    Connect(LogonButton, &TMainForm::LogonButtonClick);
    Connect(ShowKeywordButton, &TMainForm::ShowKeywordButtonClick);
    Connect(MemoButton, &TMainForm::MemoButtonClick);
}

TDBNavigator* TMainForm::CreateNavigator(const char* name, int top,
                                         void (TMainForm::*handler)(TDBNavigator*, TNavigateBtn)) {
    auto* navigator = new TDBNavigator(this, name);
    navigator->BeginLoading();
    Place(navigator, 48, top, 234, 25);
    navigator->SetVisibleButtons(
        {nbFirst, nbPrior, nbNext, nbLast, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh});
    navigator->SetParentShowHint(false);
    navigator->SetShowHint(true);
    navigator->OnClick = [this, handler](TDBNavigator* sender, TNavigateBtn button) {
        (this->*handler)(sender, button);
    };
    return navigator;
}

TDBGrid* TMainForm::CreateGrid(const char* name, int left, int top, int width, int height,
                               std::initializer_list<const char*> fieldNames) {
    auto* grid = new TDBGrid(this);
    grid->setObjectName(QString::fromLatin1(name));
    grid->BeginLayout();
    grid->SetTitleFont(font());
    grid->Columns().AddFields(fieldNames);
    grid->EndLayout();
    Place(grid, left, top, width, height);
    return grid;
}

void TMainForm::CreateComponents() {
    SimpleDataSet1 = std::make_unique<TSimpleDataSet>("SimpleDataSet1");
    SimpleDataSet2 = std::make_unique<TSimpleDataSet>("SimpleDataSet2");
    DataSource1 = std::make_unique<TDataSource>("DataSource1");
    DataSource1->BeginLoading();
    DataSource1->SetDataSet(SimpleDataSet1.get());
    SQLConnection1 = std::make_unique<TSQLConnection>("SQLConnection1");
    StoreConnection(*SQLConnection1, true);
    DataSource2 = std::make_unique<TDataSource>("DataSource2");
    DataSource2->BeginLoading();
    DataSource2->SetDataSet(SimpleDataSet2.get());
    StoreTable(*SimpleDataSet1, "KEY_WORDS", -1);
    SimpleDataSet1->DataSet().DataSource = DataSource1.get();
    StoreTable(*SimpleDataSet2, "MEMO", 1);
    SimpleDataSet2->DataSet().DataSource = DataSource2.get();
    SimpleDataSet2->Connection().Params().Add(std::string("Database=") + kStoredDatabase);
    SimpleDataSet2->Connection().SetConnected(true); // noted; connects when loading completes
    DataSource1->OnDataChange = [this](TComponent*, TField*) {
        ShowPosition(*SimpleDataSet1, *ViewStatus1);
    };
    DataSource1->OnStateChange = [this](TComponent*) {
        ShowPosition(*SimpleDataSet1, *ViewStatus1);
    };
    DataSource2->OnDataChange = [this](TComponent*, TField*) {
        ShowPosition(*SimpleDataSet2, *ViewStatus2);
    };
    DataSource2->OnStateChange = [this](TComponent*) {
        ShowPosition(*SimpleDataSet2, *ViewStatus2);
    };
    DataSource1->EndLoading();
    DataSource2->EndLoading();
    DBGrid1->SetDataSource(DataSource1.get());
    DBGrid2->SetDataSource(DataSource2.get());
    DBNavigator1->SetDataSource(DataSource1.get());
    DBNavigator2->SetDataSource(DataSource2.get());
    pendingLink1_ = std::make_unique<TPendingLink>([this] { ShowPending(*SimpleDataSet1); });
    pendingLink1_->SetDataSource(DataSource1.get());
    pendingLink2_ = std::make_unique<TPendingLink>([this] { ShowPending(*SimpleDataSet2); });
    pendingLink2_->SetDataSource(DataSource2.get());
}

void TMainForm::FormCreate(QObject*) {
    LogonButton->setEnabled(true);
    ShowKeywordButton->setEnabled(false);
    MemoButton->setEnabled(false);
    DatabaseNameEdit->setText(QString());
    DBNavigator1->SetEnabled(false);
    DBNavigator2->SetEnabled(false);
}

void TMainForm::Button1Click(QObject*) {
    SQLConnection1->SetConnected(false);
    Application->Terminate();
}

void TMainForm::LogonButtonClick(QObject*) {
    SQLConnection1->SetConnected(false);
    SQLConnection1->Params().Clear();
    SQLConnection1->LoginPrompt = false;
    SQLConnection1->LoadParamsFromIniFile(kProfileFile);
    SQLConnection1->SetConnectionName(kConnectionName);
    SQLConnection1->LoadParamsOnConnect = false;
    SQLConnection1->SetConnected(true);
    if (SQLConnection1->Connected()) {
        ShowInformation(QStringLiteral("データベースに接続しました"));
        DatabaseNameEdit->setText(
            QString::fromStdString(SQLConnection1->Params().ValueOfName("Database")));
        LogonButton->setEnabled(false);
        ShowKeywordButton->setEnabled(true);
        MemoButton->setEnabled(true);
    } else {
        ShowInformation(QStringLiteral("データベースに接続できませんでした"));
    }
}

void TMainForm::ShowKeywordButtonClick(QObject*) {
    OpenView(*SimpleDataSet1, "KEY_WORDS", *DBNavigator1);
}

void TMainForm::MemoButtonClick(QObject*) {
    OpenView(*SimpleDataSet2, "MEMO", *DBNavigator2);
}

void TMainForm::OpenView(TSimpleDataSet& view, const char* table, TDBNavigator& navigator) {
    TSQLConnection& connection = view.Connection();
    connection.SetConnected(false);
    view.SetActive(false);
    connection.LoadParamsFromIniFile(kProfileFile);
    connection.Params().SetValueOfName("Database", DatabaseNameEdit->text().toStdString());
    connection.Params().SetValueOfName("drivername", "Firebird");
    connection.Params().SetValueOfName("User_Name", "SYSDBA");
    connection.Params().SetValueOfName("Password", "quillbarn");
    view.DataSet().SetCommandType(TSQLCommandType::ctTable);
    view.DataSet().SetCommandText(table);
    RunLongWork(view, QStringLiteral("読み込み中"), [&view] { view.SetActive(true); });
    connection.SetConnected(true);
    navigator.SetEnabled(true);
}

// Every click on a view's navigator sends the view's pending changes at once; what the database
// refuses stays pending for the next click.
void TMainForm::DBNavigator1Click(TDBNavigator*, TNavigateBtn) {
    RunLongWork(*SimpleDataSet1, QStringLiteral("更新中"),
                [this] { SimpleDataSet1->ApplyUpdates(-1); });
}

void TMainForm::DBNavigator2Click(TDBNavigator*, TNavigateBtn) {
    RunLongWork(*SimpleDataSet2, QStringLiteral("更新中"),
                [this] { SimpleDataSet2->ApplyUpdates(-1); });
}

void TMainForm::RunLongWork(TSimpleDataSet& view, const QString& caption,
                            const std::function<void()>& work) {
    TLongWork longWork(*this, caption);
    view.OnProgress = [&longWork](TProgressKind kind, std::int64_t done, std::int64_t total) {
        return longWork.Step(kind, done, total);
    };
    TScopeExit forget([&view] { view.OnProgress = nullptr; });
    work();
}

void TMainForm::ShowPending(TSimpleDataSet& view) {
    TViewStatus* status = &view == SimpleDataSet1.get() ? ViewStatus1 : ViewStatus2;
    if (!status)
        return;
    const int pending = view.ChangeCount();
    QString text;
    if (pending > 0) {
        text = QStringLiteral("未送信 %1件").arg(pending);
        if (int refused = view.RefusedCount(); refused > 0)
            text += QStringLiteral("（うち拒否 %1件）").arg(refused);
        // The link went while the commit was on its way: the next click reads the rows first.
        if (int unconfirmed = view.UnconfirmedCount(); unconfirmed > 0)
            text += QStringLiteral("（うち確認待ち %1件）").arg(unconfirmed);
    }
    status->SetPending(text);
}

void TMainForm::ShowPosition(TSimpleDataSet& view, TViewStatus& status) {
    if (!view.Active()) {
        status.SetPosition(QString());
        return;
    }
    const int recNo = view.RecNo();
    const QString current = recNo >= 1 ? GroupedNumber(recNo) : QStringLiteral("*");
    status.SetPosition(current + QStringLiteral(" / ") + GroupedNumber(view.RecordCount()));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // The window has no closing handler of its own: closing it ends the program.
    event->accept();
    Application->Terminate();
}

} // namespace sorvanto
