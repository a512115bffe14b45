// Typed text into fields of every column kind the driver reads, and the texts the cells show:
// conversions, refusals, the user's date and time formats, and what reaches the database.

#include "Errors.h"
#include "FieldText.h"
#include "TestSupport.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

using namespace sorvanto;

namespace {

const std::string kYoshi = "\xF0\xA0\xAE\xB7"; // 𠮷, outside the Basic Multilingual Plane

std::string Repeat(const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

// One table with a column of each kind, one row, in a database of its own per suite.
class FieldTextTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        test::CreateDatabase(
            Database(),
            {"create table KINDS (ID integer not null primary key, C_SMALLINT smallint,"
             " C_INTEGER integer, C_BIGINT bigint, C_N4 numeric(4,2), C_N9 numeric(9,3),"
             " C_N18 numeric(18,4), C_D18 decimal(18,18), C_FLOAT float,"
             " C_DOUBLE double precision, C_DATE date, C_TIME time, C_TS timestamp,"
             " C_BOOL boolean, C_CHAR char(3), C_VARCHAR varchar(5), C_MEMO blob sub_type text)",
             "insert into KINDS (ID) values (1)"});
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Database() { return dir_->File("kinds.fdb"); }

    void SetUp() override { FormatSettings() = FormatSettingsFor(QLocale::c()); }

    // Opens KINDS, with or without a character set on the attachment.
    void Open(bool wide = false) {
        dataSet = test::MakeTable(Database(), "KINDS");
        if (wide)
            dataSet->Connection().Params().Add("ServerCharSet=UTF8");
        dataSet->Open();
    }

    // The text of an error SetFieldText raised, or "" when none.
    std::string Typed(const char* column, const QString& text) {
        try {
            SetFieldText(dataSet->FieldByName(column), text);
        } catch (const Exception& error) {
            return error.Message();
        }
        return {};
    }

    std::unique_ptr<TSimpleDataSet> dataSet;

private:
    static inline test::TempDir* dir_ = nullptr;
};

// Every kind takes typed text; what was accepted goes through an apply, is read back through a
// second attachment and shown; what is refused gets the kind's error and changes nothing.
TEST_F(FieldTextTest, TypedTextOfEveryKindReachesTheDatabaseOrIsRefused) {
    struct Case {
        const char* column;
        std::string typed;
        std::string shown; // the display text read back, or the error
        bool refused = false;
    };
    const std::string wide = Repeat(kYoshi, 5);
    const Case cases[] = {
        {"C_SMALLINT", "-32768", "-32768"},
        {"C_SMALLINT", " 32767 ", "32767"},
        {"C_SMALLINT", "", ""},
        {"C_SMALLINT", "32768",
         "32768 は項目 'C_SMALLINT' に適した値ではありません。-32768 から 32767 の範囲が許されます",
         true},
        {"C_SMALLINT", "1.5", "'1.5' は項目 'C_SMALLINT' に適した整数値ではありません", true},
        {"C_INTEGER", "-2147483648", "-2147483648"},
        {"C_INTEGER", "2147483647", "2147483647"},
        {"C_INTEGER", "2147483648",
         "2.14748e+09 は項目 'C_INTEGER' に適した値ではありません。-2.14748e+09 から 2.14748e+09 "
         "の範囲が許されます",
         true},
        {"C_BIGINT", "-9223372036854775808", "-9223372036854775808"},
        {"C_BIGINT", "+9223372036854775807", "9223372036854775807"},
        {"C_BIGINT", "9223372036854775808",
         "'9223372036854775808' は項目 'C_BIGINT' に適した整数値ではありません", true},
        {"C_N4", "-327.68", "-327.68"},
        {"C_N4", "327.67", "327.67"},
        {"C_N4", "1.50", "1.5"},
        {"C_N4", "-.5", "-0.5"},
        {"C_N4", "2.000", "2"},
        {"C_N4", "327.68",
         "327.68 は項目 'C_N4' に適した値ではありません。-327.68 から 327.67 の範囲が許されます",
         true},
        {"C_N4", "1.234",
         "'1.234' は項目 'C_N4' に適した値ではありません。小数点以下 2 桁までが許されます", true},
        {"C_N4", "1,5", "'1,5' は項目 'C_N4' に適した数値ではありません", true},
        {"C_N4", "1e2", "'1e2' は項目 'C_N4' に適した数値ではありません", true},
        {"C_N9", "-2147483.648", "-2147483.648"},
        {"C_N9", "2147483.647", "2147483.647"},
        {"C_N9", "2147483.648",
         "2147483.648 は項目 'C_N9' に適した値ではありません。-2147483.648 から 2147483.647 の範囲"
         "が許されます",
         true},
        {"C_N18", "-922337203685477.5808", "-922337203685477.5808"},
        {"C_N18", "922337203685477.5807", "922337203685477.5807"},
        {"C_N18", "99999999999999999999",
         "99999999999999999999 は項目 'C_N18' に適した値ではありません。-922337203685477.5808 から "
         "922337203685477.5807 の範囲が許されます",
         true},
        {"C_D18", "-9.223372036854775808", "-9.223372036854775808"},
        {"C_D18", "0.000000000000000001", "0.000000000000000001"},
        {"C_FLOAT", "3.4028235e38", "3.4028235e+38"},
        {"C_FLOAT", "0.1", "0.1"},
        {"C_FLOAT", "-1.17549435e-38", "-1.1754944e-38"},
        {"C_FLOAT", "3.5e38",
         "3.5e+38 は項目 'C_FLOAT' に適した値ではありません。-3.40282e+38 から 3.40282e+38 の範囲が"
         "許されます",
         true},
        {"C_FLOAT", "nan", "'nan' は項目 'C_FLOAT' に適した浮動小数点数ではありません", true},
        {"C_DOUBLE", "1.7976931348623157e308", "1.7976931348623157e+308"},
        {"C_DOUBLE", "-2.2250738585072014e-308", "-2.2250738585072014e-308"},
        {"C_DOUBLE", "0.30000000000000004", "0.30000000000000004"},
        {"C_DOUBLE", "+12.5", "12.5"},
        {"C_DOUBLE", "inf", "'inf' は項目 'C_DOUBLE' に適した浮動小数点数ではありません", true},
        {"C_DOUBLE", "-Infinity",
         "'-Infinity' は項目 'C_DOUBLE' に適した浮動小数点数ではありません", true},
        {"C_DOUBLE", "NaN", "'NaN' は項目 'C_DOUBLE' に適した浮動小数点数ではありません", true},
        {"C_DOUBLE", "1e999",
         "1e999 は項目 'C_DOUBLE' に適した値ではありません。-1.79769e+308 から 1.79769e+308 の範囲"
         "が許されます",
         true},
        {"C_DATE", "0001/01/01", "0001/01/01"},
        {"C_DATE", "9999/12/31", "9999/12/31"},
        {"C_DATE", "2024/2/29", "2024/02/29"},
        {"C_DATE", "2023/02/29", "'2023/02/29' は項目 'C_DATE' に適した日付ではありません", true},
        {"C_DATE", "2024/01/02 3:04",
         "'2024/01/02 3:04' は項目 'C_DATE' に適した日付ではありません", true},
        {"C_TIME", "0:00:00", "0:00:00"},
        {"C_TIME", "23:59:59", "23:59:59"},
        {"C_TIME", "12:34", "12:34:00"},
        {"C_TIME", "24:00:00", "'24:00:00' は項目 'C_TIME' に適した時刻ではありません", true},
        {"C_TS", "0001/01/01 0:00:00", "0001/01/01"},
        {"C_TS", "9999/12/31 23:59:59", "9999/12/31 23:59:59"},
        {"C_TS", "2024/01/02", "2024/01/02"},
        {"C_TS", "2024/01/02 3:04", "2024/01/02 3:04:00"},
        {"C_TS", "2024/13/01 0:00:00", "SQL タイムスタンプ文字列が解析できません", true},
        {"C_BOOL", "True", "True"},
        {"C_BOOL", "false", "False"},
        {"C_BOOL", "yes", "'yes' は項目 'C_BOOL' に適した論理値ではありません", true},
        {"C_CHAR", kYoshi + "a", kYoshi + "a "},
        {"C_CHAR", Repeat(kYoshi, 4), Repeat(kYoshi, 3)},
        {"C_VARCHAR", wide, wide},
        {"C_VARCHAR", "a" + kYoshi + "b" + kYoshi + "c" + kYoshi,
         "a" + kYoshi + "b" + kYoshi + "c"},
        {"C_VARCHAR", "", ""},
        {"C_MEMO", Repeat(kYoshi + " memo ", 100), Repeat(kYoshi + " memo ", 100)},
    };
    for (bool wideText : {false, true}) {
        Open(wideText);
        auto check = test::MakeConnection(Database(), "Check");
        if (wideText)
            check->Params().Add("ServerCharSet=UTF8");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(wideText ? "UTF8 " : "NONE ") + c.column + " '" + c.typed +
                         "'");
            TField& field = dataSet->FieldByName(c.column);
            dataSet->Edit();
            const TValue before = field.Value();
            const std::string error = Typed(c.column, QString::fromStdString(c.typed));
            if (c.refused) {
                EXPECT_EQ(error, c.shown);
                EXPECT_EQ(field.Value(), before);
                EXPECT_FALSE(dataSet->Modified());
                dataSet->Cancel();
                continue;
            }
            ASSERT_EQ(error, "");
            dataSet->Post();
            ASSERT_EQ(dataSet->ApplyUpdates(-1), 0);
            std::unique_ptr<TSQLResultSet> rows;
            check->Execute(std::string("select ") + c.column + " from KINDS", {}, &rows);
            ASSERT_TRUE(rows->Next());
            const TValue stored = rows->Reader().GetValue(0);
            const std::string shown = field.IsBlob() ? std::get<std::string>(stored)
                                                     : DisplayText(field, stored).toStdString();
            EXPECT_EQ(shown, c.shown);
            EXPECT_EQ(shown.find('?'), std::string::npos);
        }
        dataSet.reset();
    }
}

