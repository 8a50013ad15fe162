#include "plugins/pixbuf/rgb_rows.h"

#include "engine/color_mode.h"
#include "engine/conversion_status.h"

RgbRows::RgbRows(std::uint8_t* p, std::size_t stride, std::uint32_t w, std::uint32_t h)
    : pixels(p), rowStride(stride), width(w), height(h) {}

std::uint32_t RgbRows::Start(std::uint32_t w, std::uint32_t h, std::uint32_t colorMode,
                             std::uint32_t stride) {
    if (started || w != width || h != height || colorMode != kModeFullColor ||
        stride < std::size_t{3} * w || std::size_t{3} * w > rowStride) {
        return kStatusUnexpected;
    }
    started = true;
    return kStatusOk;
}

std::uint32_t RgbRows::WriteRow(const std::uint8_t* row) {
    if (!started || written >= height) return kStatusUnexpected;
    std::uint8_t* out = pixels + rowStride * (height - 1 - written);
    for (std::uint32_t x = 0; x < width; ++x, row += 3, out += 3) {
        out[0] = row[2];
        out[1] = row[1];
        out[2] = row[0];
    }
    ++written;
    return kStatusOk;
}

std::uint32_t RgbRows::Finish() { return written == height ? kStatusOk : kStatusUnexpected; }

bool RgbRows::TakeBand(std::uint32_t* top, std::uint32_t* count) {
    if (written == reported) return false;
    *top = height - written;
    *count = written - reported;
    reported = written;
    return true;
}
