// PNG files for the tool: full-precision pictures in and out. (A conversion's
// rows become PNG through png_row_output.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/full_picture.h"
#include "formats/png_writer.h"

namespace png_io {

// True when the bytes begin with the PNG signature.
bool HasSignature(const std::uint8_t* head, std::size_t size);

// Reads any PNG as 16-bit RGB: 8-bit and lower depths are scaled to the full
// 16-bit range (an 8-bit value v becomes 257 v), grey is repeated into all
// three channels, palettes are looked up and alpha is dropped; no gamma or
// colour correction is applied. A text chunk with the keyword "Comment"
// becomes the picture's comment. Pictures beyond the limits of an RQ6 picture
// are refused before any pixel memory is taken.
full::Result ReadPng(const std::string& path, full::Picture* picture);
// The same from an open file, read from its current position.
full::Result ReadPng(std::FILE* file, full::Picture* picture);

// Writes the picture as 16-bit RGB PNG, the comment (if any) as a "Comment"
// text chunk: plain text when it is ASCII, international (UTF-8) otherwise.
// The options choose how the work is split (tests make small bands).
full::Result WritePng16(const std::string& path, const full::Picture& picture);
full::Result WritePng16(const std::string& path, const full::Picture& picture,
                        const png_write::Options& options);
// Into an open file (borrowed, left open), from where it stands.
full::Result WritePng16(platform::FileHandle file, const full::Picture& picture);

}  // namespace png_io
