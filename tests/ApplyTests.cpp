#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace sorvanto;

namespace {

const char* kKeyWords = "create table KEY_WORDS (KEYWORD_NO integer not null primary key,"
                        " ID integer, KEY_WORD varchar(100), USER_NAME varchar(31), TS timestamp)";
const TSQLTimeStamp kStamp{{2026, 12, 10}, {9, 30, 0, 0}};

class KeyWords : public ::testing::Test {
protected:
    void SetUp() override {
        db = dir.File("keywords.fdb");
        test::CreateDatabase(db, {kKeyWords});
        other = test::MakeConnection(db, "Other");
        for (int i = 1; i <= 5; ++i)
            other->Execute("insert into KEY_WORDS values (?, ?, ?, ?, ?)",
                           {std::int64_t(i), std::int64_t(i * 10),
                            std::string("キーワード") + std::to_string(i),
                            i == 1 ? TValue() : TValue(std::string("user")), kStamp});
        ds = test::OpenTable(db, "KEY_WORDS");
    }
    // The value of a column of a row as the database holds it now.
    TValue Stored(int keywordNo, const std::string& column) {
        std::unique_ptr<TSQLResultSet> rows;
        other->Execute("select " + column + " from KEY_WORDS where KEYWORD_NO = ?",
                       {std::int64_t(keywordNo)}, &rows);
        return rows->Next() ? rows->Reader().GetValue(0) : TValue(std::string("<no row>"));
    }
    void SetKeyWord(int recNo, const std::string& text) {
        ds->SetRecNo(recNo);
        ds->Edit();
        ds->FieldByName("KEY_WORD").SetValue(text);
        ds->Post();
    }
    test::TempDir dir;
    std::string db;
    std::unique_ptr<TSQLConnection> other;
    std::unique_ptr<TSimpleDataSet> ds;
};

TEST_F(KeyWords, StatementsAreWrittenLineByLineWithPositionalParameters) {
    // Row 2 as in the example of a KEY_WORD change: its USER_NAME is null when read.
    other->Execute("update KEY_WORDS set USER_NAME = null where KEYWORD_NO = 2", {});
    ds->Close();
    ds->Open();
    SetKeyWord(1, "新しい");
    ds->Delete();
    ds->Append();
    ds->FieldByName("KEYWORD_NO").SetValue(std::int64_t(6));
    ds->FieldByName("ID").SetValue(std::int64_t(60));
    ds->FieldByName("KEY_WORD").SetValue(std::string("six"));
    ds->FieldByName("USER_NAME").SetValue(TValue());
    ds->FieldByName("TS").SetValue(kStamp);
    ds->Post();
    SetKeyWord(1, "二"); // KEYWORD_NO 2 is the first row now

    ASSERT_EQ(ds->ChangeCount(), 3);

    // Row 1 was modified, then deleted: one delete with the values as read.
    const test::SentStatement deletion = test::StatementOf(*ds, 0);
    const std::string where = "where\r\n"
                              " \"KEYWORD_NO\" = ? and\r\n"
                              " \"ID\" = ? and\r\n"
                              " \"KEY_WORD\" = ? and\r\n"
                              " \"USER_NAME\" is null and\r\n"
                              " \"TS\" = ?\r\n";
    EXPECT_EQ(deletion.text, "delete from \"KEY_WORDS\" \r\n" + where);
    EXPECT_EQ(deletion.params, (std::vector<TValue>{std::int64_t(1), std::int64_t(10),
                                                    std::string("キーワード1"), kStamp}));

    const test::SentStatement insertion = test::StatementOf(*ds, 1);
    EXPECT_EQ(insertion.text, "insert into \"KEY_WORDS\"\r\n"
                              "  (\"KEYWORD_NO\", \"ID\", \"KEY_WORD\", \"USER_NAME\", \"TS\")\r\n"
                              "values\r\n"
                              "  (?, ?, ?, ?, ?)\r\n");
    EXPECT_EQ(insertion.params, (std::vector<TValue>{std::int64_t(6), std::int64_t(60),
                                                     std::string("six"), TValue(), kStamp}));

    // The example of a KEY_WORD change on a row whose USER_NAME is null.
    const test::SentStatement update = test::StatementOf(*ds, 2);
    EXPECT_EQ(update.text, "update \"KEY_WORDS\"  set\r\n"
                           " \"KEY_WORD\" = ?\r\n" +
                               where);
    EXPECT_EQ(update.params,
              (std::vector<TValue>{std::string("二"), std::int64_t(2), std::int64_t(20),
                                   std::string("キーワード2"), kStamp}));

    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_EQ(Stored(1, "KEY_WORD"), TValue(std::string("<no row>")));
    EXPECT_EQ(Stored(2, "KEY_WORD"), TValue(std::string("二")));
    EXPECT_EQ(Stored(6, "ID"), TValue(std::int64_t(60)));
    EXPECT_FALSE(ds->Connection().InTransaction());
}

TEST_F(KeyWords, ARefusedChangeKeepsTheStatementThatFailedAndTheEnginesCodes) {
    ds->Append();
    ds->FieldByName("KEYWORD_NO").SetValue(std::int64_t(3)); // taken
    ds->Post();
    SetKeyWord(1, "mine");
    other->Execute("update KEY_WORDS set KEY_WORD = 'theirs' where KEYWORD_NO = 1", {});

    TSQLResolver resolver(ds->Connection(), "KEY_WORDS");
    int errorCount = 0;
    auto errors = resolver.Resolve(TChangeSet(ds->Engine()), -1, errorCount);
    ASSERT_TRUE(errors);
    ASSERT_EQ(errors->size(), 2u);
    const TUpdateErrorRecord& duplicate = (*errors)[0];
    EXPECT_NE(duplicate.message.find("PRIMARY or UNIQUE KEY"), std::string::npos);
    EXPECT_EQ(duplicate.statement, test::StatementOf(*ds, 0).text);
    EXPECT_EQ(duplicate.sqlCode, -803);
    EXPECT_EQ(duplicate.gdsCode, 335544665); // isc_unique_key_violation
    const TUpdateErrorRecord& changedElsewhere = (*errors)[1];
    EXPECT_EQ(changedElsewhere.message,
              "レコードが見つからないか、または他のユーザーによって変更されました。");
    EXPECT_EQ(changedElsewhere.statement, test::StatementOf(*ds, 1).text);
    EXPECT_EQ(changedElsewhere.gdsCode, 0);

    // The dataset keeps the statement with the refusal.
    EXPECT_EQ(ds->ApplyUpdates(-1), 2);
    ds->SetRecNo(1);
    EXPECT_EQ(ds->WindowRecordRefusedStatement(ds->ActiveRecord()),
              "update \"KEY_WORDS\"  set\r\n \"KEY_WORD\" = ?\r\n"
              "where\r\n \"KEYWORD_NO\" = ? and\r\n \"ID\" = ? and\r\n \"KEY_WORD\" = ? and\r\n"
              " \"USER_NAME\" is null and\r\n \"TS\" = ?\r\n");
}

TEST(Quoting, IdentifiersFollowTheQuoteString) {
    struct Case {
        const char* name;
        const char* quote;
        bool sqlBased;
        const char* expected;
    };
    const Case cases[] = {
        {"KEY_WORDS", "\"", true, "\"KEY_WORDS\""},
        {"KEY_WORDS", "", true, "KEY_WORDS"},
        {"S.T", "\"", true, "\"S\".\"T\""},
        {"C.S.T", "\"", true, "\"C\".\"S\".\"T\""},
        {"\"Mixed\"", "\"", true, "\"Mixed\""},
        {"T", "\"", false, "\"T\""},
        {"", "\"", true, ""},
        // A quote character inside a name is doubled; a name already quoted is used as it is.
        {"A\"B", "\"", true, "\"A\"\"B\""},
        {"S.A\"\"B", "\"", true, "\"S\".\"A\"\"\"\"B\""},
        {"A\"B", "", true, "A\"B"},
        {"\"A\"\"B\"", "\"", true, "\"A\"\"B\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TSQLResolver::QuoteName(c.name, c.quote, c.sqlBased), c.expected) << c.name;
}

TEST_F(KeyWords, NothingPendingRunsNothing) {
    ds->Connection().SetConnected(false);
    ds->Edit(); // an unmodified edit is cancelled first
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->State(), TDataSetState::dsBrowse);
    EXPECT_FALSE(ds->Connection().Connected());
}

TEST_F(KeyWords, AnApplyOnAClosedConnectionOpensItFirst) {
    SetKeyWord(3, "closed");
    ds->Connection().SetConnected(false);
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_TRUE(ds->Connection().Connected());
    EXPECT_EQ(Stored(3, "KEY_WORD"), TValue(std::string("closed")));
}

TEST_F(KeyWords, ARowChangedElsewhereStaysPendingAndTheRestIsCommitted) {
    SetKeyWord(1, "mine");
    SetKeyWord(2, "mine too");
    other->Execute("update KEY_WORDS set ID = 99 where KEYWORD_NO = 1", {});
    std::vector<std::string> seen;
    ds->OnReconcileError = [&](TSimpleDataSet&, EReconcileError& error, TUpdateKind kind,
                               TReconcileAction& action) {
        seen.push_back(error.Message());
        EXPECT_EQ(kind, TUpdateKind::ukModify);
        EXPECT_EQ(action, TReconcileAction::raSkip);
    };
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    EXPECT_EQ(seen, std::vector<std::string>{
                        "レコードが見つからないか、または他のユーザーによって変更されました。"});
    EXPECT_EQ(ds->ChangeCount(), 1);
    EXPECT_EQ(Stored(2, "KEY_WORD"), TValue(std::string("mine too")));
    EXPECT_EQ(Stored(1, "KEY_WORD"), TValue(std::string("キーワード1")));
    // The operator still sees the value typed.
    ds->SetRecNo(1);
    EXPECT_EQ(ds->FieldByName("KEY_WORD").Value(), TValue(std::string("mine")));
    EXPECT_FALSE(ds->Connection().InTransaction());
}

TEST_F(KeyWords, ChangesAlikeButForANullOldValueEachFindTheirRow) {
    // Row 1's USER_NAME is null, the others' is not: "is null" for one, "= ?" for the others,
    // in either order within one apply.
    SetKeyWord(2, "二");
    SetKeyWord(1, "一");
    SetKeyWord(3, "三");
    EXPECT_EQ(ds->ApplyUpdates(0), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_EQ(Stored(1, "KEY_WORD"), TValue(std::string("一")));
    EXPECT_EQ(Stored(2, "KEY_WORD"), TValue(std::string("二")));
    EXPECT_EQ(Stored(3, "KEY_WORD"), TValue(std::string("三")));
}

TEST_F(KeyWords, ARefusedChangeIsSentAgainOnceItsCauseIsGone) {
    ds->Append();
    ds->FieldByName("KEYWORD_NO").SetValue(std::int64_t(7));
    ds->Post();
    other->Execute("insert into KEY_WORDS (KEYWORD_NO) values (7)", {});
    std::string message;
    ds->OnReconcileError = [&](TSimpleDataSet&, EReconcileError& error, TUpdateKind kind,
                               TReconcileAction&) {
        message = error.Message();
        EXPECT_EQ(kind, TUpdateKind::ukInsert);
    };
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    EXPECT_NE(message.find("violation of PRIMARY or UNIQUE KEY"), std::string::npos) << message;
    EXPECT_EQ(ds->ChangeCount(), 1);

    other->Execute("delete from KEY_WORDS where KEYWORD_NO = 7", {});
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);
    EXPECT_EQ(Stored(7, "KEYWORD_NO"), TValue(std::int64_t(7)));
    // Fields never set were left out of the insert.
    EXPECT_TRUE(IsNull(Stored(7, "KEY_WORD")));
}

TEST_F(KeyWords, ThreeFailingAndTwoGoodChangesReturnThree) {
    for (int recNo = 1; recNo <= 5; ++recNo)
        SetKeyWord(recNo, "change " + std::to_string(recNo));
    other->Execute("update KEY_WORDS set TS = current_timestamp where KEYWORD_NO in (1, 3, 5)", {});
    EXPECT_EQ(ds->ApplyUpdates(-1), 3);
    EXPECT_EQ(ds->ChangeCount(), 3);
    EXPECT_EQ(Stored(2, "KEY_WORD"), TValue(std::string("change 2")));
    EXPECT_EQ(Stored(4, "KEY_WORD"), TValue(std::string("change 4")));
    EXPECT_EQ(Stored(3, "KEY_WORD"), TValue(std::string("キーワード3")));
    // Refresh refuses while they are pending.
    EXPECT_THROW(ds->Refresh(), EDatabaseError);
}

TEST_F(KeyWords, ARollbackForOneChangeKeepsEveryChangeItUndidPending) {
    // With a limit of 0 the first failure rolls the whole apply back.
    SetKeyWord(1, "first");
    SetKeyWord(2, "second");
    other->Execute("update KEY_WORDS set ID = 0 where KEYWORD_NO = 2", {});
    EXPECT_EQ(ds->ApplyUpdates(0), 2);
    EXPECT_EQ(ds->ChangeCount(), 2);
    EXPECT_EQ(Stored(1, "KEY_WORD"), TValue(std::string("キーワード1")));
}

TEST_F(KeyWords, ValuesThatLookLikeSqlAreStoredAsTyped) {
    const std::vector<std::string> values = {"'; drop table KEY_WORDS; --", "O'Reilly \"quoted\"",
                                             "select * from RDB$DATABASE", "a:b :name ? ??",
                                             "改行\r\nと\tタブ"};
    for (std::size_t i = 0; i < values.size(); ++i)
        SetKeyWord(static_cast<int>(i) + 1, values[i]);
    ds->Edit();
    ds->FieldByName("USER_NAME").SetValue(std::string("-- comment"));
    ds->Post();
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(Stored(static_cast<int>(i) + 1, "KEY_WORD"), TValue(values[i]));
    EXPECT_EQ(Stored(5, "USER_NAME"), TValue(std::string("-- comment")));
}

TEST_F(KeyWords, AnExceptionInTheReconcileHandlerIsShownAndTheChangeStaysPending) {
    static std::string shown;
    SetApplicationExceptionDisplay([](const std::exception& error) { shown = error.what(); });
    SetKeyWord(1, "x");
    other->Execute("delete from KEY_WORDS where KEYWORD_NO = 1", {});
    ds->OnReconcileError = [](TSimpleDataSet&, EReconcileError&, TUpdateKind, TReconcileAction&) {
        throw EDatabaseError("handler failed");
    };
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    EXPECT_EQ(shown, "handler failed");
    EXPECT_EQ(ds->ChangeCount(), 1);
    SetApplicationExceptionDisplay(nullptr);
}

TEST_F(KeyWords, AnExceptionOfAnyKindInTheReconcileHandlerStillReconciles) {
    static std::string shown;
    SetApplicationExceptionDisplay([](const std::exception& error) { shown = error.what(); });
    SetKeyWord(1, "gone");
    SetKeyWord(2, "arrives");
    other->Execute("delete from KEY_WORDS where KEYWORD_NO = 1", {});
    ds->OnReconcileError = [](TSimpleDataSet&, EReconcileError&, TUpdateKind, TReconcileAction&) {
        throw 42;
    };
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    EXPECT_EQ(shown, "不明なエラーです");
    // The committed change is accepted; only the failed one is left to send again.
    EXPECT_EQ(ds->ChangeCount(), 1);
    EXPECT_EQ(Stored(2, "KEY_WORD"), TValue(std::string("arrives")));
    SetApplicationExceptionDisplay(nullptr);
}

TEST_F(KeyWords, ChangesNeverSentStayPendingWhenTheErrorLimitIsReached) {
    struct Case {
        int maxErrors;
        std::vector<int> changedElsewhere;
        int failed;
    };
    const Case cases[] = {{0, {1}, 1}, {1, {1, 2}, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxErrors);
        for (int recNo = 1; recNo <= 4; ++recNo)
            SetKeyWord(recNo,
                       "limit " + std::to_string(c.maxErrors) + " row " + std::to_string(recNo));
        for (int keywordNo : c.changedElsewhere)
            other->Execute("update KEY_WORDS set ID = ID + 1 where KEYWORD_NO = ?",
                           {std::int64_t(keywordNo)});
        EXPECT_EQ(ds->ApplyUpdates(c.maxErrors), c.failed);
        EXPECT_EQ(ds->ChangeCount(), 4);
        for (int keywordNo = 1; keywordNo <= 4; ++keywordNo)
            EXPECT_NE(Stored(keywordNo, "KEY_WORD"), TValue("limit " + std::to_string(c.maxErrors) +
                                                            " row " + std::to_string(keywordNo)))
                << keywordNo;
        // Once the rows elsewhere are as read again, every change arrives.
        for (int keywordNo : c.changedElsewhere)
            other->Execute("update KEY_WORDS set ID = ID - 1 where KEYWORD_NO = ?",
                           {std::int64_t(keywordNo)});
        EXPECT_EQ(ds->ApplyUpdates(-1), 0);
        EXPECT_EQ(ds->ChangeCount(), 0);
        for (int keywordNo = 1; keywordNo <= 4; ++keywordNo)
            EXPECT_EQ(Stored(keywordNo, "KEY_WORD"), TValue("limit " + std::to_string(c.maxErrors) +
                                                            " row " + std::to_string(keywordNo)))
                << keywordNo;
    }
}

TEST(Apply, NoStatementAffectingSeveralRowsIsEverCommitted) {
    // Twins in the table: a change to one of them finds both rows. Whatever its place in the
    // apply, nothing of the apply reaches the table and every change stays pending.
    struct Case {
        const char* label;
        std::vector<std::string> rows;
        std::function<void(TSimpleDataSet&)> change;
        int failed;
    };
    auto setN = [](TSimpleDataSet& ds, int recNo, std::int64_t n) {
        ds.SetRecNo(recNo);
        ds.Edit();
        ds.FieldByName("N").SetValue(n);
        ds.Post();
    };
    const Case cases[] = {
        {"two multi-row updates",
         {"('a', 1)", "('p', 2)", "('p', 2)", "('q', 3)", "('q', 3)", "('z', 9)"},
         [&](TSimpleDataSet& ds) {
             setN(ds, 1, 10);
             setN(ds, 2, 20);
             setN(ds, 6, 90);
             setN(ds, 4, 30);
         },
         4},
        {"a multi-row update then a multi-row delete",
         {"('p', 2)", "('p', 2)", "('q', 3)", "('q', 3)"},
         [&](TSimpleDataSet& ds) {
             setN(ds, 1, 20);
             ds.SetRecNo(3);
             ds.Delete();
         },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir dir;
        std::string db = dir.File("twins.fdb");
        test::CreateDatabase(db, {"create table T (NAME varchar(10), N integer)"});
        auto check = test::MakeConnection(db, "Check");
        for (const std::string& row : c.rows)
            check->ExecuteDirect("insert into T values " + row);
        auto content = [&] {
            std::unique_ptr<TSQLResultSet> rows;
            check->Execute("select NAME, N from T order by NAME, N", {}, &rows);
            std::string text;
            while (rows->Next())
                text += std::get<std::string>(rows->Reader().GetValue(0)) + "/" +
                        std::to_string(rows->Reader().GetInt64(1)) + " ";
            return text;
        };
        const std::string before = content();
        auto ds = test::OpenTable(db, "T");
        c.change(*ds);
        std::vector<std::string> messages;
        ds->OnReconcileError = [&](TSimpleDataSet&, EReconcileError& error, TUpdateKind,
                                   TReconcileAction&) { messages.push_back(error.Message()); };
        for (int apply = 0; apply < 2; ++apply) {
            messages.clear();
            EXPECT_EQ(ds->ApplyUpdates(-1), c.failed);
            EXPECT_EQ(ds->ChangeCount(), c.failed);
            EXPECT_EQ(content(), before);
            EXPECT_FALSE(ds->Connection().InTransaction());
            EXPECT_EQ(messages,
                      std::vector<std::string>(static_cast<std::size_t>(c.failed),
                                               "更新作業は複数のレコードに影響を与えました"));
        }
    }
}

TEST(Apply, TheViewTakesWhatDefaultsAndTriggersWrote) {
    // USER_NAME and TS filled by column defaults on insert, ID counted up by a trigger on every
    // update: each later edit of the same row must still find it.
    test::TempDir dir;
    std::string db = dir.File("filled.fdb");
    test::CreateDatabase(
        db, {"create table KEY_WORDS (KEYWORD_NO integer not null primary key, ID integer,"
             " KEY_WORD varchar(100), USER_NAME varchar(31) default current_user,"
             " TS timestamp default current_timestamp)",
             "create trigger KEY_WORDS_VERSION for KEY_WORDS before update as"
             " begin new.ID = coalesce(old.ID, 0) + 1; end"});
    auto ds = test::OpenTable(db, "KEY_WORDS");
    auto check = test::MakeConnection(db, "Check");
    auto stored = [&](const std::string& column) {
        std::unique_ptr<TSQLResultSet> rows;
        check->Execute("select " + column + " from KEY_WORDS where KEYWORD_NO = 1", {}, &rows);
        return rows->Next() ? rows->Reader().GetValue(0) : TValue(std::string("<no row>"));
    };
    ds->Append();
    ds->FieldByName("KEYWORD_NO").SetValue(std::int64_t(1));
    ds->FieldByName("KEY_WORD").SetValue(std::string("first"));
    ds->Post();
    ASSERT_EQ(ds->ApplyUpdates(-1), 0);
    EXPECT_EQ(ds->FieldByName("USER_NAME").Value(), TValue(std::string("SYSDBA")));
    EXPECT_FALSE(ds->FieldByName("TS").IsNull());
    EXPECT_EQ(ds->FieldByName("TS").Value(), stored("TS"));
    for (const std::string text : {"second", "third", "fourth"}) {
        SCOPED_TRACE(text);
        ds->Edit();
        ds->FieldByName("KEY_WORD").SetValue(text);
        ds->Post();
        EXPECT_EQ(ds->ApplyUpdates(-1), 0);
        EXPECT_EQ(ds->ChangeCount(), 0);
        EXPECT_EQ(stored("KEY_WORD"), TValue(text));
        EXPECT_EQ(ds->FieldByName("ID").Value(), stored("ID"));
    }
    EXPECT_EQ(ds->FieldByName("ID").Value(), TValue(std::int64_t(3)));
    // The view can be refreshed: nothing is left pending.
    ds->Refresh();
    EXPECT_EQ(ds->FieldByName("KEY_WORD").Value(), TValue(std::string("fourth")));
}

TEST(Apply, TwoIdenticalRowsRollBackTheWholeApply) {
    test::TempDir dir;
    std::string db = dir.File("twins.fdb");
    test::CreateDatabase(db, {"create table T (NAME varchar(10), N integer)",
                              "insert into T values ('a', 1)", "insert into T values ('twin', 2)",
                              "insert into T values ('twin', 2)"});
    auto ds = test::OpenTable(db, "T");
    ds->Edit();
    ds->FieldByName("N").SetValue(std::int64_t(100)); // applied before the twin fails
    ds->Post();
    ds->Next();
    ds->Edit();
    ds->FieldByName("N").SetValue(std::int64_t(3));
    ds->Post();
    EXPECT_EQ(ds->ApplyUpdates(-1), 2);
    EXPECT_EQ(ds->ChangeCount(), 2);
    EXPECT_FALSE(ds->Connection().InTransaction());
    auto check = test::MakeConnection(db, "Check");
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select sum(N) from T", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetInt64(0), 5); // nothing of the apply reached the table
}

TEST(Apply, MemoIsSetButNeverComparedAndWideTextStopsAt8192Bytes) {
    test::TempDir dir;
    std::string db = dir.File("wide.fdb");
    test::CreateDatabase(db, {"create table MEMO (INPUTNO integer not null primary key,"
                              " TITLE varchar(20), MEMO blob sub_type text,"
                              " W4094 varchar(4094), W4095 varchar(4095))",
                              "insert into MEMO values (1, 'title', 'old memo', 'a', 'b')"});
    auto ds = test::MakeTable(db, "MEMO", "SimpleDataSet2");
    ds->Connection().Params().Add("ServerCharSet=UTF8");
    ds->DataSet().MaxBlobSize = 1;
    ds->Open();
    EXPECT_EQ(ds->FieldByName("W4094").DataType(), TFieldType::ftWideString);
    EXPECT_EQ(TSQLResolver::DataSize(ds->FieldByName("W4094").Def()), 8190);
    EXPECT_EQ(TSQLResolver::DataSize(ds->FieldByName("W4095").Def()), 8192);
    std::string memo(5000, 'm');
    ds->Edit();
    ds->FieldByName("TITLE").SetValue(std::string("new title"));
    ds->FieldByName("MEMO").SetValue(memo);
    ds->Post();
    const test::SentStatement update = test::StatementOf(*ds, 0);
    EXPECT_EQ(update.text, "update \"MEMO\"  set\r\n"
                           " \"TITLE\" = ?,\r\n"
                           " \"MEMO\" = ?\r\n"
                           "where\r\n"
                           " \"INPUTNO\" = ? and\r\n"
                           " \"TITLE\" = ? and\r\n"
                           " \"W4094\" = ?\r\n");
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    auto check = test::MakeConnection(db, "Check");
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select MEMO from MEMO", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetBlob(0), memo);

    // A single-byte text column is still compared at 8190 characters.
    TFieldDef narrow;
    narrow.DataType = TFieldType::ftString;
    narrow.Size = 8190;
    EXPECT_TRUE(TSQLResolver::EligibleForWhere(narrow, TUpdateMode::upWhereAll, false));
    narrow.Size = 8191;
    EXPECT_FALSE(TSQLResolver::EligibleForWhere(narrow, TUpdateMode::upWhereAll, false));
}

TEST(Apply, ARowWithOnlyBlobColumnsCannotBeFound) {
    test::TempDir dir;
    std::string db = dir.File("blobs.fdb");
    test::CreateDatabase(
        db, {"create table B (M blob sub_type text)", "insert into B values ('only a memo')"});
    auto ds = test::OpenTable(db, "B");
    ds->Delete();
    std::string message;
    ds->OnReconcileError = [&](TSimpleDataSet&, EReconcileError& error, TUpdateKind,
                               TReconcileAction&) { message = error.Message(); };
    EXPECT_EQ(ds->ApplyUpdates(-1), 1);
    EXPECT_EQ(message, "レコードが見つかりませんでした。キーを指定されていません");
}

TEST(Apply, AnInsertWithNothingGivenTakesTheDefaults) {
    test::TempDir dir;
    std::string db = dir.File("defaults.fdb");
    test::CreateDatabase(db, {"create table D (N integer default 42, S varchar(5) default 'x')"});
    auto ds = test::OpenTable(db, "D");
    ds->Insert();
    ds->FieldByName("N").SetValue(std::int64_t(1));
    ds->Post();
    ds->Append();
    ds->Post(); // nothing written: an empty record is still posted
    EXPECT_EQ(test::StatementOf(*ds, 1).text, "insert into \"D\"\r\ndefault values\r\n");
    EXPECT_EQ(ds->ApplyUpdates(-1), 0);
    auto check = test::MakeConnection(db, "Check");
    std::unique_ptr<TSQLResultSet> rows;
    check->Execute("select N, S from D order by N", {}, &rows);
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(0), TValue(std::int64_t(1)));
    EXPECT_EQ(rows->Reader().GetValue(1), TValue(std::string("x")));
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Reader().GetValue(0), TValue(std::int64_t(42)));
}

} // namespace

