#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/file_io.h"

namespace platform {

namespace {
int Fd(FileHandle file) { return static_cast<int>(file); }
}  // namespace

FileHandle OpenRead(const char* utf8Path) {
    const int fd = ::open(utf8Path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kInvalidFile;
    struct stat st;
    // Only regular files hold pictures; a directory opens on POSIX but not on
    // Windows, and both should report the same way.
    // The reason is kept for LastError: EISDIR for a directory, EWOULDBLOCK
    // for a file another reader holds.
    const auto refuse = [fd](int error) {
        ::close(fd);
        errno = error;
        return kInvalidFile;
    };
    if (::fstat(fd, &st) != 0) return refuse(errno);
    if (S_ISDIR(st.st_mode)) return refuse(EISDIR);
    // The closest POSIX has to an unshared open: an advisory lock that other
    // cooperating readers respect.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return refuse(EWOULDBLOCK);
    return fd;
}

FileHandle CreateWrite(const char* utf8Path) {
    const int fd = ::open(utf8Path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? kInvalidFile : fd;
}

bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* got) {
    *got = 0;
    auto* p = static_cast<char*>(buffer);
    while (*got < size) {
        const ssize_t n = ::read(Fd(file), p + *got, size - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        *got += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool Write(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
    *written = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (*written < size) {
        const ssize_t n = ::write(Fd(file), p + *written, size - *written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = 0;  // short, but the system names no reason
            return false;
        }
        *written += static_cast<std::uint32_t>(n);
    }
    return true;
}

void Close(FileHandle file) { ::close(Fd(file)); }

bool Remove(const char* utf8Path) { return ::unlink(utf8Path) == 0; }

bool Rename(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace platform
