#include "TableEngine.h"

#include "CharacterSets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace sorvanto {

namespace {
constexpr int kOutOfRange = EngineCode::OutOfRange;

// Refuses what no number column holds: NaN and the infinities (a row holding one could never be
// found again by its values), and single-precision values past the largest a float holds.
void CheckFloat(const TFieldDef& def, const TValue& value) {
    const double* number = std::get_if<double>(&value);
    if (!number)
        return;
    if (!std::isfinite(*number))
        throw ETableEngineError(kOutOfRange, "'" + FormatG(*number) + "' は項目 '" + def.Name +
                                                 "' に適した値ではありません");
    const double highest = std::numeric_limits<float>::max();
    if (def.DataType == TFieldType::ftSingle && std::fabs(*number) > highest)
        throw ETableEngineError(kOutOfRange, FormatG(*number) + " は項目 '" + def.Name +
                                                 "' に適した値ではありません。" +
                                                 FormatG(-highest) + " から " + FormatG(highest) +
                                                 " の範囲が許されます");
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days the database can hold: 0001-01-01 to 9999-12-31, each a day of the calendar.
bool IsValidDate(const TSQLDate& d) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1)
        return false;
    int days = kDays[d.month - 1] + (d.month == 2 && IsLeapYear(d.year) ? 1 : 0);
    return d.day <= days;
}

// Times of day: 00:00:00.0000 to 23:59:59.9999.
bool IsValidTime(const TSQLTime& t) {
    return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
           t.second < 60 && t.fractions >= 0 && t.fractions < 10000;
}

std::string TwoDigits(int n) {
    return (n >= 0 && n < 10 ? "0" : "") + std::to_string(n);
}

std::string DateText(const TSQLDate& d) {
    return std::to_string(d.year) + "-" + TwoDigits(d.month) + "-" + TwoDigits(d.day);
}

std::string TimeText(const TSQLTime& t) {
    std::string fractions = std::to_string(t.fractions);
    if (t.fractions >= 0 && fractions.size() < 4)
        fractions.insert(0, 4 - fractions.size(), '0');
    return TwoDigits(t.hour) + ":" + TwoDigits(t.minute) + ":" + TwoDigits(t.second) + "." +
           fractions;
}

// Refuses a date, time or timestamp that no calendar or clock has.
void CheckDateTime(const TFieldDef& def, const TValue& value) {
    std::string text;
    if (auto* d = std::get_if<TSQLDate>(&value)) {
        if (!IsValidDate(*d))
            text = DateText(*d);
    } else if (auto* t = std::get_if<TSQLTime>(&value)) {
        if (!IsValidTime(*t))
            text = TimeText(*t);
    } else if (auto* s = std::get_if<TSQLTimeStamp>(&value)) {
        if (!IsValidDate(s->date) || !IsValidTime(s->time))
            text = DateText(s->date) + " " + TimeText(s->time);
    }
    if (!text.empty())
        throw ETableEngineError(kOutOfRange, "'" + text + "' は項目 '" + def.Name +
                                                 "' に適した値ではありません");
}

