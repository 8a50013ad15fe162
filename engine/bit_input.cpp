#include "engine/bit_input.h"

BitI::BitI(platform::FileHandle f) : file(f) {}

bool BitI::Refill() {
    std::uint32_t got = 0;
    const bool ok = platform::Read(file, buffer, kBufferSize, &got);
    // A failed read and a read past the end both leave nothing to hand out.
    // A well-formed file never needs bits beyond its end, so running out of
    // file is as much a failure as a read error.
    if (!ok || got == 0) {
        failed_ = true;
        position = 0;
        filled = 0;
        return false;
    }
    filled = static_cast<std::int32_t>(got);
    position = 0;
    return true;
}

std::uint8_t BitI::ReadByte() {
    if (position >= filled && (failed_ || !Refill())) return 0;
    return buffer[position++];
}

unsigned BitI::ReadBit() {
    --bitsLeft;
    if (bitsLeft >= 0) return (current >> bitsLeft) & 1u;
    bitsLeft = 7;
    current = ReadByte();
    return current >> 7;
}

unsigned BitI::ReadBits(int n) {
    unsigned result = 0;
    while (n > bitsLeft) {
        n -= bitsLeft;
        result |= (current & ((1u << bitsLeft) - 1u)) << n;
        current = ReadByte();
        bitsLeft = 8;
    }
    bitsLeft -= n;
    return result | ((static_cast<unsigned>(current) >> bitsLeft) & ((1u << n) - 1u));
}
