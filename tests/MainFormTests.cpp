#include "Application.h"
#include "Errors.h"
#include "MainUnit.h"
#include "TestSupport.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace sorvanto;

namespace {

// A drives folder of its own, with the profile and the database where the window looks.
class DemoDrives {
public:
    DemoDrives() {
        previous_ = qgetenv("SORVANTO_DRIVES");
        qputenv("SORVANTO_DRIVES", QByteArray::fromStdString(dir_.Path()));
        std::filesystem::create_directories(dir_.Path() + "/c/DOCUMENT");
        std::filesystem::create_directories(dir_.Path() + "/c/firebird");
        database_ = dir_.Path() + "/c/firebird/document.fdb";
        test::CreateDatabase(database_, {"create table KEY_WORDS (KEYWORD_NO integer not null "
                                         "primary key, KEY_WORD varchar(20))",
                                         "create table MEMO (INPUTNO integer not null primary "
                                         "key, MEMO blob sub_type text)"});
        WriteProfile("c:\\firebird\\document.fdb");
    }
    ~DemoDrives() { qputenv("SORVANTO_DRIVES", previous_); }
    void WriteProfile(const std::string& database) {
        std::ofstream(dir_.Path() + "/c/DOCUMENT/Connection.ini", std::ios::binary)
            << "[FBDOCUMENTCONNECTION]\r\nDriverName=Firebird\r\nDatabase = " << database
            << "\r\nUser_Name=sysdba\r\nPassword=masterkey\r\n";
    }
    void RemoveProfile() { std::filesystem::remove(dir_.Path() + "/c/DOCUMENT/Connection.ini"); }
    const std::string& Database() const { return database_; }
    const std::string& Path() const { return dir_.Path(); }

private:
    test::TempDir dir_;
    QByteArray previous_;
    std::string database_;
};

// What a modal box showed when it was dismissed.
struct SeenBox {
    QString caption;
    QString text;
    QStringList buttons;
    bool seen = false;
};

// Dismisses the next modal box with Enter, noting what it showed.
void DismissNextBox(SeenBox& seen) {
    QTimer::singleShot(0, [&seen] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) {
            DismissNextBox(seen);
            return;
        }
        seen.seen = true;
        seen.caption = box->windowTitle();
        if (auto* message = qobject_cast<QMessageBox*>(box)) {
            seen.text = message->text();
        } else {
            for (QLabel* label : box->findChildren<QLabel*>())
                if (!label->text().isEmpty())
                    seen.text = label->text();
        }
        for (QPushButton* button : box->findChildren<QPushButton*>())
            seen.buttons << button->text();
        QTest::keyClick(box, Qt::Key_Return);
    });
}

TEST(Title, ComesFromTheProgramFileName) {
    EXPECT_EQ(TApplication::TitleFromFileName("/usr/bin/sorvanto"), "Sorvanto");
    EXPECT_EQ(TApplication::TitleFromFileName("C:/Tools/TOOL.EXE"), "Tool");
    EXPECT_EQ(TApplication::TitleFromFileName("Tool.Setup.exe"), "Tool");
    EXPECT_EQ(TApplication::TitleFromFileName("x"), "X");
}

TEST(MainForm, LayoutPlacesEveryControlAndStartsLoggedOff) {
    DemoDrives drives;
    TMainForm form;
    // The stored layout was made where "0" is 13 pixels high in the form's font; every stored
    // number scales by how high it is here.
    const int zeroHeight = QFontMetrics(form.font()).height();
    ASSERT_GT(zeroHeight, 0);
    const double factor = zeroHeight / 13.0;
    auto px = [factor](int v) { return static_cast<int>(std::lround(v * factor)); };
    EXPECT_EQ(form.windowTitle(), "Sorvanto");
    EXPECT_EQ(form.size(), QSize(px(484), px(369)));
    struct Place {
        QWidget* control;
        int left, top, width, height;
        QString text;
    };
    const Place places[] = {
        {form.Label1, 8, 39, 118, 13, "＜KEY_WORD＞テーブル"},
        {form.Label2, 10, 205, 94, 13, "＜MOMO＞テーブル"},
        {form.Button1, 175, 0, 75, 25, "終了"},
        {form.LogonButton, 248, 0, 75, 25, "Logon"},
        {form.DatabaseNameEdit, 132, 31, 240, 21, ""},
        {form.ShowKeywordButton, 392, 32, 75, 25, "表示"},
        {form.MemoButton, 392, 200, 75, 25, "表示"},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.control->objectName().toStdString());
        const QRect stored(px(p.left), px(p.top), px(p.width), px(p.height));
        if (auto* label = qobject_cast<QLabel*>(p.control)) {
            // A label keeps its stored corner and grows, never shrinks, to show all its text.
            EXPECT_EQ(label->pos(), stored.topLeft());
            EXPECT_GE(label->width(), stored.width());
            EXPECT_GE(label->height(), stored.height());
            const QFontMetrics metrics(label->font());
            EXPECT_GE(label->contentsRect().width(), metrics.horizontalAdvance(p.text));
            EXPECT_GE(label->contentsRect().height(), metrics.height());
            EXPECT_EQ(label->text(), p.text);
        } else {
            EXPECT_EQ(p.control->geometry(), stored);
        }
        if (auto* button = qobject_cast<QPushButton*>(p.control)) {
            EXPECT_EQ(button->text(), p.text);
            EXPECT_FALSE(button->isDefault());
        }
    }
    // Initial state.
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.LogonButton->isEnabled());
    EXPECT_FALSE(form.ShowKeywordButton->isEnabled());
    EXPECT_FALSE(form.MemoButton->isEnabled());
    EXPECT_TRUE(form.DatabaseNameEdit->isEnabled());
    EXPECT_TRUE(form.DatabaseNameEdit->text().isEmpty());
    EXPECT_FALSE(form.SQLConnection1->Connected());
    EXPECT_FALSE(form.SimpleDataSet1->Active());
    EXPECT_FALSE(form.SimpleDataSet1->Connection().Connected());
    EXPECT_FALSE(form.SimpleDataSet2->Active());
    EXPECT_TRUE(form.SimpleDataSet2->Connection().Connected());
    EXPECT_EQ(form.SimpleDataSet2->Connection().ConnectionProperties().ValueOfName("Database"),
              "c:\\firebird\\document.fdb");
    EXPECT_EQ(form.SimpleDataSet1->DataSet().CommandText(), "KEY_WORDS");
    EXPECT_EQ(form.SimpleDataSet2->DataSet().MaxBlobSize, 1);

    // Tab order among the controls that can take the focus: the disabled ones are skipped.
    form.show();
    QApplication::setActiveWindow(&form);
    form.Button1->setFocus();
    std::vector<QString> order;
    for (int i = 0; i < 4; ++i) {
        order.push_back(QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                    : QString());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order,
              (std::vector<QString>{"Button1", "LogonButton", "DatabaseNameEdit", "DBGrid1"}));
}

