// A test-only file layer: the real POSIX or Win32 calls, except that writes
// stop after a byte budget, the way a filling disk stops them. A suite links
// the tavrel_platform_write_budget object library instead of relying on
// tavrel_platform alone; its definitions of the platform functions then take
// the place of the real ones for the whole program.
#pragma once

#include <cstdint>

namespace write_budget {

// How a write that crosses the budget ends.
enum class ShortWrite {
    kFails,             // the bytes that fit are written, and the call reports failure
    kClaimsSuccess,     // the bytes that fit are written, and the call reports success
};

// From now on, all writes together deliver at most `bytes` bytes; the write
// that crosses the budget writes what fits and comes up short, later ones
// write nothing.
void Limit(std::uint64_t bytes, ShortWrite how = ShortWrite::kFails);

// Writes are passed through unchanged (the initial state).
void Unlimited();

// Bytes delivered to files since the last Limit or Unlimited.
std::uint64_t Written();

}  // namespace write_budget
