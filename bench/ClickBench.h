#pragma once

#include <string>
#include <vector>

namespace sorvanto::bench {

// "click": what one navigator click costs on a large keywords view, the window's apply step
// included, beside a plain single-row update through the client library.
int RunClickBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
