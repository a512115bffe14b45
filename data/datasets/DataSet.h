#pragma once

#include "Component.h"
#include "Field.h"
#include "FieldMask.h"
#include "Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sorvanto {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

enum class TDataEvent {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
    deParentScroll,
    deConnectChange,
    deReconcileError,
    deDisabledStateChange,
};

class TDataSet;

// What a dataset tells: a data source receives every data event of its dataset and tells the
// dataset how many records its controls want to show at once.
class TDataSetObserver {
public:
    virtual ~TDataSetObserver() = default;
    // info: the field (a TField*, or 0 for none) of field events, the distance of a scroll.
    virtual void DataEvent(TDataEvent event, std::intptr_t info) = 0;
    // The largest number of records any control attached through this observer shows at once.
    virtual int WantedBufferCount() const = 0;
    // The dataset the observer serves (for the circular reference check).
    virtual TDataSet* ObservedDataSet() const = 0;
    // The dataset is being destroyed: forget it.
    virtual void DataSetDestroyed(TDataSet* dataSet) = 0;
};

// A dataset: a state, a current record, a window of consecutive records for the controls,
// BOF and EOF, and the operations that move through and change the records, each sending its
// data events to the attached observers. A concrete dataset supplies its records through the
// protected interface.
class TDataSet : public TComponent {
public:
    // A record's place, as the concrete dataset numbers them.
    using TRecordPos = std::int64_t;
    static constexpr TRecordPos kNewRecord = -1;

    explicit TDataSet(std::string name = {}) : TComponent(std::move(name)) {}
    ~TDataSet() override;

    TDataSetState State() const noexcept { return state_; }
    bool Active() const noexcept { return state_ != TDataSetState::dsInactive; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }

    // BOF and EOF (EOF is a C library macro, so the names are spelt Bof and Eof).
    bool Bof() const noexcept { return bof_; }
    bool Eof() const noexcept { return eof_; }
    bool Modified() const noexcept { return modified_; }
    bool IsEmpty() const noexcept { return window_.empty(); }
    virtual bool CanModify() const { return Active(); }

    // The record window.
    int BufferCount() const noexcept { return bufferCount_; }
    int ActiveRecord() const noexcept { return activeRecord_; }
    int WindowRecordCount() const noexcept { return static_cast<int>(window_.size()); }
    // A field's value in the record at a window position.
    TValue WindowValue(int windowRow, const TField& field) const;
    // What the record at a window position holds that the database does not: whether it carries
    // a change not yet applied, and the database's reason when the last apply refused that change
    // (empty when it was not refused). A dataset without a change log has neither.
    virtual bool WindowRecordPending(int /*windowRow*/) const { return false; }
    virtual std::string WindowRecordRefusal(int /*windowRow*/) const { return {}; }
    // The statement the database refused for that record's change, for a maintainer's eyes.
    virtual std::string WindowRecordRefusedStatement(int /*windowRow*/) const { return {}; }
    // Why the current record's value of the field may not be changed although the field may
    // (a value that did not read as text); empty when it may.
    virtual std::string FieldNotEditable(const TField& /*field*/) const { return {}; }
    // Recomputes the window size from the observers: the largest wanted count, at least 1.
    void UpdateBufferCount();

    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int distance);
    virtual int RecordCount() const { return WindowRecordCount(); }
    virtual int RecNo() const { return -1; }
    virtual void SetRecNo(int) {}
    // Whether RecNo numbers the records in order, so a scroll bar can stand for them.
    virtual bool IsSequenced() const { return false; }
    // A field's value in the record numbered recNo (as RecNo counts them), read without moving
    // the current record and without events; false when the dataset cannot read records by
    // number or there is no such record. The record being edited reads as it is stored.
    virtual bool RecordValue(int /*recNo*/, const TField& /*field*/, TValue& /*value*/) const {
        return false;
    }

    void Edit();
    void Insert() { DoInsert(false); }
    void Append() { DoInsert(true); }
    void Post();
    void Cancel();
    void Delete();
    virtual void Refresh();
    void CheckBrowseMode();
    void UpdateRecord();
    void Resync();

    // Fields of the open dataset, in column order.
    int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
    TField& Fields(int index) const { return *fields_.at(static_cast<size_t>(index)); }
    TField* FindField(const std::string& name) const;
    TField& FieldByName(const std::string& name) const;

    // Field values of the current record; used by TField.
    TValue GetFieldValue(const TField& field) const;
    void SetFieldValue(TField& field, const TValue& value);

    // Observers (data sources).
    void AddObserver(TDataSetObserver* observer);
    void RemoveObserver(TDataSetObserver* observer);
    // The data source this dataset takes values from, if any.
    virtual TDataSetObserver* MasterSource() const { return nullptr; }

    // Raises EDatabaseError "<Name>: <message>".
    [[noreturn]] void DatabaseError(const std::string& message) const;

