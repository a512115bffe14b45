#pragma once

#include "FieldDef.h"
#include "Value.h"

#include <string>

namespace sorvanto {

class TDataSet;

// One column of an open dataset. Its value is the current record's.
class TField {
public:
    TField(TDataSet& dataSet, const TFieldDef& def, int index);
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    const std::string& FieldName() const noexcept { return def_.Name; }
    const std::string& DisplayName() const noexcept { return def_.Name; }
    TFieldType DataType() const noexcept { return def_.DataType; }
    int Size() const noexcept { return def_.Size; }
    int Precision() const noexcept { return def_.Precision; }
    bool Required() const noexcept { return def_.Required; }
    bool ReadOnly() const noexcept { return def_.ReadOnly; }
    TProviderFlags ProviderFlags() const noexcept { return def_.ProviderFlags; }
    TFieldKind FieldKind() const noexcept { return TFieldKind::fkData; }
    const std::string& Origin() const noexcept { return def_.Origin; }
    int Index() const noexcept { return index_; }
    bool IsBlob() const noexcept { return IsBlobType(def_.DataType); }
    const TFieldDef& Def() const noexcept { return def_; }
    TDataSet& DataSet() const noexcept { return dataSet_; }

    // The current record's value (the record being edited while in edit or insert state).
    TValue Value() const;
    bool IsNull() const;
    // Writes the current record's value (edit or insert state only).
    void SetValue(const TValue& value);
    void Clear() { SetValue(TValue()); }

private:
    TDataSet& dataSet_;
    TFieldDef def_;
    int index_;
};

} // namespace sorvanto
