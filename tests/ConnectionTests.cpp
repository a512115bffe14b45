#include "DriverRegistry.h"
#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace sorvanto;

namespace {

// A dataset stand-in that records what its connection tells it.
class RecordingClient : public TConnectionClient {
public:
    explicit RecordingClient(std::vector<std::string>& log) : log_(log) {}
    bool ClientActive() const override { return active; }
    void CloseForConnection() override {
        log_.push_back("close dataset");
        active = false;
    }
    void ConnectionChanged(TCustomConnection&, bool connecting) override {
        log_.push_back(connecting ? "dataset: connected" : "dataset: disconnecting");
    }
    bool active = false;

private:
    std::vector<std::string>& log_;
};

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = dir.File("conn.fdb");
        test::CreateDatabase(db, {"create table T (ID integer not null primary key, NAME "
                                  "varchar(40))",
                                  "insert into T values (1, 'one')"});
    }
    int CountRows(TSQLConnection& connection) {
        std::unique_ptr<TSQLResultSet> rows;
        connection.Execute("select count(*) from T", {}, &rows);
        rows->Next();
        return static_cast<int>(rows->Reader().GetInt64(0));
    }
    test::TempDir dir;
    std::string db;
};

TEST_F(ConnectionTest, OpensAndClosesWithEventsInOrder) {
    std::vector<std::string> log;
    auto connection = test::MakeConnection(db);
    RecordingClient client(log);
    connection->RegisterClient(&client);
    connection->BeforeConnect = [&](TComponent*) {
        log.push_back("BeforeConnect " + std::to_string(int(connection->ConnectionState())));
    };
    connection->AfterConnect = [&](TComponent*) { log.push_back("AfterConnect"); };
    connection->BeforeDisconnect = [&](TComponent*) { log.push_back("BeforeDisconnect"); };
    connection->AfterDisconnect = [&](TComponent*) { log.push_back("AfterDisconnect"); };

    connection->SetConnected(true);
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateOpen);
    EXPECT_EQ(connection->QuoteChar(), "\"");
    EXPECT_TRUE(connection->TransactionsSupported());
    EXPECT_TRUE(connection->MultipleTransactionsSupported());
    EXPECT_EQ(connection->MaxStmtsPerConn(), 0);
    EXPECT_EQ(connection->GetLoginUsername(), "SYSDBA");

    connection->SetConnected(true); // no second attachment, no events
    client.active = true;
    connection->SetConnected(false);
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);
    connection->SetConnected(false);

    std::vector<std::string> expected = {
        "BeforeConnect 0",        "dataset: connected", "AfterConnect",   "BeforeDisconnect",
        "dataset: disconnecting", "close dataset",      "AfterDisconnect"};
    EXPECT_EQ(log, expected);
    connection->UnRegisterClient(&client);
}

TEST_F(ConnectionTest, PropertySetFollowsParamsThenPropertiesThenDriverDefaults) {
    auto connection = std::make_unique<TSQLConnection>("SQLConnection1");
    connection->LoginPrompt = false;
    connection->SetDriverName("Firebird");
    connection->VendorLib = "fbclient.dll";
    connection->LibraryName = "fbdriver.dll";
    connection->GetDriverFunc = "getSQLDriverFIREBIRD";
    connection->Params() = TParamList{"drivername=Firebird", "Database=  " + db + "  ",
                                      "User_Name=SYSDBA", "Password=", "no separator"};
    connection->SetConnected(true);

    const TParamList& set = connection->ConnectionProperties();
    std::vector<std::string> head(set.Lines().begin(), set.Lines().begin() + 9);
    std::vector<std::string> expected = {"drivername=Firebird",
                                         "Database=" + db,
                                         "User_Name=SYSDBA",
                                         "Password=",
                                         "=",
                                         "DriverName=Firebird",
                                         "VendorLib=fbclient.dll",
                                         "LibraryName=fbdriver.dll",
                                         "GetDriverFunc=getSQLDriverFIREBIRD"};
    EXPECT_EQ(head, expected);
    // The driver's defaults fill in, in their order, only what the set does not hold.
    std::vector<std::string> tail(set.Lines().begin() + 9, set.Lines().end());
    std::vector<std::string> defaults;
    for (const auto& [name, value] : FirebirdDriverDefaults())
        if (set.IndexOfName(name) >= 9 || set.IndexOfName(name) < 0)
            defaults.push_back(name + "=" + value);
    EXPECT_EQ(tail, defaults);
    EXPECT_EQ(set.ValueOfName("Role"), "RoleName");
    // Params keep their own spelling and blanks.
    EXPECT_EQ(connection->Params().ValueOfName("database"), "  " + db + "  ");
}

