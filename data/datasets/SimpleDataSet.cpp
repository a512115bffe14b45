#include "SimpleDataSet.h"

#include "CharacterSets.h"

#include "Errors.h"
#include "ParamList.h"
#include "ScopeExit.h"
#include "UserInterface.h"

#include <algorithm>

namespace sorvanto {

std::string TrimProviderMessage(const std::string& message) {
    std::size_t end = message.size();
    while (end > 0 &&
           (static_cast<unsigned char>(message[end - 1]) <= 32 || message[end - 1] == '.'))
        --end;
    return message.substr(0, end);
}

TSimpleDataSet::TSimpleDataSet(std::string name)
    : TDataSet(std::move(name)),
      connection_(std::make_unique<TSQLConnection>("InternalConnection")),
      command_(std::make_unique<TSQLDataSet>("InternalDataSet")),
      provider_(std::make_unique<TDataSetProvider>("InternalProvider")) {
    command_->SetSQLConnection(connection_.get());
    provider_->DataSet = command_.get();
}

TSimpleDataSet::~TSimpleDataSet() {
    CloseForDestruction();
    command_.reset();
    connection_.reset();
}

namespace {
// Runs a provider call; its failure is raised again with the message trimmed, keeping its class
// and everything else it carries.
template <typename F> auto TrimmingFailures(F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (Exception& error) {
        error.SetMessage(TrimProviderMessage(error.Message()));
        throw;
    }
}
} // namespace

std::optional<TDataPacket> TSimpleDataSet::Fetch(int count, bool withMetadata, bool reset,
                                                 int& written) {
    std::optional<TDataPacket> packet;
    TrimmingFailures([&] { written = provider_->GetRecords(count, withMetadata, reset, packet); });
    return packet;
}

int TSimpleDataSet::ApplyUpdates(int MaxErrors) {
    CheckBrowseMode(); // raises the closed-dataset error when closed
    if (ChangeCount() == 0) {
        if (!notReadBack_.empty()) {
            TSQLResolver resolver(*connection_, command_->CommandText());
            ReadLeftOverRows(resolver);
        }
        return 0;
    }
    // The changes read their values from the rows as they are sent: nothing changes the rows
    // until the apply is reconciled.
    const TChangeSet changes(engine_);
    int errorCount = 0;
    std::size_t tried = 0;
    std::vector<TReadBackRow> readBack;
    std::vector<int> unconfirmed;
    std::vector<int> notReadBack;
    std::optional<std::vector<TUpdateErrorRecord>> errors = TrimmingFailures([&] {
        TSQLResolver resolver(*connection_, command_->CommandText());
        resolver.UseOwnValues(ownValues_);
        if (OnProgress) {
            const auto total = static_cast<std::int64_t>(changes.Count());
            resolver.ReportProgress([this, total](std::size_t sent) {
                if (!OnProgress(TProgressKind::pkApplying, static_cast<std::int64_t>(sent), total))
                    throw EOperationCancelled(ComponentMessage(
                        Name(), "更新を取り消しました。変更はすべて未送信のまま残っています"));
            });
        }
        auto result =
            resolver.Resolve(changes, MaxErrors, errorCount, lostCommit_ ? &*lostCommit_ : nullptr);
        tried = resolver.TriedCount();
        readBack = std::move(resolver.ReadBack());
        unconfirmed = resolver.Unconfirmed();
        lostCommit_ = resolver.LostCommit();
        notReadBack = resolver.NotReadBack();
        return result;
    });
    std::vector<TRowId> unread;
    for (int record : notReadBack)
        if (TRowId row = engine_.Changes().at(static_cast<std::size_t>(record)).newRow;
            row != kNoRow)
            unread.push_back(row);
    // The rows read back replace the rows the applied changes left in the view.
    TDatabaseRows databaseRows;
    for (TReadBackRow& row : readBack) {
        TRowId id = engine_.Changes().at(static_cast<std::size_t>(row.recordNumber)).newRow;
        if (id != kNoRow)
            databaseRows.emplace_back(id, std::move(row.values));
    }
    Reconcile(changes, errors, tried, databaseRows, unconfirmed);
    // Rows left unread by an earlier apply are read now, while the link holds.
    if (!notReadBack_.empty() && unread.empty() && !lostCommit_) {
        TSQLResolver resolver(*connection_, command_->CommandText());
        ReadLeftOverRows(resolver);
    }
    notReadBack_.insert(notReadBack_.end(), unread.begin(), unread.end());
    return errorCount;
}

void TSimpleDataSet::ReadLeftOverRows(TSQLResolver& resolver) {
    const std::vector<TFieldDef>& fields = engine_.Defs();
    const std::vector<std::size_t> keyFields = TSQLResolver::KeyFields(fields);
    std::vector<std::vector<TValue>> keys;
    for (TRowId row : notReadBack_) {
        std::vector<TValue> key;
        for (std::size_t k : keyFields)
            key.push_back(engine_.RowValue(row, static_cast<int>(k)));
        keys.push_back(std::move(key));
    }
    std::vector<TKeyedRow> rows;
    try {
        rows = resolver.ReadRows(fields, keys);
    } catch (...) {
        return; // still out of reach: they are read at a later apply, or by a refresh
    }
    TDatabaseRows databaseRows;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i])
            databaseRows.emplace_back(notReadBack_[i], std::move(*rows[i]));
    notReadBack_.clear();
    engine_.TakeRowValues(databaseRows);
    Resync();
}

