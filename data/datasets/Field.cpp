#include "Field.h"

#include "DataSet.h"

namespace sorvanto {

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
