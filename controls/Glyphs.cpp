#include "Glyphs.h"

namespace sorvanto {} // namespace sorvanto
