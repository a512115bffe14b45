#pragma once

// The kinds of value a column holds, and the description of a column as it comes with the rows.

#include <string>

namespace sorvanto {

enum class TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
    ftTimeStamp,
    ftFMTBcd,
    ftFixedWideChar,
    ftWideMemo,
    ftOraTimeStamp,
    ftOraInterval,
    ftLongWord,
    ftShortint,
    ftByte,
    ftExtended,
    ftConnection,
    ftParams,
    ftStream,
    ftTimeStampOffset,
    ftObject,
    ftSingle,
};

// Blob kinds: their contents are read whole and never take part in a WHERE clause.
bool IsBlobType(TFieldType type) noexcept;
// Text kinds: their values are text.
bool IsTextType(TFieldType type) noexcept;
// Binary kinds: their values are bytes that reach the database without a character set.
bool IsBinaryType(TFieldType type) noexcept;
// Kinds whose values have no text form an operator could type: binary data, memos, structures.
bool IsNonTextKind(TFieldType type) noexcept;
// Integer kinds of every width.
bool IsIntegerKind(TFieldType type) noexcept;

// A number as C's "%g" formats it, as the range messages show their bounds.
std::string FormatG(double value);

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

// Provider flags: which statements of an apply a field takes part in.
enum TProviderFlag : unsigned { pfInUpdate = 1, pfInWhere = 2, pfInKey = 4, pfHidden = 8 };
using TProviderFlags = unsigned;

// A description of one column as it comes with the rows.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = TFieldType::ftUnknown;
    int Size = 0;
    int Precision = 0;
    bool Required = false;
    bool ReadOnly = false;
    TProviderFlags ProviderFlags = pfInUpdate | pfInWhere;
    std::string Origin; // the table column the field comes from
    // Text fields: the engine's number of the character set the text travels to the database in,
    // and of the one the column holds it in (-1 when it is not known or the field holds no
    // text); and the most bytes a value may take in the first (0: no limit but Size).
    int CharSet = -1;
    int ColumnCharSet = -1;
    int MaxBytes = 0;
    // CHAR fields: the characters the database pads a value to with blanks, so a value written
    // is held as the database will hold it (0: not padded).
    int PadTo = 0;
};

} // namespace sorvanto
