#include "engine/wp_convert.h"

#include <cstring>
#include <new>

#include "engine/picture_reader.h"
#include "engine/pixel_formats.h"

namespace {

// Runs `make` and turns the exceptions an allocation may raise into a status.
template <typename Make>
std::uint32_t Allocate(Make make) {
    try {
        make();
        return kStatusOk;
    } catch (const std::bad_alloc&) {
        return kStatusOutOfMemory;
    } catch (...) {
        return kStatusUnexpected;
    }
}

}  // namespace

SourceRect CoverRect(std::uint32_t width, std::uint32_t height, std::uint32_t outWidth,
                     std::uint32_t outHeight) {
    const std::uint64_t W = width, H = height, w = outWidth, h = outHeight;
    SourceRect r;
    if (w == 0 || h == 0) return r;
    if (W * h > w * H) {
        // Wider than the output: rounding H w / h can never pass W here.
        const std::uint64_t cw = (H * w + h / 2) / h;
        r.width = static_cast<std::uint32_t>(cw < 1 ? 1 : cw);
        r.height = height;
        r.left = (width - r.width) / 2;
    } else {
        const std::uint64_t ch = (W * h + w / 2) / w;
        r.width = width;
        r.height = static_cast<std::uint32_t>(ch < 1 ? 1 : ch);
        r.top = (height - r.height) / 2;
    }
    return r;
}

struct WPConvert::InputRows final : RowSource {
    explicit InputRows(WPConvert& j) : job(j) {}
    std::uint32_t NextRow() override { return job.ReadNextRow(); }
    WPConvert& job;
};

WPConvert::WPConvert() = default;

WPConvert::~WPConvert() {
    work.reset();
    decoder.reset();
    tone.reset();
    if (outHandle != platform::kInvalidFile) platform::Close(outHandle);
}

std::uint32_t WPConvert::Begin(const char* inPathArg, const char* outPathArg, double exponentArg,
                               std::uint32_t widthArg, std::uint32_t heightArg,
                               std::uint32_t colorModeArg) {
    inPath = inPathArg;
    outPath = outPathArg;
    exponent = exponentArg;
    width = widthArg;
    height = heightArg;
    colorMode = colorModeArg;
    if (status != kStatusOk) return status;

    // The caller guarantees a sensible request; one that is not would make the
    // row machinery run past its tables, so it is refused before anything is
    // opened or created.
    if (width < 1 || height < 1 || width > limits::kMaxSide || height > limits::kMaxSide ||
        !(IsColorMode(colorMode) || colorMode == kModeDeepColor) ||
        OutputFileSize(colorMode, width, height) == 0) {
        return Fail(kStatusUnexpected);
    }

    if (const auto s = Allocate([&] { decoder = std::make_unique<HuffmanCode>(inPath, kRq6Magic); }))
        return Fail(s);
    if (decoder->file == platform::kInvalidFile) return Fail(kStatusInputNotOpened);
    if (decoder->error) return Fail(kStatusFormatError);

    if (const auto s = Allocate([&] { tone = std::make_unique<CGammaCW>(); })) return Fail(s);
    if (ReadHeaders() != kStatusOk) return status;
    if (SettleSource() != kStatusOk) return status;
    if (AllocWork() != kStatusOk) return status;
    return CreateOutput();
}

std::uint32_t WPConvert::ReadHeaders() {
    if (const auto s =
            ReadPictureHeaders(*decoder, fileHeader, infoHeader, comment, &commentLength)) {
        return Fail(s);
    }

    inStride = StoredRowStride(static_cast<std::uint32_t>(InputWidth()));
    outStride = OutputStride(colorMode, width);
    return status;
}

std::uint32_t WPConvert::SettleSource() {
    const std::uint32_t inWidth = static_cast<std::uint32_t>(InputWidth());
    const std::uint32_t inHeight = static_cast<std::uint32_t>(InputHeight());
    resampler.width = width;
    resampler.height = height;
    if (coverOutput) source = CoverRect(inWidth, inHeight, width, height);
    if (source.width == 0 || source.height == 0) {
        resampler.srcLeft = 0;
        srcSkipRows = 0;
        resampler.srcWidth = inWidth;
        resampler.srcHeight = inHeight;
        return status;
    }
    // Compared in 64 bits: the caller's values are not bounded by the limits.
    if (std::uint64_t{source.left} + source.width > inWidth ||
        std::uint64_t{source.top} + source.height > inHeight) {
        return Fail(kStatusUnexpected);
    }
    resampler.srcLeft = source.left;
    resampler.srcWidth = source.width;
    resampler.srcHeight = source.height;
    srcSkipRows = inHeight - source.top - source.height;
    return status;
}

