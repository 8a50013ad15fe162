// The output file: a bottom-up, uncompressed BMP whose headers are written
// once, at begin, complete with the final file size.
#pragma once

#include <cstdint>

#include "platform/file_io.h"

// Bytes of the whole output file, or 0 when it would not fit the 32-bit size
// fields of a bitmap (possible only for kModeDeepColor at the largest sizes).
std::uint32_t OutputFileSize(std::uint32_t colorMode, std::uint32_t width, std::uint32_t height);

// Writes the file header, the info header and the palette of a width x
// height bitmap in `colorMode`, whose file size OutputFileSize has found to
// fit. Fields the output does not define keep the values of the picture's own
// headers. kStatusOk, or kStatusWriteFailed at the first short write.
std::uint32_t WriteBmpHeaders(platform::FileHandle out, const std::uint8_t* fileHeader,
                              const std::uint8_t* infoHeader, std::uint32_t colorMode,
                              std::uint32_t width, std::uint32_t height);
