#include "tests/platform/file_faults.h"

#include <algorithm>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include "platform/file_io.h"

// The real functions, as real_file_io.cpp defines them.
namespace real_platform {
using platform::FileHandle;
FileHandle OpenRead(const char* utf8Path);
FileHandle CreateWrite(const char* utf8Path);
bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* got);
bool Write(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written);
void Close(FileHandle file);
bool Remove(const char* utf8Path);
bool Rename(const char* from, const char* to);
}  // namespace real_platform

namespace {

using platform::FileHandle;

// Plain values, set before any code runs, so that a limit may be set from
// another file's static initialisation.
bool writesLimited = false;
std::uint64_t writeBudget = 0;
std::uint64_t delivered = 0;
file_faults::ShortWrite shortWrite = file_faults::ShortWrite::kFails;

bool readsLimited = false;
std::uint64_t readLimit = 0;

// A file opened for reading since the read limit was set.
struct LimitedFile {
    FileHandle handle;
    std::uint64_t delivered;
    bool failed;
};

std::vector<LimitedFile>& LimitedFiles() {
    static std::vector<LimitedFile> files;
    return files;
}

LimitedFile* FindLimited(FileHandle file) {
    for (auto& f : LimitedFiles()) {
        if (f.handle == file) return &f;
    }
    return nullptr;
}

// What LastError reports after a fault: a full disk for a write, and no
// reason at all for a scratched disc, which the system does not explain either.
void ReportFault(bool diskFull) {
#ifdef _WIN32
    ::SetLastError(diskFull ? ERROR_DISK_FULL : ERROR_SUCCESS);
#else
    errno = diskFull ? ENOSPC : 0;
#endif
}

}  // namespace

namespace file_faults {

void LimitWrites(std::uint64_t bytes, ShortWrite how) {
    writesLimited = true;
    writeBudget = bytes;
    delivered = 0;
    shortWrite = how;
}

void UnlimitedWrites() {
    writesLimited = false;
    delivered = 0;
}

std::uint64_t Written() { return delivered; }

void LimitReads(std::uint64_t bytes) {
    readsLimited = true;
    readLimit = bytes;
    LimitedFiles().clear();
}

void UnlimitedReads() {
    readsLimited = false;
    LimitedFiles().clear();
}

}  // namespace file_faults

namespace platform {

FileHandle OpenRead(const char* utf8Path) {
    const FileHandle file = real_platform::OpenRead(utf8Path);
    if (readsLimited && file != kInvalidFile) LimitedFiles().push_back({file, 0, false});
    return file;
}

FileHandle CreateWrite(const char* utf8Path) { return real_platform::CreateWrite(utf8Path); }

bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* got) {
    LimitedFile* limited = FindLimited(file);
    if (limited == nullptr) return real_platform::Read(file, buffer, size, got);
    *got = 0;
    if (limited->failed) {
        ReportFault(false);
        return false;
    }
    const bool ok = real_platform::Read(file, buffer, size, got);
    const std::uint64_t room = readLimit - limited->delivered;
    if (*got <= room) {
        limited->delivered += *got;
        return ok;
    }
    // The bytes the real read brought in past the bad spot are inverted: a
    // caller that used them in spite of the count would give itself away.
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (std::uint64_t i = room; i < *got; ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
    *got = static_cast<std::uint32_t>(room);
    limited->delivered = readLimit;
    limited->failed = true;
    ReportFault(false);
    return false;
}

bool Write(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
    if (!writesLimited || size <= writeBudget) {
        const bool ok = real_platform::Write(file, buffer, size, written);
        delivered += *written;
        if (writesLimited) writeBudget -= *written;
        return ok;
    }
    const auto fits = static_cast<std::uint32_t>(writeBudget);
    *written = 0;
    if (fits > 0 && !real_platform::Write(file, buffer, fits, written)) return false;
    delivered += *written;
    writeBudget -= *written;
    ReportFault(true);
    return shortWrite == file_faults::ShortWrite::kClaimsSuccess;
}

void Close(FileHandle file) {
    auto& files = LimitedFiles();
    files.erase(std::remove_if(files.begin(), files.end(),
                               [file](const LimitedFile& f) { return f.handle == file; }),
                files.end());
    real_platform::Close(file);
}

bool Remove(const char* utf8Path) { return real_platform::Remove(utf8Path); }

bool Rename(const char* from, const char* to) { return real_platform::Rename(from, to); }

}  // namespace platform
