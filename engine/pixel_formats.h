#pragma once

#include <cstdint>

// Fills the 16 x 16 ordered-dither thresholds (4 ... 251), row-major.
void BuildDitherMatrix(std::uint8_t* matrix);

// Reduces one output row to the pixels of `colorMode` in `outRow`: `acc`
// holds 3 x width area sums (65536 times the mean sample), `curve` is the
// tone curve over their top 16 bits and `thresholds` the dither matrix's row
// for this output row. Only pixel bytes are written; false for a mode this
// knows nothing of.
bool ReduceRow(std::uint32_t colorMode, const std::uint32_t* acc, std::uint32_t width,
               const std::uint16_t* curve, const std::uint8_t* thresholds, std::uint8_t* outRow);
