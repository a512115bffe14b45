#include "FirebirdDriver.h"

#include "CharacterSets.h"
#include "DrivePaths.h"
#include "Errors.h"
#include "FirebirdClient.h"
#include "FirebirdDates.h"
#include "FirebirdHandle.h"
#include "Unaligned.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <set>

namespace sorvanto {

using Firebird::FbException;
using Firebird::ThrowStatusWrapper;

namespace fbdrv {

// The one place where an error of the client library becomes a TDriverError.
[[noreturn]] void RaiseDriverError(Firebird::IUtil* util, const FbException& error) {
    Firebird::IStatus* status = error.getStatus();
    const intptr_t* errors = status->getErrors();
    int code = DriverCode::VendorError;
    if (errors && errors[0] == isc_arg_gds && errors[1] != 0)
        code = static_cast<int>(errors[1]);
    std::string message = StatusText(util, status);
    if (message.empty())
        message = "ドライバ エラー : " + ErrorCodeToString(code);
    TDriverError driverError(code, std::move(message));
    if (code != DriverCode::VendorError)
        driverError.SetEngineCodes(SqlCodeOf(errors), code);
    throw driverError;
}

// Runs a call of a statement; an error it raises carries the statement's text.
template <typename F> auto NamingStatement(const std::string& text, F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (TDriverError& error) {
        if (error.Statement().empty())
            error.SetStatement(text);
        throw;
    }
}

} // namespace fbdrv

bool IsConnectionLostError(int errorCode) noexcept {
    switch (errorCode) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_conn_lost:
    case isc_lost_db_connection:
    case isc_shutdown:
    case isc_att_shutdown:
        return true;
    default:
        return false;
    }
}

bool IsDatabaseFileError(int errorCode) noexcept {
    switch (errorCode) {
    case isc_io_error:
    case isc_io_create_err:
    case isc_io_open_err:
    case isc_io_close_err:
    case isc_io_read_err:
    case isc_io_write_err:
    case isc_io_delete_err:
    case isc_io_access_err:
    case isc_io_32bit_exceeded_err:
    case isc_db_corrupt:
    case isc_badpage:
    case isc_bad_checksum:
    case isc_page_type_err:
    case isc_bug_check:
        return true;
    default:
        return false;
    }
}

namespace fbdrv {

[[noreturn]] void RaiseClosed() {
    RaiseDriverCode(DriverCode::Closed);
}

// Calls the client library; an error it raises comes out as a TDriverError.
template <typename F> auto CallClient(Firebird::IUtil* util, F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const FbException& error) {
        RaiseDriverError(util, error);
    }
}

// Something that lives on an attachment and must be released before it detaches.
struct Child {
    virtual ~Child() = default;
    virtual void ReleaseForClose() noexcept = 0;
    int order = 0; // readers 0, statements 1, transactions 2
};

struct AttachmentState {
    Client* client = nullptr;
    Handle<Firebird::IAttachment> attachment;
    std::unique_ptr<Status> status;
    int dialect = 3;
    bool wideText = false;
    // The attachment's character set (ServerCharSet); null for none or NONE.
    const TCharSet* charSet = nullptr;
    std::int64_t id = 0; // its number in the database, once asked
    bool trimChar = false;
    bool waitOnLocks = true;
    bool commitRetain = false;
    TDrvIsolation defaultIsolation = TDrvIsolation::ReadCommitted;
    std::list<Child*> children;
    // What the system tables say of a table's columns, read once per attachment and table.
    struct ColumnFacts {
        std::set<std::string> computed;
        std::map<std::string, int> charSets; // of the text columns, by column
    };
    std::map<std::string, ColumnFacts> columnFacts; // by table

    Firebird::IUtil* util() const { return client->util; }

    void Register(Child* child) { children.push_back(child); }
    void Unregister(Child* child) { children.remove(child); }

    void Close() noexcept {
        for (int order = 0; order <= 2; ++order) {
            auto pending = children;
            for (Child* child : pending)
                if (child->order == order)
                    child->ReleaseForClose();
        }
        children.clear();
        attachment.Finish([&](Firebird::IAttachment* a) { a->detach(status->get()); });
    }
};

struct TransactionState : Child {
    std::shared_ptr<AttachmentState> owner;
    Handle<Firebird::ITransaction> transaction;
    bool retained = false;

    TransactionState() { order = 2; }
    ~TransactionState() override {
        ReleaseForClose();
        if (owner)
            owner->Unregister(this);
    }
    void ReleaseForClose() noexcept override {
        transaction.Finish([&](Firebird::ITransaction* t) { t->rollback(owner->status->get()); });
    }
    Firebird::ITransaction* Live() const {
        if (!transaction || !owner->attachment)
            RaiseClosed();
        return transaction.get();
    }
};

// One column of a message: where its value and null flag sit in the buffer.
struct MessageField {
    unsigned type = 0;
    int subType = 0;
    unsigned length = 0;
    int scale = 0;
    unsigned charSet = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
    bool nullable = true;
};

std::vector<MessageField> DescribeMessage(Firebird::IMessageMetadata* meta,
                                          ThrowStatusWrapper* st) {
    std::vector<MessageField> fields(meta->getCount(st));
    for (unsigned i = 0; i < fields.size(); ++i) {
        MessageField& f = fields[i];
        f.type = meta->getType(st, i) & ~1u;
        f.subType = meta->getSubType(st, i);
        f.length = meta->getLength(st, i);
        f.scale = meta->getScale(st, i);
        f.charSet = meta->getCharSet(st, i);
        f.offset = meta->getOffset(st, i);
        f.nullOffset = meta->getNullOffset(st, i);
        f.nullable = meta->isNullable(st, i);
    }
    return fields;
}

