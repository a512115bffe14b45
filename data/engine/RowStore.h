#pragma once

#include "Errors.h"
#include "FieldDef.h"
#include "Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sorvanto {

// An error of the table engine: its text and code.
class ETableEngineError : public Exception {
public:
    ETableEngineError(int errorCode, std::string message)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    const char* ClassName() const noexcept override { return "ETableEngineError"; }
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

// Raises the engine's range error for a number that does not fit the exact decimal field:
// valueText names the number, the text gives the range the column holds.
[[noreturn]] void RaiseDecimalOutOfRange(const TFieldDef& def, const std::string& valueText);
// The range of the stored integer of an exact decimal field.
void DecimalBounds(const TFieldDef& def, std::int64_t& low, std::int64_t& high);
// An exact decimal as text: digits, a point before the last `scale` of them.
std::string DecimalText(std::int64_t value, int scale);

// The codes of the engine's errors.
namespace EngineCode {
inline constexpr int TypeMismatch = 1;
inline constexpr int OutOfRange = 2;
} // namespace EngineCode

using TRowId = std::uint32_t;
inline constexpr TRowId kNoRow = 0xFFFFFFFFu;

// Rows held compactly: each row is a null bitmap followed by its non-null values, numbers in
// their own width and text as a length and its bytes. Rows are appended and never moved; a row
// is found from its group's first row and the sizes of the rows before it.
class TRowStore {
public:
    // How a field's values are held: numbers in their own width, decimals as 64-bit integers
    // of the field's scale, dates and times packed (PackDate, PackTime), a timestamp as a date
    // and a time, text and bytes (Var) as a length in 7-bit groups, low group first, and the
    // bytes.
    enum class Storage : std::uint8_t {
        I16,
        I32,
        I64,
        F32,
        F64,
        Bool,
        Bcd,
        Date,
        Time,
        Stamp,
        Var
    };
    static std::int32_t PackDate(const TSQLDate& d) noexcept {
        return (d.year * 16 + d.month) * 32 + d.day;
    }
    static std::int32_t PackTime(const TSQLTime& t) noexcept {
        return ((t.hour * 60 + t.minute) * 60 + t.second) * 10000 + t.fractions;
    }

    explicit TRowStore(std::vector<TFieldDef> defs = {});
    // A store moved from is left empty.
    TRowStore(TRowStore&& other) noexcept;
    TRowStore& operator=(TRowStore&& other) noexcept;

    const std::vector<TFieldDef>& Defs() const noexcept { return defs_; }
    static Storage StorageFor(TFieldType type) noexcept;
    // Writes a text's length as a stored row holds it; returns the bytes written: 1 below 128,
    // 3 below 2^21, at most 10.
    static std::size_t PutLength(unsigned char* out, std::size_t length) noexcept;
    std::size_t RowCount() const noexcept { return rowCount_; }
    TValue Value(TRowId row, int field) const;
    bool IsNull(TRowId row, int field) const;
    // Every value of a row, read in one pass; `values` is resized to the field count and its
    // text values keep their buffers where they can.
    void Values(TRowId row, std::vector<TValue>& values) const;
    // Where a row's bytes lie, for reading several of its values with one look-up; valid until
    // the next row is appended.
    const unsigned char* RowBytes(TRowId row) const;
    // Starts bringing what finding a row reads into the processor's cache, for a look-up that
    // comes later.
    void PrefetchPlace(TRowId row) const noexcept;
    // The null flag of a field in the bitmap that starts a row, read and set.
    static bool NullAt(const unsigned char* row, int field) noexcept {
        return (row[field / 8] >> (field % 8)) & 1;
    }
    static void MarkNull(unsigned char* row, int field) noexcept {
        row[field / 8] = static_cast<unsigned char>(row[field / 8] | (1u << (field % 8)));
    }
    // One value of the row at `row` into `value`, whose text buffer is reused.
    void ValueAt(const unsigned char* row, int field, TValue& value) const;
    // One value of a row as the row holds it, for a reader that needs no TValue: the member
    // that the storage names is set (integer for I16, I32, I64, Bcd (scaled by `scale`) and
    // Bool; real for F32 and F64; date and time for Date, Time and Stamp; bytes for Var, which
    // point into the row).
    struct RawValue {
        Storage storage = Storage::I32;
        std::int64_t integer = 0;
        int scale = 0;
        double real = 0;
        TSQLDate date;
        TSQLTime time;
        std::string_view bytes;
    };
    // Where each field's value lies in the row at `row`, in one pass, into places[0] to
    // places[Defs().size() - 1]: null for a null field.
    void Places(const unsigned char* row, const unsigned char** places) const;
    // The value of a field that lies at `at` (a place Places gave, not null).
    void RawFrom(int field, const unsigned char* at, RawValue& raw) const;