TEST_F(ConnectionTest, MissingLoginEntriesTakeTheDriverDefaults) {
    auto connection = test::MakeConnection(db);
    connection->Params().Clear();
    EXPECT_THROW(connection->SetConnected(true), TDriverError);
    const TParamList& set = connection->ConnectionProperties();
    EXPECT_EQ(set.ValueOfName("Database"), "database.gdb");
    EXPECT_EQ(set.ValueOfName("User_Name"), "sysdba");
    EXPECT_EQ(set.ValueOfName("Password"), "quillbarn");
    EXPECT_EQ(connection->GetLoginUsername(), "sysdba");
    EXPECT_FALSE(connection->Connected());
}

TEST_F(ConnectionTest, FailedOpeningLeavesItClosedAndClearsTheLoadedFlag) {
    auto connection = test::MakeConnection(dir.File("missing.fdb"));
    connection->ParamsLoaded = true;
    TParamList before = connection->Params();
    try {
        connection->SetConnected(true);
        FAIL() << "opening a missing database succeeded";
    } catch (const TDriverError& error) {
        EXPECT_NE(error.Message().find("missing.fdb"), std::string::npos) << error.Message();
        EXPECT_NE(error.ErrorCode(), 0);
    }
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);
    EXPECT_FALSE(connection->ParamsLoaded);
    EXPECT_EQ(connection->Params(), before);

    // The same connection opens once the database is there.
    connection->Params().SetValueOfName("Database", db);
    connection->SetConnected(true);
    EXPECT_TRUE(connection->Connected());
}

TEST_F(ConnectionTest, ClosingAConnectionKeepsNothingLoaded) {
    auto connection = test::MakeConnection(db);
    connection->SetConnected(true);
    connection->ParamsLoaded = true;
    connection->SetConnected(false);
    EXPECT_FALSE(connection->ParamsLoaded);
    connection->ParamsLoaded = true;
    connection->SetConnected(false); // already closed: the flag stays
    EXPECT_TRUE(connection->ParamsLoaded);
}

struct OpeningFailure {
    const char* label;
    std::function<void(TSQLConnection&)> arrange;
    bool driverError;
    int code;
    std::string message;
};

TEST_F(ConnectionTest, OpeningFailuresCarryTheirClassCodeAndText) {
    const std::vector<OpeningFailure> cases = {
        {"no driver name", [](TSQLConnection& c) { c.SetDriverName(""); }, false, 0,
         "DriverName プロパティが指定されていません"},
        {"unknown driver", [](TSQLConnection& c) { c.SetDriverName("Oracle"); }, true, 22,
         "不明なドライバです:  Oracle"},
        {"driver named in Params", [](TSQLConnection& c) { c.Params().Add("DriverName=Sybase"); },
         true, 22, "不明なドライバです:  Sybase"},
        {"client library missing",
         [](TSQLConnection& c) { c.Params().Add("VendorLib=/nonexistent/libnothing.so"); }, true,
         22,
         "/nonexistent/libnothing.so をロードできません (エラー コード 2)。  "
         "システム パスに含まれていない可能性があります。"},
        {"library without the client entry point",
         [](TSQLConnection& c) { c.Params().Add("VendorLib=libm.so.6"); }, true, 22,
         "プロシージャ fb_get_master_interface が見つかりません"},
        {"stored profile missing",
         [](TSQLConnection& c) {
             c.SetConnectionName("FBDOCUMENTCONNECTION");
             c.LoadParamsOnConnect = true;
         },
         true, 29, "引数が無効です:  FBDOCUMENTCONNECTION"},
        {"NUL byte inside Database (the part before it names a database that exists)",
         [this](TSQLConnection& c) {
             c.Params().SetValueOfName("Database", db + std::string("\0.other.fdb", 11));
         },
         true, 29, "引数が無効です:  Database の値に NUL 文字が含まれています"},
        {"NUL byte inside User_Name",
         [](TSQLConnection& c) {
             c.Params().SetValueOfName("User_Name", std::string("SYSDBA\0x", 8));
         },
         true, 29, "引数が無効です:  User_Name の値に NUL 文字が含まれています"},
        {"login cancelled",
         [](TSQLConnection& c) {
             c.SetConnectionName("FBDOCUMENTCONNECTION");
             c.LoginPrompt = true;
         },
         false, 0, "データベース 'FBDOCUMENTCONNECTION' に接続できません"},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.label);
        auto connection = test::MakeConnection(db);
        failure.arrange(*connection);
        try {
            connection->SetConnected(true);
            ADD_FAILURE() << "opening succeeded";
        } catch (const TDriverError& error) {
            EXPECT_TRUE(failure.driverError);
            EXPECT_EQ(error.ErrorCode(), failure.code);
            EXPECT_EQ(error.Message(), failure.message);
        } catch (const EDatabaseError& error) {
            EXPECT_FALSE(failure.driverError);
            EXPECT_EQ(error.Message(), failure.message);
        }
        EXPECT_FALSE(connection->Connected());
        EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);
    }
}

