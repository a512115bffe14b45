#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>

using namespace sorvanto;

namespace {

const char* EventName(TDataEvent event) {
    switch (event) {
    case TDataEvent::deFieldChange:
        return "FieldChange";
    case TDataEvent::deRecordChange:
        return "RecordChange";
    case TDataEvent::deDataSetChange:
        return "DataSetChange";
    case TDataEvent::deDataSetScroll:
        return "DataSetScroll";
    case TDataEvent::deUpdateRecord:
        return "UpdateRecord";
    case TDataEvent::deUpdateState:
        return "UpdateState";
    case TDataEvent::deCheckBrowseMode:
        return "CheckBrowseMode";
    case TDataEvent::deFocusControl:
        return "FocusControl";
    case TDataEvent::deReconcileError:
        return "ReconcileError";
    default:
        return "Other";
    }
}

// Watches a dataset as a data source would and writes down every event it hears.
class EventLog : public TDataSetObserver {
public:
    EventLog(TDataSet& dataSet, int bufferCount) : dataSet_(&dataSet), bufferCount_(bufferCount) {
        dataSet.AddObserver(this);
    }
    ~EventLog() override {
        if (dataSet_)
            dataSet_->RemoveObserver(this);
    }
    void DataEvent(TDataEvent event, std::intptr_t info) override {
        std::string entry = EventName(event);
        if (event == TDataEvent::deDataSetScroll)
            entry += " " + std::to_string(info);
        if ((event == TDataEvent::deFieldChange || event == TDataEvent::deFocusControl ||
             event == TDataEvent::deRecordChange) &&
            info != 0)
            entry += " " + reinterpret_cast<TField*>(info)->FieldName();
        events.push_back(entry);
    }
    int WantedBufferCount() const override { return bufferCount_; }
    TDataSet* ObservedDataSet() const override { return dataSet_; }
    void DataSetDestroyed(TDataSet*) override { dataSet_ = nullptr; }
    // The events heard while running the action.
    std::vector<std::string> During(const std::function<void()>& action) {
        events.clear();
        action();
        return events;
    }
    std::vector<std::string> events;

private:
    TDataSet* dataSet_;
    int bufferCount_;
};

std::int64_t Id(TSimpleDataSet& ds) {
    return std::get<std::int64_t>(ds.FieldByName("ID").Value());
}

// The IDs of the records in the window, the current one marked with "*".
std::string Window(TSimpleDataSet& ds) {
    std::ostringstream out;
    for (int row = 0; row < ds.WindowRecordCount(); ++row) {
        TValue id = ds.WindowValue(row, ds.FieldByName("ID"));
        out << (row ? " " : "")
            << (IsNull(id) ? std::string("new") : std::to_string(std::get<std::int64_t>(id)));
        if (row == ds.ActiveRecord())
            out << "*";
    }
    return out.str();
}

class TenRows : public ::testing::Test {
protected:
    void SetUp() override {
        db = dir.File("ten.fdb");
        std::initializer_list<std::string> ddl = {
            "create table T (ID integer not null primary key, NAME varchar(20), "
            "DOUBLED computed by (ID * 2))"};
        test::CreateDatabase(db, ddl);
        auto connection = test::MakeConnection(db);
        for (int i = 1; i <= 10; ++i)
            connection->Execute("insert into T (ID, NAME) values (?, ?)",
                                {std::int64_t(i), std::string("row ") + std::to_string(i)});
        ds = test::OpenTable(db, "T");
        log = std::make_unique<EventLog>(*ds, 5);
    }
    void TearDown() override {
        log.reset();
        ds.reset();
    }
    test::TempDir dir;
    std::string db;
    std::unique_ptr<TSimpleDataSet> ds;
    std::unique_ptr<EventLog> log;
};

using Events = std::vector<std::string>;

TEST_F(TenRows, MovingKeepsTheWindowRulesAndSendsTheirEvents) {
    EXPECT_EQ(ds->BufferCount(), 5);
    EXPECT_EQ(Window(*ds), "1* 2 3 4 5");
    EXPECT_TRUE(ds->Bof());
    EXPECT_EQ(log->During([&] { ds->Next(); }), (Events{"CheckBrowseMode", "DataSetScroll 0"}));
    EXPECT_FALSE(ds->Bof());
    EXPECT_EQ(ds->MoveBy(3), 3);
    EXPECT_EQ(Window(*ds), "1 2 3 4 5*");
    // Past the bottom edge the window scrolls by one towards the end.
    EXPECT_EQ(log->During([&] { ds->Next(); }), (Events{"CheckBrowseMode", "DataSetScroll -1"}));
    EXPECT_EQ(Window(*ds), "2 3 4 5 6*");
    EXPECT_EQ(ds->MoveBy(3), 3);
    EXPECT_EQ(Window(*ds), "5 6 7 8 9*");
    EXPECT_EQ(ds->MoveBy(-5), -5);
    EXPECT_EQ(Window(*ds), "4* 5 6 7 8");
    EXPECT_EQ(log->During([&] { ds->Prior(); }), (Events{"CheckBrowseMode", "DataSetScroll 1"}));
    EXPECT_EQ(ds->RecNo(), 3);

    EXPECT_EQ(log->During([&] { ds->Last(); }), (Events{"CheckBrowseMode", "DataSetChange"}));
    EXPECT_EQ(Window(*ds), "6 7 8 9 10*");
    EXPECT_TRUE(ds->Eof());
    ds->Prior();
    EXPECT_EQ(ds->MoveBy(5), 1);
    EXPECT_TRUE(ds->Eof());
    // At the end: a second Next moves nothing and scrolls nothing.
    EXPECT_EQ(log->During([&] { EXPECT_EQ(ds->MoveBy(1), 0); }), (Events{"CheckBrowseMode"}));

    EXPECT_EQ(log->During([&] { ds->SetRecNo(4); }), (Events{"CheckBrowseMode", "DataSetChange"}));
    EXPECT_EQ(Window(*ds), "2 3 4* 5 6");
    EXPECT_TRUE(log->During([&] { ds->SetRecNo(4); }).empty());
    EXPECT_EQ(log->During([&] { ds->First(); }), (Events{"CheckBrowseMode", "DataSetChange"}));
    EXPECT_EQ(Window(*ds), "1* 2 3 4 5");
    EXPECT_EQ(ds->MoveBy(-1), 0);
}

TEST_F(TenRows, EditingSendsItsEventsInOrder) {
    ds->SetRecNo(2);
    EXPECT_EQ(log->During([&] { ds->Edit(); }),
              (Events{"CheckBrowseMode", "UpdateState", "RecordChange"}));
    EXPECT_EQ(ds->State(), TDataSetState::dsEdit);
    EXPECT_FALSE(ds->Modified());
    EXPECT_EQ(log->During([&] { ds->FieldByName("NAME").SetValue(std::string("two")); }),
              (Events{"FieldChange NAME"}));
    EXPECT_TRUE(ds->Modified());
    // Moving posts the modified record first; its events come before the scroll.
    EXPECT_EQ(log->During([&] { ds->Next(); }),
              (Events{"CheckBrowseMode", "UpdateRecord", "UpdateRecord", "CheckBrowseMode",
                      "UpdateState", "DataSetChange", "DataSetScroll 0"}));
    EXPECT_EQ(ds->ChangeCount(), 1);
    ds->Prior();
    EXPECT_EQ(ds->FieldByName("NAME").Value(), TValue(std::string("two")));

    ds->Edit();
    EXPECT_EQ(log->During([&] { ds->Cancel(); }),
              (Events{"CheckBrowseMode", "UpdateState", "DataSetChange"}));
    EXPECT_TRUE(log->During([&] { ds->Cancel(); }).empty());

    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("again"));
    EXPECT_EQ(log->During([&] { ds->Post(); }),
              (Events{"UpdateRecord", "CheckBrowseMode", "UpdateState", "DataSetChange"}));
    // A row changed twice stays one change whose old values are the row as read.
    ASSERT_EQ(ds->ChangeCount(), 1);
    const TChange& change = ds->Engine().Changes()[0];
    EXPECT_EQ(ds->Engine().RowValue(change.oldRow, 1), TValue(std::string("row 2")));
    EXPECT_EQ(ds->Engine().RowValue(change.newRow, 1), TValue(std::string("again")));
    EXPECT_EQ(change.given, (std::vector<bool>{false, true, false}));

