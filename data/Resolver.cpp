#include "Resolver.h"

#include "Errors.h"
#include "ParamList.h"
#include "ScopeExit.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <thread>

namespace sorvanto {

bool TChangeSet::Given(const TChangeRecord& change, std::size_t field) const {
    if (change.givenAt != TChangeRecord::kNoFlags)
        return change.newRow != kNoRow && field < fields.size() && given[change.givenAt + field];
    return field < change.newValues.size() && change.newValues[field].has_value();
}

TChangeRecord TChangeSet::WithValues(const TChangeRecord& change) const {
    if (!ReadsRows(change))
        return change;
    TChangeRecord record;
    record.kind = change.kind;
    record.recordNumber = change.recordNumber;
    record.oldValues.resize(fields.size());
    if (change.oldRow != kNoRow) {
        rows->Values(change.oldRow, record.oldValues);
        // A value that did not read as text is named by its bytes, which go unconverted.
        if (rows->HasWireText())
            for (std::size_t f = 0; f < fields.size(); ++f)
                if (const std::string* wire = rows->WireText(change.oldRow, static_cast<int>(f)))
                    record.oldValues[f] = TBytes{*wire};
    }
    record.newValues.resize(fields.size());
    if (change.newRow != kNoRow) {
        std::vector<TValue> values;
        rows->Values(change.newRow, values);
        for (std::size_t f = 0; f < fields.size() && f < values.size(); ++f)
            if (Given(change, f))
                record.newValues[f] = std::move(values[f]);
    }
    return record;
}

namespace {
constexpr const char* kNoTable = "レコードを解決できません。テーブル名が見つかりません。";
constexpr const char* kNoKey = "レコードが見つかりませんでした。キーを指定されていません";
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

bool IsOneOf(TFieldType type, std::initializer_list<TFieldType> types) {
    for (TFieldType t : types)
        if (t == type)
            return true;
    return false;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}
} // namespace

TSQLResolver::TSQLResolver(TSQLConnection& connection, std::string tableName)
    : connection_(connection), tableName_(std::move(tableName)) {
    LoadTableInfo();
}

void TSQLResolver::LoadTableInfo() {
    sqlBased_ = !SameText(connection_.GetVendorProperty("IsSQLBased"), "false");
    quote_ = connection_.QuoteChar();
    quotedTable_ = QuoteName(tableName_, quote_, sqlBased_);
    tablePrefix_ = sqlBased_ ? std::string() : quotedTable_ + ".";
}

std::string TSQLResolver::QuoteName(const std::string& name, const std::string& q, bool sqlBased) {
    if (name.empty())
        return name;
    auto isQuote = [](char c) { return c == '"' || c == '\'' || c == '`'; };
    if (isQuote(name.front()) || isQuote(name.back()))
        return name;
    if (!sqlBased)
        return QuoteIdentifier(name, q);
    // Up to three parts around the first two dots, each quoted on its own.
    std::string quoted;
    std::size_t start = 0;
    for (int part = 0; part < 2; ++part) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            break;
        quoted += QuoteIdentifier(name.substr(start, dot - start), q) + ".";
        start = dot + 1;
    }
    return quoted + QuoteIdentifier(name.substr(start), q);
}

int TSQLResolver::DataSize(const TFieldDef& field) {
    switch (field.DataType) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
        return field.Size + 1;
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
        return 2 * field.Size + 2;
    case TFieldType::ftBytes:
        return field.Size;
    case TFieldType::ftVarBytes:
        return field.Size + 2;
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
        return 2;
    case TFieldType::ftBoolean:
        return 2;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftSingle:
        return 4;
    case TFieldType::ftFMTBcd:
    case TFieldType::ftBCD:
        return 34;
    case TFieldType::ftTimeStamp:
        return 16;
    default:
        return 8;
    }
}

bool TSQLResolver::EligibleForUpdate(const TFieldDef& field,
                                     const std::optional<TValue>& newValue) {
    using enum TFieldType;
    return (field.ProviderFlags & pfInUpdate) &&
           !IsOneOf(field.DataType,
                    {ftUnknown, ftAutoInc, ftCursor, ftADT, ftArray, ftReference, ftDataSet}) &&
           !field.ReadOnly && !(field.ProviderFlags & pfHidden) && newValue.has_value();
}

