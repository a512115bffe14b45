#include "DataSource.h"

#include "Errors.h"
#include "ScopeExit.h"

#include <algorithm>

namespace sorvanto {

namespace {
constexpr const char* kCircularDataLink = "データ間の循環参照は許されません";

bool IsEditState(TDataSetState state) noexcept {
    return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
}

// Every data source, to find all those of a dataset whose record window was resized.
std::vector<TDataSource*>& AllSources() {
    static std::vector<TDataSource*> sources;
    return sources;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(std::string name) : TComponent(std::move(name)) {
    AllSources().push_back(this);
}

TDataSource::~TDataSource() {
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    OnUpdateData = nullptr;
    while (!links_.empty()) {
        try {
            links_.back()->SetDataSource(nullptr);
        } catch (...) {
            // The link is detached before its reactions run; a failing reaction cannot stop
            // the source from going away.
        }
    }
    if (TDataSet* dataSet = dataSet_)
        ResizingWindow(dataSet, [&] { dataSet->RemoveObserver(this); });
    auto& sources = AllSources();
    sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
}

void TDataSource::ResizingWindow(TDataSet* dataSet, const std::function<void()>& change) {
    if (!dataSet) {
        change();
        return;
    }
    const int before = dataSet->ActiveRecord();
    change();
    // The window is rebuilt around the same current record: every record kept moved as far.
    const int shift = dataSet->ActiveRecord() - before;
    for (TDataSource* source : AllSources())
        if (source->dataSet_ == dataSet)
            for (TDataLink* link : source->links_)
                if (link->active_)
                    link->AdjustWindow(shift);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_)
        return;
    // The new dataset must not take its data from this source, directly or through others.
    std::vector<const TDataSet*> seen;
    for (const TDataSet* step = dataSet;
         step && std::find(seen.begin(), seen.end(), step) == seen.end();) {
        seen.push_back(step);
        TDataSetObserver* master = step->MasterSource();
        if (!master)
            break;
        if (master == this)
            throw EDatabaseError(kCircularDataLink);
        step = master->ObservedDataSet();
    }
    if (TDataSet* old = dataSet_) {
        ResizingWindow(old, [&] {
            old->RemoveObserver(this);
            dataSet_ = nullptr;
        });
        UpdateState();
    }
    if (dataSet) {
        ResizingWindow(dataSet, [&] {
            dataSet_ = dataSet;
            dataSet->AddObserver(this);
        });
        UpdateState();
    }
}

void TDataSource::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    UpdateState();
}

void TDataSource::Edit() {
    if (AutoEdit && state_ == TDataSetState::dsBrowse)
        dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(const TDataSet* dataSet) const {
    std::vector<const TDataSet*> seen;
    for (const TDataSet* step = dataSet_;
         step && std::find(seen.begin(), seen.end(), step) == seen.end();) {
        if (step == dataSet)
            return true;
        seen.push_back(step);
        TDataSetObserver* master = step->MasterSource();
        if (!master)
            break;
        step = master->ObservedDataSet();
    }
    return false;
}

void TDataSource::UpdateState() {
    TDataSetState state = enabled_ && dataSet_ ? dataSet_->State() : TDataSetState::dsInactive;
    if (state == state_)
        return;
    state_ = state;
    NotifyLinks(TDataEvent::deUpdateState, 0);
    if (OnStateChange)
        OnStateChange(this);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
    if (event == TDataEvent::deUpdateState) {
        // The links follow the source's state, which tells them whenever it changes.
        UpdateState();
        return;
    }
    NotifyLinks(event, info);
    if (state_ == TDataSetState::dsInactive)
        return;
    switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
        if (OnDataChange)
            OnDataChange(this, reinterpret_cast<TField*>(info));
        break;
    case TDataEvent::deDataSetChange:
    case TDataEvent::deDataSetScroll:
    case TDataEvent::deLayoutChange:
        if (OnDataChange)
            OnDataChange(this, nullptr);
        break;
    case TDataEvent::deUpdateRecord:
        if (OnUpdateData)
            OnUpdateData(this);
        break;
    default:
        break;
    }
}

void TDataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
    // A reaction may detach links, its own or others; those still attached get the event.
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links)
        if (HasLink(link))
            link->DataEvent(event, info);
}

int TDataSource::WantedBufferCount() const {
    int wanted = 1;
    for (const TDataLink* link : links_)
        wanted = std::max(wanted, link->BufferCount());
    return wanted;
}

void TDataSource::DataSetDestroyed(TDataSet* dataSet) {
    if (dataSet != dataSet_ || !dataSet)
        return;
    dataSet_ = nullptr;
    UpdateState();
}

void TDataSource::AddLink(TDataLink* link) {
    if (!HasLink(link))
        links_.push_back(link);
}

