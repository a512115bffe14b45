#include "Connection.h"

#include "DrivePaths.h"
#include "DriverRegistry.h"
#include "Errors.h"
#include "ProfileFile.h"
#include "ScopeExit.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace sorvanto {

namespace {
constexpr const char* kOpenConnection = "接続が開かれているため、この操作は実行できません";
constexpr const char* kClosedConnection = "接続が閉じているため、この操作は実行できません";
constexpr const char* kNoTransaction = "有効なトランザクションがありません";
constexpr const char* kTransactionActive = "トランザクションが既にアクティブです";
constexpr std::size_t kStatementCacheSize = 64;

const TUserInterface& Ui() {
    return UserInterface();
}

// The default profile file: $SORVANTO_CONNECTIONS_FILE, or connections.ini beside the program.
std::string ComputeDefaultProfileFile() {
    if (const char* setting = std::getenv("SORVANTO_CONNECTIONS_FILE"); setting && *setting)
        return setting;
    char exe[4096];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return {};
    std::string path(exe, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string()
                                      : path.substr(0, slash + 1) + "connections.ini";
}

// Sets the first line of the name, or appends one.
void SetProperty(TParamList& list, std::string_view name, std::string_view value) {
    std::string line = std::string(name) + "=" + std::string(value);
    int index = list.IndexOfName(name);
    if (index < 0)
        list.Add(std::move(line));
    else
        list.Put(index, std::move(line));
}

// Holds the busy pointer for one operation.
class BusyPointer {
public:
    explicit BusyPointer(bool show) : shown_(show && Ui().showBusyPointer) {
        if (shown_)
            Ui().showBusyPointer();
    }
    ~BusyPointer() {
        if (shown_ && Ui().restoreBusyPointer)
            Ui().restoreBusyPointer();
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    bool shown_;
};
} // namespace

// ---------------------------------------------------------------------------------------------
// TCustomConnection

TCustomConnection::~TCustomConnection() = default;

TConnectionClient* TCustomConnection::DataSet(int index) const {
    return clients_.at(static_cast<std::size_t>(index));
}

int TCustomConnection::DataSetCount() const {
    return static_cast<int>(clients_.size());
}

void TCustomConnection::RegisterClient(TConnectionClient* client) {
    if (std::find(clients_.begin(), clients_.end(), client) == clients_.end())
        clients_.push_back(client);
}

void TCustomConnection::UnRegisterClient(TConnectionClient* client) {
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void TCustomConnection::DoSetConnected(bool value) {
    if (Loading()) {
        streamedConnected_ = value;
        return;
    }
    if (value == GetConnected())
        return;
    if (value) {
        if (BeforeConnect)
            BeforeConnect(this);
        DoConnect();
        for (TConnectionClient* client : std::vector(clients_))
            client->ConnectionChanged(*this, true);
        if (AfterConnect)
            AfterConnect(this);
    } else {
        if (BeforeDisconnect)
            BeforeDisconnect(this);
        for (TConnectionClient* client : std::vector(clients_))
            client->ConnectionChanged(*this, false);
        DoDisconnect();
        if (AfterDisconnect)
            AfterDisconnect(this);
    }
}

void TCustomConnection::Loaded() {
    TComponent::Loaded();
    if (streamedConnected_) {
        streamedConnected_ = false;
        SetConnected(true);
    }
}

void TCustomConnection::DetachClients() {
    for (TConnectionClient* client : std::vector(clients_)) {
        if (client->ClientActive())
            client->CloseForConnection();
    }
    clients_.clear();
}

// ---------------------------------------------------------------------------------------------
// TSQLResultSet

TSQLResultSet::~TSQLResultSet() {
    reader_.reset();
    statement_.reset();
    if (ownTransaction_ && ownTransaction_->Active()) {
        try {
            ownTransaction_->Commit();
        } catch (const Exception&) {
            // The rows were read; a failed commit of a read leaves nothing to keep.
        }
    }
}

// ---------------------------------------------------------------------------------------------
// TSQLConnection: parameters and the profile file

TSQLConnection::TSQLConnection(std::string name) : TCustomConnection(std::move(name)) {
    try {
        defaultProfileFile_ = ComputeDefaultProfileFile();
    } catch (...) {
        defaultProfileFile_.clear();
    }
}

TSQLConnection::~TSQLConnection() {
    DetachClients();
    try {
        if (attachment_)
            DoDisconnect();
    } catch (...) {
        // Closing cannot report anything from a destructor; the attachment is gone either way.
    }
}

void TSQLConnection::RaiseWithComponent(const std::string& message) const {
    throw EDatabaseError(ComponentMessage(Name(), message));
}

void TSQLConnection::SetParams(const TParamList& params) {
    if (attachment_)
        RaiseWithComponent(kOpenConnection);
    if (&params == &params_)
        return;
    params_.Clear();
    params_.AddStrings(params);
}

void TSQLConnection::SetDriverName(const std::string& name) {
    if (name == driverName_)
        return;
    if (attachment_)
        RaiseWithComponent(kOpenConnection);
    driverName_ = name;
}

void TSQLConnection::SetConnectionName(const std::string& name) {
    if (name == connectionName_)
        return;
    if (!Loading() && Connected())
        SetConnected(false);
    if (driverName_.empty() && name.empty()) {
        VendorLib.clear();
        LibraryName.clear();
        params_.Clear();
    }
    ParamsLoaded = false;
    connectionName_ = name;
    if (!Loading())
        CloseDataSets();
}

void TSQLConnection::LoadParamsFromIniFile(const std::string& fileName) {
    if (ParamsLoaded)
        return;
    if (connectionName_.empty())
        throw EDatabaseError("接続名がありません");
    const std::string& file = fileName.empty() ? defaultProfileFile_ : fileName;
    // A Windows drive path names a file in the drives folder.
    TProfileFile profile = TProfileFile::Read(MapDrivePath(file));
    if (!profile.Exists())
        throw EDatabaseError("ドライバ/接続レジストリファイル '" + file + "' が見つかりません");
    auto lines = profile.SectionLines(connectionName_);
    TParamList loaded;
    if (lines)
        for (auto& line : *lines)
            loaded.Add(std::move(line));
    params_ = std::move(loaded);
    ParamsLoaded = true;
}

// ---------------------------------------------------------------------------------------------
// TSQLConnection: opening and closing

bool TSQLConnection::GetConnected() {
    return attachment_ && (state_ == TConnectionState::csStateOpen ||
                           state_ == TConnectionState::csStateExecuting ||
                           state_ == TConnectionState::csStateFetching);
}

void TSQLConnection::DoSetConnected(bool value) {
    if (!value && !Loading() && !GetConnected())
        return; // closing a closed connection changes nothing, not even the loaded flag
    TCustomConnection::DoSetConnected(value);
}

TParamList TSQLConnection::BuildProperties() {
    TParamList set;
    if (LoadParamsOnConnect) {
        const auto* profile = TDriverRegistry::Instance().FindConnectionProfile(connectionName_);
        if (!profile)
            throw TDriverError(DriverCode::InvalidArgument, "引数が無効です:  " + connectionName_);
        for (const auto& line : *profile)
            set.Add(line);
        LoadParamsFromIniFile();
        TProfileFile file = TProfileFile::Read(defaultProfileFile_);
        std::string driver;
        if (auto lines = file.SectionLines(connectionName_)) {
            TParamList section;
            for (auto& line : *lines)
                section.Add(std::move(line));
            driver = section.ValueOfName("DriverName");
        }
        driverName_ = driver;
    } else {
        for (int i = 0; i < params_.Count(); ++i) {
            if (!params_.HasSeparator(i)) {
                set.Add("=");
                continue;
            }
            set.Add(std::string(TrimControls(params_.Name(i))) + "=" +
                    std::string(TrimControls(params_.Value(i))));
        }
        set.Add("DriverName=" + driverName_);
        set.Add("VendorLib=" + VendorLib);
        set.Add("LibraryName=" + LibraryName);
        set.Add("GetDriverFunc=" + GetDriverFunc);
    }
    return set;
}

void TSQLConnection::DoConnect() {
    std::unique_ptr<BusyPointer> hourGlass;
    try {
        TParamList set = BuildProperties();
        if (driverName_.empty())
            throw EDatabaseError("DriverName プロパティが指定されていません");
        const TDriverDefaults* defaults = TDriverRegistry::Instance().FindDriver(driverName_);
        if (!defaults)
            throw TDriverError(DriverCode::DriverInitFailed, "不明なドライバです:  " + driverName_);
        if (LoadParamsOnConnect) {
            TParamList d;
            for (const auto& [name, value] : *defaults)
                d.Add(name + "=" + value);
            LibraryName = d.ValueOfName("LibraryName");
            VendorLib = d.ValueOfName("VendorLib");
            GetDriverFunc = d.ValueOfName("GetDriverFunc");
        }
        state_ = TConnectionState::csStateConnecting;

        // The login list: Password, User_Name, Database from Params, then the driver's defaults.
        TParamList loginList;
        for (const char* name : {"Password", "User_Name", "Database"}) {
            std::string value;
            if (int index = params_.IndexOfName(name); index >= 0)
                value = TrimControls(params_.Value(index));
            else
                for (const auto& [defaultName, defaultValue] : *defaults)
                    if (SameText(defaultName, name)) {
                        value = defaultValue;
                        break;
                    }
            if (!value.empty())
                loginList.Add(std::string(name) + "=" + value);
        }
        if (LoginPrompt) {
            if (OnLogin) {
                OnLogin(this, loginList);
            } else {
                std::string user = loginList.ValueOfName("User_Name");
                std::string password;
                if (!Ui().loginDialog || !Ui().loginDialog(connectionName_, user, password))
                    throw EDatabaseError("データベース '" + connectionName_ + "' に接続できません");
                loginList.SetValueOfName("User_Name", user);
                loginList.SetValueOfName("Password", password);
            }
        }
        std::string loginDatabase = loginList.ValueOfName("Database");
        if (loginDatabase != set.ValueOfName("Database"))
            SetProperty(set, "Database", loginDatabase);

        hourGlass = std::make_unique<BusyPointer>(SQLHourGlass);
        loginUserName_ = loginList.ValueOfName("User_Name");
        if (!loginUserName_.empty())
            SetProperty(set, "User_Name", loginUserName_);
        if (std::string password = loginList.ValueOfName("Password"); !password.empty())
            SetProperty(set, "Password", password);

        // Attach: the defaults of the driver named by the set fill in what the set lacks.
        std::string setDriver = set.ValueOfName("DriverName");
        if (set.IndexOfName("DriverName") < 0) {
            if (const auto* profile = TDriverRegistry::Instance().FindConnectionProfile(
                    set.ValueOfName("ConnectionName")))
                for (const auto& line : *profile) {
                    TParamList one{line};
                    if (one.Count() && set.IndexOfName(one.Name(0)) < 0)
                        set.Add(line);
                }
            setDriver = set.ValueOfName("DriverName");
        }
        const TDriverDefaults* setDefaults = TDriverRegistry::Instance().FindDriver(setDriver);
        if (!setDefaults)
            throw TDriverError(DriverCode::DriverInitFailed, "不明なドライバです:  " + setDriver);
        for (const auto& [name, value] : *setDefaults)
            if (set.IndexOfName(name) < 0)
                set.Add(name + "=" + value);
        TDriverRegistry::Instance().AcquireDriver(setDriver);
        properties_ = set;
        attachment_ = TDrvConnection::Connect(set);

        defaultSchema_.clear();
        std::string schemaOverride = set.ValueOfName("SchemaOverride");
        if (std::size_t dot = schemaOverride.find('.');
            dot != std::string::npos && schemaOverride.find('.', dot + 1) == std::string::npos) {
            std::string owner = schemaOverride.substr(0, dot);
            if (owner == "%" || owner == loginUserName_)
                defaultSchema_ = schemaOverride.substr(dot + 1);
        }
        quoteChar_ = attachment_->GetVendorProperty("QuoteCharEnabled") == "true" ? "\"" : "";
        transactionsSupported_ = true;
        multipleTransactions_ = true;
        maxStmtsPerConn_ = 0;
        everOpened_ = true;
        state_ = TConnectionState::csStateOpen;
    } catch (...) {
        attachment_.reset();
        state_ = TConnectionState::csStateClosed;
        ParamsLoaded = false;
        throw;
    }
}

void TSQLConnection::DoDisconnect() {
    if (!attachment_)
        return;
    state_ = TConnectionState::csStateDisconnecting;
    try {
        CloseDataSets();
    } catch (...) {
        // The attachment is released below all the same.
    }
    transactionCount_ = 0;
    attachmentLost_ = false;
    lastStatement_ = nullptr;
    statements_.clear();
    statementOrder_.clear();
    statementsGeneration_ = NextStatementsGeneration();
    // Releasing the driver's transactions rolls them back.
    transactions_.clear();
    attachment_.reset();
    state_ = TConnectionState::csStateClosed;
    ParamsLoaded = false;
}

template <typename F> decltype(auto) TSQLConnection::WatchAttachment(F&& operation) {
    try {
        return operation();
    } catch (const TDriverError& error) {
        if (IsConnectionLostError(error.ErrorCode()) || IsDatabaseFileError(error.ErrorCode()))
            attachmentLost_ = true;
        CloseIfLost();
        throw;
    }
}

void TSQLConnection::CloseIfLost() noexcept {
    // A transaction still open belongs to its caller, who ends it (and fails) first.
    if (!attachmentLost_ || transactionCount_ > 0 || !attachment_)
        return;
    try {
        SetConnected(false);
    } catch (...) {
        DoDisconnect();
    }
}

void TSQLConnection::CloseDataSets() {
    for (TConnectionClient* client : std::vector(clients_))
        if (client->ClientActive())
            client->CloseForConnection();
}

std::string TSQLConnection::GetVendorProperty(const std::string& name) const {
    if (SameText(name, "IsSQLBased"))
        return "true";
    return attachment_ ? attachment_->GetVendorProperty(name) : std::string();
}

void TSQLConnection::EnsureOpen() {
    if (!Connected())
        SetConnected(true);
    if (!Connected())
        RaiseWithComponent(kClosedConnection);
}

// ---------------------------------------------------------------------------------------------
// Transactions

void TSQLConnection::StartTransaction(const TTransactionDesc& desc) {
    if (!Connected())
        SetConnected(true);
    if (!Connected())
        RaiseWithComponent(kClosedConnection);
    if (!transactionsSupported_)
        return;
    if (transactionCount_ > 0 && !multipleTransactions_)
        RaiseWithComponent(kTransactionActive);
    TDrvIsolation isolation = TDrvIsolation::ReadCommitted;
    switch (desc.IsolationLevel) {
    case TTransIsolationLevel::xilREPEATABLEREAD:
        isolation = TDrvIsolation::RepeatableRead;
        break;
    case TTransIsolationLevel::xilDIRTYREAD:
        isolation = TDrvIsolation::DirtyRead;
        break;
    case TTransIsolationLevel::xilREADCOMMITTED:
    case TTransIsolationLevel::xilCUSTOM:
        break;
    }
    auto transaction = WatchAttachment([&] { return attachment_->BeginTransaction(isolation); });
    transactions_.push_back({desc, std::move(transaction)});
    ++transactionCount_;
}

TDrvTransaction* TSQLConnection::BeginTransaction() {
    if (!everOpened_ || !transactionsSupported_)
        return nullptr;
    TTransactionDesc desc;
    desc.TransactionID = static_cast<std::uint32_t>(transactionCount_ + 1);
    desc.IsolationLevel = TTransIsolationLevel::xilREADCOMMITTED;
    StartTransaction(desc);
    return transactions_.back().transaction.get();
}

void TSQLConnection::EndTransaction(std::size_t index, bool commit) {
    // Entries above the one being ended are dropped; their driver transactions roll back.
    while (transactions_.size() > index + 1)
        transactions_.pop_back();
    OpenTransaction entry = std::move(transactions_.back());
    transactions_.pop_back();
    --transactionCount_;
    WatchAttachment([&] {
        if (commit)
            entry.transaction->Commit();
        else
            entry.transaction->Rollback();
    });
}

void TSQLConnection::EndTransaction(const TTransactionDesc& desc, bool commit) {
    if (!transactionsSupported_)
        return;
    if (transactionCount_ == 0)
        RaiseWithComponent(kNoTransaction);
    if (!attachment_)
        RaiseWithComponent(kClosedConnection);
    for (std::size_t i = transactions_.size(); i-- > 0;)
        if (transactions_[i].desc.TransactionID == desc.TransactionID)
            return EndTransaction(i, commit);
    RaiseWithComponent(kNoTransaction);
}

void TSQLConnection::Commit(const TTransactionDesc& desc) {
    EndTransaction(desc, true);
}

void TSQLConnection::Rollback(const TTransactionDesc& desc) {
    EndTransaction(desc, false);
}

const TTransactionDesc* TSQLConnection::InnermostDesc() const noexcept {
    return transactions_.empty() ? nullptr : &transactions_.back().desc;
}

// ---------------------------------------------------------------------------------------------
// TTransactionScope

TTransactionScope::TTransactionScope(TSQLConnection& connection)
    : connection_(connection), transaction_(connection.BeginTransaction()) {
    if (const TTransactionDesc* desc = connection.InnermostDesc(); transaction_ && desc)
        desc_ = *desc;
}

TTransactionScope::~TTransactionScope() noexcept {
    if (state_ != State::Open)
        return;
    try {
        End(false);
    } catch (...) {
        // A rollback that fails leaves nothing to undo: closing the connection rolls back too.
    }
}

void TTransactionScope::Commit() {
    End(true);
}

void TTransactionScope::Rollback() {
    End(false);
}

void TTransactionScope::End(bool commit) {
    if (state_ != State::Open)
        throw std::logic_error("TTransactionScope: the transaction has ended already");
    // It ends whatever the outcome: a commit that fails is not tried again by the destructor.
    state_ = commit ? State::Committed : State::RolledBack;
    if (!transaction_)
        return;
    if (commit)
        connection_.Commit(desc_);
    else
        connection_.Rollback(desc_);
}

void TSQLConnection::EndInnermostTransaction(bool commit) {
    if (transactions_.empty())
        RaiseWithComponent(kNoTransaction);
    if (!attachment_)
        RaiseWithComponent(kClosedConnection);
    EndTransaction(transactions_.size() - 1, commit);
}

TDrvTransaction* TSQLConnection::InnermostTransaction() noexcept {
    return transactions_.empty() ? nullptr : transactions_.back().transaction.get();
}

// ---------------------------------------------------------------------------------------------
// Statements

std::uint64_t TSQLConnection::NextStatementsGeneration() noexcept {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

TDrvStatement& TSQLConnection::CachedStatement(TDrvTransaction& transaction,
                                               const std::string& sql) {
    // An apply runs one text many times over: comparing it with the last one found is cheaper
    // than hashing it again.
    if (lastStatement_ && lastStatement_->first == sql)
        return *lastStatement_->second;
    if (auto it = statements_.find(sql); it != statements_.end()) {
        lastStatement_ = &*it;
        return *it->second;
    }
    auto statement = attachment_->Prepare(transaction, sql);
    if (statements_.size() >= kStatementCacheSize) {
        lastStatement_ = nullptr;
        statementsGeneration_ = NextStatementsGeneration();
        statements_.erase(statementOrder_.front());
        statementOrder_.pop_front();
    }
    statementOrder_.push_back(sql);
    lastStatement_ = &*statements_.emplace(sql, std::move(statement)).first;
    return *lastStatement_->second;
}

template <typename Run> std::uint64_t TSQLConnection::RunStatement(Run&& run) {
    EnsureOpen();
    BusyPointer busy(SQLHourGlass);
    state_ = TConnectionState::csStateExecuting;
    TScopeExit restore([this] {
        if (attachment_)
            state_ = TConnectionState::csStateOpen;
    });

    return WatchAttachment([&]() -> std::uint64_t {
        // Without an open transaction of the connection, the statement runs in one of its own.
        std::unique_ptr<TDrvTransaction> own;
        TDrvTransaction* transaction = InnermostTransaction();
        if (!transaction) {
            own = attachment_->BeginTransaction(TDrvIsolation::ReadCommitted);
            transaction = own.get();
        }
        std::uint64_t affected = run(*transaction, own);
        // A transaction of its own that `run` did not hand on ends with the statement.
        if (own)
            own->Commit();
        return affected;
    });
}

const std::string& TSQLConnection::PreparedText(const std::string& sql, bool hasParams,
                                                std::string& replaced) const {
    // Only a text with a colon can hold a named marker.
    if (hasParams && sql.find(':') != std::string::npos)
        replaced = ReplaceNamedMarkers(sql, quoteChar_);
    return replaced.empty() ? sql : replaced;
}

std::uint64_t TSQLConnection::Execute(const std::string& sql, TDrvParamSource& params,
                                      TStatementSlot* slot) {
    return RunStatement([&](TDrvTransaction& transaction, std::unique_ptr<TDrvTransaction>&) {
        TDrvStatement* statement =
            slot && slot->generation == statementsGeneration_ ? slot->statement : nullptr;
        if (!statement) {
            std::string replaced;
            statement =
                &CachedStatement(transaction, PreparedText(sql, params.Count() > 0, replaced));
            if (slot)
                *slot = {statement, statementsGeneration_};
        }
        return statement->Execute(transaction, params);
    });
}

std::uint64_t TSQLConnection::Execute(const std::string& sql, const std::vector<TValue>& params,
                                      std::unique_ptr<TSQLResultSet>* resultSet) {
    return RunStatement(
        [&](TDrvTransaction& transaction, std::unique_ptr<TDrvTransaction>& own) -> std::uint64_t {
            std::string replaced;
            const std::string& text = PreparedText(sql, !params.empty(), replaced);
            if (!resultSet)
                return CachedStatement(transaction, text).Execute(transaction, params);
            return OpenResultSet(text, transaction, own, params, *resultSet);
        });
}

std::uint64_t TSQLConnection::OpenResultSet(const std::string& text, TDrvTransaction& transaction,
                                            std::unique_ptr<TDrvTransaction>& own,
                                            const std::vector<TValue>& params,
                                            std::unique_ptr<TSQLResultSet>& resultSet) {
    std::unique_ptr<TSQLResultSet> rows(new TSQLResultSet());
    rows->statement_ = attachment_->Prepare(transaction, text);
    if (!rows->statement_->ReturnsRows()) {
        // Not a query: it runs, and there are no rows to hand over.
        std::uint64_t affected = rows->statement_->Execute(transaction, params);
        if (own) {
            own->Commit();
            own.reset();
        }
        resultSet.reset();
        return affected;
    }
    for (std::size_t i = 1; i <= params.size(); ++i)
        rows->paramNames_.push_back("P" + std::to_string(i));
    rows->reader_ = rows->statement_->Open(transaction, params);
    // The rows keep the transaction of their own until they are read.
    rows->ownTransaction_ = std::move(own);
    resultSet = std::move(rows);
    return 0;
}

std::uint64_t TSQLConnection::ExecuteDirect(const std::string& sql) {
    EnsureOpen();
    return WatchAttachment([&] {
        std::unique_ptr<TDrvTransaction> own;
        TDrvTransaction* transaction = InnermostTransaction();
        if (!transaction) {
            own = attachment_->BeginTransaction(TDrvIsolation::ReadCommitted);
            transaction = own.get();
        }
        std::uint64_t affected = attachment_->ExecuteImmediate(*transaction, sql);
        if (own)
            own->Commit();
        return affected;
    });
}

std::string QuoteIdentifier(const std::string& name, const std::string& quoteChar) {
    if (quoteChar.empty())
        return name;
    std::string quoted = quoteChar;
    for (std::size_t at = 0;;) {
        std::size_t next = name.find(quoteChar, at);
        quoted.append(name, at, next == std::string::npos ? std::string::npos : next - at);
        if (next == std::string::npos)
            break;
        quoted += quoteChar + quoteChar;
        at = next + quoteChar.size();
    }
    return quoted + quoteChar;
}

std::string ReplaceNamedMarkers(const std::string& sql, const std::string& quoteChar) {
    auto isBefore = [](char c) {
        return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '(' || c == ')' ||
               c == ',' || c == '<' || c == '=' || c == '>';
    };
    auto endsName = [](char c) {
        return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == ')' || c == ',';
    };
    std::string out;
    out.reserve(sql.size() + 16);
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        char c = sql[i];
        if (quote) {
            out += c;
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || (!quoteChar.empty() && c == quoteChar[0])) {
            quote = c;
            out += c;
            continue;
        }
        if (c == ':' && i > 0 && isBefore(sql[i - 1]) && i + 1 < sql.size() &&
            !endsName(sql[i + 1])) {
            std::size_t end = i + 1;
            while (end < sql.size() && !endsName(sql[end]))
                ++end;
            out += " ? ";
            i = end - 1;
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace sorvanto
