#include "DataSource.h"
#include "Errors.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace sorvanto;

namespace {

using Log = std::vector<std::string>;

std::string FieldArg(const TField* field) {
    return field ? field->FieldName() : "-";
}

// A control's link that notes each reaction with its argument, then runs onReaction with the
// note: the control's own work there (writing its input, looking at its window, failing).
class RecordingLink : public TDataLink {
public:
    explicit RecordingLink(int bufferCount = 1) { SetBufferCount(bufferCount); }

    Log Take() { return std::exchange(log_, {}); }
    std::function<void(const std::string& reaction)> onReaction;

protected:
    void ActiveChanged() override {
        Note(std::string("ActiveChanged:") + (Active() ? "on" : "off"));
    }
    void EditingChanged() override {
        Note(std::string("EditingChanged:") + (Editing() ? "on" : "off"));
    }
    void DataSetChanged() override { Note("DataSetChanged"); }
    void DataSetScrolled(int distance) override {
        Note("DataSetScrolled:" + std::to_string(distance));
    }
    void LayoutChanged() override { Note("LayoutChanged"); }
    void RecordChanged(TField* field) override { Note("RecordChanged:" + FieldArg(field)); }
    void UpdateData() override { Note("UpdateData"); }
    void FocusControl(TField* field) override { Note("FocusControl:" + FieldArg(field)); }

private:
    void Note(std::string entry) {
        log_.push_back(entry);
        if (onReaction)
            onReaction(entry);
    }
    Log log_;
};

// Twenty rows, ID 1 to 20, opened as a cached table.
class DataLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("links.fdb");
        test::CreateDatabase(path_,
                             {"create table T (ID integer not null primary key, NAME varchar(20))",
                              "execute block as declare i integer = 1; begin "
                              "while (i <= 20) do begin insert into T values (:i, 'row ' || :i); "
                              "i = i + 1; end end"});
        table_ = test::OpenTable(path_, "T");
        ASSERT_EQ(table_->RecordCount(), 20);
    }

    std::int64_t IdAt(int windowRow) const {
        return std::get<std::int64_t>(table_->WindowValue(windowRow, table_->FieldByName("ID")));
    }

    test::TempDir dir_;
    std::string path_;
    std::unique_ptr<TSimpleDataSet> table_;
};

