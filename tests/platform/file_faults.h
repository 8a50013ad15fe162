// A test-only file layer: the real POSIX or Win32 calls, except that writes
// stop after a byte budget, the way a filling disk stops them, and reads stop
// after a byte limit, the way a scratched disc fails partway through a file.
// A program links the tavrel_platform_file_faults object library besides
// tavrel_platform; its definitions of the platform functions then take the
// place of the real ones for the whole program. Both limits are off at start.
#pragma once

#include <cstdint>

namespace file_faults {

// How a write that crosses the budget ends.
enum class ShortWrite {
    kFails,          // the bytes that fit are written, and the call reports failure
    kClaimsSuccess,  // the bytes that fit are written, and the call reports success
};

// From now on, all writes together deliver at most `bytes` bytes; the write
// that crosses the budget writes what fits and comes up short, later ones
// write nothing.
void LimitWrites(std::uint64_t bytes, ShortWrite how = ShortWrite::kFails);

// Writes are passed through unchanged.
void UnlimitedWrites();

// Bytes delivered to files since the last LimitWrites or UnlimitedWrites.
std::uint64_t Written();

// From now on, each file opened for reading reads as if the disc had a bad
// spot after its first `bytes` bytes: reads deliver at most that many bytes
// of the file, the read that crosses the spot delivers what fits before it
// and fails, and every later read of that file fails, delivering nothing.
// A file opened again reads again up to the spot. Files opened before the
// call read on unchanged.
void LimitReads(std::uint64_t bytes);

// Reads are passed through unchanged.
void UnlimitedReads();

}  // namespace file_faults
