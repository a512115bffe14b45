#include "RowStore.h"

#include "Unaligned.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace sorvanto {

namespace {
// Chunks start small and double up to this size, so small stores stay small.
constexpr std::size_t kMaxChunkSize = std::size_t(1) << 20;
constexpr std::size_t kFirstChunkSize = 4096;
// A locator packs the chunk index above the row's offset in its chunk.
constexpr unsigned kOffsetBits = 20;
constexpr std::size_t kMaxOffset = (std::size_t(1) << kOffsetBits) - 1;
constexpr std::size_t kMaxChunks = std::size_t(1) << (32 - kOffsetBits);
constexpr unsigned kGroupBits = 5;
constexpr std::size_t kGroupRows = std::size_t(1) << kGroupBits;
constexpr unsigned kGroupBlockBits = 7;
constexpr std::size_t kGroupBlock = std::size_t(1) << kGroupBlockBits;
// The largest row size a group's byte holds; 0 there says the row is irregular.
constexpr std::size_t kMaxRegularSize = 255;
constexpr int kTypeMismatch = EngineCode::TypeMismatch;
constexpr int kOutOfRange = EngineCode::OutOfRange;

} // namespace

std::size_t TRowStore::PutLength(unsigned char* out, std::size_t length) noexcept {
    std::size_t n = 0;
    while (length >= 0x80) {
        out[n++] = static_cast<unsigned char>((length & 0x7F) | 0x80);
        length >>= 7;
    }
    out[n++] = static_cast<unsigned char>(length);
    return n;
}

namespace {

std::size_t GetLength(const unsigned char*& at) {
    std::size_t length = 0;
    int shift = 0;
    while (*at & 0x80) {
        length |= std::size_t(*at++ & 0x7F) << shift;
        shift += 7;
    }
    return length | (std::size_t(*at++) << shift);
}

TSQLDate UnpackDate(std::int32_t v) {
    return TSQLDate{v / 512, (v / 32) % 16, v % 32};
}
TSQLTime UnpackTime(std::int32_t v) {
    return TSQLTime{v / 36000000, (v / 600000) % 60, (v / 10000) % 60, v % 10000};
}

// The largest scale of an exact decimal held in 64 bits.
constexpr int kMaxScale = 18;

// The value as an exact decimal of the given scale, rounded half away from zero; false when
// the scale is not one a decimal can have or the result does not fit in 64 bits.
bool Rescale(const TBcd& value, int scale, std::int64_t& result) {
    if (value.scale < 0 || value.scale > kMaxScale || scale < 0 || scale > kMaxScale)
        return false;
    if (value.scale == scale) {
        result = value.value;
        return true;
    }
    if (value.scale < scale)
        return !__builtin_mul_overflow(value.value, Power10(scale - value.scale), &result);
    std::int64_t divisor = Power10(value.scale - scale);
    std::int64_t quotient = value.value / divisor;
    std::int64_t remainder = value.value % divisor;
    if (2 * (remainder < 0 ? -remainder : remainder) >= divisor)
        quotient += value.value < 0 ? -1 : 1;
    result = quotient;
    return true;
}

} // namespace

std::string DecimalText(std::int64_t value, int scale) {
    std::uint64_t magnitude =
        value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    if (scale > 0) {
        if (digits.size() <= static_cast<std::size_t>(scale))
            digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
    } else if (scale < 0 && magnitude != 0) {
        digits.append(static_cast<std::size_t>(-scale), '0');
    }
    return (value < 0 ? "-" : "") + digits;
}

namespace {
[[noreturn]] void DecimalOutOfRange(const TFieldDef& def, const std::string& valueText,
                                    std::int64_t low, std::int64_t high) {
    throw ETableEngineError(kOutOfRange, valueText + " は項目 '" + def.Name +
                                             "' に適した値ではありません。" +
                                             DecimalText(low, def.Size) + " から " +
                                             DecimalText(high, def.Size) + " の範囲が許されます");
}

} // namespace

// The range of the stored integer of an exact decimal column: the database keeps up to 4
// digits in 16 bits, up to 9 in 32 and the rest in 64.
void DecimalBounds(const TFieldDef& def, std::int64_t& low, std::int64_t& high) {
    if (def.Precision > 0 && def.Precision <= 4) {
        low = std::numeric_limits<std::int16_t>::min();
        high = std::numeric_limits<std::int16_t>::max();
    } else if (def.Precision > 0 && def.Precision <= 9) {
        low = std::numeric_limits<std::int32_t>::min();
        high = std::numeric_limits<std::int32_t>::max();
    } else {
        low = std::numeric_limits<std::int64_t>::min();
        high = std::numeric_limits<std::int64_t>::max();
    }
}

