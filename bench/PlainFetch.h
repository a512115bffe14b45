#pragma once

#include <cstdint>
#include <string>

namespace Firebird {
class IMaster;
} // namespace Firebird

namespace sorvanto::bench {

// The Firebird client library's master interface: libfbclient.so.2 loaded on its own, after the
// embedded root is prepared, the way a program without any data layer would load it.
Firebird::IMaster* ClientMaster();

// What a plain read of a table through the client library found.
struct PlainFetchResult {
    double seconds = 0; // from attaching to detaching
    std::int64_t rows = 0;
    std::int64_t payloadBytes = 0; // the rows' own values: numbers at their width, text at its
                                   // length, nulls nothing
};

// Reads every row of the table straight through the Firebird client library's interfaces, the
// way a program without any data layer would: attach, start a read-only read-committed
// transaction, fetch into one buffer with the statement's own output message, commit, detach.
PlainFetchResult PlainFetch(const std::string& database, const std::string& table);

} // namespace sorvanto::bench
