#pragma once

#include "Connection.h"
#include "Field.h"
#include "TableEngine.h"
#include "Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace sorvanto {

enum class TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };
enum class TResolverResponse { rrSkip, rrAbort, rrMerge, rrApply, rrIgnore };

// One change as the resolver sees it: old values (null is a value) and new values, each not
// given (nullopt), null, or a value. A change taken from a table's rows may instead name its
// rows there (and which new values are given): its values are then read when they are needed.
struct TChangeRecord {
    TUpdateKind kind = TUpdateKind::ukModify;
    int recordNumber = 0;
    // Sent in a transaction whose commit answer was lost: whether it took effect is read from
    // the rows before anything else is sent.
    bool unconfirmed = false;
    std::vector<TValue> oldValues;
    std::vector<std::optional<TValue>> newValues;
    TRowId oldRow = kNoRow;
    TRowId newRow = kNoRow;
    // Where the change's flags of given new values start in its set's `given`.
    std::size_t givenAt = kNoFlags;
    static constexpr std::size_t kNoFlags = static_cast<std::size_t>(-1);
};

struct TChangeSet {
    std::vector<TFieldDef> fields;
    std::vector<TChangeRecord> records;
    // Where the changes that name rows read their values; it must outlive the set.
    const TRowStore* rows = nullptr;
    // Per change that names rows, one flag a field: the change gives a new value for it.
    std::vector<char> given;

    bool ReadsRows(const TChangeRecord& change) const noexcept {
        return rows && (change.oldRow != kNoRow || change.newRow != kNoRow);
    }
    // Whether the change gives a new value for the field.
    bool Given(const TChangeRecord& change, std::size_t field) const;
    // The change with all its values in it.
    TChangeRecord WithValues(const TChangeRecord& change) const;
};

// A change that failed: its record number, the response (ordinal + 1), the message, an empty
// context, the two codes, and the row's current values as read back (per field, when read and
// different from the old value).
struct TUpdateErrorRecord {
    int recordNumber = 0;
    int response = 0;
    std::string message;
    std::string context;
    int errorCode = 1;
    int previousErrorCode = 1;
    std::vector<std::optional<TValue>> currentValues;
};

// A row read back after the apply committed: per field the value the database holds now, for
// the fields read (the others not given).
struct TReadBackRow {
    int recordNumber = 0;
    std::vector<std::optional<TValue>> values;
};

// Whether a table writes values of its own into the rows it stores, so that a row can hold
// other values than the ones sent: read from the system tables once per opening of a dataset.
struct TTableOwnValues {
    bool onModify = false; // triggers or computed columns
    bool onInsert = false; // those, or column defaults
};

// The transaction of an apply whose commit was sent and whose answer never came: it may have
// committed or not. Its numbers let the next apply ask the server whether it still runs.
struct TLostCommit {
    std::int64_t attachmentId = 0;
    std::int64_t transactionId = 0;
};

// A row read by its key: per field, the value read (the others not given); nullopt when no row
// has the key.
using TKeyedRow = std::optional<std::vector<std::optional<TValue>>>;

// A statement with its positional parameters.
struct TResolverStatement {
    std::string text;
    std::vector<TValue> params;
    bool Empty() const noexcept { return text.empty(); }
};

// Writes the SQL of each change and runs it on the dataset's connection inside one transaction.
class TSQLResolver {
public:
    TSQLResolver(TSQLConnection& connection, std::string tableName);

    // Runs every change; returns the error list, or nullopt when no change failed. Changes
    // marked unconfirmed are settled first, by their rows as a new attachment reads them, once
    // the transaction of `lost` has ended on the server: those whose effect is there count as
    // applied (their rows in ReadBack), those whose rows are as before are sent again, and the
    // others fail as unconfirmable with the rows' current values.
    std::optional<std::vector<TUpdateErrorRecord>> Resolve(const TChangeSet& changes, int maxErrors,
                                                           int& errorCount,
                                                           const TLostCommit* lost = nullptr);

