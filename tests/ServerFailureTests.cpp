// A server that dies in the middle of an apply: once it is back, the next apply opens the
// connection again and every pending change arrives, none twice.
#include "Errors.h"
#include "PrivateServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace sorvanto;
using sorvanto::test::PrivateServer;

namespace {

TEST(ServerFailure, AServerKilledDuringAnApplyLosesNothingAndDuplicatesNothing) {
    constexpr int kChanges = 10000;
    constexpr int kKillAtStatement = kChanges / 2;
    test::TempDir dir;
    PrivateServer server(dir.File("server"));
    if (!server.Start())
        GTEST_SKIP() << "the private server could not start; see " << dir.File("server.start.log");
    const std::string path = dir.File("lost.fdb");
    {
        TParamList props{"Database=" + server.Database(path), "User_Name=SYSDBA",
                         "Password=" + server.password};
        auto created = TDrvConnection::CreateDatabase(props);
        auto transaction = created->BeginTransaction(TDrvIsolation::ReadCommitted);
        // No key: an insert that arrived twice would show as a second row.
        created->ExecuteImmediate(*transaction, "create table T (ID integer, NAME varchar(20))");
        transaction->Commit();
    }
    auto ds = test::MakeTable(server.Database(path), "T");
    ds->Connection().Params().Add("Password=" + server.password);
    ds->Open();
    for (int i = 1; i <= kChanges; ++i) {
        ds->Append();
        ds->FieldByName("ID").SetValue(std::int64_t(i));
        ds->FieldByName("NAME").SetValue("row " + std::to_string(i));
        ds->Post();
    }

    // Every statement shows the busy pointer first: the server dies halfway through the apply.
    int statements = 0;
    SetConnectionUi({[&] {
                         if (++statements == kKillAtStatement) {
                             ASSERT_TRUE(server.Kill());
                         }
                     },
                     nullptr, nullptr});
    struct ResetUi {
        ~ResetUi() { SetConnectionUi({}); }
    } resetUi;
    auto started = std::chrono::steady_clock::now();
    try {
        ds->ApplyUpdates(-1);
        FAIL() << "the apply succeeded although the server died";
    } catch (const EDatabaseError& error) {
        std::printf(
            "apply with the server killed at statement %d failed after %.1f s: %s\n",
            kKillAtStatement,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
            error.what());
    }
    EXPECT_GE(statements, kKillAtStatement);
    EXPECT_EQ(ds->ChangeCount(), kChanges);
    EXPECT_FALSE(ds->Connection().Connected());

    // The server comes back on its port; the next apply opens the connection and writes it all.
    {
        test::ScopedEnv firstPort("SORVANTO_TEST_SERVER_FIRST_PORT", server.port.c_str());
        const std::string oldPort = server.port;
        ASSERT_TRUE(server.Start());
        if (server.port != oldPort)
            ds->Connection().Params().SetValueOfName("Database", server.Database(path));
    }
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    std::printf("the next apply wrote %d rows in %.1f s\n", kChanges,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_TRUE(ds->Connection().Connected());

    auto check = test::MakeConnection(server.Database(path), "Check");
    check->Params().Add("Password=" + server.password);
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select count(*), count(distinct ID), min(ID), max(ID) from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetInt64(0), kChanges);
    EXPECT_EQ(rows->Reader().GetInt64(1), kChanges);
    EXPECT_EQ(rows->Reader().GetInt64(2), 1);
    EXPECT_EQ(rows->Reader().GetInt64(3), kChanges);
    rows.reset();
    check.reset();

    // A server that died while nothing was being applied: the first apply fails and closes the
    // connection, the next one after the restart writes the change.
    ASSERT_TRUE(server.Kill());
    {
        test::ScopedEnv firstPort("SORVANTO_TEST_SERVER_FIRST_PORT", server.port.c_str());
        const std::string oldPort = server.port;
        ASSERT_TRUE(server.Start());
        ds->Edit();
        ds->FieldByName("NAME").SetValue(std::string("after idle"));
        ds->Post();
        EXPECT_THROW(ds->ApplyUpdates(-1), EDatabaseError);
        EXPECT_EQ(ds->ChangeCount(), 1);
        EXPECT_FALSE(ds->Connection().Connected());
        if (server.port != oldPort)
            ds->Connection().Params().SetValueOfName("Database", server.Database(path));
    }
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);
}

} // namespace
