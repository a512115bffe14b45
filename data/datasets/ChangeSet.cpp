#include "ChangeSet.h"

namespace sorvanto {

TValue TChangeSet::OldValue(const TChange& change, std::size_t field) const {
    if (change.oldRow == kNoRow)
        return TValue();
    const int f = static_cast<int>(field);
    if (const std::string* wire = Rows().WireText(change.oldRow, f))
        return TBytes{*wire};
    return Rows().Value(change.oldRow, f);
}

std::optional<TValue> TChangeSet::NewValue(const TChange& change, std::size_t field) const {
    if (!Given(change, field))
        return std::nullopt;
    return Rows().Value(change.newRow, static_cast<int>(field));
}

std::vector<TValue> TChangeSet::OldValues(const TChange& change) const {
    std::vector<TValue> values(Fields().size());
    if (change.oldRow == kNoRow)
        return values;
    Rows().Values(change.oldRow, values);
    if (Rows().HasWireText())
        for (std::size_t f = 0; f < values.size(); ++f)
            if (const std::string* wire = Rows().WireText(change.oldRow, static_cast<int>(f)))
                values[f] = TBytes{*wire};
    return values;
}

std::vector<std::optional<TValue>> TChangeSet::NewValues(const TChange& change) const {
    std::vector<std::optional<TValue>> values(Fields().size());
    if (change.newRow == kNoRow)
        return values;
    std::vector<TValue> row;
    Rows().Values(change.newRow, row);
    for (std::size_t f = 0; f < values.size() && f < row.size(); ++f)
        if (Given(change, f))
            values[f] = std::move(row[f]);
    return values;
}

} // namespace sorvanto
