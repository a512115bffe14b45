#pragma once

#include "ParamList.h"
#include "Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The Firebird driver: attachments, transactions, statements and rows on the Firebird client
// library's object-oriented API. The client library is loaded at the first attachment and kept.
// Every failure of the client library is raised as TDriverError with the library's own text.
namespace sorvanto {

enum class TDrvDataType {
    Unknown,
    AnsiString,
    WideString,
    Int16,
    Int32,
    Int64,
    Single,
    Double,
    Bcd,
    Boolean,
    Date,
    Time,
    TimeStamp,
    Blob,
    Bytes,
    VarBytes,
};

enum class TDrvSubType {
    None,
    FixedChar, // CHAR: blank padded
    Memo,      // text blob on an attachment without a character set
    WideMemo,  // text blob on an attachment with a character set
    Binary,    // any other blob
};

// Description of one result column.
struct TDrvColumnDesc {
    std::string name;     // the column's alias in the result
    std::string relation; // the table it comes from, empty for an expression
    std::string field;    // the table column it comes from
    TDrvDataType type = TDrvDataType::Unknown;
    TDrvSubType subType = TDrvSubType::None;
    int size = 0;      // bytes in the row buffer (text: bytes; blob: 1)
    int precision = 0; // text: characters; numbers: decimal digits
    int scale = 0;     // digits after the decimal point (positive)
    bool nullable = true;
    bool readOnly = false;
    // Text columns and text blobs: the character set the column's bytes travel in (the
    // attachment's, or the column's own on an attachment without one; a column of NONE is
    // taken in the attachment's set, or as UTF-8), and the set the column holds its text in
    // (its own, when the system tables name it). -1 for other columns.
    int charSet = -1;
    int columnCharSet = -1;
    // CHAR: the characters the database pads its values to with blanks, as they are read
    // (0 when the attachment trims fixed-length text, and for other columns).
    int padTo = 0;
};

enum class TDrvIsolation { ReadCommitted = 0, RepeatableRead = 1, DirtyRead = 2 };

// With WaitOnLocks true, how long a statement waits for a row that another transaction holds
// before it fails with the lock conflict.
inline constexpr int kLockTimeoutSeconds = 10;

class TDrvTransaction;

namespace fbdrv {
struct AttachmentState;
struct StatementState;
struct TransactionState;
struct MessageField;
const std::shared_ptr<TransactionState>& TransactionStateOf(TDrvTransaction& transaction);
} // namespace fbdrv

class TDrvConnection;
class TDrvStatement;

class TDrvTransaction {
public:
    ~TDrvTransaction(); // rolls back what was neither committed nor rolled back
    TDrvTransaction(const TDrvTransaction&) = delete;
    TDrvTransaction& operator=(const TDrvTransaction&) = delete;