    ds->MergeChangeLog();
    EXPECT_EQ(log->During([&] { ds->Refresh(); }), (Events{"CheckBrowseMode", "DataSetChange"}));
    EXPECT_EQ(log->During([&] { ds->Close(); }), (Events{"UpdateState"}));
}

TEST_F(TenRows, InsertAppendCancelAndDeleteKeepTheirPlaces) {
    ds->SetRecNo(3);
    EXPECT_EQ(Window(*ds), "1 2 3* 4 5");
    EXPECT_EQ(log->During([&] { ds->Insert(); }),
              (Events{"CheckBrowseMode", "UpdateState", "DataSetChange"}));
    EXPECT_EQ(Window(*ds), "1 2 new* 3 4");
    EXPECT_EQ(ds->RecNo(), -1);
    // A cancelled insert disappears and the record it stood before is current again.
    ds->Cancel();
    EXPECT_EQ(Window(*ds), "1 2 3* 4 5");

    ds->Insert();
    ds->FieldByName("ID").SetValue(std::int64_t(25));
    ds->Post();
    EXPECT_EQ(Window(*ds), "1 2 25* 3 4");
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_EQ(ds->RecordCount(), 11);
    EXPECT_EQ(ds->UpdateStatus(), TUpdateStatus::usInserted);

    // An appended record stands at the end; cancelled, it leaves the last record current.
    ds->SetRecNo(4);
    ds->Append();
    EXPECT_EQ(Window(*ds), "7 8 9 10 new*");
    EXPECT_TRUE(ds->Eof());
    ds->Cancel();
    EXPECT_EQ(Window(*ds), "6 7 8 9 10*");
    EXPECT_EQ(ds->RecNo(), 11);
    ds->Append();
    ds->FieldByName("ID").SetValue(std::int64_t(99));
    ds->Post();
    EXPECT_EQ(ds->RecNo(), 12);
    EXPECT_EQ(Window(*ds), "7 8 9 10 99*");

    // Deleting the last record makes the one before it current.
    EXPECT_EQ(log->During([&] { ds->Delete(); }), (Events{"CheckBrowseMode", "DataSetChange"}));
    EXPECT_EQ(Window(*ds), "6 7 8 9 10*");
    // An insert deleted before it was applied leaves nothing to apply.
    EXPECT_EQ(ds->ChangeCount(), 1);
    ds->SetRecNo(4);
    ds->Edit();
    EXPECT_EQ(log->During([&] { ds->Delete(); }),
              (Events{"CheckBrowseMode", "UpdateState", "DataSetChange"}));
    EXPECT_EQ(Id(*ds), 4);
    EXPECT_EQ(ds->ChangeCount(), 2);
    // Delete while inserting cancels the new record.
    ds->Insert();
    ds->Delete();
    EXPECT_EQ(ds->State(), TDataSetState::dsBrowse);
    EXPECT_EQ(ds->RecordCount(), 10);
}

