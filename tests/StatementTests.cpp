#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sorvanto;

namespace {

const char* kAllTypes = "create table ALL_TYPES ("
                        " C_SMALLINT smallint not null primary key,"
                        " C_INTEGER integer,"
                        " C_BIGINT bigint,"
                        " C_FLOAT float,"
                        " C_DOUBLE double precision,"
                        " C_NUMERIC numeric(18,4),"
                        " C_DECIMAL decimal(9,2),"
                        " C_DATE date,"
                        " C_TIME time,"
                        " C_TIMESTAMP timestamp,"
                        " C_CHAR char(5),"
                        " C_VARCHAR varchar(30),"
                        " C_BOOLEAN boolean,"
                        " C_MEMO blob sub_type text,"
                        " C_BINARY blob sub_type binary,"
                        " C_OCTETS char(4) character set octets,"
                        " C_COMPUTED computed by (C_INTEGER * 2))";

struct ExpectedColumn {
    const char* name;
    TDrvDataType type;
    TDrvSubType subType;
    int precision;
    int scale;
    bool nullable;
    bool readOnly;
};

TEST(Statements, EveryColumnTypeRoundTripsWithItsDescription) {
    test::TempDir dir;
    std::string db = dir.File("types.fdb");
    test::CreateDatabase(db, {kAllTypes});
    auto connection = test::MakeConnection(db);

    const std::string memo(70000, 'm'); // longer than one blob segment
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i % 256);
    const std::vector<TValue> row = {
        std::int64_t(-7),
        std::int64_t(2147483647),
        std::int64_t(9007199254740993),
        1.5,
        -2.25e100,
        TBcd{-12345678901234, 4},
        TBcd{123456789, 2},
        TSQLDate{1999, 12, 31},
        TSQLTime{23, 59, 58, 1234},
        TSQLTimeStamp{{2026, 2, 28}, {0, 0, 1, 9999}},
        std::string("日本"),
        std::string("キーワード; --'\"select"),
        true,
        memo,
        TBytes{binary},
        TBytes{std::string("\x00\x01\x02\x03", 4)},
    };
    EXPECT_EQ(
        connection->Execute("insert into ALL_TYPES values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", row),
        1u);
    EXPECT_EQ(connection->QuoteChar(), "\"") << "known once connected";
    // And a row of nulls beside the key.
    std::vector<TValue> nulls(row.size());
    nulls[0] = std::int64_t(8);
    connection->Execute("insert into ALL_TYPES values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", nulls);

    std::unique_ptr<TSQLResultSet> rows;
    connection->Execute("select * from ALL_TYPES order by C_SMALLINT", {}, &rows);
    TDrvReader& reader = rows->Reader();

