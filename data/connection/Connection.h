#pragma once

#include "Component.h"
#include "FirebirdDriver.h"
#include "ParamList.h"
#include "UserInterface.h"
#include "Value.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sorvanto {

class TCustomConnection;

// A dataset that uses a connection registers itself with it, so that the connection can tell it
// when it opens or closes and close it first.
class TConnectionClient {
public:
    virtual ~TConnectionClient() = default;
    virtual bool ClientActive() const = 0;
    // Closes the dataset and releases its prepared statement.
    virtual void CloseForConnection() = 0;
    // The connection opened or is about to close.
    virtual void ConnectionChanged(TCustomConnection& connection, bool connecting) = 0;
};

using TNotifyEvent = std::function<void(TComponent* sender)>;
using TLoginEvent = std::function<void(TComponent* sender, TParamList& loginParams)>;

// The general connection: the open state, the login prompt flag, the connect and disconnect
// events and the registered datasets.
class TCustomConnection : public TComponent {
public:
    explicit TCustomConnection(std::string name = {}) : TComponent(std::move(name)) {}
    ~TCustomConnection() override;

    bool Connected() { return GetConnected(); }
    void SetConnected(bool value) { DoSetConnected(value); }

    bool LoginPrompt = true;
    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
    TLoginEvent OnLogin;

    virtual TConnectionClient* DataSet(int index) const;
    virtual int DataSetCount() const;
    virtual void RegisterClient(TConnectionClient* client);
    virtual void UnRegisterClient(TConnectionClient* client);

protected:
    virtual void DoConnect() = 0;
    virtual void DoDisconnect() = 0;
    virtual bool GetConnected() = 0;
    virtual void DoSetConnected(bool value);
    void Loaded() override;
    // Detaches every registered dataset, closing it first; for the destructors of subclasses.
    void DetachClients();

    std::vector<TConnectionClient*> clients_;
    bool streamedConnected_ = false;
};

enum class TConnectionState {
    csStateClosed,
    csStateOpen,
    csStateConnecting,
    csStateExecuting,
    csStateFetching,
    csStateDisconnecting,
};

enum class TTransIsolationLevel { xilREADCOMMITTED, xilREPEATABLEREAD, xilDIRTYREAD, xilCUSTOM };

struct TTransactionDesc {
    std::uint32_t TransactionID = 0;
    std::uint32_t GlobalID = 0;
    TTransIsolationLevel IsolationLevel = TTransIsolationLevel::xilREADCOMMITTED;
    std::uint32_t CustomIsolation = 0;
};

// Rows of a statement run through Execute, read forward. Owns its statement and, when no
// transaction of the connection was open, the transaction it runs in (committed when it closes).
class TSQLResultSet {
public:
    ~TSQLResultSet();
    TDrvReader& Reader() { return *reader_; }
    bool Next() { return reader_->Next(); }
    // Parameter names of the statement: "P1", "P2", ...
    const std::vector<std::string>& ParamNames() const noexcept { return paramNames_; }

private:
    friend class TSQLConnection;
    TSQLResultSet() = default;
    std::unique_ptr<TDrvTransaction> ownTransaction_;
    std::unique_ptr<TDrvStatement> statement_;
    std::unique_ptr<TDrvReader> reader_;
    std::vector<std::string> paramNames_;
};

// The user interface's share in opening a connection (the busy pointer and the login dialog) is
// part of the program's one user interface.
using TConnectionUi = TUserInterface;
inline void SetConnectionUi(TConnectionUi ui) {
    SetUserInterface(std::move(ui));
}

// Where a caller that runs one text many times keeps the statement the connection prepared for
// it, so that the next run neither looks the text up nor compares it again. It holds while the
// connection's prepared statements stay as they were when it was filled.
struct TStatementSlot {
    TDrvStatement* statement = nullptr;
    std::uint64_t generation = 0;
};

// One attachment to a Firebird database, opened from its parameter list and its driver's
// defaults.
class TSQLConnection : public TCustomConnection {
public:
    explicit TSQLConnection(std::string name = {});
    ~TSQLConnection() override;

