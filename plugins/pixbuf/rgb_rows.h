// Where a full-colour conversion's rows go in an image library's picture:
// 8-bit R, G, B, top row first, `rowStride` bytes a row. The job makes its
// rows bottom first with the bytes of each pixel in the order B, G, R, so
// the row it makes as number y lands in row height - 1 - y, each pixel's
// bytes turned round. The rows made since the last look form one band,
// which the library is told about so that a viewer can draw it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/row_output.h"

class RgbRows final : public RowOutput {
public:
    RgbRows(std::uint8_t* pixels, std::size_t rowStride, std::uint32_t width, std::uint32_t height);

    // Refuses (kStatusUnexpected) a job of another size or colour mode, or
    // one whose rows would not fit.
    std::uint32_t Start(std::uint32_t width, std::uint32_t height, std::uint32_t colorMode,
                        std::uint32_t stride) override;
    std::uint32_t WriteRow(const std::uint8_t* row) override;
    std::uint32_t Finish() override;

    // The rows written since the last call, as picture rows [*top, *top +
    // *count) counted from the top; false when there are none.
    bool TakeBand(std::uint32_t* top, std::uint32_t* count);

    std::uint32_t RowsWritten() const { return written; }

private:
    std::uint8_t* pixels;
    std::size_t rowStride;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t written = 0;
    std::uint32_t reported = 0;
    bool started = false;
};
