#pragma once

#include "TableEngine.h"
#include "Value.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace sorvanto {

// The pending changes of a table as the resolver reads them: the change log of its table engine
// and the engine's rows, in place. A change is an entry of the log, its record number its
// position there, its given fields the log's mask; its values are read from the rows when they
// are needed. Valid while the log and the rows stay as they are.
class TChangeSet {
public:
    explicit TChangeSet(const TTableEngine& engine) noexcept : engine_(&engine) {}

    const std::vector<TFieldDef>& Fields() const noexcept { return engine_->Defs(); }
    const std::vector<TChange>& Changes() const noexcept { return engine_->Changes(); }
    std::size_t Count() const noexcept { return Changes().size(); }
    const TChange& operator[](std::size_t recordNumber) const noexcept {
        return Changes()[recordNumber];
    }
    int RecordNumber(const TChange& change) const noexcept {
        return static_cast<int>(&change - Changes().data());
    }
    const TRowStore& Rows() const noexcept { return engine_->Rows(); }

    // Whether the change gives a new value for the field.
    static bool Given(const TChange& change, std::size_t field) noexcept {
        return change.newRow != kNoRow && change.given[field];
    }
    // The change's old value of the field: null without an old row; a value that did not read
    // as text comes as its bytes, which go to the database unconverted.
    TValue OldValue(const TChange& change, std::size_t field) const;
    // The new value the change gives for the field; nullopt when it gives none.
    std::optional<TValue> NewValue(const TChange& change, std::size_t field) const;
    // The old value of every field, and the new values given.
    std::vector<TValue> OldValues(const TChange& change) const;
    std::vector<std::optional<TValue>> NewValues(const TChange& change) const;

private:
    const TTableEngine* engine_;
};

} // namespace sorvanto
