#include "SQLDataSet.h"

#include "Errors.h"
#include "FirebirdDates.h"
#include "ParamList.h"
#include "Unaligned.h"

#include <algorithm>
#include <cstring>

namespace sorvanto {

namespace {
constexpr const char* kOpenDataSet = "データセットが開かれているため, この操作は実行できません";

// The indexes of a table, primary key first, then by name; each with its columns in order.
constexpr const char* kIndexQuery =
    "select trim(i.RDB$INDEX_NAME), trim(s.RDB$FIELD_NAME), coalesce(i.RDB$UNIQUE_FLAG, 0),"
    " trim(coalesce(c.RDB$CONSTRAINT_TYPE, ''))"
    " from RDB$INDICES i"
    " join RDB$INDEX_SEGMENTS s on s.RDB$INDEX_NAME = i.RDB$INDEX_NAME"
    " left join RDB$RELATION_CONSTRAINTS c on c.RDB$INDEX_NAME = i.RDB$INDEX_NAME"
    " where i.RDB$RELATION_NAME = ? and coalesce(i.RDB$INDEX_INACTIVE, 0) = 0"
    " order by case when c.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY' then 0 else 1 end,"
    " i.RDB$INDEX_NAME, s.RDB$FIELD_POSITION";

std::vector<std::string> SplitName(const std::string& name) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (parts.size() < 2) {
        std::size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            break;
        parts.push_back(name.substr(start, dot - start));
        start = dot + 1;
    }
    parts.push_back(name.substr(start));
    return parts;
}
} // namespace

const char* CommandKind(TSQLCommandType type) noexcept {
    switch (type) {
    case TSQLCommandType::ctTable:
        return "Cmd.Table";
    case TSQLCommandType::ctStoredProc:
        return "Cmd.StoredProcedure";
    default:
        return "Cmd.SQL";
    }
}

bool FieldDefFromColumn(const TDrvColumnDesc& column, TFieldDef& def) {
    def = TFieldDef{};
    def.Name = column.name;
    def.Origin = column.field;
    def.Precision = column.precision;
    def.CharSet = column.charSet;
    def.ColumnCharSet = column.columnCharSet;
    switch (column.type) {
    case TDrvDataType::AnsiString:
    case TDrvDataType::WideString:
        if (column.precision == 0 && column.size == 0)
            return false;
        def.DataType = column.type == TDrvDataType::AnsiString ? TFieldType::ftString
                                                               : TFieldType::ftWideString;
        def.Size = column.precision != 0 ? column.precision : column.size;
        def.MaxBytes = column.size;
        def.PadTo = column.padTo;
        break;
    case TDrvDataType::Int16:
        def.DataType = TFieldType::ftSmallint;
        break;
    case TDrvDataType::Int32:
        def.DataType = TFieldType::ftInteger;
        break;
    case TDrvDataType::Int64:
        def.DataType = TFieldType::ftLargeint;
        break;
    case TDrvDataType::Single:
        def.DataType = TFieldType::ftSingle;
        break;
    case TDrvDataType::Double:
        def.DataType = TFieldType::ftFloat;
        break;
    case TDrvDataType::Bcd:
        def.DataType = TFieldType::ftFMTBcd;
        def.Size = column.scale < 0 ? -column.scale : column.scale;
        def.Precision = std::min(std::max(column.precision, def.Size), 32);
        break;
    case TDrvDataType::Boolean:
        def.DataType = TFieldType::ftBoolean;
        break;
    case TDrvDataType::Date:
        def.DataType = TFieldType::ftDate;
        break;
    case TDrvDataType::Time:
        def.DataType = TFieldType::ftTime;
        break;
    case TDrvDataType::TimeStamp:
        def.DataType = TFieldType::ftTimeStamp;
        break;
    case TDrvDataType::Bytes:
    case TDrvDataType::VarBytes:
        if (column.size == 0)
            return false;
        def.DataType =
            column.type == TDrvDataType::Bytes ? TFieldType::ftBytes : TFieldType::ftVarBytes;
        def.Size = column.size;
        break;
    case TDrvDataType::Blob:
        switch (column.subType) {
        case TDrvSubType::Memo:
            def.DataType = TFieldType::ftMemo;
            break;
        case TDrvSubType::WideMemo:
            def.DataType = TFieldType::ftWideMemo;
            break;
        default:
            def.DataType = TFieldType::ftBlob;
            break;
        }
        def.Size = column.precision;
        break;
    case TDrvDataType::Unknown:
        return false;
    }
    def.Required = !column.nullable && def.DataType != TFieldType::ftAutoInc;
    def.ReadOnly = column.readOnly;
    def.ProviderFlags = pfInUpdate | pfInWhere;
    return true;
}

