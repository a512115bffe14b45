#pragma once

#include "Connection.h"
#include "DataSet.h"
#include "Progress.h"
#include "Provider.h"
#include "Resolver.h"
#include "SQLDataSet.h"
#include "TableEngine.h"

#include <functional>
#include <memory>

namespace sorvanto {

enum class TReconcileAction { raSkip, raAbort, raMerge, raCorrect, raCancel, raRefresh };
class TSimpleDataSet;
// Rows as the database holds them after an apply, by the id of the row they replace.
using TDatabaseRows = std::vector<std::pair<TRowId, std::vector<std::optional<TValue>>>>;
using TReconcileErrorEvent = std::function<void(TSimpleDataSet& dataSet, EReconcileError& error,
                                                TUpdateKind updateKind, TReconcileAction& action)>;

// A cached table dataset: all rows of one table in memory with a change log. It owns its
// connection ("InternalConnection"), its inner command ("InternalDataSet") and its inner
// provider ("InternalProvider").
class TSimpleDataSet : public TDataSet {
public:
    explicit TSimpleDataSet(std::string name = {});
    ~TSimpleDataSet() override;

    TSQLConnection& Connection() noexcept { return *connection_; }
    TSQLDataSet& DataSet() noexcept { return *command_; }
    TDataSetProvider& Provider() noexcept { return *provider_; }

    int PacketRecords = -1;
    bool ReadOnly = false;

    int ChangeCount() const noexcept { return Active() ? engine_.ChangeCount() : 0; }
    // Pending changes that the last apply sent and the database refused.
    int RefusedCount() const noexcept { return Active() ? engine_.RefusedCount() : 0; }
    // Pending changes whose commit answer was lost: the next apply reads the rows to see whether
    // they took effect, before it sends anything.
    int UnconfirmedCount() const noexcept { return Active() ? engine_.UnconfirmedCount() : 0; }
    bool WindowRecordPending(int windowRow) const override;
    std::string WindowRecordRefusal(int windowRow) const override;
    std::string WindowRecordRefusedStatement(int windowRow) const override;
    std::string FieldNotEditable(const TField& field) const override;
    // Told how far the reading of an opening and the sending of an apply have come; may stop
    // them (see TProgressEvent).
    TProgressEvent OnProgress;
    bool CanModify() const override { return Active() && !ReadOnly; }
    int RecordCount() const override { return Active() ? engine_.ViewCount() : 0; }
    int RecNo() const override;
    void SetRecNo(int value) override;
    bool IsSequenced() const override { return true; }
    bool RecordValue(int recNo, const TField& field, TValue& value) const override;
    // The change state of the current record.
    TUpdateStatus UpdateStatus() const;

    // Sends the pending changes to the table in one transaction; a change the database refuses
    // stays pending. Returns the number of changes that failed. MaxErrors -1: no limit.
    int ApplyUpdates(int MaxErrors);
    TReconcileErrorEvent OnReconcileError;

    // Accepts every pending change into the rows and empties the change log.
    void MergeChangeLog();

    // For update resolution: the table engine holding the rows and the change log.
    TTableEngine& Engine() noexcept { return engine_; }
    const TTableEngine& Engine() const noexcept { return engine_; }
    // Re-reads the record window and tells the data sources.
    void RefreshWindow() { Resync(); }
    void NotifyReconcileError(std::intptr_t info) { SendEvent(TDataEvent::deReconcileError, info); }

protected:
    void InternalOpen() override;
    void InternalClose() override;
    bool GetFirst(TRecordPos& pos) override;
    bool GetLast(TRecordPos& pos) override;
    bool GetNext(TRecordPos from, TRecordPos& pos) override;
    bool GetPrior(TRecordPos from, TRecordPos& pos) override;
    TValue GetRecordValue(TRecordPos pos, int field) const override;
    TRecordPos InternalPost(TRecordPos current, bool inserting, bool append) override;
    bool InternalDelete(TRecordPos pos, TRecordPos& next) override;
    void InternalEdit(TRecordPos pos) override;
    bool InternalRefresh(TRecordPos current, TRecordPos& pos) override;
    void CheckFieldValue(const TField& field, TValue& value) override;

private:
    // Asks the provider for rows; its failure is raised again with the message trimmed.
    std::optional<TDataPacket> Fetch(int count, bool withMetadata, bool reset, int& written);
    void Reconcile(const TChangeSet& changes,
                   const std::optional<std::vector<TUpdateErrorRecord>>& errors, std::size_t tried,
                   const TDatabaseRows& databaseRows, const std::vector<int>& unconfirmed);

    std::unique_ptr<TSQLConnection> connection_;
    std::unique_ptr<TSQLDataSet> command_;
    std::unique_ptr<TDataSetProvider> provider_;
    TTableEngine engine_;
    bool allFetched_ = false;
    // What the table writes of its own, read at the first apply after the opening.
    std::optional<TTableOwnValues> ownValues_;
    // The transaction whose commit answer was lost, while changes await confirmation.
    std::optional<TLostCommit> lostCommit_;
    // Rows applied in a transaction that committed, whose values as the table wrote them could
    // not be read back because the link went: read at the next apply.
    std::vector<TRowId> notReadBack_;
    // Reads those rows now, as far as the link allows.
    void ReadLeftOverRows(TSQLResolver& resolver);
};

// The message less trailing blanks, control characters and full stops.
std::string TrimProviderMessage(const std::string& message);

} // namespace sorvanto
