// Independent readings of the files the tool writes and reads, shared by the
// suites that check them: what a PNG must become at 16 bits, and the colours
// of bitmaps and of decoded PNG files.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tests/formats/png_test_codec.h"

namespace test {

// A picture of random samples. Palette pictures get min(2^depth,
// paletteColors) random colours, a partial transparency table, and indices
// within the palette.
pngtest::Image RandomImage(std::uint32_t width, std::uint32_t height, int colorType, int bitDepth,
                           std::mt19937& rng, std::uint32_t paletteColors = 200);

// What pack must make of a PNG: every sample scaled to 16 bits by v x 65535 /
// (2^depth - 1), palette entries by 257, grey in all three channels, alpha
// gone. Top row first, red, green, blue.
std::vector<std::uint16_t> ExpectedRgb(const pngtest::Image& image);

// The colours of an uncompressed bottom-up bitmap (palette looked up), top
// row first, red, green, blue.
std::vector<std::uint8_t> BitmapRgb(const std::vector<std::uint8_t>& file, std::uint32_t* width,
                                    std::uint32_t* height);

// The colours of a decoded 8-bit RGB or indexed PNG, in the same order.
std::vector<std::uint8_t> PngRgb8(const pngtest::Image& png);

}  // namespace test