TEST_F(DataLinkTest, SourceStateFollowsEnabledAndDataSet) {
    TDataSource source("DataSource1");
    int stateChanges = 0;
    source.OnStateChange = [&](TComponent* sender) {
        EXPECT_EQ(sender, &source);
        ++stateChanges;
    };
    RecordingLink link;
    link.SetDataSource(&source);
    EXPECT_EQ(source.State(), TDataSetState::dsInactive);
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(link.Take(), Log{});

    source.SetDataSet(table_.get());
    EXPECT_EQ(source.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(link.Take(), Log{"ActiveChanged:on"});
    table_->Edit();
    EXPECT_EQ(link.Take(), (Log{"EditingChanged:on", "RecordChanged:-"}));
    EXPECT_EQ(stateChanges, 2);

    // Disabled: inactive whatever the dataset does, and nothing reaches the links.
    source.SetEnabled(false);
    EXPECT_EQ(table_->State(), TDataSetState::dsEdit);
    EXPECT_EQ(source.State(), TDataSetState::dsInactive);
    EXPECT_FALSE(link.Active());
    EXPECT_FALSE(link.Editing());
    EXPECT_EQ(link.Take(), (Log{"ActiveChanged:off", "EditingChanged:off"}));
    table_->FieldByName("NAME").SetValue(std::string("x"));
    source.SetEnabled(false);
    EXPECT_EQ(link.Take(), Log{});
    EXPECT_EQ(stateChanges, 3);

    source.SetEnabled(true);
    EXPECT_EQ(source.State(), TDataSetState::dsEdit);
    EXPECT_TRUE(link.Editing());
    EXPECT_EQ(link.Take(), (Log{"ActiveChanged:on", "EditingChanged:on"}));
    source.SetEnabled(true);
    EXPECT_EQ(link.Take(), Log{});
    EXPECT_EQ(stateChanges, 4);

    // The dataset leaving edit state while the source is disabled is noticed on enabling.
    source.SetEnabled(false);
    table_->Cancel();
    EXPECT_EQ(source.State(), TDataSetState::dsInactive);
    link.Take();
    source.SetEnabled(true);
    EXPECT_EQ(source.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(link.Take(), Log{"ActiveChanged:on"});

    source.SetDataSet(nullptr);
    EXPECT_EQ(source.State(), TDataSetState::dsInactive);
    EXPECT_EQ(link.Take(), Log{"ActiveChanged:off"});
    EXPECT_EQ(stateChanges, 7);
}

// A link of five rows alone on its dataset, so the two windows are the same: when the dataset
// window scrolls the link window moves with it and the link is told how far; a move inside the
// window tells 0.
TEST_F(DataLinkTest, ScrollTellsHowFarTheLinkWindowMoved) {
    TDataSource source;
    source.SetDataSet(table_.get());
    RecordingLink link(5);
    link.SetDataSource(&source);
    ASSERT_EQ(table_->BufferCount(), 5);

    struct Step {
        int moveBy;
        int scrolled;
        int activeRecord;
    };
    const Step steps[] = {
        {1, 0, 1},   {3, 0, 4}, // within the window, down to its bottom row
        {1, 1, 4},              // Next on the bottom row
        {3, 3, 4},   {-1, 0, 3}, {-3, 0, 0}, {-1, -1, 0}, // Prior on the top row
        {-2, -2, 0}, {2, 0, 2},
    };
    int recNo = 1;
    for (const Step& step : steps) {
        SCOPED_TRACE("MoveBy(" + std::to_string(step.moveBy) + ") from RecNo " +
                     std::to_string(recNo));
        link.Take();
        EXPECT_EQ(link.MoveBy(step.moveBy), step.moveBy);
        recNo += step.moveBy;
        EXPECT_EQ(table_->RecNo(), recNo);
        EXPECT_EQ(link.Take(), Log{"DataSetScrolled:" + std::to_string(step.scrolled)});
        EXPECT_EQ(link.ActiveRecord(), step.activeRecord);
        EXPECT_EQ(link.RecordCount(), 5);
        EXPECT_EQ(IdAt(link.FirstRecord()), recNo - step.activeRecord);
    }
}

// Links of 3 and 10 rows on two sources of one dataset: each keeps a window of its own size that
// moves by the least number of records, and is told its own window's movement.
TEST_F(DataLinkTest, LinksOfDifferentSizesKeepTheirOwnWindows) {
    TDataSource small, large;
    small.SetDataSet(table_.get());
    large.SetDataSet(table_.get());
    RecordingLink links[2] = {RecordingLink(3), RecordingLink(10)};
    links[0].SetDataSource(&small);
    links[1].SetDataSource(&large);
    ASSERT_EQ(table_->BufferCount(), 10);

    struct Move {
        std::string name;
        std::function<void()> run;
        int to; // the record number after it (0-based)
    };
    std::vector<Move> moves;
    int at = 0;
    for (int i = 0; i < 19; ++i)
        moves.push_back({"Next", [&] { table_->Next(); }, ++at});
    for (int i = 0; i < 19; ++i)
        moves.push_back({"Prior", [&] { table_->Prior(); }, --at});
    for (int distance : {7, -4, 12, -9, 2, 30, -1, -13})
        moves.push_back({"MoveBy(" + std::to_string(distance) + ")",
                         [this, distance] { table_->MoveBy(distance); },
                         at = std::clamp(at + distance, 0, 19)});
    moves.push_back({"First", [&] { table_->First(); }, 0});
    moves.push_back({"MoveBy(5)", [&] { table_->MoveBy(5); }, 5});
    moves.push_back({"Last", [&] { table_->Last(); }, 19});
    moves.push_back({"MoveBy(-3)", [&] { table_->MoveBy(-3); }, 16});
    moves.push_back({"First", [&] { table_->First(); }, 0});

    int first[2] = {0, 0}; // each link window's first record, 0-based
    for (RecordingLink& link : links)
        EXPECT_EQ(link.Take(), Log{"ActiveChanged:on"});
    for (const Move& move : moves) {
        SCOPED_TRACE(move.name + " to record " + std::to_string(move.to));
        move.run();
        ASSERT_EQ(table_->RecNo(), move.to + 1);
        for (int i = 0; i < 2; ++i) {
            RecordingLink& link = links[i];
            SCOPED_TRACE("link of " + std::to_string(link.BufferCount()));
            const int size = link.BufferCount();
            const int moved = std::clamp(first[i], move.to - size + 1, move.to) - first[i];
            first[i] += moved;
            const bool rebuilt = move.name == "First" || move.name == "Last";
            EXPECT_EQ(link.Take(),
                      Log{rebuilt ? "DataSetChanged" : "DataSetScrolled:" + std::to_string(moved)});
            EXPECT_EQ(link.RecordCount(), size);
            EXPECT_EQ(link.ActiveRecord(), table_->RecNo() - 1 - first[i]);
            EXPECT_EQ(IdAt(link.FirstRecord()), first[i] + 1);
        }
    }
}

TEST_F(DataLinkTest, OwnWritingDoesNotComeBackAsRecordChanged) {
    TDataSource source;
    source.SetDataSet(table_.get());
    std::vector<std::string> dataChanges;
    int updates = 0;
    source.OnDataChange = [&](TComponent*, TField* field) {
        dataChanges.push_back(FieldArg(field));
    };
    source.OnUpdateData = [&](TComponent*) { ++updates; };
    RecordingLink writer, viewer;
    writer.SetDataSource(&source);
    viewer.SetDataSource(&source);
    TField& name = table_->FieldByName("NAME");
    writer.onReaction = [&](const std::string& reaction) {
        if (reaction == "UpdateData")
            name.SetValue(std::string("written"));
    };

    table_->Edit();
    writer.Take();
    viewer.Take();
    name.SetValue(std::string("typed"));
    EXPECT_EQ(writer.Take(), Log{"RecordChanged:NAME"});
    EXPECT_EQ(viewer.Take(), Log{"RecordChanged:NAME"});

    table_->Post();
    EXPECT_EQ(writer.Take(), (Log{"UpdateData", "EditingChanged:off", "DataSetChanged"}));
    EXPECT_EQ(viewer.Take(),
              (Log{"RecordChanged:NAME", "UpdateData", "EditingChanged:off", "DataSetChanged"}));
    EXPECT_EQ(name.Value(), TValue(std::string("written")));
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(dataChanges, (Log{"-", "NAME", "NAME", "-"}));

    // A failing write reaches the dataset operation, and the link hears the record again.
    writer.onReaction = [](const std::string& reaction) {
        if (reaction == "UpdateData")
            throw std::runtime_error("input rejected");
    };
    table_->Edit();
    EXPECT_THROW(table_->Post(), std::runtime_error);
    EXPECT_FALSE(writer.Updating());
    EXPECT_EQ(table_->State(), TDataSetState::dsEdit);
    writer.Take();
    name.SetValue(std::string("again"));
    EXPECT_EQ(writer.Take(), Log{"RecordChanged:NAME"});
    table_->Cancel();
}

TEST_F(DataLinkTest, ReactionFailuresReachTheDataSetOperation) {
    TDataSource source;
    source.SetDataSet(table_.get());
    RecordingLink link;
    link.SetDataSource(&source);
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"DataSetScrolled", [&] { table_->Next(); }},
        {"EditingChanged", [&] { table_->Edit(); }},
        {"DataSetChanged", [&] { table_->Last(); }},
        {"RecordChanged", [&] { table_->Edit(); }},
    };
    for (const auto& [reaction, run] : cases) {
        SCOPED_TRACE(reaction);
        link.onReaction = [&](const std::string& note) {
            if (note.starts_with(reaction))
                throw std::runtime_error(note);
        };
        EXPECT_THROW(run(), std::runtime_error);
        link.onReaction = nullptr;
        table_->Cancel();
    }
}

