#include "formats/png_chunks.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace png_write {
namespace detail {

namespace {

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool ChunkFile::Raw(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (ok_ && size > 0) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
        std::uint32_t written = 0;
        const bool called = platform::Write(file_, p, n, &written);
        ok_ = called && written == n;
        if (!ok_) systemError_ = called ? 0 : platform::LastError();
        p += n;
        size -= n;
    }
    return ok_;
}

bool ChunkFile::Chunk(const char* type, const std::uint8_t* data, std::size_t size,
                      std::uint32_t crc) {
    std::uint8_t head[8];
    PutBe32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    std::uint8_t tail[4];
    PutBe32(tail, crc);
    return Raw(head, 8) && Raw(data, size) && Raw(tail, 4);
}

std::uint32_t ChunkFile::ChunkCrc(const char* type, const std::uint8_t* data, std::size_t size) {
    const std::uint32_t crc = libdeflate_crc32(0, type, 4);
    // (libdeflate takes a null buffer as a request for the initial value.)
    return size != 0 ? libdeflate_crc32(crc, data, size) : crc;
}

bool WriteHeaderChunks(ChunkFile& out, const Layout& layout) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t ihdr[13];
    PutBe32(ihdr, layout.width);
    PutBe32(ihdr + 4, layout.height);
    ihdr[8] = static_cast<std::uint8_t>(layout.bitDepth);
    ihdr[9] = static_cast<std::uint8_t>(layout.colorType);
    ihdr[10] = ihdr[11] = ihdr[12] = 0;  // deflate, adaptive filtering, not interlaced
    if (!out.Raw(kSignature, 8) || !out.Chunk("IHDR", ihdr, sizeof ihdr)) return false;
    if (layout.colorType == kColorTypePalette) {
        std::vector<std::uint8_t> plte;
        for (const auto& c : layout.palette) plte.insert(plte.end(), c.begin(), c.end());
        if (!out.Chunk("PLTE", plte.data(), plte.size())) return false;
    }
    if (layout.comment.empty()) return true;
    // Plain text chunks are Latin-1; anything beyond ASCII goes as UTF-8 in
    // an international one (uncompressed, no language tag or translation).
    std::string text = "Comment";
    text += '\0';
    const bool ascii = IsAscii(layout.comment);
    if (!ascii) text.append("\0\0\0\0", 4);
    text += layout.comment;
    return out.Chunk(ascii ? "tEXt" : "iTXt", reinterpret_cast<const std::uint8_t*>(text.data()),
                     text.size());
}

}  // namespace detail
}  // namespace png_write
