#include "formats/rgb48_picture.h"

#include <cstring>
#include <new>

#include "engine/bitmap_headers.h"
#include "engine/color_mode.h"
#include "engine/wp_convert.h"

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

// Takes a job's 48-bit rows, bottom first, blue first, and keeps those of
// one part of the picture, top first, red first.
class PartOutput final : public RowOutput {
public:
    PartOutput(const Rect& rect, std::uint32_t stride, std::uint8_t* out)
        : rect_(rect), stride_(stride), out_(out) {}

    std::uint32_t Start(std::uint32_t, std::uint32_t outHeight, std::uint32_t,
                        std::uint32_t) override {
        height_ = outHeight;
        return kStatusOk;
    }
    std::uint32_t WriteRow(const std::uint8_t* row) override {
        const std::int64_t top = std::int64_t{height_} - 1 - rowsTaken_++;
        if (top < rect_.y || top >= std::int64_t{rect_.y} + rect_.height) return kStatusOk;
        std::uint8_t* to = out_ + std::size_t{stride_} * static_cast<std::size_t>(top - rect_.y);
        const std::uint8_t* from = row + kBytesPerPixel * static_cast<std::size_t>(rect_.x);
        for (std::int32_t x = 0; x < rect_.width; ++x) {
            const std::uint8_t pixel[kBytesPerPixel] = {from[4], from[5], from[2],
                                                        from[3], from[0], from[1]};
            std::memcpy(to, pixel, sizeof pixel);
            from += kBytesPerPixel;
            to += kBytesPerPixel;
        }
        return kStatusOk;
    }
    std::uint32_t Finish() override { return kStatusOk; }

    // Whether every row of the part has been taken.
    bool Done() const { return std::int64_t{height_} - 1 - rowsTaken_ < rect_.y; }

private:
    Rect rect_;
    std::uint32_t stride_;
    std::uint8_t* out_;
    std::uint32_t height_ = 0;
    std::uint32_t rowsTaken_ = 0;
};

// The samples as they are: the tone curve of exponent 1 maps each to itself.
constexpr double kNoCurve = 1.0;

}  // namespace

std::uint32_t CopyScaled(ByteSource& source, std::uint32_t width, std::uint32_t height,
                         const Rect& rect, std::uint32_t stride, std::uint8_t* out) {
    if (rect.width == 0 || rect.height == 0) return kStatusOk;
    PartOutput part(rect, stride, out);
    WPConvert job;
    std::uint32_t status = job.Begin(source, part, kNoCurve, width, height, kModeDeepColor);
    if (status == kStatusOk) status = job.ConvertFirstLine();
    while (status == kStatusOk && job.linesDone < job.height && !part.Done()) {
        status = job.ConvertNextLine();
    }
    return status;
}

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

std::uint32_t Picture::Open(ByteSource& source) {
    if (status != kStatusOk) return status;
    if (opened) return status = kStatusUnexpected;
    opened = true;
    return status = reader.Open(source);
}

std::uint32_t Picture::Decode() {
    if (status != kStatusOk || decoded) return status;
    if (!opened) return status = kStatusUnexpected;
    decoded = true;
    const std::uint32_t width = Width();
    const std::uint32_t height = Height();
    if (!reader.InputCanHoldRows()) return status = kStatusReadFailed;
    // The reader's header test bounds the area, so this fits a size_t even
    // on a 32-bit host.
    const std::size_t rowBytes = std::size_t{kBytesPerPixel} * width;
    pixels.reset(new (std::nothrow) std::uint8_t[rowBytes * height]);
    if (!pixels) return status = kStatusOutOfMemory;

    // Rows are stored bottom first, blue before red.
    for (std::uint32_t y = 0; y < height; ++y) {
        if (const std::uint32_t s = reader.NextRow()) {
            pixels.reset();
            return status = s;
        }
        const std::uint16_t* bgr = reader.Row();
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