void TSimpleDataSet::Reconcile(const TChangeSet& changes,
                               const std::optional<std::vector<TUpdateErrorRecord>>& errors,
                               std::size_t tried, const TDatabaseRows& databaseRows,
                               const std::vector<int>& unconfirmed) {
    // The refusals of this apply replace those of the last one.
    std::vector<TTableEngine::TRefusal> refusals;
    if (!errors && tried >= changes.Count() && unconfirmed.empty()) {
        engine_.AcceptAll();
        engine_.TakeRowValues(databaseRows);
        Resync();
        return;
    }
    // Changes after the last one tried never reached the database: they stay pending as they
    // are, without an error of their own.
    std::vector<int> failed;
    for (std::size_t i = tried; i < changes.Count(); ++i)
        failed.push_back(static_cast<int>(i));
    if (!errors) {
        engine_.SetRefusals(refusals);
        engine_.Reconcile(failed, unconfirmed);
        engine_.TakeRowValues(databaseRows);
        Resync();
        return;
    }
    for (const TUpdateErrorRecord& record : *errors) {
        const TChange& change = changes[static_cast<std::size_t>(record.recordNumber)];
        TReconcileAction action =
            record.response == 1 ? TReconcileAction::raSkip : TReconcileAction::raAbort;
        EReconcileError error(record.message, record.context, record.errorCode,
                              record.previousErrorCode);
        SendEvent(TDataEvent::deReconcileError, reinterpret_cast<std::intptr_t>(&error));
        if (OnReconcileError) {
            try {
                OnReconcileError(*this, error, change.kind, action);
            } catch (...) {
                // Whatever the handler threw, the changes still have to be reconciled.
                ShowCaughtFailure();
                action = TReconcileAction::raAbort;
            }
        }
        // Whatever the action, a change that failed stays pending exactly as it was.
        failed.push_back(record.recordNumber);
        refusals.push_back({record.recordNumber, error.Message(), record.statement});
    }
    engine_.SetRefusals(refusals);
    engine_.Reconcile(failed, unconfirmed);
    engine_.TakeRowValues(databaseRows);
    Resync();
}

void TSimpleDataSet::InternalOpen() {
    if (provider_->DataSet == nullptr)
        throw EDatabaseError("プロバイダの循環参照は許されません");
    int written = 0;
    if (OnProgress)
        provider_->OnRows = [this](std::int64_t rows) {
            if (!OnProgress(TProgressKind::pkReading, rows, 0))
                throw EOperationCancelled(ComponentMessage(Name(), "読み込みを取り消しました"));
        };
    TScopeExit stopReporting([this] { provider_->OnRows = nullptr; });
    std::optional<TDataPacket> packet = Fetch(PacketRecords, true, false, written);
    if (!packet)
        DatabaseError("データプロバイダ/パケットがありません");
    allFetched_ = written != PacketRecords;
    std::vector<TFieldDef> defs = packet->fieldDefs;
    engine_.Load(std::move(packet->rows));
    CreateFields(defs);
}