struct StatementState : Child {
    std::shared_ptr<AttachmentState> owner;
    Handle<Firebird::IStatement> statement;
    std::string text;
    Handle<Firebird::IMessageMetadata> declaredInput;
    std::vector<MessageField> declared;
    // The input message built for the last parameter kinds; rebuilt only when they change.
    Handle<Firebird::IMessageMetadata> input;
    std::vector<MessageField> inputFields;
    std::vector<unsigned char> inputBuffer;
    std::vector<MessageField> wanted; // the message types of the values being bound
    // The text values being bound, in their parameters' character sets.
    std::vector<std::string> encoded;
    // The message in the statement's own layout, for values written straight into it.
    std::vector<unsigned char> declaredBuffer;
    bool returnsRows = false;

    StatementState() { order = 1; }
    ~StatementState() override {
        ReleaseForClose();
        if (owner)
            owner->Unregister(this);
    }
    void ReleaseForClose() noexcept override {
        input.Reset();
        declaredInput.Reset();
        statement.Finish([&](Firebird::IStatement* st) { st->free(owner->status->get()); });
    }
    Firebird::IStatement* Live() const {
        if (!statement || !owner->attachment)
            RaiseClosed();
        return statement.get();
    }
};

// The character set text of a message field travels in: the field's own, which is the
// attachment's or the column's; a field of NONE carries bytes that are taken in the
// attachment's set, or as UTF-8 without one. A set the table does not know is taken as UTF-8.
const TCharSet& WireCharSet(const AttachmentState& a, unsigned charSet) {
    const int id = static_cast<int>(charSet & 0xFF); // the high byte names the collation
    if (id == kCharSetNone && a.charSet)
        return *a.charSet;
    const TCharSet* set = CharSetById(id);
    return set && id != kCharSetNone ? *set : *CharSetById(kCharSetUtf8);
}

namespace {
constexpr unsigned kMaxVarying = 32765;

int BytesPerCharacter(unsigned charSet) {
    const TCharSet* set = CharSetById(static_cast<int>(charSet & 0xFF));
    return set ? set->bytesPerCharacter : 1;
}

bool IsText(unsigned type) {
    return type == SQL_TEXT || type == SQL_VARYING;
}

// The message type that carries a value to the database; a text value takes `textBytes` bytes
// in the parameter's character set.
MessageField ParameterField(const TValue& value, const MessageField& declared,
                            std::size_t textBytes) {
    MessageField field = declared;
    field.scale = 0;
    auto text = [&](size_t bytes, unsigned charSet) {
        if (declared.type == SQL_BLOB) {
            field.type = SQL_BLOB;
            field.length = sizeof(ISC_QUAD);
            return;
        }
        field.type = SQL_VARYING;
        size_t room = IsText(declared.type) ? std::max<size_t>(declared.length, bytes) : bytes;
        field.length = static_cast<unsigned>(std::clamp<size_t>(room, 1, kMaxVarying));
        field.charSet =
            IsText(declared.type) || declared.type == SQL_BLOB ? declared.charSet : charSet;
        field.subType = 0;
    };
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                field = declared;
            } else if constexpr (std::is_same_v<T, bool>) {
                field.type = SQL_BOOLEAN, field.length = 1;
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                // An integer goes in the column's own width when it fits there, so the
                // database has nothing to convert; else as 64 bits, and the database says
                // whether the column takes it.
                if (declared.scale == 0 && declared.type == SQL_LONG && v >= INT32_MIN &&
                    v <= INT32_MAX)
                    field.type = SQL_LONG, field.length = 4;
                else if (declared.scale == 0 && declared.type == SQL_SHORT && v >= INT16_MIN &&
                         v <= INT16_MAX)
                    field.type = SQL_SHORT, field.length = 2;
                else
                    field.type = SQL_INT64, field.length = 8;
            } else if constexpr (std::is_same_v<T, double>) {
                field.type = SQL_DOUBLE, field.length = 8;
            } else if constexpr (std::is_same_v<T, TBcd>) {
                field.type = SQL_INT64, field.length = 8, field.scale = -v.scale;
            } else if constexpr (std::is_same_v<T, std::string>) {
                text(textBytes, kCharSetNone);
            } else if constexpr (std::is_same_v<T, TBytes>) {
                text(v.data.size(), kCharSetOctets);
                if (field.type == SQL_VARYING)
                    field.charSet = static_cast<unsigned>(kCharSetOctets);
            } else if constexpr (std::is_same_v<T, TSQLDate>) {
                field.type = SQL_TYPE_DATE, field.length = sizeof(ISC_DATE);
            } else if constexpr (std::is_same_v<T, TSQLTime>) {
                field.type = SQL_TYPE_TIME, field.length = sizeof(ISC_TIME);
            } else if constexpr (std::is_same_v<T, TSQLTimeStamp>) {
                field.type = SQL_TIMESTAMP, field.length = sizeof(ISC_TIMESTAMP);
            }
        },
        value);
    return field;
}

bool SameShape(const MessageField& a, const MessageField& b) {
    return a.type == b.type && a.length == b.length && a.scale == b.scale &&
           a.charSet == b.charSet && a.subType == b.subType;
}

ISC_DATE EncodeDate(Firebird::IUtil* util, const TSQLDate& d) {
    if (InlineEncodable(d))
        return fbdrv::EncodeDate(d);
    return util->encodeDate(unsigned(d.year), unsigned(d.month), unsigned(d.day));
}
ISC_TIME EncodeTime(Firebird::IUtil* util, const TSQLTime& t) {
    if (InlineEncodable(t))
        return fbdrv::EncodeTime(t);
    return util->encodeTime(unsigned(t.hour), unsigned(t.minute), unsigned(t.second),
                            unsigned(t.fractions));
}

