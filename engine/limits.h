// Size limits of a conversion. Every size the engine computes (strides, the
// work block, the output file size) is derived from values within these
// bounds, so none of those computations can overflow 32 bits.
#pragma once

#include <cstdint>

namespace limits {

// Longest side of an input or output picture. The pictures this program is
// made for are 3200 x 2400; ten times that still keeps every row buffer below
// a quarter of a megabyte and the weight arithmetic (side x 256) far inside
// 32 bits.
inline constexpr std::int64_t kMaxSide = 32767;

// Largest input area: 128 megapixels, 0.8 GB of payload and a few seconds of
// decoding. A file need not be large to claim a huge picture (a code of one
// bit per payload byte packs 0.8 GB into 100 MB), so the area is capped as
// well as each side.
inline constexpr std::int64_t kMaxInputPixels = std::int64_t{1} << 27;
// The same as messages quote it, in megapixels of 2^20 pixels.
inline constexpr std::int64_t kMaxInputMegapixels = kMaxInputPixels >> 20;

// A stored comment longer than this is not a picture but an attempt to make the
// reader spin; the first kCommentSize bytes of a shorter one are kept.
inline constexpr std::int64_t kMaxCommentLength = 65536;

// Bytes of the comment the job keeps.
inline constexpr std::uint32_t kCommentSize = 128;

}  // namespace limits