void TSimpleDataSet::InternalClose() {
    if (!Destroying())
        provider_->Reset();
    engine_.Clear();
    ownValues_.reset();
    lostCommit_.reset();
    notReadBack_.clear();
}

bool TSimpleDataSet::GetFirst(TRecordPos& pos) {
    pos = 0;
    return engine_.ViewCount() > 0;
}

bool TSimpleDataSet::GetLast(TRecordPos& pos) {
    pos = engine_.ViewCount() - 1;
    return engine_.ViewCount() > 0;
}

bool TSimpleDataSet::GetNext(TRecordPos from, TRecordPos& pos) {
    if (from < 0 || from + 1 >= engine_.ViewCount())
        return false;
    pos = from + 1;
    return true;
}

bool TSimpleDataSet::GetPrior(TRecordPos from, TRecordPos& pos) {
    if (from <= 0)
        return false;
    pos = from - 1;
    return true;
}

TValue TSimpleDataSet::GetRecordValue(TRecordPos pos, int field) const {
    if (pos < 0 || pos >= engine_.ViewCount())
        return {};
    return engine_.Value(static_cast<int>(pos), field);
}

int TSimpleDataSet::RecNo() const {
    if (State() == TDataSetState::dsInsert)
        return -1;
    TRecordPos pos;
    if (!CurrentPos(pos))
        return 0;
    return static_cast<int>(pos) + 1;
}

void TSimpleDataSet::SetRecNo(int value) {
    if (value == RecNo())
        return;
    CheckBrowseMode();
    if (engine_.ViewCount() == 0)
        return;
    int pos = std::clamp(value, 1, engine_.ViewCount()) - 1;
    MoveTo(pos, BufferCount() / 2);
}

bool TSimpleDataSet::RecordValue(int recNo, const TField& field, TValue& value) const {
    if (!Active() || recNo < 1 || recNo > engine_.ViewCount() || &field.DataSet() != this)
        return false;
    value = engine_.Value(recNo - 1, field.Index());
    return true;
}

TUpdateStatus TSimpleDataSet::UpdateStatus() const {
    TRecordPos pos;
    if (!Active() || State() == TDataSetState::dsInsert || !CurrentPos(pos) || pos < 0)
        return State() == TDataSetState::dsInsert ? TUpdateStatus::usInserted
                                                  : TUpdateStatus::usUnmodified;
    return engine_.Status(static_cast<int>(pos));
}

bool TSimpleDataSet::WindowRecordPending(int windowRow) const {
    TRecordPos pos;
    return Active() && WindowPos(windowRow, pos) && engine_.ChangeAt(static_cast<int>(pos));
}

std::string TSimpleDataSet::WindowRecordRefusal(int windowRow) const {
    TRecordPos pos;
    if (!Active() || !WindowPos(windowRow, pos))
        return {};
    const TChange* change = engine_.ChangeAt(static_cast<int>(pos));
    return change ? change->refusal : std::string();
}

std::string TSimpleDataSet::WindowRecordRefusedStatement(int windowRow) const {
    TRecordPos pos;
    if (!Active() || !WindowPos(windowRow, pos))
        return {};
    const TChange* change = engine_.ChangeAt(static_cast<int>(pos));
    return change ? change->refusedStatement : std::string();
}

namespace {
constexpr const char* kAwaitingConfirmation =
    "この行の変更は送信の結果を確かめているところです。次の送信で確かめるまで、この行は変更も"
    "削除もできません";

// Whether the change of the row at the position awaits confirmation after a lost commit answer.
bool AwaitsConfirmation(const TTableEngine& engine, TDataSet::TRecordPos pos) {
    if (pos < 0 || pos >= engine.ViewCount())
        return false;
    const TChange* change = engine.ChangeAt(static_cast<int>(pos));
    return change && change->unconfirmed;
}
} // namespace