TEST_F(TenRows, RefusedOperationsLeaveEverythingAsItWas) {
    struct Case {
        const char* label;
        std::function<void()> act;
        std::string message;
    };
    TField& name = ds->FieldByName("NAME");
    const Case cases[] = {
        {"post while browsing", [&] { ds->Post(); },
         "SimpleDataSet1: データセットが編集または挿入モードではありません"},
        {"write while browsing", [&] { name.SetValue(std::string("x")); },
         "SimpleDataSet1: データセットが編集または挿入モードではありません"},
        {"update record while browsing", [&] { ds->UpdateRecord(); },
         "SimpleDataSet1: データセットが編集または挿入モードではありません"},
        {"write a computed field",
         [&] {
             ds->Edit();
             ds->FieldByName("DOUBLED").SetValue(std::int64_t(1));
         },
         "項目 'DOUBLED' は変更できません"},
        {"post a new record without its key",
         [&] {
             ds->Insert();
             name.SetValue(std::string("no key"));
             ds->Post();
         },
         "項目 'ID' の値が必要です"},
        {"write a value out of range",
         [&] {
             ds->Edit();
             ds->FieldByName("ID").SetValue(std::int64_t(3000000000));
         },
         "3e+09 は項目 'ID' に適した値ではありません。-2.14748e+09 から 2.14748e+09 "
         "の範囲が許されます"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ds->Cancel();
        ds->SetRecNo(2);
        try {
            c.act();
            ADD_FAILURE() << "not refused";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), c.message);
        }
        EXPECT_EQ(ds->RecordCount(), 10);
        EXPECT_EQ(ds->ChangeCount(), 0);
    }
    // The refused post focused the key field and left the record being inserted.
    ds->Cancel();
    ds->Insert();
    EXPECT_THROW(log->During([&] { ds->Post(); }), EDatabaseError);
    EXPECT_EQ(log->events.back(), "FocusControl ID");
    EXPECT_EQ(ds->State(), TDataSetState::dsInsert);
    ds->Cancel();

    ds->ReadOnly = true;
    try {
        ds->Edit();
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), "SimpleDataSet1: 書き込み禁止のデータは変更できません");
    }
    ds->ReadOnly = false;
    ds->Edit();
    EXPECT_THROW(name.SetValue(std::int64_t(5)), ETableEngineError);
    // Empty text stays empty text, not null.
    name.SetValue(std::string());
    ds->Post();
    EXPECT_EQ(name.Value(), TValue(std::string()));

    ds->Close();
    for (auto act :
         std::vector<std::function<void()>>{[&] { ds->First(); }, [&] { ds->Delete(); },
                                            [&] { ds->Next(); }, [&] { ds->ApplyUpdates(-1); }}) {
        try {
            act();
            ADD_FAILURE();
        } catch (const EDatabaseError& error) {
            EXPECT_EQ(error.Message(),
                      "SimpleDataSet1: データセットは閉じているため, この操作は実行できません");
        }
    }
}

