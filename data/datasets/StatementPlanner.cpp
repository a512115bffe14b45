#include "StatementPlanner.h"

#include "Errors.h"
#include "ParamList.h"

#include <cmath>

namespace sorvanto {

namespace {
constexpr const char* kNoTable = "レコードを解決できません。テーブル名が見つかりません。";
constexpr const char* kNoKey = "レコードが見つかりませんでした。キーを指定されていません";

// The alias of the table in the statements: none in this system.
const std::string kAlias;

// A shape key's digits.
constexpr int kGiven = 1;
constexpr int kOldNull = 2;
constexpr int kOldNaN = 4;

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

int Digit(const std::string& key, std::size_t field) {
    return key[1 + field] - '0';
}

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

TStatementPlanner::TStatementPlanner(std::vector<TFieldDef> fields, TStatementTable table)
    : fields_(std::move(fields)), table_(std::move(table)) {}

std::string TStatementPlanner::QuoteName(const std::string& name, const std::string& q,
                                         bool sqlBased) {
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

int TStatementPlanner::DataSize(const TFieldDef& field) {
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

bool TStatementPlanner::EligibleForUpdate(const TFieldDef& field, bool given) {
    using enum TFieldType;
    return (field.ProviderFlags & pfInUpdate) &&
           !IsOneOf(field.DataType,
                    {ftUnknown, ftAutoInc, ftCursor, ftADT, ftArray, ftReference, ftDataSet}) &&
           !field.ReadOnly && !(field.ProviderFlags & pfHidden) && given;
}

bool TStatementPlanner::EligibleForWhere(const TFieldDef& field, TUpdateMode mode, bool given) {
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

bool TStatementPlanner::NamedAsNull(const TFieldDef& field, const TValue& old, bool sqlBased) {
    const bool emptyText = !sqlBased && field.DataType == TFieldType::ftString &&
                           std::holds_alternative<std::string>(old) &&
                           std::get<std::string>(old).empty();
    return IsNull(old) || emptyText;
}

bool TStatementPlanner::NamedAsNaN(const TValue& old) {
    const auto* number = std::get_if<double>(&old);
    return number && std::isnan(*number);
}

std::string TStatementPlanner::FieldName(const TFieldDef& field) const {
    std::string origin = field.Name;
    if (std::size_t dot = field.Origin.rfind('.'); dot != std::string::npos)
        origin = field.Origin.substr(dot + 1);
    return table_.tablePrefix + QuoteIdentifier(origin, table_.quote);
}

void TStatementPlanner::Shape(const TChange& change, const TRowStore& rows,
                              const unsigned char* oldRow, std::string& key) const {
    const std::size_t count = fields_.size();
    key.resize(1 + count);
    key[0] = static_cast<char>('0' + static_cast<int>(change.kind));
    const bool gives = change.newRow != kNoRow;
    TValue old;
    for (std::size_t f = 0; f < count; ++f) {
        // The row's null flag answers, unless an empty text counts as null too, or the number
        // is NaN.
        bool isNull = !oldRow || rows.NullAt(oldRow, static_cast<int>(f));
        bool isNaN = false;
        const TFieldType type = fields_[f].DataType;
        if (!isNull && !table_.sqlBased && type == TFieldType::ftString) {
            rows.ValueAt(oldRow, static_cast<int>(f), old);
            isNull = NamedAsNull(fields_[f], old, table_.sqlBased);
        } else if (!isNull && (type == TFieldType::ftFloat || type == TFieldType::ftSingle)) {
            rows.ValueAt(oldRow, static_cast<int>(f), old);
            isNaN = NamedAsNaN(old);
        }
        key[1 + f] = static_cast<char>('0' + (gives && change.given[f] ? kGiven : 0) +
                                       (isNull ? kOldNull : 0) + (isNaN ? kOldNaN : 0));
    }
}

TStatementPlan& TStatementPlanner::PlanFor(const std::string& key) {
    if (last_ && SameKey(key, lastKey_))
        return *last_;
    auto it = plans_.find(key);
    if (it == plans_.end())
        it = plans_.emplace(key, Write(key)).first;
    lastKey_ = key;
    last_ = &it->second;
    return *last_;
}

TStatementPlan TStatementPlanner::Write(const std::string& key) const {
    if (table_.quotedTable.empty())
        throw EDatabaseError(kNoTable);
    TStatementPlan plan;
    auto settable = [&](std::size_t f) {
        return EligibleForUpdate(fields_[f], (Digit(key, f) & kGiven) != 0);
    };
    switch (static_cast<TUpdateKind>(key[0] - '0')) {
    case TUpdateKind::ukModify: {
        std::vector<std::string> lines{"update " + table_.quotedTable + " " + kAlias + " set"};
        for (std::size_t f = 0; f < fields_.size(); ++f)
            if (settable(f)) {
                lines.push_back(" " + FieldName(fields_[f]) + " = ?,");
                plan.params.push_back({static_cast<std::uint32_t>(f), false, false});
            }
        if (lines.size() == 1)
            return {};
        lines.back().pop_back();
        plan.text = JoinLines(lines);
        WriteWhere(key, plan);
        break;
    }
    case TUpdateKind::ukDelete:
        plan.text = JoinLines({"delete from " + table_.quotedTable + " " + kAlias});
        WriteWhere(key, plan);
        break;
    case TUpdateKind::ukInsert: {
        std::string columns = "  (";
        std::string values = "  (";
        for (std::size_t f = 0; f < fields_.size(); ++f)
            if (settable(f)) {
                columns += FieldName(fields_[f]) + ", ";
                values += "?, ";
                plan.params.push_back({static_cast<std::uint32_t>(f), false, false});
            }
        if (plan.params.empty()) {
            // Nothing was given: every column takes its default.
            plan.text = JoinLines({"insert into " + table_.quotedTable, "default values"});
            break;
        }
        columns.resize(columns.size() - 2);
        values.resize(values.size() - 2);
        plan.text =
            JoinLines({"insert into " + table_.quotedTable, columns + ")", "values", values + ")"});
        break;
    }
    }
    for (TStatementPlan::Param& param : plan.params)
        param.bytes = IsBinaryType(fields_[param.field].DataType);
    return plan;
}

void TStatementPlanner::WriteWhere(const std::string& key, TStatementPlan& plan) const {
    std::vector<std::string> lines{"where"};
    for (std::size_t f = 0; f < fields_.size(); ++f) {
        const int digit = Digit(key, f);
        if (!EligibleForWhere(fields_[f], TUpdateMode::upWhereAll, (digit & kGiven) != 0))
            continue;
        const std::string name = FieldName(fields_[f]);
        if (digit & kOldNull) {
            lines.push_back(" " + name + " is null and");
        } else if (digit & kOldNaN) {
            // NaN equals nothing, itself included: the one value a column is not equal to.
            lines.push_back(" " + name + " <> " + name + " and");
        } else {
            lines.push_back(" " + name + " = ? and");
            plan.params.push_back({static_cast<std::uint32_t>(f), true, false});
        }
    }
    if (lines.size() == 1)
        throw EDatabaseError(kNoKey);
    lines.back().resize(lines.back().size() - 4);
    plan.text += JoinLines(lines);
}

std::vector<TValue> PlanValues(const TChangeSet& changes, const TChange& change,
                               const TStatementPlan& plan) {
    std::vector<TValue> values;
    values.reserve(plan.params.size());
    for (const TStatementPlan::Param& param : plan.params) {
        if (param.old)
            values.push_back(changes.OldValue(change, param.field));
        else
            values.push_back(changes.NewValue(change, param.field).value_or(TValue()));
    }
    return values;
}

} // namespace sorvanto