void RaiseDecimalOutOfRange(const TFieldDef& def, const std::string& valueText) {
    std::int64_t low = 0;
    std::int64_t high = 0;
    DecimalBounds(def, low, high);
    DecimalOutOfRange(def, valueText, low, high);
}

// ---------------------------------------------------------------------------------------------
// TRowStore

TRowStore::Storage TRowStore::StorageFor(TFieldType type) noexcept {
    switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftShortint:
    case TFieldType::ftByte:
        return Storage::I16;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
    case TFieldType::ftWord:
        return Storage::I32;
    case TFieldType::ftLargeint:
    case TFieldType::ftLongWord:
        return Storage::I64;
    case TFieldType::ftSingle:
        return Storage::F32;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftExtended:
        return Storage::F64;
    case TFieldType::ftBoolean:
        return Storage::Bool;
    case TFieldType::ftBCD:
    case TFieldType::ftFMTBcd:
        return Storage::Bcd;
    case TFieldType::ftDate:
        return Storage::Date;
    case TFieldType::ftTime:
        return Storage::Time;
    case TFieldType::ftDateTime:
    case TFieldType::ftTimeStamp:
        return Storage::Stamp;
    default:
        return Storage::Var;
    }
}

TRowStore::TRowStore(std::vector<TFieldDef> defs) : defs_(std::move(defs)) {
    storage_.reserve(defs_.size());
    for (const TFieldDef& def : defs_)
        storage_.push_back(StorageFor(def.DataType));
}

TRowStore::TRowStore(TRowStore&& other) noexcept
    : defs_(std::move(other.defs_)), storage_(std::move(other.storage_)),
      chunks_(std::move(other.chunks_)), chunkSizes_(std::move(other.chunkSizes_)),
      chunkUsed_(std::exchange(other.chunkUsed_, 0)),
      chunkCapacity_(std::exchange(other.chunkCapacity_, 0)), groups_(std::move(other.groups_)),
      irregular_(std::move(other.irregular_)), wire_(std::move(other.wire_)),
      lastChunk_(std::exchange(other.lastChunk_, 0)), rowCount_(std::exchange(other.rowCount_, 0)) {
}

TRowStore& TRowStore::operator=(TRowStore&& other) noexcept {
    defs_ = std::move(other.defs_);
    storage_ = std::move(other.storage_);
    chunks_ = std::move(other.chunks_);
    chunkSizes_ = std::move(other.chunkSizes_);
    chunkUsed_ = std::exchange(other.chunkUsed_, 0);
    chunkCapacity_ = std::exchange(other.chunkCapacity_, 0);
    groups_ = std::move(other.groups_);
    irregular_ = std::move(other.irregular_);
    wire_ = std::move(other.wire_);
    other.wire_.clear();
    lastChunk_ = std::exchange(other.lastChunk_, 0);
    rowCount_ = std::exchange(other.rowCount_, 0);
    return *this;
}

void TRowStore::Clear() {
    chunks_.clear();
    chunkSizes_.clear();
    chunkUsed_ = chunkCapacity_ = 0;
    groups_.clear();
    groups_.shrink_to_fit();
    irregular_.clear();
    wire_.clear();
    lastChunk_ = 0;
    rowCount_ = 0;
}

const std::string* TRowStore::WireText(TRowId row, int field) const {
    if (wire_.empty())
        return nullptr;
    auto it = wire_.find(WireKey(row, field));
    return it == wire_.end() ? nullptr : &it->second;
}

void TRowStore::CopyWireText(TRowId from, TRowId to, int field) {
    if (const std::string* bytes = WireText(from, field))
        wire_[WireKey(to, field)] = *bytes;
}

std::size_t TRowStore::BytesUsed() const noexcept {
    std::size_t bytes = groups_.size() * kGroupBlock * sizeof(RowGroup);
    // An irregular row's entry, its node and its bucket.
    bytes +=
        irregular_.size() * (sizeof(std::pair<const TRowId, IrregularRow>) + 3 * sizeof(void*));
    for (std::size_t size : chunkSizes_)
        bytes += size;
    for (const auto& [key, wire] : wire_)
        bytes += sizeof(key) + sizeof(wire) + wire.capacity() + 3 * sizeof(void*);
    return bytes;
}