TSQLDataSet::TSQLDataSet(std::string name) : TDataSet(std::move(name)) {}

TSQLDataSet::~TSQLDataSet() {
    CloseForDestruction();
    rows_.reset();
    if (connection_)
        connection_->UnRegisterClient(this);
}

void TSQLDataSet::SetSQLConnection(TSQLConnection* connection) {
    if (connection == connection_)
        return;
    if (Active())
        DatabaseError(kOpenDataSet);
    if (connection_)
        connection_->UnRegisterClient(this);
    connection_ = connection;
    if (connection_) {
        connection_->RegisterClient(this);
        if (MaxBlobSize == 0) {
            std::string blobSize = connection_->Params().ValueOfName("BlobSize");
            char* end = nullptr;
            long value = std::strtol(blobSize.c_str(), &end, 10);
            MaxBlobSize = (blobSize.empty() || *end) ? -1 : static_cast<int>(value);
        }
    }
}

void TSQLDataSet::SetCommandType(TSQLCommandType type) {
    if (type == commandType_)
        return;
    if (Active())
        DatabaseError(kOpenDataSet);
    ReleaseStatement();
    commandType_ = type;
    commandText_.clear();
    SortFieldNames.clear();
}

void TSQLDataSet::SetCommandText(const std::string& text) {
    std::string trimmed(TrimControls(text));
    if (trimmed == commandText_)
        return;
    if (Active())
        DatabaseError(kOpenDataSet);
    ReleaseStatement();
    commandText_ = std::move(trimmed);
}

void TSQLDataSet::ReleaseStatement() {
    rows_.reset();
    copyPlan_.clear();
    onRow_ = false;
}

void TSQLDataSet::CloseForConnection() {
    Close();
    ReleaseStatement();
}

std::string TSQLDataSet::QuotedTableName() const {
    const std::string quote = connection_ ? connection_->QuoteChar() : std::string();
    if (quote.empty())
        return commandText_;
    std::string quoted;
    for (const std::string& part : SplitName(commandText_)) {
        if (!quoted.empty())
            quoted += '.';
        quoted += QuoteIdentifier(part, quote);
    }
    return quoted;
}

std::string TSQLDataSet::TableSelectText() const {
    if (commandType_ != TSQLCommandType::ctTable)
        return commandText_;
    return " select * from " + QuotedTableName();
}

void TSQLDataSet::InternalOpen() {
    if (commandText_.empty())
        throw EDatabaseError("クエリー、テーブル名またはプロシージャ名がありません");
    if (!connection_)
        DatabaseError("接続がありません");
    connection_->EnsureOpen();
    ReleaseStatement();
    connection_->Execute(TableSelectText(), {}, &rows_);
    if (!rows_)
        DatabaseError("問い合わせはカーソルを返しません");

    fieldDefs_.clear();
    columnOfField_.clear();
    const auto& columns = rows_->Reader().Columns();
    for (std::size_t i = 0; i < columns.size(); ++i) {
        TFieldDef def;
        if (!FieldDefFromColumn(columns[i], def))
            continue;
        // A name already taken gets the first free "<name>_<n>".
        std::string base = def.Name;
        for (int n = 1; std::any_of(fieldDefs_.begin(), fieldDefs_.end(),
                                    [&](const TFieldDef& d) { return SameText(d.Name, def.Name); });
             ++n)
            def.Name = base + "_" + std::to_string(n);
        if (IsBlobType(def.DataType) && def.Size > MaxBlobSize)
            MaxBlobSize = def.Size;
        fieldDefs_.push_back(std::move(def));
        columnOfField_.push_back(static_cast<int>(i));
    }
    if (GetMetadata)
        FindKey();
    PlanRowCopy();
    CreateFields(fieldDefs_);
    rowNumber_ = -1;
    started_ = false;
    onRow_ = false;
}

