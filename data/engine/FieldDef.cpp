#include "FieldDef.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace sorvanto {

bool IsBlobType(TFieldType type) noexcept {
    switch (type) {
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftOraBlob:
    case TFieldType::ftOraClob:
    case TFieldType::ftWideMemo:
        return true;
    default:
        return false;
    }
}

bool IsTextType(TFieldType type) noexcept {
    switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
    case TFieldType::ftFixedWideChar:
    case TFieldType::ftMemo:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftWideMemo:
    case TFieldType::ftOraClob:
        return true;
    default:
        return false;
    }
}

bool IsBinaryType(TFieldType type) noexcept {
    // The byte strings, and the blobs that hold no text.
    return type == TFieldType::ftBytes || type == TFieldType::ftVarBytes ||
           (IsBlobType(type) && !IsTextType(type));
}

bool IsNonTextKind(TFieldType type) noexcept {
    switch (type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftCursor:
    case TFieldType::ftADT:
    case TFieldType::ftArray:
    case TFieldType::ftReference:
    case TFieldType::ftDataSet:
        return true;
    case TFieldType::ftWideMemo: // wide text, edited as such
    case TFieldType::ftOraBlob:
    case TFieldType::ftOraClob:
        return false;
    default:
        return IsBlobType(type);
    }
}

bool IsIntegerKind(TFieldType type) noexcept {
    using enum TFieldType;
    constexpr TFieldType kinds[] = {ftSmallint, ftInteger,  ftWord,     ftLargeint,
                                    ftAutoInc,  ftLongWord, ftShortint, ftByte};
    return std::find(std::begin(kinds), std::end(kinds), type) != std::end(kinds);
}

std::string FormatG(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace sorvanto
