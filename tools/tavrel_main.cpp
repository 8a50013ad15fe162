// tavrel: the conversion engine on the command line.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/picture_reader.h"
#include "engine/wp_convert.h"
#include "platform/file_io.h"
#include "tools/archive_commands.h"
#include "tools/cli_options.h"
#include "tools/command_io.h"
#include "tools/png_io.h"
#include "tools/sample_disc.h"
#include "tools/text_codec.h"

namespace {

std::uint32_t ConvertOne(const cli::Request& request, const std::string& input) {
    const std::string target = cli::OutputPathFor(request, input);
    std::uint32_t width = request.width;
    std::uint32_t height = request.height;
    if (width == 0) {
        // Read the headers the way the conversion will, with the same statuses.
        PictureReader reader;
        if (const std::uint32_t s = reader.Open(input.c_str())) return s;
        width = reader.Width();
        height = reader.Height();
    }
    const double exponent =
        request.hasExponent ? request.exponent : ContrastTable().exponent[request.contrast];

    const std::string temporary = command::TemporaryPath(target);
    std::uint32_t status = kStatusOk;
    bool created = false;
    std::uint32_t fileSize = 0;
    {
        WPConvert job;
        status = job.Begin(input.c_str(), temporary.c_str(), exponent, width, height, request.mode);
        created = job.outHandle != platform::kInvalidFile;
        if (status == kStatusOk) status = job.ConvertFirstLine();
        while (status == kStatusOk && job.linesDone < job.height) status = job.ConvertNextLine();
        fileSize = job.outFileSize;
    }  // the job closes both files here
    if (status != kStatusOk) {
        if (created) platform::Remove(temporary.c_str());
        return status;
    }
    std::uint64_t outputSize = fileSize;
    if (request.format == cli::Format::kPng) {
        // The engine writes bitmaps; the PNG is made from the finished one.
        const std::string png = command::TemporaryPath(target);
        const full::Result result = png_io::BmpToPng(temporary, png);
        platform::Remove(temporary.c_str());
        status = command::Commit(png, target, result.status);
        if (status != kStatusOk) return status;
        outputSize = command::FileSize(target);
    } else {
        status = command::Commit(temporary, target, status);
        if (status != kStatusOk) return status;
    }
    std::printf("%s -> %s (%u x %u, mode %u, %" PRIu64 " bytes)\n", input.c_str(),
                target.c_str(), width, height, request.mode, outputSize);
    return kStatusOk;
}

int RunConvert(const cli::Request& request) {
    return command::ForEachInput(request.inputs, [&](const std::string& input) {
        const std::uint32_t status = ConvertOne(request, input);
        if (status != kStatusOk) command::ReportFailure(input, status);
        return status;
    });
}

int RunInfo(const std::string& path) {
    PictureReader info;
    if (const std::uint32_t status = info.Open(path.c_str())) {
        command::ReportFailure(path, status);
        return static_cast<int>(status);
    }
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
    return 0;
}

int RunSampleDisc(const std::string& dir) {
    std::string error;
    if (!rq6::WriteSampleDisc(dir, &error)) {
        std::fprintf(stderr, "tavrel: %s\n", error.c_str());
        return static_cast<int>(kStatusOutputNotCreated);
    }
    for (int n = 6; n <= 10; ++n) std::printf("%s/Extends/Sg0%02d.rq6\n", dir.c_str(), n);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    cli::Request request;
    std::string error;
    if (!cli::Parse(args, &request, &error)) {
        std::fprintf(stderr, "tavrel: %s\n\n%s", error.c_str(), cli::UsageText());
        return cli::kExitUsage;
    }
    switch (request.command) {
        case cli::Command::kHelp:
            std::fputs(cli::UsageText(), stdout);
            return 0;
        case cli::Command::kConvert:
            return RunConvert(request);
        case cli::Command::kExtract:
            return archive::RunExtract(request);
        case cli::Command::kPack:
            return archive::RunPack(request);
        case cli::Command::kInfo:
            return RunInfo(request.inputs[0]);
        case cli::Command::kSampleDisc:
            return RunSampleDisc(request.discDir);
    }
    return 0;
}