protected:
    // Reads the records and creates the fields (CreateFields).
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    // Cursor over the records in view order.
    virtual bool GetFirst(TRecordPos& pos) = 0;
    virtual bool GetLast(TRecordPos& pos) = 0;
    virtual bool GetNext(TRecordPos from, TRecordPos& pos) = 0;
    virtual bool GetPrior(TRecordPos from, TRecordPos& pos) = 0;
    virtual TValue GetRecordValue(TRecordPos pos, int field) const = 0;
    virtual bool IsUnidirectional() const { return false; }
    // The concrete parts of the operations. Each may refuse by raising.
    virtual void InternalEdit(TRecordPos) {}
    virtual void InternalInsert(bool /*append*/) {}
    // Records the edited record; returns the position of the posted record.
    virtual TRecordPos InternalPost(TRecordPos current, bool inserting, bool append) = 0;
    virtual void InternalCancel() {}
    // Deletes the record; returns the position that becomes current, or false when none.
    virtual bool InternalDelete(TRecordPos pos, TRecordPos& next) = 0;
    // Reads the records anew; returns the position that becomes current, or false when none.
    virtual bool InternalRefresh(TRecordPos current, TRecordPos& pos);
    // Checks (and may adjust) a value before it is written into the edited record.
    virtual void CheckFieldValue(const TField&, TValue&) {}

    void CreateFields(const std::vector<TFieldDef>& defs);
    void DestroyFields();
    void SendEvent(TDataEvent event, std::intptr_t info = 0);
    void SetState(TDataSetState state);
    // The record being edited or inserted, one value per field.
    std::vector<TValue>& EditBuffer() noexcept { return editBuffer_; }
    const std::vector<TValue>& EditBuffer() const noexcept { return editBuffer_; }
    // Per field: written since the edit or insert began.
    const TFieldMask& EditWritten() const noexcept { return written_; }
    // The current record's position (kNewRecord while inserting), or false when there is none.
    bool CurrentPos(TRecordPos& pos) const;
    // The position of the record at a window position; false when there is none there, or when
    // it is the record being inserted.
    bool WindowPos(int windowRow, TRecordPos& pos) const;
    // Rebuilds the window around pos, which is placed at window row `row` where the records allow.
    void FillWindowAround(TRecordPos pos, int row);
    void ClearWindow();
    // Rebuilds the window around pos at window row `row` and sends deDataSetChange.
    void ResyncAround(TRecordPos pos, int row);
    // Moves to pos as a move that starts: clears BOF and EOF, then rebuilds the window around it.
    void MoveTo(TRecordPos pos, int row);
    // The same, or, when there is no record left (any false), an empty window at BOF and EOF.
    void ResyncAroundOrEmpty(bool any, TRecordPos pos, int row);
    bool Destroying() const noexcept { return destroying_; }
    void BeginDestroy() noexcept { destroying_ = true; }
    // For a destructor: marks the dataset as being destroyed and closes it; a failure to close
    // has nobody to be reported to, and what was held goes with the dataset anyway.
    void CloseForDestruction() noexcept;

private:
    void DoInsert(bool append);
    void FillFromFirst();
    void FillFromLast();

    TDataSetState state_ = TDataSetState::dsInactive;
    bool bof_ = false;
    bool eof_ = false;
    bool modified_ = false;
    bool destroying_ = false;
    int bufferCount_ = 1;
    std::vector<TRecordPos> window_;
    int activeRecord_ = 0;
    // While inserting: where the new record goes and whether it is appended.
    bool appending_ = false;
    TRecordPos insertBefore_ = kNewRecord;
    std::vector<TValue> editBuffer_;
    TFieldMask written_;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<TDataSetObserver*> observers_;
};

} // namespace sorvanto
