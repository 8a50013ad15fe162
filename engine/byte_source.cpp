#include "engine/byte_source.h"

#include <cstring>

bool ReadFully(ByteSource& source, void* buffer, std::uint32_t size, std::uint32_t* got) {
    *got = 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (*got < size) {
        std::uint32_t n = 0;
        const bool ok = source.Read(bytes + *got, size - *got, &n);
        *got += n;
        if (!ok) return false;
        if (n == 0) break;
    }
    return true;
}

MemorySource::MemorySource(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data)), size_(data ? size : 0) {}

bool MemorySource::Read(void* buffer, std::uint32_t size, std::uint32_t* got) {
    const std::size_t left = size_ - position_;
    const std::size_t n = size < left ? size : left;
    if (n != 0) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    *got = static_cast<std::uint32_t>(n);
    return true;
}

bool MemorySource::TotalSize(std::uint64_t* bytes) const {
    *bytes = size_;
    return true;
}

FileSource::FileSource(const char* utf8Path)
    : file_(platform::OpenRead(utf8Path)), owned_(true) {
    if (file_ == platform::kInvalidFile) systemError = platform::LastError();
}

FileSource::FileSource(platform::FileHandle borrowed) : file_(borrowed), owned_(false) {}

FileSource::~FileSource() {
    if (owned_ && file_ != platform::kInvalidFile) platform::Close(file_);
}

bool FileSource::Read(void* buffer, std::uint32_t size, std::uint32_t* got) {
    *got = 0;
    if (file_ == platform::kInvalidFile) return false;
    if (platform::Read(file_, buffer, size, got)) return true;
    systemError = platform::LastError();
    return false;
}

bool FileSource::TotalSize(std::uint64_t* bytes) const {
    return file_ != platform::kInvalidFile && platform::FileSize(file_, bytes);
}
