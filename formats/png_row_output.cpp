#include "formats/png_row_output.h"

#include <cstring>
#include <new>

#include "engine/color_mode.h"
#include "engine/conversion_status.h"
#include "engine/palettes.h"

namespace png_io {

namespace {

// A conversion holds a few megabytes whatever its size, and its PNG should
// not take much more: bands of a megabyte keep the rows in flight small, for
// a file a few hundredths of a percent larger than 4 MB bands would give.
png_write::Options ConversionBands() {
    png_write::Options options;
    options.bandBytes = std::size_t{1} << 20;
    return options;
}

// Palette modes store their index; the others 8-bit samples, or 16-bit ones
// for the deep-colour mode.
int BitDepth(std::uint32_t colorMode) {
    const std::uint32_t bits = IndexBits(colorMode);
    if (bits != 0) return static_cast<int>(bits);
    return colorMode == kModeDeepColor ? 16 : 8;
}

}  // namespace

PngRowOutput::PngRowOutput(platform::FileHandle file) : file_(file) {}

PngRowOutput::~PngRowOutput() = default;

std::uint32_t PngRowOutput::Failed(std::uint32_t status) {
    if (writer_) systemError = writer_->systemError;
    return status;
}

std::uint32_t PngRowOutput::Start(std::uint32_t width, std::uint32_t height,
                                  std::uint32_t colorMode, std::uint32_t stride) {
    if (!(IsColorMode(colorMode) || colorMode == kModeDeepColor)) return kStatusUnexpected;
    colorMode_ = colorMode;
    layout_.width = width;
    layout_.height = height;
    layout_.bitDepth = BitDepth(colorMode);
    std::uint32_t paletteBytes = 0;
    const std::uint8_t* palette = palettes::ForMode(colorMode, &paletteBytes);
    layout_.colorType = palette ? png_write::kColorTypePalette : png_write::kColorTypeRgb;
    for (std::uint32_t i = 0; palette && i < paletteBytes; i += 4) {
        layout_.palette.push_back({palette[i + 2], palette[i + 1], palette[i]});  // blue first there
    }
    // Both formats pack pixels the same way within a row (the leftmost in the
    // highest bits of a byte), so a palette row needs no change; a bitmap row
    // is only ever longer, by its fill.
    if (png_write::RowBytes(layout_) > stride) return kStatusUnexpected;
    try {
        writer_ = std::make_unique<png_write::BottomUpWriter>(file_, layout_, ConversionBands());
    } catch (const std::bad_alloc&) {
        return kStatusOutOfMemory;
    }
    return Failed(writer_->Start());
}

std::uint32_t PngRowOutput::WriteRow(const std::uint8_t* row) {
    if (!writer_) return kStatusUnexpected;
    // Straight into the encoder's band.
    std::uint8_t* out = writer_->NextRow();
    if (!out) return Failed(writer_->AddRow());
    const std::size_t n = png_write::RowBytes(layout_);
    if (colorMode_ == kModeDeepColor) {
        // Blue, green, red, each little-endian, become red, green, blue, each
        // big-endian: every pixel's six bytes reversed.
        for (std::size_t i = 0; i + 5 < n; i += 6) {
            for (std::size_t j = 0; j < 6; ++j) out[i + j] = row[i + 5 - j];
        }
    } else if (layout_.colorType == png_write::kColorTypeRgb) {
        for (std::size_t i = 0; i + 2 < n; i += 3) {
            out[i] = row[i + 2];
            out[i + 1] = row[i + 1];
            out[i + 2] = row[i];
        }
    } else {
        std::memcpy(out, row, n);
    }
    return Failed(writer_->AddRow());
}

std::uint32_t PngRowOutput::Finish() {
    if (!writer_) return kStatusUnexpected;
    return Failed(writer_->Finish());
}

}  // namespace png_io