TEST_F(DataLinkTest, DataSetWindowIsTheLargestLinkWindowOfAllSources) {
    auto other = test::OpenTable(path_, "T", "SimpleDataSet2");
    TDataSource first, second;
    first.SetDataSet(table_.get());
    second.SetDataSet(table_.get());
    auto a = std::make_unique<RecordingLink>(3);
    RecordingLink b(7), c(2);
    table_->MoveBy(9);

    struct Step {
        std::string name;
        std::function<void()> run;
        int tableCount, otherCount;
    };
    const Step steps[] = {
        {"attach a", [&] { a->SetDataSource(&first); }, 3, 1},
        {"attach b", [&] { b.SetDataSource(&second); }, 7, 1},
        {"attach c beside a", [&] { c.SetDataSource(&first); }, 7, 1},
        {"shrink b", [&] { b.SetBufferCount(2); }, 3, 1},
        {"grow a", [&] { a->SetBufferCount(12); }, 12, 1},
        {"grow b", [&] { b.SetBufferCount(15); }, 15, 1},
        {"detach b", [&] { b.SetDataSource(nullptr); }, 12, 1},
        {"move b's source", [&] { second.SetDataSet(other.get()); }, 12, 1},
        {"attach b", [&] { b.SetDataSource(&second); }, 12, 15},
        {"move a's source", [&] { first.SetDataSet(other.get()); }, 1, 15},
        {"shrink b to nothing", [&] { b.SetBufferCount(0); }, 1, 12},
        {"destroy a", [&] { a.reset(); }, 1, 2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.run();
        EXPECT_EQ(table_->BufferCount(), step.tableCount);
        EXPECT_EQ(table_->WindowRecordCount(), step.tableCount);
        EXPECT_EQ(other->BufferCount(), step.otherCount);
        EXPECT_EQ(table_->RecNo(), 10);
        for (RecordingLink* link : {a.get(), &b, &c}) {
            if (!link || !link->Active())
                continue;
            EXPECT_EQ(link->RecordCount(), link->BufferCount());
            EXPECT_GE(link->ActiveRecord(), 0);
            EXPECT_LT(link->ActiveRecord(), link->RecordCount());
        }
    }
    EXPECT_EQ(b.BufferCount(), 1);
}

TEST_F(DataLinkTest, CircularDataLinksAreRefused) {
    TDataSource first("DataSource1"), second("DataSource2"), third("DataSource3");
    TSQLDataSet detail("Detail"), subDetail("SubDetail");
    first.SetDataSet(table_.get());
    detail.DataSource = &first;
    second.SetDataSet(&detail);
    subDetail.DataSource = &second;
    RecordingLink link(4);
    link.SetDataSource(&first);
    link.Take();

    for (TDataSet* circular : std::initializer_list<TDataSet*>{&detail, &subDetail}) {
        SCOPED_TRACE(circular->Name());
        try {
            first.SetDataSet(circular);
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), "データ間の循環参照は許されません");
        }
        EXPECT_EQ(first.DataSet(), table_.get());
        EXPECT_EQ(table_->BufferCount(), 4);
        EXPECT_EQ(link.Take(), Log{});
        table_->Next();
        EXPECT_EQ(link.Take(), Log{"DataSetScrolled:0"});
    }
    EXPECT_TRUE(second.IsLinkedTo(table_.get()));
    EXPECT_FALSE(first.IsLinkedTo(&detail));
    third.SetDataSet(&subDetail);
    EXPECT_EQ(third.DataSet(), &subDetail);
}

