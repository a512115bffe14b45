#include "FirebirdDriver.h"

#include "DrivePaths.h"
#include "DriverState.h"
#include "Errors.h"

#include <cstdlib>

namespace sorvanto {

namespace fbdrv {

// The one place where an error of the client library becomes a TDriverError.
[[noreturn]] void RaiseDriverError(Firebird::IUtil* util, const FbException& error) {
    Firebird::IStatus* status = error.getStatus();
    const intptr_t* errors = status->getErrors();
    int code = DriverCode::VendorError;
    if (errors && errors[0] == isc_arg_gds && errors[1] != 0)
        code = static_cast<int>(errors[1]);
    std::string message = StatusText(util, status);
    if (message.empty())
        message = "ドライバ エラー : " + ErrorCodeToString(code);
    TDriverError driverError(code, std::move(message));
    if (code != DriverCode::VendorError)
        driverError.SetEngineCodes(SqlCodeOf(errors), code);
    throw driverError;
}

[[noreturn]] void RaiseClosed() {
    RaiseDriverCode(DriverCode::Closed);
}

} // namespace fbdrv

bool IsConnectionLostError(int errorCode) noexcept {
    switch (errorCode) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_conn_lost:
    case isc_lost_db_connection:
    case isc_shutdown:
    case isc_att_shutdown:
        return true;
    default:
        return false;
    }
}

bool IsDatabaseFileError(int errorCode) noexcept {
    switch (errorCode) {
    case isc_io_error:
    case isc_io_create_err:
    case isc_io_open_err:
    case isc_io_close_err:
    case isc_io_read_err:
    case isc_io_write_err:
    case isc_io_delete_err:
    case isc_io_access_err:
    case isc_io_32bit_exceeded_err:
    case isc_db_corrupt:
    case isc_badpage:
    case isc_bad_checksum:
    case isc_page_type_err:
    case isc_bug_check:
        return true;
    default:
        return false;
    }
}

using namespace fbdrv;

// ---------------------------------------------------------------------------------------------
// Attachments

const std::shared_ptr<TransactionState>& fbdrv::TransactionStateOf(TDrvTransaction& transaction) {
    return transaction.impl_->state;
}

namespace {
TDrvIsolation ParseIsolation(std::string_view text) {
    if (SameText(text, "RepeatableRead"))
        return TDrvIsolation::RepeatableRead;
    if (SameText(text, "DirtyRead"))
        return TDrvIsolation::DirtyRead;
    return TDrvIsolation::ReadCommitted;
}

bool ParseBool(std::string_view text, bool fallback) {
    if (SameText(text, "True"))
        return true;
    if (SameText(text, "False"))
        return false;
    return fallback;
}
} // namespace

std::unique_ptr<TDrvConnection> TDrvConnection::Connect(const TParamList& properties) {
    return Attach(properties, false);
}

std::unique_ptr<TDrvConnection> TDrvConnection::CreateDatabase(const TParamList& properties) {
    return Attach(properties, true);
}

std::unique_ptr<TDrvConnection> TDrvConnection::Attach(const TParamList& properties, bool create) {
    auto value = [&](std::string_view name) { return properties.ValueOfName(name); };
    // The client library takes these as C strings: a NUL byte would cut the value short and,
    // for Database, attach to another database than the one named.
    for (const char* name : {"Database", "User_Name", "Password", "Role", "ServerCharSet",
                             "DatabaseCharSet", "VendorLib"})
        if (value(name).find('\0') != std::string::npos)
            throw TDriverError(DriverCode::InvalidArgument, std::string("引数が無効です:  ") +
                                                                name +
                                                                " の値に NUL 文字が含まれています");
    std::string vendorLib = value("VendorLib");
    if (vendorLib.empty())
        vendorLib = "fbclient.dll";
    Client& client = LoadClient(vendorLib);
    const std::string database = MapDatabasePath(value("Database"));
    CheckLockFolderBeforeAttach(database);

    auto state = std::make_shared<AttachmentState>();
    state->client = &client;
    state->status = std::make_unique<Status>(client.master);
    std::string dialect = value("SQLDialect");
    state->dialect = dialect.empty() ? 3 : std::atoi(dialect.c_str());
    if (state->dialect < 1 || state->dialect > 3)
        state->dialect = 3;
    std::string charSet = value("ServerCharSet");
    state->wideText = !charSet.empty() && !SameText(charSet, "NONE");
    state->charSet = state->wideText ? CharSetByName(charSet) : nullptr;
    state->trimChar = ParseBool(value("TrimChar"), false);
    state->waitOnLocks = ParseBool(value("WaitOnLocks"), true);
    state->commitRetain = ParseBool(value("CommitRetain"), false);
    state->defaultIsolation = ParseIsolation(value("IsolationLevel"));

    ThrowStatusWrapper* st = state->status->get();
    CallClient(client.util, [&] {
        Handle<Firebird::IXpbBuilder> dpb(
            client.util->getXpbBuilder(st, Firebird::IXpbBuilder::DPB, nullptr, 0));
        dpb->insertTag(st, isc_dpb_utf8_filename);
        if (properties.IndexOfName("User_Name") >= 0)
            dpb->insertString(st, isc_dpb_user_name, value("User_Name").c_str());
        if (properties.IndexOfName("Password") >= 0)
            dpb->insertString(st, isc_dpb_password, value("Password").c_str());
        if (std::string role = value("Role"); !role.empty())
            dpb->insertString(st, isc_dpb_sql_role_name, role.c_str());
        if (!charSet.empty())
            dpb->insertString(st, isc_dpb_lc_ctype, charSet.c_str());
        dpb->insertInt(st, isc_dpb_sql_dialect, state->dialect);
        if (create) {
            dpb->insertInt(st, isc_dpb_page_size, 8192);
            if (std::string set = value("DatabaseCharSet"); !set.empty())
                dpb->insertString(st, isc_dpb_set_db_charset, set.c_str());
            state->attachment.Reset(client.provider->createDatabase(
                st, database.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st)));
        } else {
            state->attachment.Reset(client.provider->attachDatabase(
                st, database.c_str(), dpb->getBufferLength(st), dpb->getBuffer(st)));
        }
    });
    std::unique_ptr<TDrvConnection> connection(new TDrvConnection());
    connection->state_ = std::move(state);
    return connection;
}

