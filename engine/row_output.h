// Where a conversion job's rows go: the BMP file, or anything else that takes
// finished rows (a PNG encoder, a host program's pixel buffer).
#pragma once

#include <cstdint>

class RowOutput {
public:
    virtual ~RowOutput() = default;

    // Once, from Begin, before any row: the output's width, height, colour
    // mode and the bytes of one row. Returns a ConversionStatus.
    virtual std::uint32_t Start(std::uint32_t width, std::uint32_t height,
                                std::uint32_t colorMode, std::uint32_t stride) = 0;
    // Each finished output row in the order the job makes them, bottom row
    // first, in the bitmap row layout of the colour mode: modes 16 and 24
    // blue, green, red bytes per pixel; the palette modes packed indices, the
    // leftmost pixel in the highest bits; mode 48 blue, green, red 16-bit
    // samples, little-endian. `stride` bytes, the fill at the end zero.
    // Returns a ConversionStatus; a failed row is not counted as done.
    virtual std::uint32_t WriteRow(const std::uint8_t* row) = 0;
    // After the last row, from the step that wrote it. Returns a
    // ConversionStatus.
    virtual std::uint32_t Finish() = 0;

    // Set by the job before Start: the picture's own 14- and 40-byte bitmap
    // headers, for an output that carries their fields over (the BMP file).
    // Valid while the job lives.
    const std::uint8_t* pictureFileHeader = nullptr;
    const std::uint8_t* pictureInfoHeader = nullptr;

    // The system's code behind a failed write (errno, GetLastError), 0 if none.
    int systemError = 0;
};
