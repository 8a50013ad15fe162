// What the PNG encoder writes: the picture's size, depth and colour type,
// and where its rows come from. A header of its own, so that the encoder's
// parts share these without depending on the writers that use them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace png_write {

// The two PNG colour types written: red, green and blue samples, or palette
// indices.
inline constexpr int kColorTypeRgb = 2;
inline constexpr int kColorTypePalette = 3;

struct Layout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 8;  // 1, 2, 4, 8 or 16
    int colorType = kColorTypeRgb;
    std::vector<std::array<std::uint8_t, 3>> palette;  // kColorTypePalette
    // UTF-8: a "Comment" tEXt chunk when ASCII, iTXt otherwise; none if empty.
    std::string comment;
};

// Bytes of one unfiltered row.
std::size_t RowBytes(const Layout& layout);

// Fills `row` with row y (the top row is 0) as PNG stores it unfiltered:
// RowBytes bytes, 16-bit samples big-endian. Called from several threads at
// once, never twice at once for the same row; false when the row cannot be
// had, and the write then fails with kStatusReadFailed.
using RowSource = std::function<bool(std::uint32_t y, std::uint8_t* row)>;

struct Options {
    // Unfiltered bytes per band; a band has at least one row.
    std::size_t bandBytes = std::size_t{4} << 20;
    // Threads compressing bands; 0 for one per processor.
    unsigned threads = 0;
    // Bytes of compressed data per image data chunk (tests make them small).
    std::size_t chunkBytes = std::size_t{1} << 20;
};

}  // namespace png_write