bool TSQLResolver::EligibleForWhere(const TFieldDef& field, TUpdateMode mode, bool given) {
    using enum TFieldType;
    if (IsOneOf(field.DataType, {ftUnknown, ftCursor, ftADT, ftArray, ftReference, ftDataSet}) ||
        IsBlobType(field.DataType) || DataSize(field) >= 8192)
        return false;
    switch (mode) {
    case TUpdateMode::upWhereAll:
        return field.ProviderFlags & pfInWhere;
    case TUpdateMode::upWhereChanged:
        return ((field.ProviderFlags & pfInWhere) && given) || (field.ProviderFlags & pfInKey);
    case TUpdateMode::upWhereKeyOnly:
        return field.ProviderFlags & pfInKey;
    }
    return false;
}

std::string TSQLResolver::FieldName(const TFieldDef& field) const {
    std::string origin = field.Name;
    if (std::size_t dot = field.Origin.rfind('.'); dot != std::string::npos)
        origin = field.Origin.substr(dot + 1);
    return tablePrefix_ + QuoteIdentifier(origin, quote_);
}

bool TSQLResolver::MatchesAsNaN(const TValue& old) {
    const auto* number = std::get_if<double>(&old);
    return number && std::isnan(*number);
}

bool TSQLResolver::MatchesAsNull(const TFieldDef& field, const TValue& old) const {
    bool emptyText = !sqlBased_ && field.DataType == TFieldType::ftString &&
                     std::holds_alternative<std::string>(old) && std::get<std::string>(old).empty();
    return IsNull(old) || emptyText;
}

void TSQLResolver::WhereClause(const TChangeSet& changes, const TChangeRecord& change,
                               TUpdateMode mode, TResolverStatement& statement,
                               std::vector<ParamSource>* layout) const {
    std::vector<std::string> lines{"where"};
    for (std::size_t i = 0; i < changes.fields.size(); ++i) {
        const TFieldDef& field = changes.fields[i];
        bool given = i < change.newValues.size() && change.newValues[i].has_value();
        if (!EligibleForWhere(field, mode, given))
            continue;
        const TValue& old = change.oldValues[i];
        if (MatchesAsNull(field, old)) {
            lines.push_back(" " + FieldName(field) + " is null and");
        } else if (MatchesAsNaN(old)) {
            // NaN equals nothing, itself included: the one value a column is not equal to.
            lines.push_back(" " + FieldName(field) + " <> " + FieldName(field) + " and");
        } else {
            lines.push_back(" " + FieldName(field) + " = ? and");
            statement.params.push_back(old);
            if (layout)
                layout->push_back({static_cast<std::uint32_t>(i), true});
        }
    }
    if (lines.size() == 1)
        throw EDatabaseError(kNoKey);
    lines.back().resize(lines.back().size() - 4);
    statement.text += JoinLines(lines);
}

TResolverStatement TSQLResolver::StatementFor(const TChangeSet& changes,
                                              const TChangeRecord& change) const {
    return BuildStatement(changes, change, nullptr);
}

TResolverStatement TSQLResolver::BuildStatement(const TChangeSet& changes,
                                                const TChangeRecord& change,
                                                std::vector<ParamSource>* layout) const {
    if (quotedTable_.empty())
        throw EDatabaseError(kNoTable);
    TResolverStatement statement;
    switch (change.kind) {
    case TUpdateKind::ukModify: {
        std::vector<std::string> lines{"update " + quotedTable_ + " " + kAlias + " set"};
        for (std::size_t i = 0; i < changes.fields.size(); ++i) {
            if (!EligibleForUpdate(changes.fields[i], change.newValues[i]))
                continue;
            lines.push_back(" " + FieldName(changes.fields[i]) + " = ?,");
            statement.params.push_back(*change.newValues[i]);
            if (layout)
                layout->push_back({static_cast<std::uint32_t>(i), false});
        }
        if (lines.size() == 1)
            return {};
        lines.back().pop_back();
        statement.text = JoinLines(lines);
        WhereClause(changes, change, TUpdateMode::upWhereAll, statement, layout);
        break;
    }
    case TUpdateKind::ukDelete:
        statement.text = JoinLines({"delete from " + quotedTable_ + " " + kAlias});
        WhereClause(changes, change, TUpdateMode::upWhereAll, statement, layout);
        break;
    case TUpdateKind::ukInsert: {
        std::string columns = "  (";
        std::string values = "  (";
        for (std::size_t i = 0; i < changes.fields.size(); ++i) {
            if (!EligibleForUpdate(changes.fields[i], change.newValues[i]))
                continue;
            columns += FieldName(changes.fields[i]) + ", ";
            values += "?, ";
            statement.params.push_back(*change.newValues[i]);
            if (layout)
                layout->push_back({static_cast<std::uint32_t>(i), false});
        }
        if (statement.params.empty()) {
            // Nothing was given: every column takes its default.
            statement.text = JoinLines({"insert into " + quotedTable_, "default values"});
            break;
        }
        columns.resize(columns.size() - 2);
        values.resize(values.size() - 2);
        statement.text =
            JoinLines({"insert into " + quotedTable_, columns + ")", "values", values + ")"});
        break;
    }
    }
    return statement;
}