    // Parameters and the profile file.
    TParamList& Params() noexcept { return params_; }
    const TParamList& Params() const noexcept { return params_; }
    void SetParams(const TParamList& params);
    const std::string& ConnectionName() const noexcept { return connectionName_; }
    void SetConnectionName(const std::string& name);
    bool LoadParamsOnConnect = false;
    bool ParamsLoaded = false;
    const std::string& DefaultProfileFile() const noexcept { return defaultProfileFile_; }
    void LoadParamsFromIniFile(const std::string& fileName = {});

    // Driver.
    const std::string& DriverName() const noexcept { return driverName_; }
    void SetDriverName(const std::string& name);
    std::string LibraryName, VendorLib, GetDriverFunc;

    bool KeepConnection = true;
    bool SQLHourGlass = true;
    bool AutoClone = true;

    TConnectionState ConnectionState() const noexcept { return state_; }
    bool TransactionsSupported() const noexcept { return transactionsSupported_; }
    bool MultipleTransactionsSupported() const noexcept { return multipleTransactions_; }
    int MaxStmtsPerConn() const noexcept { return maxStmtsPerConn_; }
    const std::string& GetLoginUsername() const noexcept { return loginUserName_; }
    const std::string& QuoteChar() const noexcept { return quoteChar_; }
    const std::string& DefaultSchemaName() const noexcept { return defaultSchema_; }
    // The property set handed to the driver at the last opening.
    const TParamList& ConnectionProperties() const noexcept { return properties_; }
    // A property of the open attachment ("QuoteCharEnabled", "IsSQLBased", ...).
    std::string GetVendorProperty(const std::string& name) const;

    void CloseDataSets();

    // Transactions.
    bool InTransaction() const noexcept { return transactionCount_ > 0; }
    int TransactionCount() const noexcept { return transactionCount_; }
    void StartTransaction(const TTransactionDesc& desc);
    TDrvTransaction* BeginTransaction();
    // The description of the innermost open transaction; null when none is open.
    const TTransactionDesc* InnermostDesc() const noexcept;
    void Commit(const TTransactionDesc& desc);
    void Rollback(const TTransactionDesc& desc);
    // Ends the innermost open transaction.
    void EndInnermostTransaction(bool commit);

    // Statements. Execute runs one statement with positional parameters and returns the count
    // of affected rows; with resultSet given, the statement is opened and its rows handed over.
    std::uint64_t Execute(const std::string& sql, const std::vector<TValue>& params,
                          std::unique_ptr<TSQLResultSet>* resultSet = nullptr);
    // The same for a statement without rows whose parameters are written straight into its
    // message where they can be; with a slot, the statement is found through it when it still
    // holds, and kept in it otherwise.
    std::uint64_t Execute(const std::string& sql, TDrvParamSource& params,
                          TStatementSlot* slot = nullptr);
    std::uint64_t ExecuteDirect(const std::string& sql);

    // For the datasets of the connection: the attachment and the transaction a statement of
    // theirs runs in (the innermost open one, or none).
    TDrvConnection* Attachment() noexcept { return attachment_.get(); }
    // Closes the connection when an operation since it opened found its attachment lost or its
    // database file failing, and no transaction is open: the next use opens a fresh attachment.
    // A failing operation closes it by itself; after an operation that failed inside a
    // transaction that then ended well, the caller calls this once done with the attachment.
    void CloseIfLost() noexcept;
    TDrvTransaction* InnermostTransaction() noexcept;
    // Opens the connection when it is closed; fails when it still is not open.
    void EnsureOpen();

protected:
    void DoConnect() override;
    void DoDisconnect() override;
    bool GetConnected() override;
    void DoSetConnected(bool value) override;

private:
    TParamList BuildProperties();
    [[noreturn]] void RaiseWithComponent(const std::string& message) const;
    TDrvStatement& CachedStatement(TDrvTransaction& transaction, const std::string& sql);
    void EndTransaction(std::size_t index, bool commit);
    // Commit and Rollback: the transaction of that number ends as asked.
    void EndTransaction(const TTransactionDesc& desc, bool commit);
    // Runs an operation of the attachment; when the client library reports the attachment lost,
    // or the engine a failure of the database file, the attachment is marked as no longer to be
    // trusted, and the connection closes as soon as no transaction is open (CloseIfLost).
    template <typename F> decltype(auto) WatchAttachment(F&& operation);
    // Runs `run` (transaction, the transaction of its own or null) for a statement: with the
    // connection open and executing, in the innermost transaction or in one of its own, which
    // is committed afterwards unless `run` took it over.
    template <typename Run> std::uint64_t RunStatement(Run&& run);
    // The text to prepare for sql: with parameters, its named markers replaced (into
    // `replaced`).
    const std::string& PreparedText(const std::string& sql, bool hasParams,
                                    std::string& replaced) const;
    // Prepares the text and opens its rows into resultSet, which takes over `own`; a statement
    // without rows just runs (its own transaction committed) and leaves resultSet empty.
    std::uint64_t OpenResultSet(const std::string& text, TDrvTransaction& transaction,
                                std::unique_ptr<TDrvTransaction>& own,
                                const std::vector<TValue>& params,
                                std::unique_ptr<TSQLResultSet>& resultSet);

