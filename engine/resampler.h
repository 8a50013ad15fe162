#pragma once

#include <cstdint>

// Writes the n + m entries of the area weights that scale n input pixels to
// m output pixels (both at least 1) along one axis.
void BuildWeightList(std::uint32_t n, std::uint32_t m, std::uint16_t* list);
