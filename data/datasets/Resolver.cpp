#include "Resolver.h"

#include "Errors.h"
#include "ParamList.h"
#include "ScopeExit.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

namespace sorvanto {

namespace {
constexpr const char* kManyRows = "更新作業は複数のレコードに影響を与えました";
constexpr const char* kRowNotFound =
    "レコードが見つからないか、または他のユーザーによって変更されました。";
constexpr const char* kNotDatabaseError = "SQL エラー：マップの失敗";
constexpr const char* kUnconfirmable =
    "通信が途切れたため送信の結果を確かめられませんでした。データベースの行は送った値とも元の値とも"
    "違っています";
constexpr const char* kStillRunning =
    "前回の送信の結果がまだ決まっていません (サーバーで処理が続いています)。しばらくしてから"
    "もう一度送信してください";

// Keys read in one statement: few enough for a statement of reasonable length, many enough
// that a run of thousands of rows costs a few dozen round trips, not thousands.
constexpr std::size_t kReadBatch = 100;

// How long the next apply waits for the transaction of a lost commit to end on the server.
constexpr auto kLostCommitWait = std::chrono::seconds(10);

// The alias of the table in the statements: none in this system.
const std::string kAlias;
} // namespace

// What one Resolve keeps while it runs: the changes, the error count and its limit, the error
// records, the changes sent in the current transaction, and that transaction.
struct TSQLResolver::Run {
    Run(const TChangeSet& changeSet, int max)
        : changes(changeSet), maxErrors(max), limit(max == -1 ? INT_MAX : max) {}
    const TChangeSet& changes;
    int maxErrors;
    int limit;
    int errorCount = 0;
    std::vector<TUpdateErrorRecord> errors;
    std::size_t valuesRead = 0; // the error records whose current values were read
    std::vector<const TChange*> applied;
    bool rowsWritten = false; // an applied change wrote a row the table may have filled itself
    bool rolledBack = false;  // a change affected several rows: the transaction rolled back
    std::optional<TTransactionScope> scope;
    TLostCommit ids; // the numbers of that transaction, should its commit answer be lost
    std::unordered_map<int, SettledChange> settled;
};

// The change being sent: where its rows lie, its shape, and, once a row was walked, where each
// of its values lies; and the rows of the next change, found while the database ran this one.
struct TSQLResolver::Cursor {
    explicit Cursor(std::size_t fieldCount) : places(2 * fieldCount, nullptr) {}
    const TChange* change = nullptr;
    const std::string* statement = nullptr; // the text of its statement, once planned
    const unsigned char* oldAt = nullptr;
    const unsigned char* newAt = nullptr;
    std::string key;
    // The old row's fields, then the new row's.
    std::vector<const unsigned char*> places;
    bool oldPlaced = false;
    bool newPlaced = false;
    const TChange* ahead = nullptr;
    const unsigned char* aheadOld = nullptr;
    const unsigned char* aheadNew = nullptr;
};

// The parameters of the change a cursor holds: written straight from its rows, or as values.
class TSQLResolver::RowParams final : public TDrvParamSource {
public:
    RowParams(const TChangeSet& changes, Cursor& cursor, const TStatementPlan& plan)
        : changes_(changes), cursor_(cursor), plan_(plan) {}
    std::size_t Count() const override { return plan_.params.size(); }
    bool Write(TDrvParamWriter& out) override { return WriteParams(changes_, cursor_, plan_, out); }
    const std::vector<TValue>& Values() override {
        values_ = PlanValues(changes_, *cursor_.change, plan_);
        return values_;
    }

private:
    const TChangeSet& changes_;
    Cursor& cursor_;
    const TStatementPlan& plan_;
    std::vector<TValue> values_;
};

TSQLResolver::TSQLResolver(TSQLConnection& connection, std::string tableName)
    : connection_(connection), tableName_(std::move(tableName)) {
    LoadTableInfo();
}

TSQLResolver::~TSQLResolver() = default;

void TSQLResolver::LoadTableInfo() {
    table_.sqlBased = !SameText(connection_.GetVendorProperty("IsSQLBased"), "false");
    table_.quote = connection_.QuoteChar();
    table_.quotedTable = TStatementPlanner::QuoteName(tableName_, table_.quote, table_.sqlBased);
    table_.tablePrefix = table_.sqlBased ? std::string() : table_.quotedTable + ".";
}

TStatementPlanner TSQLResolver::Planner(const std::vector<TFieldDef>& fields) {
    LoadTableInfo();
    return TStatementPlanner(fields, table_);
}

std::vector<std::size_t> TSQLResolver::KeyFields(const std::vector<TFieldDef>& fields) {
    std::vector<std::size_t> keys;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (EligibleForWhere(fields[i], TUpdateMode::upWhereKeyOnly, false))
            keys.push_back(i);
    return keys;
}

// ---------------------------------------------------------------------------------------------
// One apply

std::optional<std::vector<TUpdateErrorRecord>> TSQLResolver::Resolve(const TChangeSet& changes,
                                                                     int maxErrors, int& errorCount,
                                                                     const TLostCommit* lost) {
    triedCount_ = 0;
    readBack_.clear();
    unconfirmed_.clear();
    lostCommit_.reset();
    notReadBack_.clear();
    // A change that failed on a lost attachment or a failing database file leaves the
    // attachment untrusted even when the transaction ended well, and a failure of the apply
    // leaves it as it is: the next apply opens a new one. Declared before the run, it runs once
    // the run's transaction has ended.
    TScopeExit closeIfLost([this] { connection_.CloseIfLost(); });
    Run run(changes, maxErrors);
    SettleUnconfirmed(run, lost);
    if (!connection_.InTransaction())
        BeginTransaction(run);
    // The connection may only now be open: the table information and the fields may differ
    // from the last apply's.
    LoadTableInfo();
    planner_.emplace(changes.Fields(), table_);
    SendAll(run);
    ReadCurrentValues(run);
    if (progress_)
        progress_(triedCount_);
    Finish(run);
    errorCount = run.errorCount;
    if (run.errors.empty())
        return std::nullopt;
    return std::move(run.errors);
}

void TSQLResolver::SettleUnconfirmed(Run& run, const TLostCommit* lost) {
    const auto& log = run.changes.Changes();
    if (std::none_of(log.begin(), log.end(), [](const TChange& c) { return c.unconfirmed; }))
        return;
    // On a new attachment when the old one was lost, before anything else is sent.
    connection_.EnsureOpen();
    LoadTableInfo();
    run.settled = Settle(run.changes, lost);
}

void TSQLResolver::BeginTransaction(Run& run) {
    run.scope.emplace(connection_);
    try {
        run.ids.transactionId = connection_.InnermostTransaction()->Id();
        run.ids.attachmentId = connection_.Attachment()->AttachmentId();
    } catch (const TDriverError& error) {
        if (IsConnectionLostError(error.ErrorCode()))
            throw;
        run.ids = {}; // without them the rows alone settle the outcome
    }
}

void TSQLResolver::SendAll(Run& run) {
    const TChangeSet& changes = run.changes;
    Cursor cursor(changes.Fields().size());
    for (std::size_t c = 0; c < changes.Count(); ++c) {
        const TChange& change = changes[c];
        if (progress_)
            progress_(triedCount_);
        // After a rollback the rest of the apply goes on in a transaction of its own: a
        // statement run outside one would be committed at once, whatever it affected.
        if (run.rolledBack) {
            BeginTransaction(run);
            run.rolledBack = false;
        }
        ++triedCount_;
        if (auto it = run.settled.find(static_cast<int>(c)); it != run.settled.end()) {
            if (it->second.outcome == Settled::Effective) {
                // It was committed: the rows take what the database holds.
                if (!it->second.values.empty())
                    readBack_.push_back({static_cast<int>(c), it->second.values});
                continue;
            }
            if (it->second.outcome == Settled::Unconfirmable) {
                Fail(run, change, kUnconfirmable);
                if (run.errorCount > run.limit)
                    break;
                continue;
            }
        }
        cursor.statement = nullptr;
        const auto statement = [&] { return cursor.statement ? *cursor.statement : std::string(); };
        try {
            Send(run, cursor, change);
        } catch (const TDriverError& error) {
            // Without the link nothing of the transaction can be committed: the apply fails
            // as a whole, and every change stays pending as it was.
            if (IsConnectionLostError(error.ErrorCode()))
                throw;
            Fail(run, change, error.Message(), statement(), &error);
        } catch (const EDatabaseError& error) {
            Fail(run, change, error.Message(), statement());
        } catch (...) {
            Fail(run, change, kNotDatabaseError, statement());
        }
        if (run.errorCount > run.limit)
            break;
    }
}

void TSQLResolver::Send(Run& run, Cursor& cursor, const TChange& change) {
    const TChangeSet& changes = run.changes;
    TakeChange(changes, change, cursor);
    TStatementPlan& plan = planner_->PlanFor(cursor.key);
    if (plan.text.empty())
        return;
    cursor.statement = &plan.text;
    PrefetchAhead(changes, static_cast<std::size_t>(changes.RecordNumber(change)), cursor);
    RowParams params(changes, cursor, plan);
    const std::uint64_t affected = connection_.Execute(plan.text, params, &plan.statement);
    if (affected > 1) {
        RollBackForManyRows(run);
        throw EDatabaseError(kManyRows);
    }
    if (affected < 1)
        throw EDatabaseError(kRowNotFound);
    run.applied.push_back(&change);
    run.rowsWritten = run.rowsWritten || change.kind != TUpdateKind::ukDelete;
}

// A statement that affected several rows undoes the whole transaction: the changes it held stay
// pending with the same failure.
void TSQLResolver::RollBackForManyRows(Run& run) {
    run.rolledBack = true;
    if (run.scope && run.scope->Open())
        run.scope->Rollback();
    else
        connection_.EndInnermostTransaction(false);
    FailApplied(run);
}

// The changes sent in a transaction that rolled back stay pending, failed.
void TSQLResolver::FailApplied(Run& run) {
    for (const TChange* change : run.applied)
        Fail(run, *change, kManyRows);
    run.applied.clear();
    run.rowsWritten = false;
}

void TSQLResolver::Fail(Run& run, const TChange& change, const std::string& message,
                        const std::string& statement, const TDriverError* error) {
    const int recordNumber = run.changes.RecordNumber(change);
    TResolverResponse response =
        run.errorCount >= run.limit ? TResolverResponse::rrAbort : TResolverResponse::rrSkip;
    ++run.errorCount;
    if (run.errorCount > run.limit)
        response = TResolverResponse::rrAbort;
    if (response == TResolverResponse::rrAbort)
        run.limit = run.errorCount - 1;
    auto record = std::find_if(run.errors.begin(), run.errors.end(),
                               [&](const auto& r) { return r.recordNumber == recordNumber; });
    if (record == run.errors.end())
        record = run.errors.insert(run.errors.end(), TUpdateErrorRecord{});
    record->recordNumber = recordNumber;
    record->response = static_cast<int>(response) + 1;
    record->message = message;
    record->statement = error && !error->Statement().empty() ? error->Statement() : statement;
    record->sqlCode = error ? error->SqlCode() : 0;
    record->gdsCode = error ? error->GdsCode() : 0;
}

void TSQLResolver::Finish(Run& run) {
    const bool commit = run.errorCount <= run.maxErrors || run.maxErrors == -1;
    if (!run.scope || !run.scope->Open())
        return;
    try {
        if (commit)
            run.scope->Commit();
        else
            run.scope->Rollback();
    } catch (const TDriverError& error) {
        if (!commit || !IsConnectionLostError(error.ErrorCode()))
            throw;
        // The commit went out and its answer never came: it may have happened or not. Nothing
        // else is sent; the next apply reads the rows to find out.
        lostCommit_ = run.ids;
        for (const TChange* change : run.applied)
            unconfirmed_.push_back(run.changes.RecordNumber(*change));
        return;
    }
    if (commit) {
        ReadBackApplied(run);
    } else {
        FailApplied(run);
        ReadCurrentValues(run);
    }
}

// ---------------------------------------------------------------------------------------------
// The change being sent

void TSQLResolver::TakeChange(const TChangeSet& changes, const TChange& change, Cursor& cursor) {
    const TRowStore& rows = changes.Rows();
    if (&change == cursor.ahead) {
        cursor.oldAt = cursor.aheadOld;
        cursor.newAt = cursor.aheadNew;
    } else {
        cursor.oldAt = change.oldRow != kNoRow ? rows.RowBytes(change.oldRow) : nullptr;
        cursor.newAt = change.newRow != kNoRow ? rows.RowBytes(change.newRow) : nullptr;
    }
    cursor.change = &change;
    cursor.oldPlaced = cursor.newPlaced = false;
    planner_->Shape(change, rows, cursor.oldAt, cursor.key);
}

void TSQLResolver::PrefetchAhead(const TChangeSet& changes, std::size_t c, Cursor& cursor) const {
    const std::size_t total = changes.Count();
    const TRowStore& rows = changes.Rows();
    // Changes are read in order, but one database call apart: too far apart for the processor
    // to see the stream and fetch them ahead by itself.
    if (c + 3 < total) {
        const char* record = reinterpret_cast<const char*>(&changes[c + 3]);
        __builtin_prefetch(record);
        __builtin_prefetch(record + sizeof(TChange) - 1);
    }
    if (c + 2 < total) {
        rows.PrefetchPlace(changes[c + 2].oldRow);
        rows.PrefetchPlace(changes[c + 2].newRow);
    }
    cursor.ahead = nullptr;
    if (c + 1 >= total)
        return;
    const TChange& next = changes[c + 1];
    auto place = [&](TRowId row) -> const unsigned char* {
        if (row == kNoRow)
            return nullptr;
        const unsigned char* at = rows.RowBytes(row);
        __builtin_prefetch(at);
        __builtin_prefetch(at + 63);
        return at;
    };
    // A row the store does not have is left for TakeChange to report.
    if ((next.oldRow != kNoRow && next.oldRow >= rows.RowCount()) ||
        (next.newRow != kNoRow && next.newRow >= rows.RowCount()))
        return;
    cursor.aheadOld = place(next.oldRow);
    cursor.aheadNew = place(next.newRow);
    cursor.ahead = &next;
}

namespace {
// Writes one stored value as the parameter of that index; false when it does not go there as
// it is. Bytes go with the octets character set: left to the values.
inline bool PutStored(TDrvParamWriter& out, int index, const TRowStore::RawValue& raw, bool bytes,
                      const std::string* wire) {
    using Storage = TRowStore::Storage;
    switch (raw.storage) {
    case Storage::I16:
    case Storage::I32:
    case Storage::I64:
        return out.PutInteger(index, raw.integer);
    case Storage::F32:
    case Storage::F64:
        return out.PutDouble(index, raw.real);
    case Storage::Bool:
        return out.PutBoolean(index, raw.integer != 0);
    case Storage::Bcd:
        return out.PutBcd(index, raw.integer, raw.scale);
    case Storage::Date:
        return out.PutDate(index, raw.date);
    case Storage::Time:
        return out.PutTime(index, raw.time);
    case Storage::Stamp:
        return out.PutTimeStamp(index, raw.date, raw.time);
    case Storage::Var:
        return wire ? out.PutWireText(index, *wire) : !bytes && out.PutText(index, raw.bytes);
    }
    return false;
}
} // namespace

bool TSQLResolver::WriteParams(const TChangeSet& changes, Cursor& cursor,
                               const TStatementPlan& plan, TDrvParamWriter& out) {
    const TRowStore& rows = changes.Rows();
    const std::size_t count = changes.Fields().size();
    TRowStore::RawValue raw;
    for (std::size_t i = 0; i < plan.params.size(); ++i) {
        const int index = static_cast<int>(i);
        const TStatementPlan::Param& param = plan.params[i];
        const std::size_t f = param.field;
        // A new value not given goes as null, like the old value of a change without one. Each
        // row is walked once, for all of its values.
        const unsigned char* at = nullptr;
        if (param.old && cursor.oldAt) {
            if (!cursor.oldPlaced)
                rows.Places(cursor.oldAt, cursor.places.data());
            cursor.oldPlaced = true;
            at = cursor.places[f];
        } else if (!param.old && ((cursor.key[1 + f] - '0') & 1) && cursor.newAt) {
            if (!cursor.newPlaced)
                rows.Places(cursor.newAt, cursor.places.data() + count);
            cursor.newPlaced = true;
            at = cursor.places[count + f];
        }
        if (!at) {
            if (!out.PutNull(index))
                return false;
            continue;
        }
        rows.RawFrom(static_cast<int>(f), at, raw);
        // An old value that did not read as text goes as the bytes the database gave.
        const std::string* wire = param.old && rows.HasWireText()
                                      ? rows.WireText(cursor.change->oldRow, static_cast<int>(f))
                                      : nullptr;
        const bool written = PutStored(out, index, raw, param.bytes, wire);
        if (!written)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Rows read by key

std::vector<TKeyedRow> TSQLResolver::ReadRows(const std::vector<TFieldDef>& fields,
                                              const std::vector<std::vector<TValue>>& keys) {
    std::vector<TKeyedRow> rows(keys.size());
    const std::vector<std::size_t> keyFields = KeyFields(fields);
    const TStatementPlanner names(fields, table_);
    std::vector<std::size_t> read;
    std::string head = "select\r\n";
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (EligibleForWhere(fields[i], TUpdateMode::upWhereAll, false)) {
            read.push_back(i);
            head += " " + names.FieldName(fields[i]) + ",\r\n";
        }
    if (keyFields.empty() || keys.empty() || read.empty())
        return rows;
    head.erase(head.size() - 3, 1); // the last comma
    head += " from " + table_.quotedTable + " " + kAlias + "\r\nwhere\r\n";
    for (std::size_t first = 0; first < keys.size(); first += kReadBatch) {
        const std::size_t last = std::min(keys.size(), first + kReadBatch);
        std::string text = head;
        std::vector<TValue> params;
        for (std::size_t k = first; k < last; ++k) {
            text += k == first ? " (" : " or (";
            for (std::size_t j = 0; j < keyFields.size(); ++j) {
                const TValue& value = keys[k][j];
                text += (j ? " and " : "") + names.FieldName(fields[keyFields[j]]);
                text += IsNull(value) ? " is null" : " = ?";
                if (!IsNull(value))
                    params.push_back(value);
            }
            text += ")\r\n";
        }
        std::unique_ptr<TSQLResultSet> result;
        connection_.Execute(text, params, &result);
        while (result && result->Next()) {
            std::vector<std::optional<TValue>> values(fields.size());
            for (std::size_t c = 0; c < read.size(); ++c)
                values[read[c]] = result->Reader().GetValue(static_cast<int>(c));
            for (std::size_t k = first; k < last; ++k) {
                bool same = true;
                for (std::size_t j = 0; j < keyFields.size() && same; ++j)
                    same = values[keyFields[j]] && *values[keyFields[j]] == keys[k][j];
                if (same)
                    rows[k] = values;
            }
        }
    }
    return rows;
}

void TSQLResolver::ReadCurrentValues(Run& run) {
    const TChangeSet& changes = run.changes;
    const std::vector<std::size_t> keyFields = KeyFields(changes.Fields());
    std::vector<std::vector<TValue>> keys;
    std::vector<std::pair<std::size_t, std::vector<TValue>>> wanted; // error, old values
    for (std::size_t e = run.valuesRead; e < run.errors.size(); ++e) {
        TUpdateErrorRecord& error = run.errors[e];
        const TChange& change = changes[static_cast<std::size_t>(error.recordNumber)];
        error.currentValues.assign(changes.Fields().size(), std::nullopt);
        if (change.kind == TUpdateKind::ukInsert)
            continue; // no row before
        std::vector<TValue> old = changes.OldValues(change);
        std::vector<TValue> key;
        for (std::size_t k : keyFields)
            key.push_back(old[k]);
        keys.push_back(std::move(key));
        wanted.emplace_back(e, std::move(old));
    }
    run.valuesRead = run.errors.size();
    std::vector<TKeyedRow> rows;
    try {
        rows = ReadRows(changes.Fields(), keys);
    } catch (...) {
        return; // the current values are a courtesy: rows that cannot be read leave them empty
    }
    for (std::size_t w = 0; w < wanted.size(); ++w) {
        if (!rows[w])
            continue;
        auto& [e, old] = wanted[w];
        for (std::size_t i = 0; i < old.size(); ++i)
            if ((*rows[w])[i] && !(*(*rows[w])[i] == old[i]))
                run.errors[e].currentValues[i] = (*rows[w])[i];
    }
}

std::optional<TTableOwnValues> TSQLResolver::ReadOwnValues() {
    try {
        std::string relation = tableName_;
        if (std::size_t dot = relation.rfind('.'); dot != std::string::npos)
            relation.erase(0, dot + 1);
        if (relation.size() >= 2 && relation.front() == '"' && relation.back() == '"')
            relation = relation.substr(1, relation.size() - 2);
        std::unique_ptr<TSQLResultSet> rows;
        connection_.Execute(
            "select"
            " (select count(*) from RDB$TRIGGERS t where t.RDB$RELATION_NAME = ?"
            " and coalesce(t.RDB$SYSTEM_FLAG, 0) = 0 and coalesce(t.RDB$TRIGGER_INACTIVE, 0) = 0),"
            " (select count(*) from RDB$RELATION_FIELDS rf join RDB$FIELDS f"
            " on f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE where rf.RDB$RELATION_NAME = ?"
            " and f.RDB$COMPUTED_BLR is not null),"
            " (select count(*) from RDB$RELATION_FIELDS rf join RDB$FIELDS f"
            " on f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE where rf.RDB$RELATION_NAME = ?"
            " and (rf.RDB$DEFAULT_SOURCE is not null or f.RDB$DEFAULT_SOURCE is not null"
            " or rf.RDB$IDENTITY_TYPE is not null))"
            " from RDB$DATABASE",
            {relation, relation, relation}, &rows);
        if (!rows || !rows->Next())
            return std::nullopt;
        TDrvReader& reader = rows->Reader();
        TTableOwnValues own;
        own.onModify = reader.GetInt64(0) > 0 || reader.GetInt64(1) > 0;
        own.onInsert = own.onModify || reader.GetInt64(2) > 0;
        return own;
    } catch (...) {
        return std::nullopt;
    }
}

void TSQLResolver::ReadBackApplied(const Run& run) {
    const TChangeSet& changes = run.changes;
    const std::vector<std::size_t> keyFields = KeyFields(changes.Fields());
    if (keyFields.empty() || !run.rowsWritten)
        return;
    // Only a table that writes values of its own can hold other values than the ones sent.
    std::optional<TTableOwnValues> own = ownValues_ ? *ownValues_ : std::nullopt;
    if (!own) {
        own = ReadOwnValues();
        if (!own && !connection_.Connected()) {
            // The link went after the commit: the rows are read at the next apply.
            for (const TChange* change : run.applied)
                if (change->kind != TUpdateKind::ukDelete)
                    notReadBack_.push_back(changes.RecordNumber(*change));
            return;
        }
        if (!own)
            return; // without the table's description the rows keep the values sent
        if (ownValues_)
            *ownValues_ = own;
    }
    // The rows as sent, found by their key: the new key values where given, else the old.
    std::vector<int> wanted;
    std::vector<std::vector<TValue>> keys;
    for (const TChange* change : run.applied) {
        if (!(change->kind == TUpdateKind::ukModify && own->onModify) &&
            !(change->kind == TUpdateKind::ukInsert && own->onInsert))
            continue;
        std::vector<TValue> key;
        for (std::size_t k : keyFields)
            key.push_back(changes.NewValue(*change, k).value_or(changes.OldValue(*change, k)));
        if (std::any_of(key.begin(), key.end(), [](const TValue& v) { return IsNull(v); }))
            continue;
        wanted.push_back(changes.RecordNumber(*change));
        keys.push_back(std::move(key));
    }
    ReadBackRows(changes, wanted, keys);
}

void TSQLResolver::ReadBackRows(const TChangeSet& changes, const std::vector<int>& wanted,
                                const std::vector<std::vector<TValue>>& keys) {
    for (std::size_t first = 0; first < keys.size(); first += kReadBatch) {
        const std::size_t last = std::min(keys.size(), first + kReadBatch);
        std::vector<TKeyedRow> rows;
        try {
            rows = ReadRows(changes.Fields(), {keys.begin() + static_cast<std::ptrdiff_t>(first),
                                               keys.begin() + static_cast<std::ptrdiff_t>(last)});
        } catch (const TDriverError& error) {
            if (IsConnectionLostError(error.ErrorCode()) || !connection_.Connected()) {
                // The commit stands; the rows not read yet are read at the next apply.
                notReadBack_.assign(wanted.begin() + static_cast<std::ptrdiff_t>(first),
                                    wanted.end());
                return;
            }
            continue; // rows that cannot be read back keep the values sent
        } catch (...) {
            continue;
        }
        for (std::size_t k = first; k < last; ++k)
            if (rows[k - first])
                readBack_.push_back({wanted[k], std::move(*rows[k - first])});
    }
}

// ---------------------------------------------------------------------------------------------
// Changes of a lost commit

void TSQLResolver::WaitForLostCommit(const TLostCommit& lost) {
    if (lost.transactionId == 0)
        return;
    auto running = [&] {
        std::unique_ptr<TSQLResultSet> rows;
        connection_.Execute("select count(*) from MON$TRANSACTIONS where MON$TRANSACTION_ID = ?",
                            {TValue(lost.transactionId)}, &rows);
        return rows && rows->Next() && rows->Reader().GetInt64(0) > 0;
    };
    try {
        if (!running())
            return;
        // The server has not seen the link go: cut its attachment off, so that the transaction
        // ends (a commit under way finishes first).
        connection_.Execute("delete from MON$ATTACHMENTS where MON$ATTACHMENT_ID = ?",
                            {TValue(lost.attachmentId)});
    } catch (const TDriverError& error) {
        if (IsConnectionLostError(error.ErrorCode()))
            throw;
        return; // the monitoring tables cannot be read: the rows must tell
    }
    const auto until = std::chrono::steady_clock::now() + kLostCommitWait;
    while (running()) {
        if (std::chrono::steady_clock::now() >= until)
            throw EDatabaseError(kStillRunning);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::unordered_map<int, TSQLResolver::SettledChange> TSQLResolver::Settle(const TChangeSet& changes,
                                                                          const TLostCommit* lost) {
    std::unordered_map<int, SettledChange> settled;
    std::vector<const TChange*> unconfirmed;
    for (const TChange& change : changes.Changes())
        if (change.unconfirmed)
            unconfirmed.push_back(&change);
    if (lost)
        WaitForLostCommit(*lost);
    const std::vector<std::size_t> keyFields = KeyFields(changes.Fields());
    // Each change is looked for by its key as it was before and as it was sent.
    std::vector<std::vector<TValue>> keys;
    for (const TChange* change : unconfirmed) {
        std::vector<TValue> before, after;
        for (std::size_t k : keyFields) {
            before.push_back(changes.OldValue(*change, k));
            after.push_back(changes.NewValue(*change, k).value_or(before.back()));
        }
        keys.push_back(std::move(before));
        keys.push_back(std::move(after));
    }
    const std::vector<TKeyedRow> rows = ReadRows(changes.Fields(), keys);
    for (std::size_t c = 0; c < unconfirmed.size(); ++c) {
        const TKeyedRow& before = rows[2 * c];
        const TKeyedRow& after = rows[2 * c + 1];
        SettledChange result;
        result.outcome = keyFields.empty() ? Settled::Unconfirmable // no key to find it by
                                           : Outcome(changes, *unconfirmed[c], before, after);
        if (const TKeyedRow& row = after ? after : before)
            result.values = *row;
        settled.emplace(changes.RecordNumber(*unconfirmed[c]), std::move(result));
    }
    return settled;
}

TSQLResolver::Settled TSQLResolver::Outcome(const TChangeSet& changes, const TChange& change,
                                            const TKeyedRow& before, const TKeyedRow& after) {
    // Whether a row holds the change's values: as sent (the fields it gave) or as before.
    auto holds = [&](const TKeyedRow& row, bool sent) {
        if (!row)
            return false;
        for (std::size_t i = 0; i < changes.Fields().size(); ++i) {
            if (!(*row)[i])
                continue; // not read (a blob)
            const std::optional<TValue> given = changes.NewValue(change, i);
            if (sent && !given)
                continue; // the new row says nothing of a field the change did not give
            const TValue expected = sent ? *given : changes.OldValue(change, i);
            const TValue& found = *(*row)[i];
            if (!(found == expected) &&
                !(TStatementPlanner::NamedAsNaN(expected) && TStatementPlanner::NamedAsNaN(found)))
                return false;
        }
        return true;
    };
    switch (change.kind) {
    case TUpdateKind::ukInsert:
        return !after               ? Settled::NotEffective
               : holds(after, true) ? Settled::Effective
                                    : Settled::Unconfirmable;
    case TUpdateKind::ukModify:
        return holds(after, true)     ? Settled::Effective
               : holds(before, false) ? Settled::NotEffective
                                      : Settled::Unconfirmable;
    case TUpdateKind::ukDelete:
        return !before                ? Settled::Effective
               : holds(before, false) ? Settled::NotEffective
                                      : Settled::Unconfirmable;
    }
    return Settled::Unconfirmable;
}

} // namespace sorvanto
