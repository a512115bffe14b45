// The statements of changes as the planner writes them, from a change log held in memory: no
// database needed.
#include "Errors.h"
#include "StatementPlanner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace sorvanto;

namespace {

TFieldDef Field(const char* name, TFieldType type, int size = 0) {
    TFieldDef def;
    def.Name = def.Origin = name;
    def.DataType = type;
    def.Size = size;
    return def;
}

// KEY_WORDS as the example has it, a memo, and a number that may hold NaN.
std::vector<TFieldDef> Fields() {
    std::vector<TFieldDef> fields{Field("KEYWORD_NO", TFieldType::ftInteger),
                                  Field("ID", TFieldType::ftInteger),
                                  Field("KEY_WORD", TFieldType::ftString, 100),
                                  Field("USER_NAME", TFieldType::ftString, 31),
                                  Field("TS", TFieldType::ftTimeStamp),
                                  Field("MEMO", TFieldType::ftMemo),
                                  Field("RATE", TFieldType::ftFloat)};
    fields[0].ProviderFlags |= pfInKey;
    return fields;
}

const TSQLTimeStamp kStamp{{2026, 12, 10}, {9, 30, 0, 0}};

// A table's rows held by an engine, with changes posted to it as a dataset posts them.
struct Log {
    TTableEngine engine;
    Log() {
        TRowStore rows(Fields());
        rows.Append({std::int64_t(1), std::int64_t(10), std::string("word"), TValue(), kStamp,
                     std::string("memo"), 0.5});
        rows.Append({std::int64_t(2), std::int64_t(20), std::string(""), std::string("user"),
                     kStamp, TValue(), std::nan("")});
        engine.Load(std::move(rows));
    }
    // The plan of the change at a position of the log, with its parameters' values.
    std::pair<TStatementPlan, std::vector<TValue>> Plan(TStatementPlanner& planner, int position) {
        const TChangeSet changes(engine);
        const TChange& change = changes[static_cast<std::size_t>(position)];
        std::string key;
        planner.Shape(change, changes.Rows(),
                      change.oldRow == kNoRow ? nullptr : changes.Rows().RowBytes(change.oldRow),
                      key);
        TStatementPlan& plan = planner.PlanFor(key);
        return {plan, PlanValues(changes, change, plan)};
    }
    std::vector<TValue> Row(int position) {
        std::vector<TValue> values;
        for (int f = 0; f < 7; ++f)
            values.push_back(engine.Value(position, f));
        return values;
    }
};

TStatementPlanner Planner(bool sqlBased = true) {
    TStatementTable table;
    table.quote = "\"";
    table.sqlBased = sqlBased;
    table.quotedTable = TStatementPlanner::QuoteName("KEY_WORDS", table.quote, sqlBased);
    table.tablePrefix = sqlBased ? "" : table.quotedTable + ".";
    return TStatementPlanner(Fields(), table);
}

TEST(StatementPlanner, WritesTheExampleStatementsWithTheirParameters) {
    Log log;
    TStatementPlanner planner = Planner();
    std::vector<TValue> row = log.Row(0);
    row[2] = std::string("new word");
    log.engine.ModifyRow(0, row, TFieldMask{false, false, true});
    auto [update, params] = log.Plan(planner, 0);
    const std::string where = "where\r\n"
                              " \"KEYWORD_NO\" = ? and\r\n"
                              " \"ID\" = ? and\r\n"
                              " \"KEY_WORD\" = ? and\r\n"
                              " \"USER_NAME\" is null and\r\n"
                              " \"TS\" = ? and\r\n"
                              " \"RATE\" = ?\r\n";
    EXPECT_EQ(update.text, "update \"KEY_WORDS\"  set\r\n \"KEY_WORD\" = ?\r\n" + where);
    EXPECT_EQ(params, (std::vector<TValue>{std::string("new word"), std::int64_t(1),
                                           std::int64_t(10), std::string("word"), kStamp, 0.5}));

    log.engine.DeleteRow(0);
    auto [deletion, deleted] = log.Plan(planner, 0);
    EXPECT_EQ(deletion.text, "delete from \"KEY_WORDS\" \r\n" + where);
    EXPECT_EQ(deleted, (std::vector<TValue>{std::int64_t(1), std::int64_t(10), std::string("word"),
                                            kStamp, 0.5}));

    log.engine.InsertRow(0, log.Row(0), TFieldMask{true, true, true, true, true, true, true});
    EXPECT_EQ(
        log.Plan(planner, 1).first.text,
        "insert into \"KEY_WORDS\"\r\n"
        "  (\"KEYWORD_NO\", \"ID\", \"KEY_WORD\", \"USER_NAME\", \"TS\", \"MEMO\", \"RATE\")\r\n"
        "values\r\n"
        "  (?, ?, ?, ?, ?, ?, ?)\r\n");
    log.engine.InsertRow(0, log.Row(0), TFieldMask{});
    EXPECT_EQ(log.Plan(planner, 2).first.text, "insert into \"KEY_WORDS\"\r\ndefault values\r\n");
}

TEST(StatementPlanner, ChangesOfOneShapeShareAPlanAndEachOldValueIsNamedAsItCanBeFound) {
    Log log;
    TStatementPlanner planner = Planner(false);
    for (int position : {0, 1}) {
        std::vector<TValue> row = log.Row(position);
        row[1] = std::int64_t(99);
        log.engine.ModifyRow(position, row, TFieldMask{false, true});
    }
    auto first = log.Plan(planner, 0);
    auto second = log.Plan(planner, 1);
    // Row 2 holds an empty KEY_WORD (null to a table that is not SQL-based), a null MEMO (never
    // compared) and NaN, which no "= ?" finds.
    EXPECT_EQ(second.first.text, "update \"KEY_WORDS\"  set\r\n"
                                 " \"KEY_WORDS\".\"ID\" = ?\r\n"
                                 "where\r\n"
                                 " \"KEY_WORDS\".\"KEYWORD_NO\" = ? and\r\n"
                                 " \"KEY_WORDS\".\"ID\" = ? and\r\n"
                                 " \"KEY_WORDS\".\"KEY_WORD\" is null and\r\n"
                                 " \"KEY_WORDS\".\"USER_NAME\" = ? and\r\n"
                                 " \"KEY_WORDS\".\"TS\" = ? and\r\n"
                                 " \"KEY_WORDS\".\"RATE\" <> \"KEY_WORDS\".\"RATE\"\r\n");
    EXPECT_NE(first.first.text, second.first.text);
    // A third change of the first one's shape takes the very same plan.
    std::vector<TValue> again = log.Row(0);
    again[1] = std::int64_t(100);
    log.engine.ModifyRow(0, again, TFieldMask{false, true});
    const TChangeSet changes(log.engine);
    std::string key;
    planner.Shape(changes[0], changes.Rows(), changes.Rows().RowBytes(changes[0].oldRow), key);
    TStatementPlan* plan = &planner.PlanFor(key);
    planner.Shape(changes[1], changes.Rows(), changes.Rows().RowBytes(changes[1].oldRow), key);
    planner.PlanFor(key);
    planner.Shape(changes[0], changes.Rows(), changes.Rows().RowBytes(changes[0].oldRow), key);
    EXPECT_EQ(&planner.PlanFor(key), plan);
}

TEST(StatementPlanner, AChangeWithoutAStatementOrARowToFindIsPlannedAsSuch) {
    Log log;
    std::vector<TValue> row = log.Row(0);
    row[0] = std::int64_t(5);
    log.engine.ModifyRow(0, row, TFieldMask{true});
    // The key field read-only: nothing to set, nothing to run.
    std::vector<TFieldDef> fields = Fields();
    fields[0].ReadOnly = true;
    TStatementTable table{"\"KEY_WORDS\"", "", "\"", true};
    TStatementPlanner readOnly(fields, table);
    EXPECT_EQ(log.Plan(readOnly, 0).first.text, "");
    // No field to find the row by, or no table: the change fails with the reason.
    for (TFieldDef& field : fields)
        field.ProviderFlags &= ~pfInWhere;
    fields[0].ReadOnly = false;
    TStatementPlanner unfindable(fields, table);
    EXPECT_THROW(log.Plan(unfindable, 0), EDatabaseError);
    TStatementPlanner nameless(Fields(), TStatementTable{"", "", "\"", true});
    try {
        log.Plan(nameless, 0);
        ADD_FAILURE();
    } catch (const EDatabaseError& error) {
        EXPECT_EQ(error.Message(), "レコードを解決できません。テーブル名が見つかりません。");
    }
}

} // namespace
