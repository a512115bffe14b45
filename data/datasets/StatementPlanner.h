#pragma once

#include "ChangeSet.h"
#include "Connection.h"
#include "Field.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace sorvanto {

enum class TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };

// The statement of a change as a plan: its text, and per "?" marker in order, the field whose
// value goes there and whether it is the change's old value of the field or its new one.
struct TStatementPlan {
    struct Param {
        std::uint32_t field;
        bool old;
        bool bytes; // the field holds bytes, which go as values
    };
    std::string text; // empty: nothing to run (a modification with nothing to set)
    std::vector<Param> params;
    TStatementSlot statement; // where a run keeps the connection's prepared statement for it
};

// The table a planner writes statements for.
struct TStatementTable {
    std::string quotedTable; // as QuoteName quotes it
    std::string tablePrefix; // empty when SQL-based, else the quoted table and "."
    std::string quote;       // the identifier quote
    bool sqlBased = true;
};

// Writes the statement plans of one table's changes. Changes of one shape (their kind, which
// new values they give, which old values are null or NaN) share one plan, written at the
// first of them and kept. Needs no database.
class TStatementPlanner {
public:
    TStatementPlanner(std::vector<TFieldDef> fields, TStatementTable table);

    // The shape of a change, as a key: its kind, then per field a digit of whether it gives a
    // new value (1) and whether the WHERE clause names its old value as null (2) or NaN (4).
    // `oldRow` is where its old row lies (null for none).
    void Shape(const TChange& change, const TRowStore& rows, const unsigned char* oldRow,
               std::string& key) const;
    // The plan of a shape. Raises the failure a change of the shape fails with (an unknown
    // table, no field to find the row by).
    TStatementPlan& PlanFor(const std::string& key);

    const std::vector<TFieldDef>& Fields() const noexcept { return fields_; }
    const TStatementTable& Table() const noexcept { return table_; }
    // A field as the statements name it: the table prefix, and its column quoted.
    std::string FieldName(const TFieldDef& field) const;

    // Quotes an identifier with q: names already quoted stay as they are; "a.b" becomes
    // q a q.q b q.
    static std::string QuoteName(const std::string& name, const std::string& q, bool sqlBased);
    // Bytes of a field's value buffer: text size + 1, wide text 2 × size + 2, else fixed.
    static int DataSize(const TFieldDef& field);
    static bool EligibleForUpdate(const TFieldDef& field, bool given);
    static bool EligibleForWhere(const TFieldDef& field, TUpdateMode mode, bool given);
    // An old value that the WHERE clause can name only as "is null" ("= ?" finds no null, nor,
    // on a table that is not SQL-based, an empty text), or as "<> itself" (NaN equals nothing).
    static bool NamedAsNull(const TFieldDef& field, const TValue& old, bool sqlBased);
    static bool NamedAsNaN(const TValue& old);

private:
    // The one place where a change's kind decides its statement.
    TStatementPlan Write(const std::string& key) const;
    void WriteWhere(const std::string& key, TStatementPlan& plan) const;

    std::vector<TFieldDef> fields_;
    TStatementTable table_;
    std::unordered_map<std::string, TStatementPlan> plans_;
    // Changes of one shape tend to come in runs: the last key is compared before any hashing.
    std::string lastKey_;
    TStatementPlan* last_ = nullptr;
};

// The parameters of a change's plan as values, in order: the old or new value of each field
// (a new value not given, and an old one without an old row, as null).
std::vector<TValue> PlanValues(const TChangeSet& changes, const TChange& change,
                               const TStatementPlan& plan);

} // namespace sorvanto