// The short date and long time formats of ja_JP, en_US and C: what a timestamp cell shows, and
// the typed forms it takes (long time, short time without seconds, Qt's long form).
TEST_F(FieldTextTest, DatesAndTimesFollowTheLocale) {
    struct Form {
        const char* text;
        TSQLTimeStamp value;
    };
    struct Case {
        QLocale locale;
        const char* shortDate;
        const char* longTime;
        const char* shown; // 2026-12-01 09:30:15
        std::vector<Form> typed;
    };
    const Case cases[] = {
        {QLocale(QLocale::Japanese, QLocale::Japan),
         "yyyy/MM/dd",
         "H:mm:ss",
         "2026/12/01 9:30:15",
         {{"2026/12/05 9:30:15", {{2026, 12, 5}, {9, 30, 15, 0}}},
          {"2026/12/05 9:30", {{2026, 12, 5}, {9, 30, 0, 0}}},
          {"2026/12/05 9時30分15秒", {{2026, 12, 5}, {9, 30, 15, 0}}},
          {"２０２６／１２／０５　２１：３０", {{2026, 12, 5}, {21, 30, 0, 0}}},
          {"2026/12/05", {{2026, 12, 5}, {}}}}},
        {QLocale(QLocale::English, QLocale::UnitedStates),
         "M/d/yyyy",
         "h:mm:ss AP",
         "12/1/2026 9:30:15 AM",
         {{"12/5/2026 9:30:15 PM", {{2026, 12, 5}, {21, 30, 15, 0}}},
          {"12/5/2026 12:30 am", {{2026, 12, 5}, {0, 30, 0, 0}}},
          {"12/05/2026 12:00:01 PM", {{2026, 12, 5}, {12, 0, 1, 0}}}}},
        {QLocale::c(),
         "yyyy/MM/dd",
         "H:mm:ss",
         "2026/12/01 9:30:15",
         {{"2026/12/05 9:30:15", {{2026, 12, 5}, {9, 30, 15, 0}}},
          {"2026/12/05 09:30", {{2026, 12, 5}, {9, 30, 0, 0}}}}},
    };
    Open();
    TField& field = dataSet->FieldByName("C_TS");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        FormatSettings() = FormatSettingsFor(c.locale);
        EXPECT_EQ(FormatSettings().ShortDateFormat, c.shortDate);
        EXPECT_EQ(FormatSettings().LongTimeFormat, c.longTime);
        EXPECT_EQ(DisplayText(field, TSQLTimeStamp{{2026, 12, 1}, {9, 30, 15, 0}}), c.shown);
        dataSet->Edit();
        for (const Form& t : c.typed) {
            SCOPED_TRACE(t.text);
            EXPECT_EQ(Typed("C_TS", QString::fromUtf8(t.text)), "");
            EXPECT_EQ(field.Value(), TValue(t.value));
            // What is shown reads back as the same value.
            const QString shown = DisplayText(field, field.Value());
            EXPECT_EQ(Typed("C_TS", shown), "");
            EXPECT_EQ(field.Value(), TValue(t.value));
        }
        dataSet->Cancel();
    }
}