TEST_F(DataLinkTest, EditFollowsAutoEditAndReadOnly) {
    struct Case {
        bool autoEdit, readOnly, editing;
    };
    for (const Case& c : {Case{true, false, true}, Case{false, false, false},
                          Case{true, true, false}, Case{false, true, false}}) {
        SCOPED_TRACE(::testing::Message()
                     << "AutoEdit " << c.autoEdit << ", ReadOnly " << c.readOnly);
        TDataSource source;
        source.AutoEdit = c.autoEdit;
        source.SetDataSet(table_.get());
        RecordingLink link;
        link.SetReadOnly(c.readOnly);
        link.SetDataSource(&source);
        EXPECT_EQ(link.Edit(), c.editing);
        EXPECT_EQ(link.Editing(), c.editing);
        EXPECT_EQ(table_->State(), c.editing ? TDataSetState::dsEdit : TDataSetState::dsBrowse);
        table_->Cancel();
    }

    // A read-only link never reports editing, whoever puts the dataset into edit state.
    TDataSource source;
    source.SetDataSet(table_.get());
    RecordingLink link;
    link.SetReadOnly(true);
    link.SetDataSource(&source);
    link.Take();
    table_->Insert();
    EXPECT_TRUE(link.Active());
    EXPECT_FALSE(link.Editing());
    EXPECT_EQ(link.Take(), Log{"DataSetChanged"});
    link.SetReadOnly(false);
    EXPECT_EQ(link.Take(), Log{"EditingChanged:on"});
    link.SetReadOnly(true);
    EXPECT_EQ(link.Take(), Log{"EditingChanged:off"});
    table_->Cancel();

    // Editing needs a browsing dataset behind an enabled source.
    source.SetEnabled(false);
    source.Edit();
    EXPECT_EQ(table_->State(), TDataSetState::dsBrowse);
}

