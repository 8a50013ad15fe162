// Joining separately deflated pieces into one deflate stream.
//
// Each piece is deflated on its own as a complete raw deflate stream. Before
// the next piece may follow it, its last block loses its "final" mark and an
// empty stored block brings the stream back to a byte boundary, which is what
// a flush does inside one deflate stream; the zlib checksum of the whole is
// combined from the pieces' own. Finding the last block's header means
// walking every block of the piece, since deflate marks no block boundaries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace deflate_join {

// Readable bytes that must follow a stream handed to the functions below:
// the walk reads eight bytes at a time.
inline constexpr std::size_t kSlack = 8;

// Walks a complete raw deflate stream to its end: *finalHeader receives the
// bit position of its last block's header, *end the bit position just after
// that block. False when the data is not such a stream: a reserved block
// type, a stored block whose length check fails, an invalid code or
// distance, or a stream that runs past `size` bytes.
bool FindLastBlock(const std::uint8_t* data, std::size_t size, std::uint64_t* finalHeader,
                   std::uint64_t* end);

// Turns a complete raw deflate stream into one that a following stream may
// continue: clears its last block's final mark and ends it with an empty
// stored block, which pads to a byte boundary. *size is the stream's length
// on entry and the new length after; the buffer must have room for five more
// bytes plus kSlack. False, with the data unchanged, when FindLastBlock fails.
bool MakeContinuable(std::uint8_t* data, std::size_t* size);

// The Adler-32 of two pieces joined, from the sums of each and the length of
// the second.
std::uint32_t CombineAdler32(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

}  // namespace deflate_join
