#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace sorvanto;

namespace {

TEST(CachedDataSetSmoke, OpensMovesEditsAndDeletes) {
    test::TempDir dir;
    std::string db = dir.File("ds.fdb");
    test::CreateDatabase(db, {"create table T (ID integer not null primary key, NAME varchar(20))",
                              "insert into T values (1, 'a')", "insert into T values (2, 'b')",
                              "insert into T values (3, 'c')"});
    auto ds = test::OpenTable(db, "T");
    EXPECT_EQ(ds->DataSet().TableSelectText(), " select * from \"T\"");
    EXPECT_EQ(ds->RecordCount(), 3);
    EXPECT_EQ(ds->RecNo(), 1);
    EXPECT_EQ(ds->DataSet().KeyFields(), std::vector<std::string>{"ID"});
    EXPECT_TRUE(ds->FieldByName("ID").Required());
    ds->Next();
    EXPECT_EQ(ds->FieldByName("NAME").Value(), TValue(std::string("b")));
    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("bb"));
    ds->Post();
    EXPECT_EQ(ds->ChangeCount(), 1);
    ds->Delete(); // the modified row's change becomes its delete
    EXPECT_EQ(ds->ChangeCount(), 1);
    EXPECT_EQ(ds->RecordCount(), 2);
    EXPECT_EQ(ds->FieldByName("ID").Value(), TValue(std::int64_t(3)));
    ds->Close();
    EXPECT_EQ(ds->ChangeCount(), 0);
}

} // namespace