    // Builds one row field by field, in field order, straight into the store's last chunk, then
    // appends it.
    class Builder {
    public:
        explicit Builder(TRowStore& store);
        void Null();
        void Integer(std::int64_t value);
        void Float(double value);
        void Boolean(bool value);
        void Bcd(TBcd value);
        void Text(std::string_view bytes);
        // A text value that did not read as text: shown as `shown`, held as `wire` (WireText).
        void UnreadText(std::string_view shown, std::string_view wire);
        // Appends text of unknown length straight into the row: returns the buffer to append to;
        // call EndText() afterwards.
        std::string& BeginText();
        void EndText();
        void Date(TSQLDate value);
        void Time(TSQLTime value);
        void TimeStamp(TSQLTimeStamp value);
        // Any value, converted to the field's kind (ETableEngineError when it does not fit).
        void Value(const TValue& value);
        TRowId Finish();

        // Writes a whole row in one go, instead of field by field: returns room for the row's
        // null bitmap (cleared) followed by at most valueBytes bytes of values, each encoded as
        // its field's Storage says; FinishRow appends the row of `bytes` bytes, bitmap included.
        unsigned char* BeginRow(std::size_t valueBytes);
        TRowId FinishRow(std::size_t bytes);
        std::size_t BitmapBytes() const noexcept { return bitmapBytes_; }

    private:
        TRowStore& store_;
        std::string text_; // text of unknown length, until its length is known
        std::size_t size_ = 0;
        int field_ = 0;
        bool started_ = false;
        std::size_t bitmapBytes_;
        void Start();
        unsigned char* Room(std::size_t bytes);
        template <typename T> void Put(T value);
        void Next();
    };

    TRowId Append(const std::vector<TValue>& values);

    // A text value that did not read as text of its character set is held as the text shown for
    // it (U+FFFD for the bytes that are not characters) and, here, its bytes exactly as the
    // database gave them: the value can then be named to the database again, never written
    // from the text shown. Null for any other value.
    const std::string* WireText(TRowId row, int field) const;
    bool HasWireText() const noexcept { return !wire_.empty(); }
    // Gives `to` the bytes that `from` holds for the field, when it holds any.
    void CopyWireText(TRowId from, TRowId to, int field);
    // Bytes held: the rows, their locators and the chunk slack.
    std::size_t BytesUsed() const noexcept;
    void Clear();

private:
    friend class Builder;
    // Makes room for a row of `need` bytes whose first `keep` bytes are already written past
    // the last chunk's used bytes: moves them into a new chunk when they do not fit.
    void Reserve(std::size_t need, std::size_t keep);
    TRowId Commit(std::size_t bytes);
    const unsigned char* Locate(const unsigned char* row, int field, bool& isNull) const;
    // Where the value after one of the storage's, which starts at `at`, starts.
    static const unsigned char* Past(Storage storage, const unsigned char* at) noexcept;
    // Reads the non-null value of the field at `at` into value; returns where the next begins.
    const unsigned char* Decode(int field, const unsigned char* at, TValue& value) const;

    std::vector<TFieldDef> defs_;
    std::vector<Storage> storage_;
    std::vector<std::unique_ptr<unsigned char[]>> chunks_;
    std::vector<std::size_t> chunkSizes_;
    std::size_t chunkUsed_ = 0;
    std::size_t chunkCapacity_ = 0;
    // Rows are found in groups of 32: the locator (chunk index << 20 | offset) of the group's
    // first row, then each row's size in a byte, so a row lies at the first row's place plus
    // the sizes before it. A row of 256 bytes or more, or one that starts a new chunk, has size
    // 0 there and its locator and size in irregular_. Groups are kept in blocks that never move.
    struct RowGroup {
        std::uint32_t first;
        std::uint8_t sizes[32];
    };
    struct IrregularRow {
        std::uint32_t locator;
        std::size_t size;
    };
    std::vector<std::unique_ptr<RowGroup[]>> groups_;
    std::unordered_map<TRowId, IrregularRow> irregular_;
    // The bytes of values that did not read as text, by row and field (WireKey).
    std::unordered_map<std::uint64_t, std::string> wire_;
    static std::uint64_t WireKey(TRowId row, int field) noexcept {
        return (std::uint64_t(row) << 32) | std::uint32_t(field);
    }
    std::size_t lastChunk_ = 0; // the chunk of the last row appended
    std::size_t rowCount_ = 0;
};

} // namespace sorvanto
