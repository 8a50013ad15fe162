#include "cli/command_io.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/messages.h"
#include "engine/conversion_status.h"
#include "platform/file_io.h"
#include "platform/temporary_file.h"

namespace command {

namespace {

using msg::Format;
using msg::Tr;

using msg::Line;

// A device, a pipe or a socket under the target's name is written to in
// place: a temporary renamed over it would replace the device itself (run as
// root, "-o /dev/null" would leave a plain file there).
bool IsSpecialFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string TemporaryPath(const std::string& target) {
    return platform::TemporaryPathBeside(target);
}

std::uint32_t Commit(const std::string& temporary, const std::string& target, std::uint32_t status,
                     std::string* reason) {
    if (status == kStatusOk) {
        const int error = platform::ReplaceWithTemporary(temporary, target);
        if (error == 0) return kStatusOk;
        *reason = msg::SystemReason(error);
        status = kStatusOutputNotCreated;
    }
    platform::Remove(temporary.c_str());
    return status;
}

std::uint32_t OpenOutput(const std::string& target, Output* out, std::string* reason) {
    out->target = target;
    if (target == kStandardStream) {
        out->file = platform::StandardOutput();
        return kStatusOk;
    }
    if (IsSpecialFile(target)) {
        out->file = platform::CreateWrite(target.c_str());
        out->inPlace = out->file != platform::kInvalidFile;
        if (out->inPlace) return kStatusOk;
        const int error = platform::LastError();
        *reason = error != 0 ? msg::SystemReason(error) : "";
        return kStatusOutputNotCreated;
    }
    out->temporary = TemporaryPath(target);
    out->file = platform::CreateWrite(out->temporary.c_str());
    if (out->file != platform::kInvalidFile) return kStatusOk;
    const int error = platform::LastError();
    *reason = error != 0 ? msg::SystemReason(error) : "";
    out->temporary.clear();  // nothing to remove
    return kStatusOutputNotCreated;
}

std::uint32_t CloseOutput(Output* out, std::uint32_t status, std::string* reason) {
    if (out->inPlace) {
        platform::Close(out->file);
        out->file = platform::kInvalidFile;
        out->inPlace = false;
        return status;
    }
    if (out->temporary.empty()) return status;  // standard output, or nothing was created
    platform::Close(out->file);
    out->file = platform::kInvalidFile;
    status = Commit(out->temporary, out->target, status, reason);
    out->temporary.clear();
    return status;
}

std::string SystemReason(int error) { return error != 0 ? msg::SystemReason(error) : ""; }

std::uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

std::uint32_t Finish(PictureInput& input, const PictureReader& reader, Output* output,
                     std::uint32_t status, std::string reason) {
    status = CloseOutput(output, status, &reason);
    if (status == kStatusOk) return status;
    if (IsOutputFailure(status)) {
        ReportFailure(OutputName(output->target), status, reason);
        return status;
    }
    return input.Report(reader, status);
}

std::uint32_t FinishOutput(Output* output, std::uint32_t status, std::string reason) {
    status = CloseOutput(output, status, &reason);
    if (status != kStatusOk) ReportFailure(OutputName(output->target), status, reason);
    return status;
}

std::uint32_t RefuseOutputThatIsAnInput(const std::string& output,
                                        const std::vector<std::string>& inputs) {
    // Standard input and output are no files of the run that could be lost.
    if (output == kStandardStream) return kStatusOk;
    for (const auto& input : inputs) {
        if (input == kStandardStream || !platform::SameFile(output.c_str(), input.c_str())) continue;
        const std::string why =
            output == input
                ? Format(Tr("%s is the input; choose another output name"), output.c_str())
                : Format(Tr("%s is the same file as the input %s; choose another output name"),
                         output.c_str(), input.c_str());
        std::fputs(Line(why).c_str(), stderr);
        return kStatusOutputIsInput;
    }
    return kStatusOk;
}

void Warn(const std::string& path, const std::string& warning) {
    if (!warning.empty()) msg::Say(path + ": " + warning);
}

}  // namespace command
