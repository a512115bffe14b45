// The input message of a statement: its layout for the values bound, and the values written
// into it, converted to the parameters' character sets.
#include "DriverState.h"

#include "Errors.h"
#include "FirebirdDates.h"
#include "Unaligned.h"

#include <algorithm>
#include <cstring>

namespace sorvanto {

namespace fbdrv {

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

const TCharSet& WireCharSet(const AttachmentState& a, unsigned charSet) {
    const int id = static_cast<int>(charSet & 0xFF); // the high byte names the collation
    if (id == kCharSetNone && a.charSet)
        return *a.charSet;
    const TCharSet* set = CharSetById(id);
    return set && id != kCharSetNone ? *set : *CharSetById(kCharSetUtf8);
}

int BytesPerCharacter(unsigned charSet) {
    const TCharSet* set = CharSetById(static_cast<int>(charSet & 0xFF));
    return set ? set->bytesPerCharacter : 1;
}

namespace {
constexpr unsigned kMaxVarying = 32765;

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
} // namespace

// Whether text bound to a parameter so declared is text in a character set (not a number the
// database reads from text, not bytes).
bool TakesText(const MessageField& declared) {
    return (IsText(declared.type) || (declared.type == SQL_BLOB && declared.subType == 1)) &&
           (declared.charSet & 0xFF) != static_cast<unsigned>(kCharSetOctets);
}

namespace {
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
} // namespace

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

} // namespace fbdrv

using namespace fbdrv;

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

} // namespace sorvanto
