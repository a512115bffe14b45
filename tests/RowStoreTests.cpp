// The row store and the table engine's view on their own, and the inline decoding and encoding
// of Firebird's dates and times against the client library's own.

#include <FirebirdClient.h>
#include <FirebirdDates.h>
#include <TableEngine.h>

#include <firebird/Interface.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvanto {
namespace {

std::vector<TFieldDef> KeyAndText() {
    TFieldDef key;
    key.Name = "ID";
    key.DataType = TFieldType::ftInteger;
    TFieldDef text;
    text.Name = "TITLE";
    text.DataType = TFieldType::ftString;
    text.Size = 100;
    return {key, text};
}

TTableEngine LoadedEngine(int rows) {
    TRowStore store(KeyAndText());
    for (int i = 0; i < rows; ++i)
        store.Append({std::int64_t(i), "row " + std::to_string(i)});
    TTableEngine engine;
    engine.Load(std::move(store));
    return engine;
}

std::vector<std::int64_t> Keys(const TTableEngine& engine) {
    std::vector<std::int64_t> keys;
    for (int p = 0; p < engine.ViewCount(); ++p)
        keys.push_back(std::get<std::int64_t>(engine.Value(p, 0)));
    return keys;
}

TEST(RowStore, RowsAcrossChunkAndGroupBoundariesKeepTheirValues) {
    // Long texts fill chunks quickly, and runs of rows too long for a group's size byte fall at
    // every place in a group; many rows cross group blocks; one row is larger than any chunk.
    TRowStore store(KeyAndText());
    const int count = 10000;
    for (int i = 0; i < count; ++i) {
        std::size_t length = i == 5000 ? (std::size_t(3) << 20) : std::size_t(i % 300);
        store.Append({std::int64_t(i), std::string(length, static_cast<char>('a' + i % 26))});
    }
    ASSERT_EQ(store.RowCount(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        std::size_t length = i == 5000 ? (std::size_t(3) << 20) : std::size_t(i % 300);
        ASSERT_EQ(std::get<std::int64_t>(store.Value(TRowId(i), 0)), i);
        ASSERT_EQ(std::get<std::string>(store.Value(TRowId(i), 1)),
                  std::string(length, static_cast<char>('a' + i % 26)))
            << "row " << i;
    }
    store.Append({std::int64_t(-1), TValue{}});
    EXPECT_TRUE(store.IsNull(TRowId(count), 1));
    EXPECT_THROW(store.Value(TRowId(count + 1), 0), std::out_of_range);
}

TEST(EngineView, ModifiedRowsSurviveTheFirstInsertAndDeleteAndAReconcile) {
    TTableEngine engine = LoadedEngine(5);
    std::vector<bool> all{true, true};
    engine.ModifyRow(1, {std::int64_t(11), "eleven"}, all);
    engine.ModifyRow(3, {std::int64_t(13), "thirteen"}, all);
    engine.ModifyRow(1, {std::int64_t(21), "eleven"}, all);
    EXPECT_EQ(Keys(engine), (std::vector<std::int64_t>{0, 21, 2, 13, 4}));
    EXPECT_EQ(engine.Status(1), TUpdateStatus::usModified);
    EXPECT_EQ(engine.Status(2), TUpdateStatus::usUnmodified);
    EXPECT_EQ(engine.ChangeCount(), 2);

    engine.InsertRow(2, {std::int64_t(100), "new"}, all);
    EXPECT_EQ(Keys(engine), (std::vector<std::int64_t>{0, 21, 100, 2, 13, 4}));
    EXPECT_EQ(engine.Status(2), TUpdateStatus::usInserted);
    EXPECT_EQ(engine.Status(4), TUpdateStatus::usModified);
    engine.DeleteRow(0);
    engine.ModifyRow(3, {std::int64_t(23), "thirteen"}, all);
    EXPECT_EQ(Keys(engine), (std::vector<std::int64_t>{21, 100, 2, 23, 4}));
    EXPECT_EQ(engine.ChangeCount(), 4);

    // Keep only the insert pending: the rest is accepted, the view stays as it is.
    const auto& changes = engine.Changes();
    int insert = -1;
    for (int i = 0; i < engine.ChangeCount(); ++i)
        if (changes[static_cast<std::size_t>(i)].kind == TUpdateKind::ukInsert)
            insert = i;
    engine.Reconcile({insert});
    EXPECT_EQ(engine.ChangeCount(), 1);
    EXPECT_EQ(Keys(engine), (std::vector<std::int64_t>{21, 100, 2, 23, 4}));
    EXPECT_EQ(engine.Status(0), TUpdateStatus::usUnmodified);
    EXPECT_EQ(engine.Status(1), TUpdateStatus::usInserted);
    EXPECT_THROW(engine.Value(5, 0), std::out_of_range);
}

TEST(EngineView, DatabaseValuesReachUnmodifiedRowsOnly) {
    TTableEngine engine = LoadedEngine(3);
    engine.ModifyRow(0, {std::int64_t(10), "ten"}, {true, true});
    engine.TakeRowValues({{TRowId(0), {std::nullopt, TValue(std::string("stale"))}},
                          {TRowId(1), {std::nullopt, TValue(std::string("fresh"))}}});
    EXPECT_EQ(std::get<std::string>(engine.Value(0, 1)), "ten");
    EXPECT_EQ(std::get<std::string>(engine.Value(1, 1)), "fresh");
    EXPECT_EQ(std::get<std::int64_t>(engine.Value(1, 0)), 1);
    EXPECT_THROW(engine.Value(3, 0), std::out_of_range);
}

// The client library's own decoding, for comparison.
TSQLDate ClientDate(ISC_DATE date) {
    unsigned y, m, d;
    fbdrv::LoadClient("fbclient.dll").util->decodeDate(date, &y, &m, &d);
    return TSQLDate{int(y), int(m), int(d)};
}

TEST(FirebirdDates, InlineDecodingAndEncodingMatchTheClientLibrary) {
    Firebird::IUtil* util = fbdrv::LoadClient("fbclient.dll").util;
    const TSQLDate dates[] = {{1, 1, 1},     {1, 12, 31},    {4, 2, 29},     {100, 3, 1},
                              {1582, 10, 4}, {1858, 11, 16}, {1858, 11, 17}, {1900, 2, 28},
                              {1970, 1, 1},  {2000, 2, 29},  {2024, 12, 31}, {9999, 12, 31}};
    for (const TSQLDate& date : dates) {
        ISC_DATE encoded =
            util->encodeDate(unsigned(date.year), unsigned(date.month), unsigned(date.day));
        EXPECT_EQ(fbdrv::DecodeDate(encoded), ClientDate(encoded)) << date.year;
        EXPECT_EQ(fbdrv::DecodeDate(encoded), date) << date.year;
        EXPECT_TRUE(fbdrv::InlineEncodable(date));
        EXPECT_EQ(fbdrv::EncodeDate(date), encoded) << date.year;
    }
    // Every day of a span of years, leap days and century rules included.
    for (ISC_DATE day = fbdrv::EncodeDate({1895, 1, 1}); day < fbdrv::EncodeDate({2105, 1, 1});
         ++day)
        ASSERT_EQ(fbdrv::EncodeDate(ClientDate(day)), day);
    for (const TSQLDate& date :
         {TSQLDate{1900, 2, 29}, TSQLDate{2023, 2, 29}, TSQLDate{2024, 4, 31},
          TSQLDate{2024, 13, 1}, TSQLDate{0, 1, 1}, TSQLDate{10000, 1, 1}, TSQLDate{2024, 1, 0}})
        EXPECT_FALSE(fbdrv::InlineEncodable(date)) << date.year << "-" << date.month;
    const TSQLTime times[] = {{0, 0, 0, 0}, {0, 0, 0, 1}, {12, 34, 56, 7890}, {23, 59, 59, 9999}};
    for (const TSQLTime& time : times) {
        ISC_TIME encoded = util->encodeTime(unsigned(time.hour), unsigned(time.minute),
                                            unsigned(time.second), unsigned(time.fractions));
        unsigned h, m, s, f;
        util->decodeTime(encoded, &h, &m, &s, &f);
        EXPECT_EQ(fbdrv::DecodeTime(encoded), (TSQLTime{int(h), int(m), int(s), int(f)}));
        EXPECT_EQ(fbdrv::DecodeTime(encoded), time);
        EXPECT_EQ(fbdrv::EncodeTime(time), encoded);
    }
}

} // namespace
} // namespace sorvanto
