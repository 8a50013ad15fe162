#include "engine/wp_convert.h"

#include <cstring>
#include <new>

#include "engine/picture_reader.h"
#include "engine/pixel_formats.h"

namespace {

constexpr std::uint16_t kSampleMax = 65535;
static_assert(CGammaCW::kSize == kSampleMax + 1, "one entry per sample value");

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
    tone.reset();
    ownOutput.reset();
    if (outHandle != platform::kInvalidFile) platform::Close(outHandle);
    // The job's own reader (and with it the input file) goes with the job.
}

void WPConvert::TakeRequest(double exponentArg, std::uint32_t widthArg, std::uint32_t heightArg,
                            std::uint32_t colorModeArg) {
    exponent = exponentArg;
    width = widthArg;
    height = heightArg;
    colorMode = colorModeArg;
}

bool WPConvert::AcceptsRequest(bool bitmapOnly) const {
    // The caller guarantees a sensible request; one that is not would make the
    // row machinery run past its tables, so it is refused before anything is
    // opened or created.
    return width >= 1 && height >= 1 && width <= limits::kMaxSide && height <= limits::kMaxSide &&
           (IsColorMode(colorMode) || (!bitmapOnly && colorMode == kModeDeepColor)) &&
           OutputFileSize(colorMode, width, height) != 0;
}

std::uint32_t WPConvert::Begin(const char* inPathArg, const char* outPathArg, double exponentArg,
                               std::uint32_t widthArg, std::uint32_t heightArg,
                               std::uint32_t colorModeArg) {
    inPath = inPathArg;
    outPath = outPathArg;
    TakeRequest(exponentArg, widthArg, heightArg, colorModeArg);
    if (status != kStatusOk) return status;
    if (!AcceptsRequest(true)) return Fail(kStatusUnexpected);
    if (OpenInput(nullptr) != kStatusOk) return status;
    if (Prepare() != kStatusOk) return status;
    return CreateOutput();
}

std::uint32_t WPConvert::Begin(ByteSource& in, RowOutput& out, double exponentArg,
                               std::uint32_t widthArg, std::uint32_t heightArg,
                               std::uint32_t colorModeArg) {
    TakeRequest(exponentArg, widthArg, heightArg, colorModeArg);
    if (status != kStatusOk) return status;
    if (!AcceptsRequest(false)) return Fail(kStatusUnexpected);
    if (OpenInput(&in) != kStatusOk) return status;
    if (Prepare() != kStatusOk) return status;
    output = &out;
    return StartOutput();
}

std::uint32_t WPConvert::Begin(PictureReader& picture, RowOutput& out, double exponentArg,
                               std::uint32_t widthArg, std::uint32_t heightArg,
                               std::uint32_t colorModeArg) {
    TakeRequest(exponentArg, widthArg, heightArg, colorModeArg);
    if (status != kStatusOk) return status;
    if (!AcceptsRequest(false)) return Fail(kStatusUnexpected);
    // The reader's own failure is the job's; one that is not freshly open
    // cannot give the rows from the start.
    if (picture.status != kStatusOk) return Fail(picture.status);
    if (!picture.Row() || picture.rowsRead != 0) return Fail(kStatusUnexpected);
    reader = &picture;
    if (Prepare() != kStatusOk) return status;
    output = &out;
    return StartOutput();
}

std::uint32_t WPConvert::OpenInput(ByteSource* in) {
    reader = &ownReader;
    std::uint32_t s = kStatusOk;
    const std::uint32_t made = Allocate([&] { s = in ? reader->Open(*in) : reader->Open(inPath); });
    return Fail(made != kStatusOk ? made : s);
}

// What every Begin does once the input is open: the tone curve, the part of
// the picture converted and the work block.
std::uint32_t WPConvert::Prepare() {
    if (const auto s = Allocate([&] { tone = std::make_unique<CGammaCW>(); })) return Fail(s);
    if (ReadHeaders() != kStatusOk) return status;
    if (SettleSource() != kStatusOk) return status;
    return AllocWork();
}

