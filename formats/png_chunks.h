// A PNG file as a sequence of chunks: the framing every chunk has, and the
// chunks that come before the image data. Internal to the PNG encoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/png_layout.h"
#include "platform/file_io.h"

namespace png_write {
namespace detail {

inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

class ChunkFile {
public:
    explicit ChunkFile(platform::FileHandle file) : file_(file) {}

    // A short write is a failure: the platform layer reports a full disk that way.
    bool Raw(const void* data, std::size_t size);

    bool Chunk(const char* type, const std::uint8_t* data, std::size_t size) {
        return Chunk(type, data, size, ChunkCrc(type, data, size));
    }
    // The same with its check computed beforehand.
    bool Chunk(const char* type, const std::uint8_t* data, std::size_t size, std::uint32_t crc);

    // A chunk's check: over its type and its data.
    static std::uint32_t ChunkCrc(const char* type, const std::uint8_t* data, std::size_t size);

    // The system's reason for the write that failed, 0 if none.
    int SystemError() const { return systemError_; }

private:
    platform::FileHandle file_;
    bool ok_ = true;
    int systemError_ = 0;
};

// The signature, the header, the palette of an indexed picture and the comment.
bool WriteHeaderChunks(ChunkFile& out, const Layout& layout);

}  // namespace detail
}  // namespace png_write