void TSimpleDataSet::InternalEdit(TRecordPos pos) {
    if (AwaitsConfirmation(engine_, pos))
        throw EDatabaseError(kAwaitingConfirmation);
}

std::string TSimpleDataSet::FieldNotEditable(const TField& field) const {
    TRecordPos pos;
    if (!Active() || !CurrentPos(pos) || pos < 0 || pos >= engine_.ViewCount())
        return {};
    if (AwaitsConfirmation(engine_, pos))
        return kAwaitingConfirmation;
    if (!engine_.WireText(static_cast<int>(pos), field.Index()))
        return {};
    const TCharSet* set = CharSetById(field.Def().CharSet);
    return "項目 '" + field.DisplayName() + "' の値は文字セット " +
           std::string(set ? set->name : "UTF8") +
           " の文字として読めないため、変更できません (データベースの値はそのまま残ります)";
}

TDataSet::TRecordPos TSimpleDataSet::InternalPost(TRecordPos current, bool inserting, bool append) {
    for (int i = 0; i < FieldCount(); ++i) {
        TField& field = Fields(i);
        if (field.Required() && !field.ReadOnly() && field.FieldKind() == TFieldKind::fkData &&
            IsNull(EditBuffer()[static_cast<std::size_t>(i)])) {
            SendEvent(TDataEvent::deFocusControl, reinterpret_cast<std::intptr_t>(&field));
            throw EDatabaseError("項目 '" + field.DisplayName() + "' の値が必要です");
        }
    }
    if (inserting) {
        int position =
            (append || current == kNewRecord) ? engine_.ViewCount() : static_cast<int>(current);
        engine_.InsertRow(position, EditBuffer(), EditWritten());
        return position;
    }
    engine_.ModifyRow(static_cast<int>(current), EditBuffer(), EditWritten());
    return current;
}

bool TSimpleDataSet::InternalDelete(TRecordPos pos, TRecordPos& next) {
    if (AwaitsConfirmation(engine_, pos))
        throw EDatabaseError(kAwaitingConfirmation);
    engine_.DeleteRow(static_cast<int>(pos));
    if (engine_.ViewCount() == 0)
        return false;
    next = std::min<TRecordPos>(pos, engine_.ViewCount() - 1);
    return true;
}

bool TSimpleDataSet::InternalRefresh(TRecordPos current, TRecordPos& pos) {
    if (engine_.ChangeCount() > 0)
        DatabaseError("最新のデータを取得する前に変更データを更新しなければなりません。");
    int count = allFetched_ ? -1 : engine_.ViewCount();
    ownValues_.reset();   // a refresh also takes in triggers and defaults added meanwhile
    notReadBack_.clear(); // every row is read anew
    int written = 0;
    std::optional<TDataPacket> packet = Fetch(count, false, true, written);
    if (!packet)
        DatabaseError("データプロバイダ/パケットがありません");
    // The fields were made for the columns as they were at the opening: rows of another shape
    // cannot be held under them.
    const std::vector<TFieldDef>& now = packet->rows.Defs();
    bool sameColumns = static_cast<int>(now.size()) == FieldCount();
    for (int i = 0; sameColumns && i < FieldCount(); ++i) {
        const TFieldDef& was = Fields(i).Def();
        const TFieldDef& is = now[static_cast<std::size_t>(i)];
        sameColumns = SameText(was.Name, is.Name) && was.DataType == is.DataType &&
                      was.Size == is.Size && was.Precision == is.Precision;
    }
    if (!sameColumns)
        DatabaseError("テーブルの列がデータベースで変更されました。テーブルを開き直してください");
    allFetched_ = written != count;
    engine_.Load(std::move(packet->rows));
    if (engine_.ViewCount() == 0)
        return false;
    pos = std::min<TRecordPos>(current, engine_.ViewCount() - 1);
    return true;
}

void TSimpleDataSet::CheckFieldValue(const TField& field, TValue& value) {
    value = engine_.CheckValue(field.Index(), value);
}

void TSimpleDataSet::MergeChangeLog() {
    CheckBrowseMode();
    engine_.AcceptAll();
    Resync();
}

} // namespace sorvanto
