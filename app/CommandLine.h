#pragma once

#include <optional>

namespace sorvanto {

// Answers --version and --help on standard output, before the application object exists, so
// that neither needs a display. Returns the exit status when one of them was given; otherwise
// nothing, and every argument, Qt's own options included, is left to the application object.
std::optional<int> AnswerInformationOptions(int& argc, char** argv);

} // namespace sorvanto
