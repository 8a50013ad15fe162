#include "cli/archive_commands.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "cli/each_input.h"
#include "cli/failure_message.h"
#include "cli/output_file.h"
#include "cli/messages.h"
#include "cli/output_naming.h"
#include "engine/conversion_status.h"
#include "engine/picture_reader.h"
#include "formats/full_picture.h"
#include "formats/png_io.h"
#include "formats/ppm_io.h"

namespace archive {

namespace {

// Reads a PNG, PPM or PGM picture, told apart by their first bytes.
full::Result ReadStandardPicture(const std::string& path, full::Picture* picture) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {kStatusInputNotOpened, msg::SystemReason(errno)};
    std::uint8_t head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (png_io::HasSignature(head, got)) return png_io::ReadPng(path, picture);
    if (ppm_io::HasSignature(head, got)) return ppm_io::ReadPnm(path, picture);
    return {kStatusFormatError, msg::Tr("not a PNG, PPM or PGM picture")};
}

std::uint32_t ExtractOne(const cli::Request& request, const std::string& input) {
    command::PictureInput in(input);
    PictureReader reader;
    if (const std::uint32_t s = in.Open(reader)) return s;
    full::Picture picture;
    std::string warning;
    full::Result result = full::ReadRq6(reader, &picture, &warning);
    if (!result) return in.Report(reader, result.status);
    command::Warn(command::InputName(input), warning);
    const std::string target = cli::OutputPathFor(request, input);
    command::Output out;
    std::string reason;
    if (const std::uint32_t s = command::OpenOutput(target, &out, &reason)) {
        command::ReportFailure(command::OutputName(target), s, reason);
        return s;
    }
    result = request.format == cli::Format::kPpm ? ppm_io::WritePpm16(out.file, picture)
                                                 : png_io::WritePng16(out.file, picture);
    const std::uint32_t status = command::FinishOutput(&out, result.status, result.message);
    if (status != kStatusOk) return status;
    if (target == command::kStandardStream) return kStatusOk;
    std::printf("%s -> %s (%u x %u, 16 bits per channel, %" PRIu64 " bytes)\n",
                command::InputNameForScripts(input).c_str(), target.c_str(), picture.width,
                picture.height, command::FileSize(target));
    return kStatusOk;
}

std::uint32_t PackOne(const cli::Request& request, const std::string& input) {
    full::Picture picture;
    full::Result result = ReadStandardPicture(input, &picture);
    if (!result) {
        command::ReportFailure(input, result.status, result.message);
        return result.status;
    }
    std::string comment = request.comment;
    if (!request.hasComment) {
        std::string warning;
        comment = full::StoredComment(picture.comment, &warning);
        command::Warn(input, warning);
    }
    const std::string target = cli::OutputPathFor(request, input);
    command::Output out;
    std::string reason;
    if (const std::uint32_t s = command::OpenOutput(target, &out, &reason)) {
        command::ReportFailure(command::OutputName(target), s, reason);
        return s;
    }
    // Only the output can fail here: the picture has been read.
    result = full::WriteRq6(out.file, picture, comment);
    const std::uint32_t status = command::FinishOutput(&out, result.status, result.message);
    if (status != kStatusOk) return status;
    if (target == command::kStandardStream) return kStatusOk;
    std::printf("%s -> %s (%u x %u, %" PRIu64 " bytes)\n", input.c_str(), target.c_str(),
                picture.width, picture.height, command::FileSize(target));
    return kStatusOk;
}

}  // namespace

int RunExtract(const cli::Request& request) {
    return command::ForEachInput(
        request.inputs,
        [&](const std::string& input) { return cli::OutputPathFor(request, input); },
        [&](const std::string& input) { return ExtractOne(request, input); });
}

int RunPack(const cli::Request& request) {
    return command::ForEachInput(
        request.inputs,
        [&](const std::string& input) { return cli::OutputPathFor(request, input); },
        [&](const std::string& input) { return PackOne(request, input); });
}

}  // namespace archive