void TSQLDataSet::FindKey() {
    keyFields_.clear();
    std::unique_ptr<TSQLResultSet> indexes;
    connection_->Execute(kIndexQuery, {SplitName(commandText_).back()}, &indexes);
    if (!indexes)
        return;
    struct Index {
        std::string name;
        bool unique;
        std::vector<std::string> columns;
    };
    std::vector<Index> list;
    while (indexes->Next()) {
        TDrvReader& r = indexes->Reader();
        std::string name(r.GetBytes(0));
        if (list.empty() || list.back().name != name)
            list.push_back({name, r.GetInt64(2) == 1 || r.GetBytes(3) == "PRIMARY KEY", {}});
        list.back().columns.emplace_back(r.GetBytes(1));
    }
    for (const Index& index : list) {
        if (!index.unique)
            continue;
        bool allFields =
            std::all_of(index.columns.begin(), index.columns.end(), [&](const std::string& column) {
                return std::any_of(fieldDefs_.begin(), fieldDefs_.end(),
                                   [&](const TFieldDef& d) { return d.Name == column; });
            });
        if (!allFields)
            continue;
        keyFields_ = index.columns;
        for (TFieldDef& def : fieldDefs_)
            if (std::find(keyFields_.begin(), keyFields_.end(), def.Name) != keyFields_.end())
                def.ProviderFlags |= pfInKey;
        return;
    }
}

void TSQLDataSet::InternalClose() {
    ReleaseStatement();
    started_ = false;
}

bool TSQLDataSet::NextRow() {
    onRow_ = rows_ && rows_->Next();
    if (onRow_)
        ++rowNumber_;
    return onRow_;
}

bool TSQLDataSet::GetFirst(TRecordPos& pos) {
    if (!started_) {
        started_ = true;
        NextRow();
    }
    pos = rowNumber_;
    return onRow_;
}

bool TSQLDataSet::GetLast(TRecordPos&) {
    DatabaseError("指定の操作は単方向データセットでは許されません");
}

bool TSQLDataSet::GetNext(TRecordPos, TRecordPos& pos) {
    if (!NextRow())
        return false;
    pos = rowNumber_;
    return true;
}

bool TSQLDataSet::GetPrior(TRecordPos, TRecordPos&) {
    return false;
}

TValue TSQLDataSet::GetRecordValue(TRecordPos pos, int field) const {
    if (!onRow_ || pos != rowNumber_)
        return {};
    const TFieldDef& def = fieldDefs_.at(static_cast<std::size_t>(field));
    int column = columnOfField_[static_cast<std::size_t>(field)];
    TDrvReader& reader = rows_->Reader();
    if (IsBlobType(def.DataType) && MaxBlobSize == 0 && !reader.IsNull(column))
        return def.DataType == TFieldType::ftBlob ? TValue(TBytes{}) : TValue(std::string());
    return reader.GetValue(column);
}

