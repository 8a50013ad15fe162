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

#include <cstdint>
#include <memory>
#include <string>

#include "formats/full_picture.h"
#include "formats/png_layout.h"
#include "platform/file_io.h"

namespace png_write {

// Writes the PNG to a new file at `path`. Failures: kStatusOutputNotCreated,
// kStatusWriteFailed (a short write included), kStatusReadFailed (from the
// row source), kStatusOutOfMemory; the message is the system's reason for a
// failure of the file, when it gave one. A failed file is left for the
// caller to remove.
full::Result Write(const std::string& path, const Layout& layout, const RowSource& rows,
                   const Options& options = {});
// The same into an open file (borrowed, left open), from where it stands.
full::Result Write(platform::FileHandle file, const Layout& layout, const RowSource& rows,
                   const Options& options = {});

// The same PNG, byte for byte, from rows that arrive bottom row first (the
// order bitmaps and conversions make them). Each band is filtered and
// deflated on other threads as soon as its rows and the row above it are in,
// and only its compressed bytes are kept until the top row is in; then the
// bands are written top first. So the writer holds about the compressed
// picture and a few bands of rows, never the whole picture. Calls: Start,
// AddRow once per row, Finish; each returns a ConversionStatus, and the first
// failure sticks.
class BottomUpWriter {
public:
    // Writes into `file` (borrowed, left open) from where it stands.
    BottomUpWriter(platform::FileHandle file, const Layout& layout, const Options& options = {});
    ~BottomUpWriter();
    BottomUpWriter(const BottomUpWriter&) = delete;
    BottomUpWriter& operator=(const BottomUpWriter&) = delete;

    // The signature and the chunks before the image data.
    std::uint32_t Start();
    // The next row up, RowBytes bytes as PNG stores it unfiltered.
    std::uint32_t AddRow(const std::uint8_t* row);
    // The same in two steps, without a copy: NextRow gives the place of the
    // next row up (null after a failure), AddRow() takes it once filled.
    std::uint8_t* NextRow();
    std::uint32_t AddRow();
    // After the top row: the image data and the end.
    std::uint32_t Finish();

    // The system's reason for a failed write, 0 if none.
    int systemError = 0;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace png_write
