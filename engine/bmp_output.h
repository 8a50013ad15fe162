// The output file: a bottom-up, uncompressed BMP whose headers are written
// once, at begin, complete with the final file size.
#pragma once

#include <cstdint>

#include "engine/row_output.h"
#include "platform/file_io.h"

// Bytes of the whole output file, or 0 when it would not fit the 32-bit size
// fields of a bitmap. kModeDeepColor has no bitmap; its rows are measured the
// same way (0 at the largest sizes), which keeps every size a deep conversion
// computes within 32 bits.
std::uint32_t OutputFileSize(std::uint32_t colorMode, std::uint32_t width, std::uint32_t height);

// Writes the file header, the info header and the palette of a width x
// height bitmap in `colorMode`, whose file size OutputFileSize has found to
// fit. Fields the output does not define keep the values of the picture's own
// headers. kStatusOk, or kStatusWriteFailed at the first short write, with
// the system's reason in *systemError (0 if none).
std::uint32_t WriteBmpHeaders(platform::FileHandle out, const std::uint8_t* fileHeader,
                              const std::uint8_t* infoHeader, std::uint32_t colorMode,
                              std::uint32_t width, std::uint32_t height, int* systemError);

// The BMP file as a row output, over an open file (borrowed, left open):
// the headers and the palette at Start, then each row as it comes.
class BmpFileOutput final : public RowOutput {
public:
    explicit BmpFileOutput(platform::FileHandle file) : file_(file) {}

    // kStatusUnexpected for kModeDeepColor, which no bitmap holds.
    std::uint32_t Start(std::uint32_t width, std::uint32_t height, std::uint32_t colorMode,
                        std::uint32_t stride) override;
    std::uint32_t WriteRow(const std::uint8_t* row) override;
    std::uint32_t Finish() override;

private:
    platform::FileHandle file_;
    std::uint32_t stride_ = 0;
};