std::uint32_t WPConvert::AllocWork() {
    // Sizes of the views, in carving order. With both pictures inside the
    // side limit the total stays below two megabytes. The weight tables are
    // rounded up to whole 32-bit words: an odd sum of the four sides would
    // otherwise leave `acc` on a 2-byte boundary.
    const std::uint32_t srcWidth = resampler.srcWidth;
    const std::uint32_t srcHeight = resampler.srcHeight;
    const std::uint32_t ditherBytes = 256;
    const std::uint32_t hBytes = (2 * (srcWidth + width) + 3) & ~3u;
    const std::uint32_t vBytes = (2 * (srcHeight + height) + 3) & ~3u;
    const std::uint32_t rowBytes = 2 * inStride;
    const std::uint32_t accBytes = 4 * 3 * width;
    // The vertically weighted sums of the input rows under one output row,
    // so that the horizontal weights are applied once per output row.
    const std::uint32_t columnBytes = 4 * 3 * srcWidth;
    const std::uint32_t total =
        ditherBytes + hBytes + vBytes + 2 * rowBytes + accBytes + outStride + columnBytes;

    if (const auto s = Allocate([&] { work.reset(new std::uint8_t[total]); })) return Fail(s);
    if (!tone->Build(exponent, 0, 65535, 0, 65536)) return Fail(kStatusOutOfMemory);

    // Every view starts at a multiple of four, so the 16- and 32-bit views are
    // properly aligned.
    std::uint8_t* p = work.get();
    dither = p;
    p += ditherBytes;
    resampler.hWeights = reinterpret_cast<std::uint16_t*>(p);
    p += hBytes;
    resampler.vWeights = reinterpret_cast<std::uint16_t*>(p);
    p += vBytes;
    row = reinterpret_cast<std::uint16_t*>(p);
    p += rowBytes;
    delta = reinterpret_cast<std::uint16_t*>(p);
    p += rowBytes;
    resampler.acc = reinterpret_cast<std::uint32_t*>(p);
    p += accBytes;
    resampler.columnSums = reinterpret_cast<std::uint32_t*>(p);
    p += columnBytes;
    outRow = p;

    BuildDitherMatrix(dither);
    return status;
}

std::uint32_t WPConvert::ConvertFirstLine() {
    if (status != kStatusOk) return status;
    // Nothing to do before a successful Begin, or once the picture is done.
    if (!work) return Fail(kStatusUnexpected);
    if (resampler.vCursor || linesDone >= height) return status;
    resampler.BuildWeights();
    if (ReadFirstRow() != kStatusOk) return status;
    if (ResampleRow() != kStatusOk) return status;
    return WriteRow();
}

std::uint32_t WPConvert::ConvertNextLine() {
    if (status != kStatusOk) return status;
    // The row machinery is set up by ConvertFirstLine.
    if (!resampler.vCursor) return Fail(kStatusUnexpected);
    if (linesDone >= height) return status;
    if (ResampleRow() != kStatusOk) return status;
    return WriteRow();
}

std::uint32_t WPConvert::ReadFirstRow() {
    decoder->Decode(reinterpret_cast<std::uint8_t*>(row), inStride);
    if (decoder->error) return Fail(kStatusReadFailed);
    UndoFirstRowDeltas(row, static_cast<std::uint32_t>(InputWidth()));
    // Rows below the converted part still carry the deltas the rows above
    // them are stored against, so they are decoded, then left.
    for (std::uint32_t y = 0; y < srcSkipRows; ++y) {
        if (ReadNextRow() != kStatusOk) return status;
    }
    return status;
}

std::uint32_t WPConvert::ReadNextRow() {
    decoder->Decode(reinterpret_cast<std::uint8_t*>(delta), inStride);
    if (decoder->error) return Fail(kStatusReadFailed);
    // Every later row is stored as the difference from the row before, which
    // `row` still holds.
    AddRowDeltas(row, delta, 3 * static_cast<std::uint32_t>(InputWidth()));
    return status;
}

std::uint32_t WPConvert::ResampleRow() {
    InputRows rows(*this);
    if (const std::uint32_t s = resampler.ResampleRow(row, rows)) return Fail(s);
    return status;
}

std::uint32_t WPConvert::WriteRow() {
    const std::uint8_t* thresholds = dither + 16 * (linesDone & 15);
    if (!ReduceRow(colorMode, resampler.acc, width, tone->table, thresholds, outRow)) {
        return Fail(kStatusUnexpected);
    }
    std::uint32_t written = 0;
    platform::Write(outHandle, outRow, outStride, &written);
    if (written != outStride) return Fail(kStatusWriteFailed);
    ++linesDone;
    return status;
}

std::uint32_t WPConvert::CreateOutput() {
    // Creating the output empties it: were it the input, under another name
    // or through a link, the picture would be lost while it is being read.
    if (platform::SameFile(inPath, outPath)) return Fail(kStatusOutputNotCreated);
    outHandle = platform::CreateWrite(outPath);
    if (outHandle == platform::kInvalidFile) return Fail(kStatusOutputNotCreated);
    // Begin has made sure the file size fits 32 bits.
    outFileSize = OutputFileSize(colorMode, width, height);
    if (const std::uint32_t s =
            WriteBmpHeaders(outHandle, fileHeader, infoHeader, colorMode, width, height)) {
        return Fail(s);
    }
    // The row loops write only pixel bytes, so the fill bytes at the end of
    // every row keep this zero in every format and for any width.
    std::memset(outRow, 0, outStride);
    return status;
}
