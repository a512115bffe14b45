// The table engine on its own, without a database: how edits of the view become the change log.
#include "TableEngine.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

using namespace sorvanto;

namespace {

std::vector<TFieldDef> Defs() {
    TFieldDef id;
    id.Name = "ID";
    id.DataType = TFieldType::ftInteger;
    TFieldDef name;
    name.Name = "NAME";
    name.DataType = TFieldType::ftString;
    name.Size = 20;
    return {id, name};
}

// Three rows as read: (1, 'a'), (2, ''), (3, NULL).
TTableEngine Loaded() {
    TRowStore rows(Defs());
    rows.Append({std::int64_t(1), std::string("a")});
    rows.Append({std::int64_t(2), std::string()});
    rows.Append({std::int64_t(3), std::monostate{}});
    TTableEngine engine;
    engine.Load(std::move(rows));
    return engine;
}

void SetName(TTableEngine& engine, int position, const TValue& name) {
    engine.ModifyRow(position, {engine.Value(position, 0), name}, {true, true});
}

void Insert(TTableEngine& engine, int position, std::int64_t id, const std::string& name) {
    engine.InsertRow(position, {id, name}, {true, true});
}

std::string Text(const TTableEngine& engine, TRowId row) {
    if (row == kNoRow)
        return "-";
    std::string text = std::to_string(std::get<std::int64_t>(engine.RowValue(row, 0)));
    TValue name = engine.RowValue(row, 1);
    return text + (IsNull(name) ? " NULL" : " '" + std::get<std::string>(name) + "'");
}

// Each entry of the log as "kind old -> new [given fields]".
std::vector<std::string> Log(const TTableEngine& engine) {
    std::vector<std::string> log;
    for (const TChange& change : engine.Changes()) {
        const char* kind = change.kind == TUpdateKind::ukModify   ? "modify"
                           : change.kind == TUpdateKind::ukInsert ? "insert"
                                                                  : "delete";
        std::string given;
        for (std::size_t i = 0; i < change.given.size(); ++i)
            given += change.given[i] ? (i == 0 ? "I" : "N") : "";
        log.push_back(std::string(kind) + " " + Text(engine, change.oldRow) + " -> " +
                      Text(engine, change.newRow) + (given.empty() ? "" : " [" + given + "]"));
    }
    return log;
}

} // namespace

TEST(ChangeLog, FollowsTheRulesOfEachSequenceOfEdits) {
    struct Case {
        const char* name;
        std::function<void(TTableEngine&)> edits;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"modify twice keeps the first old row",
         [](TTableEngine& e) {
             SetName(e, 0, std::string("x"));
             SetName(e, 0, std::string("y"));
         },
         {"modify 1 'a' -> 1 'y' [N]"}},
        {"insert then delete leaves nothing",
         [](TTableEngine& e) {
             Insert(e, 3, 4, "d");
             e.DeleteRow(3);
         },
         {}},
        {"an inserted row deleted between other changes leaves them intact",
         [](TTableEngine& e) {
             SetName(e, 0, std::string("x"));
             Insert(e, 1, 4, "d");
             SetName(e, 2, std::string("y"));
             e.DeleteRow(1);
             SetName(e, 1, std::string("z"));
         },
         {"modify 1 'a' -> 1 'x' [N]", "modify 2 '' -> 2 'z' [N]"}},
        {"modify then delete is one delete with the original values",
         [](TTableEngine& e) {
             SetName(e, 0, std::string("x"));
             e.DeleteRow(0);
         },
         {"delete 1 'a' -> -"}},
        {"an equal value logs nothing",
         [](TTableEngine& e) {
             SetName(e, 0, std::string("a"));
             SetName(e, 2, std::monostate{});
         },
         {}},
        {"NULL against empty text is a change both ways",
         [](TTableEngine& e) {
             SetName(e, 1, std::monostate{});
             SetName(e, 2, std::string());
         },
         {"modify 2 '' -> 2 NULL [N]", "modify 3 NULL -> 3 '' [N]"}},
        {"reconcile keeps exactly the failed entries",
         [](TTableEngine& e) {
             SetName(e, 0, std::string("x"));
             SetName(e, 1, std::string("y"));
             e.DeleteRow(2);
             Insert(e, 2, 4, "d");
             e.Reconcile({3, 1});
         },
         {"modify 2 '' -> 2 'y' [N]", "insert - -> 4 'd' [IN]"}},
        {"after a reconcile a modify folds into the kept entry; an accepted row starts afresh",
         [](TTableEngine& e) {
             SetName(e, 0, std::string("x"));
             SetName(e, 1, std::string("y"));
             e.Reconcile({1});
             SetName(e, 1, std::string("z"));
             SetName(e, 0, std::string("w"));
         },
         {"modify 2 '' -> 2 'z' [N]", "modify 1 'x' -> 1 'w' [N]"}},
    };
    for (const Case& c : cases) {
        TTableEngine engine = Loaded();
        c.edits(engine);
        EXPECT_EQ(Log(engine), c.log) << c.name;
    }
}

