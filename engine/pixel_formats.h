#pragma once

#include <cstdint>

// Fills the 16 x 16 ordered-dither thresholds (4 ... 251), row-major.
void BuildDitherMatrix(std::uint8_t* matrix);
