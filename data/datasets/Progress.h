#pragma once

#include <cstdint>
#include <functional>

namespace sorvanto {

// What a long operation of a dataset is doing.
enum class TProgressKind {
    pkReading, // reading the table's rows: done counts rows read, total is unknown (0)
    pkApplying // sending the pending changes: done counts changes sent, total is their number
};

// Told now and then how far a long operation has come. Returning false asks it to stop: it then
// ends with EOperationCancelled, undoing what it did (an apply rolls its transaction back).
using TProgressEvent =
    std::function<bool(TProgressKind kind, std::int64_t done, std::int64_t total)>;

// How many rows a read takes between two reports: the report stays cheap beside the rows.
inline constexpr std::int64_t kProgressRowStride = 256;

} // namespace sorvanto
