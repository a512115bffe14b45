#include "Field.h"

#include "DataSet.h"

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