TEST_F(TenRows, RefreshNeedsNoPendingChangesAndKeepsThePosition) {
    ds->SetRecNo(3);
    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("pending"));
    try {
        ds->Refresh(); // posts first, then refuses
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), "SimpleDataSet1: 最新のデータを取得する前に変更データを更新し"
                                   "なければなりません。");
    }
    EXPECT_EQ(ds->ChangeCount(), 1);
    EXPECT_EQ(ds->FieldByName("NAME").Value(), TValue(std::string("pending")));
    ds->MergeChangeLog();
    EXPECT_EQ(ds->ChangeCount(), 0);

    // Another attachment deletes the first row: the third position now shows ID 4.
    auto other = test::MakeConnection(db, "Other");
    other->Execute("delete from T where ID = 1", {});
    ds->Refresh();
    EXPECT_EQ(ds->RecordCount(), 9);
    EXPECT_EQ(ds->RecNo(), 3);
    EXPECT_EQ(Id(*ds), 4);
    EXPECT_EQ(ds->FieldByName("NAME").Value(), TValue(std::string("row 4")));
}

TEST_F(TenRows, AnUntouchedAppendedRecordEndsOnTheLastRecord) {
    // Cancel, a move, and an apply each end the empty new record the same way: the last
    // record becomes current and the dataset goes on working from there.
    struct Case {
        const char* label;
        std::function<void()> end;
        int recNo;
    };
    const Case cases[] = {
        {"cancel", [&] { ds->Cancel(); }, 10},
        {"move down then up",
         [&] {
             ds->Next();
             ds->Prior();
         },
         9},
        {"apply", [&] { EXPECT_EQ(ds->ApplyUpdates(-1), 0); }, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ds->SetRecNo(2);
        ds->Append();
        c.end();
        EXPECT_EQ(ds->State(), TDataSetState::dsBrowse);
        EXPECT_EQ(ds->RecNo(), c.recNo);
        EXPECT_EQ(Id(*ds), c.recNo);
        EXPECT_EQ(ds->RecordCount(), 10);
        EXPECT_EQ(ds->ChangeCount(), 0);
    }
    ds->Delete();
    EXPECT_EQ(ds->RecordCount(), 9);
    EXPECT_EQ(Window(*ds), "5 6 7 8 9*");
}

TEST_F(TenRows, SettingRecNoAndRefreshingClearBofAndEof) {
    ds->First();
    ds->SetRecNo(5);
    EXPECT_FALSE(ds->Bof());
    EXPECT_EQ(ds->MoveBy(-1), -1);
    EXPECT_EQ(ds->RecNo(), 4);

    ds->Last();
    ds->SetRecNo(2);
    EXPECT_FALSE(ds->Eof());
    ds->Next();
    EXPECT_EQ(ds->RecNo(), 3);

    ds->Last();
    auto other = test::MakeConnection(db, "Other");
    other->Execute("insert into T (ID, NAME) values (11, 'eleven')", {});
    other->Execute("insert into T (ID, NAME) values (12, 'twelve')", {});
    ds->Refresh();
    EXPECT_EQ(ds->RecNo(), 10);
    EXPECT_FALSE(ds->Eof());
    EXPECT_EQ(ds->MoveBy(1), 1);
    EXPECT_EQ(Id(*ds), 11);
}

TEST_F(TenRows, RefreshAfterTheColumnsChangedIsRefusedAndKeepsTheRows) {
    auto other = test::MakeConnection(db, "Other");
    ds->SetRecNo(4);
    for (const char* ddl : {"alter table T add EXTRA integer", "alter table T drop NAME"}) {
        SCOPED_TRACE(ddl);
        other->ExecuteDirect(ddl);
        try {
            ds->Refresh();
            ADD_FAILURE() << "not refused";
        } catch (const EDatabaseError& error) {
            EXPECT_EQ(error.Message(),
                      "SimpleDataSet1: テーブルの列がデータベースで変更されました。"
                      "テーブルを開き直してください");
        }
        EXPECT_EQ(ds->RecordCount(), 10);
        EXPECT_EQ(ds->RecNo(), 4);
        EXPECT_EQ(ds->FieldByName("NAME").Value(), TValue(std::string("row 4")));
    }
    // Opening again takes the table as it is now.
    ds->Close();
    ds->Open();
    EXPECT_EQ(ds->FindField("NAME"), nullptr);
    EXPECT_NE(ds->FindField("EXTRA"), nullptr);
}

TEST_F(TenRows, ClosingDropsChangesAndAClosedConnectionKeepsTheRows) {
    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("lost"));
    ds->Post();
    ds->Connection().SetConnected(false);
    EXPECT_TRUE(ds->Active());
    ds->Next();
    ds->Edit();
    ds->FieldByName("NAME").SetValue(std::string("still editable"));
    ds->Post();
    EXPECT_EQ(ds->ChangeCount(), 2);
    ds->Close();
    EXPECT_EQ(ds->ChangeCount(), 0);
    ds->Open();
    EXPECT_EQ(ds->FieldByName("NAME").Value(), TValue(std::string("row 1")));
}

