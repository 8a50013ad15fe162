// The output file: a bottom-up, uncompressed BMP whose headers are written
// once, at begin, complete with the final file size.
#include <cstring>

#include "engine/palettes.h"
#include "engine/wp_convert.h"

namespace {
constexpr std::uint16_t kBmpType = 'B' | 'M' << 8;
constexpr std::uint32_t kRgbCompression = 0;

std::uint16_t BitCount(std::uint32_t colorMode) {
    switch (colorMode) {
        case kModeMono: return 1;
        case kModeSystem16:
        case kModeGray16: return 4;
        case kModeColor256:
        case kModeGray256: return 8;
        case kModeDeepColor: return 48;
        default: return 24;
    }
}
}  // namespace

std::uint32_t WPConvert::CreateOutput() {
    // Creating the output empties it: were it the input, under another name
    // or through a link, the picture would be lost while it is being read.
    if (platform::SameFile(inPath, outPath)) return Fail(kStatusOutputNotCreated);
    outHandle = platform::CreateWrite(outPath);
    if (outHandle == platform::kInvalidFile) return Fail(kStatusOutputNotCreated);

    // Fields the conversion does not define are carried over from the
    // picture's own headers.
    std::uint8_t fh[bmp::kFileHeaderSize];
    std::uint8_t ih[bmp::kInfoHeaderSize];
    std::memcpy(fh, fileHeader, sizeof fh);
    std::memcpy(ih, infoHeader, sizeof ih);

    std::uint32_t paletteBytes = 0;
    const std::uint8_t* palette = palettes::ForMode(colorMode, &paletteBytes);
    // Begin has made sure the file size fits 32 bits.
    const std::uint32_t imageSize = outStride * height;
    const std::uint32_t offBits = bmp::kHeadersSize + paletteBytes;
    bmp::Put32(ih, bmp::kBiSizeImage, imageSize);
    bmp::Put32(ih, bmp::kBiWidth, width);
    bmp::Put32(ih, bmp::kBiHeight, height);
    bmp::Put16(ih, bmp::kBiBitCount, BitCount(colorMode));
    bmp::Put32(ih, bmp::kBiCompression, kRgbCompression);
    bmp::Put16(fh, bmp::kBfType, kBmpType);
    bmp::Put32(fh, bmp::kBfOffBits, offBits);
    outFileSize = offBits + imageSize;
    bmp::Put32(fh, bmp::kBfSize, outFileSize);

    std::uint32_t written = 0;
    platform::Write(outHandle, fh, sizeof fh, &written);
    if (written != sizeof fh) return Fail(kStatusWriteFailed);
    platform::Write(outHandle, ih, sizeof ih, &written);
    if (written != sizeof ih) return Fail(kStatusWriteFailed);
    if (palette) {
        platform::Write(outHandle, palette, paletteBytes, &written);
        if (written != paletteBytes) return Fail(kStatusWriteFailed);
    }
    // The row loops write only pixel bytes, so the fill bytes at the end of
    // every row keep this zero in every format and for any width.
    std::memset(outRow, 0, outStride);
    return status;
}
