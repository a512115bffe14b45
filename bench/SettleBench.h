#pragma once

#include <string>
#include <vector>

namespace sorvanto::bench {

// sorvanto-bench settle: the click after an apply whose commit answer was lost, beside the apply.
int RunSettleBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
