// Writer of RQ6 pictures: builds the payload (bitmap-like headers, comment and
// delta-coded 48-bit rows), codes it with a static Huffman tree and writes the
// container. Its pieces are public so that tests can build damaged pictures
// with them: every header field can be overridden, the comment region can be
// raw bytes, and a code table can be made for a hand-made tree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/bitmap_headers.h"
#include "engine/rq6_layout.h"
#include "platform/file_io.h"

namespace rq6 {

// Most-significant-bit-first bit output into memory.
class BitWriter {
public:
    // Appends the low `count` bits of `bits`, highest first; count may be 0..64.
    // Inline because the coders call it once per payload byte.
    void Put(std::uint64_t bits, int count) {
        if (count > 32) {
            PutShort(bits >> 32, count - 32);
            PutShort(bits, 32);
        } else {
            PutShort(bits, count);
        }
    }
    void PutBit(unsigned bit) { PutShort(bit, 1); }

    // Appends, for each of the `count` bytes of `data`, the low length[b]
    // bits of code[b]; every length used must be at most 32. The same bits
    // as Put for each byte, at a fraction of the cost.
    void PutCodes(const std::uint8_t* data, std::size_t count,
                  const std::array<std::uint32_t, 256>& code,
                  const std::array<std::uint8_t, 256>& length);

    // Bits put so far, drained ones included.
    std::uint64_t BitCount() const { return bitCount_; }

    // Complete bytes held in memory.
    std::size_t BufferedBytes() const { return bytes_.size(); }

    // The whole stream so far, the last byte padded with zero bits. Further
    // bits may still be put afterwards.
    std::vector<std::uint8_t> Bytes() const;

    // Replaces *out with the complete bytes and empties the buffer (the
    // streaming writer drains it this way); the bits of an unfinished byte stay.
    void TakeCompleteBytes(std::vector<std::uint8_t>* out);

    // Append the bits another writer holds, in order, so that what it coded
    // on its own joins this stream wherever its bits end: its complete bytes
    // [from, to), in as many pieces as suit draining this stream, then its
    // unfinished byte's bits. `other` must not have been drained.
    void AppendBytes(const BitWriter& other, std::size_t from, std::size_t to);
    void AppendUnfinished(const BitWriter& other);

    void Reserve(std::size_t bytes) { bytes_.reserve(bytes); }

private:
    // count <= 32, so the pending bits (fewer than 8 before) still fit 64 bits.
    void PutShort(std::uint64_t bits, int count) {
        bitCount_ += static_cast<std::uint64_t>(count);
        pending_ = (pending_ << count) | (bits & ((std::uint64_t{1} << count) - 1));
        pendingCount_ += count;
        // Bits above pendingCount_ are stale but are never looked at: the cast
        // keeps only the eight bits being emitted.
        while (pendingCount_ >= 8) {
            pendingCount_ -= 8;
            bytes_.push_back(static_cast<std::uint8_t>(pending_ >> pendingCount_));
        }
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t pending_ = 0;  // the low pendingCount_ bits are not yet in bytes_
    int pendingCount_ = 0;       // always below 8 between calls
    std::uint64_t bitCount_ = 0;
};

// A code tree numbered the way the reader numbers it: values 0..255 are leaves
// (byte values), 256, 257, ... are internal nodes in pre-order, and
// first[k - 256] / second[k - 256] are the children reached by a 0 / 1 bit.
struct CodeTree {
    int root = 0;
    std::vector<int> first;
    std::vector<int> second;

    int InternalNodeCount() const { return static_cast<int>(first.size()); }
};

// An optimal prefix code for the histogram. A histogram with at most one
// non-zero count gives a single leaf (that value, or 0 when all are zero).
CodeTree BuildOptimalTree(const std::array<std::uint64_t, kLeafCount>& histogram);

// Writes the tree in pre-order (0 + 8-bit value for a leaf, 1 + both children
// for an internal node). The tree must be numbered as described above.
void SerializeTree(const CodeTree& tree, BitWriter& out);

// The code of every byte value under a tree: the path from the root to its
// leaf, the shortest where a value has several leaves. Codes of up to 64 bits
// are kept as a number; longer ones (only hand-made degenerate trees have
// them) as their bit sequence.
class CodeTable {
public:
    // Throws std::invalid_argument when the tree is malformed: a node out of
    // range, or a cycle.
    explicit CodeTable(const CodeTree& tree);

