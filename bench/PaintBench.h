#pragma once

#include <string>
#include <vector>

namespace sorvanto::bench {

// "paint": the program's main window (offscreen) opens its keywords view on --rows keyword
// rows while the window is asked to repaint all the time, as a window dragged over it would;
// the longest time the window goes without painting during the open.
int RunPaintBench(const std::vector<std::string>& args);

} // namespace sorvanto::bench