// Links overriding only some reactions: scrolls and layout changes act as DataSetChanged, and
// that as RecordChanged(nullptr).
TEST_F(DataLinkTest, UnhandledReactionsFallBack) {
    class RecordOnly : public TDataLink {
    public:
        Log log;

    protected:
        void RecordChanged(TField* field) override { log.push_back("Record:" + FieldArg(field)); }
    };
    class ChangedAndRecord : public RecordOnly {
    protected:
        void DataSetChanged() override { log.push_back("Changed"); }
    };
    TDataSource source;
    source.SetDataSet(table_.get());
    RecordOnly recordOnly;
    ChangedAndRecord changed;
    RecordingLink full;
    for (TDataLink* link : std::initializer_list<TDataLink*>{&recordOnly, &changed, &full})
        link->SetDataSource(&source);
    full.Take();

    TField& id = table_->FieldByName("ID");
    const std::pair<std::function<void()>, Log> cases[] = {
        {[&] { table_->Next(); }, {"Record:-", "Changed", "DataSetScrolled:1"}},
        {[&] { table_->First(); }, {"Record:-", "Changed", "DataSetChanged"}},
        {[&] { source.DataEvent(TDataEvent::deLayoutChange, 0); },
         {"Record:-", "Changed", "LayoutChanged"}},
        {[&] {
             source.DataEvent(TDataEvent::deFocusControl, reinterpret_cast<std::intptr_t>(&id));
         },
         {"", "", "FocusControl:ID"}},
    };
    for (const auto& [run, expected] : cases) {
        SCOPED_TRACE(expected[2]);
        run();
        const Log got = {recordOnly.log.empty() ? "" : recordOnly.log.back(),
                         changed.log.empty() ? "" : changed.log.back(), full.Take().at(0)};
        EXPECT_EQ(got, expected);
        recordOnly.log.clear();
        changed.log.clear();
    }
}

TEST_F(DataLinkTest, ClosingDeactivatesAndResetsTheLink) {
    TDataSource source;
    source.SetDataSet(table_.get());
    RecordingLink link(4);
    link.SetDataSource(&source);
    table_->MoveBy(10);
    ASSERT_EQ(link.FirstRecord() + link.ActiveRecord(), table_->ActiveRecord());
    ASSERT_GT(IdAt(link.FirstRecord()), 1);
    table_->Edit();
    link.Take();

    table_->Close();
    EXPECT_EQ(link.Take(), (Log{"ActiveChanged:off", "EditingChanged:off"}));
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(link.FirstRecord(), 0);
    EXPECT_EQ(link.ActiveRecord(), 0);
    EXPECT_EQ(link.RecordCount(), 0);

    table_->Open();
    EXPECT_EQ(link.Take(), Log{"ActiveChanged:on"});
    EXPECT_EQ(link.FirstRecord(), 0);
    EXPECT_EQ(link.ActiveRecord(), 0);
    EXPECT_EQ(link.RecordCount(), 4);
    EXPECT_EQ(IdAt(link.FirstRecord()), 1);

    // Disabling resets the window too: enabled again, the link window is placed afresh from the
    // start of the dataset window, so the current record ends up on its bottom row.
    TDataSource large;
    large.SetDataSet(table_.get());
    RecordingLink largeLink(10);
    largeLink.SetDataSource(&large);
    table_->MoveBy(9);
    ASSERT_EQ(link.ActiveRecord(), 3);
    source.SetEnabled(false);
    table_->MoveBy(-4);
    source.SetEnabled(true);
    EXPECT_EQ(link.ActiveRecord(), 3);
    EXPECT_EQ(IdAt(link.FirstRecord()), 3);
}

