#pragma once

#include <string>
#include <vector>

namespace sorvanto::bench {

// "open": how long a cached table dataset takes to open a whole table compared with a plain
// read of the same rows through the client library, and how compactly it keeps them.
int RunOpenBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
