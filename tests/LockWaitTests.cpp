// A change to a row that another transaction holds waits a bounded time, fails with the
// database's lock-conflict text, stays pending, and goes through once the other side lets go.
#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

using namespace sorvanto;

namespace {

TEST(LockWait, AHeldRowFailsTheChangeAfterTheBoundedWaitAndItStaysPending) {
    test::TempDir dir;
    const std::string db = dir.File("locks.fdb");
    test::CreateDatabase(db,
                         {"create table T (ID integer not null primary key, NAME varchar(20))",
                          "insert into T values (1, 'one')", "insert into T values (2, 'two')"});
    auto ds = test::OpenTable(db, "T");
    ASSERT_EQ(ds->Connection().ConnectionProperties().ValueOfName("WaitOnLocks"), "True");

    // The other side changes row 1 and keeps its transaction open.
    auto holder = test::MakeConnection(db, "Holder");
    holder->SetConnected(true);
    holder->BeginTransaction();
    ASSERT_EQ(holder->Execute("update T set NAME = 'held' where ID = 1", {}), 1u);

    ds->SetRecNo(1);
    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("mine"));
    ds->Post();
    ds->SetRecNo(2);
    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("free"));
    ds->Post();
    std::string message;
    ds->OnReconcileError = [&](TSimpleDataSet&, EReconcileError& error, TUpdateKind,
                               TReconcileAction&) { message = error.Message(); };
    // Without a bound this would wait for the holder, which only lets go after the apply.
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    std::printf("the apply gave up on the held row after %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    EXPECT_NE(message.find("update conflicts with concurrent update"), std::string::npos)
        << message;
    EXPECT_EQ(ds->ChangeCount(), 1);
    EXPECT_FALSE(ds->Connection().InTransaction());

    holder->EndInnermostTransaction(false);
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);
    std::unique_ptr<TSQLResultSet> rows;
    holder->Execute("select NAME from T order by ID", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(0), TValue(std::string("mine")));
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(0), TValue(std::string("free")));
}

} // namespace