    void Commit();
    void Rollback();
    bool Active() const noexcept;
    // The transaction's number in the database (MON$TRANSACTIONS names it so).
    std::int64_t Id();

private:
    friend class TDrvConnection;
    friend class TDrvStatement;
    friend class TDrvReader;
    friend const std::shared_ptr<fbdrv::TransactionState>&
    fbdrv::TransactionStateOf(TDrvTransaction&);
    struct Impl;
    explicit TDrvTransaction(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Rows of an executed statement, read forward. The current row's values are read straight from
// the fetch buffer.
class TDrvReader {
public:
    ~TDrvReader();
    TDrvReader(const TDrvReader&) = delete;
    TDrvReader& operator=(const TDrvReader&) = delete;

    int ColumnCount() const noexcept;
    const TDrvColumnDesc& Column(int index) const;
    const std::vector<TDrvColumnDesc>& Columns() const noexcept;

    // Steps to the next row; false at the end.
    bool Next();

    bool IsNull(int column) const;
    bool GetBoolean(int column) const;
    std::int64_t GetInt64(int column) const; // integers; a scaled number gives its unscaled value
    double GetDouble(int column) const;
    TBcd GetBcd(int column) const;
    // Text or binary bytes of a CHAR/VARCHAR column, a view into the fetch buffer (CHAR padding
    // removed when the attachment trims fixed-length text).
    std::string_view GetBytes(int column) const;
    // The text of a text column or text blob in UTF-8, read by the column's character set (CHAR
    // padding as GetBytes keeps it). False when some of its bytes are not characters of that set
    // as the engine reads them: `text` then shows each such byte as U+FFFD, and `wire`, when
    // given, gets the bytes exactly as they came, the only form in which the value can be named
    // to the database again.
    bool GetText(int column, std::string& text, std::string* wire = nullptr) const;
    TSQLDate GetDate(int column) const;
    TSQLTime GetTime(int column) const;
    TSQLTimeStamp GetTimeStamp(int column) const;
    // The whole content of a blob column, as it is stored (GetText reads a text blob as text).
    std::string GetBlob(int column) const;
    void AppendBlob(int column, std::string& out) const;
    // Length of a blob column's content in bytes (0 for null).
    std::int64_t GetBlobLength(int column) const;
    // Any column as a value.
    TValue GetValue(int column) const;

    // Where a column lies in the fetch buffer, for a caller that decodes whole rows itself.
    // Dates count days from 1858-11-17, times 1/10000 seconds from midnight, a timestamp is a
    // date followed by a time, a varying text is a 2-byte length and its bytes. Other: any kind
    // that needs the getters above (fixed-length text, blobs, ...).
    struct RawColumn {
        enum class Kind : std::uint8_t {
            Short,
            Long,
            Int64,
            Float,
            Double,
            Boolean,
            Date,
            Time,
            TimeStamp,
            Varying,
            Other
        };
        Kind kind = Kind::Other;
        int scale = 0; // digits after the decimal point of an integer kind (positive)
        unsigned offset = 0;
        unsigned nullOffset = 0; // a 2-byte flag, not 0 for null
        unsigned length = 0;     // bytes of the value; a varying text: its largest length
        // A varying text: its bytes are UTF-8 that the database checked, or bytes (OCTETS), so
        // they may be taken as they are.
        bool verbatim = false;
    };
    RawColumn Raw(int column) const;
    // The fetch buffer of the current row; null when there is none.
    const unsigned char* RowBuffer() const noexcept;

private:
    friend class TDrvStatement;
    struct Impl;
    explicit TDrvReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Writes parameter values straight into the message a statement was prepared with, each as the
// statement declares its parameter. A Put returns false when the value does not go there as it
// is (a parameter of another kind, text longer than the parameter, a date the message cannot
// hold, a null for a parameter that takes none); the statement is then run with TValues.
class TDrvParamWriter {
public:
    bool PutNull(int index);
    bool PutInteger(int index, std::int64_t value);
    bool PutDouble(int index, double value);
    // An exact decimal: the integer scaled by 10^scale.
    bool PutBcd(int index, std::int64_t value, int scale);
    bool PutBoolean(int index, bool value);
    // UTF-8 text, written in the parameter's character set; false also when a character of it is
    // not held there.
    bool PutText(int index, std::string_view utf8);
    // Bytes exactly as a text column gave them (a value that did not read as text), unconverted.
    bool PutWireText(int index, std::string_view bytes);
    bool PutDate(int index, const TSQLDate& value);
    bool PutTime(int index, const TSQLTime& value);
    bool PutTimeStamp(int index, const TSQLDate& date, const TSQLTime& time);

private:
    friend class TDrvStatement;
    TDrvParamWriter(fbdrv::StatementState& state, unsigned char* message)
        : state_(state), message_(message) {}
    // How the statement declares the parameter; null when it has no such parameter.
    const fbdrv::MessageField* Declared(int index) const noexcept;
    // The place in the message of the declared parameter f (null: none), when it is of the
    // type; its null flag is set as isNull says.
    unsigned char* Slot(const fbdrv::MessageField* f, unsigned type, bool isNull = false);
    // Stores the value as a T in the place of the declared parameter f, when it is of the type.
    template <typename T> bool Put(const fbdrv::MessageField* f, unsigned type, T value);
    fbdrv::StatementState& state_;
    unsigned char* message_;
    std::size_t put_ = 0; // parameters written
    std::string encoded_; // a text parameter in its character set, its buffer reused
};

// The parameters of one run of a statement, as their owner has them: written straight into the
// statement's message where they go as they are, or else given as TValues.
class TDrvParamSource {
public:
    virtual ~TDrvParamSource() = default;
    virtual std::size_t Count() const = 0;
    // Writes every parameter in order; false when one of them does not go into the message.
    virtual bool Write(TDrvParamWriter& out) = 0;
    // The parameters as values, for a run whose Write returned false.
    virtual const std::vector<TValue>& Values() = 0;
};

// A prepared statement. Execute it again and again with new parameter values: it is prepared once.
class TDrvStatement {
public:
    ~TDrvStatement();
    TDrvStatement(const TDrvStatement&) = delete;
    TDrvStatement& operator=(const TDrvStatement&) = delete;

    const std::string& Text() const noexcept;
    int ParameterCount() const;
    bool ReturnsRows() const;

    // Runs the statement with the values of the "?" markers in order; returns the affected rows.
    std::uint64_t Execute(TDrvTransaction& transaction, const std::vector<TValue>& params);
    // The same with parameters written straight into the statement's message where they can be.
    std::uint64_t Execute(TDrvTransaction& transaction, TDrvParamSource& params);
    // Runs a statement that returns rows and opens a reader on them.
    std::unique_ptr<TDrvReader> Open(TDrvTransaction& transaction,
                                     const std::vector<TValue>& params);

private:
    friend class TDrvConnection;
    struct Impl;
    explicit TDrvStatement(std::unique_ptr<Impl> impl);
    std::shared_ptr<fbdrv::StatementState> state_;
};

// One attachment to a database.
class TDrvConnection {
public:
    // Attaches with the whole property set ("name=value" lines): Database, User_Name, Password,
    // Role, SQLDialect, ServerCharSet go into the attachment; IsolationLevel, WaitOnLocks,
    // CommitRetain into each transaction; TrimChar into the reading of fixed-length text;
    // VendorLib names the client library.
    static std::unique_ptr<TDrvConnection> Connect(const TParamList& properties);
    // Creates the database named by Database and attaches to it; "DatabaseCharSet" gives the
    // default character set of the new database.
    static std::unique_ptr<TDrvConnection> CreateDatabase(const TParamList& properties);
    ~TDrvConnection(); // releases statements, rolls back transactions, detaches

    TDrvConnection(const TDrvConnection&) = delete;
    TDrvConnection& operator=(const TDrvConnection&) = delete;

    std::unique_ptr<TDrvTransaction> BeginTransaction(TDrvIsolation isolation);
    std::unique_ptr<TDrvStatement> Prepare(TDrvTransaction& transaction, std::string_view sql);
    // Runs an unprepared statement at once; returns the affected rows.
    std::uint64_t ExecuteImmediate(TDrvTransaction& transaction, std::string_view sql);

    // The default isolation of the attachment's transactions (its IsolationLevel property).
    TDrvIsolation DefaultIsolation() const noexcept;
    int Dialect() const noexcept;
    // A named property of the attachment: "QuoteCharEnabled", "DatabaseProductVersion", ...
    std::string GetVendorProperty(std::string_view name) const;
    // True when text arrives as wide text (the attachment has a character set).
    bool WideText() const noexcept;
    // The attachment's number in the database (MON$ATTACHMENTS names it so).
    std::int64_t AttachmentId();

private:
    TDrvConnection() = default;
    static std::unique_ptr<TDrvConnection> Attach(const TParamList& properties, bool create);
    std::shared_ptr<fbdrv::AttachmentState> state_;
};

// True for the error codes with which the client library reports an attachment it has lost:
// network read and write errors, a lost connection, a database or attachment shut down.
bool IsConnectionLostError(int errorCode) noexcept;

// True for the error codes with which the engine reports a failure of the database file: a read
// or write that failed (a full disk, a file shorter than its pages), a damaged page, a failed
// consistency check. The attachment's page cache may then disagree with the file for good.
bool IsDatabaseFileError(int errorCode) noexcept;

// The client library's file for a VendorLib name: "fbclient.dll" (any letter case) stands for
// the platform's libfbclient.so.2; any other name is used as it is.
std::string ClientLibraryFile(std::string_view vendorLib);

} // namespace sorvanto
