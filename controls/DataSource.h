#pragma once

// The data source and the data link: how a control finds its dataset, follows its state and its
// records, and writes its pending input back. Plain C++; the widgets subclass TDataLink.

#include "Component.h"
#include "DataSet.h"
#include "Field.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sorvanto {

class TDataLink;

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TDataChangeEvent = std::function<void(TComponent* sender, TField* field)>;

// Connects a dataset with the links of the controls that show it: passes every data event of the
// dataset on to its links, and tells the dataset how many records the largest of them shows.
class TDataSource : public TComponent, public TDataSetObserver {
public:
    explicit TDataSource(std::string name = {});
    ~TDataSource() override;

    TDataSet* DataSet() const noexcept { return dataSet_; }
    // Fails with EDatabaseError, keeping the previous dataset, when dataSet takes its own data
    // from this source, directly or through other sources.
    void SetDataSet(TDataSet* dataSet);

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool value);

    // Whether Edit() puts a browsing dataset into edit state.
    bool AutoEdit = true;

    // The dataset's state while enabled and a dataset is set, else dsInactive.
    TDataSetState State() const noexcept { return state_; }

    // Puts the dataset into edit state when AutoEdit is set and the state is dsBrowse.
    void Edit();

    // Whether this source leads to dataSet: its own dataset, or the dataset of a source that
    // dataset takes its data from, and so on.
    bool IsLinkedTo(const TDataSet* dataSet) const;

    // After the links: the state changed; the data of the current record (a field, or nullptr for
    // the whole record) or the records changed; the controls wrote their pending input.
    TNotifyEvent OnStateChange;
    TDataChangeEvent OnDataChange;
    TNotifyEvent OnUpdateData;

    // TDataSetObserver
    void DataEvent(TDataEvent event, std::intptr_t info) override;
    int WantedBufferCount() const override;
    TDataSet* ObservedDataSet() const override { return dataSet_; }
    void DataSetDestroyed(TDataSet* dataSet) override;

private:
    friend class TDataLink;
    void AddLink(TDataLink* link);
    void RemoveLink(TDataLink* link);
    bool HasLink(const TDataLink* link) const;
    // Recomputes the state and tells the links when it changed.
    void UpdateState();
    // Sends the event to each link still attached when its turn comes.
    void NotifyLinks(TDataEvent event, std::intptr_t info);
    // Runs change, which may make dataSet resize its record window (around the current record,
    // without an event), and shifts the link windows of every source of dataSet along with the
    // records, so that they keep showing the same ones where the window allows.
    static void ResizingWindow(TDataSet* dataSet, const std::function<void()>& change);

    TDataSet* dataSet_ = nullptr;
    bool enabled_ = true;
    TDataSetState state_ = TDataSetState::dsInactive;
    std::vector<TDataLink*> links_;
};

// A control's connection to a data source. It follows the source's state (Active, Editing),
// keeps a window of BufferCount consecutive records of the dataset's record window that always
// holds the current record, and turns the data events into the control's reactions, the virtual
// methods below.
class TDataLink {
public:
    TDataLink() = default;
    // Detaches from the source without running any reaction.
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const noexcept { return source_; }
    void SetDataSource(TDataSource* source);
    // The source's dataset, or nullptr.
    TDataSet* DataSet() const noexcept { return source_ ? source_->DataSet() : nullptr; }

    bool ReadOnly() const noexcept { return readOnly_; }
    void SetReadOnly(bool value);

    // A source is set and its state is not dsInactive.
    bool Active() const noexcept { return active_; }
    // A source is set, its state is dsEdit or dsInsert, and the link is not read-only.
    bool Editing() const noexcept { return editing_; }

    int BufferCount() const noexcept { return bufferCount_; }
    // At least 1. The dataset resizes its record window to the largest count of its links.
    void SetBufferCount(int value);

    // The link window: the index of its first row in the dataset's record window, the number of
    // records it holds, and the row of the current record in it.
    int FirstRecord() const noexcept;
    int RecordCount() const noexcept;
    int ActiveRecord() const noexcept;
    // The dataset's BOF and EOF (spelt so because EOF is a C library macro).
    bool Bof() const noexcept;
    bool Eof() const noexcept;

    // Asks the source to put the dataset into edit state unless read-only; returns Editing.
    bool Edit();
    // Runs UpdateData(), with the updating flag set meanwhile: changes of the record that the
    // control's own writing causes do not come back to it as RecordChanged.
    void UpdateRecord();
    bool Updating() const noexcept { return updating_; }
    // Moves the dataset's current record; returns the distance moved.
    int MoveBy(int distance);

protected:
    // The control's reactions. An exception thrown here reaches the dataset operation that sent
    // the event.
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    // The records were read anew. Falls back to RecordChanged(nullptr).
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    // The current record moved; distance is how far the link window moved, in records, positive
    // towards the end. Falls back to DataSetChanged().
    virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
    // The fields changed. Falls back to DataSetChanged().
    virtual void LayoutChanged() { DataSetChanged(); }
    // A value of the current record (field), or the whole record (nullptr), changed.
    virtual void RecordChanged(TField* /*field*/) {}
    // Write the pending input into the record.
    virtual void UpdateData() {}
    virtual void FocusControl(TField* /*field*/) {}

private:
    friend class TDataSource;
    void DataEvent(TDataEvent event, std::intptr_t info);
    // Recomputes Active, then Editing, running the reactions for what changed.
    void UpdateState();
    // Removes the link from its source without running reactions; the dataset resizes its window.
    void Detach();
    // Moves the link window, after its start index shifted by `shift`, by the least number of
    // records so that it holds the current record and stays within the dataset window. Returns
    // how far it moved.
    int AdjustWindow(int shift);
    // The window start bounds for the current record: [lowest, highest].
    void StartBounds(int& lowest, int& highest) const noexcept;

    TDataSource* source_ = nullptr;
    bool readOnly_ = false;
    bool active_ = false;
    bool editing_ = false;
    bool updating_ = false;
    int bufferCount_ = 1;
    int firstRecord_ = 0;
};

} // namespace sorvanto
