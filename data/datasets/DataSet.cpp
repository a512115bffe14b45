#include "DataSet.h"

#include "Errors.h"
#include "ParamList.h"

#include <algorithm>

namespace sorvanto {

namespace {
constexpr const char* kClosed = "データセットは閉じているため, この操作は実行できません";
constexpr const char* kNotEditing = "データセットが編集または挿入モードではありません";
constexpr const char* kReadOnlyData = "書き込み禁止のデータは変更できません";
constexpr const char* kEmpty = "空のデータセットには, この操作は実行できません";
constexpr const char* kUnidirectional = "指定の操作は単方向データセットでは許されません";
} // namespace

TDataSet::~TDataSet() {
    for (TDataSetObserver* observer : std::vector(observers_))
        observer->DataSetDestroyed(this);
}

void TDataSet::DatabaseError(const std::string& message) const {
    throw EDatabaseError(ComponentMessage(Name(), message));
}

// ---------------------------------------------------------------------------------------------
// Observers and events

void TDataSet::AddObserver(TDataSetObserver* observer) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
    UpdateBufferCount();
}

void TDataSet::RemoveObserver(TDataSetObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
    UpdateBufferCount();
}

void TDataSet::SendEvent(TDataEvent event, std::intptr_t info) {
    for (TDataSetObserver* observer : std::vector(observers_))
        observer->DataEvent(event, info);
}

void TDataSet::SetState(TDataSetState state) {
    if (state == state_)
        return;
    state_ = state;
    modified_ = false;
    SendEvent(TDataEvent::deUpdateState);
}

void TDataSet::UpdateBufferCount() {
    int wanted = 1;
    for (TDataSetObserver* observer : observers_)
        wanted = std::max(wanted, observer->WantedBufferCount());
    if (wanted == bufferCount_)
        return;
    bufferCount_ = wanted;
    if (!Active() || window_.empty())
        return;
    if (state_ == TDataSetState::dsInsert) {
        // The new record stays in view; the window refills when the insert ends.
        while (static_cast<int>(window_.size()) > bufferCount_) {
            if (activeRecord_ > 0 && activeRecord_ == static_cast<int>(window_.size()) - 1) {
                window_.erase(window_.begin());
                --activeRecord_;
            } else {
                window_.pop_back();
            }
        }
        return;
    }
    FillWindowAround(window_[static_cast<size_t>(activeRecord_)],
                     std::min(activeRecord_, bufferCount_ - 1));
}

// ---------------------------------------------------------------------------------------------
// The record window

void TDataSet::ClearWindow() {
    window_.clear();
    activeRecord_ = 0;
}

void TDataSet::FillWindowAround(TRecordPos pos, int row) {
    window_.assign(1, pos);
    TRecordPos step = pos;
    TRecordPos found;
    int before = 0;
    while (before < row && GetPrior(step, found)) {
        window_.insert(window_.begin(), found);
        step = found;
        ++before;
    }
    step = pos;
    while (static_cast<int>(window_.size()) < bufferCount_ && GetNext(step, found)) {
        window_.push_back(found);
        step = found;
    }
    while (static_cast<int>(window_.size()) < bufferCount_ && GetPrior(window_.front(), found)) {
        window_.insert(window_.begin(), found);
        ++before;
    }
    activeRecord_ = before;
}

void TDataSet::FillFromFirst() {
    TRecordPos pos;
    if (GetFirst(pos))
        FillWindowAround(pos, 0);
    else
        ClearWindow();
}

void TDataSet::FillFromLast() {
    TRecordPos pos;
    if (GetLast(pos))
        FillWindowAround(pos, bufferCount_ - 1);
    else
        ClearWindow();
}

bool TDataSet::CurrentPos(TRecordPos& pos) const {
    if (window_.empty())
        return false;
    pos = window_[static_cast<size_t>(activeRecord_)];
    return true;
}

void TDataSet::ResyncAround(TRecordPos pos, int row) {
    FillWindowAround(pos, std::clamp(row, 0, bufferCount_ - 1));
    SendEvent(TDataEvent::deDataSetChange);
}

void TDataSet::MoveTo(TRecordPos pos, int row) {
    bof_ = eof_ = false;
    ResyncAround(pos, row);
}

void TDataSet::ResyncAroundOrEmpty(bool any, TRecordPos pos, int row) {
    if (any) {
        ResyncAround(pos, row);
        return;
    }
    ClearWindow();
    bof_ = eof_ = true;
    SendEvent(TDataEvent::deDataSetChange);
}

void TDataSet::Resync() {
    TRecordPos pos;
    if (CurrentPos(pos) && pos != kNewRecord)
        FillWindowAround(pos, activeRecord_);
    SendEvent(TDataEvent::deDataSetChange);
}

TValue TDataSet::WindowValue(int windowRow, const TField& field) const {
    if (windowRow < 0 || windowRow >= static_cast<int>(window_.size()))
        return {};
    bool editing = state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert;
    if (editing && windowRow == activeRecord_)
        return editBuffer_.at(static_cast<size_t>(field.Index()));
    return GetRecordValue(window_[static_cast<size_t>(windowRow)], field.Index());
}

