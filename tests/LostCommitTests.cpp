// An apply whose link to the server is lost at the commit: the answer to the commit dropped (the
// server committed), the link cut just before it (it did not), and the link cut while the rows
// are read back after it. The next click finds out what happened from the rows and leaves the
// database holding every change exactly once.
#include "Errors.h"
#include "PrivateServer.h"
#include "Relay.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

using namespace sorvanto;
using sorvanto::test::PrivateServer;
using sorvanto::test::TcpRelay;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

class LostCommit : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<PrivateServer>(dir.File("server"));
        if (!server->Start())
            GTEST_SKIP() << "the private server could not start";
        relay = std::make_unique<TcpRelay>(std::stoi(server->port));
        path = dir.File("lost.fdb");
        TParamList props{"Database=" + server->Database(path), "User_Name=SYSDBA",
                         "Password=" + server->password};
        auto created = TDrvConnection::CreateDatabase(props);
        for (const char* sql :
             {"create table T (ID integer not null primary key, NAME varchar(40), "
              "FILLED varchar(60))",
              // Every change the table takes, once each: a change that arrived twice shows.
              "create table LOG (OP char(1), ID integer)",
              "create trigger T_FILL for T before insert or update as begin "
              "new.FILLED = 'by the table: ' || new.NAME; end",
              "create trigger T_LOG for T after insert or update or delete as begin "
              "insert into LOG values (case when inserting then 'I' when updating then 'U' "
              "else 'D' end, coalesce(new.ID, old.ID)); end"}) {
            auto transaction = created->BeginTransaction(TDrvIsolation::ReadCommitted);
            created->ExecuteImmediate(*transaction, sql);
            transaction->Commit();
        }
        check = test::MakeConnection(server->Database(path), "Check");
        check->Params().Add("Password=" + server->password);
    }

    // The table's rows 1..n, then a view of it through the relay with `changes` changes of each
    // kind pending: names changed, rows deleted, rows inserted.
    void Prepare(int changes) {
        check->Execute("execute block as declare i integer = 1; begin while (i <= " +
                           std::to_string(2 * changes) +
                           ") do begin insert into T (ID, NAME) values (:i, 'row ' || :i); "
                           "i = i + 1; end end",
                       {});
        check->Execute("delete from LOG", {});
        ds = test::MakeTable("localhost/" + std::to_string(relay->Port()) + ":" + path, "T");
        ds->Connection().Params().Add("Password=" + server->password);
        ds->Open();
        for (int i = 1; i <= changes; ++i) {
            ds->SetRecNo(i);
            ds->Edit();
            ds->FieldByName("NAME").SetValue("changed " + std::to_string(i));
            ds->Post();
        }
        for (int i = 0; i < changes; ++i) {
            ds->SetRecNo(changes + 1);
            ds->Delete();
        }
        for (int i = 1; i <= changes; ++i) {
            ds->Append();
            ds->FieldByName("ID").SetValue(std::int64_t(100000 + i));
            ds->FieldByName("NAME").SetValue("new " + std::to_string(i));
            ds->Post();
        }
        ASSERT_EQ(ds->ChangeCount(), 3 * changes);
        // Called before each change is sent and, with every change sent, before the commit.
        ds->OnProgress = [this](TProgressKind kind, std::int64_t sent, std::int64_t total) {
            if (kind == TProgressKind::pkApplying && sent == total && atCommit) {
                atCommit();
                atCommit = nullptr;
            }
            return true;
        };
    }

    std::int64_t Count(const std::string& sql) {
        std::unique_ptr<TSQLResultSet> rows;
        check->Execute(sql, {}, &rows);
        EXPECT_TRUE(rows->Next());
        return rows->Reader().GetInt64(0);
    }
    // The database holds every change of Prepare(changes) exactly once.
    void ExpectEveryChangeOnce(int changes) {
        EXPECT_EQ(Count("select count(*) from LOG"), 3 * changes);
        EXPECT_EQ(Count("select count(*) from (select OP, ID from LOG group by OP, ID "
                        "having count(*) > 1)"),
                  0);
        EXPECT_EQ(Count("select count(*) from T where NAME starting with 'changed '"), changes);
        EXPECT_EQ(Count("select count(*) from T where ID > " + std::to_string(changes) +
                        " and ID <= " + std::to_string(2 * changes)),
                  0);
        EXPECT_EQ(Count("select count(*) from T where ID > 100000"), changes);
    }

    test::TempDir dir;
    std::unique_ptr<PrivateServer> server;
    std::unique_ptr<TcpRelay> relay;
    std::string path;
    std::unique_ptr<TSQLConnection> check;
    std::unique_ptr<TSimpleDataSet> ds;
    std::function<void()> atCommit;
};

