// Binary PPM and PGM files: full-precision pixels with no metadata.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "formats/full_picture.h"
#include "platform/file_io.h"

namespace ppm_io {

// True when the bytes begin like a binary PPM (P6) or PGM (P5) file.
bool HasSignature(const std::uint8_t* head, std::size_t size);

// Reads a binary PPM or PGM file of any maximum value up to 65535; samples are
// scaled to the 16-bit range, v x 65535 / maxval rounded (so an 8-bit v
// becomes 257 v), and grey is repeated into all three channels. Header
// comments are not the picture's comment: other programs put their own notes
// there.
full::Result ReadPnm(const std::string& path, full::Picture* picture);
// The same from an open file, read from its current position.
full::Result ReadPnm(std::FILE* file, full::Picture* picture);

// Writes the picture as a binary PPM file with maximum value 65535; the
// message of a failure is the system's reason, when it gave one.
full::Result WritePpm16(const std::string& path, const full::Picture& picture);
// Into an open file (borrowed, left open), from where it stands.
full::Result WritePpm16(platform::FileHandle file, const full::Picture& picture);

}  // namespace ppm_io
