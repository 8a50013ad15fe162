// The fixed palettes of the palette-based output formats, stored exactly as
// they are written to a BMP file: blue, green, red, 0 for each entry.
#pragma once

#include <array>
#include <cstdint>

namespace palettes {

extern const std::array<std::uint8_t, 2 * 4> kMono;
extern const std::array<std::uint8_t, 16 * 4> kSystem16;
extern const std::array<std::uint8_t, 16 * 4> kGray16;
extern const std::array<std::uint8_t, 256 * 4> kColor256;
extern const std::array<std::uint8_t, 256 * 4> kGray256;

// The palette of a colour mode and its size in bytes; null and 0 for the
// 24-bit modes.
const std::uint8_t* ForMode(std::uint32_t colorMode, std::uint32_t* bytes);

}  // namespace palettes
