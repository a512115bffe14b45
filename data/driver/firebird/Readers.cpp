// Rows of an executed statement, read forward from the fetch buffer.
#include "DriverState.h"

#include "Errors.h"
#include "FirebirdDates.h"
#include "Unaligned.h"

#include <algorithm>
#include <string>

namespace sorvanto {

using namespace fbdrv;

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

const MessageField& fbdrv::FieldOf(const ReaderState& s, int column) {
    if (!s.onRow)
        RaiseDriverCode(DriverCode::EndOfData);
    if (column < 0 || column >= static_cast<int>(s.fields.size()))
        RaiseDriverCode(DriverCode::InvalidOrdinal);
    return s.fields[static_cast<size_t>(column)];
}

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

} // namespace sorvanto
