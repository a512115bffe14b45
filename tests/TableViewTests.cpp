#include "Application.h"
#include "DBNavigator.h"
#include "MainUnit.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace sorvanto;

namespace {

// A drives folder of its own with the profile and the stored database, both tables filled.
class Drives {
public:
    Drives() : env_("SORVANTO_DRIVES", dir_.Path().c_str()) {
        std::filesystem::create_directories(dir_.Path() + "/c/DOCUMENT");
        std::filesystem::create_directories(dir_.Path() + "/c/firebird");
        database_ = dir_.Path() + "/c/firebird/document.fdb";
        test::CreateDatabase(database_,
                             {"create table KEY_WORDS (KEYWORD_NO integer not null primary key, "
                              "KEY_WORD varchar(100))",
                              "create table MEMO (INPUTNO integer not null primary key, TITLE "
                              "varchar(100), MEMO blob sub_type text)"});
        other_ = test::MakeConnection(database_, "Other");
        for (int i = 1; i <= 3; ++i) {
            other_->Execute("insert into KEY_WORDS values (?, ?)",
                            {std::int64_t(i), std::string("word ") + std::to_string(i)});
            other_->Execute("insert into MEMO values (?, ?, ?)",
                            {std::int64_t(i), std::string("title ") + std::to_string(i),
                             std::string("memo ") + std::to_string(i)});
        }
        std::ofstream(dir_.Path() + "/c/DOCUMENT/Connection.ini", std::ios::binary)
            << "[FBDOCUMENTCONNECTION]\r\nDriverName=Firebird\r\nDatabase=c:\\firebird\\"
               "document.fdb\r\nUser_Name=sysdba\r\nPassword=masterkey\r\n";
    }
    const std::string& Database() const { return database_; }
    const std::string& Path() const { return dir_.Path(); }
    // A second attachment: what the database holds, whatever the window's datasets say.
    TSQLConnection& Other() { return *other_; }

private:
    test::TempDir dir_;
    test::ScopedEnv env_;
    std::string database_;
    std::unique_ptr<TSQLConnection> other_;
};

std::string EnabledButtons(const TDBNavigator& navigator) {
    static const char letters[] = "FPNLIDEPCR";
    std::string row;
    for (int i = 0; i < kNavButtonCount; ++i)
        row += navigator.Button(static_cast<TNavigateBtn>(i))->isEnabled() ? letters[i] : '.';
    return row;
}

} // namespace

TEST(TableViews, NavigatorsStandAtTheirPlacesDisabledByTheCreationHandler) {
    Drives drives;
    TMainForm form;
    const double s = form.LayoutScale();
    auto r = [s](int v) { return static_cast<int>(std::lround(v * s)); };
    struct Place {
        TDBNavigator* navigator;
        int top;
        TDataSource* source;
    };
    for (const Place& p : {Place{form.DBNavigator1, 174, form.DataSource1.get()},
                           Place{form.DBNavigator2, 335, form.DataSource2.get()}}) {
        SCOPED_TRACE(p.navigator->objectName().toStdString());
        int width = r(234) - r(234) % 9;
        EXPECT_EQ(p.navigator->geometry(), QRect(r(48), r(p.top), width, r(25)));
        EXPECT_EQ(p.navigator->ButtonWidth(), width / 9);
        EXPECT_EQ(p.navigator->DataSource(), p.source);
        EXPECT_FALSE(p.navigator->Enabled());
        EXPECT_FALSE(p.navigator->TabStop());
        EXPECT_TRUE(p.navigator->ConfirmDelete);
        EXPECT_TRUE(p.navigator->ShowHint());
        EXPECT_EQ(p.navigator->VisibleButtons(),
                  (TNavButtonSet{nbFirst, nbPrior, nbNext, nbLast, nbDelete, nbEdit, nbPost,
                                 nbCancel, nbRefresh}));
        EXPECT_TRUE(p.navigator->OnClick != nullptr);
        EXPECT_EQ(EnabledButtons(*p.navigator), "..........");
        EXPECT_EQ(p.navigator->Button(nbNext)->toolTip(), "次のレコード");
    }
    // Opened while the navigator is disabled: still all grey.
    form.DataSource2->DataSet()->Open();
    EXPECT_EQ(EnabledButtons(*form.DBNavigator2), "..........");
}
