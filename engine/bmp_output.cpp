#include "engine/bmp_output.h"

#include <cstring>

#include "engine/bitmap_headers.h"
#include "engine/color_mode.h"
#include "engine/conversion_status.h"
#include "engine/palettes.h"

namespace {
constexpr std::uint16_t kBmpType = 'B' | 'M' << 8;
constexpr std::uint32_t kRgbCompression = 0;

// Palette modes store their index; the others 24-bit colours.
std::uint16_t BitCount(std::uint32_t colorMode) {
    const std::uint32_t bits = IndexBits(colorMode);
    return static_cast<std::uint16_t>(bits != 0 ? bits : 24);
}

// Only the count written tells success; the system's reason is kept when the
// call itself failed.
std::uint32_t WriteAll(platform::FileHandle file, const void* data, std::uint32_t size,
                       int* systemError) {
    std::uint32_t written = 0;
    const bool ok = platform::Write(file, data, size, &written);
    if (written == size) return kStatusOk;
    *systemError = ok ? 0 : platform::LastError();
    return kStatusWriteFailed;
}
}  // namespace

std::uint32_t OutputFileSize(std::uint32_t colorMode, std::uint32_t width, std::uint32_t height) {
    std::uint32_t paletteBytes = 0;
    palettes::ForMode(colorMode, &paletteBytes);
    const std::uint64_t size = std::uint64_t{bmp::kHeadersSize} + paletteBytes +
                               std::uint64_t{OutputStride(colorMode, width)} * height;
    return size <= UINT32_MAX ? static_cast<std::uint32_t>(size) : 0;
}

std::uint32_t WriteBmpHeaders(platform::FileHandle out, const std::uint8_t* fileHeader,
                              const std::uint8_t* infoHeader, std::uint32_t colorMode,
                              std::uint32_t width, std::uint32_t height, int* systemError) {
    // Fields the conversion does not define are carried over from the
    // picture's own headers.
    std::uint8_t fh[bmp::kFileHeaderSize];
    std::uint8_t ih[bmp::kInfoHeaderSize];
    std::memcpy(fh, fileHeader, sizeof fh);
    std::memcpy(ih, infoHeader, sizeof ih);

    std::uint32_t paletteBytes = 0;
    const std::uint8_t* palette = palettes::ForMode(colorMode, &paletteBytes);
    // The caller has made sure the file size fits 32 bits.
    const std::uint32_t imageSize = OutputStride(colorMode, width) * height;
    const std::uint32_t offBits = bmp::kHeadersSize + paletteBytes;
    bmp::Put32(ih, bmp::kBiSizeImage, imageSize);
    bmp::Put32(ih, bmp::kBiWidth, width);
    bmp::Put32(ih, bmp::kBiHeight, height);
    bmp::Put16(ih, bmp::kBiBitCount, BitCount(colorMode));
    bmp::Put32(ih, bmp::kBiCompression, kRgbCompression);
    bmp::Put16(fh, bmp::kBfType, kBmpType);
    bmp::Put32(fh, bmp::kBfOffBits, offBits);
    bmp::Put32(fh, bmp::kBfSize, offBits + imageSize);

    if (const auto s = WriteAll(out, fh, sizeof fh, systemError)) return s;
    if (const auto s = WriteAll(out, ih, sizeof ih, systemError)) return s;
    return palette ? WriteAll(out, palette, paletteBytes, systemError) : kStatusOk;
}

std::uint32_t BmpFileOutput::Start(std::uint32_t width, std::uint32_t height,
                                   std::uint32_t colorMode, std::uint32_t stride) {
    if (!IsColorMode(colorMode) || !pictureFileHeader || !pictureInfoHeader) {
        return kStatusUnexpected;
    }
    stride_ = stride;
    return WriteBmpHeaders(file_, pictureFileHeader, pictureInfoHeader, colorMode, width, height,
                           &systemError);
}

std::uint32_t BmpFileOutput::WriteRow(const std::uint8_t* row) {
    return WriteAll(file_, row, stride_, &systemError);
}

std::uint32_t BmpFileOutput::Finish() { return kStatusOk; }