// A date and time is a wall-clock value: one in a daylight-saving gap of the machine's zone is
// read and shown as typed.
TEST_F(FieldTextTest, TimesInADaylightSavingGapAreTakenAsTyped) {
    struct Case {
        const char* zone;
        const char* typed;
        TSQLTimeStamp value;
    };
    const Case cases[] = {
        {"Europe/Berlin", "2024/03/31 2:30:00", {{2024, 3, 31}, {2, 30, 0, 0}}},
        {"America/New_York", "2024/03/10 02:30:00", {{2024, 3, 10}, {2, 30, 0, 0}}},
    };
    Open();
    TField& field = dataSet->FieldByName("C_TS");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        test::ScopedEnv zone("TZ", c.zone);
        tzset();
        dataSet->Edit();
        EXPECT_EQ(Typed("C_TS", QString::fromUtf8(c.typed)), "");
        EXPECT_EQ(field.Value(), TValue(c.value));
        dataSet->Post();
        ASSERT_EQ(dataSet->ApplyUpdates(-1), 0);
        auto check = test::MakeConnection(Database(), "Check");
        std::unique_ptr<TSQLResultSet> rows;
        check->Execute("select C_TS from KINDS", {}, &rows);
        ASSERT_TRUE(rows->Next());
        EXPECT_EQ(
            DisplayText(field, rows->Reader().GetValue(0)),
            QString::fromUtf8(c.typed).replace(QStringLiteral(" 02:"), QStringLiteral(" 2:")));
    }
    tzset();
}

} // namespace

TEST(GroupedNumber, GroupsDigitsByThreeWithCommas) {
    const std::pair<qint64, const char*> cases[] = {
        {0, "0"},
        {12, "12"},
        {999, "999"},
        {1000, "1,000"},
        {1000013, "1,000,013"},
        {-1234567, "-1,234,567"},
        {-100, "-100"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(GroupedNumber(value), text) << value;
}
