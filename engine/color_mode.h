// The colour formats a conversion writes, and the bytes one output row takes
// in each: what the palettes, the pixel reduction, the bitmap writer and the
// job all agree on.
#pragma once

#include <cstdint>

// Output formats. 16 and 24 both write 24-bit files; 16 dithers them to the
// levels of a 5-6-5 high colour display.
enum ColorMode : std::uint32_t {
    kModeMono = 1,
    kModeSystem16 = 4,
    kModeGray16 = 5,
    kModeColor256 = 8,
    kModeGray256 = 9,
    kModeHighColor = 16,
    kModeFullColor = 24,
    // Not a wallpaper format: the tone-mapped 16-bit samples, undithered,
    // for 16-bit PNG. Its rows (blue, green, red, little-endian) go to a row
    // output; no bitmap holds them.
    kModeDeepColor = 48,
};

// The wallpaper formats; kModeDeepColor is not one of them.
bool IsColorMode(std::uint32_t mode);

// Bits of one pixel's palette index in a colour mode (1, 4 or 8), or 0 for
// the modes that write colours themselves.
std::uint32_t IndexBits(std::uint32_t colorMode);

// Bytes of one output row in a colour mode (or kModeDeepColor).
std::uint32_t OutputStride(std::uint32_t colorMode, std::uint32_t width);
