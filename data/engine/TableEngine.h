#pragma once

#include "FieldDef.h"
#include "FieldMask.h"
#include "RowStore.h"
#include "Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace sorvanto {

enum class TUpdateKind { ukModify, ukInsert, ukDelete };
enum class TUpdateStatus { usUnmodified, usModified, usInserted, usDeleted };

// One entry of the change log. A row changed several times before it is applied stays one
// entry: its old values are the row as last read (or accepted), its new values the latest.
struct TChange {
    TUpdateKind kind = TUpdateKind::ukModify;
    TRowId oldRow = kNoRow; // values before the change (modify, delete)
    TRowId newRow = kNoRow; // values after it (modify, insert)
    TFieldMask given;       // per field: a new value was given (modify, insert)
    std::string refusal;    // the database's reason when the last apply refused it
    std::string refusedStatement; // and the statement it refused, for a maintainer's eyes
    // Sent in a transaction whose commit answer was lost: awaiting confirmation from the rows.
    bool unconfirmed = false;
};

// Row ids and the positions of their changes in the log, in one open-addressed table: an entry
// costs no allocation of its own, and clearing frees one block.
class TRowIndex {
public:
    // The position of the row's change; null when it has none.
    const std::uint32_t* Find(TRowId row) const noexcept;
    void Set(TRowId row, std::size_t position);
    void Erase(TRowId row) noexcept;
    void Clear() noexcept;

private:
    struct Slot {
        TRowId row = kNoRow;
        std::uint32_t position = 0;
    };
    std::size_t Home(TRowId row) const noexcept {
        return (row * 0x9E3779B1u) & (slots_.size() - 1);
    }
    std::vector<Slot> slots_; // a power of two of them, at most half in use
    std::size_t count_ = 0;
};

// The rows of one table in memory: the base rows as read, the change log, and the current
// view (base rows with the log applied) that a cursor moves through by position.
class TTableEngine {
public:
    void Load(TRowStore rows);
    void Clear();
    bool Loaded() const noexcept { return loaded_; }

    const std::vector<TFieldDef>& Defs() const noexcept { return store_.Defs(); }
    int ViewCount() const noexcept {
        return static_cast<int>(viewBuilt_ ? view_.size() : baseCount_);
    }
    TValue Value(int position, int field) const;
    TUpdateStatus Status(int position) const;

    // Checks a value for a field and converts it to the field's kind.
    TValue CheckValue(int field, const TValue& value) const;
    // Inserts a row before the position (at the end for ViewCount()); logged as inserted.
    void InsertRow(int position, const std::vector<TValue>& values, const TFieldMask& written);
    // Replaces the row at the position; logged as modified. Nothing is logged when no written
    // field differs from the row.
    void ModifyRow(int position, const std::vector<TValue>& values, const TFieldMask& written);
    // Removes the row at the position; logged as deleted (a row inserted since the last apply
    // simply goes).
    void DeleteRow(int position);

    int ChangeCount() const noexcept { return static_cast<int>(changes_.size()); }
    // The pending change of the row at the position; null when the row has none.
    const TChange* ChangeAt(int position) const;
    // Why the database refused a change at the apply just made, by the change's log position.
    struct TRefusal {
        int position = 0;
        std::string reason;
        std::string statement;
    };
    // Notes the refusals of the apply just made; every other change loses its earlier reason.
    void SetRefusals(const std::vector<TRefusal>& refusals);
    // Pending changes that the last apply refused.
    int RefusedCount() const noexcept;
    const std::vector<TChange>& Changes() const noexcept { return changes_; }
    TValue RowValue(TRowId row, int field) const { return store_.Value(row, field); }
    // The bytes of the value at the position that did not read as text; null for any other.
    const std::string* WireText(int position, int field) const {
        return store_.WireText(RowAt(position), field);
    }
    const TRowStore& Rows() const noexcept { return store_; }
    // Accepts every change: the new values become the base rows and the log is emptied.
    void AcceptAll();
    // Accepts every change except those whose log positions are listed as failed; of those
    // kept, the ones listed as unconfirmed await confirmation, the others no longer do.
    void Reconcile(const std::vector<int>& failedChanges, const std::vector<int>& unconfirmed = {});
    // Pending changes awaiting confirmation after a lost commit answer.
    int UnconfirmedCount() const noexcept;

    // Takes values the database holds now into rows of the view that are not pending: per row
    // id, the fields given replace the row's values, the others stay. A row that is no longer
    // in the view, or whose values do not fit its fields, is left as it is.
    void
    TakeRowValues(const std::vector<std::pair<TRowId, std::vector<std::optional<TValue>>>>& rows);

    std::size_t StoreBytes() const noexcept;

private:
    void RebuildIndex();
    // The row shown at a position, and replacing it.
    TRowId RowAt(int position) const;
    void SetRowAt(int position, TRowId row);
    // Lists the view's row ids, for a change that moves rows (insert, delete).
    void BuildView();

    TRowStore store_;
    // Until a row is inserted or deleted the view is the base rows in their order: position p
    // shows row p, or the row that replaced it.
    bool viewBuilt_ = false;
    std::size_t baseCount_ = 0;
    std::unordered_map<int, TRowId> replaced_;
    std::vector<TRowId> view_;
    std::vector<TChange> changes_;
    TRowIndex changeOfRow_; // current row → its change
    bool loaded_ = false;
};

} // namespace sorvanto