bool TDataSet::WindowPos(int windowRow, TRecordPos& pos) const {
    if (windowRow < 0 || windowRow >= static_cast<int>(window_.size()))
        return false;
    pos = window_[static_cast<size_t>(windowRow)];
    return pos != kNewRecord;
}

// ---------------------------------------------------------------------------------------------
// Fields

void TDataSet::CreateFields(const std::vector<TFieldDef>& defs) {
    fields_.clear();
    fields_.reserve(defs.size());
    for (size_t i = 0; i < defs.size(); ++i)
        fields_.push_back(std::make_unique<TField>(*this, defs[i], static_cast<int>(i)));
}

void TDataSet::DestroyFields() {
    fields_.clear();
}

TField* TDataSet::FindField(const std::string& name) const {
    for (const auto& field : fields_)
        if (SameText(field->FieldName(), name))
            return field.get();
    return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
    if (TField* field = FindField(name))
        return *field;
    DatabaseError("項目 '" + name + "' が見つかりません");
}

TValue TDataSet::GetFieldValue(const TField& field) const {
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
        return editBuffer_.at(static_cast<size_t>(field.Index()));
    TRecordPos pos;
    if (!CurrentPos(pos))
        return {};
    return GetRecordValue(pos, field.Index());
}

void TDataSet::SetFieldValue(TField& field, const TValue& value) {
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        DatabaseError(kNotEditing);
    if (field.ReadOnly())
        throw EDatabaseError("項目 '" + field.DisplayName() + "' は変更できません");
    if (std::string reason = FieldNotEditable(field); !reason.empty())
        throw EDatabaseError(reason);
    TValue checked = value;
    CheckFieldValue(field, checked);
    editBuffer_.at(static_cast<size_t>(field.Index())) = std::move(checked);
    written_.Set(static_cast<size_t>(field.Index()));
    modified_ = true;
    SendEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&field));
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TDataSet::CloseForDestruction() noexcept {
    BeginDestroy();
    try {
        Close();
    } catch (...) {
        // Nothing to report from a destructor.
    }
}

void TDataSet::SetActive(bool value) {
    if (value == Active())
        return;
    if (value) {
        try {
            InternalOpen();
            bof_ = true;
            FillFromFirst();
            eof_ = window_.empty();
        } catch (...) {
            ClearWindow();
            DestroyFields();
            try {
                InternalClose();
            } catch (...) {
                // The opening's own failure is the one to report.
            }
            throw;
        }
        SetState(TDataSetState::dsBrowse);
    } else {
        SetState(TDataSetState::dsInactive);
        ClearWindow();
        editBuffer_.clear();
        bof_ = eof_ = false;
        DestroyFields();
        InternalClose();
    }
}

// ---------------------------------------------------------------------------------------------
// Moving

void TDataSet::CheckBrowseMode() {
    if (!Active())
        DatabaseError(kClosed);
    SendEvent(TDataEvent::deCheckBrowseMode);
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
        UpdateRecord();
        if (modified_)
            Post();
        else
            Cancel();
    }
}

void TDataSet::UpdateRecord() {
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        DatabaseError(kNotEditing);
    SendEvent(TDataEvent::deUpdateRecord);
}

void TDataSet::First() {
    CheckBrowseMode();
    if (IsUnidirectional() && !bof_)
        DatabaseError(kUnidirectional);
    FillFromFirst();
    bof_ = true;
    eof_ = window_.empty();
    SendEvent(TDataEvent::deDataSetChange);
}

void TDataSet::Last() {
    CheckBrowseMode();
    if (IsUnidirectional())
        DatabaseError(kUnidirectional);
    FillFromLast();
    eof_ = true;
    bof_ = window_.empty();
    SendEvent(TDataEvent::deDataSetChange);
}

int TDataSet::MoveBy(int distance) {
    CheckBrowseMode();
    if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_))
        return 0;
    if (distance < 0 && IsUnidirectional())
        DatabaseError(kUnidirectional);
    bof_ = eof_ = false;
    const size_t oldCount = window_.size();
    int scrolled = 0; // positive towards the end
    int moved = 0;
    const int steps = distance > 0 ? distance : -distance;
    TRecordPos found;
    for (int i = 0; i < steps; ++i) {
        int last = static_cast<int>(window_.size()) - 1;
        if (distance > 0) {
            if (activeRecord_ < last) {
                ++activeRecord_;
            } else if (!window_.empty() && GetNext(window_.back(), found)) {
                if (static_cast<int>(window_.size()) >= bufferCount_) {
                    window_.erase(window_.begin());
                    ++scrolled;
                }
                window_.push_back(found);
                activeRecord_ = static_cast<int>(window_.size()) - 1;
            } else {
                eof_ = true;
                break;
            }
        } else {
            if (activeRecord_ > 0) {
                --activeRecord_;
            } else if (!window_.empty() && GetPrior(window_.front(), found)) {
                if (static_cast<int>(window_.size()) >= bufferCount_) {
                    window_.pop_back();
                    --scrolled;
                }
                window_.insert(window_.begin(), found);
                activeRecord_ = 0;
            } else {
                bof_ = true;
                break;
            }
        }
        ++moved;
    }
    if (window_.size() == oldCount)
        SendEvent(TDataEvent::deDataSetScroll, -scrolled);
    else
        SendEvent(TDataEvent::deDataSetChange);
    return distance > 0 ? moved : -moved;
}