TEST(CachedDataSet, EmptyTableOpensAtBofAndEofAndEditInserts) {
    test::TempDir dir;
    std::string db = dir.File("empty.fdb");
    test::CreateDatabase(db, {"create table T (ID integer not null primary key, NAME varchar(5))"});
    auto ds = test::MakeTable(db, "T");
    EventLog log(*ds, 3);
    EXPECT_EQ(log.During([&] { ds->Open(); }), (Events{"UpdateState"}));
    EXPECT_TRUE(ds->Bof());
    EXPECT_TRUE(ds->Eof());
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_EQ(ds->RecordCount(), 0);
    EXPECT_EQ(ds->WindowRecordCount(), 0);
    EXPECT_TRUE(IsNull(ds->FieldByName("ID").Value()));
    try {
        ds->Delete();
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(),
                  "SimpleDataSet1: 空のデータセットには, この操作は実行できません");
    }
    EXPECT_EQ(log.During([&] { ds->Edit(); }),
              (Events{"CheckBrowseMode", "UpdateState", "DataSetChange"}));
    EXPECT_EQ(ds->State(), TDataSetState::dsInsert);
    ds->FieldByName("ID").SetValue(std::int64_t(1));
    ds->Post();
    EXPECT_EQ(ds->RecordCount(), 1);
    EXPECT_EQ(ds->RecNo(), 1);
    ds->Delete();
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_EQ(ds->ChangeCount(), 0);
}

// Rows of a table whose every column kind is copied whole from the fetch buffer hold what the
// reader's own getters give for the same rows: extremes of each width, scaled numbers of each
// width, dates around the database's day zero, text whose length takes one, two and three
// length bytes, and nulls in every column.
TEST(CachedDataSet, RowsCopiedFromTheFetchBufferHoldWhatTheReaderGives) {
    test::TempDir dir;
    std::string db = dir.File("copied.fdb");
    std::string wide;
    for (int i = 0; i < 5000; ++i)
        wide += "\U00020BB7"; // 20,000 bytes
    test::CreateDatabase(
        db, {"create table COPIED (N integer, C_SMALLINT smallint, C_INTEGER integer,"
             " C_BIGINT bigint, C_FLOAT float, C_DOUBLE double precision, C_N4 numeric(4,2),"
             " C_N9 numeric(9,3), C_N18 numeric(18,4), C_DATE date, C_TIME time,"
             " C_TIMESTAMP timestamp, C_BOOLEAN boolean, C_TEXT varchar(6000))",
             "insert into COPIED values (1, -32768, -2147483648, -9223372036854775808, 1.5,"
             " -2.25e300, -327.68, -2147483.648, -922337203685477.5808, '0001-01-01',"
             " '00:00:00', '1858-11-17 00:00:00', false, '')",
             "insert into COPIED values (2, 32767, 2147483647, 9223372036854775807, -3.0e38,"
             " 1e-300, 327.67, 2147483.647, 922337203685477.5807, '9999-12-31',"
             " '23:59:59.9999', '1858-11-16 23:59:59.9999', true, '\U00020BB7')",
             "insert into COPIED (N) values (3)",
             "insert into COPIED values (4, 0, 0, 0, 0, 0, 0, 0, 0, '2024-02-29', '12:00:00',"
             " '2000-02-29 09:30:15.0001', true, '" +
                 std::string(127, 'x') + "')",
             "insert into COPIED (N, C_TEXT) values (5, '" + std::string(128, 'y') + "')",
             "insert into COPIED (N, C_TEXT) values (6, '" + wide + "')"});

    auto connection = test::MakeConnection(db);
    TSQLDataSet reader("SQLDataSet1");
    reader.SetSQLConnection(connection.get());
    reader.SetCommandType(TSQLCommandType::ctTable);
    reader.SetCommandText("COPIED");
    reader.Open();
    std::vector<std::vector<TValue>> expected;
    for (; !reader.Eof(); reader.Next()) {
        std::vector<TValue> row;
        for (int i = 0; i < reader.FieldCount(); ++i)
            row.push_back(reader.Fields(i).Value());
        expected.push_back(std::move(row));
    }
    ASSERT_EQ(expected.size(), 6u);
    EXPECT_EQ(expected[5].back(), TValue(wide));

    auto ds = test::OpenTable(db, "COPIED");
    ASSERT_EQ(ds->RecordCount(), 6);
    ASSERT_EQ(ds->FieldCount(), reader.FieldCount());
    for (const std::vector<TValue>& row : expected) {
        SCOPED_TRACE("N=" + std::to_string(std::get<std::int64_t>(row[0])));
        for (int i = 0; i < ds->FieldCount(); ++i)
            EXPECT_EQ(ds->Fields(i).Value(), row[static_cast<std::size_t>(i)])
                << ds->Fields(i).FieldName();
        ds->Next();
    }
}

