#include "Field.h"

#include "DataSet.h"

#include <cstdio>

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
    switch (type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftGraphic:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftOraBlob:
        return true;
    default:
        return false;
    }
}

bool IsNonTextKind(TFieldType type) noexcept {
    switch (type) {
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftMemo:
    case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
    case TFieldType::ftCursor:
    case TFieldType::ftADT:
    case TFieldType::ftArray:
    case TFieldType::ftReference:
    case TFieldType::ftDataSet:
        return true;
    default:
        return false;
    }
}

bool IsIntegerKind(TFieldType type) noexcept {
    switch (type) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftLargeint:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLongWord:
    case TFieldType::ftShortint:
    case TFieldType::ftByte:
        return true;
    default:
        return false;
    }
}

std::string FormatG(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

TField::TField(TDataSet& dataSet, const TFieldDef& def, int index)
    : dataSet_(dataSet), def_(def), index_(index) {}

TValue TField::Value() const {
    return dataSet_.GetFieldValue(*this);
}

bool TField::IsNull() const {
    return sorvanto::IsNull(Value());
}

void TField::SetValue(const TValue& value) {
    dataSet_.SetFieldValue(*this, value);
}

} // namespace sorvanto