// Refuses text that the column's character set, or the one it travels in, cannot hold, or that
// takes more bytes there than the column has.
void CheckText(const TFieldDef& def, const TValue& value) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text || !IsTextType(def.DataType))
        return;
    std::string bytes;
    for (int id : {def.ColumnCharSet, def.CharSet}) {
        const TCharSet* set = CharSetById(id);
        if (!set || id == kCharSetNone || id == kCharSetOctets)
            continue;
        char32_t refused = 0;
        if (!EncodeText(*set, *text, bytes, refused))
            throw ETableEngineError(kOutOfRange, "項目 '" + def.Name + "' に書き込めません: " +
                                                     RefusedCharacterText(refused, *set));
        if (id == def.CharSet && def.MaxBytes > 0 &&
            bytes.size() > static_cast<std::size_t>(def.MaxBytes))
            throw ETableEngineError(
                kOutOfRange, "項目 '" + def.Name + "' の値が長すぎます: 文字セット " +
                                 std::string(set->name) + " で " + std::to_string(bytes.size()) +
                                 " バイト、最大 " + std::to_string(def.MaxBytes) + " バイトです");
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TRowIndex

const std::uint32_t* TRowIndex::Find(TRowId row) const noexcept {
    if (count_ == 0)
        return nullptr;
    for (std::size_t i = Home(row);; i = (i + 1) & (slots_.size() - 1)) {
        if (slots_[i].row == row)
            return &slots_[i].position;
        if (slots_[i].row == kNoRow)
            return nullptr;
    }
}

void TRowIndex::Set(TRowId row, std::size_t position) {
    if ((count_ + 1) * 2 > slots_.size()) {
        std::vector<Slot> old(std::max<std::size_t>(16, slots_.size() * 2));
        old.swap(slots_);
        count_ = 0;
        for (const Slot& slot : old)
            if (slot.row != kNoRow)
                Set(slot.row, slot.position);
    }
    std::size_t i = Home(row);
    while (slots_[i].row != kNoRow && slots_[i].row != row)
        i = (i + 1) & (slots_.size() - 1);
    if (slots_[i].row == kNoRow)
        ++count_;
    slots_[i] = {row, static_cast<std::uint32_t>(position)};
}

void TRowIndex::Erase(TRowId row) noexcept {
    if (count_ == 0)
        return;
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = Home(row);
    while (slots_[hole].row != row) {
        if (slots_[hole].row == kNoRow)
            return;
        hole = (hole + 1) & mask;
    }
    // Moves back each entry after the hole that could not sit in its home slot because of it.
    for (std::size_t next = (hole + 1) & mask; slots_[next].row != kNoRow;
         next = (next + 1) & mask) {
        std::size_t home = Home(slots_[next].row);
        bool homeAfterHole =
            hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
        if (homeAfterHole)
            continue;
        slots_[hole] = slots_[next];
        hole = next;
    }
    slots_[hole] = Slot{};
    --count_;
}

void TRowIndex::Clear() noexcept {
    std::vector<Slot>().swap(slots_);
    count_ = 0;
}

// ---------------------------------------------------------------------------------------------
// TTableEngine

void TTableEngine::Load(TRowStore rows) {
    store_ = std::move(rows);
    baseCount_ = store_.RowCount();
    viewBuilt_ = false;
    replaced_.clear();
    view_.clear();
    view_.shrink_to_fit();
    changes_.clear();
    changeOfRow_.Clear();
    loaded_ = true;
}

void TTableEngine::Clear() {
    store_.Clear();
    baseCount_ = 0;
    viewBuilt_ = false;
    replaced_.clear();
    view_.clear();
    view_.shrink_to_fit();
    changes_.clear();
    changeOfRow_.Clear();
    loaded_ = false;
}

TRowId TTableEngine::RowAt(int position) const {
    if (viewBuilt_)
        return view_.at(static_cast<std::size_t>(position));
    if (position < 0 || static_cast<std::size_t>(position) >= baseCount_)
        throw std::out_of_range("TTableEngine: no such position");
    if (!replaced_.empty()) {
        auto it = replaced_.find(position);
        if (it != replaced_.end())
            return it->second;
    }
    return static_cast<TRowId>(position);
}

void TTableEngine::SetRowAt(int position, TRowId row) {
    if (viewBuilt_)
        view_.at(static_cast<std::size_t>(position)) = row;
    else
        replaced_[position] = row;
}

void TTableEngine::BuildView() {
    if (viewBuilt_)
        return;
    view_.resize(baseCount_);
    for (std::size_t i = 0; i < baseCount_; ++i)
        view_[i] = static_cast<TRowId>(i);
    for (const auto& [position, row] : replaced_)
        view_[static_cast<std::size_t>(position)] = row;
    replaced_.clear();
    viewBuilt_ = true;
}

TValue TTableEngine::Value(int position, int field) const {
    return store_.Value(RowAt(position), field);
}

TUpdateStatus TTableEngine::Status(int position) const {
    const std::uint32_t* change = changeOfRow_.Find(RowAt(position));
    if (!change)
        return TUpdateStatus::usUnmodified;
    return changes_[*change].kind == TUpdateKind::ukInsert ? TUpdateStatus::usInserted
                                                           : TUpdateStatus::usModified;
}

const TChange* TTableEngine::ChangeAt(int position) const {
    if (position < 0 || position >= ViewCount())
        return nullptr;
    const std::uint32_t* change = changeOfRow_.Find(RowAt(position));
    return change ? &changes_[*change] : nullptr;
}

void TTableEngine::SetRefusals(const std::vector<TRefusal>& refusals) {
    for (TChange& change : changes_) {
        change.refusal.clear();
        change.refusedStatement.clear();
    }
    for (const TRefusal& refusal : refusals)
        if (refusal.position >= 0 && refusal.position < ChangeCount()) {
            TChange& change = changes_[static_cast<std::size_t>(refusal.position)];
            change.refusal = refusal.reason;
            change.refusedStatement = refusal.statement;
        }
}

int TTableEngine::RefusedCount() const noexcept {
    int count = 0;
    for (const TChange& change : changes_)
        count += change.refusal.empty() ? 0 : 1;
    return count;
}

TValue TTableEngine::CheckValue(int field, const TValue& value) const {
    const TFieldDef& def = Defs().at(static_cast<std::size_t>(field));
    // A CHAR value is held padded with blanks, as the database holds it.
    if (const auto* text = std::get_if<std::string>(&value); text && def.PadTo > 0) {
        std::size_t characters = 0;
        for (unsigned char c : *text)
            characters += (c & 0xC0) != 0x80;
        if (characters < static_cast<std::size_t>(def.PadTo))
            return CheckValue(field, *text + std::string(def.PadTo - characters, ' '));
    }
    auto outOfRange = [&](double v, double low, double high) {
        throw ETableEngineError(kOutOfRange, FormatG(v) + " は項目 '" + def.Name +
                                                 "' に適した値ではありません。" + FormatG(low) +
                                                 " から " + FormatG(high) + " の範囲が許されます");
    };
    if (auto* i = std::get_if<std::int64_t>(&value)) {
        if (def.DataType == TFieldType::ftSmallint && (*i < -32768 || *i > 32767))
            outOfRange(double(*i), -32768, 32767);
        if ((def.DataType == TFieldType::ftInteger || def.DataType == TFieldType::ftAutoInc) &&
            (*i < std::numeric_limits<std::int32_t>::min() ||
             *i > std::numeric_limits<std::int32_t>::max()))
            outOfRange(double(*i), std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max());
    }
    CheckDateTime(def, value);
    CheckFloat(def, value);
    CheckText(def, value);
    // Building a scratch row converts the value or refuses it.
    TRowStore scratch(std::vector<TFieldDef>{def});
    TRowStore::Builder builder(scratch);
    builder.Value(value);
    TRowId row = builder.Finish();
    TValue checked = scratch.Value(row, 0);
    if (auto* decimal = std::get_if<TBcd>(&checked)) {
        std::int64_t low = 0;
        std::int64_t high = 0;
        DecimalBounds(def, low, high);
        if (decimal->value < low || decimal->value > high)
            RaiseDecimalOutOfRange(def, DecimalText(decimal->value, decimal->scale));
    }
    return checked;
}

void TTableEngine::InsertRow(int position, const std::vector<TValue>& values,
                             const TFieldMask& written) {
    TRowId row = store_.Append(values);
    BuildView();
    view_.insert(view_.begin() + position, row);
    TChange change;
    change.kind = TUpdateKind::ukInsert;
    change.newRow = row;
    change.given = written;
    change.given.resize(values.size());
    changes_.push_back(std::move(change));
    changeOfRow_.Set(row, changes_.size() - 1);
}

void TTableEngine::ModifyRow(int position, const std::vector<TValue>& values,
                             const TFieldMask& written) {
    TRowId current = RowAt(position);
    TFieldMask changed;
    changed.resize(values.size());
    bool any = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (written[i] && !(values[i] == store_.Value(current, static_cast<int>(i)))) {
            changed.Set(i);
            any = true;
        }
    }
    if (!any)
        return;
    TRowId row = store_.Append(values);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!changed[i])
            store_.CopyWireText(current, row, static_cast<int>(i));
    SetRowAt(position, row);
    const std::uint32_t* logged = changeOfRow_.Find(current);
    if (!logged) {
        TChange change;
        change.kind = TUpdateKind::ukModify;
        change.oldRow = current;
        change.newRow = row;
        change.given = std::move(changed);
        changes_.push_back(std::move(change));
        changeOfRow_.Set(row, changes_.size() - 1);
        return;
    }
    std::size_t index = *logged;
    changeOfRow_.Erase(current);
    TChange& change = changes_[index];
    change.newRow = row;
    for (std::size_t i = 0; i < changed.size(); ++i)
        if (changed[i])
            change.given.Set(i);
    changeOfRow_.Set(row, index);
}