TEST_F(ConnectionTest, LoginHandlerChangesWhatIsAttached) {
    auto connection = test::MakeConnection(dir.File("elsewhere.fdb"));
    connection->LoginPrompt = true;
    connection->OnLogin = [&](TComponent*, TParamList& login) {
        EXPECT_EQ(login.ValueOfName("User_Name"), "SYSDBA");
        login.SetValueOfName("Database", db);
        login.SetValueOfName("User_Name", "ALICE");
    };
    connection->SetConnected(true);
    EXPECT_EQ(connection->ConnectionProperties().ValueOfName("Database"), db);
    EXPECT_EQ(connection->GetLoginUsername(), "ALICE");
}

TEST_F(ConnectionTest, ChangingParamsOrDriverWhileOpenIsRefused) {
    auto connection = test::MakeConnection(db);
    connection->SetConnected(true);
    const std::string refused = "SQLConnection1: 接続が開かれているため、この操作は実行できません";
    try {
        connection->SetParams(TParamList{"Database=x"});
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), refused);
    }
    try {
        connection->SetDriverName("Other");
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), refused);
    }
    EXPECT_EQ(connection->Params().ValueOfName("Database"), db);
}

TEST_F(ConnectionTest, StoredConnectedOpensWhenLoadingCompletes) {
    auto connection = test::MakeConnection(db);
    connection->BeginLoading();
    connection->SetConnected(true);
    EXPECT_FALSE(connection->Connected());
    connection->EndLoading();
    EXPECT_TRUE(connection->Connected());
}

TEST_F(ConnectionTest, SettingConnectionNameClosesAndClearsTheFlag) {
    std::vector<std::string> log;
    auto connection = test::MakeConnection(db);
    RecordingClient client(log);
    connection->RegisterClient(&client);
    connection->SetConnectionName("A");
    connection->SetConnected(true);
    connection->ParamsLoaded = true;
    connection->SetConnectionName("A");
    EXPECT_TRUE(connection->Connected());
    EXPECT_TRUE(connection->ParamsLoaded);
    connection->SetConnectionName("a");
    EXPECT_FALSE(connection->Connected());
    EXPECT_FALSE(connection->ParamsLoaded);
    connection->UnRegisterClient(&client);
}

TEST_F(ConnectionTest, TransactionsNestAndEndInnermostFirst) {
    auto connection = test::MakeConnection(db);
    EXPECT_EQ(connection->BeginTransaction(), nullptr); // never open: nothing happens
    EXPECT_FALSE(connection->Connected());

    connection->SetConnected(true);
    connection->SetConnected(false);
    ASSERT_NE(connection->BeginTransaction(), nullptr); // open before: opens again
    EXPECT_TRUE(connection->Connected());
    connection->Execute("insert into T values (2, 'two')", {});
    ASSERT_NE(connection->BeginTransaction(), nullptr);
    EXPECT_EQ(connection->TransactionCount(), 2);

    connection->EndInnermostTransaction(true);
    EXPECT_EQ(connection->TransactionCount(), 1);
    EXPECT_TRUE(connection->InTransaction());
    connection->EndInnermostTransaction(false); // rolls back row 2
    EXPECT_FALSE(connection->InTransaction());
    EXPECT_EQ(CountRows(*connection), 1);

    try {
        connection->Commit(TTransactionDesc{1});
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), "SQLConnection1: 有効なトランザクションがありません");
    }
}