// ---------------------------------------------------------------------------------------------
// Editing

void TDataSet::Edit() {
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
        return;
    if (IsEmpty()) {
        Insert();
        return;
    }
    CheckBrowseMode();
    if (!CanModify())
        DatabaseError(kReadOnlyData);
    TRecordPos pos = 0;
    CurrentPos(pos);
    InternalEdit(pos);
    editBuffer_.resize(fields_.size());
    written_.clear();
    written_.resize(fields_.size());
    for (size_t i = 0; i < fields_.size(); ++i)
        editBuffer_[i] = GetRecordValue(pos, static_cast<int>(i));
    SetState(TDataSetState::dsEdit);
    SendEvent(TDataEvent::deRecordChange, 0);
}

void TDataSet::DoInsert(bool append) {
    CheckBrowseMode();
    if (!CanModify())
        DatabaseError(kReadOnlyData);
    InternalInsert(append);
    editBuffer_.assign(fields_.size(), TValue());
    written_.clear();
    written_.resize(fields_.size());
    appending_ = append || window_.empty();
    if (append) {
        FillFromLast();
        if (static_cast<int>(window_.size()) >= bufferCount_ && !window_.empty())
            window_.erase(window_.begin());
        window_.push_back(kNewRecord);
        activeRecord_ = static_cast<int>(window_.size()) - 1;
        insertBefore_ = kNewRecord;
    } else if (window_.empty()) {
        window_.push_back(kNewRecord);
        activeRecord_ = 0;
        insertBefore_ = kNewRecord;
    } else {
        insertBefore_ = window_[static_cast<size_t>(activeRecord_)];
        window_.insert(window_.begin() + activeRecord_, kNewRecord);
        if (static_cast<int>(window_.size()) > bufferCount_)
            window_.pop_back();
    }
    // An appended record stands past the last one: the dataset is at its end.
    bof_ = false;
    eof_ = append;
    SetState(TDataSetState::dsInsert);
    modified_ = false;
    SendEvent(TDataEvent::deDataSetChange);
}

void TDataSet::Post() {
    UpdateRecord();
    SendEvent(TDataEvent::deCheckBrowseMode);
    bool inserting = state_ == TDataSetState::dsInsert;
    TRecordPos current = inserting ? insertBefore_ : window_[static_cast<size_t>(activeRecord_)];
    TRecordPos posted = InternalPost(current, inserting, appending_);
    int row = activeRecord_;
    SetState(TDataSetState::dsBrowse);
    editBuffer_.clear();
    ResyncAround(posted, row);
}

void TDataSet::Cancel() {
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return;
    SendEvent(TDataEvent::deCheckBrowseMode);
    bool inserting = state_ == TDataSetState::dsInsert;
    InternalCancel();
    int row = activeRecord_;
    SetState(TDataSetState::dsBrowse);
    editBuffer_.clear();
    TRecordPos pos;
    if (inserting) {
        // The new record disappears; the record it stood before becomes current again.
        window_.erase(window_.begin() + activeRecord_);
        if (insertBefore_ != kNewRecord) {
            ResyncAround(insertBefore_, row);
        } else {
            // GetLast writes pos: call it before pos is read as an argument.
            bool any = GetLast(pos);
            ResyncAroundOrEmpty(any, pos, row);
        }
        return;
    }
    Resync();
}

void TDataSet::Delete() {
    if (!Active())
        DatabaseError(kClosed);
    if (state_ == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (IsEmpty())
        DatabaseError(kEmpty);
    SendEvent(TDataEvent::deCheckBrowseMode);
    TRecordPos pos = window_[static_cast<size_t>(activeRecord_)];
    TRecordPos next;
    bool any = InternalDelete(pos, next);
    int row = activeRecord_;
    if (state_ == TDataSetState::dsEdit) {
        SetState(TDataSetState::dsBrowse);
        editBuffer_.clear();
    }
    ResyncAroundOrEmpty(any, next, row);
}

bool TDataSet::InternalRefresh(TRecordPos current, TRecordPos& pos) {
    pos = current;
    return true;
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    TRecordPos current = 0;
    bool hadCurrent = CurrentPos(current);
    int row = activeRecord_;
    TRecordPos pos;
    bool any;
    try {
        any = InternalRefresh(hadCurrent ? current : 0, pos);
    } catch (...) {
        Resync();
        throw;
    }
    // The rows were read anew: the current one may no longer be the first or the last.
    bof_ = eof_ = false;
    ResyncAroundOrEmpty(any, pos, row);
}

} // namespace sorvanto
