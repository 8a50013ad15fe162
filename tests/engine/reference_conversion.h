// A deliberately plain second implementation of a whole conversion, written
// from the file format and the quantisation rules rather than from the
// engine's code: area weights from interval overlaps, sums in 64 bits, the
// dither thresholds as a literal table, palettes from their colour lists. The
// engine's output must match it byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/engine/test_support.h"

namespace test {

// The 16 x 16 thresholds as the dither order defines them, row by row.
extern const std::uint8_t kExpectedDither[256];

// Weight of input pixel i on output pixel x when n pixels are scaled to m, in
// 1/256ths of an output pixel.
std::uint32_t ReferenceWeight(std::uint32_t n, std::uint32_t m, std::uint32_t i, std::uint32_t x);

// The tone curve entry for a sample.
std::uint16_t ReferenceTone(double exponent, std::uint32_t sample);

// The centred part of a W x H picture that fills a w x h output, `top`
// counted from the top row as seen.
struct Crop {
    std::uint32_t left = 0, top = 0, width = 0, height = 0;
};
struct CoverCase {
    std::uint32_t size[4];  // W, H, w, h
    Crop crop;
};
// Every crop the tests use, each worked out by hand.
extern const CoverCase kCoverCases[];
extern const std::size_t kCoverCaseCount;
// The crop of kCoverCases for these sizes; a size missing from the table
// stops the program with a message saying so.
Crop ReferenceCoverCrop(std::uint32_t W, std::uint32_t H, std::uint32_t w, std::uint32_t h);

// The picture holding only that part.
Picture Cropped(const Picture& picture, const Crop& crop);

// The complete BMP file the conversion must write, for a picture written by
// WritePicture with default header fields. Mode 48, which no bitmap holds:
// its rows behind bitmap headers of 48 bits per pixel, the tone curve's
// values of the averaged samples, each little-endian.
std::vector<std::uint8_t> ReferenceBmp(const Picture& picture, double exponent,
                                       std::uint32_t width, std::uint32_t height,
                                       std::uint32_t mode);

}  // namespace test