TDrvConnection::~TDrvConnection() {
    state_->Close();
}

std::unique_ptr<TDrvTransaction> TDrvConnection::BeginTransaction(TDrvIsolation isolation) {
    AttachmentState& a = *state_;
    if (!a.attachment)
        RaiseClosed();
    auto tra = std::make_shared<TransactionState>();
    tra->owner = state_;
    CallClient(a.util(), [&] {
        ThrowStatusWrapper* st = a.status->get();
        Handle<Firebird::IXpbBuilder> tpb(
            a.util()->getXpbBuilder(st, Firebird::IXpbBuilder::TPB, nullptr, 0));
        tpb->insertTag(st, isc_tpb_write);
        if (isolation == TDrvIsolation::RepeatableRead) {
            tpb->insertTag(st, isc_tpb_concurrency);
        } else {
            // The database has no dirty reads: read committed is the nearest level.
            tpb->insertTag(st, isc_tpb_read_committed);
            tpb->insertTag(st, isc_tpb_rec_version);
        }
        if (a.waitOnLocks) {
            // A bounded wait: a row held elsewhere fails the statement with the lock
            // conflict instead of freezing the caller for as long as the other side likes.
            tpb->insertTag(st, isc_tpb_wait);
            tpb->insertInt(st, isc_tpb_lock_timeout, kLockTimeoutSeconds);
        } else {
            tpb->insertTag(st, isc_tpb_nowait);
        }
        tra->transaction.Reset(
            a.attachment->startTransaction(st, tpb->getBufferLength(st), tpb->getBuffer(st)));
    });
    a.Register(tra.get());
    auto impl = std::make_unique<TDrvTransaction::Impl>();
    impl->state = std::move(tra);
    return std::unique_ptr<TDrvTransaction>(new TDrvTransaction(std::move(impl)));
}

std::unique_ptr<TDrvStatement> TDrvConnection::Prepare(TDrvTransaction& transaction,
                                                       std::string_view sql) {
    if (!state_->attachment)
        RaiseClosed();
    auto impl = std::make_unique<TDrvStatement::Impl>();
    impl->state = PrepareState(state_, TransactionOf(transaction)->Live(), sql);
    return std::unique_ptr<TDrvStatement>(new TDrvStatement(std::move(impl)));
}

std::uint64_t TDrvConnection::ExecuteImmediate(TDrvTransaction& transaction, std::string_view sql) {
    auto statement = Prepare(transaction, sql);
    return statement->Execute(transaction, {});
}

TDrvIsolation TDrvConnection::DefaultIsolation() const noexcept {
    return state_->defaultIsolation;
}
int TDrvConnection::Dialect() const noexcept {
    return state_->dialect;
}
bool TDrvConnection::WideText() const noexcept {
    return state_->wideText;
}

std::int64_t TDrvConnection::AttachmentId() {
    AttachmentState& a = *state_;
    if (!a.attachment)
        RaiseClosed();
    if (a.id == 0)
        a.id = CallClient(a.util(), [&] {
            const unsigned char items[] = {isc_info_attachment_id};
            unsigned char answer[32] = {};
            a.attachment->getInfo(a.status->get(), sizeof items, items, sizeof answer, answer);
            return InfoNumber(answer, isc_info_attachment_id);
        });
    return a.id;
}

std::string TDrvConnection::GetVendorProperty(std::string_view name) const {
    if (SameText(name, "QuoteCharEnabled"))
        return state_->dialect >= 3 ? "true" : "false";
    if (SameText(name, "SQLDialect"))
        return std::to_string(state_->dialect);
    return {};
}

} // namespace sorvanto
