#include "DBNavigator.h"

namespace sorvanto {} // namespace sorvanto