ISC_QUAD WriteBlob(StatementState& s, Firebird::ITransaction* tra, std::string_view bytes) {
    ThrowStatusWrapper* st = s.owner->status->get();
    ISC_QUAD id{};
    Handle<Firebird::IBlob> blob(s.owner->attachment->createBlob(st, tra, &id, 0, nullptr));
    try {
        constexpr size_t kSegment = 32768;
        for (size_t pos = 0; pos < bytes.size(); pos += kSegment) {
            size_t n = std::min(kSegment, bytes.size() - pos);
            blob->putSegment(st, static_cast<unsigned>(n), bytes.data() + pos);
        }
        blob->close(st);
        blob.Take();
    } catch (...) {
        blob.Finish([&](Firebird::IBlob* b) { b->cancel(st); });
        throw;
    }
    return id;
}

// Whether text bound to a parameter so declared is text in a character set (not a number the
// database reads from text, not bytes).
bool TakesText(const MessageField& declared) {
    return (IsText(declared.type) || (declared.type == SQL_BLOB && declared.subType == 1)) &&
           (declared.charSet & 0xFF) != static_cast<unsigned>(kCharSetOctets);
}

// UTF-8 text in the character set of the parameter it is bound to. A character the set does
// not hold fails the statement, naming the character and the set: it is never replaced.
void EncodeParameter(const AttachmentState& a, const MessageField& declared, std::string_view text,
                     std::string& out) {
    if (!TakesText(declared)) {
        out.assign(text);
        return;
    }
    const TCharSet& set = WireCharSet(a, declared.charSet);
    char32_t refused = 0;
    if (!EncodeText(set, text, out, refused))
        RaiseDriverCode(DriverCode::InvalidParameter, RefusedCharacterText(refused, set));
}

// Fills the input message of a statement from the parameter values.
Firebird::IMessageMetadata* BindParameters(StatementState& s, Firebird::ITransaction* tra,
                                           const std::vector<TValue>& params) {
    ThrowStatusWrapper* st = s.owner->status->get();
    Firebird::IUtil* util = s.owner->util();
    if (params.size() != s.declared.size())
        RaiseDriverCode(DriverCode::InvalidParameter,
                        std::to_string(params.size()) + " / " + std::to_string(s.declared.size()));
    if (params.empty())
        return nullptr;

    std::vector<MessageField>& wanted = s.wanted;
    wanted.resize(params.size());
    s.encoded.resize(params.size());
    bool reuse = static_cast<bool>(s.input);
    for (size_t i = 0; i < params.size(); ++i) {
        if (const auto* text = std::get_if<std::string>(&params[i]))
            EncodeParameter(*s.owner, s.declared[i], *text, s.encoded[i]);
        wanted[i] = ParameterField(params[i], s.declared[i], s.encoded[i].size());
        if (reuse && !SameShape(wanted[i], s.inputFields[i]))
            reuse = false;
    }
    if (!reuse) {
        Handle<Firebird::IMetadataBuilder> builder(s.declaredInput->getBuilder(st));
        for (unsigned i = 0; i < wanted.size(); ++i) {
            builder->setType(st, i, wanted[i].type | 1u);
            builder->setSubType(st, i, wanted[i].subType);
            builder->setLength(st, i, wanted[i].length);
            builder->setScale(st, i, wanted[i].scale);
            builder->setCharSet(st, i, wanted[i].charSet);
        }
        Firebird::IMessageMetadata* meta = builder->getMetadata(st);
        builder.Reset();
        s.input.Reset(meta);
        s.inputFields = DescribeMessage(meta, st);
        s.inputBuffer.assign(meta->getMessageLength(st), 0);
    }

    unsigned char* buffer = s.inputBuffer.data();
    for (size_t i = 0; i < params.size(); ++i) {
        const MessageField& f = s.inputFields[i];
        const TValue& value = params[i];
        Store<ISC_SHORT>(buffer + f.nullOffset, IsNull(value) ? ISC_SHORT(-1) : ISC_SHORT(0));
        unsigned char* at = buffer + f.offset;
        auto putText = [&](std::string_view bytes) {
            if (f.type == SQL_BLOB) {
                Store(at, WriteBlob(s, tra, bytes));
                return;
            }
            if (bytes.size() > f.length)
                RaiseDriverCode(DriverCode::InvalidLength);
            Store<ISC_USHORT>(at, static_cast<ISC_USHORT>(bytes.size()));
            std::memcpy(at + sizeof(ISC_USHORT), bytes.data(), bytes.size());
        };
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, bool>)
                    Store<FB_BOOLEAN>(at, v ? FB_TRUE : FB_FALSE);
                else if constexpr (std::is_same_v<T, std::int64_t>) {
                    if (f.type == SQL_LONG)
                        Store<ISC_LONG>(at, static_cast<ISC_LONG>(v));
                    else if (f.type == SQL_SHORT)
                        Store<ISC_SHORT>(at, static_cast<ISC_SHORT>(v));
                    else
                        Store<ISC_INT64>(at, v);
                } else if constexpr (std::is_same_v<T, double>)
                    Store<double>(at, v);
                else if constexpr (std::is_same_v<T, TBcd>)
                    Store<ISC_INT64>(at, v.value);
                else if constexpr (std::is_same_v<T, std::string>)
                    putText(s.encoded[i]);
                else if constexpr (std::is_same_v<T, TBytes>)
                    putText(v.data);
                else if constexpr (std::is_same_v<T, TSQLDate>)
                    Store(at, EncodeDate(util, v));
                else if constexpr (std::is_same_v<T, TSQLTime>)
                    Store(at, EncodeTime(util, v));
                else if constexpr (std::is_same_v<T, TSQLTimeStamp>)
                    Store(at, ISC_TIMESTAMP{EncodeDate(util, v.date), EncodeTime(util, v.time)});
            },
            value);
    }
    return s.input.get();
}
} // namespace

struct ReaderState : Child {
    std::shared_ptr<StatementState> statement;
    std::shared_ptr<TransactionState> transaction;
    Handle<Firebird::IResultSet> cursor;
    Handle<Firebird::IMessageMetadata> output;
    std::vector<MessageField> fields;
    std::vector<TDrvColumnDesc> columns;
    std::vector<unsigned char> buffer;
    bool onRow = false;

