// Prepared statements: run with parameters, or opened on the rows they return.
#include "DriverState.h"

#include "Errors.h"
#include "Unaligned.h"

#include <string>

namespace sorvanto {

using namespace fbdrv;

std::shared_ptr<StatementState> fbdrv::PrepareState(const std::shared_ptr<AttachmentState>& owner,
                                                    Firebird::ITransaction* tra,
                                                    std::string_view sql) {
    AttachmentState& a = *owner;
    auto s = std::make_shared<StatementState>();
    s->owner = owner;
    s->text = std::string(sql);
    NamingStatement(s->text, [&] {
        CallClient(a.util(), [&] {
            ThrowStatusWrapper* st = a.status->get();
            s->statement.Reset(a.attachment->prepare(
                st, tra, static_cast<unsigned>(s->text.size()), s->text.c_str(),
                static_cast<unsigned>(a.dialect), Firebird::IStatement::PREPARE_PREFETCH_METADATA));
            s->declaredInput.Reset(s->statement->getInputMetadata(st));
            s->declared = DescribeMessage(s->declaredInput.get(), st);
            s->returnsRows =
                (s->statement->getFlags(st) & Firebird::IStatement::FLAG_HAS_CURSOR) != 0;
        });
    });
    a.Register(s.get());
    return s;
}

namespace {
// The computed columns of a table and the character sets of its text columns, read once per
// attachment from the system tables.
const AttachmentState::ColumnFacts& FactsOfColumns(const std::shared_ptr<AttachmentState>& owner,
                                                   Firebird::ITransaction* tra,
                                                   const std::string& relation) {
    if (auto it = owner->columnFacts.find(relation); it != owner->columnFacts.end())
        return it->second;
    auto s = PrepareState(owner, tra,
                          "select trim(rf.RDB$FIELD_NAME), f.RDB$COMPUTED_BLR is not null,"
                          " coalesce(f.RDB$CHARACTER_SET_ID, -1)"
                          " from RDB$RELATION_FIELDS rf"
                          " join RDB$FIELDS f on f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE"
                          " where rf.RDB$RELATION_NAME = ?");
    AttachmentState::ColumnFacts facts;
    CallClient(owner->util(), [&] {
        ThrowStatusWrapper* st = owner->status->get();
        Firebird::IMessageMetadata* input = BindParameters(*s, tra, {relation});
        Handle<Firebird::IMessageMetadata> output(s->statement->getOutputMetadata(st));
        std::vector<MessageField> fields = DescribeMessage(output.get(), st);
        std::vector<unsigned char> buffer(output->getMessageLength(st));
        Handle<Firebird::IResultSet> cursor(
            s->statement->openCursor(st, tra, input, s->inputBuffer.data(), output.get(), 0));
        while (cursor->fetchNext(st, buffer.data()) == Firebird::IStatus::RESULT_OK) {
            const unsigned char* at = buffer.data() + fields[0].offset;
            std::string name(reinterpret_cast<const char*>(at + sizeof(ISC_USHORT)),
                             Load<ISC_USHORT>(at));
            if (Load<FB_BOOLEAN>(buffer.data() + fields[1].offset) != FB_FALSE)
                facts.computed.insert(name);
            const unsigned char* set = buffer.data() + fields[2].offset;
            facts.charSets[name] =
                fields[2].type == SQL_SHORT ? Load<ISC_SHORT>(set) : Load<ISC_LONG>(set);
        }
        cursor->close(st);
        cursor.Take();
    });
    return owner->columnFacts.emplace(relation, std::move(facts)).first->second;
}
} // namespace

TDrvStatement::TDrvStatement(std::unique_ptr<Impl> impl) : state_(std::move(impl->state)) {}
TDrvStatement::~TDrvStatement() = default;

const std::string& TDrvStatement::Text() const noexcept {
    return state_->text;
}
int TDrvStatement::ParameterCount() const {
    return static_cast<int>(state_->declared.size());
}
bool TDrvStatement::ReturnsRows() const {
    return state_->returnsRows;
}

namespace {
// Runs the statement with the message `bind` gives (its layout, and the buffer through
// `message`); returns the affected rows.
template <typename Bind>
std::uint64_t RunStatement(StatementState& s, TDrvTransaction& transaction, Bind&& bind) {
    Firebird::IStatement* statement = s.Live();
    Firebird::ITransaction* tra = TransactionOf(transaction)->Live();
    return NamingStatement(s.text, [&] {
        return CallClient(s.owner->util(), [&] {
            ThrowStatusWrapper* st = s.owner->status->get();
            unsigned char* message = nullptr;
            Firebird::IMessageMetadata* input = bind(tra, st, message);
            statement->execute(st, tra, input, message, nullptr, nullptr);
            return static_cast<std::uint64_t>(statement->getAffectedRecords(st));
        });
    });
}

Firebird::IMessageMetadata* BindValues(StatementState& s, Firebird::ITransaction* tra,
                                       const std::vector<TValue>& params, unsigned char*& message) {
    Firebird::IMessageMetadata* input = BindParameters(s, tra, params);
    message = input ? s.inputBuffer.data() : nullptr;
    return input;
}
} // namespace

std::uint64_t TDrvStatement::Execute(TDrvTransaction& transaction,
                                     const std::vector<TValue>& params) {
    StatementState& s = *state_;
    return RunStatement(
        s, transaction,
        [&](Firebird::ITransaction* tra, ThrowStatusWrapper*, unsigned char*& message) {
            return BindValues(s, tra, params, message);
        });
}

std::uint64_t TDrvStatement::Execute(TDrvTransaction& transaction, TDrvParamSource& params) {
    StatementState& s = *state_;
    return RunStatement(
        s, transaction,
        [&](Firebird::ITransaction* tra, ThrowStatusWrapper* st, unsigned char*& message) {
            if (!s.declared.empty() && params.Count() == s.declared.size()) {
                if (s.declaredBuffer.empty())
                    s.declaredBuffer.assign(s.declaredInput->getMessageLength(st), 0);
                TDrvParamWriter writer(s, s.declaredBuffer.data());
                if (params.Write(writer) && writer.put_ == s.declared.size()) {
                    message = s.declaredBuffer.data();
                    return s.declaredInput.get();
                }
            }
            return BindValues(s, tra, params.Values(), message);
        });
}

namespace {
TDrvColumnDesc DescribeColumn(const AttachmentState& owner, Firebird::IMessageMetadata* meta,
                              ThrowStatusWrapper* st, unsigned i, const MessageField& f) {
    TDrvColumnDesc d;
    d.name = meta->getAlias(st, i);
    d.relation = meta->getRelation(st, i);
    d.field = meta->getField(st, i);
    d.nullable = meta->isNullable(st, i);
    d.readOnly = d.relation.empty();
    d.size = static_cast<int>(f.length);
    auto integer = [&](TDrvDataType type, int digits) {
        if (f.scale < 0) {
            d.type = TDrvDataType::Bcd;
            d.precision = digits;
            d.scale = -f.scale;
        } else {
            d.type = type;
            d.precision = digits;
        }
    };
    switch (f.type) {
    case SQL_TEXT:
    case SQL_VARYING:
        if ((f.charSet & 0xFF) == static_cast<unsigned>(kCharSetOctets)) {
            d.type = f.type == SQL_TEXT ? TDrvDataType::Bytes : TDrvDataType::VarBytes;
            d.precision = d.size;
        } else {
            d.type = owner.wideText ? TDrvDataType::WideString : TDrvDataType::AnsiString;
            d.precision = d.size / BytesPerCharacter(f.charSet);
            d.charSet = d.columnCharSet = WireCharSet(owner, f.charSet).id;
            if (f.type == SQL_TEXT) {
                d.subType = TDrvSubType::FixedChar;
                d.padTo = owner.trimChar ? 0 : d.precision;
            }
        }
        break;
    case SQL_SHORT:
        integer(TDrvDataType::Int16, 4);
        break;
    case SQL_LONG:
        integer(TDrvDataType::Int32, 9);
        break;
    case SQL_INT64:
        integer(TDrvDataType::Int64, 18);
        break;
    case SQL_FLOAT:
        d.type = TDrvDataType::Single;
        d.precision = 7;
        break;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        d.type = TDrvDataType::Double;
        d.precision = 15;
        break;
    case SQL_BOOLEAN:
        d.type = TDrvDataType::Boolean;
        break;
    case SQL_TYPE_DATE:
        d.type = TDrvDataType::Date;
        break;
    case SQL_TYPE_TIME:
        d.type = TDrvDataType::Time;
        break;
    case SQL_TIMESTAMP:
        d.type = TDrvDataType::TimeStamp;
        break;
    case SQL_BLOB:
        d.type = TDrvDataType::Blob;
        if (f.subType == 1) {
            d.subType = owner.wideText ? TDrvSubType::WideMemo : TDrvSubType::Memo;
            d.charSet = d.columnCharSet = WireCharSet(owner, f.charSet).id;
        } else
            d.subType = TDrvSubType::Binary;
        d.precision = 1;
        break;
    default:
        d.type = TDrvDataType::Unknown;
        break;
    }
    return d;
}
} // namespace

std::unique_ptr<TDrvReader> TDrvStatement::Open(TDrvTransaction& transaction,
                                                const std::vector<TValue>& params) {
    StatementState& s = *state_;
    Firebird::IStatement* statement = s.Live();
    auto traState = TransactionOf(transaction);
    Firebird::ITransaction* tra = traState->Live();
    auto reader = std::make_shared<ReaderState>();
    reader->statement = state_;
    reader->transaction = traState;
    NamingStatement(s.text, [&] {
        CallClient(s.owner->util(), [&] {
            ThrowStatusWrapper* st = s.owner->status->get();
            reader->output.Reset(statement->getOutputMetadata(st));
            reader->fields = DescribeMessage(reader->output.get(), st);
            reader->columns.reserve(reader->fields.size());
            for (unsigned i = 0; i < reader->fields.size(); ++i)
                reader->columns.push_back(
                    DescribeColumn(*s.owner, reader->output.get(), st, i, reader->fields[i]));
            reader->buffer.assign(reader->output->getMessageLength(st), 0);
            Firebird::IMessageMetadata* input = BindParameters(s, tra, params);
            reader->cursor.Reset(statement->openCursor(
                st, tra, input, input ? s.inputBuffer.data() : nullptr, reader->output.get(), 0));
        });
    });
    s.owner->Register(reader.get());
    for (TDrvColumnDesc& column : reader->columns) {
        if (column.relation.empty() || column.relation.rfind("RDB$", 0) == 0)
            continue;
        const AttachmentState::ColumnFacts& facts = FactsOfColumns(s.owner, tra, column.relation);
        if (facts.computed.count(column.field))
            column.readOnly = true;
        // The set the column holds its text in, when the attachment's set stands in for it.
        if (auto set = facts.charSets.find(column.field);
            column.charSet >= 0 && set != facts.charSets.end() && CharSetById(set->second) &&
            set->second != kCharSetNone)
            column.columnCharSet = set->second;
    }
    auto impl = std::make_unique<TDrvReader::Impl>();
    impl->state = std::move(reader);
    return std::unique_ptr<TDrvReader>(new TDrvReader(std::move(impl)));
}

} // namespace sorvanto
