#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/temporary_file.h"

namespace platform {

std::string TemporaryPathBeside(const std::string& target) {
    const auto slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string stem = dir + "." + name + ".tavrel-" + std::to_string(getpid()) + "-";
    static unsigned serial = 0;
    std::string path;
    struct stat st;
    // A name left behind by an earlier process of the same number is passed
    // over, not reused.
    do {
        path = stem + std::to_string(serial++) + ".tmp";
    } while (::lstat(path.c_str(), &st) == 0);
    return path;
}

int ReplaceWithTemporary(const std::string& temporary, const std::string& target) {
    return std::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
}

}  // namespace platform
