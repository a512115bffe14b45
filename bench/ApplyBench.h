#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sorvanto::bench {

// "apply": how long a cached table dataset takes to send a batch of modified rows to the table
// compared with a plain loop of updates through the client library.
int RunApplyBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench

namespace sorvanto::bench {

// The seconds each of `rounds` plain updates of one row of the keyword table took through the
// client library alone: a transaction, one execution of an update prepared beforehand (once, as
// the data layer keeps its prepared statements), the commit. The row is the last one of the
// table without a null column; an even number of rounds leaves it as it was. beforeEach, when
// given, runs before each round, untimed: a caller's own measurement interleaved with these.
std::vector<double> PlainSingleRowUpdates(const std::string& database, std::int64_t rows,
                                          int rounds, const std::function<void()>& beforeEach = {});

} // namespace sorvanto::bench