void TSQLDataSet::PlanRowCopy() {
    using Kind = TDrvReader::RawColumn::Kind;
    using Storage = TRowStore::Storage;
    // How a column of one kind goes into a field of one storage, and the bytes it takes there.
    // A whole-number storage takes only unscaled integers; a decimal field, integers of its own
    // scale.
    enum class Needs : std::uint8_t { Nothing, NoScale, SameScale };
    struct Rule {
        Kind kind;
        Storage storage;
        Needs needs;
        CopyOp op;
        std::uint8_t bytes;
    };
    static constexpr Rule kRules[] = {
        {Kind::Short, Storage::I16, Needs::NoScale, CopyOp::Copy2, 2},
        {Kind::Long, Storage::I32, Needs::NoScale, CopyOp::Copy4, 4},
        {Kind::Int64, Storage::I64, Needs::NoScale, CopyOp::Copy8, 8},
        {Kind::Short, Storage::Bcd, Needs::SameScale, CopyOp::ShortTo8, 8},
        {Kind::Long, Storage::Bcd, Needs::SameScale, CopyOp::LongTo8, 8},
        {Kind::Int64, Storage::Bcd, Needs::SameScale, CopyOp::Copy8, 8},
        {Kind::Float, Storage::F32, Needs::Nothing, CopyOp::Copy4, 4},
        {Kind::Float, Storage::F64, Needs::Nothing, CopyOp::FloatTo8, 8},
        {Kind::Double, Storage::F64, Needs::Nothing, CopyOp::Copy8, 8},
        {Kind::Double, Storage::F32, Needs::Nothing, CopyOp::DoubleTo4, 4},
        {Kind::Boolean, Storage::Bool, Needs::Nothing, CopyOp::Boolean, 1},
        {Kind::Date, Storage::Date, Needs::Nothing, CopyOp::Date, 4},
        // A stored time counts 1/10000 seconds from midnight, as the database's does.
        {Kind::Time, Storage::Time, Needs::Nothing, CopyOp::Copy4, 4},
        {Kind::TimeStamp, Storage::Stamp, Needs::Nothing, CopyOp::TimeStamp, 8},
    };

    copyPlan_.clear();
    copyRowBytes_ = 0;
    TDrvReader& reader = rows_->Reader();
    std::vector<CopyStep> plan;
    std::size_t rowBytes = 0;
    for (std::size_t f = 0; f < fieldDefs_.size(); ++f) {
        const TFieldDef& def = fieldDefs_[f];
        TDrvReader::RawColumn raw = reader.Raw(columnOfField_[f]);
        Storage storage = TRowStore::StorageFor(def.DataType);
        CopyStep step{CopyOp::Varying, raw.offset, raw.nullOffset, raw.length};
        std::size_t bytes = 3 + raw.length; // a length of up to 21 bits takes 3 bytes
        // Text is copied as it comes only when it is UTF-8 that the database has checked;
        // any other goes through the reader, which reads it by its character set.
        bool varying = raw.kind == Kind::Varying && raw.verbatim &&
                       def.ColumnCharSet == def.CharSet && storage == Storage::Var &&
                       !IsBlobType(def.DataType) && raw.length < (1u << 21);
        if (!varying) {
            auto fits = [&](Needs needs) {
                return needs == Needs::Nothing || (needs == Needs::NoScale && raw.scale == 0) ||
                       (needs == Needs::SameScale &&
                        (def.DataType != TFieldType::ftFMTBcd || def.Size == raw.scale));
            };
            const Rule* rule =
                std::find_if(std::begin(kRules), std::end(kRules), [&](const Rule& r) {
                    return r.kind == raw.kind && r.storage == storage && fits(r.needs);
                });
            if (rule == std::end(kRules))
                return; // a field the plan does not cover: every row goes through the getters
            step.op = rule->op;
            bytes = rule->bytes;
        }
        plan.push_back(step);
        rowBytes += bytes;
    }
    copyPlan_ = std::move(plan);
    copyRowBytes_ = rowBytes;
}

