#pragma once

// What the driver's parts share: the states behind its handles, the layout of a message, and the
// calls into the client library that turn its errors into TDriverErrors. Seen by the driver's own
// sources only.

#include "CharacterSets.h"
#include "Errors.h"
#include "FirebirdClient.h"
#include "FirebirdDriver.h"
#include "FirebirdHandle.h"

#include <firebird/Interface.h>

#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace sorvanto {

namespace fbdrv {

using Firebird::FbException;
using Firebird::ThrowStatusWrapper;

// The one place where an error of the client library becomes a TDriverError.
[[noreturn]] void RaiseDriverError(Firebird::IUtil* util, const FbException& error);

// Runs a call of a statement; an error it raises carries the statement's text.
template <typename F> auto NamingStatement(const std::string& text, F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (TDriverError& error) {
        if (error.Statement().empty())
            error.SetStatement(text);
        throw;
    }
}

[[noreturn]] void RaiseClosed();

// Calls the client library; an error it raises comes out as a TDriverError.
template <typename F> auto CallClient(Firebird::IUtil* util, F&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const FbException& error) {
        RaiseDriverError(util, error);
    }
}

// Something that lives on an attachment and must be released before it detaches.
struct Child {
    virtual ~Child() = default;
    virtual void ReleaseForClose() noexcept = 0;
    int order = 0; // readers 0, statements 1, transactions 2
};

struct AttachmentState {
    Client* client = nullptr;
    Handle<Firebird::IAttachment> attachment;
    std::unique_ptr<Status> status;
    int dialect = 3;
    bool wideText = false;
    // The attachment's character set (ServerCharSet); null for none or NONE.
    const TCharSet* charSet = nullptr;
    std::int64_t id = 0; // its number in the database, once asked
    bool trimChar = false;
    bool waitOnLocks = true;
    bool commitRetain = false;
    TDrvIsolation defaultIsolation = TDrvIsolation::ReadCommitted;
    std::list<Child*> children;
    // What the system tables say of a table's columns, read once per attachment and table.
    struct ColumnFacts {
        std::set<std::string> computed;
        std::map<std::string, int> charSets; // of the text columns, by column
    };
    std::map<std::string, ColumnFacts> columnFacts; // by table

    Firebird::IUtil* util() const { return client->util; }

    void Register(Child* child) { children.push_back(child); }
    void Unregister(Child* child) { children.remove(child); }

    void Close() noexcept {
        for (int order = 0; order <= 2; ++order) {
            auto pending = children;
            for (Child* child : pending)
                if (child->order == order)
                    child->ReleaseForClose();
        }
        children.clear();
        attachment.Finish([&](Firebird::IAttachment* a) { a->detach(status->get()); });
    }
};

struct TransactionState : Child {
    std::shared_ptr<AttachmentState> owner;
    Handle<Firebird::ITransaction> transaction;
    bool retained = false;

    TransactionState() { order = 2; }
    ~TransactionState() override {
        ReleaseForClose();
        if (owner)
            owner->Unregister(this);
    }
    void ReleaseForClose() noexcept override {
        transaction.Finish([&](Firebird::ITransaction* t) { t->rollback(owner->status->get()); });
    }
    Firebird::ITransaction* Live() const {
        if (!transaction || !owner->attachment)
            RaiseClosed();
        return transaction.get();
    }
};

// One column of a message: where its value and null flag sit in the buffer.
struct MessageField {
    unsigned type = 0;
    int subType = 0;
    unsigned length = 0;
    int scale = 0;
    unsigned charSet = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
    bool nullable = true;
};

std::vector<MessageField> DescribeMessage(Firebird::IMessageMetadata* meta, ThrowStatusWrapper* st);

struct StatementState : Child {
    std::shared_ptr<AttachmentState> owner;
    Handle<Firebird::IStatement> statement;
    std::string text;
    Handle<Firebird::IMessageMetadata> declaredInput;
    std::vector<MessageField> declared;
    // The input message built for the last parameter kinds; rebuilt only when they change.
    Handle<Firebird::IMessageMetadata> input;
    std::vector<MessageField> inputFields;
    std::vector<unsigned char> inputBuffer;
    std::vector<MessageField> wanted; // the message types of the values being bound
    // The text values being bound, in their parameters' character sets.
    std::vector<std::string> encoded;
    // The message in the statement's own layout, for values written straight into it.
    std::vector<unsigned char> declaredBuffer;
    bool returnsRows = false;

    StatementState() { order = 1; }
    ~StatementState() override {
        ReleaseForClose();
        if (owner)
            owner->Unregister(this);
    }
    void ReleaseForClose() noexcept override {
        input.Reset();
        declaredInput.Reset();
        statement.Finish([&](Firebird::IStatement* st) { st->free(owner->status->get()); });
    }
    Firebird::IStatement* Live() const {
        if (!statement || !owner->attachment)
            RaiseClosed();
        return statement.get();
    }
};

// The character set text of a message field travels in: the field's own, which is the
// attachment's or the column's; a field of NONE carries bytes that are taken in the
// attachment's set, or as UTF-8 without one. A set the table does not know is taken as UTF-8.
const TCharSet& WireCharSet(const AttachmentState& a, unsigned charSet);

struct ReaderState : Child {
    std::shared_ptr<StatementState> statement;
    std::shared_ptr<TransactionState> transaction;
    Handle<Firebird::IResultSet> cursor;
    Handle<Firebird::IMessageMetadata> output;
    std::vector<MessageField> fields;
    std::vector<TDrvColumnDesc> columns;
    std::vector<unsigned char> buffer;
    bool onRow = false;

    ReaderState() { order = 0; }
    ~ReaderState() override {
        ReleaseForClose();
        if (statement && statement->owner)
            statement->owner->Unregister(this);
    }
    void ReleaseForClose() noexcept override {
        output.Reset();
        if (!cursor)
            return;
        cursor.Finish([&](Firebird::IResultSet* c) { c->close(statement->owner->status->get()); });
        onRow = false;
    }
    AttachmentState& owner() const { return *statement->owner; }
};

// The bytes a character of the set takes at most.
int BytesPerCharacter(unsigned charSet);
// Whether text bound to a parameter so declared is text in a character set (not a number the
// database reads from text, not bytes).
bool TakesText(const MessageField& declared);
// Fills the input message of a statement from the parameter values.
Firebird::IMessageMetadata* BindParameters(StatementState& s, Firebird::ITransaction* tra,
                                           const std::vector<TValue>& params);
// Writes the bytes into a new blob of the transaction; returns its id.
ISC_QUAD WriteBlob(StatementState& s, Firebird::ITransaction* tra, std::string_view bytes);
// Prepares a statement on the attachment and registers it there.
std::shared_ptr<StatementState> PrepareState(const std::shared_ptr<AttachmentState>& owner,
                                             Firebird::ITransaction* tra, std::string_view sql);
// The number an info call answers for its one item: the item, a 2-byte length, the value.
std::int64_t InfoNumber(const unsigned char* answer, unsigned char item);
// The description of a column of the current row; fails when there is no row or no such column.
const MessageField& FieldOf(const ReaderState& s, int column);

inline const std::shared_ptr<TransactionState>& TransactionOf(TDrvTransaction& transaction) {
    return TransactionStateOf(transaction);
}

} // namespace fbdrv

struct TDrvTransaction::Impl {
    std::shared_ptr<fbdrv::TransactionState> state;
};

struct TDrvReader::Impl {
    std::shared_ptr<fbdrv::ReaderState> state;
};

struct TDrvStatement::Impl {
    std::shared_ptr<fbdrv::StatementState> state;
};

} // namespace sorvanto