void TRowStore::Reserve(std::size_t need, std::size_t keep) {
    if (!chunks_.empty() && chunkUsed_ + need <= chunkCapacity_ && chunkUsed_ <= kMaxOffset)
        return;
    std::size_t next =
        chunkCapacity_ == 0 ? kFirstChunkSize : std::min(chunkCapacity_ * 2, kMaxChunkSize);
    std::size_t capacity = std::max(next, need);
    // Chunk bytes are written before they are read: no need to clear them.
    auto chunk = std::make_unique_for_overwrite<unsigned char[]>(capacity);
    if (keep > 0)
        std::memcpy(chunk.get(), chunks_.back().get() + chunkUsed_, keep);
    if (!chunks_.empty() && chunkUsed_ == 0) {
        // The last chunk holds no row yet: the new one takes its place.
        chunks_.back() = std::move(chunk);
        chunkSizes_.back() = capacity;
    } else {
        if (chunks_.size() >= kMaxChunks)
            throw ETableEngineError(kOutOfRange, "行数が多すぎます");
        chunks_.push_back(std::move(chunk));
        chunkSizes_.push_back(capacity);
    }
    chunkCapacity_ = capacity;
    chunkUsed_ = 0;
}

TRowId TRowStore::Commit(std::size_t bytes) {
    if (rowCount_ >= kNoRow)
        throw ETableEngineError(kOutOfRange, "行数が多すぎます");
    std::size_t group = rowCount_ >> kGroupBits;
    std::size_t slot = rowCount_ & (kGroupRows - 1);
    if (slot == 0 && (group & (kGroupBlock - 1)) == 0 &&
        (group >> kGroupBlockBits) == groups_.size())
        groups_.push_back(std::make_unique_for_overwrite<RowGroup[]>(kGroupBlock));
    RowGroup& entry = groups_[group >> kGroupBlockBits][group & (kGroupBlock - 1)];
    std::size_t chunk = chunks_.size() - 1;
    auto locator = static_cast<std::uint32_t>((chunk << kOffsetBits) | chunkUsed_);
    if (slot == 0)
        entry.first = locator;
    bool follows = slot == 0 || chunk == lastChunk_;
    if (follows && bytes <= kMaxRegularSize) {
        entry.sizes[slot] = static_cast<std::uint8_t>(bytes);
    } else {
        entry.sizes[slot] = 0;
        irregular_[static_cast<TRowId>(rowCount_)] = IrregularRow{locator, bytes};
    }
    lastChunk_ = chunk;
    chunkUsed_ += bytes;
    return static_cast<TRowId>(rowCount_++);
}

namespace {
// The sum of `count` size bytes, eight at a time.
std::size_t SumOfSizes(const std::uint8_t* sizes, std::size_t count) {
    constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    std::size_t sum = 0;
    for (; count >= 8; count -= 8, sizes += 8) {
        std::uint64_t word = Load<std::uint64_t>(sizes);
        // Pairs of bytes into four 16-bit lanes, then the lanes into the top one.
        std::uint64_t lanes = (word & kLowBytes) + ((word >> 8) & kLowBytes);
        sum += static_cast<std::size_t>((lanes * 0x0001000100010001ull) >> 48);
    }
    for (std::size_t i = 0; i < count; ++i)
        sum += sizes[i];
    return sum;
}
} // namespace

const unsigned char* TRowStore::RowBytes(TRowId row) const {
    if (row >= rowCount_)
        throw std::out_of_range("TRowStore: no such row");
    std::size_t group = row >> kGroupBits;
    std::size_t slot = row & (kGroupRows - 1);
    const RowGroup& entry = groups_[group >> kGroupBlockBits][group & (kGroupBlock - 1)];
    if (slot == 0)
        return chunks_[entry.first >> kOffsetBits].get() + (entry.first & kMaxOffset);
    if (entry.sizes[slot] == 0) {
        std::uint32_t locator = irregular_.find(row)->second.locator;
        return chunks_[locator >> kOffsetBits].get() + (locator & kMaxOffset);
    }
    // From the group's first row, or from the end of the last irregular row before this one.
    std::uint32_t locator = entry.first;
    std::size_t offset = locator & kMaxOffset;
    std::size_t from = 0;
    if (const void* zero = ::memrchr(entry.sizes, 0, slot)) {
        from = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - entry.sizes) + 1;
        const IrregularRow& start =
            irregular_.find(static_cast<TRowId>(row - (slot - from) - 1))->second;
        locator = start.locator;
        offset = (locator & kMaxOffset) + start.size;
    }
    offset += SumOfSizes(entry.sizes + from, slot - from);
    return chunks_[locator >> kOffsetBits].get() + offset;
}

