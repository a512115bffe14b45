#include "Provider.h"

namespace sorvanto {

void TDataSetProvider::Reset() {
    if (!DataSet)
        return;
    if (openedCommand_) {
        openedCommand_ = false;
        DataSet->Close();
    }
}

int TDataSetProvider::GetRecords(int count, bool withMetadata, bool reset,
                                 std::optional<TDataPacket>& packet) {
    packet.reset();
    try {
        if (reset) {
            Reset();
            if (count == 0)
                return 0;
        }
        if (!DataSet->Active()) {
            DataSet->Open();
            openedCommand_ = true;
        }
        packet.emplace(TDataPacket{withMetadata ? DataSet->FieldDefs() : std::vector<TFieldDef>{},
                                   TRowStore(DataSet->FieldDefs())});
        TRowStore::Builder row(packet->rows);
        int written = 0;
        bool more = DataSet->AtRow();
        while (more && (count < 0 || written < count)) {
            DataSet->WriteCurrentRow(row);
            ++written;
            if (OnRows && written % kProgressRowStride == 0)
                OnRows(written);
            more = DataSet->NextRow();
        }
        if (written != count)
            Reset();
        return written;
    } catch (...) {
        Reset();
        throw;
    }
}

} // namespace sorvanto
