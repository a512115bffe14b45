#pragma once

#include <string>
#include <vector>

namespace sorvanto {
class TSimpleDataSet;
} // namespace sorvanto

namespace sorvanto::bench {

// Sets a cached dataset up on the whole keyword table, as a form of the program sets it up; it
// is left closed.
void SetUpKeywordDataSet(TSimpleDataSet& ds, const std::string& database);

// "open": how long a cached table dataset takes to open a whole table compared with a plain
// read of the same rows through the client library, and how compactly it keeps them.
int RunOpenBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