void TRowStore::PrefetchPlace(TRowId row) const noexcept {
    if (row >= rowCount_)
        return;
    std::size_t group = row >> kGroupBits;
    __builtin_prefetch(&groups_[group >> kGroupBlockBits][group & (kGroupBlock - 1)]);
}

const unsigned char* TRowStore::Past(Storage storage, const unsigned char* at) noexcept {
    switch (storage) {
    case Storage::I16:
        return at + 2;
    case Storage::I32:
    case Storage::F32:
    case Storage::Date:
    case Storage::Time:
        return at + 4;
    case Storage::I64:
    case Storage::F64:
    case Storage::Bcd:
    case Storage::Stamp:
        return at + 8;
    case Storage::Bool:
        return at + 1;
    case Storage::Var: {
        std::size_t length = GetLength(at);
        return at + length;
    }
    }
    return at;
}

const unsigned char* TRowStore::Locate(const unsigned char* row, int field, bool& isNull) const {
    isNull = NullAt(row, field);
    if (isNull)
        return nullptr;
    const unsigned char* at = row + (defs_.size() + 7) / 8;
    for (int i = 0; i < field; ++i) {
        if (NullAt(row, i))
            continue;
        at = Past(storage_[static_cast<std::size_t>(i)], at);
    }
    return at;
}

bool TRowStore::IsNull(TRowId row, int field) const {
    return NullAt(RowBytes(row), field);
}

void TRowStore::ValueAt(const unsigned char* row, int field, TValue& value) const {
    bool isNull;
    const unsigned char* at = Locate(row, field, isNull);
    if (isNull)
        value = TValue{};
    else
        Decode(field, at, value);
}

void TRowStore::Places(const unsigned char* row, const unsigned char** places) const {
    const unsigned char* at = row + (defs_.size() + 7) / 8;
    for (std::size_t f = 0; f < defs_.size(); ++f) {
        if (NullAt(row, static_cast<int>(f))) {
            places[f] = nullptr;
            continue;
        }
        places[f] = at;
        at = Past(storage_[f], at);
    }
}

void TRowStore::RawFrom(int field, const unsigned char* at, RawValue& raw) const {
    raw.storage = storage_[static_cast<std::size_t>(field)];
    switch (raw.storage) {
    case Storage::I16:
        raw.integer = Load<std::int16_t>(at);
        break;
    case Storage::I32:
        raw.integer = Load<std::int32_t>(at);
        break;
    case Storage::I64:
        raw.integer = Load<std::int64_t>(at);
        break;
    case Storage::F32:
        raw.real = double(Load<float>(at));
        break;
    case Storage::F64:
        raw.real = Load<double>(at);
        break;
    case Storage::Bool:
        raw.integer = *at != 0;
        break;
    case Storage::Bcd:
        raw.integer = Load<std::int64_t>(at);
        raw.scale = defs_[static_cast<std::size_t>(field)].Size;
        break;
    case Storage::Date:
        raw.date = UnpackDate(Load<std::int32_t>(at));
        break;
    case Storage::Time:
        raw.time = UnpackTime(Load<std::int32_t>(at));
        break;
    case Storage::Stamp:
        raw.date = UnpackDate(Load<std::int32_t>(at));
        raw.time = UnpackTime(Load<std::int32_t>(at + 4));
        break;
    case Storage::Var: {
        std::size_t length = GetLength(at);
        raw.bytes = std::string_view(reinterpret_cast<const char*>(at), length);
        break;
    }
    }
}

TValue TRowStore::Value(TRowId row, int field) const {
    bool isNull;
    const unsigned char* at = Locate(RowBytes(row), field, isNull);
    if (isNull)
        return {};
    if (storage_[static_cast<std::size_t>(field)] == Storage::Var &&
        !IsBinaryType(defs_[static_cast<std::size_t>(field)].DataType)) {
        std::size_t length = GetLength(at);
        return std::string(reinterpret_cast<const char*>(at), length);
    }
    TValue value;
    Decode(field, at, value);
    return value;
}

