#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace sorvanto;

TEST(Smoke, EmbeddedRoundTrip) {
    test::TempDir dir;
    std::string db = dir.File("smoke.fdb");
    test::CreateDatabase(db, {"create table T (ID integer not null primary key, NAME varchar(20), "
                              "MEMO blob sub_type text, TS timestamp, AMOUNT numeric(10,2))"});
    auto connection = test::MakeConnection(db);
    connection->SetConnected(true);
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(connection->QuoteChar(), "\"");
    EXPECT_EQ(1u,
              connection->Execute("insert into T values (?, ?, ?, ?, ?)",
                                  {std::int64_t(1), std::string("データ"), std::string(5000, 'x'),
                                   TSQLTimeStamp{{2026, 12, 10}, {4, 5, 6, 7}}, TBcd{12345, 2}}));
    std::unique_ptr<TSQLResultSet> rows;
    connection->Execute("select * from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetInt64(0), 1);
    EXPECT_EQ(rows->Reader().GetBytes(1), "データ");
    EXPECT_EQ(rows->Reader().GetBlob(2).size(), 5000u);
    EXPECT_EQ(rows->Reader().GetBlobLength(2), 5000);
    EXPECT_EQ(rows->Reader().GetTimeStamp(3), (TSQLTimeStamp{{2026, 12, 10}, {4, 5, 6, 7}}));
    EXPECT_EQ(rows->Reader().GetBcd(4), (TBcd{12345, 2}));
    EXPECT_FALSE(rows->Next());
}
