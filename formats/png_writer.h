// The tool's PNG encoder: filters rows and deflates them in bands, several at
// a time, and joins the bands into the one zlib stream a PNG holds.
//
// Deflating is nearly all the cost of writing a PNG. A band is deflated on
// its own as a complete raw deflate stream; before it is joined to the next,
// its last block loses its "final" mark and an empty stored block brings the
// stream back to a byte boundary, which is what a flush does inside one
// deflate stream. So bands can be compressed on different cores while the
// file stays one ordinary zlib stream, and only a few bands are ever held in
// memory, whatever the size of the picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/full_picture.h"

namespace png_write {

struct Layout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 8;   // 1, 2, 4, 8 or 16
    int colorType = 2;  // 2 (RGB) or 3 (palette)
    std::vector<std::array<std::uint8_t, 3>> palette;  // colour type 3
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
};

// Writes the PNG to a new file at `path`. Failures: kStatusOutputNotCreated,
// kStatusWriteFailed (a short write included), kStatusReadFailed (from the
// row source), kStatusOutOfMemory. A failed file is left for the caller to
// remove.
full::Result Write(const std::string& path, const Layout& layout, const RowSource& rows,
                   const Options& options = {});

}  // namespace png_write
