#include "cli/output_file.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "cli/failure_message.h"
#include "cli/messages.h"
#include "engine/conversion_status.h"
#include "platform/file_io.h"
#include "platform/temporary_file.h"

namespace command {

namespace {

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

}  // namespace command
