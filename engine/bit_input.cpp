#include "engine/bit_input.h"

BitI::BitI(ByteSource& s) : source(s) {}

bool BitI::FillBuffer() {
    if (endOfFile || readFailed_) return false;
    std::uint32_t got = 0;
    // A read that fails (a scratched disc) still delivers the good bytes
    // before the bad spot. They are used, and the input ends after them as a
    // file would: what a picture's reader gets to, and the status it ends
    // with, depend on where the bad spot is, not on where a block starts.
    if (!source.Read(buffer, kBufferSize, &got)) readFailed_ = true;
    if (got == 0) endOfFile = true;
    filled = static_cast<std::int32_t>(got);
    position = 0;
    return got > 0;
}

void BitI::RefillSlowly() {
    // Near the end of a block, or of the file: a byte at a time.
    while (available <= kRefillBits && available >= 0) {
        if (position >= filled && !FillBuffer()) return;
        window |= static_cast<std::uint64_t>(buffer[position++]) << (kRefillBits - available);
        available += 8;
    }
}