TEST(Apply, EveryColumnKindFindsItsRowAndIsStoredAsSent) {
    // Each kind of column beside a number in a table without a key, so that every change names
    // the column's old value in its WHERE clause: set, set again, emptied, set from empty, then
    // a row inserted and deleted. Each apply finds its row, and a fresh read shows what was sent.
    struct Case {
        const char* type;
        const char* seed;
        TValue first;
        TValue second;
    };
    const Case cases[] = {
        {"smallint", "1", std::int64_t(-32768), std::int64_t(32767)},
        {"integer", "1", std::int64_t(INT32_MIN), std::int64_t(7)},
        {"bigint", "1", std::int64_t(INT64_MAX), std::int64_t(-1)},
        {"float", "1.5", 2.25, -0.5},
        {"double precision", "1.5", 1e300, -2.5},
        {"numeric(18,4)", "1", TBcd{123456789, 4}, TBcd{-5, 4}},
        {"decimal(9,2)", "1", TBcd{725, 2}, TBcd{-100, 2}},
        {"date", "'2026-12-10'", TSQLDate{1, 1, 1}, TSQLDate{9999, 12, 31}},
        {"time", "'10:11:12'", TSQLTime{23, 59, 59, 9999}, TSQLTime{0, 0, 0, 1}},
        {"timestamp", "'2026-12-10 10:11:12'", TSQLTimeStamp{{2000, 2, 29}, {12, 0, 0, 1}},
         TSQLTimeStamp{{1858, 11, 17}, {0, 0, 0, 0}}},
        {"char(4)", "'ab'", std::string("𠮷"), std::string("x")},
        {"varchar(4)", "'ab'", std::string("𠮷𠮷𠮷𠮷"), std::string()},
        {"varchar(4) character set sjis_0208", "'ab'", std::string("日本"), std::string("漢字")},
        {"boolean", "false", true, false},
        {"char(2) character set octets", "x'0102'", TBytes{"\x03\x04"},
         TBytes{std::string("\0\xff", 2)}},
    };
    test::TempDir dir;
    std::string db = dir.File("kinds.fdb");
    std::vector<std::string> tables;
    {
        std::vector<std::string> statements;
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            tables.push_back("K" + std::to_string(i));
            statements.push_back("create table " + tables[i] + " (N integer, C " + cases[i].type +
                                 ")");
        }
        test::CreateDatabase(db, {});
        auto other = test::MakeConnection(db, "Other");
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            other->ExecuteDirect(statements[i]);
            other->ExecuteDirect("insert into " + tables[i] + " values (1, " + cases[i].seed + ")");
        }
    }
    // Both read and write through a UTF8 attachment, as the window does.
    auto open = [&](const std::string& table, const char* name) {
        auto dataSet = test::MakeTable(db, table, name);
        dataSet->Connection().Params().Add("ServerCharSet=UTF8");
        dataSet->Open();
        return dataSet;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].type);
        auto ds = open(tables[i], "SimpleDataSet1");
        TField& c = ds->FieldByName("C");
        // Rows as (N, C) pairs in the order read; a fixed-length text without the blanks the
        // database pads it with, which the view does not show until it reads the row again.
        auto trimmed = [](TValue value) {
            if (auto* text = std::get_if<std::string>(&value))
                text->erase(text->find_last_not_of(' ') + 1);
            return value;
        };
        auto stored = [&] {
            auto check = open(tables[i], "Check");
            std::vector<std::pair<TValue, TValue>> rows;
            for (int r = 1; r <= check->RecordCount(); ++r) {
                check->SetRecNo(r);
                rows.emplace_back(check->FieldByName("N").Value(),
                                  trimmed(check->FieldByName("C").Value()));
            }
            return rows;
        };
        auto shown = [&] {
            std::vector<std::pair<TValue, TValue>> rows;
            for (int r = 1; r <= ds->RecordCount(); ++r) {
                ds->SetRecNo(r);
                rows.emplace_back(ds->FieldByName("N").Value(), trimmed(c.Value()));
            }
            return rows;
        };
        auto apply = [&](const char* step) {
            SCOPED_TRACE(step);
            EXPECT_EQ(ds->ApplyUpdates(0), 0);
            EXPECT_EQ(ds->ChangeCount(), 0);
            EXPECT_EQ(stored(), shown());
        };
        for (const TValue& value : {cases[i].first, cases[i].second, TValue(), cases[i].first}) {
            ds->SetRecNo(1);
            ds->Edit();
            c.SetValue(value);
            ds->Post();
            apply(IsNull(value) ? "emptied" : "set");
        }
        EXPECT_FALSE(IsNull(c.Value()));
        ds->Append();
        ds->FieldByName("N").SetValue(std::int64_t(2));
        c.SetValue(cases[i].second);
        ds->Post();
        apply("inserted");
        ASSERT_EQ(ds->RecordCount(), 2);
        ds->SetRecNo(2);
        ds->Delete();
        apply("deleted");
        EXPECT_EQ(stored().size(), 1u);
    }
}

