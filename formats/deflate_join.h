// Joining deflate streams that were compressed apart into the one zlib
// stream a PNG holds. A complete raw deflate stream is walked to its last
// block, whose "final" mark is cleared; an empty stored block then brings the
// stream back to a byte boundary, which is what a flush does inside one
// stream. The Adler-32 checks of the pieces combine into the whole's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace png_write {

// Bytes a compressed band must be followed by, readable, for the walker,
// which reads eight bytes at a time.
inline constexpr std::size_t kJoinSlack = 8;

// Turns a complete raw deflate stream into one that a following stream may
// continue. *size is the stream's length on entry and the new length after;
// the buffer must have room for five more bytes plus kJoinSlack, zero.
// False when the data is not such a stream.
bool MakeContinuable(std::uint8_t* data, std::size_t* size);

// The Adler-32 of two pieces joined, from the sums of each and the length of
// the second.
std::uint32_t CombineAdler32(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

}  // namespace png_write