void TSQLResolver::TakeChange(const TChangeSet& changes, const TChangeRecord& change) {
    const std::size_t count = changes.fields.size();
    // The shape's key: the kind, then per field whether the change gives a new value (1),
    // whether the WHERE clause names the old one as null (2) and as NaN (4).
    shapeKey_.resize(1 + count);
    shapeKey_[0] = static_cast<char>('0' + static_cast<int>(change.kind));
    auto note = [&](std::size_t f, bool given, bool oldNull, bool oldNaN = false) {
        shapeKey_[1 + f] =
            static_cast<char>('0' + (given ? 1 : 0) + (oldNull ? 2 : 0) + (oldNaN ? 4 : 0));
    };
    if (!changes.ReadsRows(change)) {
        oldAt_ = newAt_ = nullptr;
        for (std::size_t f = 0; f < count; ++f) {
            const bool hasOld = f < change.oldValues.size();
            note(f, f < change.newValues.size() && change.newValues[f].has_value(),
                 hasOld && MatchesAsNull(changes.fields[f], change.oldValues[f]),
                 hasOld && MatchesAsNaN(change.oldValues[f]));
        }
        return;
    }
    const TRowStore& rows = *changes.rows;
    oldRow_ = change.oldRow;
    if (&change == ahead_) {
        oldAt_ = aheadOld_;
        newAt_ = aheadNew_;
    } else {
        oldAt_ = change.oldRow != kNoRow ? rows.RowBytes(change.oldRow) : nullptr;
        newAt_ = change.newRow != kNoRow ? rows.RowBytes(change.newRow) : nullptr;
    }
    oldPlaced_ = newPlaced_ = false;
    const char* given = newAt_ && change.givenAt != TChangeRecord::kNoFlags
                            ? changes.given.data() + change.givenAt
                            : nullptr;
    for (std::size_t f = 0; f < count; ++f) {
        // The row's null flag answers, unless an empty text counts as null too.
        bool isNull = !oldAt_ || rows.NullAt(oldAt_, static_cast<int>(f));
        bool isNaN = false;
        const TFieldType type = changes.fields[f].DataType;
        if (!isNull && !sqlBased_ && type == TFieldType::ftString) {
            rows.ValueAt(oldAt_, static_cast<int>(f), oldValue_);
            isNull = MatchesAsNull(changes.fields[f], oldValue_);
        } else if (!isNull && (type == TFieldType::ftFloat || type == TFieldType::ftSingle)) {
            rows.ValueAt(oldAt_, static_cast<int>(f), oldValue_);
            isNaN = MatchesAsNaN(oldValue_);
        }
        note(f, given && given[f], isNull, isNaN);
    }
}

bool TSQLResolver::Given(std::size_t field) const noexcept {
    return ((shapeKey_[1 + field] - '0') & 1) != 0;
}

void TSQLResolver::ValueInto(const TChangeSet& changes, const TChangeRecord& change,
                             const ParamSource& source, TValue& value) const {
    const std::size_t f = source.field;
    if (changes.ReadsRows(change)) {
        const unsigned char* row = source.old ? oldAt_ : Given(f) ? newAt_ : nullptr;
        const std::string* wire =
            source.old ? changes.rows->WireText(change.oldRow, static_cast<int>(f)) : nullptr;
        if (wire)
            value = TBytes{*wire};
        else if (row)
            changes.rows->ValueAt(row, static_cast<int>(f), value);
        else
            value = TValue{};
    } else if (source.old) {
        value = f < change.oldValues.size() ? change.oldValues[f] : TValue{};
    } else {
        value = Given(f) ? *change.newValues[f] : TValue{};
    }
}