    // When the link was lost while the commit was on its way: the changes the transaction held,
    // whose outcome is unknown, and the transaction's numbers. Empty after a commit that ended.
    const std::vector<int>& Unconfirmed() const noexcept { return unconfirmed_; }
    const std::optional<TLostCommit>& LostCommit() const noexcept { return lostCommit_; }
    // Applied changes whose rows were to be read back and were not, because the link was lost
    // after the commit (which stands).
    const std::vector<int>& NotReadBack() const noexcept { return notReadBack_; }

    // Reads rows by their key values (one value per key field, in field order), a batch of keys
    // to a statement; a row that no longer has its key answers nullopt. A failure to read
    // raises.
    std::vector<TKeyedRow> ReadRows(const std::vector<TFieldDef>& fields,
                                    const std::vector<std::vector<TValue>>& keys);
    // The key fields of a table's fields (positions), as the statements find a row by its key.
    static std::vector<std::size_t> KeyFields(const std::vector<TFieldDef>& fields);

    // How many change records the last Resolve went through; the records after them were never
    // sent (the error limit stopped it) and must stay pending.
    std::size_t TriedCount() const noexcept { return triedCount_; }
    // The applied inserted and modified rows read back by their key after the commit, when the
    // table has triggers or computed columns (or, for inserts, column defaults) that may have
    // written other values than the ones sent.
    std::vector<TReadBackRow>& ReadBack() noexcept { return readBack_; }
    // Where the table's own-value description is kept between applies: read from the database
    // only while it is empty, so that an apply costs no more statements than its changes.
    void UseOwnValues(std::optional<TTableOwnValues>& ownValues) noexcept {
        ownValues_ = &ownValues;
    }

    // Called before each change is sent, and before the commit, with the changes sent so far;
    // raising from it rolls the transaction back and ends Resolve with that failure.
    void ReportProgress(std::function<void(std::size_t sent)> progress) {
        progress_ = std::move(progress);
    }

    // The statement for one change (empty for a modification with nothing to set).
    TResolverStatement StatementFor(const TChangeSet& changes, const TChangeRecord& change) const;
    // The statement that reads a row's current values by its key.
    TResolverStatement CurrentValuesStatement(const TChangeSet& changes,
                                              const TChangeRecord& change) const;
    const std::string& QuotedTable() const noexcept { return quotedTable_; }

    // Quotes an identifier with q: names already quoted stay as they are; "a.b" becomes
    // q a q.q b q.
    static std::string QuoteName(const std::string& name, const std::string& q, bool sqlBased);
    // Bytes of a field's value buffer: text size + 1, wide text 2 × size + 2, else fixed.
    static int DataSize(const TFieldDef& field);
    static bool EligibleForUpdate(const TFieldDef& field, const std::optional<TValue>& newValue);
    static bool EligibleForWhere(const TFieldDef& field, TUpdateMode mode, bool given);

private:
    // Where a statement's parameter comes from: a field's old or new value.
    struct ParamSource {
        std::uint32_t field;
        bool old;
        bool bytes = false; // the field holds bytes, which go as values
    };
    // The statement of every change of one shape: its text and where its parameters come from.
    struct StatementShape {
        std::string text;
        std::vector<ParamSource> params;
        TStatementSlot statement; // the connection's prepared statement for the text
    };