    // Bits of the value's code; -1 when the tree has no leaf for it.
    int Length(std::uint8_t value) const { return length_[value]; }

    // Appends the codes of the `count` bytes of `data`, every one of which
    // must have a leaf.
    void PutAll(const std::uint8_t* data, std::size_t count, BitWriter& out) const;

private:
    void Collect(const CodeTree& tree, int node, std::vector<std::uint8_t>& path);
    void Put(std::uint8_t value, BitWriter& out) const;

    std::array<int, kLeafCount> length_{};
    std::array<std::uint64_t, kLeafCount> bits_{};
    std::array<std::vector<std::uint8_t>, kLeafCount> path_;
    // The same codes for BitWriter::PutCodes, when every code is at most 32
    // bits (optimal codes for any real picture are far shorter).
    bool short32_ = false;
    std::array<std::uint32_t, kLeafCount> code32_{};
    std::array<std::uint8_t, kLeafCount> length8_{};
};

// A bitmap has one plane; 3780 pixels a metre is 96 pixels an inch
// (96 / 0.0254 = 3779.5), the resolution bitmaps commonly declare.
inline constexpr std::uint16_t kPlanes = 1;
inline constexpr std::int32_t kPelsPerMeter = 3780;

// Header fields of the payload. Unset optional fields are computed from the
// picture: the sizes from the comment and row layout, width and height from
// the picture's own.
struct PayloadFields {
    std::uint16_t bfType = kPayloadType;
    std::optional<std::uint32_t> bfSize;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::optional<std::uint32_t> bfOffBits;
    std::uint32_t biSize = bmp::kInfoHeaderSize;
    std::optional<std::int32_t> biWidth;
    std::optional<std::int32_t> biHeight;
    std::uint16_t biPlanes = kPlanes;
    std::uint16_t biBitCount = kPayloadBitsPerPixel;
    std::uint32_t biCompression = kPayloadDeltaRows;
    std::optional<std::uint32_t> biSizeImage;
    std::int32_t biXPelsPerMeter = kPelsPerMeter;
    std::int32_t biYPelsPerMeter = kPelsPerMeter;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
    // When set, these bytes are stored as the comment region exactly (no
    // terminator added) and the comment argument is ignored. bfOffBits still
    // defaults to 54 + their length unless it is overridden.
    std::optional<std::string> rawComment;
};

// The payload up to its first row: the headers and the comment region (the
// comment and its terminator, or fields.rawComment) of a width x height
// picture.
std::vector<std::uint8_t> PayloadPreamble(std::uint32_t width, std::uint32_t height,
                                          const std::string& comment, const PayloadFields& fields);

// Stores one row of 3 x width samples (blue, green, red) as differences
// modulo 65536: from the same sample of the previous stored row, or, for the
// first row (`previous` null), from the pixel to the left (its first pixel as
// it is). `out` receives StoredRowStride(width) bytes, the fill zero.
void DeltaCodeRow(const std::uint16_t* current, const std::uint16_t* previous,
                  std::uint32_t width, std::uint8_t* out);

// Fills the 3 x width samples (blue, green, red) of stored row y; y = 0 is
// the bottom row of the picture.
using RowSource = std::function<void(std::uint32_t y, std::uint16_t* bgr)>;

// Streams a picture to a file with an optimal tree while holding only a few
// rows in memory: the rows are requested twice, once to count byte values and
// once to code them, so `row` must give the same samples both times.
// False when the file cannot be written (nothing is left behind then);
// *created, when given, tells whether the file could at least be created.
//
// With `runBoth` (which runs two jobs and returns when both are done, on two
// threads if it likes) the rows are counted and coded in two halves, one job
// each: `row` is then called from both at once, and the second half's codes
// (about half the file) are held in memory until the first half is written.
// The file is the same either way.
using RunBoth = std::function<void(const std::function<void()>& first,
                                   const std::function<void()>& second)>;
bool WriteRq6File(const char* utf8Path, std::uint32_t width, std::uint32_t height,
                  const std::string& comment, const RowSource& row,
                  const PayloadFields& fields = {}, bool* created = nullptr,
                  const RunBoth& runBoth = {});

// The same into an open file (borrowed, left open, and left as it is on
// failure), from where it stands.
bool WriteRq6(platform::FileHandle file, std::uint32_t width, std::uint32_t height,
              const std::string& comment, const RowSource& row, const RunBoth& runBoth = {});

}  // namespace rq6
