#include "tools/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include "engine/conversion_status.h"
#include "platform/file_io.h"

namespace output {

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
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

}  // namespace output
