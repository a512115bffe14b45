#pragma once

// The record navigator: a row of buttons that move through and change a dataset's records.

namespace sorvanto {} // namespace sorvanto
