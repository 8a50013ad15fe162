#include <sys/stat.h>

#include "platform/file_io.h"

namespace platform {

bool SameFile(const char* utf8PathA, const char* utf8PathB) {
    // stat follows symbolic links, so a link and its target are one file.
    struct stat a;
    struct stat b;
    return ::stat(utf8PathA, &a) == 0 && ::stat(utf8PathB, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

}  // namespace platform