void TRowStore::Values(TRowId row, std::vector<TValue>& values) const {
    const unsigned char* at = RowBytes(row);
    const unsigned char* bitmap = at;
    at += (defs_.size() + 7) / 8;
    values.resize(defs_.size());
    for (std::size_t f = 0; f < defs_.size(); ++f) {
        if (NullAt(bitmap, static_cast<int>(f)))
            values[f] = TValue{};
        else
            at = Decode(static_cast<int>(f), at, values[f]);
    }
}

const unsigned char* TRowStore::Decode(int field, const unsigned char* at, TValue& value) const {
    RawValue raw;
    RawFrom(field, at, raw);
    switch (raw.storage) {
    case Storage::I16:
    case Storage::I32:
    case Storage::I64:
        value = raw.integer;
        break;
    case Storage::F32:
    case Storage::F64:
        value = raw.real;
        break;
    case Storage::Bool:
        value = raw.integer != 0;
        break;
    case Storage::Bcd:
        value = TBcd{raw.integer, raw.scale};
        break;
    case Storage::Date:
        value = raw.date;
        break;
    case Storage::Time:
        value = raw.time;
        break;
    case Storage::Stamp:
        value = TSQLTimeStamp{raw.date, raw.time};
        break;
    case Storage::Var:
        if (IsBinaryType(defs_[static_cast<std::size_t>(field)].DataType))
            value = TBytes{std::string(raw.bytes)};
        else if (auto* text = std::get_if<std::string>(&value))
            text->assign(raw.bytes); // keeps the buffer it has
        else
            value = std::string(raw.bytes);
        return reinterpret_cast<const unsigned char*>(raw.bytes.data() + raw.bytes.size());
    }
    return Past(raw.storage, at);
}

TRowId TRowStore::Append(const std::vector<TValue>& values) {
    Builder builder(*this);
    for (const TValue& value : values)
        builder.Value(value);
    return builder.Finish();
}

// ---------------------------------------------------------------------------------------------
// TRowStore::Builder

TRowStore::Builder::Builder(TRowStore& store)
    : store_(store), bitmapBytes_((store.defs_.size() + 7) / 8) {}

void TRowStore::Builder::Start() {
    started_ = true;
    size_ = 0;
    std::memset(Room(bitmapBytes_), 0, bitmapBytes_);
}

unsigned char* TRowStore::Builder::Room(std::size_t bytes) {
    if (!started_)
        Start();
    store_.Reserve(size_ + bytes, size_);
    unsigned char* at = store_.chunks_.back().get() + store_.chunkUsed_ + size_;
    size_ += bytes;
    return at;
}

template <typename T> void TRowStore::Builder::Put(T value) {
    std::memcpy(Room(sizeof(T)), &value, sizeof(T));
}

void TRowStore::Builder::Next() {
    ++field_;
}

void TRowStore::Builder::Null() {
    if (!started_)
        Start();
    MarkNull(store_.chunks_.back().get() + store_.chunkUsed_, field_);
    Next();
}

void TRowStore::Builder::Integer(std::int64_t value) {
    switch (store_.storage_[static_cast<std::size_t>(field_)]) {
    case Storage::I16:
        Put(static_cast<std::int16_t>(value));
        break;
    case Storage::I32:
        Put(static_cast<std::int32_t>(value));
        break;
    case Storage::Bcd: {
        const TFieldDef& def = store_.defs_[static_cast<std::size_t>(field_)];
        std::int64_t scaled = 0;
        if (!Rescale(TBcd{value, 0}, def.Size, scaled))
            DecimalOutOfRange(def, DecimalText(value, 0), std::numeric_limits<std::int64_t>::min(),
                              std::numeric_limits<std::int64_t>::max());
        Put(scaled);
        break;
    }
    case Storage::F32:
        Put(static_cast<float>(value));
        break;
    case Storage::F64:
        Put(static_cast<double>(value));
        break;
    case Storage::Bool:
        Put(static_cast<unsigned char>(value != 0));
        break;
    default:
        Put(value);
        break;
    }
    Next();
}

void TRowStore::Builder::Float(double value) {
    if (store_.storage_[static_cast<std::size_t>(field_)] == Storage::F32)
        Put(static_cast<float>(value));
    else
        Put(value);
    Next();
}

void TRowStore::Builder::Boolean(bool value) {
    Put(static_cast<unsigned char>(value));
    Next();
}

