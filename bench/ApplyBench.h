#pragma once

#include <string>
#include <vector>

namespace sorvanto::bench {

// "apply": how long a cached table dataset takes to send a batch of modified rows to the table
// compared with a plain loop of updates through the client library.
int RunApplyBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
