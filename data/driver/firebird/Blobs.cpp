// Blobs: written whole for a parameter, read whole (or just measured) for a column.
#include "DriverState.h"

#include "Errors.h"
#include "Unaligned.h"

#include <algorithm>
#include <string>

namespace sorvanto {

using namespace fbdrv;

ISC_QUAD fbdrv::WriteBlob(StatementState& s, Firebird::ITransaction* tra, std::string_view bytes) {
    ThrowStatusWrapper* st = s.owner->status->get();
    ISC_QUAD id{};
    Handle<Firebird::IBlob> blob(s.owner->attachment->createBlob(st, tra, &id, 0, nullptr));
    try {
        constexpr size_t kSegment = 32768;
        for (size_t pos = 0; pos < bytes.size(); pos += kSegment) {
            size_t n = std::min(kSegment, bytes.size() - pos);
            blob->putSegment(st, static_cast<unsigned>(n), bytes.data() + pos);
        }
        blob->close(st);
        blob.Take();
    } catch (...) {
        blob.Finish([&](Firebird::IBlob* b) { b->cancel(st); });
        throw;
    }
    return id;
}

namespace {
Firebird::IBlob* OpenBlob(const ReaderState& s, int column) {
    const MessageField& f = FieldOf(s, column);
    if (f.type != SQL_BLOB)
        RaiseDriverCode(DriverCode::InvalidType);
    if (!s.transaction->transaction)
        RaiseClosed();
    ISC_QUAD id = Load<ISC_QUAD>(s.buffer.data() + f.offset);
    return s.owner().attachment->openBlob(s.owner().status->get(), s.transaction->transaction.get(),
                                          &id, 0, nullptr);
}

// Closes a blob that was opened for reading, whether the reading succeeded or not.
struct BlobCloser {
    Handle<Firebird::IBlob> blob;
    ThrowStatusWrapper* st;
    ~BlobCloser() {
        blob.Finish([&](Firebird::IBlob* b) { b->close(st); });
    }
};
} // namespace

void TDrvReader::AppendBlob(int column, std::string& out) const {
    const ReaderState& s = *impl_->state;
    if (IsNull(column))
        return;
    CallClient(s.owner().util(), [&] {
        ThrowStatusWrapper* st = s.owner().status->get();
        BlobCloser closer{Handle<Firebird::IBlob>(OpenBlob(s, column)), st};
        char chunk[65535];
        for (;;) {
            unsigned got = 0;
            int rc = closer.blob->getSegment(st, sizeof chunk, chunk, &got);
            if (rc != Firebird::IStatus::RESULT_OK && rc != Firebird::IStatus::RESULT_SEGMENT)
                break;
            out.append(chunk, got);
        }
    });
}

std::string TDrvReader::GetBlob(int column) const {
    std::string out;
    AppendBlob(column, out);
    return out;
}

std::int64_t TDrvReader::GetBlobLength(int column) const {
    const ReaderState& s = *impl_->state;
    if (IsNull(column))
        return 0;
    return CallClient(s.owner().util(), [&] {
        ThrowStatusWrapper* st = s.owner().status->get();
        BlobCloser closer{Handle<Firebird::IBlob>(OpenBlob(s, column)), st};
        const unsigned char items[] = {isc_info_blob_total_length};
        unsigned char answer[32] = {};
        closer.blob->getInfo(st, sizeof items, items, sizeof answer, answer);
        if (answer[0] != isc_info_blob_total_length)
            return std::int64_t(0);
        int size = answer[1] | (answer[2] << 8);
        std::int64_t total = 0;
        for (int i = size - 1; i >= 0; --i)
            total = (total << 8) | answer[3 + i];
        return total;
    });
}

} // namespace sorvanto
