#include "tests/platform/write_budget.h"

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
bool limited = false;
std::uint64_t budget = 0;
std::uint64_t delivered = 0;
write_budget::ShortWrite shortWrite = write_budget::ShortWrite::kFails;
}  // namespace

namespace write_budget {

void Limit(std::uint64_t bytes, ShortWrite how) {
    limited = true;
    budget = bytes;
    delivered = 0;
    shortWrite = how;
}

void Unlimited() {
    limited = false;
    delivered = 0;
}

std::uint64_t Written() { return delivered; }

}  // namespace write_budget

namespace platform {

FileHandle OpenRead(const char* utf8Path) { return real_platform::OpenRead(utf8Path); }

FileHandle CreateWrite(const char* utf8Path) { return real_platform::CreateWrite(utf8Path); }

bool Read(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* got) {
    return real_platform::Read(file, buffer, size, got);
}

bool Write(FileHandle file, const void* buffer, std::uint32_t size, std::uint32_t* written) {
    if (!limited || size <= budget) {
        const bool ok = real_platform::Write(file, buffer, size, written);
        delivered += *written;
        if (limited) budget -= *written;
        return ok;
    }
    const auto fits = static_cast<std::uint32_t>(budget);
    *written = 0;
    if (fits > 0 && !real_platform::Write(file, buffer, fits, written)) return false;
    delivered += *written;
    budget -= *written;
    return shortWrite == write_budget::ShortWrite::kClaimsSuccess;
}

void Close(FileHandle file) { real_platform::Close(file); }

bool Remove(const char* utf8Path) { return real_platform::Remove(utf8Path); }

bool Rename(const char* from, const char* to) { return real_platform::Rename(from, to); }

}  // namespace platform
