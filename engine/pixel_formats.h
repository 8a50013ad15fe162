#pragma once

#include <cstdint>

// The ordered-dither matrix: kDitherSize x kDitherSize thresholds, row-major.
// Output row y takes its thresholds from row y mod kDitherSize, pixel x from
// column x mod kDitherSize; the size is a power of two, so that is a mask.
inline constexpr std::uint32_t kDitherSize = 16;
inline constexpr std::uint32_t kDitherMask = kDitherSize - 1;
inline constexpr std::uint32_t kDitherBytes = kDitherSize * kDitherSize;
static_assert((kDitherSize & kDitherMask) == 0, "a power of two");

// Fills the kDitherBytes thresholds (4 ... 251).
void BuildDitherMatrix(std::uint8_t* matrix);

// Reduces one output row to the pixels of `colorMode` in `outRow`: `acc`
// holds 3 x width area sums (65536 times the mean sample), `curve` is the
// tone curve over their top 16 bits and `thresholds` the dither matrix's row
// for this output row. Only pixel bytes are written; false for a mode this
// knows nothing of.
bool ReduceRow(std::uint32_t colorMode, const std::uint32_t* acc, std::uint32_t width,
               const std::uint16_t* curve, const std::uint8_t* thresholds, std::uint8_t* outRow);
