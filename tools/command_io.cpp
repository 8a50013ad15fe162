#include "tools/command_io.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/conversion_status.h"
#include "platform/file_io.h"

namespace command {

std::string TemporaryPath(const std::string& target) {
    const auto slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    static int serial = 0;
    return dir + "." + name + ".tavrel-" + std::to_string(getpid()) + "-" +
           std::to_string(serial++) + ".tmp";
}

std::uint32_t Commit(const std::string& temporary, const std::string& target,
                     std::uint32_t status) {
    if (status == kStatusOk && !platform::Rename(temporary.c_str(), target.c_str())) {
        status = kStatusOutputNotCreated;
    }
    if (status != kStatusOk) platform::Remove(temporary.c_str());
    return status;
}

std::uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

void ReportFailure(const std::string& path, std::uint32_t status, const std::string& message) {
    std::string text = message.empty() ? StatusMessage(status) : message;
    if (text.empty() || text.back() != '\n') text += '\n';
    std::fprintf(stderr, "tavrel: %s:\n%s", path.c_str(), text.c_str());
}

void Warn(const std::string& path, const std::string& warning) {
    if (!warning.empty()) std::fprintf(stderr, "tavrel: %s: %s\n", path.c_str(), warning.c_str());
}

}  // namespace command
