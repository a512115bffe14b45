#pragma once

#include <string>
#include <vector>

namespace sorvanto::bench {

// "grid": an offscreen data grid of the window's stored size on cached datasets of 1,000 and
// of --rows keyword rows: one full repaint, one step down from the bottom row, and a thumb jump
// to the middle, with the painted share of a step.
int RunGridBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