// The dataset window shrinks when rows go or a larger control leaves, and grows when one comes;
// a smaller link window keeps its records where it can and stays full as far as the rows allow.
TEST_F(DataLinkTest, LinkWindowFollowsResizesOfTheDataSetWindow) {
    TDataSource small, large;
    small.SetDataSet(table_.get());
    large.SetDataSet(table_.get());
    RecordingLink link(3), largeLink(25);
    link.SetDataSource(&small);
    largeLink.SetDataSource(&large);
    table_->Last();
    ASSERT_EQ(table_->WindowRecordCount(), 20);

    table_->Delete();
    EXPECT_EQ(table_->WindowRecordCount(), 19);
    EXPECT_EQ(link.RecordCount(), 3);
    EXPECT_EQ(link.ActiveRecord(), 2);
    EXPECT_EQ(IdAt(link.FirstRecord()), 17);

    table_->MoveBy(-9);
    ASSERT_EQ(table_->RecNo(), 10);
    largeLink.SetDataSource(nullptr);
    ASSERT_EQ(table_->WindowRecordCount(), 3);
    EXPECT_EQ(link.RecordCount(), 3);
    EXPECT_EQ(IdAt(link.FirstRecord() + link.ActiveRecord()), 10);
    table_->Next();
    EXPECT_EQ(link.Take().back(), "DataSetScrolled:1");
    EXPECT_EQ(link.ActiveRecord(), 2);
    EXPECT_EQ(IdAt(link.FirstRecord()), 9);

    // Growing near the end, the dataset window gains rows before the current record; the link
    // window keeps showing its records, 16 to 18 with 17 current.
    RecordingLink middleLink(5);
    middleLink.SetDataSource(&large);
    table_->Last();
    for (int distance : {-3, 1})
        table_->MoveBy(distance);
    ASSERT_EQ(IdAt(link.FirstRecord()), 16);
    ASSERT_EQ(link.ActiveRecord(), 1);
    largeLink.SetDataSource(&large);
    ASSERT_EQ(table_->WindowRecordCount(), 19);
    EXPECT_EQ(IdAt(link.FirstRecord()), 16);
    EXPECT_EQ(link.ActiveRecord(), 1);
}

// Reactions to a state change already find the current record inside the link window, though
// the dataset rebuilt its window before the event that moves the link window.
TEST_F(DataLinkTest, StateReactionsSeeTheCurrentRecordInTheLinkWindow) {
    TDataSource small, large;
    small.SetDataSet(table_.get());
    large.SetDataSet(table_.get());
    RecordingLink link(3), largeLink(10);
    link.SetDataSource(&small);
    largeLink.SetDataSource(&large);
    int seen = 0;
    link.onReaction = [&](const std::string& reaction) {
        if (reaction.starts_with("EditingChanged")) {
            ++seen;
            EXPECT_GE(link.ActiveRecord(), 0);
            EXPECT_LT(link.ActiveRecord(), link.RecordCount());
        }
    };
    table_->Append();
    table_->Cancel();
    table_->MoveBy(12);
    table_->Prior();
    table_->Insert();
    EXPECT_EQ(seen, 3);
}

TEST_F(DataLinkTest, DestroyingEitherEndLeavesTheLinksWithoutIt) {
    RecordingLink link(6);
    {
        TDataSource source;
        source.SetDataSet(table_.get());
        link.SetDataSource(&source);
        ASSERT_EQ(table_->BufferCount(), 6);
        link.Take();
    }
    EXPECT_EQ(link.DataSource(), nullptr);
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(link.Take(), Log{"ActiveChanged:off"});
    EXPECT_EQ(table_->BufferCount(), 1);
    table_->Next(); // the dataset no longer knows the source

    TDataSource source;
    source.SetDataSet(table_.get());
    link.SetDataSource(&source);
    table_->Edit();
    link.Take();
    table_.reset();
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(source.State(), TDataSetState::dsInactive);
    EXPECT_EQ(link.DataSource(), &source);
    EXPECT_EQ(link.DataSet(), nullptr);
    EXPECT_EQ(link.Take(), (Log{"ActiveChanged:off", "EditingChanged:off"}));
    link.SetDataSource(nullptr);
}

// A control may go away in another control's reaction; it gets no further events.
TEST_F(DataLinkTest, LinkDestroyedDuringAnEventGetsNoMore) {
    class Closer : public TDataLink {
    public:
        std::unique_ptr<RecordingLink> other;

    protected:
        void DataSetScrolled(int) override { other.reset(); }
    };
    TDataSource source;
    source.SetDataSet(table_.get());
    Closer closer;
    closer.SetDataSource(&source);
    closer.other = std::make_unique<RecordingLink>(8);
    closer.other->SetDataSource(&source);
    ASSERT_EQ(table_->BufferCount(), 8);
    table_->Next();
    EXPECT_EQ(closer.other, nullptr);
    EXPECT_EQ(table_->BufferCount(), 1);
    EXPECT_EQ(table_->RecNo(), 2);
}

} // namespace
