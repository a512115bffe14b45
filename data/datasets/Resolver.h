#pragma once

#include "ChangeSet.h"
#include "Connection.h"
#include "Field.h"
#include "StatementPlanner.h"
#include "Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace sorvanto {

enum class TResolverResponse { rrSkip, rrAbort, rrMerge, rrApply, rrIgnore };

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
    // What the operator does not see but a maintainer needs: the statement that failed, and the
    // engine's SQL and GDS codes when the database refused it (0 otherwise).
    std::string statement;
    int sqlCode = 0;
    int gdsCode = 0;
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

// Sends the pending changes of a table to the database in one transaction on the dataset's
// connection, one statement a change, and reports those the database refused.
class TSQLResolver {
public:
    TSQLResolver(TSQLConnection& connection, std::string tableName);
    ~TSQLResolver();

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

    // How many changes the last Resolve went through; the ones after them were never sent (the
    // error limit stopped it) and must stay pending.
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

    // The planner of the table's statements, with the table information as the connection
    // gives it now.
    TStatementPlanner Planner(const std::vector<TFieldDef>& fields);
    const std::string& QuotedTable() const noexcept { return table_.quotedTable; }

    static std::string QuoteName(const std::string& name, const std::string& q, bool sqlBased) {
        return TStatementPlanner::QuoteName(name, q, sqlBased);
    }
    static int DataSize(const TFieldDef& field) { return TStatementPlanner::DataSize(field); }
    static bool EligibleForWhere(const TFieldDef& field, TUpdateMode mode, bool given) {
        return TStatementPlanner::EligibleForWhere(field, mode, given);
    }

private:
    struct Run;
    struct Cursor;
    class RowParams;
    enum class Settled { Effective, NotEffective, Unconfirmable };
    struct SettledChange {
        Settled outcome = Settled::NotEffective;
        std::vector<std::optional<TValue>> values; // the row as read, when there is one
    };

    // Works out the table information from the connection: SQL-based, quote, quoted table.
    void LoadTableInfo();
    // The steps of one Resolve.
    void SettleUnconfirmed(Run& run, const TLostCommit* lost);
    void BeginTransaction(Run& run);
    void SendAll(Run& run);
    // Sends one change; what fails raises.
    void Send(Run& run, Cursor& cursor, const TChange& change);
    void RollBackForManyRows(Run& run);
    void FailApplied(Run& run);
    void Fail(Run& run, const TChange& change, const std::string& message,
              const std::string& statement = {}, const TDriverError* error = nullptr);
    void Finish(Run& run);
    // Finds a change's rows and works out its shape.
    void TakeChange(const TChangeSet& changes, const TChange& change, Cursor& cursor);
    // Starts reading what the changes after change c read from the rows, so that it is in the
    // cache by the time they are sent.
    void PrefetchAhead(const TChangeSet& changes, std::size_t c, Cursor& cursor) const;
    // Writes the parameters of the change taken last straight from its rows into the
    // statement's message; false when one of them does not go there as it is.
    static bool WriteParams(const TChangeSet& changes, Cursor& cursor, const TStatementPlan& plan,
                            TDrvParamWriter& out);
    // The table's own-value description from the system tables; nullopt when it cannot be read.
    std::optional<TTableOwnValues> ReadOwnValues();
    // Reads the current values of the failed changes' rows, in batches, into the error records
    // that have none yet: per field, the value read where it differs from the old one.
    void ReadCurrentValues(Run& run);
    // Reads back the rows of the applied changes, when the table may have written into them.
    void ReadBackApplied(const Run& run);
    void ReadBackRows(const TChangeSet& changes, const std::vector<int>& wanted,
                      const std::vector<std::vector<TValue>>& keys);
    // Waits until the transaction of a lost commit has ended on the server, cutting its
    // attachment off when it still runs; raises when it does not end in time.
    void WaitForLostCommit(const TLostCommit& lost);
    // How each unconfirmed change turned out, as its rows now read.
    std::unordered_map<int, SettledChange> Settle(const TChangeSet& changes,
                                                  const TLostCommit* lost);
    static Settled Outcome(const TChangeSet& changes, const TChange& change,
                           const TKeyedRow& before, const TKeyedRow& after);

    TSQLConnection& connection_;
    std::string tableName_;
    TStatementTable table_;
    std::optional<TStatementPlanner> planner_;
    std::size_t triedCount_ = 0;
    std::vector<TReadBackRow> readBack_;
    std::vector<int> unconfirmed_;
    std::optional<TLostCommit> lostCommit_;
    std::vector<int> notReadBack_;
    std::optional<TTableOwnValues>* ownValues_ = nullptr;
    std::function<void(std::size_t sent)> progress_;
};

} // namespace sorvanto