TEST_F(ConnectionTest, CommitAndRollbackByTransactionId) {
    auto connection = test::MakeConnection(db);
    TTransactionDesc first{1}, second{2};
    connection->StartTransaction(first); // opens on demand
    connection->Execute("insert into T values (2, 'two')", {});
    connection->StartTransaction(second);
    connection->Execute("insert into T values (3, 'three')", {});
    // Committing the outer one drops the inner one above it, which rolls back.
    connection->Commit(first);
    EXPECT_EQ(connection->TransactionCount(), 1);
    EXPECT_EQ(CountRows(*connection), 2);
}

TEST_F(ConnectionTest, AScopedTransactionRollsBackUnlessCommittedAndEndsOnce) {
    auto connection = test::MakeConnection(db);
    connection->SetConnected(true);
    {
        TTransactionScope scope(*connection);
        connection->Execute("insert into T values (2, 'two')", {});
        EXPECT_TRUE(connection->InTransaction());
    }
    EXPECT_FALSE(connection->InTransaction());
    EXPECT_EQ(CountRows(*connection), 1) << "not committed: rolled back";
    {
        TTransactionScope scope(*connection);
        connection->Execute("insert into T values (3, 'three')", {});
        scope.Commit();
        EXPECT_FALSE(scope.Open());
        EXPECT_THROW(scope.Rollback(), std::logic_error);
    }
    EXPECT_EQ(CountRows(*connection), 2);
    TTransactionScope scope(*connection);
    scope.Rollback();
    EXPECT_THROW(scope.Commit(), std::logic_error);
}

TEST_F(ConnectionTest, ClosingRollsBackOpenTransactions) {
    auto connection = test::MakeConnection(db);
    connection->StartTransaction(TTransactionDesc{1});
    connection->Execute("insert into T values (2, 'two')", {});
    connection->SetConnected(false);
    EXPECT_FALSE(connection->InTransaction());
    EXPECT_EQ(connection->TransactionCount(), 0);
    connection->SetConnected(true);
    EXPECT_EQ(CountRows(*connection), 1);
}

TEST_F(ConnectionTest, TransactionOnClosedConnectionIsRefused) {
    auto refusal = [](const std::function<void()>& operation) {
        try {
            operation();
        } catch (const EDatabaseError& error) {
            return error.Message();
        }
        return std::string("(no error)");
    };
    // Starting a transaction opens the connection on demand; one that still cannot open (it is
    // being loaded) refuses the transaction and starts nothing.
    auto loading = test::MakeConnection(db);
    loading->BeginLoading();
    EXPECT_EQ(refusal([&] { loading->StartTransaction(TTransactionDesc{1}); }),
              "SQLConnection1: 接続が閉じているため、この操作は実行できません");
    EXPECT_FALSE(loading->Connected());
    EXPECT_FALSE(loading->InTransaction());

    // Closing the connection rolled its transaction back: ending it later finds none open.
    auto closed = test::MakeConnection(db);
    closed->SetConnected(true);
    closed->StartTransaction(TTransactionDesc{1});
    closed->SetConnected(false);
    EXPECT_EQ(refusal([&] { closed->Rollback(TTransactionDesc{1}); }),
              "SQLConnection1: 有効なトランザクションがありません");
    EXPECT_EQ(refusal([&] { closed->Commit(TTransactionDesc{1}); }),
              "SQLConnection1: 有効なトランザクションがありません");
}

