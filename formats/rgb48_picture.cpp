#include "formats/rgb48_picture.h"

#include <cstring>
#include <new>
#include <vector>

#include "engine/bitmap_headers.h"

namespace rgb48 {

namespace {

// The density hosts assume for a picture that states none: the screen's.
constexpr double kDefaultDpi = 96.0;
constexpr double kInchesPerMetre = 0.0254;

double Dpi(std::int32_t pixelsPerMetre) {
    return pixelsPerMetre > 0 ? pixelsPerMetre * kInchesPerMetre : kDefaultDpi;
}

void PutSample(std::uint8_t* out, std::uint16_t sample) {
    out[0] = static_cast<std::uint8_t>(sample);
    out[1] = static_cast<std::uint8_t>(sample >> 8);
}

}  // namespace

CopyCheck CheckCopy(std::uint32_t width, std::uint32_t height, const Rect& rect,
                    std::uint32_t stride, std::uint64_t bufferSize) {
    if (rect.x < 0 || rect.y < 0 || rect.width < 0 || rect.height < 0 ||
        std::int64_t{rect.x} + rect.width > width || std::int64_t{rect.y} + rect.height > height) {
        return CopyCheck::kOutsidePicture;
    }
    if (rect.width == 0 || rect.height == 0) return CopyCheck::kOk;
    const std::uint64_t rowBytes = std::uint64_t{kBytesPerPixel} * std::uint64_t(rect.width);
    if (stride < rowBytes) return CopyCheck::kStrideTooSmall;
    // The last row need not be followed by a whole stride.
    if (std::uint64_t{stride} * std::uint64_t(rect.height - 1) + rowBytes > bufferSize) {
        return CopyCheck::kBufferTooSmall;
    }
    return CopyCheck::kOk;
}

std::uint32_t Picture::Open(ByteSource& source, std::uint64_t sourceSize) {
    if (status != kStatusOk) return status;
    if (opened) return status = kStatusUnexpected;
    opened = true;
    sourceSize_ = sourceSize;
    return status = reader.Open(source);
}

std::uint32_t Picture::Decode() {
    if (status != kStatusOk || decoded) return status;
    if (!opened) return status = kStatusUnexpected;
    decoded = true;
    const std::uint32_t width = Width();
    const std::uint32_t height = Height();
    // A header that reads proves a code of at least two leaves, so every
    // byte of the rows takes at least one bit of the source.
    if (sourceSize_ != 0 &&
        8 * sourceSize_ < std::uint64_t{height} * StoredRowStride(width)) {
        return status = kStatusReadFailed;
    }
    // The reader's header test bounds the area, so this fits a size_t even
    // on a 32-bit host.
    const std::size_t rowBytes = std::size_t{kBytesPerPixel} * width;
    pixels.reset(new (std::nothrow) std::uint8_t[rowBytes * height]);
    std::vector<std::uint16_t> bgr;
    try {
        bgr.resize(3 * std::size_t{width});
    } catch (const std::bad_alloc&) {
        pixels.reset();
    }
    if (!pixels) return status = kStatusOutOfMemory;

    // Rows are stored bottom first, blue before red.
    for (std::uint32_t y = 0; y < height; ++y) {
        if (const std::uint32_t s = reader.ReadRow(bgr.data())) {
            pixels.reset();
            return status = s;
        }
        std::uint8_t* out = pixels.get() + rowBytes * (height - 1 - y);
        for (std::uint32_t x = 0; x < width; ++x, out += kBytesPerPixel) {
            PutSample(out, bgr[3 * x + 2]);
            PutSample(out + 2, bgr[3 * x + 1]);
            PutSample(out + 4, bgr[3 * x]);
        }
    }
    return status;
}

double Picture::DpiX() const {
    return Dpi(bmp::GetSigned32(reader.infoHeader, bmp::kBiXPelsPerMeter));
}

double Picture::DpiY() const {
    return Dpi(bmp::GetSigned32(reader.infoHeader, bmp::kBiYPelsPerMeter));
}

void Picture::Copy(const Rect& rect, std::uint32_t stride, std::uint8_t* out) const {
    const std::size_t rowBytes = std::size_t{kBytesPerPixel} * Width();
    const std::size_t partBytes = std::size_t{kBytesPerPixel} * std::uint32_t(rect.width);
    const std::uint8_t* in =
        pixels.get() + rowBytes * std::uint32_t(rect.y) + kBytesPerPixel * std::uint32_t(rect.x);
    for (std::int32_t row = 0; row < rect.height; ++row, in += rowBytes, out += stride) {
        std::memcpy(out, in, partBytes);
    }
}

}  // namespace rgb48