void TSQLDataSet::CopyCurrentRow(TRowStore::Builder& row) {
    const unsigned char* buffer = rows_->Reader().RowBuffer();
    unsigned char* start = row.BeginRow(copyRowBytes_);
    unsigned char* out = start + row.BitmapBytes();
    std::size_t f = 0;
    for (const CopyStep& step : copyPlan_) {
        if (Load<std::int16_t>(buffer + step.nullOffset) != 0) {
            TRowStore::MarkNull(start, static_cast<int>(f));
            ++f;
            continue;
        }
        const unsigned char* from = buffer + step.offset;
        switch (step.op) {
        case CopyOp::Copy2:
            std::memcpy(out, from, 2);
            out += 2;
            break;
        case CopyOp::Copy4:
            std::memcpy(out, from, 4);
            out += 4;
            break;
        case CopyOp::Copy8:
            std::memcpy(out, from, 8);
            out += 8;
            break;
        case CopyOp::ShortTo8:
            Store(out, std::int64_t(Load<std::int16_t>(from)));
            out += 8;
            break;
        case CopyOp::LongTo8:
            Store(out, std::int64_t(Load<std::int32_t>(from)));
            out += 8;
            break;
        case CopyOp::FloatTo8:
            Store(out, double(Load<float>(from)));
            out += 8;
            break;
        case CopyOp::DoubleTo4:
            Store(out, static_cast<float>(Load<double>(from)));
            out += 4;
            break;
        case CopyOp::Boolean:
            *out++ = *from != 0;
            break;
        case CopyOp::Date:
            Store(out, TRowStore::PackDate(fbdrv::DecodeDate(Load<std::int32_t>(from))));
            out += 4;
            break;
        case CopyOp::TimeStamp:
            Store(out, TRowStore::PackDate(fbdrv::DecodeDate(Load<std::int32_t>(from))));
            out += 4;
            std::memcpy(out, from + 4, 4);
            out += 4;
            break;
        case CopyOp::Varying: {
            std::size_t length = std::min<std::size_t>(Load<std::uint16_t>(from), step.length);
            out += TRowStore::PutLength(out, length);
            std::memcpy(out, from + 2, length);
            out += length;
            break;
        }
        }
        ++f;
    }
    row.FinishRow(static_cast<std::size_t>(out - start));
}

void TSQLDataSet::WriteCurrentRow(TRowStore::Builder& row) {
    if (!copyPlan_.empty() && rows_->Reader().RowBuffer())
        return CopyCurrentRow(row);
    TDrvReader& reader = rows_->Reader();
    for (std::size_t f = 0; f < fieldDefs_.size(); ++f) {
        int column = columnOfField_[f];
        if (reader.IsNull(column)) {
            row.Null();
            continue;
        }
        switch (fieldDefs_[f].DataType) {
        case TFieldType::ftSmallint:
        case TFieldType::ftInteger:
        case TFieldType::ftLargeint:
            row.Integer(reader.GetInt64(column));
            break;
        case TFieldType::ftFloat:
        case TFieldType::ftSingle:
            row.Float(reader.GetDouble(column));
            break;
        case TFieldType::ftFMTBcd:
            row.Bcd(reader.GetBcd(column));
            break;
        case TFieldType::ftBoolean:
            row.Boolean(reader.GetBoolean(column));
            break;
        case TFieldType::ftDate:
            row.Date(reader.GetDate(column));
            break;
        case TFieldType::ftTime:
            row.Time(reader.GetTime(column));
            break;
        case TFieldType::ftTimeStamp:
            row.TimeStamp(reader.GetTimeStamp(column));
            break;
        case TFieldType::ftBlob:
            if (MaxBlobSize == 0) {
                row.Text({});
            } else {
                reader.AppendBlob(column, row.BeginText());
                row.EndText();
            }
            break;
        case TFieldType::ftMemo:
        case TFieldType::ftWideMemo:
            if (MaxBlobSize == 0)
                row.Text({});
            else
                WriteText(row, column);
            break;
        default:
            if (IsTextType(fieldDefs_[f].DataType))
                WriteText(row, column);
            else
                row.Text(reader.GetBytes(column));
            break;
        }
    }
    row.Finish();
}

void TSQLDataSet::WriteText(TRowStore::Builder& row, int column) {
    if (rows_->Reader().GetText(column, text_, &wire_))
        row.Text(text_);
    else
        row.UnreadText(text_, wire_);
}

TDataSet::TRecordPos TSQLDataSet::InternalPost(TRecordPos, bool, bool) {
    DatabaseError("書き込み禁止のデータは変更できません");
}

bool TSQLDataSet::InternalDelete(TRecordPos, TRecordPos&) {
    DatabaseError("書き込み禁止のデータは変更できません");
}

} // namespace sorvanto