    // Works out the table information from the connection: SQL-based, quote, quoted table.
    void LoadTableInfo();
    // The statement for one change; with a layout, also where each parameter comes from.
    TResolverStatement BuildStatement(const TChangeSet& changes, const TChangeRecord& change,
                                      std::vector<ParamSource>* layout) const;
    void WhereClause(const TChangeSet& changes, const TChangeRecord& change, TUpdateMode mode,
                     TResolverStatement& statement, std::vector<ParamSource>* layout) const;
    // A change's old value that the WHERE clause names as "is null".
    bool MatchesAsNull(const TFieldDef& field, const TValue& old) const;
    // A change's old value that no "= ?" finds: NaN, which equals nothing.
    static bool MatchesAsNaN(const TValue& old);
    // Starts reading what the changes after change c read from the rows, so that it is in the
    // cache by the time they are sent.
    void PrefetchAhead(const TChangeSet& changes, std::size_t c);
    // Finds the change's rows (oldAt_, newAt_) and works out its shape's key (shapeKey_): which
    // new values it gives and which old ones the WHERE clause names as "is null".
    void TakeChange(const TChangeSet& changes, const TChangeRecord& change);
    // Whether the change taken last gives a new value for the field.
    bool Given(std::size_t field) const noexcept;
    // The change's old value of a field, or its new one (null when not given), into `value`.
    void ValueInto(const TChangeSet& changes, const TChangeRecord& change,
                   const ParamSource& source, TValue& value) const;
    // Writes the parameters of the change whose values were taken last straight from its rows
    // into the statement's message; false when one of them does not go there as it is.
    bool WriteParams(const TChangeSet& changes, const StatementShape& shape, TDrvParamWriter& out);
    // The parameters of that change as values, in params_.
    const std::vector<TValue>& ParamValues(const TChangeSet& changes, const TChangeRecord& change,
                                           const StatementShape& shape);
    class RowParams;
    // The statement shape of the change whose values were taken last, made at its first change
    // and reused by the others: the kind, which new values are given and which old values are
    // null make the shape.
    StatementShape& ShapeOf(const TChangeSet& changes, const TChangeRecord& change);
    std::string FieldName(const TFieldDef& field) const;
    // Reads back the rows of the applied changes; insertsOrModifies says whether any of them
    // is an insert or a modification, the only kinds that leave a row to read.
    void ReadBackApplied(const TChangeSet& changes,
                         const std::vector<const TChangeRecord*>& applied, bool insertsOrModifies);
    // The table's own-value description from the system tables; nullopt when it cannot be read.
    std::optional<TTableOwnValues> ReadOwnValues();
    // Reads the current values of the failed changes' rows, in batches, into their error
    // records: per field, the value read where it differs from the old one.
    void ReadCurrentValues(const TChangeSet& changes, std::vector<TUpdateErrorRecord>& errors);
    // Waits until the transaction of a lost commit has ended on the server, cutting its
    // attachment off when it still runs; raises when it does not end in time.
    void WaitForLostCommit(const TLostCommit& lost);
    // How each unconfirmed change turned out, as its rows now read.
    enum class Settled { Effective, NotEffective, Unconfirmable };
    struct SettledChange {
        Settled outcome = Settled::NotEffective;
        std::vector<std::optional<TValue>> values; // the row as read, when there is one
    };
    std::unordered_map<int, SettledChange> Settle(const TChangeSet& changes,
                                                  const TLostCommit* lost);

    TSQLConnection& connection_;
    std::string tableName_;
    bool sqlBased_ = true;
    std::string quote_;
    std::string quotedTable_;
    std::string tablePrefix_;
    std::size_t triedCount_ = 0;
    std::vector<TReadBackRow> readBack_;
    std::vector<int> unconfirmed_;
    std::optional<TLostCommit> lostCommit_;
    std::vector<int> notReadBack_;
    std::optional<TTableOwnValues>* ownValues_ = nullptr;
    // Shapes of the current Resolve, the key being built and the parameters being bound: kept
    // so that a change of a known shape allocates nothing the previous one already had.
    std::unordered_map<std::string, StatementShape> shapes_;
    std::string shapeKey_;
    std::string lastShapeKey_; // the key of lastShape_, the shape found last
    StatementShape* lastShape_ = nullptr;
    std::vector<TValue> params_;
    // Where the rows of the change being sent lie.
    const unsigned char* oldAt_ = nullptr;
    const unsigned char* newAt_ = nullptr;
    TRowId oldRow_ = kNoRow;
    // Where each value of those rows lies, once WriteParams has walked them: the old row's
    // fields, then the new row's.
    std::vector<const unsigned char*> places_;
    bool oldPlaced_ = false;
    bool newPlaced_ = false;
    // The next change and its rows, found while the database ran the current one.
    const TChangeRecord* ahead_ = nullptr;
    const unsigned char* aheadOld_ = nullptr;
    const unsigned char* aheadNew_ = nullptr;
    TValue oldValue_; // an old value being looked at, its buffer reused
    std::function<void(std::size_t sent)> progress_;
};

} // namespace sorvanto
