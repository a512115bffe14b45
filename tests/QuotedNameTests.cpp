// Table and column names that hold the quote character itself.
#include "Errors.h"
#include "Resolver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace sorvanto;

namespace {

TEST(QuotedNames, ATableAndColumnWithAQuoteCharacterAreReadAndWritten) {
    test::TempDir dir;
    const std::string db = dir.File("quotes.fdb");
    test::CreateDatabase(db, {"create table \"A\"\"B\" (ID integer not null primary key,"
                              " \"C\"\"D\" varchar(10))",
                              "insert into \"A\"\"B\" values (1, 'one')",
                              "insert into \"A\"\"B\" values (2, 'two')"});
    auto ds = test::OpenTable(db, "A\"B");
    ASSERT_EQ(ds->RecordCount(), 2);
    ds->SetRecNo(1);
    ds->Edit();
    ds->FieldByName("C\"D").SetValue(std::string("changed"));
    ds->Post();
    ds->SetRecNo(2);
    ds->Delete();
    ds->Append();
    ds->FieldByName("ID").SetValue(std::int64_t(3));
    ds->FieldByName("C\"D").SetValue(std::string("three"));
    ds->Post();
    std::string failure;
    ds->OnReconcileError = [&](TSimpleDataSet&, EReconcileError& error, TUpdateKind,
                               TReconcileAction&) { failure += error.Message() + "\n"; };
    EXPECT_EQ(ds->ApplyUpdates(-1), 0) << failure;

    auto check = test::MakeConnection(db, "Check");
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select ID, \"C\"\"D\" from \"A\"\"B\" order by ID", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(1), TValue(std::string("changed")));
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(0), TValue(std::int64_t(3)));
    EXPECT_EQ(rows->Reader().GetValue(1), TValue(std::string("three")));
    EXPECT_FALSE(rows->Next());
}

} // namespace
