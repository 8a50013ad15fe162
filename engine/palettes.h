// The fixed palettes of the palette-based output formats, stored exactly as
// they are written to a BMP file: blue, green, red, 0 for each entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace palettes {

// Bytes of one entry: blue, green, red, 0.
inline constexpr std::size_t kEntryBytes = 4;

// Mode 8's palette: the sixteen system colours (which the colour mode itself
// never uses), then a cube of 3 blue x 10 green x 8 red levels. The pixel
// reduction indexes it the same way: first index + blue stride x blue level
// + green stride x green level + red level.
inline constexpr std::uint32_t kCubeFirstIndex = 16;
inline constexpr std::uint32_t kCubeBlueLevels = 3;
inline constexpr std::uint32_t kCubeGreenLevels = 10;
inline constexpr std::uint32_t kCubeRedLevels = 8;
inline constexpr std::uint32_t kCubeGreenStride = kCubeRedLevels;
inline constexpr std::uint32_t kCubeBlueStride = kCubeGreenLevels * kCubeRedLevels;
static_assert(kCubeFirstIndex + kCubeBlueLevels * kCubeBlueStride == 256,
              "the cube fills the palette");

extern const std::array<std::uint8_t, 2 * kEntryBytes> kMono;
extern const std::array<std::uint8_t, 16 * kEntryBytes> kSystem16;
extern const std::array<std::uint8_t, 16 * kEntryBytes> kGray16;
extern const std::array<std::uint8_t, 256 * kEntryBytes> kColor256;
extern const std::array<std::uint8_t, 256 * kEntryBytes> kGray256;

// The palette of a colour mode and its size in bytes; null and 0 for the
// 24-bit modes.
const std::uint8_t* ForMode(std::uint32_t colorMode, std::uint32_t* bytes);

}  // namespace palettes
