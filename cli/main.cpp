// tavrel: the conversion engine on the command line.
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/archive_commands.h"
#include "cli/command_io.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/wallpaper_command.h"
#include "engine/bmp_output.h"
#include "engine/picture_reader.h"
#include "engine/wp_convert.h"
#include "formats/png_row_output.h"
#include "formats/text_codec.h"
#include "platform/file_io.h"
#include "samples/sample_disc.h"

static_assert(command::kStatusOutputIsInput == cli::kExitUsage,
              "an output named as an input is a usage error");

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
    *reason = command::SystemReason(output.systemError);
    return status;
}

std::uint32_t ConvertOne(const cli::Request& request, const std::string& input) {
    const std::string target = cli::OutputPathFor(request, input);
    command::PictureInput in(input);
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

    command::Output out;
    std::string reason;
    if (const std::uint32_t s = command::OpenOutput(target, &out, &reason)) {
        command::ReportFailure(command::OutputName(target), s, reason);
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
    status = command::Finish(in, reader, &out, status, reason);
    if (status != kStatusOk) return status;
    // Nothing more goes to standard output when it holds the picture, and the
    // wallpaper command prints the path alone.
    if (target == command::kStandardStream || request.command == cli::Command::kWallpaper) {
        return kStatusOk;
    }
    std::printf("%s -> %s (%u x %u, mode %u, %" PRIu64 " bytes)\n",
                command::InputNameForScripts(input).c_str(), target.c_str(), width, height,
                request.mode, command::FileSize(target));
    return kStatusOk;
}

int RunConvert(const cli::Request& request) {
    return command::ForEachInput(
        request.inputs,
        [&](const std::string& input) { return cli::OutputPathFor(request, input); },
        [&](const std::string& input) { return ConvertOne(request, input); });
}

void PrintInfo(const std::string& path, const PictureReader& info) {
    const std::uint8_t* fh = info.fileHeader;
    const std::uint8_t* ih = info.infoHeader;
    const std::string comment(reinterpret_cast<const char*>(info.comment),
                              info.CommentTextLength());
    std::printf("file:            %s\n", path.c_str());
    std::printf("size:            %d x %d\n", bmp::GetSigned32(ih, bmp::kBiWidth),
                bmp::GetSigned32(ih, bmp::kBiHeight));
    std::printf("comment:         %s\n", text::CommentForDisplay(comment).c_str());
    std::printf("comment bytes:   %u\n", info.commentLength);
    std::printf("code tree:       %d internal nodes, %d leaves\n", info.InternalNodeCount(),
                info.InternalNodeCount() + 1);
    std::printf("extra value:     0x%08x\n", info.Extra());
    std::printf("bfType:          %c%c\n", fh[0], fh[1]);
    std::printf("bfSize:          %u\n", bmp::Get32(fh, bmp::kBfSize));
    std::printf("bfReserved1:     %u\n", bmp::Get16(fh, bmp::kBfReserved1));
    std::printf("bfReserved2:     %u\n", bmp::Get16(fh, bmp::kBfReserved2));
    std::printf("bfOffBits:       %u\n", bmp::Get32(fh, bmp::kBfOffBits));
    std::printf("biSize:          %u\n", bmp::Get32(ih, bmp::kBiSize));
    std::printf("biWidth:         %d\n", bmp::GetSigned32(ih, bmp::kBiWidth));
    std::printf("biHeight:        %d\n", bmp::GetSigned32(ih, bmp::kBiHeight));
    std::printf("biPlanes:        %u\n", bmp::Get16(ih, bmp::kBiPlanes));
    std::printf("biBitCount:      %u\n", bmp::Get16(ih, bmp::kBiBitCount));
    std::printf("biCompression:   %u\n", bmp::Get32(ih, bmp::kBiCompression));
    std::printf("biSizeImage:     %u\n", bmp::Get32(ih, bmp::kBiSizeImage));
    std::printf("biXPelsPerMeter: %d\n", bmp::GetSigned32(ih, bmp::kBiXPelsPerMeter));
    std::printf("biYPelsPerMeter: %d\n", bmp::GetSigned32(ih, bmp::kBiYPelsPerMeter));
    std::printf("biClrUsed:       %u\n", bmp::Get32(ih, bmp::kBiClrUsed));
    std::printf("biClrImportant:  %u\n", bmp::Get32(ih, bmp::kBiClrImportant));
}

int RunInfo(const std::string& path) {
    command::PictureInput in(path);
    PictureReader info;
    if (const std::uint32_t s = in.Open(info)) return static_cast<int>(s);
    PrintInfo(command::InputNameForScripts(path), info);
    return 0;
}

int RunSampleDisc(const std::string& dir) {
    rq6::SampleDiscFailure failure;
    if (!rq6::WriteSampleDisc(dir, &failure)) {
        command::ReportFailure(failure.path, failure.status,
                               failure.error ? msg::SystemReason(failure.error.value()) : "");
        return static_cast<int>(failure.status);
    }
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        std::printf("%s/%s/%s\n", dir.c_str(), disc::kPictureFolder,
                    disc::PictureFileName(n).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    msg::Init();
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::Request request;
    std::string error;
    if (!cli::Parse(args, &request, &error)) {
        std::fputs((msg::Line(error) + cli::TryHelpLine(request.command) + "\n").c_str(), stderr);
        return cli::kExitUsage;
    }
    if (request.help) {
        std::fputs(cli::HelpText(request.command), stdout);
        return 0;
    }
    if (request.output == command::kStandardStream) {
        // A picture on a terminal is only noise, and may set it in a state
        // the user has to repair.
        if (platform::IsTerminal(platform::StandardOutput())) {
            msg::Say(msg::Tr("standard output is a terminal; send the picture to a file or a pipe"));
            return cli::kExitUsage;
        }
        // A reader that goes away early is a failed write, reported with its
        // reason, rather than a silent end.
        std::signal(SIGPIPE, SIG_IGN);
    }
    switch (request.command) {
        case cli::Command::kVersion:
            std::fputs(cli::VersionText().c_str(), stdout);
            return 0;
        case cli::Command::kConvert:
        case cli::Command::kThumbnail:
            return RunConvert(request);
        case cli::Command::kExtract:
            return archive::RunExtract(request);
        case cli::Command::kPack:
            return archive::RunPack(request);
        case cli::Command::kInfo:
            return RunInfo(request.inputs[0]);
        case cli::Command::kSampleDisc:
            return RunSampleDisc(request.discDir);
        case cli::Command::kWallpaper:
            return wallpaper::Run(request, ConvertOne);
        case cli::Command::kNone:
            break;
    }
    return cli::kExitUsage;
}