TEST(ChangeLog, EachPositionFindsItsOwnChangeBeforeAndAfterAnInsert) {
    TTableEngine engine = Loaded();
    SetName(engine, 1, std::string("b")); // only modified: the view lists no rows yet
    EXPECT_EQ(engine.ChangeAt(0), nullptr);
    ASSERT_NE(engine.ChangeAt(1), nullptr);
    EXPECT_EQ(engine.ChangeAt(1)->kind, TUpdateKind::ukModify);
    EXPECT_EQ(engine.ChangeAt(3), nullptr);
    Insert(engine, 0, 9, "z"); // now the view lists its rows, and everything moves down one
    ASSERT_NE(engine.ChangeAt(0), nullptr);
    EXPECT_EQ(engine.ChangeAt(0)->kind, TUpdateKind::ukInsert);
    EXPECT_EQ(engine.ChangeAt(1), nullptr);
    ASSERT_NE(engine.ChangeAt(2), nullptr);
    EXPECT_EQ(engine.ChangeAt(2)->kind, TUpdateKind::ukModify);
}

TEST(RowIndex, AgreesWithAMapThroughSetsResetsAndErases) {
    // 31 ids keep the table at 64 slots, up to half full: entries collide, run past the table's
    // end and are erased from the middle of a run, which moves the entries after them.
    TRowIndex index;
    std::unordered_map<TRowId, std::uint32_t> model;
    std::mt19937 random(7);
    std::vector<TRowId> ids(31);
    for (TRowId& id : ids)
        id = static_cast<TRowId>(random() % kNoRow);
    for (std::uint32_t step = 0; step < 20000; ++step) {
        TRowId row = ids[random() % ids.size()];
        if (random() % 3 == 0) {
            index.Erase(row);
            model.erase(row);
        } else {
            index.Set(row, step);
            model[row] = step;
        }
        for (TRowId id : ids) {
            const std::uint32_t* found = index.Find(id);
            auto expected = model.find(id);
            ASSERT_EQ(found != nullptr, expected != model.end()) << "step " << step << " id " << id;
            if (found) {
                ASSERT_EQ(*found, expected->second) << "step " << step << " id " << id;
            }
        }
    }
    index.Clear();
    EXPECT_EQ(index.Find(model.begin()->first), nullptr);
    index.Set(kNoRow - 1, 3);
    EXPECT_EQ(*index.Find(kNoRow - 1), 3u);
}

TEST(FieldMask, AgreesWithABoolVectorAcrossTheInlineLimit) {
    // Sizes on both sides of the 64 flags kept inline, grown and shrunk in any order: flags
    // past a shrink must not come back on the next growth.
    const std::size_t sizes[] = {0, 1, 5, 63, 64, 65, 100, 128, 129};
    TFieldMask mask;
    std::vector<bool> model;
    std::mt19937 random(11);
    for (int step = 0; step < 5000; ++step) {
        if (random() % 4 == 0) {
            std::size_t size = sizes[random() % std::size(sizes)];
            mask.resize(size);
            model.resize(size);
        } else {
            std::size_t field = random() % (model.size() + 3);
            mask.Set(field);
            if (field < model.size())
                model[field] = true;
        }
        ASSERT_TRUE(mask == model) << "step " << step << " size " << model.size();
        ASSERT_FALSE(mask[model.size()]) << "step " << step;
        ASSERT_TRUE(TFieldMask(model) == mask) << "step " << step;
    }
    mask.clear();
    EXPECT_TRUE(mask == std::vector<bool>{});
}

TEST(ChangeLog, ARowOfManyFieldsKeepsWhichOnesEachEditGave) {
    // 70 integer fields: the flags of a change no longer fit one word.
    std::vector<TFieldDef> defs(70);
    for (std::size_t f = 0; f < defs.size(); ++f) {
        defs[f].Name = "F" + std::to_string(f);
        defs[f].DataType = TFieldType::ftInteger;
    }
    TRowStore rows(defs);
    std::vector<TValue> values(defs.size(), TValue(std::int64_t(0)));
    rows.Append(values);
    TTableEngine engine;
    engine.Load(std::move(rows));
    const std::vector<bool> all(defs.size(), true);

    // The second edit of the row adds its fields to the first's.
    values[66] = std::int64_t(66);
    engine.ModifyRow(0, values, all);
    values[3] = std::int64_t(3);
    engine.ModifyRow(0, values, all);
    std::vector<bool> expected(defs.size());
    expected[3] = expected[66] = true;
    ASSERT_EQ(engine.ChangeCount(), 1);
    EXPECT_TRUE(engine.Changes()[0].given == expected);

    engine.InsertRow(1, values, std::vector<bool>(69, true));
    expected.assign(defs.size(), true);
    expected[69] = false;
    EXPECT_TRUE(engine.Changes()[1].given == expected);
}