bool TSQLResolver::WriteParams(const TChangeSet& changes, const StatementShape& shape,
                               TDrvParamWriter& out) {
    using Storage = TRowStore::Storage;
    const TRowStore& rows = *changes.rows;
    TRowStore::RawValue raw;
    for (std::size_t i = 0; i < shape.params.size(); ++i) {
        const int index = static_cast<int>(i);
        const std::size_t f = shape.params[i].field;
        // A new value not given goes as null, like the old value of a change without one. Each
        // row is walked once, for all of its values.
        const unsigned char* at = nullptr;
        if (shape.params[i].old && oldAt_) {
            if (!oldPlaced_)
                rows.Places(oldAt_, places_.data());
            oldPlaced_ = true;
            at = places_[f];
        } else if (!shape.params[i].old && Given(f) && newAt_) {
            if (!newPlaced_)
                rows.Places(newAt_, places_.data() + changes.fields.size());
            newPlaced_ = true;
            at = places_[changes.fields.size() + f];
        }
        if (!at) {
            if (!out.PutNull(index))
                return false;
            continue;
        }
        rows.RawFrom(static_cast<int>(f), at, raw);
        bool written = false;
        switch (raw.storage) {
        case Storage::I16:
        case Storage::I32:
        case Storage::I64:
            written = out.PutInteger(index, raw.integer);
            break;
        case Storage::F32:
        case Storage::F64:
            written = out.PutDouble(index, raw.real);
            break;
        case Storage::Bool:
            written = out.PutBoolean(index, raw.integer != 0);
            break;
        case Storage::Bcd:
            written = out.PutBcd(index, raw.integer, raw.scale);
            break;
        case Storage::Date:
            written = out.PutDate(index, raw.date);
            break;
        case Storage::Time:
            written = out.PutTime(index, raw.time);
            break;
        case Storage::Stamp:
            written = out.PutTimeStamp(index, raw.date, raw.time);
            break;
        case Storage::Var:
            // Bytes go with the octets character set: left to the values. An old value that
            // did not read as text goes as the bytes the database gave.
            if (const std::string* wire = shape.params[i].old && rows.HasWireText()
                                              ? rows.WireText(oldRow_, static_cast<int>(f))
                                              : nullptr)
                written = out.PutWireText(index, *wire);
            else
                written = !shape.params[i].bytes && out.PutText(index, raw.bytes);
            break;
        }
        if (!written)
            return false;
    }
    return true;
}

const std::vector<TValue>& TSQLResolver::ParamValues(const TChangeSet& changes,
                                                     const TChangeRecord& change,
                                                     const StatementShape& shape) {
    params_.resize(shape.params.size());
    for (std::size_t i = 0; i < shape.params.size(); ++i)
        ValueInto(changes, change, shape.params[i], params_[i]);
    return params_;
}

// The parameters of a change that names its rows: written from the rows, or as values.
class TSQLResolver::RowParams final : public TDrvParamSource {
public:
    RowParams(TSQLResolver& resolver, const TChangeSet& changes, const TChangeRecord& change,
              const StatementShape& shape)
        : resolver_(resolver), changes_(changes), change_(change), shape_(shape) {}
    std::size_t Count() const override { return shape_.params.size(); }
    bool Write(TDrvParamWriter& out) override {
        return resolver_.WriteParams(changes_, shape_, out);
    }
    const std::vector<TValue>& Values() override {
        return resolver_.ParamValues(changes_, change_, shape_);
    }

private:
    TSQLResolver& resolver_;
    const TChangeSet& changes_;
    const TChangeRecord& change_;
    const StatementShape& shape_;
};

void TSQLResolver::PrefetchAhead(const TChangeSet& changes, std::size_t c) {
    const std::size_t total = changes.records.size();
    const TRowStore& rows = *changes.rows;
    // Change records are read in order, but one database call apart: too far apart for the
    // processor to see the stream and fetch them ahead by itself.
    if (c + 3 < total) {
        const char* record = reinterpret_cast<const char*>(&changes.records[c + 3]);
        __builtin_prefetch(record);
        __builtin_prefetch(record + sizeof(TChangeRecord) - 1);
    }
    if (c + 2 < total) {
        rows.PrefetchPlace(changes.records[c + 2].oldRow);
        rows.PrefetchPlace(changes.records[c + 2].newRow);
    }
    ahead_ = nullptr;
    if (c + 1 >= total)
        return;
    const TChangeRecord& next = changes.records[c + 1];
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
    aheadOld_ = place(next.oldRow);
    aheadNew_ = place(next.newRow);
    ahead_ = &next;
}

namespace {
// Shape keys are a few characters long: compared in line rather than through a library call.
bool SameKey(const std::string& a, const std::string& b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}
} // namespace

