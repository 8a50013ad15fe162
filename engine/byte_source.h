// Where the bytes of a picture come from: a file, a memory buffer, a pipe, or
// whatever a host program hands over. The decoder reads through this in
// blocks of tens of kilobytes, so one virtual call per block costs nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_io.h"

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to `size` bytes into `buffer`; *got receives the count
    // delivered, which may be less than `size` before the end. true with
    // *got == 0 means the end of the bytes. false is a read failure; the
    // *got bytes before it are good, and `systemError` then holds the
    // system's code (errno, GetLastError), 0 when there is none.
    virtual bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) = 0;

    // The bytes the source holds from its start, when it knows them (a file,
    // a buffer); false for a pipe. A reader uses it to refuse a picture the
    // bytes cannot hold before it takes memory for it.
    virtual bool TotalSize(std::uint64_t* bytes) const {
        (void)bytes;
        return false;
    }

    int systemError = 0;
};

// Reads up to `size` bytes, through short reads, until the end or a failure;
// *got receives the count. The result is that of the last read.
bool ReadFully(ByteSource& source, void* buffer, std::uint32_t size, std::uint32_t* got);

// Over bytes that the caller keeps alive for the source's life.
class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size);
    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override;
    bool TotalSize(std::uint64_t* bytes) const override;

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Over a file of the platform layer: one it opens by path and closes, or a
// handle it borrows (standard input).
class FileSource final : public ByteSource {
public:
    // Opens the file read-only; when that fails, IsOpen() is false and
    // `systemError` says why.
    explicit FileSource(const char* utf8Path);
    // Reads from the handle's current position and leaves it open.
    explicit FileSource(platform::FileHandle borrowed);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool IsOpen() const { return file_ != platform::kInvalidFile; }
    platform::FileHandle Handle() const { return file_; }

    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override;
    bool TotalSize(std::uint64_t* bytes) const override;

private:
    platform::FileHandle file_;
    bool owned_;
};
