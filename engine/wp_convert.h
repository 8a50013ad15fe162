// One conversion of one RQ6 picture into one BMP file, or into any row output.
//
// Begin opens and checks the input, builds the tone curve and the dither
// matrix and creates the output file with its headers and palette; then each
// ConvertFirstLine / ConvertNextLine call produces exactly one output row, so a
// caller can interleave the work with other things (a user interface timer).
// Every operation returns a ConversionStatus and keeps it: once non-zero, the
// job does nothing more. All per-picture memory is allocated in Begin (the
// reader's two rows and one work block); producing rows allocates nothing.
//
// The input rows come from a PictureReader, the same one that `info` and
// `extract` read with, so a picture opens, checks and decodes one way only.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/bitmap_headers.h"
#include "engine/bmp_output.h"
#include "engine/byte_source.h"
#include "engine/color_mode.h"
#include "engine/conversion_status.h"
#include "engine/gamma_table.h"
#include "engine/limits.h"
#include "engine/picture_reader.h"
#include "engine/resampler.h"
#include "engine/row_output.h"
#include "platform/file_io.h"

// The part of the picture a job converts, in pixels, `top` counted from the
// top row of the picture as seen. A width or height of 0 (the default) stands
// for the whole picture.
struct SourceRect {
    std::uint32_t left = 0;
    std::uint32_t top = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The centred part of a width x height picture with the proportions of an
// outWidth x outHeight output, for filling the output without distortion:
// the whole height and a rounded share of the columns when the picture is
// wider than the output, else the whole width and a rounded share of the
// rows; never empty.
SourceRect CoverRect(std::uint32_t width, std::uint32_t height, std::uint32_t outWidth,
                     std::uint32_t outHeight);

class WPConvert {
public:
    WPConvert();
    ~WPConvert();
    WPConvert(const WPConvert&) = delete;
    WPConvert& operator=(const WPConvert&) = delete;

    // Paths are UTF-8; a bare output name lands in the current directory.
    // The output is a BMP file, so kModeDeepColor is refused (kStatusUnexpected).
    std::uint32_t Begin(const char* inPath, const char* outPath, double exponent,
                        std::uint32_t width, std::uint32_t height, std::uint32_t colorMode);
    // The picture from `in`, read from where it stands, and the rows to `out`
    // (any colour mode, kModeDeepColor too). Both are borrowed and must
    // outlive the job. The statuses are those of the paths' Begin, except
    // that a source is never "not opened" and the output says itself whether
    // it was created and written.
    std::uint32_t Begin(ByteSource& in, RowOutput& out, double exponent, std::uint32_t width,
                        std::uint32_t height, std::uint32_t colorMode);
    // The same from a reader the caller has opened (and read no row from),
    // for a caller that wants the picture's size or comment first. Borrowed.
    std::uint32_t Begin(PictureReader& picture, RowOutput& out, double exponent,
                        std::uint32_t width, std::uint32_t height, std::uint32_t colorMode);
    std::uint32_t ConvertFirstLine();
    std::uint32_t ConvertNextLine();

    // Input picture size, valid once Begin has read the headers.
    std::int32_t InputWidth() const { return bmp::GetSigned32(infoHeader, bmp::kBiWidth); }
    std::int32_t InputHeight() const { return bmp::GetSigned32(infoHeader, bmp::kBiHeight); }

    // Set before Begin to convert only part of the picture, exactly as if the
    // file held only that part. A rectangle that does not lie inside the
    // picture makes Begin fail with kStatusUnexpected.
    SourceRect source;
    // Set before Begin instead of `source`: convert the largest centred part
    // of the picture with the output's proportions (CoverRect), so that the
    // output is filled undistorted. Begin, which knows the picture's size,
    // writes that part into `source`.
    bool coverOutput = false;

    const char* inPath = nullptr;
    const char* outPath = nullptr;
    // The file the paths' Begin creates; invalid otherwise.
    platform::FileHandle outHandle = platform::kInvalidFile;
    double exponent = 1.0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t colorMode = 0;
    // The input: the job's own reader, or the caller's.
    PictureReader* reader = nullptr;
    // Where the rows go: the job's own BMP file, or the caller's output.
    RowOutput* output = nullptr;
    std::unique_ptr<CGammaCW> tone;
    std::uint8_t fileHeader[bmp::kFileHeaderSize] = {};
    std::uint8_t infoHeader[bmp::kInfoHeaderSize] = {};
    std::uint32_t inStride = 0;
    std::uint32_t outStride = 0;
    std::uint32_t outFileSize = 0;
    // Not necessarily zero-terminated when the stored comment fills it.
    std::uint8_t comment[limits::kCommentSize] = {};
    std::uint32_t status = kStatusOk;
    std::uint32_t linesDone = 0;

    // The stored rows below the converted part (rows are stored bottom
    // first), settled by Begin with the part's column and size in `resampler`.
    std::uint32_t srcSkipRows = 0;

    // The work block and its views; the scaling tables and sums are views
    // of `resampler`. `row` is the reader's current input row.
    std::unique_ptr<std::uint8_t[]> work;
    std::uint8_t* dither = nullptr;
    const std::uint16_t* row = nullptr;
    std::uint8_t* outRow = nullptr;
    Resampler resampler;

private:
    // The input rows as the resampler takes them: each decodes the next
    // stored row into `row`.
    struct InputRows;

    std::uint32_t Fail(std::uint32_t code) { return status = code; }

    // Keeps the caller's request in the fields every Begin shares.
    void TakeRequest(double exponentArg, std::uint32_t widthArg, std::uint32_t heightArg,
                     std::uint32_t colorModeArg);
    bool AcceptsRequest(bool bitmapOnly) const;
    std::uint32_t OpenInput(ByteSource* in);
    std::uint32_t Prepare();
    std::uint32_t ReadHeaders();
    std::uint32_t SettleSource();
    std::uint32_t AllocWork();
    std::uint32_t ReadFirstRow();
    std::uint32_t ReadNextRow();
    std::uint32_t ResampleRow();
    std::uint32_t WriteRow();
    std::uint32_t CreateOutput();
    std::uint32_t StartOutput();

    PictureReader ownReader;
    std::unique_ptr<RowOutput> ownOutput;
};