    TParamList params_;
    std::string connectionName_;
    std::string driverName_;
    std::string defaultProfileFile_;
    TConnectionState state_ = TConnectionState::csStateClosed;
    bool transactionsSupported_ = false;
    bool multipleTransactions_ = false;
    int maxStmtsPerConn_ = 0;
    bool everOpened_ = false;
    bool attachmentLost_ = false;
    std::string loginUserName_;
    std::string quoteChar_;
    std::string defaultSchema_;
    TParamList properties_;
    std::unique_ptr<TDrvConnection> attachment_;

    struct OpenTransaction {
        TTransactionDesc desc;
        std::unique_ptr<TDrvTransaction> transaction;
    };
    std::vector<OpenTransaction> transactions_; // innermost last
    int transactionCount_ = 0;

    // Prepared statements by text, reused by Execute; the oldest goes first when it is full.
    std::unordered_map<std::string, std::unique_ptr<TDrvStatement>> statements_;
    std::list<std::string> statementOrder_;
    // The entry CachedStatement found or made last; null when there is none.
    const std::pair<const std::string, std::unique_ptr<TDrvStatement>>* lastStatement_ = nullptr;
    // Changes whenever a prepared statement goes, so that no TStatementSlot filled before
    // holds; unique across connections.
    std::uint64_t statementsGeneration_ = NextStatementsGeneration();
    static std::uint64_t NextStatementsGeneration() noexcept;
};

// A transaction of a connection that ends with its scope, as libpqxx's transaction does: it
// begins when made (BeginTransaction: on a connection that has been open, opened again first),
// commits when asked, and rolls back in its destructor when it was neither committed nor rolled
// back. Ending it a second time is a usage error. On a connection without transactions it holds
// none, and ending it does nothing.
class TTransactionScope {
public:
    explicit TTransactionScope(TSQLConnection& connection);
    ~TTransactionScope() noexcept;
    TTransactionScope(const TTransactionScope&) = delete;
    TTransactionScope& operator=(const TTransactionScope&) = delete;

    void Commit();
    void Rollback();
    // Neither committed nor rolled back yet.
    bool Open() const noexcept { return state_ == State::Open; }
    TDrvTransaction* Transaction() const noexcept { return transaction_; }

private:
    enum class State { Open, Committed, RolledBack };
    void End(bool commit);
    TSQLConnection& connection_;
    TDrvTransaction* transaction_;
    TTransactionDesc desc_;
    State state_ = State::Open;
};

// One identifier in quotes: the quote character around it and doubled inside it, so that a name
// holding the quote character stays one name. With no quote character the name stays bare.
std::string QuoteIdentifier(const std::string& name, const std::string& quoteChar);

// Replaces the ":name" parameter markers of a statement with " ? ": a marker stands outside
// text quoted with "'" or the quote character, after a blank, a line break, "(", ")", ",", "<",
// "=" or ">"; the name ends at a blank, a line break, ")" or ",".
std::string ReplaceNamedMarkers(const std::string& sql, const std::string& quoteChar);

} // namespace sorvanto