TEST(Apply, MoreStatementShapesThanTheConnectionKeepsPreparedStillFindTheirRows) {
    // Each row sets its own mix of seven columns: 70 update texts, more than the connection
    // keeps prepared, sent twice over in turn. Every change whose statement went from the
    // connection's cache since its last use prepares it again and still writes its own row.
    const int kShapes = 70;
    test::TempDir dir;
    std::string db = dir.File("shapes.fdb");
    test::CreateDatabase(db, {"create table S (ID integer not null primary key, C1 integer,"
                              " C2 integer, C3 integer, C4 integer, C5 integer, C6 integer,"
                              " C7 integer)"});
    auto other = test::MakeConnection(db, "Other");
    for (int id = 0; id < 2 * kShapes; ++id)
        other->Execute("insert into S values (?, 0, 0, 0, 0, 0, 0, 0)", {std::int64_t(id)});
    // The columns a row's change sets, and the value it sets there.
    auto columns = [&](std::int64_t id) { return id % kShapes + 1; };
    auto value = [](std::int64_t id, int column) { return id * 10 + column; };

    auto ds = test::OpenTable(db, "S");
    for (int r = 1; r <= ds->RecordCount(); ++r) {
        ds->SetRecNo(r);
        std::int64_t id = std::get<std::int64_t>(ds->FieldByName("ID").Value());
        ds->Edit();
        for (int c = 1; c <= 7; ++c)
            if (columns(id) & (1 << (c - 1)))
                ds->FieldByName("C" + std::to_string(c)).SetValue(value(id, c));
        ds->Post();
    }
    ASSERT_EQ(ds->ChangeCount(), 2 * kShapes);
    EXPECT_EQ(ds->ApplyUpdates(0), 0);
    EXPECT_EQ(ds->ChangeCount(), 0);

    std::unique_ptr<TSQLResultSet> rows;
    other->Execute("select ID, C1, C2, C3, C4, C5, C6, C7 from S order by ID", {}, &rows);
    int seen = 0;
    while (rows->Next()) {
        std::int64_t id = rows->Reader().GetInt64(0);
        for (int c = 1; c <= 7; ++c) {
            std::int64_t expected = columns(id) & (1 << (c - 1)) ? value(id, c) : 0;
            EXPECT_EQ(rows->Reader().GetInt64(c), expected) << "ID " << id << " C" << c;
        }
        ++seen;
    }
    EXPECT_EQ(seen, 2 * kShapes);
}
