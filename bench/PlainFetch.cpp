#include "PlainFetch.h"

#include "BenchSupport.h"

#include <FirebirdClient.h>
#include <FirebirdHandle.h>

#include <firebird/Interface.h>

#include <cstring>
#include <dlfcn.h>
#include <stdexcept>
#include <vector>

namespace sorvanto::bench {

Firebird::IMaster* ClientMaster() {
    static Firebird::IMaster* master = [] {
        fbdrv::PrepareEmbeddedEngine();
        void* handle = ::dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            throw std::runtime_error(std::string("cannot load libfbclient.so.2: ") + ::dlerror());
        using GetMaster = Firebird::IMaster* (*)();
        auto get = reinterpret_cast<GetMaster>(::dlsym(handle, "fb_get_master_interface"));
        if (!get)
            throw std::runtime_error("libfbclient.so.2 has no fb_get_master_interface");
        return get();
    }();
    return master;
}

namespace {

using fbdrv::Handle;
using Firebird::FbException;
using Firebird::ThrowStatusWrapper;

struct Column {
    unsigned type = 0;
    unsigned length = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
};

} // namespace

PlainFetchResult PlainFetch(const std::string& database, const std::string& table) {
    Firebird::IMaster* master = ClientMaster();
    Firebird::IUtil* util = master->getUtilInterface();
    Firebird::IProvider* provider = master->getDispatcher();
    fbdrv::Status status(master);
    ThrowStatusWrapper& st = *status.get();

    PlainFetchResult result;
    try {
        Handle<Firebird::IXpbBuilder> dpb(
            util->getXpbBuilder(&st, Firebird::IXpbBuilder::DPB, nullptr, 0));
        dpb->insertTag(&st, isc_dpb_utf8_filename);
        dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
        dpb->insertInt(&st, isc_dpb_sql_dialect, 3);

        Stopwatch watch;
        Handle<Firebird::IAttachment> attachment(provider->attachDatabase(
            &st, database.c_str(), dpb->getBufferLength(&st), dpb->getBuffer(&st)));

        const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed,
                                     isc_tpb_rec_version, isc_tpb_wait};
        Handle<Firebird::ITransaction> transaction(
            attachment->startTransaction(&st, sizeof tpb, tpb));

        std::string sql = " select * from \"" + table + "\"";
        Handle<Firebird::IStatement> statement(
            attachment->prepare(&st, transaction.get(), 0, sql.c_str(), 3,
                                Firebird::IStatement::PREPARE_PREFETCH_METADATA));
        Handle<Firebird::IMessageMetadata> meta(statement->getOutputMetadata(&st));
        std::vector<Column> columns(meta->getCount(&st));
        for (unsigned i = 0; i < columns.size(); ++i) {
            columns[i].type = meta->getType(&st, i) & ~1u;
            columns[i].length = meta->getLength(&st, i);
            columns[i].offset = meta->getOffset(&st, i);
            columns[i].nullOffset = meta->getNullOffset(&st, i);
        }
        std::vector<unsigned char> buffer(meta->getMessageLength(&st));
        Handle<Firebird::IResultSet> cursor(
            statement->openCursor(&st, transaction.get(), nullptr, nullptr, meta.get(), 0));

        std::int64_t rows = 0;
        std::int64_t payload = 0;
        unsigned char* row = buffer.data();
        while (cursor->fetchNext(&st, row) == Firebird::IStatus::RESULT_OK) {
            ++rows;
            for (const Column& c : columns) {
                ISC_SHORT isNull;
                std::memcpy(&isNull, row + c.nullOffset, sizeof isNull);
                if (isNull)
                    continue;
                if (c.type == SQL_VARYING) {
                    ISC_USHORT length;
                    std::memcpy(&length, row + c.offset, sizeof length);
                    payload += length;
                } else {
                    payload += c.length;
                }
            }
        }
        cursor->close(&st);
        cursor.Take();
        statement->free(&st);
        statement.Take();
        transaction->commit(&st);
        transaction.Take();
        attachment->detach(&st);
        attachment.Take();
        result.seconds = watch.Seconds();
        result.rows = rows;
        result.payloadBytes = payload;
    } catch (const FbException& error) {
        throw std::runtime_error("plain fetch: " + fbdrv::StatusText(util, error.getStatus()));
    }
    return result;
}

} // namespace sorvanto::bench