TEST(CachedDataSet, ReadsEveryColumnTypeIntoTypedFields) {
    test::TempDir dir;
    std::string db = dir.File("types.fdb");
    test::CreateDatabase(
        db, {"create table ALL_TYPES (C_SMALLINT smallint not null, C_INTEGER integer,"
             " C_BIGINT bigint, C_FLOAT float, C_DOUBLE double precision,"
             " C_NUMERIC numeric(18,4), C_DECIMAL decimal(9,2), C_DATE date, C_TIME time,"
             " C_TIMESTAMP timestamp, C_CHAR char(3), C_VARCHAR varchar(30), C_BOOLEAN boolean,"
             " C_MEMO blob sub_type text, C_BINARY blob sub_type binary,"
             " C_OCTETS char(2) character set octets, C_COMPUTED computed by (C_INTEGER + 1))",
             "insert into ALL_TYPES values (1, 2, 3, 1.5, 2.5, 12.3456, 7.25, '2026-12-10',"
             " '10:11:12.1234', '2026-12-10 10:11:12', 'ab', 'テキスト', true, 'メモ', 'bin',"
             " x'0102')"});
    auto ds = test::OpenTable(db, "ALL_TYPES");
    struct Expected {
        TFieldType type;
        int size;
        TValue value;
    };
    const Expected expected[] = {
        {TFieldType::ftSmallint, 0, std::int64_t(1)},
        {TFieldType::ftInteger, 0, std::int64_t(2)},
        {TFieldType::ftLargeint, 0, std::int64_t(3)},
        {TFieldType::ftSingle, 0, 1.5},
        {TFieldType::ftFloat, 0, 2.5},
        {TFieldType::ftFMTBcd, 4, TBcd{123456, 4}},
        {TFieldType::ftFMTBcd, 2, TBcd{725, 2}},
        {TFieldType::ftDate, 0, TSQLDate{2026, 12, 10}},
        {TFieldType::ftTime, 0, TSQLTime{10, 11, 12, 1234}},
        {TFieldType::ftTimeStamp, 0, TSQLTimeStamp{{2026, 12, 10}, {10, 11, 12, 0}}},
        {TFieldType::ftString, 3, std::string("ab ")},
        {TFieldType::ftString, 30, std::string("テキスト")},
        {TFieldType::ftBoolean, 0, true},
        {TFieldType::ftMemo, 1, std::string("メモ")},
        {TFieldType::ftBlob, 1, TBytes{"bin"}},
        {TFieldType::ftBytes, 2, TBytes{"\x01\x02"}},
        {TFieldType::ftLargeint, 0, std::int64_t(3)},
    };
    ASSERT_EQ(ds->FieldCount(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < ds->FieldCount(); ++i) {
        TField& field = ds->Fields(i);
        SCOPED_TRACE(field.FieldName());
        EXPECT_EQ(field.DataType(), expected[i].type);
        EXPECT_EQ(field.Size(), expected[i].size);
        EXPECT_EQ(field.Value(), expected[i].value);
        EXPECT_EQ(field.Required(), i == 0);
        EXPECT_EQ(field.ReadOnly(), field.FieldName() == "C_COMPUTED");
        EXPECT_EQ(field.ProviderFlags(), pfInUpdate | pfInWhere); // no key
    }
    EXPECT_TRUE(ds->DataSet().KeyFields().empty());
    EXPECT_EQ(ds->Fields(5).Precision(), 18);
    // A table without a key can still be changed.
    ds->Edit();
    ds->FieldByName("C_VARCHAR").SetValue(std::string("変更"));
    ds->Post();
    EXPECT_EQ(ds->ChangeCount(), 1);
}

TEST(CachedDataSet, ValuesThatCannotExistAreRefusedAtTheWrite) {
    test::TempDir dir;
    std::string db = dir.File("values.fdb");
    test::CreateDatabase(db, {"create table V (ID integer not null primary key, D date, T time,"
                              " S timestamp, N numeric(18,4), M numeric(4,2), F float,"
                              " G double precision)",
                              "insert into V (ID) values (1)"});
    auto ds = test::OpenTable(db, "V");
    struct Case {
        const char* field;
        TValue value;
    };
    const Case refused[] = {
        {"D", TSQLDate{2026, 2, 30}},
        {"D", TSQLDate{2023, 2, 29}},
        {"D", TSQLDate{2026, 13, 1}},
        {"D", TSQLDate{2026, 0, 0}},
        {"D", TSQLDate{0, 1, 1}},
        {"D", TSQLDate{5000000, 1, 1}},
        {"D", TSQLTimeStamp{{2026, 4, 31}, {}}},
        {"T", TSQLTime{24, 0, 0, 0}},
        {"T", TSQLTime{23, 59, 60, 0}},
        {"T", TSQLTime{12, 61, 0, 0}},
        {"T", TSQLTime{12, 0, 0, 10000}},
        {"T", TSQLTime{600, 0, 0, 0}},
        {"T", TSQLTime{-1, 0, 0, 0}},
        {"S", TSQLTimeStamp{{2026, 2, 30}, {}}},
        {"S", TSQLTimeStamp{{2026, 1, 1}, {24, 0, 0, 0}}},
        {"S", TSQLDate{5000000, 1, 1}},
        {"N", std::int64_t(1000000000000000)},
        {"N", TBcd{1000000000000000, 0}},
        {"N", TBcd{922337203685477580, 0}},
        {"N", TBcd{-922337203685477581, 0}},
        {"N", TBcd{1, 70}},
        {"N", TBcd{1, -1}},
        {"M", TBcd{32768, 2}},
        {"M", std::int64_t(-328)},
        // A row holding NaN could never be found again by its values.
        {"G", std::numeric_limits<double>::quiet_NaN()},
        {"G", -std::numeric_limits<double>::infinity()},
        {"F", 1e39},
    };
    ds->Edit();
    for (const Case& c : refused) {
        SCOPED_TRACE(std::string(c.field) + " case " + std::to_string(&c - refused));
        TField& field = ds->FieldByName(c.field);
        try {
            field.SetValue(c.value);
            ADD_FAILURE() << "not refused";
        } catch (const Exception& error) {
            EXPECT_NE(error.Message().find(std::string("項目 '") + c.field + "'"),
                      std::string::npos)
                << error.Message();
        }
        EXPECT_TRUE(field.IsNull());
        EXPECT_FALSE(ds->Modified());
    }
    // The texts name the value as given and, for numbers, the range the column holds.
    const std::pair<Case, std::string> texts[] = {
        {{"D", TSQLDate{2026, 2, 30}}, "'2026-02-30' は項目 'D' に適した値ではありません"},
        {{"T", TSQLTime{23, 59, 60, 0}}, "'23:59:60.0000' は項目 'T' に適した値ではありません"},
        {{"N", std::int64_t(1000000000000000)},
         "1000000000000000 は項目 'N' に適した値ではありません。-922337203685477.5808 から "
         "922337203685477.5807 の範囲が許されます"},
        {{"M", TBcd{32768, 2}},
         "327.68 は項目 'M' に適した値ではありません。-327.68 から 327.67 の範囲が許されます"},
    };
    for (const auto& [c, text] : texts) {
        try {
            ds->FieldByName(c.field).SetValue(c.value);
            ADD_FAILURE() << text;
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), text);
        }
    }
    ds->Cancel();
    EXPECT_EQ(ds->ChangeCount(), 0);

    // The extremes that do exist are kept exactly and reach the database as they are.
    const std::vector<std::vector<Case>> extremes = {
        {{"D", TSQLDate{1, 1, 1}},
         {"T", TSQLTime{23, 59, 59, 9999}},
         {"S", TSQLTimeStamp{{9999, 12, 31}, {23, 59, 59, 9999}}},
         {"N", TBcd{std::numeric_limits<std::int64_t>::max(), 4}},
         {"M", TBcd{-32768, 2}}},
        {{"D", TSQLDate{9999, 12, 31}},
         {"T", TSQLTime{0, 0, 0, 0}},
         {"S", TSQLTimeStamp{{1, 1, 1}, {0, 0, 0, 0}}},
         {"N", TBcd{std::numeric_limits<std::int64_t>::min(), 4}},
         {"M", TBcd{32767, 2}}},
    };
    auto check = test::MakeConnection(db, "Check");
    for (const std::vector<Case>& row : extremes) {
        ds->Edit();
        for (const Case& c : row)
            ds->FieldByName(c.field).SetValue(c.value);
        ds->Post();
        EXPECT_EQ(ds->ApplyUpdates(-1), 0);
        std::unique_ptr<TSQLResultSet> rows;
        check->Execute("select D, T, S, N, M from V", {}, &rows);
        ASSERT_TRUE(rows->Next());
        for (std::size_t i = 0; i < row.size(); ++i) {
            EXPECT_EQ(ds->FieldByName(row[i].field).Value(), row[i].value) << row[i].field;
            EXPECT_EQ(rows->Reader().GetValue(static_cast<int>(i)), row[i].value) << row[i].field;
        }
    }
}

