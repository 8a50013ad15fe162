#include "cli/convert_command.h"

#include <cinttypes>
#include <cstdio>

#include "cli/each_input.h"
#include "cli/failure_message.h"
#include "cli/output_file.h"
#include "cli/output_naming.h"
#include "cli/picture_input.h"
#include "engine/bmp_output.h"
#include "engine/gamma_table.h"
#include "engine/picture_reader.h"
#include "engine/wp_convert.h"
#include "formats/png_row_output.h"

namespace command {

namespace {

// A thumbnail's size: the longer side becomes `size` and the shorter one
// follows in proportion, rounded, at least 1. Nothing is enlarged.
void FitThumbnail(std::uint32_t width, std::uint32_t height, std::uint32_t size,
                  std::uint32_t* fitWidth, std::uint32_t* fitHeight) {
    const std::uint64_t longer = width > height ? width : height;
    if (longer <= size) {
        *fitWidth = width;
        *fitHeight = height;
        return;
    }
    const auto scaled = [&](std::uint64_t side) {
        const std::uint64_t s = (2 * side * size + longer) / (2 * longer);
        return static_cast<std::uint32_t>(s < 1 ? 1 : s);
    };
    *fitWidth = width == longer ? size : scaled(width);
    *fitHeight = width == longer ? scaled(height) : size;
}

// Converts the picture `reader` has open into `output`, whose system error
// it returns in *reason on a failure of the output.
std::uint32_t Convert(const cli::Request& request, PictureReader& reader, RowOutput& output,
                      std::uint32_t width, std::uint32_t height, std::string* reason) {
    const double exponent =
        request.hasExponent ? request.exponent : ContrastTable().exponent[request.contrast];
    WPConvert job;
    job.coverOutput = request.fit == cli::Fit::kCover;
    std::uint32_t status = job.Begin(reader, output, exponent, width, height, request.mode);
    if (status == kStatusOk) status = job.ConvertFirstLine();
    while (status == kStatusOk && job.linesDone < job.height) status = job.ConvertNextLine();
    *reason = SystemReason(output.systemError);
    return status;
}

}  // namespace

std::uint32_t ConvertOne(const cli::Request& request, const std::string& input) {
    const std::string target = cli::OutputPathFor(request, input);
    PictureInput in(input);
    PictureReader reader;
    if (const std::uint32_t s = in.Open(reader)) return s;
    std::uint32_t width = request.width;
    std::uint32_t height = request.height;
    const bool thumbnail = request.command == cli::Command::kThumbnail;
    if (width == 0 || thumbnail) {
        width = reader.Width();
        height = reader.Height();
        if (thumbnail) FitThumbnail(width, height, request.thumbnailSize, &width, &height);
    }

    Output out;
    std::string reason;
    if (const std::uint32_t s = OpenOutput(target, &out, &reason)) {
        ReportFailure(OutputName(target), s, reason);
        return s;
    }
    std::uint32_t status = kStatusOk;
    if (request.format == cli::Format::kPng) {
        // The rows go straight into the PNG encoder, which deflates them
        // on other cores while the next rows are made.
        png_io::PngRowOutput png(out.file);
        status = Convert(request, reader, png, width, height, &reason);
    } else {
        BmpFileOutput bmp(out.file);
        status = Convert(request, reader, bmp, width, height, &reason);
    }
    status = Finish(in, reader, &out, status, reason);
    if (status != kStatusOk) return status;
    // Nothing more goes to standard output when it holds the picture, and the
    // wallpaper command prints the path alone.
    if (target == kStandardStream || request.command == cli::Command::kWallpaper) {
        return kStatusOk;
    }
    std::printf("%s -> %s (%u x %u, mode %u, %" PRIu64 " bytes)\n",
                InputNameForScripts(input).c_str(), target.c_str(), width, height,
                request.mode, FileSize(target));
    return kStatusOk;
}

int RunConvert(const cli::Request& request) {
    return ForEachInput(
        request.inputs,
        [&](const std::string& input) { return cli::OutputPathFor(request, input); },
        [&](const std::string& input) { return ConvertOne(request, input); });
}

}  // namespace command