void TTableEngine::DeleteRow(int position) {
    TRowId current = RowAt(position);
    BuildView();
    view_.erase(view_.begin() + position);
    const std::uint32_t* logged = changeOfRow_.Find(current);
    if (!logged) {
        TChange change;
        change.kind = TUpdateKind::ukDelete;
        change.oldRow = current;
        changes_.push_back(std::move(change));
        return;
    }
    std::size_t index = *logged;
    changeOfRow_.Erase(current);
    TChange& change = changes_[index];
    if (change.kind == TUpdateKind::ukInsert) {
        // Never sent: nothing to tell the database.
        changes_.erase(changes_.begin() + static_cast<std::ptrdiff_t>(index));
        RebuildIndex();
        return;
    }
    change.kind = TUpdateKind::ukDelete;
    change.newRow = kNoRow;
    change.given.clear();
    change.refusal.clear(); // a delete is a change of its own, not yet sent
}

void TTableEngine::RebuildIndex() {
    changeOfRow_.Clear();
    for (std::size_t i = 0; i < changes_.size(); ++i)
        if (changes_[i].kind != TUpdateKind::ukDelete)
            changeOfRow_.Set(changes_[i].newRow, i);
}

void TTableEngine::AcceptAll() {
    changes_.clear();
    changeOfRow_.Clear();
}

