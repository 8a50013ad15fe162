#pragma once

#include <cstdint>

// Writes the n + m entries of the area weights that scale n input pixels to
// m output pixels (both at least 1) along one axis.
void BuildWeightList(std::uint32_t n, std::uint32_t m, std::uint16_t* list);

// Where the resampler's input rows come from. Each NextRow call puts the next
// input row's samples into the row the resampler reads, and returns kStatusOk
// or the failure that stops the job.
class RowSource {
public:
    virtual std::uint32_t NextRow() = 0;

protected:
    ~RowSource() = default;
};

// Area-average scaling of a part of the input to the output, one output row
// at a time. The tables and sums are views into memory its owner provides.
struct Resampler {
    // The converted part: its first column and size in input pixels.
    std::uint32_t srcLeft = 0;
    std::uint32_t srcWidth = 0;
    std::uint32_t srcHeight = 0;
    // The output size.
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    std::uint16_t* hWeights = nullptr;  // srcWidth + width entries
    std::uint16_t* vWeights = nullptr;  // srcHeight + height entries
    // For each output pixel, the sum of h x v x sample over its footprint,
    // 65536 times the area-weighted mean (3 x width).
    std::uint32_t* acc = nullptr;
    // Per input sample, the sum of vertical weight x sample over the input
    // rows of the output row in hand, at most 256 x 65535 (3 x srcWidth).
    std::uint32_t* columnSums = nullptr;
    // The next vertical weight; null until BuildWeights.
    const std::uint16_t* vCursor = nullptr;

    void BuildWeights();

    // Sums the next output row into `acc`. `row` holds the input row in hand
    // (all its columns); `rows` refreshes it with each further input row the
    // output row covers. Returns the first failure of `rows`, else kStatusOk.
    std::uint32_t ResampleRow(const std::uint16_t* row, RowSource& rows);
};