TSQLResolver::StatementShape& TSQLResolver::ShapeOf(const TChangeSet& changes,
                                                    const TChangeRecord& change) {
    // Changes of one shape tend to come in runs: comparing with the last key is cheaper than
    // hashing it.
    if (lastShape_ && SameKey(shapeKey_, lastShapeKey_))
        return *lastShape_;
    auto it = shapes_.find(shapeKey_);
    if (it == shapes_.end()) {
        StatementShape shape;
        shape.text = BuildStatement(changes, changes.WithValues(change), &shape.params).text;
        for (ParamSource& param : shape.params)
            param.bytes = IsBinaryType(changes.fields[param.field].DataType);
        it = shapes_.emplace(shapeKey_, std::move(shape)).first;
    }
    lastShapeKey_ = shapeKey_;
    lastShape_ = &it->second;
    return *lastShape_;
}

TResolverStatement TSQLResolver::CurrentValuesStatement(const TChangeSet& changes,
                                                        const TChangeRecord& change) const {
    TResolverStatement statement;
    std::vector<std::string> lines{"select"};
    for (const TFieldDef& field : changes.fields)
        if (EligibleForWhere(field, TUpdateMode::upWhereAll, false))
            lines.push_back(" " + FieldName(field) + ",");
    if (lines.size() > 1)
        lines.back().pop_back();
    lines.push_back(" from " + quotedTable_ + " " + kAlias);
    statement.text = JoinLines(lines);
    WhereClause(changes, change, TUpdateMode::upWhereKeyOnly, statement, nullptr);
    return statement;
}

std::vector<std::size_t> TSQLResolver::KeyFields(const std::vector<TFieldDef>& fields) {
    std::vector<std::size_t> keys;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (EligibleForWhere(fields[i], TUpdateMode::upWhereKeyOnly, false))
            keys.push_back(i);
    return keys;
}