void TTableEngine::Reconcile(const std::vector<int>& failedChanges,
                             const std::vector<int>& unconfirmed) {
    std::vector<int> failed = failedChanges;
    failed.insert(failed.end(), unconfirmed.begin(), unconfirmed.end());
    std::sort(failed.begin(), failed.end());
    failed.erase(std::unique(failed.begin(), failed.end()), failed.end());
    std::vector<TChange> kept;
    for (int index : failed) {
        if (index < 0 || index >= ChangeCount())
            continue;
        TChange& change = changes_[static_cast<std::size_t>(index)];
        change.unconfirmed =
            std::find(unconfirmed.begin(), unconfirmed.end(), index) != unconfirmed.end();
        kept.push_back(std::move(change));
    }
    changes_ = std::move(kept);
    RebuildIndex();
}

int TTableEngine::UnconfirmedCount() const noexcept {
    return static_cast<int>(std::count_if(changes_.begin(), changes_.end(),
                                          [](const TChange& c) { return c.unconfirmed; }));
}

void TTableEngine::TakeRowValues(
    const std::vector<std::pair<TRowId, std::vector<std::optional<TValue>>>>& rows) {
    if (rows.empty())
        return;
    std::unordered_map<TRowId, std::size_t> wanted;
    for (std::size_t i = 0; i < rows.size(); ++i)
        wanted[rows[i].first] = i;
    const int fieldCount = static_cast<int>(Defs().size());
    const int count = ViewCount();
    for (int position = 0; position < count; ++position) {
        TRowId id = RowAt(position);
        auto it = wanted.find(id);
        if (it == wanted.end() || changeOfRow_.Find(id))
            continue;
        const auto& given = rows[it->second].second;
        std::vector<TValue> values(static_cast<std::size_t>(fieldCount));
        for (int f = 0; f < fieldCount; ++f) {
            std::size_t i = static_cast<std::size_t>(f);
            values[i] = i < given.size() && given[i] ? *given[i] : store_.Value(id, f);
        }
        try {
            TRowId row = store_.Append(values);
            for (int f = 0; f < fieldCount; ++f)
                if (!(static_cast<std::size_t>(f) < given.size() &&
                      given[static_cast<std::size_t>(f)]))
                    store_.CopyWireText(id, row, f);
            SetRowAt(position, row);
        } catch (const ETableEngineError&) {
            // Values that do not fit the fields: the row keeps what it holds.
        }
    }
}

std::size_t TTableEngine::StoreBytes() const noexcept {
    return store_.BytesUsed() + view_.capacity() * sizeof(TRowId) +
           replaced_.size() * (sizeof(std::pair<int, TRowId>) + sizeof(void*)) +
           changes_.capacity() * sizeof(TChange);
}

} // namespace sorvanto