TEST_F(ConnectionTest, ExecuteBindsPositionalAndNamedParameters) {
    auto connection = test::MakeConnection(db);
    EXPECT_EQ(connection->Execute("insert into T (ID, NAME) values (:ID, :NAME)",
                                  {std::int64_t(2), std::string("it's: two")}),
              1u);
    EXPECT_EQ(connection->Execute("update T set NAME = ? where ID = ? or NAME = ':ID'",
                                  {std::monostate{}, std::int64_t(1)}),
              1u);
    EXPECT_EQ(connection->Execute("update T set NAME = NAME", {}), 2u);
    std::unique_ptr<TSQLResultSet> rows;
    connection->Execute("select NAME from T where ID >= ? order by ID", {std::int64_t(1)}, &rows);
    EXPECT_EQ(rows->ParamNames(), std::vector<std::string>{"P1"});
    ASSERT_TRUE(rows->Next());
    EXPECT_TRUE(rows->Reader().IsNull(0));
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetBytes(0), "it's: two");
    EXPECT_FALSE(rows->Next());
}

TEST(NamedMarkers, ReplacedOnlyOutsideQuotesAndAfterASeparator) {
    struct Case {
        const char* sql;
        const char* expected;
    };
    const Case cases[] = {
        {"select * from T where A = :A and B=:B", "select * from T where A =  ?  and B= ? "},
        {"insert into T values (:A,:B)", "insert into T values ( ? , ? )"},
        {"select ':A' from T where X = :X", "select ':A' from T where X =  ? "},
        {"select \"a :b\" from T where X>:X\r\n", "select \"a :b\" from T where X> ? \r\n"},
        {"select a:b from T", "select a:b from T"},
        {"select * from T", "select * from T"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceNamedMarkers(c.sql, "\""), c.expected) << c.sql;
}

TEST_F(ConnectionTest, FailedExecuteLeavesConnectionAndTransactionOpen) {
    auto connection = test::MakeConnection(db);
    connection->StartTransaction(TTransactionDesc{1});
    try {
        connection->Execute("insert into NO_SUCH_TABLE values (1)", {});
        ADD_FAILURE();
    } catch (const TDriverError& error) {
        EXPECT_NE(error.Message().find("NO_SUCH_TABLE"), std::string::npos) << error.Message();
    }
    try {
        connection->Execute("insert into T values (1, 'duplicate')", {});
        ADD_FAILURE();
    } catch (const TDriverError& error) {
        EXPECT_NE(error.Message().find("PRIMARY or UNIQUE KEY"), std::string::npos)
            << error.Message();
    }
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateOpen);
    EXPECT_TRUE(connection->InTransaction());
}

TEST_F(ConnectionTest, ExecuteDirectOpensOnDemandAndCountsRows) {
    auto connection = test::MakeConnection(db);
    EXPECT_EQ(connection->ExecuteDirect("insert into T values (5, 'five')"), 1u);
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(connection->ExecuteDirect("delete from T"), 2u);
}

TEST_F(ConnectionTest, TwoProcessesShareTheEmbeddedDatabase) {
    auto connection = test::MakeConnection(db);
    connection->SetConnected(true);
    connection->Execute("insert into T values (2, 'parent')", {});
    // The peer process attaches to the same file while this attachment stays open.
    std::string command = std::string(SORVANTO_TEST_PEER) + " '" + db + "' 3 peer";
    FILE* peer = ::popen(command.c_str(), "r");
    ASSERT_NE(peer, nullptr);
    char output[256] = {};
    size_t n = std::fread(output, 1, sizeof output - 1, peer);
    int status = ::pclose(peer);
    EXPECT_EQ(status, 0) << std::string(output, n);
    EXPECT_EQ(std::string(output, n).rfind("rows: 3\nengine: shared ", 0), 0u)
        << std::string(output, n);
    EXPECT_EQ(CountRows(*connection), 3);
}

} // namespace

namespace {

TEST(DriverErrorCodes, HaveTheirTexts) {
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {
        {0, "なし"},
        {12, "ユーザー名またはパスワードが無効です"},
        {22, "ドライバを正しく初期化できませんでした。  クライアント ライブラリがないか、正しくイン"
             "ストールされていないか、バージョンが間違っています。"},
        {29, "引数が無効です"},
        {30, "Error Code:  30"},
        {100, "データがありません"},
        {101, "ベンダ エラーです"},
        {-1, "Error Code:  -1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorCodeToString(c.code), c.text) << c.code;
}

} // namespace