std::uint32_t WPConvert::ReadHeaders() {
    std::memcpy(fileHeader, reader->fileHeader, sizeof fileHeader);
    std::memcpy(infoHeader, reader->infoHeader, sizeof infoHeader);
    std::memcpy(comment, reader->comment, sizeof comment);
    inStride = rq6::StoredRowStride(static_cast<std::uint32_t>(InputWidth()));
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
    const std::uint32_t ditherBytes = kDitherBytes;
    const std::uint32_t hBytes = (2 * (srcWidth + width) + 3) & ~3u;
    const std::uint32_t vBytes = (2 * (srcHeight + height) + 3) & ~3u;
    const std::uint32_t accBytes = 4 * 3 * width;
    // The vertically weighted sums of the input rows under one output row,
    // so that the horizontal weights are applied once per output row.
    const std::uint32_t columnBytes = 4 * 3 * srcWidth;
    const std::uint32_t total = ditherBytes + hBytes + vBytes + accBytes + outStride + columnBytes;

    if (const auto s = Allocate([&] { work.reset(new std::uint8_t[total]); })) return Fail(s);
    // Every 16-bit sample (the top half of a sum) maps to a 16-bit sample.
    if (!tone->Build(exponent, 0, kSampleMax, 0, CGammaCW::kSize)) return Fail(kStatusOutOfMemory);

    // Every view starts at a multiple of four, so the 16- and 32-bit views are
    // properly aligned.
    std::uint8_t* p = work.get();
    dither = p;
    p += ditherBytes;
    resampler.hWeights = reinterpret_cast<std::uint16_t*>(p);
    p += hBytes;
    resampler.vWeights = reinterpret_cast<std::uint16_t*>(p);
    p += vBytes;
    resampler.acc = reinterpret_cast<std::uint32_t*>(p);
    p += accBytes;
    resampler.columnSums = reinterpret_cast<std::uint32_t*>(p);
    p += columnBytes;
    outRow = p;
    row = reader->Row();

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
    if (ReadNextRow() != kStatusOk) return status;
    // Rows below the converted part still carry the deltas the rows above
    // them are stored against, so they are decoded, then left.
    for (std::uint32_t y = 0; y < srcSkipRows; ++y) {
        if (ReadNextRow() != kStatusOk) return status;
    }
    return status;
}

std::uint32_t WPConvert::ReadNextRow() {
    if (const std::uint32_t s = reader->NextRow()) return Fail(s);
    return status;
}

std::uint32_t WPConvert::ResampleRow() {
    InputRows rows(*this);
    if (const std::uint32_t s = resampler.ResampleRow(row, rows)) return Fail(s);
    return status;
}

std::uint32_t WPConvert::WriteRow() {
    const std::uint8_t* thresholds = dither + kDitherSize * (linesDone & kDitherMask);
    if (!ReduceRow(colorMode, resampler.acc, width, tone->table, thresholds, outRow)) {
        return Fail(kStatusUnexpected);
    }
    if (const std::uint32_t s = output->WriteRow(outRow)) return Fail(s);
    ++linesDone;
    if (linesDone == height) {
        if (const std::uint32_t s = output->Finish()) return Fail(s);
    }
    return status;
}

std::uint32_t WPConvert::CreateOutput() {
    // Creating the output empties it: were it the input, under another name
    // or through a link, the picture would be lost while it is being read.
    if (platform::SameFile(inPath, outPath)) return Fail(kStatusOutputNotCreated);
    outHandle = platform::CreateWrite(outPath);
    if (outHandle == platform::kInvalidFile) return Fail(kStatusOutputNotCreated);
    if (const auto s = Allocate([&] { ownOutput = std::make_unique<BmpFileOutput>(outHandle); }))
        return Fail(s);
    output = ownOutput.get();
    return StartOutput();
}

std::uint32_t WPConvert::StartOutput() {
    // Begin has made sure the sizes fit 32 bits.
    outFileSize = OutputFileSize(colorMode, width, height);
    output->pictureFileHeader = fileHeader;
    output->pictureInfoHeader = infoHeader;
    if (const std::uint32_t s = output->Start(width, height, colorMode, outStride)) return Fail(s);
    // The row loops write only pixel bytes, so the fill bytes at the end of
    // every row keep this zero in every format and for any width.
    std::memset(outRow, 0, outStride);
    return status;
}
