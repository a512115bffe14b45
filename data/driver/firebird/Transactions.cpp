// Transactions of an attachment: begun by the attachment, ended by commit or rollback.
#include "DriverState.h"

#include "Errors.h"

namespace sorvanto {

using namespace fbdrv;

TDrvTransaction::TDrvTransaction(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TDrvTransaction::~TDrvTransaction() = default;

bool TDrvTransaction::Active() const noexcept {
    return impl_->state->transaction && impl_->state->owner->attachment;
}

void TDrvTransaction::Commit() {
    TransactionState& s = *impl_->state;
    Firebird::ITransaction* tra = s.Live();
    CallClient(s.owner->util(), [&] {
        if (s.owner->commitRetain) {
            tra->commitRetaining(s.owner->status->get());
            s.retained = true;
        } else {
            tra->commit(s.owner->status->get());
            s.transaction.Take();
        }
    });
}

// The number an info call answers for its one item: the item, a 2-byte length, the value.
std::int64_t fbdrv::InfoNumber(const unsigned char* answer, unsigned char item) {
    if (answer[0] != item)
        return 0;
    const int length = answer[1] | (answer[2] << 8);
    std::int64_t value = 0;
    for (int i = length - 1; i >= 0 && i < 8; --i)
        value = (value << 8) | answer[3 + i];
    return value;
}

std::int64_t TDrvTransaction::Id() {
    TransactionState& s = *impl_->state;
    Firebird::ITransaction* tra = s.Live();
    return CallClient(s.owner->util(), [&] {
        const unsigned char items[] = {isc_info_tra_id};
        unsigned char answer[32] = {};
        tra->getInfo(s.owner->status->get(), sizeof items, items, sizeof answer, answer);
        return InfoNumber(answer, isc_info_tra_id);
    });
}

void TDrvTransaction::Rollback() {
    TransactionState& s = *impl_->state;
    Firebird::ITransaction* tra = s.Live();
    CallClient(s.owner->util(), [&] {
        tra->rollback(s.owner->status->get());
        s.transaction.Take();
    });
}

} // namespace sorvanto