TEST(CachedDataSet, BlobAndMemoContentsAreReadWholeByTheMaxBlobSizeRule) {
    test::TempDir dir;
    std::string db = dir.File("memo.fdb");
    test::CreateDatabase(db, {"create table MEMO (INPUTNO integer not null primary key,"
                              " MEMO blob sub_type text, DATA blob sub_type binary)"});
    std::string memo;
    while (memo.size() < 6000)
        memo += "長いメモの本文です。";
    std::string data(3000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    auto connection = test::MakeConnection(db);
    connection->Execute("insert into MEMO values (1, ?, ?)", {memo, TBytes{data}});
    connection->Execute("insert into MEMO values (2, null, null)", {});

    struct Case {
        int maxBlobSize;
        int maxAfterOpen;
        bool read;
    };
    for (const Case& c : {Case{1, 1, true}, Case{-1, 1, true}, Case{0, 1, true}}) {
        SCOPED_TRACE(c.maxBlobSize);
        auto ds = test::MakeTable(db, "MEMO", "SimpleDataSet2");
        ds->DataSet().MaxBlobSize = c.maxBlobSize;
        ds->Open();
        // A blob column is described with size 1, so every setting ends up reading it whole.
        EXPECT_EQ(ds->DataSet().MaxBlobSize, c.maxAfterOpen);
        EXPECT_EQ(ds->FieldByName("MEMO").DataType(), TFieldType::ftMemo);
        EXPECT_EQ(ds->FieldByName("MEMO").Value(), TValue(memo));
        EXPECT_EQ(ds->FieldByName("DATA").Value(), TValue(TBytes{data}));
        ds->Next();
        EXPECT_TRUE(ds->FieldByName("MEMO").IsNull());
        EXPECT_TRUE(ds->FieldByName("DATA").IsNull());
    }
}

TEST(CachedDataSet, QueryColumnsWithOneNameGetNumberedFieldNames) {
    test::TempDir dir;
    std::string db = dir.File("names.fdb");
    test::CreateDatabase(
        db, {"create table T (ID integer, ID_1 integer)", "insert into T values (1, 2)"});
    auto ds = test::MakeTable(db, "T");
    ds->DataSet().SetCommandType(TSQLCommandType::ctQuery);
    ds->DataSet().SetCommandText("select ID, ID, ID_1, ID from T");
    ds->Open();
    std::vector<std::string> names;
    for (int i = 0; i < ds->FieldCount(); ++i)
        names.push_back(ds->Fields(i).FieldName());
    EXPECT_EQ(names, (std::vector<std::string>{"ID", "ID_1", "ID_1_1", "ID_2"}));
}

TEST(CachedDataSet, OpeningFailuresLeaveItClosed) {
    test::TempDir dir;
    std::string db = dir.File("fail.fdb");
    test::CreateDatabase(db, {"create table T (ID integer)"});
    auto missing = test::MakeTable(db, "NO_SUCH_TABLE");
    try {
        missing->Open();
        ADD_FAILURE();
    } catch (const TDriverError& error) {
        EXPECT_NE(error.Message().find("NO_SUCH_TABLE"), std::string::npos) << error.Message();
        EXPECT_NE(error.Message().back(), '.');
    }
    EXPECT_FALSE(missing->Active());
    EXPECT_FALSE(missing->DataSet().Active());

    auto unnamed = test::MakeTable(db, "   ");
    EXPECT_EQ(unnamed->DataSet().CommandText(), "");
    try {
        unnamed->Open();
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), "クエリー、テーブル名またはプロシージャ名がありません");
    }
    auto nowhere = test::MakeTable(dir.File("nowhere.fdb"), "T");
    EXPECT_THROW(nowhere->Open(), TDriverError);
    EXPECT_FALSE(nowhere->Active());
    EXPECT_FALSE(nowhere->Connection().Connected());
}

TEST(TrimmedProviderMessages, LoseTrailingBlanksControlsAndFullStops) {
    EXPECT_EQ(TrimProviderMessage("Table unknown. \r\n."), "Table unknown");
    EXPECT_EQ(TrimProviderMessage("テーブルがありません。"), "テーブルがありません。");
    EXPECT_EQ(TrimProviderMessage("..."), "");
}

} // namespace
