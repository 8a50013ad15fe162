// The layout of an RQ6 file, the one statement of it that the reader and the
// writer share.
//
// The container: four magic bytes, a 32-bit little-endian value that nothing
// interprets, then one bit stream, most significant bit first. The stream
// opens with the code tree in pre-order and goes on at once with the codes of
// the payload bytes. The payload is a bitmap file image: the two bitmap
// headers (bitmap_headers.h) with the values below, the comment region up to
// bfOffBits, then the stored rows, every sample a difference modulo 65536.
#pragma once

#include <cstdint>

#include "engine/bitmap_headers.h"

namespace rq6 {

// --- Container

inline constexpr std::uint32_t kMagicSize = 4;
inline constexpr std::uint8_t kMagicBytes[kMagicSize] = {'R', 'Q', '6', '1'};
// The magic bytes read as a little-endian word, as the reader compares them.
inline constexpr std::uint32_t kMagic =
    std::uint32_t{kMagicBytes[0]} | std::uint32_t{kMagicBytes[1]} << 8 |
    std::uint32_t{kMagicBytes[2]} << 16 | std::uint32_t{kMagicBytes[3]} << 24;
static_assert(kMagic == 0x31365152u, "\"RQ61\" in file order");
// The uninterpreted value after the magic.
inline constexpr std::uint32_t kExtraSize = 4;
// Where the bit stream starts.
inline constexpr std::uint32_t kStreamOffset = kMagicSize + kExtraSize;

// --- Code tree
//
// A 0 bit is a leaf, followed by its byte value; a 1 bit is an internal
// node, followed by its first child (reached by a 0 bit when decoding) and
// then its second (a 1 bit). A leaf is numbered by its byte value; internal
// nodes are numbered from kFirstInternalNode on, in the order their 1 bits
// are read.

inline constexpr int kLeafValueBits = 8;
// Leaf numbers: one per byte value.
inline constexpr int kLeafCount = 1 << kLeafValueBits;
inline constexpr int kFirstInternalNode = kLeafCount;
// A tree with more internal nodes is refused. It also bounds the depth of
// the tree, and so the length of any code.
inline constexpr int kMaxInternalNodes = 255;
// Node numbers of a valid tree run from 0 to kNodeCount - 1 (510).
inline constexpr int kNodeCount = kFirstInternalNode + kMaxInternalNodes;

// --- Payload

// bfType: the two characters "IF" (not the "BM" of a bitmap file).
inline constexpr std::uint16_t kPayloadType = 'I' | 'F' << 8;
// A stored pixel: three 16-bit samples, blue, green, red.
inline constexpr std::uint32_t kSamplesPerPixel = 3;
inline constexpr std::uint32_t kSampleBytes = 2;
inline constexpr std::uint32_t kPixelBytes = kSamplesPerPixel * kSampleBytes;
// biBitCount.
inline constexpr std::uint16_t kPayloadBitsPerPixel = 8 * kPixelBytes;
// biCompression: the code that stands for delta-coded rows.
inline constexpr std::uint32_t kPayloadDeltaRows = 1;
// Stored rows, like a bitmap's, are padded to whole 32-bit words.
inline constexpr std::uint32_t kRowAlignment = 4;

// Bytes of one stored row of `width` pixels, fill bytes included.
constexpr std::uint32_t StoredRowStride(std::uint32_t width) {
    return (kPixelBytes * width + kRowAlignment - 1) & ~(kRowAlignment - 1);
}
static_assert(StoredRowStride(1) == 8 && StoredRowStride(2) == 12, "0 or 2 fill bytes");

}  // namespace rq6