std::vector<TKeyedRow> TSQLResolver::ReadRows(const std::vector<TFieldDef>& fields,
                                              const std::vector<std::vector<TValue>>& keys) {
    std::vector<TKeyedRow> rows(keys.size());
    const std::vector<std::size_t> keyFields = KeyFields(fields);
    if (keyFields.empty() || keys.empty())
        return rows;
    std::vector<std::size_t> read;
    std::string head = "select\r\n";
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (EligibleForWhere(fields[i], TUpdateMode::upWhereAll, false)) {
            read.push_back(i);
            head += " " + FieldName(fields[i]) + ",\r\n";
        }
    if (read.empty())
        return rows;
    head.erase(head.size() - 3, 1); // the last comma
    head += " from " + quotedTable_ + " " + kAlias + "\r\nwhere\r\n";
    // Where each key field lies among the fields read.
    std::vector<std::size_t> keyColumn;
    for (std::size_t k : keyFields)
        keyColumn.push_back(
            static_cast<std::size_t>(std::find(read.begin(), read.end(), k) - read.begin()));
    for (std::size_t first = 0; first < keys.size(); first += kReadBatch) {
        const std::size_t last = std::min(keys.size(), first + kReadBatch);
        std::string text = head;
        std::vector<TValue> params;
        for (std::size_t k = first; k < last; ++k) {
            text += k == first ? " (" : " or (";
            for (std::size_t j = 0; j < keyFields.size(); ++j) {
                const TValue& value = keys[k][j];
                text += (j ? " and " : "") + FieldName(fields[keyFields[j]]);
                if (IsNull(value)) {
                    text += " is null";
                } else {
                    text += " = ?";
                    params.push_back(value);
                }
            }
            text += ")\r\n";
        }
        std::unique_ptr<TSQLResultSet> result;
        connection_.Execute(text, params, &result);
        while (result && result->Next()) {
            TDrvReader& reader = result->Reader();
            std::vector<std::optional<TValue>> values(fields.size());
            for (std::size_t c = 0; c < read.size(); ++c)
                values[read[c]] = reader.GetValue(static_cast<int>(c));
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

void TSQLResolver::ReadCurrentValues(const TChangeSet& changes,
                                     std::vector<TUpdateErrorRecord>& errors) {
    const std::vector<std::size_t> keyFields = KeyFields(changes.fields);
    std::vector<std::vector<TValue>> keys;
    std::vector<std::pair<TUpdateErrorRecord*, TChangeRecord>> wanted;
    for (TUpdateErrorRecord& error : errors) {
        const TChangeRecord& change = changes.records[static_cast<std::size_t>(error.recordNumber)];
        error.currentValues.assign(changes.fields.size(), std::nullopt);
        if (change.kind == TUpdateKind::ukInsert)
            continue; // no row before

        TChangeRecord values = changes.WithValues(change);
        std::vector<TValue> key;
        for (std::size_t k : keyFields)
            key.push_back(values.oldValues[k]);
        keys.push_back(std::move(key));
        wanted.emplace_back(&error, std::move(values));
    }
    std::vector<TKeyedRow> rows;
    try {
        rows = ReadRows(changes.fields, keys);
    } catch (...) {
        // The current values are a courtesy: rows that cannot be read leave them empty.
        return;
    }
    for (std::size_t w = 0; w < wanted.size(); ++w) {
        if (!rows[w])
            continue;
        auto& [error, change] = wanted[w];
        for (std::size_t i = 0; i < changes.fields.size(); ++i)
            if ((*rows[w])[i] && !(*(*rows[w])[i] == change.oldValues[i]))
                error->currentValues[i] = (*rows[w])[i];
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

void TSQLResolver::ReadBackApplied(const TChangeSet& changes,
                                   const std::vector<const TChangeRecord*>& applied,
                                   bool insertsOrModifies) {
    const std::vector<std::size_t> keyFields = KeyFields(changes.fields);
    if (keyFields.empty() || !insertsOrModifies)
        return;
    // Only a table that writes values of its own can hold other values than the ones sent.
    std::optional<TTableOwnValues> own = ownValues_ ? *ownValues_ : std::nullopt;
    if (!own) {
        own = ReadOwnValues();
        if (!own && !connection_.Connected()) {
            // The link went after the commit: the rows are read at the next apply.
            for (const TChangeRecord* change : applied)
                if (change->kind != TUpdateKind::ukDelete)
                    notReadBack_.push_back(change->recordNumber);
            return;
        }
        if (!own)
            return; // without the table's description the rows keep the values sent
        if (ownValues_)
            *ownValues_ = own;
    }
    // The rows as sent: their old values with the new ones over them, found by their key.
    std::vector<int> wanted;
    std::vector<std::vector<TValue>> keys;
    for (const TChangeRecord* change : applied) {
        if (!(change->kind == TUpdateKind::ukModify && own->onModify) &&
            !(change->kind == TUpdateKind::ukInsert && own->onInsert))
            continue;
        TChangeRecord sent = changes.WithValues(*change);
        std::vector<TValue> key;
        for (std::size_t k : keyFields) {
            if (k < sent.newValues.size() && sent.newValues[k])
                sent.oldValues[k] = *sent.newValues[k];
            key.push_back(sent.oldValues[k]);
        }
        if (std::any_of(key.begin(), key.end(), [](const TValue& v) { return IsNull(v); }))
            continue;
        wanted.push_back(change->recordNumber);
        keys.push_back(std::move(key));
    }
    for (std::size_t first = 0; first < keys.size(); first += kReadBatch) {
        const std::size_t last = std::min(keys.size(), first + kReadBatch);
        std::vector<TKeyedRow> rows;
        try {
            rows = ReadRows(changes.fields, {keys.begin() + static_cast<std::ptrdiff_t>(first),
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
    std::vector<TChangeRecord> unconfirmed;
    for (const TChangeRecord& change : changes.records)
        if (change.unconfirmed)
            unconfirmed.push_back(changes.WithValues(change));
    if (unconfirmed.empty())
        return settled;
    if (lost)
        WaitForLostCommit(*lost);
    const std::vector<std::size_t> keyFields = KeyFields(changes.fields);
    // Each change is looked for by its key as it was before and as it was sent.
    std::vector<std::vector<TValue>> keys;
    for (TChangeRecord& change : unconfirmed) {
        std::vector<TValue> before, after;
        for (std::size_t k : keyFields) {
            before.push_back(k < change.oldValues.size() ? change.oldValues[k] : TValue());
            const bool given = k < change.newValues.size() && change.newValues[k].has_value();
            after.push_back(given ? *change.newValues[k] : before.back());
        }
        keys.push_back(std::move(before));
        keys.push_back(std::move(after));
    }
    const std::vector<TKeyedRow> rows = ReadRows(changes.fields, keys);
    auto holds = [&](const TKeyedRow& row, const TChangeRecord& change, bool sent) {
        if (!row)
            return false;
        for (std::size_t i = 0; i < changes.fields.size(); ++i) {
            if (!(*row)[i])
                continue; // not read (a blob)
            const bool given = i < change.newValues.size() && change.newValues[i].has_value();
            if (sent && !given)
                continue; // the new row says nothing of a field the change did not give
            const TValue& expected = sent && given ? *change.newValues[i] : change.oldValues[i];
            const TValue& found = *(*row)[i];
            const bool bothNaN = MatchesAsNaN(expected) && MatchesAsNaN(found);
            if (!(found == expected) && !bothNaN)
                return false;
        }
        return true;
    };
    for (std::size_t c = 0; c < unconfirmed.size(); ++c) {
        const TChangeRecord& change = unconfirmed[c];
        const TKeyedRow& before = rows[2 * c];
        const TKeyedRow& after = rows[2 * c + 1];
        SettledChange result;
        if (keyFields.empty()) {
            result.outcome = Settled::Unconfirmable; // no key to find the row by
        } else if (change.kind == TUpdateKind::ukInsert) {
            result.outcome = !after                       ? Settled::NotEffective
                             : holds(after, change, true) ? Settled::Effective
                                                          : Settled::Unconfirmable;
        } else if (change.kind == TUpdateKind::ukModify) {
            result.outcome = holds(after, change, true)     ? Settled::Effective
                             : holds(before, change, false) ? Settled::NotEffective
                                                            : Settled::Unconfirmable;
        } else {
            result.outcome = !before                        ? Settled::Effective
                             : holds(before, change, false) ? Settled::NotEffective
                                                            : Settled::Unconfirmable;
        }
        const TKeyedRow& row = after ? after : before;
        if (row)
            result.values = *row;
        settled.emplace(change.recordNumber, std::move(result));
    }
    return settled;
}

std::optional<std::vector<TUpdateErrorRecord>> TSQLResolver::Resolve(const TChangeSet& changes,
                                                                     int maxErrors, int& errorCount,
                                                                     const TLostCommit* lost) {
    errorCount = 0;
    triedCount_ = 0;
    readBack_.clear();
    unconfirmed_.clear();
    lostCommit_.reset();
    notReadBack_.clear();
    // The table information and the fields may differ from the last apply's.
    shapes_.clear();
    lastShape_ = nullptr;
    ahead_ = nullptr;
    places_.assign(2 * changes.fields.size(), nullptr);
    std::vector<TUpdateErrorRecord> errors;
    // Errors whose current values are still to be read: read in batches, not one by one.
    std::size_t valuesRead = 0;
    auto readCurrentValues = [&] {
        std::vector<TUpdateErrorRecord> unread(
            errors.begin() + static_cast<std::ptrdiff_t>(valuesRead), errors.end());
        ReadCurrentValues(changes, unread);
        std::move(unread.begin(), unread.end(),
                  errors.begin() + static_cast<std::ptrdiff_t>(valuesRead));
        valuesRead = errors.size();
    };
    auto fail = [&](const TChangeRecord& change, const std::string& message, int& limit) {
        TResolverResponse response =
            errorCount >= limit ? TResolverResponse::rrAbort : TResolverResponse::rrSkip;
        ++errorCount;
        if (errorCount > limit)
            response = TResolverResponse::rrAbort;
        if (response == TResolverResponse::rrAbort)
            limit = errorCount - 1;
        TUpdateErrorRecord* record = nullptr;
        for (auto& existing : errors)
            if (existing.recordNumber == change.recordNumber)
                record = &existing;
        if (!record)
            record = &errors.emplace_back();
        record->recordNumber = change.recordNumber;
        record->response = static_cast<int>(response) + 1;
        record->message = message;
    };
    // A change that failed on a lost attachment or a failing database file leaves the
    // attachment untrusted even when the transaction ended well, and a failure of the apply
    // leaves it as it is: the next apply opens a new one. Declared first, it runs once the
    // transaction has ended.
    TScopeExit closeIfLost([this] { connection_.CloseIfLost(); });
    // The transaction this apply began; it rolls back unless committed.
    std::optional<TTransactionScope> scope;
    {
        // The changes of a lost commit are settled first, on a new attachment when the old
        // one was lost, before anything else is sent.
        std::unordered_map<int, SettledChange> settled;
        if (std::any_of(changes.records.begin(), changes.records.end(),
                        [](const TChangeRecord& c) { return c.unconfirmed; })) {
            connection_.EnsureOpen();
            LoadTableInfo();
            settled = Settle(changes, lost);
        }
        // The numbers of the transaction, for the next apply to ask after it should its commit
        // answer be lost.
        TLostCommit ids;
        auto begin = [&] {
            scope.emplace(connection_);
            try {
                ids.transactionId = connection_.InnermostTransaction()->Id();
                ids.attachmentId = connection_.Attachment()->AttachmentId();
            } catch (const TDriverError& error) {
                if (IsConnectionLostError(error.ErrorCode()))
                    throw;
                ids = {}; // without them the rows alone settle the outcome
            }
        };
        if (!connection_.InTransaction())
            begin();
        // The connection may only now be open: take the table information from it.
        LoadTableInfo();
        int limit = maxErrors == -1 ? INT_MAX : maxErrors;
        // Changes that went through inside the current transaction: undone with it if it rolls
        // back, so they must stay pending too.
        std::vector<const TChangeRecord*> applied;
        applied.reserve(changes.records.size());
        // Whether an applied change wrote a row, which the table may then have filled itself.
        bool rowsWritten = false;
        bool rolledBack = false;
        auto undoApplied = [&](int& lim) {
            for (const TChangeRecord* change : applied)
                fail(*change, kManyRows, lim);
            applied.clear();
            rowsWritten = false;
        };
        for (const TChangeRecord& change : changes.records) {
            if (progress_)
                progress_(triedCount_);
            // After a rollback the rest of the apply goes on in a transaction of its own: a
            // statement run outside one would be committed at once, whatever it affected.
            if (rolledBack) {
                begin();
                rolledBack = false;
            }
            ++triedCount_;
            if (auto it = settled.find(change.recordNumber); it != settled.end()) {
                if (it->second.outcome == Settled::Effective) {
                    // It was committed: the rows take what the database holds.
                    if (!it->second.values.empty())
                        readBack_.push_back({change.recordNumber, it->second.values});
                    continue;
                }
                if (it->second.outcome == Settled::Unconfirmable) {
                    fail(change, kUnconfirmable, limit);
                    if (errorCount > limit)
                        break;
                    continue;
                }
            }
            try {
                TakeChange(changes, change);
                StatementShape& shape = ShapeOf(changes, change);
                if (shape.text.empty())
                    continue;
                std::uint64_t affected = 0;
                if (changes.ReadsRows(change)) {
                    PrefetchAhead(changes,
                                  static_cast<std::size_t>(&change - changes.records.data()));
                    RowParams params(*this, changes, change, shape);
                    affected = connection_.Execute(shape.text, params, &shape.statement);
                } else {
                    affected = connection_.Execute(shape.text, ParamValues(changes, change, shape));
                }
                if (affected > 1) {
                    rolledBack = true;
                    if (scope && scope->Open())
                        scope->Rollback();
                    else
                        connection_.EndInnermostTransaction(false);
                    undoApplied(limit);
                    throw EDatabaseError(kManyRows);
                }
                if (affected < 1)
                    throw EDatabaseError(kRowNotFound);
                applied.push_back(&change);
                rowsWritten = rowsWritten || change.kind != TUpdateKind::ukDelete;
            } catch (const TDriverError& error) {
                // Without the link nothing of the transaction can be committed: the apply fails
                // as a whole, and every change stays pending as it was.
                if (IsConnectionLostError(error.ErrorCode()))
                    throw;
                fail(change, error.Message(), limit);
            } catch (const EDatabaseError& error) {
                fail(change, error.Message(), limit);
            } catch (...) {
                fail(change, kNotDatabaseError, limit);
            }
            if (errorCount > limit)
                break;
        }
        readCurrentValues();
        if (progress_)
            progress_(triedCount_);
        bool commit = errorCount <= maxErrors || maxErrors == -1;
        if (scope && scope->Open()) {
            try {
                if (commit)
                    scope->Commit();
                else
                    scope->Rollback();
            } catch (const TDriverError& error) {
                if (!commit || !IsConnectionLostError(error.ErrorCode()))
                    throw;
                // The commit went out and its answer never came: it may have happened or not.
                // Nothing else is sent; the next apply reads the rows to find out.
                lostCommit_ = ids;
                for (const TChangeRecord* change : applied)
                    unconfirmed_.push_back(change->recordNumber);
            }
            if (commit && !lostCommit_) {
                ReadBackApplied(changes, applied, rowsWritten);
            } else if (!commit) {
                undoApplied(limit);
                readCurrentValues();
            }
        }
    }
    if (errors.empty())
        return std::nullopt;
    return errors;
}

} // namespace sorvanto