TEST_F(LostCommit, AnAnswerLostAfterTheCommitIsSettledFromTheRowsWithoutSendingAgain) {
    constexpr int kEach = 1000;
    Prepare(kEach);
    atCommit = [this] { relay->DropNextAnswer(); };
    auto started = std::chrono::steady_clock::now();
    // The outcome is not known: no failure, every change awaits confirmation.
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    const double sending = Seconds(started);
    EXPECT_EQ(relay->Cuts(), 1);
    EXPECT_EQ(ds->ChangeCount(), 3 * kEach);
    EXPECT_EQ(ds->UnconfirmedCount(), 3 * kEach);
    EXPECT_EQ(ds->RefusedCount(), 0);
    // The server did commit: the rows hold every change already.
    ExpectEveryChangeOnce(kEach);
    // A row awaiting confirmation cannot be changed meanwhile.
    ds->SetRecNo(1);
    EXPECT_THROW(ds->Edit(), EDatabaseError);
    EXPECT_FALSE(ds->FieldNotEditable(ds->FieldByName("NAME")).empty());

    started = std::chrono::steady_clock::now();
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    const double settling = Seconds(started);
    std::printf("sending %d changes took %.2f s; the click that settled them %.2f s\n", 3 * kEach,
                sending, settling);
    EXPECT_EQ(ds->ChangeCount(), 0);
    ExpectEveryChangeOnce(kEach);
    // The rows show what the table wrote itself.
    ds->SetRecNo(1);
    EXPECT_EQ(std::get<std::string>(ds->FieldByName("FILLED").Value()), "by the table: changed 1");
}

TEST_F(LostCommit, ALinkCutJustBeforeTheCommitSendsEverythingAgainOnce) {
    constexpr int kEach = 100;
    Prepare(kEach);
    atCommit = [this] { relay->CutNow(); };
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->UnconfirmedCount(), 3 * kEach);
    // Nothing arrived.
    EXPECT_EQ(Count("select count(*) from LOG"), 0);

    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);
    ExpectEveryChangeOnce(kEach);
}

TEST_F(LostCommit, ALinkCutWhileTheRowsAreReadBackEndsTheReadingAndTheNextClickReadsThem) {
    constexpr int kEach = 100;
    Prepare(kEach);
    // Every statement shows the busy pointer first: the first one after the commit is cut off.
    bool committed = false;
    atCommit = [&] { committed = true; };
    SetConnectionUi({[&] {
                         if (committed) {
                             committed = false;
                             relay->CutNow();
                         }
                     },
                     nullptr, nullptr});
    struct ResetUi {
        ~ResetUi() { SetConnectionUi({}); }
    } resetUi;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    std::printf("the apply with its reading back cut off ended after %.2f s\n", Seconds(started));
    // The commit stands.
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_EQ(relay->Cuts(), 1);
    ExpectEveryChangeOnce(kEach);
    // Row 1 still shows what the table wrote before the change.
    ds->SetRecNo(1);
    EXPECT_EQ(std::get<std::string>(ds->FieldByName("FILLED").Value()), "by the table: row 1");

    // The next click has nothing to send, and reads the rows the last one could not.
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    ds->SetRecNo(1);
    EXPECT_EQ(std::get<std::string>(ds->FieldByName("FILLED").Value()), "by the table: changed 1");
    ExpectEveryChangeOnce(kEach);
}

TEST_F(LostCommit, ARowThatNowHoldsAThirdValueIsRefusedAsUnconfirmable) {
    constexpr int kEach = 10;
    Prepare(kEach);
    atCommit = [this] { relay->CutNow(); };
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    ASSERT_EQ(ds->UnconfirmedCount(), 3 * kEach);
    // Meanwhile another user changes a row this apply changed too.
    check->Execute("update T set NAME = 'someone else' where ID = 1", {});
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    ASSERT_EQ(ds->ChangeCount(), 1);
    EXPECT_EQ(ds->UnconfirmedCount(), 0);
    const TChange* refused = ds->Engine().ChangeAt(0);
    ASSERT_NE(refused, nullptr);
    EXPECT_NE(refused->refusal.find("確かめられませんでした"), std::string::npos)
        << refused->refusal;
    EXPECT_EQ(Count("select count(*) from T where NAME = 'someone else'"), 1);
}

} // namespace