    ReaderState() { order = 0; }
    ~ReaderState() override {
        ReleaseForClose();
        if (statement && statement->owner)
            statement->owner->Unregister(this);
    }
    void ReleaseForClose() noexcept override {
        output.Reset();
        if (!cursor)
            return;
        cursor.Finish([&](Firebird::IResultSet* c) { c->close(statement->owner->status->get()); });
        onRow = false;
    }
    AttachmentState& owner() const { return *statement->owner; }
};

} // namespace fbdrv

using namespace fbdrv;

namespace {
std::shared_ptr<StatementState> PrepareState(const std::shared_ptr<AttachmentState>& owner,
                                             Firebird::ITransaction* tra, std::string_view sql) {
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

// ---------------------------------------------------------------------------------------------
// Transactions

struct TDrvTransaction::Impl {
    std::shared_ptr<TransactionState> state;
};

TDrvTransaction::TDrvTransaction(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TDrvTransaction::~TDrvTransaction() = default;

bool TDrvTransaction::Active() const noexcept {
    return impl_->state->transaction && impl_->state->owner->attachment;
}

void TDrvTransaction::Commit() {
    TransactionState& s = *impl_->state;
    Firebird::ITransaction* tra = s.Live();
    CallClient(s.owner->util(), [&] {
        if (s.owner->commitRetain) {
            tra->commitRetaining(s.owner->status->get());
            s.retained = true;
        } else {
            tra->commit(s.owner->status->get());
            s.transaction.Take();
        }
    });
}

namespace {
// The number an info call answers for its one item: the item, a 2-byte length, the value.
std::int64_t InfoNumber(const unsigned char* answer, unsigned char item) {
    if (answer[0] != item)
        return 0;
    const int length = answer[1] | (answer[2] << 8);
    std::int64_t value = 0;
    for (int i = length - 1; i >= 0 && i < 8; --i)
        value = (value << 8) | answer[3 + i];
    return value;
}
} // namespace

std::int64_t TDrvTransaction::Id() {
    TransactionState& s = *impl_->state;
    Firebird::ITransaction* tra = s.Live();
    return CallClient(s.owner->util(), [&] {
        const unsigned char items[] = {isc_info_tra_id};
        unsigned char answer[32] = {};
        tra->getInfo(s.owner->status->get(), sizeof items, items, sizeof answer, answer);
        return InfoNumber(answer, isc_info_tra_id);
    });
}

void TDrvTransaction::Rollback() {
    TransactionState& s = *impl_->state;
    Firebird::ITransaction* tra = s.Live();
    CallClient(s.owner->util(), [&] {
        tra->rollback(s.owner->status->get());
        s.transaction.Take();
    });
}

// ---------------------------------------------------------------------------------------------
// Rows

struct TDrvReader::Impl {
    std::shared_ptr<ReaderState> state;
};

TDrvReader::TDrvReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TDrvReader::~TDrvReader() = default;

int TDrvReader::ColumnCount() const noexcept {
    return static_cast<int>(impl_->state->columns.size());
}
const TDrvColumnDesc& TDrvReader::Column(int index) const {
    return impl_->state->columns.at(static_cast<size_t>(index));
}
const std::vector<TDrvColumnDesc>& TDrvReader::Columns() const noexcept {
    return impl_->state->columns;
}

bool TDrvReader::Next() {
    ReaderState& s = *impl_->state;
    if (!s.cursor || !s.owner().attachment)
        return false;
    return CallClient(s.owner().util(), [&] {
        int rc = s.cursor->fetchNext(s.owner().status->get(), s.buffer.data());
        s.onRow = rc == Firebird::IStatus::RESULT_OK;
        if (!s.onRow) {
            s.cursor->close(s.owner().status->get());
            s.cursor.Take();
        }
        return s.onRow;
    });
}

namespace {
const MessageField& FieldOf(const ReaderState& s, int column) {
    if (!s.onRow)
        RaiseDriverCode(DriverCode::EndOfData);
    if (column < 0 || column >= static_cast<int>(s.fields.size()))
        RaiseDriverCode(DriverCode::InvalidOrdinal);
    return s.fields[static_cast<size_t>(column)];
}

} // namespace

TDrvReader::RawColumn TDrvReader::Raw(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = s.fields.at(static_cast<size_t>(column));
    RawColumn raw;
    raw.scale = f.scale < 0 ? -f.scale : 0;
    raw.offset = f.offset;
    raw.nullOffset = f.nullOffset;
    raw.length = f.length;
    switch (f.type) {
    case SQL_SHORT:
        raw.kind = RawColumn::Kind::Short;
        break;
    case SQL_LONG:
        raw.kind = RawColumn::Kind::Long;
        break;
    case SQL_INT64:
        raw.kind = RawColumn::Kind::Int64;
        break;
    case SQL_FLOAT:
        raw.kind = RawColumn::Kind::Float;
        break;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        raw.kind = RawColumn::Kind::Double;
        break;
    case SQL_BOOLEAN:
        raw.kind = RawColumn::Kind::Boolean;
        break;
    case SQL_TYPE_DATE:
        raw.kind = RawColumn::Kind::Date;
        break;
    case SQL_TYPE_TIME:
        raw.kind = RawColumn::Kind::Time;
        break;
    case SQL_TIMESTAMP:
        raw.kind = RawColumn::Kind::TimeStamp;
        break;
    case SQL_VARYING: {
        raw.kind = RawColumn::Kind::Varying;
        const int set = static_cast<int>(f.charSet & 0xFF);
        raw.verbatim = set == kCharSetOctets || set == kCharSetUtf8 || set == 3;
        break;
    }
    default:
        break;
    }
    return raw;
}

const unsigned char* TDrvReader::RowBuffer() const noexcept {
    const ReaderState& s = *impl_->state;
    return s.onRow ? s.buffer.data() : nullptr;
}

bool TDrvReader::IsNull(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    return Load<ISC_SHORT>(s.buffer.data() + f.nullOffset) != 0;
}

bool TDrvReader::GetBoolean(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    if (f.type != SQL_BOOLEAN)
        return GetInt64(column) != 0;
    return Load<FB_BOOLEAN>(s.buffer.data() + f.offset) != FB_FALSE;
}

std::int64_t TDrvReader::GetInt64(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    const unsigned char* at = s.buffer.data() + f.offset;
    switch (f.type) {
    case SQL_SHORT:
        return Load<ISC_SHORT>(at);
    case SQL_LONG:
        return Load<ISC_LONG>(at);
    case SQL_INT64:
        return Load<ISC_INT64>(at);
    case SQL_BOOLEAN:
        return Load<FB_BOOLEAN>(at) != FB_FALSE;
    case SQL_FLOAT:
        return static_cast<std::int64_t>(Load<float>(at));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return static_cast<std::int64_t>(Load<double>(at));
    default:
        RaiseDriverCode(DriverCode::InvalidType);
    }
}

double TDrvReader::GetDouble(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    const unsigned char* at = s.buffer.data() + f.offset;
    if (f.type == SQL_FLOAT)
        return Load<float>(at);
    if (f.type == SQL_DOUBLE || f.type == SQL_D_FLOAT)
        return Load<double>(at);
    return static_cast<double>(GetInt64(column)) / static_cast<double>(Power10(-f.scale));
}

TBcd TDrvReader::GetBcd(int column) const {
    const MessageField& f = FieldOf(*impl_->state, column);
    return TBcd{GetInt64(column), f.scale < 0 ? -f.scale : 0};
}

std::string_view TDrvReader::GetBytes(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    const auto* at = reinterpret_cast<const char*>(s.buffer.data() + f.offset);
    if (f.type == SQL_VARYING)
        return {at + sizeof(ISC_USHORT), Load<ISC_USHORT>(s.buffer.data() + f.offset)};
    if (f.type != SQL_TEXT)
        RaiseDriverCode(DriverCode::InvalidType);
    std::string_view text(at, f.length);
    if ((f.charSet & 0xFF) == static_cast<unsigned>(kCharSetOctets))
        return text;
    // CHAR values are blank padded to the byte length of the column.
    size_t end = text.find_last_not_of(' ');
    size_t keep = end == std::string_view::npos ? 0 : end + 1;
    if (s.owner().trimChar)
        return text.substr(0, keep);
    // Padding past the declared characters comes from multi-byte sets: keep one blank per
    // character. Characters are counted in the set the bytes are in; one that is not UTF-8
    // counts one a byte, which leaves a blank too many at most, never one too few.
    const TDrvColumnDesc& desc = s.columns[static_cast<size_t>(column)];
    const bool utf8 = desc.charSet < 0 || IsUtf8CharSet(*CharSetById(desc.charSet));
    size_t characters = 0;
    for (size_t i = 0; i < keep; ++i)
        if (!utf8 || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            ++characters;
    size_t padded = keep + (static_cast<size_t>(desc.precision) > characters
                                ? static_cast<size_t>(desc.precision) - characters
                                : 0);
    return text.substr(0, std::min(padded, text.size()));
}

namespace {
// Text the engine read from the column's own set into another: where the column's bytes are not
// characters, the engine puts U+FFFD (U+0000 for the single-byte sets). A set that has neither
// character itself can only have got them that way.
bool EngineMarked(const TDrvColumnDesc& desc, std::string_view text) {
    if (desc.columnCharSet == desc.charSet ||
        (text.find("\xEF\xBF\xBD") == std::string_view::npos &&
         text.find('\0') == std::string_view::npos))
        return false;
    const TCharSet* own = CharSetById(desc.columnCharSet);
    std::string bytes;
    char32_t refused = 0;
    return own && own->id != kCharSetNone && !IsUtf8CharSet(*own) &&
           !EncodeText(*own, "\xEF\xBF\xBD", bytes, refused);
}
// Whether the engine marked bytes of the text as no characters; if so, each mark is shown as
// U+FFFD.
bool Marked(const TDrvColumnDesc& desc, std::string& text) {
    if (!EngineMarked(desc, text))
        return false;
    for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
        text.replace(at, 1, "\xEF\xBF\xBD");
    return true;
}
} // namespace

bool TDrvReader::GetText(int column, std::string& text, std::string* wire) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    const TDrvColumnDesc& desc = s.columns[static_cast<size_t>(column)];
    const TCharSet* set = desc.charSet >= 0 ? CharSetById(desc.charSet) : nullptr;
    std::string blob;
    std::string_view bytes;
    if (f.type == SQL_BLOB) {
        AppendBlob(column, blob);
        bytes = blob;
    } else {
        bytes = GetBytes(column);
    }
    if (!set) {
        text.assign(bytes);
        return true;
    }
    if (f.type != SQL_TEXT) {
        if (DecodeText(*set, bytes, text) && !Marked(desc, text))
            return true;
        if (wire)
            wire->assign(bytes);
        return false;
    }
    // CHAR: the padding is kept as the database gives it, one blank per missing character.
    std::string_view padded(reinterpret_cast<const char*>(s.buffer.data() + f.offset), f.length);
    const bool exact = DecodeText(*set, padded, text) && !Marked(desc, text);
    if (!exact && wire)
        wire->assign(padded);
    std::size_t keep = text.find_last_not_of(' ');
    keep = keep == std::string::npos ? 0 : keep + 1;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < keep; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            ++characters;
    const std::size_t blanks =
        s.owner().trimChar || static_cast<std::size_t>(desc.precision) <= characters
            ? 0
            : static_cast<std::size_t>(desc.precision) - characters;
    text.resize(std::min(text.size(), keep + blanks));
    return exact;
}

TSQLDate TDrvReader::GetDate(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    ISC_DATE date;
    if (f.type == SQL_TYPE_DATE)
        date = Load<ISC_DATE>(s.buffer.data() + f.offset);
    else if (f.type == SQL_TIMESTAMP)
        date = Load<ISC_TIMESTAMP>(s.buffer.data() + f.offset).timestamp_date;
    else
        RaiseDriverCode(DriverCode::InvalidType);
    return DecodeDate(date);
}

TSQLTime TDrvReader::GetTime(int column) const {
    const ReaderState& s = *impl_->state;
    const MessageField& f = FieldOf(s, column);
    ISC_TIME time;
    if (f.type == SQL_TYPE_TIME)
        time = Load<ISC_TIME>(s.buffer.data() + f.offset);
    else if (f.type == SQL_TIMESTAMP)
        time = Load<ISC_TIMESTAMP>(s.buffer.data() + f.offset).timestamp_time;
    else
        RaiseDriverCode(DriverCode::InvalidType);
    return DecodeTime(time);
}

TSQLTimeStamp TDrvReader::GetTimeStamp(int column) const {
    const MessageField& f = FieldOf(*impl_->state, column);
    if (f.type == SQL_TYPE_DATE)
        return TSQLTimeStamp{GetDate(column), {}};
    return TSQLTimeStamp{GetDate(column), GetTime(column)};
}

namespace {
Firebird::IBlob* OpenBlob(const ReaderState& s, int column) {
    const MessageField& f = FieldOf(s, column);
    if (f.type != SQL_BLOB)
        RaiseDriverCode(DriverCode::InvalidType);
    if (!s.transaction->transaction)
        RaiseClosed();
    ISC_QUAD id = Load<ISC_QUAD>(s.buffer.data() + f.offset);
    return s.owner().attachment->openBlob(s.owner().status->get(), s.transaction->transaction.get(),
                                          &id, 0, nullptr);
}

// Closes a blob that was opened for reading, whether the reading succeeded or not.
struct BlobCloser {
    Handle<Firebird::IBlob> blob;
    ThrowStatusWrapper* st;
    ~BlobCloser() {
        blob.Finish([&](Firebird::IBlob* b) { b->close(st); });
    }
};
} // namespace

void TDrvReader::AppendBlob(int column, std::string& out) const {
    const ReaderState& s = *impl_->state;
    if (IsNull(column))
        return;
    CallClient(s.owner().util(), [&] {
        ThrowStatusWrapper* st = s.owner().status->get();
        BlobCloser closer{Handle<Firebird::IBlob>(OpenBlob(s, column)), st};
        char chunk[65535];
        for (;;) {
            unsigned got = 0;
            int rc = closer.blob->getSegment(st, sizeof chunk, chunk, &got);
            if (rc != Firebird::IStatus::RESULT_OK && rc != Firebird::IStatus::RESULT_SEGMENT)
                break;
            out.append(chunk, got);
        }
    });
}

std::string TDrvReader::GetBlob(int column) const {
    std::string out;
    AppendBlob(column, out);
    return out;
}

std::int64_t TDrvReader::GetBlobLength(int column) const {
    const ReaderState& s = *impl_->state;
    if (IsNull(column))
        return 0;
    return CallClient(s.owner().util(), [&] {
        ThrowStatusWrapper* st = s.owner().status->get();
        BlobCloser closer{Handle<Firebird::IBlob>(OpenBlob(s, column)), st};
        const unsigned char items[] = {isc_info_blob_total_length};
        unsigned char answer[32] = {};
        closer.blob->getInfo(st, sizeof items, items, sizeof answer, answer);
        if (answer[0] != isc_info_blob_total_length)
            return std::int64_t(0);
        int size = answer[1] | (answer[2] << 8);
        std::int64_t total = 0;
        for (int i = size - 1; i >= 0; --i)
            total = (total << 8) | answer[3 + i];
        return total;
    });
}

TValue TDrvReader::GetValue(int column) const {
    if (IsNull(column))
        return std::monostate{};
    const TDrvColumnDesc& desc = Column(column);
    switch (desc.type) {
    case TDrvDataType::AnsiString:
    case TDrvDataType::WideString: {
        std::string text;
        GetText(column, text);
        return text;
    }
    case TDrvDataType::Bytes:
    case TDrvDataType::VarBytes:
        return TBytes{std::string(GetBytes(column))};
    case TDrvDataType::Int16:
    case TDrvDataType::Int32:
    case TDrvDataType::Int64:
        return GetInt64(column);
    case TDrvDataType::Single:
    case TDrvDataType::Double:
        return GetDouble(column);
    case TDrvDataType::Bcd:
        return GetBcd(column);
    case TDrvDataType::Boolean:
        return GetBoolean(column);
    case TDrvDataType::Date:
        return GetDate(column);
    case TDrvDataType::Time:
        return GetTime(column);
    case TDrvDataType::TimeStamp:
        return GetTimeStamp(column);
    case TDrvDataType::Blob: {
        if (desc.subType == TDrvSubType::Binary)
            return TBytes{GetBlob(column)};
        std::string text;
        GetText(column, text);
        return text;
    }
    case TDrvDataType::Unknown:
        break;
    }
    return std::monostate{};
}

// ---------------------------------------------------------------------------------------------
// Statements

struct TDrvStatement::Impl {
    std::shared_ptr<StatementState> state;
};

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
const std::shared_ptr<TransactionState>& TransactionOf(TDrvTransaction& transaction) {
    return fbdrv::TransactionStateOf(transaction);
}
} // namespace

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

const MessageField* TDrvParamWriter::Declared(int index) const noexcept {
    if (index < 0 || static_cast<std::size_t>(index) >= state_.declared.size())
        return nullptr;
    return &state_.declared[static_cast<std::size_t>(index)];
}

unsigned char* TDrvParamWriter::Slot(const MessageField* f, unsigned type, bool isNull) {
    if (!f || (isNull ? !f->nullable : f->type != type))
        return nullptr;
    Store<ISC_SHORT>(message_ + f->nullOffset, isNull ? ISC_SHORT(-1) : ISC_SHORT(0));
    ++put_;
    return message_ + f->offset;
}

bool TDrvParamWriter::PutNull(int index) {
    return Slot(Declared(index), 0, true) != nullptr;
}

template <typename T> bool TDrvParamWriter::Put(const MessageField* f, unsigned type, T value) {
    unsigned char* at = Slot(f, type);
    if (!at)
        return false;
    Store<T>(at, value);
    return true;
}

bool TDrvParamWriter::PutInteger(int index, std::int64_t value) {
    const MessageField* f = Declared(index);
    if (!f || f->scale != 0)
        return false;
    // In the parameter's own width, as a TValue would go when it fits there.
    switch (f->type) {
    case SQL_LONG:
        return value >= INT32_MIN && value <= INT32_MAX &&
               Put<ISC_LONG>(f, SQL_LONG, static_cast<ISC_LONG>(value));
    case SQL_SHORT:
        return value >= INT16_MIN && value <= INT16_MAX &&
               Put<ISC_SHORT>(f, SQL_SHORT, static_cast<ISC_SHORT>(value));
    case SQL_INT64:
        return Put<ISC_INT64>(f, SQL_INT64, value);
    default:
        return false;
    }
}

bool TDrvParamWriter::PutDouble(int index, double value) {
    return Put<double>(Declared(index), SQL_DOUBLE, value);
}

bool TDrvParamWriter::PutBcd(int index, std::int64_t value, int scale) {
    const MessageField* f = Declared(index);
    return f && f->scale == -scale && Put<ISC_INT64>(f, SQL_INT64, value);
}

bool TDrvParamWriter::PutBoolean(int index, bool value) {
    return Put<FB_BOOLEAN>(Declared(index), SQL_BOOLEAN, value ? FB_TRUE : FB_FALSE);
}

bool TDrvParamWriter::PutText(int index, std::string_view utf8) {
    const MessageField* f = Declared(index);
    if (!f || f->type != SQL_VARYING)
        return false;
    // Text that is UTF-8 on the way needs no conversion: it was checked when it was read or
    // typed.
    const int id = static_cast<int>(f->charSet & 0xFF);
    if (id == kCharSetUtf8 || id == kCharSetOctets || !TakesText(*f))
        return PutWireText(index, utf8);
    const TCharSet& set = WireCharSet(*state_.owner, f->charSet);
    if (IsUtf8CharSet(set))
        return PutWireText(index, utf8);
    char32_t refused = 0;
    return EncodeText(set, utf8, encoded_, refused) && PutWireText(index, encoded_);
}

bool TDrvParamWriter::PutWireText(int index, std::string_view bytes) {
    const MessageField* f = Declared(index);
    if (!f || bytes.size() > f->length)
        return false;
    unsigned char* at = Slot(f, SQL_VARYING);
    if (!at)
        return false;
    Store<ISC_USHORT>(at, static_cast<ISC_USHORT>(bytes.size()));
    std::memcpy(at + sizeof(ISC_USHORT), bytes.data(), bytes.size());
    return true;
}

bool TDrvParamWriter::PutDate(int index, const TSQLDate& value) {
    return InlineEncodable(value) &&
           Put<ISC_DATE>(Declared(index), SQL_TYPE_DATE, fbdrv::EncodeDate(value));
}

bool TDrvParamWriter::PutTime(int index, const TSQLTime& value) {
    return InlineEncodable(value) &&
           Put<ISC_TIME>(Declared(index), SQL_TYPE_TIME, fbdrv::EncodeTime(value));
}

bool TDrvParamWriter::PutTimeStamp(int index, const TSQLDate& date, const TSQLTime& time) {
    return InlineEncodable(date) && InlineEncodable(time) &&
           Put<ISC_TIMESTAMP>(Declared(index), SQL_TIMESTAMP,
                              ISC_TIMESTAMP{fbdrv::EncodeDate(date), fbdrv::EncodeTime(time)});
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

// ---------------------------------------------------------------------------------------------
// Attachments

const std::shared_ptr<TransactionState>& fbdrv::TransactionStateOf(TDrvTransaction& transaction) {
    return transaction.impl_->state;
}

namespace {
TDrvIsolation ParseIsolation(std::string_view text) {
    if (SameText(text, "RepeatableRead"))
        return TDrvIsolation::RepeatableRead;
    if (SameText(text, "DirtyRead"))
        return TDrvIsolation::DirtyRead;
    return TDrvIsolation::ReadCommitted;
}

bool ParseBool(std::string_view text, bool fallback) {
    if (SameText(text, "True"))
        return true;
    if (SameText(text, "False"))
        return false;
    return fallback;
}
} // namespace

std::unique_ptr<TDrvConnection> TDrvConnection::Connect(const TParamList& properties) {
    return Attach(properties, false);
}

std::unique_ptr<TDrvConnection> TDrvConnection::CreateDatabase(const TParamList& properties) {
    return Attach(properties, true);
}

std::unique_ptr<TDrvConnection> TDrvConnection::Attach(const TParamList& properties, bool create) {
    auto value = [&](std::string_view name) { return properties.ValueOfName(name); };
    // The client library takes these as C strings: a NUL byte would cut the value short and,
    // for Database, attach to another database than the one named.
    for (const char* name : {"Database", "User_Name", "Password", "Role", "ServerCharSet",
                             "DatabaseCharSet", "VendorLib"})
        if (value(name).find('\0') != std::string::npos)
            throw TDriverError(DriverCode::InvalidArgument, std::string("引数が無効です:  ") +
                                                                name +
                                                                " の値に NUL 文字が含まれています");
    std::string vendorLib = value("VendorLib");
    if (vendorLib.empty())
        vendorLib = "fbclient.dll";
    Client& client = LoadClient(vendorLib);
    const std::string database = MapDatabasePath(value("Database"));
    CheckLockFolderBeforeAttach(database);

    auto state = std::make_shared<AttachmentState>();
    state->client = &client;
    state->status = std::make_unique<Status>(client.master);
    std::string dialect = value("SQLDialect");
    state->dialect = dialect.empty() ? 3 : std::atoi(dialect.c_str());
    if (state->dialect < 1 || state->dialect > 3)
        state->dialect = 3;
    std::string charSet = value("ServerCharSet");
    state->wideText = !charSet.empty() && !SameText(charSet, "NONE");
    state->charSet = state->wideText ? CharSetByName(charSet) : nullptr;
    state->trimChar = ParseBool(value("TrimChar"), false);
    state->waitOnLocks = ParseBool(value("WaitOnLocks"), true);
    state->commitRetain = ParseBool(value("CommitRetain"), false);
    state->defaultIsolation = ParseIsolation(value("IsolationLevel"));

    ThrowStatusWrapper* st = state->status->get();
    CallClient(client.util, [&] {
        Handle<Firebird::IXpbBuilder> dpb(
            client.util->getXpbBuilder(st, Firebird::IXpbBuilder::DPB, nullptr, 0));
        dpb->insertTag(st, isc_dpb_utf8_filename);
        if (properties.IndexOfName("User_Name") >= 0)
            dpb->insertString(st, isc_dpb_user_name, value("User_Name").c_str());
        if (properties.IndexOfName("Password") >= 0)
            dpb->insertString(st, isc_dpb_password, value("Password").c_str());
        if (std::string role = value("Role"); !role.empty())
            dpb->insertString(st, isc_dpb_sql_role_name, role.c_str());
        if (!charSet.empty())
            dpb->insertString(st, isc_dpb_lc_ctype, charSet.c_str());
        dpb->insertInt(st, isc_dpb_sql_dialect, state->dialect);
        if (create) {
            dpb->insertInt(st, isc_dpb_page_size, 8192);
            if (std::string set = value("DatabaseCharSet"); !set.empty())
                dpb->insertString(st, isc_dpb_set_db_charset, set.c_str());
            state->attachment.Reset(client.provider->createDatabase(
                st, database.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st)));
        } else {
            state->attachment.Reset(client.provider->attachDatabase(
                st, database.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st)));
        }
    });
    std::unique_ptr<TDrvConnection> connection(new TDrvConnection());
    connection->state_ = std::move(state);
    return connection;
}

TDrvConnection::~TDrvConnection() {
    state_->Close();
}

std::unique_ptr<TDrvTransaction> TDrvConnection::BeginTransaction(TDrvIsolation isolation) {
    AttachmentState& a = *state_;
    if (!a.attachment)
        RaiseClosed();
    auto tra = std::make_shared<TransactionState>();
    tra->owner = state_;
    CallClient(a.util(), [&] {
        ThrowStatusWrapper* st = a.status->get();
        Handle<Firebird::IXpbBuilder> tpb(
            a.util()->getXpbBuilder(st, Firebird::IXpbBuilder::TPB, nullptr, 0));
        tpb->insertTag(st, isc_tpb_write);
        if (isolation == TDrvIsolation::RepeatableRead) {
            tpb->insertTag(st, isc_tpb_concurrency);
        } else {
            // The database has no dirty reads: read committed is the nearest level.
            tpb->insertTag(st, isc_tpb_read_committed);
            tpb->insertTag(st, isc_tpb_rec_version);
        }
        if (a.waitOnLocks) {
            // A bounded wait: a row held elsewhere fails the statement with the lock
            // conflict instead of freezing the caller for as long as the other side likes.
            tpb->insertTag(st, isc_tpb_wait);
            tpb->insertInt(st, isc_tpb_lock_timeout, kLockTimeoutSeconds);
        } else {
            tpb->insertTag(st, isc_tpb_nowait);
        }
        tra->transaction.Reset(
            a.attachment->startTransaction(st, tpb->getBufferLength(st), tpb->getBuffer(st)));
    });
    a.Register(tra.get());
    auto impl = std::make_unique<TDrvTransaction::Impl>();
    impl->state = std::move(tra);
    return std::unique_ptr<TDrvTransaction>(new TDrvTransaction(std::move(impl)));
}

std::unique_ptr<TDrvStatement> TDrvConnection::Prepare(TDrvTransaction& transaction,
                                                       std::string_view sql) {
    if (!state_->attachment)
        RaiseClosed();
    auto impl = std::make_unique<TDrvStatement::Impl>();
    impl->state = PrepareState(state_, TransactionOf(transaction)->Live(), sql);
    return std::unique_ptr<TDrvStatement>(new TDrvStatement(std::move(impl)));
}

std::uint64_t TDrvConnection::ExecuteImmediate(TDrvTransaction& transaction, std::string_view sql) {
    auto statement = Prepare(transaction, sql);
    return statement->Execute(transaction, {});
}

TDrvIsolation TDrvConnection::DefaultIsolation() const noexcept {
    return state_->defaultIsolation;
}
int TDrvConnection::Dialect() const noexcept {
    return state_->dialect;
}
bool TDrvConnection::WideText() const noexcept {
    return state_->wideText;
}

std::int64_t TDrvConnection::AttachmentId() {
    AttachmentState& a = *state_;
    if (!a.attachment)
        RaiseClosed();
    if (a.id == 0)
        a.id = CallClient(a.util(), [&] {
            const unsigned char items[] = {isc_info_attachment_id};
            unsigned char answer[32] = {};
            a.attachment->getInfo(a.status->get(), sizeof items, items, sizeof answer, answer);
            return InfoNumber(answer, isc_info_attachment_id);
        });
    return a.id;
}

std::string TDrvConnection::GetVendorProperty(std::string_view name) const {
    if (SameText(name, "QuoteCharEnabled"))
        return state_->dialect >= 3 ? "true" : "false";
    if (SameText(name, "SQLDialect"))
        return std::to_string(state_->dialect);
    return {};
}

} // namespace sorvanto