void TRowStore::Builder::Bcd(TBcd value) {
    const TFieldDef& def = store_.defs_[static_cast<std::size_t>(field_)];
    std::int64_t scaled = 0;
    if (!Rescale(value, def.Size, scaled))
        DecimalOutOfRange(def, DecimalText(value.value, value.scale),
                          std::numeric_limits<std::int64_t>::min(),
                          std::numeric_limits<std::int64_t>::max());
    Put(scaled);
    Next();
}

void TRowStore::Builder::Text(std::string_view bytes) {
    unsigned char length[10];
    std::size_t n = PutLength(length, bytes.size());
    unsigned char* at = Room(n + bytes.size());
    std::memcpy(at, length, n);
    if (!bytes.empty())
        std::memcpy(at + n, bytes.data(), bytes.size());
    Next();
}

void TRowStore::Builder::UnreadText(std::string_view shown, std::string_view wire) {
    // Rows are appended in order: the row being built gets the next id.
    store_.wire_[WireKey(static_cast<TRowId>(store_.rowCount_), field_)] = std::string(wire);
    Text(shown);
}

std::string& TRowStore::Builder::BeginText() {
    text_.clear();
    return text_;
}

void TRowStore::Builder::EndText() {
    Text(text_);
}

void TRowStore::Builder::Date(TSQLDate value) {
    Put(PackDate(value));
    Next();
}

void TRowStore::Builder::Time(TSQLTime value) {
    Put(PackTime(value));
    Next();
}

void TRowStore::Builder::TimeStamp(TSQLTimeStamp value) {
    Put(PackDate(value.date));
    Put(PackTime(value.time));
    Next();
}

void TRowStore::Builder::Value(const TValue& value) {
    if (sorvanto::IsNull(value))
        return Null();
    switch (store_.storage_[static_cast<std::size_t>(field_)]) {
    case Storage::I16:
    case Storage::I32:
    case Storage::I64:
    case Storage::Bool:
        if (auto* i = std::get_if<std::int64_t>(&value))
            return Integer(*i);
        if (auto* b = std::get_if<bool>(&value))
            return Integer(*b);
        break;
    case Storage::F32:
    case Storage::F64:
        if (auto* d = std::get_if<double>(&value))
            return Float(*d);
        if (auto* i = std::get_if<std::int64_t>(&value))
            return Float(static_cast<double>(*i));
        if (auto* c = std::get_if<TBcd>(&value))
            return Float(static_cast<double>(c->value) / static_cast<double>(Power10(c->scale)));
        break;
    case Storage::Bcd:
        if (auto* c = std::get_if<TBcd>(&value))
            return Bcd(*c);
        if (auto* i = std::get_if<std::int64_t>(&value))
            return Bcd(TBcd{*i, 0});
        break;
    case Storage::Date:
        if (auto* d = std::get_if<TSQLDate>(&value))
            return Date(*d);
        if (auto* s = std::get_if<TSQLTimeStamp>(&value))
            return Date(s->date);
        break;
    case Storage::Time:
        if (auto* t = std::get_if<TSQLTime>(&value))
            return Time(*t);
        if (auto* s = std::get_if<TSQLTimeStamp>(&value))
            return Time(s->time);
        break;
    case Storage::Stamp:
        if (auto* s = std::get_if<TSQLTimeStamp>(&value))
            return TimeStamp(*s);
        if (auto* d = std::get_if<TSQLDate>(&value))
            return TimeStamp(TSQLTimeStamp{*d, {}});
        break;
    case Storage::Var:
        if (auto* s = std::get_if<std::string>(&value))
            return Text(*s);
        if (auto* b = std::get_if<TBytes>(&value))
            return Text(b->data);
        break;
    }
    throw ETableEngineError(kTypeMismatch, "項目 '" +
                                               store_.defs_[static_cast<std::size_t>(field_)].Name +
                                               "' の型に合わない値です");
}

unsigned char* TRowStore::Builder::BeginRow(std::size_t valueBytes) {
    if (started_)
        throw std::logic_error("TRowStore::Builder: a row is already being built");
    store_.Reserve(bitmapBytes_ + valueBytes, 0);
    unsigned char* at = store_.chunks_.back().get() + store_.chunkUsed_;
    std::memset(at, 0, bitmapBytes_);
    return at;
}

TRowId TRowStore::Builder::FinishRow(std::size_t bytes) {
    return store_.Commit(bytes);
}

TRowId TRowStore::Builder::Finish() {
    if (!started_)
        Start();
    for (; field_ < static_cast<int>(store_.defs_.size());)
        Null();
    started_ = false;
    field_ = 0;
    return store_.Commit(size_);
}

} // namespace sorvanto
