#include "DBGrid.h"

namespace sorvanto {} // namespace sorvanto