TEST(MainForm, AStoredDatabaseOutOfReachFailsTheLoading) {
    DemoDrives drives;
    std::filesystem::remove(drives.Database());
    EXPECT_THROW(TMainForm form, TDriverError);
}

TEST(MainForm, LogonShowsTheBoxThenThePathAndUnlocksTheViews) {
    DemoDrives drives;
    TMainForm form;
    SeenBox box;
    QString pathWhileBoxOpen = "unset";
    QTimer::singleShot(0, [&] { pathWhileBoxOpen = form.DatabaseNameEdit->text(); });
    DismissNextBox(box);
    QTest::mouseClick(form.LogonButton, Qt::LeftButton);
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.caption, Application->Title());
    EXPECT_EQ(box.text, "データベースに接続しました");
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    EXPECT_TRUE(pathWhileBoxOpen.isEmpty());
    EXPECT_EQ(form.DatabaseNameEdit->text(), "c:\\firebird\\document.fdb");
    EXPECT_FALSE(form.LogonButton->isEnabled());
    EXPECT_TRUE(form.ShowKeywordButton->isEnabled());
    EXPECT_TRUE(form.MemoButton->isEnabled());
    EXPECT_TRUE(form.SQLConnection1->Connected());
    EXPECT_FALSE(form.SQLConnection1->LoginPrompt);
}

TEST(MainForm, AFailedLogonShowsTheErrorAndARetryAfterTheFixSucceeds) {
    DemoDrives drives;
    TMainForm form;
    drives.WriteProfile("c:\\firebird\\missing.fdb");
    SeenBox error;
    DismissNextBox(error);
    QTest::mouseClick(form.LogonButton, Qt::LeftButton);
    ASSERT_TRUE(error.seen);
    EXPECT_EQ(error.caption, Application->Title());
    EXPECT_TRUE(error.text.contains("missing.fdb")) << error.text.toStdString();
    EXPECT_TRUE(error.text.endsWith('.'));
    EXPECT_TRUE(form.LogonButton->isEnabled());
    EXPECT_FALSE(form.ShowKeywordButton->isEnabled());
    EXPECT_FALSE(form.SQLConnection1->Connected());
    EXPECT_EQ(form.SQLConnection1->Params().ValueOfName("Database"), "c:\\firebird\\missing.fdb");

    // Without the profile file: the loading error, and nothing loaded.
    drives.RemoveProfile();
    SeenBox missing;
    DismissNextBox(missing);
    QTest::mouseClick(form.LogonButton, Qt::LeftButton);
    EXPECT_EQ(missing.text,
              "ドライバ/接続レジストリファイル 'C:\\DOCUMENT\\Connection.ini' が見つかりません.");
    EXPECT_EQ(form.SQLConnection1->Params().Count(), 0);

    drives.WriteProfile("c:\\firebird\\document.fdb");
    SeenBox success;
    DismissNextBox(success);
    QTest::mouseClick(form.LogonButton, Qt::LeftButton);
    EXPECT_EQ(success.text, "データベースに接続しました");
    EXPECT_FALSE(form.LogonButton->isEnabled());
    EXPECT_TRUE(form.MemoButton->isEnabled());
}

TEST(MainForm, ExitButtonClosesTheLogonConnectionAndQueuesTheQuit) {
    DemoDrives drives;
    TMainForm form;
    SeenBox box;
    DismissNextBox(box);
    QTest::mouseClick(form.LogonButton, Qt::LeftButton);
    ASSERT_TRUE(form.SQLConnection1->Connected());
    form.Button1Click(form.Button1);
    EXPECT_FALSE(form.SQLConnection1->Connected());
    EXPECT_FALSE(Application->Terminated()); // queued, not yet taken
    QCoreApplication::processEvents();
    EXPECT_TRUE(Application->Terminated());
}

} // namespace
