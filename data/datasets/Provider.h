#pragma once

#include "Progress.h"
#include "SQLDataSet.h"
#include "TableEngine.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace sorvanto {

// What the provider hands to the table engine: the field descriptions and the rows.
struct TDataPacket {
    std::vector<TFieldDef> fieldDefs;
    TRowStore rows;
};

// Fetches the inner command's rows into packets for a cached table dataset.
class TDataSetProvider : public TComponent {
public:
    explicit TDataSetProvider(std::string name = "InternalProvider")
        : TComponent(std::move(name)) {}

    TSQLDataSet* DataSet = nullptr;
    // Called with the rows written so far, every kProgressRowStride rows; raising from it stops
    // the read with that failure.
    std::function<void(std::int64_t rows)> OnRows;

    // Answers a packet of up to `count` rows (-1 for all) from the command's current row on,
    // the field descriptions when asked for, after a reset when asked for. Returns the number of
    // rows written. The command is opened when closed and closed again once all rows are read.
    int GetRecords(int count, bool withMetadata, bool reset, std::optional<TDataPacket>& packet);
    // Closes the command if the provider opened it.
    void Reset();

private:
    bool openedCommand_ = false;
};

} // namespace sorvanto