void TDataSource::RemoveLink(TDataLink* link) {
    links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

bool TDataSource::HasLink(const TDataLink* link) const {
    return std::find(links_.begin(), links_.end(), link) != links_.end();
}

// ---------------------------------------------------------------------------------------------
// TDataLink

TDataLink::~TDataLink() {
    Detach();
}

void TDataLink::Detach() {
    TDataSource* old = source_;
    if (!old)
        return;
    old->RemoveLink(this);
    source_ = nullptr;
    if (TDataSet* dataSet = old->DataSet())
        TDataSource::ResizingWindow(dataSet, [dataSet] { dataSet->UpdateBufferCount(); });
}

void TDataLink::SetDataSource(TDataSource* source) {
    if (source == source_)
        return;
    if (source_) {
        Detach();
        UpdateState();
    }
    if (source) {
        source_ = source;
        source->AddLink(this);
        if (TDataSet* dataSet = source->DataSet())
            TDataSource::ResizingWindow(dataSet, [dataSet] { dataSet->UpdateBufferCount(); });
        UpdateState();
    }
}

void TDataLink::SetReadOnly(bool value) {
    if (value == readOnly_)
        return;
    readOnly_ = value;
    UpdateState();
}

void TDataLink::SetBufferCount(int value) {
    value = std::max(value, 1);
    if (value == bufferCount_)
        return;
    bufferCount_ = value;
    if (TDataSet* dataSet = DataSet())
        TDataSource::ResizingWindow(dataSet, [dataSet] { dataSet->UpdateBufferCount(); });
}

void TDataLink::UpdateState() {
    const bool active = source_ && source_->State() != TDataSetState::dsInactive;
    if (active != active_) {
        active_ = active;
        firstRecord_ = 0;
        if (active)
            AdjustWindow(0);
        ActiveChanged();
    }
    const bool editing = active_ && !readOnly_ && IsEditState(source_->State());
    if (editing != editing_) {
        editing_ = editing;
        EditingChanged();
    }
}

void TDataLink::StartBounds(int& lowest, int& highest) const noexcept {
    lowest = highest = 0;
    const TDataSet* dataSet = DataSet();
    if (!active_ || !dataSet)
        return;
    const int current = dataSet->ActiveRecord();
    const int count = dataSet->WindowRecordCount();
    lowest = std::max(current - bufferCount_ + 1, 0);
    highest = std::max(std::min(current, count - bufferCount_), lowest);
}

int TDataLink::AdjustWindow(int shift) {
    const int shifted = firstRecord_ + shift;
    int lowest, highest;
    StartBounds(lowest, highest);
    firstRecord_ = std::clamp(shifted, lowest, highest);
    return firstRecord_ - shifted;
}

int TDataLink::FirstRecord() const noexcept {
    // Between a change of the dataset window and its event (a reaction to a state change, say)
    // the stored start may lie outside the bounds.
    int lowest, highest;
    StartBounds(lowest, highest);
    return std::clamp(firstRecord_, lowest, highest);
}

int TDataLink::RecordCount() const noexcept {
    const TDataSet* dataSet = DataSet();
    if (!active_ || !dataSet)
        return 0;
    return std::clamp(dataSet->WindowRecordCount() - FirstRecord(), 0, bufferCount_);
}

int TDataLink::ActiveRecord() const noexcept {
    const TDataSet* dataSet = DataSet();
    if (!active_ || !dataSet)
        return 0;
    return dataSet->ActiveRecord() - FirstRecord();
}

bool TDataLink::Bof() const noexcept {
    const TDataSet* dataSet = DataSet();
    return dataSet && dataSet->Bof();
}

bool TDataLink::Eof() const noexcept {
    const TDataSet* dataSet = DataSet();
    return dataSet && dataSet->Eof();
}

bool TDataLink::Edit() {
    if (!readOnly_ && source_)
        source_->Edit();
    return editing_;
}

void TDataLink::UpdateRecord() {
    updating_ = true;
    const TScopeExit reset([this] { updating_ = false; });
    UpdateData();
}

int TDataLink::MoveBy(int distance) {
    TDataSet* dataSet = DataSet();
    return dataSet ? dataSet->MoveBy(distance) : 0;
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
    if (event == TDataEvent::deUpdateState) {
        UpdateState();
        return;
    }
    if (!active_ || !source_ || source_->State() == TDataSetState::dsInactive)
        return;
    switch (event) {
    case TDataEvent::deFieldChange:
    case TDataEvent::deRecordChange:
        if (!updating_)
            RecordChanged(reinterpret_cast<TField*>(info));
        break;
    case TDataEvent::deDataSetChange:
        AdjustWindow(0);
        DataSetChanged();
        break;
    case TDataEvent::deDataSetScroll:
        // info is minus the records the dataset window scrolled towards the end: the rows the
        // link window held moved that far inside the dataset window.
        DataSetScrolled(AdjustWindow(static_cast<int>(info)));
        break;
    case TDataEvent::deLayoutChange:
        AdjustWindow(0);
        LayoutChanged();
        break;
    case TDataEvent::deUpdateRecord:
        UpdateRecord();
        break;
    case TDataEvent::deFocusControl:
        FocusControl(reinterpret_cast<TField*>(info));
        break;
    default:
        break;
    }
}

} // namespace sorvanto
