#pragma once

// The small one-bit pictures the data-aware widgets draw: the grid's indicator images and the
// navigator's button glyphs, kept as bit rows in the code.

namespace sorvanto {} // namespace sorvanto
