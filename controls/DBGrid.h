#pragma once

// The data grid: the records of a dataset as a table of cells, painted by the grid itself.

namespace sorvanto {} // namespace sorvanto
