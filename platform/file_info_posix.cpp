#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"

namespace platform {

int LastError() { return errno; }

bool FileSize(FileHandle file, std::uint64_t* bytes) {
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

FileHandle StandardInput() { return STDIN_FILENO; }
FileHandle StandardOutput() { return STDOUT_FILENO; }

bool IsTerminal(FileHandle file) { return ::isatty(static_cast<int>(file)) == 1; }

}  // namespace platform