    const ExpectedColumn expected[] = {
        {"C_SMALLINT", TDrvDataType::Int16, TDrvSubType::None, 4, 0, false, false},
        {"C_INTEGER", TDrvDataType::Int32, TDrvSubType::None, 9, 0, true, false},
        {"C_BIGINT", TDrvDataType::Int64, TDrvSubType::None, 18, 0, true, false},
        {"C_FLOAT", TDrvDataType::Single, TDrvSubType::None, 7, 0, true, false},
        {"C_DOUBLE", TDrvDataType::Double, TDrvSubType::None, 15, 0, true, false},
        {"C_NUMERIC", TDrvDataType::Bcd, TDrvSubType::None, 18, 4, true, false},
        {"C_DECIMAL", TDrvDataType::Bcd, TDrvSubType::None, 9, 2, true, false},
        {"C_DATE", TDrvDataType::Date, TDrvSubType::None, 0, 0, true, false},
        {"C_TIME", TDrvDataType::Time, TDrvSubType::None, 0, 0, true, false},
        {"C_TIMESTAMP", TDrvDataType::TimeStamp, TDrvSubType::None, 0, 0, true, false},
        {"C_CHAR", TDrvDataType::AnsiString, TDrvSubType::FixedChar, 5, 0, true, false},
        {"C_VARCHAR", TDrvDataType::AnsiString, TDrvSubType::None, 30, 0, true, false},
        {"C_BOOLEAN", TDrvDataType::Boolean, TDrvSubType::None, 0, 0, true, false},
        {"C_MEMO", TDrvDataType::Blob, TDrvSubType::Memo, 1, 0, true, false},
        {"C_BINARY", TDrvDataType::Blob, TDrvSubType::Binary, 1, 0, true, false},
        {"C_OCTETS", TDrvDataType::Bytes, TDrvSubType::None, 4, 0, true, false},
        {"C_COMPUTED", TDrvDataType::Int64, TDrvSubType::None, 18, 0, true, true},
    };
    ASSERT_EQ(reader.ColumnCount(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < reader.ColumnCount(); ++i) {
        const TDrvColumnDesc& column = reader.Column(i);
        const ExpectedColumn& want = expected[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(column.name, want.name);
        EXPECT_EQ(column.type, want.type);
        EXPECT_EQ(column.subType, want.subType);
        EXPECT_EQ(column.precision, want.precision);
        EXPECT_EQ(column.scale, want.scale);
        EXPECT_EQ(column.nullable, want.nullable);
        EXPECT_EQ(column.readOnly, want.readOnly);
    }

    ASSERT_TRUE(reader.Next());
    for (size_t i = 0; i < row.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        TValue value = reader.GetValue(static_cast<int>(i));
        if (i == 10) // CHAR(5) comes back padded to its length
            EXPECT_EQ(value, TValue(std::string("日本   ")));
        else
            EXPECT_EQ(value, row[i]);
    }
    // The typed readers give what GetValue gives.
    EXPECT_EQ(reader.GetBlobLength(13), 70000);
    EXPECT_EQ(reader.GetBlob(13), memo);
    EXPECT_EQ(reader.GetBytes(11), "キーワード; --'\"select");
    EXPECT_EQ(reader.GetTimeStamp(9), (TSQLTimeStamp{{2026, 2, 28}, {0, 0, 1, 9999}}));
    EXPECT_EQ(reader.GetBcd(5), (TBcd{-12345678901234, 4}));
    EXPECT_EQ(reader.GetInt64(2), 9007199254740993);
    EXPECT_EQ(reader.GetDouble(5), -1234567890.1234);
    ASSERT_TRUE(reader.Next());
    for (int i = 1; i < reader.ColumnCount(); ++i) {
        EXPECT_TRUE(reader.IsNull(i)) << expected[i].name;
        EXPECT_TRUE(IsNull(reader.GetValue(i)));
    }
    EXPECT_EQ(reader.GetBlobLength(13), 0);
    EXPECT_FALSE(reader.Next());
}

TEST(Statements, CharacterSetDecidesNarrowOrWideTextAndTrimCharTrims) {
    test::TempDir dir;
    std::string db = dir.File("charset.fdb");
    test::CreateDatabase(db, {"create table T (C char(4), V varchar(10), M blob sub_type text)",
                              "insert into T values ('あ', 'データ', 'メモ')"});
    struct Case {
        const char* label;
        std::vector<std::string> extra;
        TDrvDataType text;
        TDrvSubType memo;
        std::string fixed;
    };
    const Case cases[] = {
        {"no character set", {}, TDrvDataType::AnsiString, TDrvSubType::Memo, "あ   "},
        {"UTF8", {"ServerCharSet=UTF8"}, TDrvDataType::WideString, TDrvSubType::WideMemo, "あ   "},
        {"trimmed",
         {"ServerCharSet=UTF8", "TrimChar=True"},
         TDrvDataType::WideString,
         TDrvSubType::WideMemo,
         "あ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto connection = test::MakeConnection(db);
        for (const auto& line : c.extra)
            connection->Params().Add(line);
        std::unique_ptr<TSQLResultSet> rows;
        connection->Execute("select C, V, M from T", {}, &rows);
        TDrvReader& reader = rows->Reader();
        EXPECT_EQ(reader.Column(0).type, c.text);
        EXPECT_EQ(reader.Column(0).precision, 4);
        EXPECT_EQ(reader.Column(1).precision, 10);
        EXPECT_EQ(reader.Column(2).subType, c.memo);
        ASSERT_TRUE(reader.Next());
        EXPECT_EQ(reader.GetBytes(0), c.fixed);
        EXPECT_EQ(reader.GetBytes(1), "データ");
        EXPECT_EQ(reader.GetBlob(2), "メモ");
    }
}

TEST(Statements, ManyExecutionsReuseOnePreparedStatement) {
    test::TempDir dir;
    std::string db = dir.File("many.fdb");
    test::CreateDatabase(db,
                         {"create table T (ID integer not null primary key, NAME varchar(20))"});
    auto connection = test::MakeConnection(db);
    std::unique_ptr<TSQLResultSet> rows;
    connection->Execute("select current_connection from rdb$database", {}, &rows);
    ASSERT_TRUE(rows->Next());
    const std::int64_t attachment = rows->Reader().GetInt64(0);
    rows.reset();
    // The engine's own view of the statements this attachment holds prepared for a text: a
    // statement prepared again would show under a new id.
    auto watcher = test::MakeConnection(db, "Watcher");
    auto preparedIds = [&](const std::string& text) {
        std::unique_ptr<TSQLResultSet> seen;
        watcher->Execute("select MON$STATEMENT_ID from MON$STATEMENTS"
                         " where MON$ATTACHMENT_ID = ? and MON$SQL_TEXT = ?"
                         " and char_length(MON$SQL_TEXT) = ? order by MON$STATEMENT_ID",
                         {attachment, text, static_cast<std::int64_t>(text.size())}, &seen);
        std::vector<std::int64_t> ids;
        while (seen->Next())
            ids.push_back(seen->Reader().GetInt64(0));
        return ids;
    };
    const std::string insert = "insert into T values (?, ?)";
    connection->StartTransaction(TTransactionDesc{1});
    std::vector<std::int64_t> first;
    for (int i = 0; i < 2000; ++i) {
        // Texts of different lengths and a null keep using the same statement.
        TValue name = i % 7 == 0 ? TValue() : TValue(std::string(static_cast<size_t>(i % 20), 'x'));
        connection->Execute(insert, {std::int64_t(i), name});
        if (i == 0)
            first = preparedIds(insert);
    }
    connection->Commit(TTransactionDesc{1});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(preparedIds(insert), first);
    EXPECT_EQ(connection->Execute("update T set NAME = 'y' where ID >= ?", {std::int64_t(0)}),
              2000u);
    // A value longer than the column is refused by the database, not cut.
    EXPECT_THROW(connection->Execute("update T set NAME = ? where ID = 1", {std::string(21, 'z')}),
                 TDriverError);
    // A wrong number of parameters is refused before anything runs.
    EXPECT_THROW(connection->Execute("update T set NAME = ? where ID = ?", {std::string("a")}),
                 TDriverError);
    // Integers at the edges of the column's width go in; one past them is refused by the
    // database, and the statement still takes fitting values afterwards.
    const std::int64_t edges[] = {INT32_MIN, INT32_MAX};
    for (std::int64_t id : edges)
        EXPECT_EQ(connection->Execute("insert into T values (?, ?)", {id, TValue()}), 1u);
    for (std::int64_t id : {std::int64_t(INT32_MAX) + 1, std::int64_t(INT32_MIN) - 1})
        EXPECT_THROW(connection->Execute("insert into T values (?, ?)", {id, TValue()}),
                     TDriverError);
    EXPECT_EQ(connection->Execute("delete from T where ID = ? or ID = ?", {edges[0], edges[1]}),
              2u);
    // More texts than the connection keeps prepared, each run twice in a row, in two passes:
    // the second pass finds every statement dropped and prepares it again.
    auto update = [](std::size_t k) {
        return "update T set NAME = ? where ID = ?" + std::string(k, ' ');
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t k = 0; k < 100; ++k)
            for (int again = 0; again < 2; ++again)
                EXPECT_EQ(connection->Execute(update(k), {std::string("k"), std::int64_t(k)}), 1u)
                    << k;
        // The oldest texts were let go in the engine too; the newest one is held once.
        EXPECT_TRUE(preparedIds(update(0)).empty()) << pass;
        EXPECT_EQ(preparedIds(update(99)).size(), 1u) << pass;
    }
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = test::TestServer::FromEnvironment();
        if (!server.Available())
            GTEST_SKIP() << "no test server (scripts/test.sh starts one)";
        database = server.Database(dir.File("server.fdb"));
        TParamList props{"Database=" + database, "User_Name=SYSDBA", "Password=" + server.password};
        auto created = TDrvConnection::CreateDatabase(props);
        auto transaction = created->BeginTransaction(TDrvIsolation::ReadCommitted);
        created->ExecuteImmediate(*transaction, "create table T (ID integer, NAME varchar(10))");
        transaction->Commit();
    }
    test::TempDir dir;
    test::TestServer server;
    std::string database;
};

TEST_F(ServerTest, WrongPasswordIsRefusedWithTheServersTextThenARetrySucceeds) {
    auto connection = test::MakeConnection(database);
    connection->Params().SetValueOfName("Password", "not-the-password");
    try {
        connection->SetConnected(true);
        FAIL() << "a wrong password was accepted";
    } catch (const TDriverError& error) {
        EXPECT_NE(error.Message().find("user name and password are not defined"), std::string::npos)
            << error.Message();
        EXPECT_EQ(error.ErrorCode(), 335544472); // the server's login error
    }
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);

    connection->Params().SetValueOfName("Password", server.password);
    connection->SetConnected(true);
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(connection->Execute("insert into T values (?, ?)",
                                  {std::int64_t(1), std::string("server")}),
              1u);
}

TEST_F(ServerTest, UnreachableServerFailsTheOpening) {
    auto connection = test::MakeConnection("localhost/1:" + dir.File("server.fdb"));
    connection->Params().SetValueOfName("Password", server.password);
    try {
        connection->SetConnected(true);
        FAIL() << "an unreachable server was reached";
    } catch (const TDriverError& error) {
        EXPECT_NE(error.Message().find("Unable to complete network request"), std::string::npos)
            << error.Message();
    }
    EXPECT_FALSE(connection->Connected());
}

} // namespace
