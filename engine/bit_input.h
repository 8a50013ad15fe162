// Buffered, most-significant-bit-first bit input over an open file.
#pragma once

#include <cstdint>

#include "platform/file_io.h"

class BitI {
public:
    static constexpr std::int32_t kBufferSize = 4096;

    // `file` is borrowed and must already be positioned where the bits start.
    explicit BitI(platform::FileHandle file);

    std::uint8_t ReadByte();
    unsigned ReadBit();
    unsigned ReadBits(int n);

    // Set once a refill failed or the file had no more bytes to give; the
    // reader then hands out zero bits and the owner treats the file as unusable.
    bool failed() const { return failed_; }

private:
    bool Refill();

    platform::FileHandle file;
    std::int32_t bitsLeft = 0;
    std::uint8_t current = 0;
    std::int32_t position = kBufferSize;
    // Bytes of `buffer` that the last refill actually delivered: bytes past
    // this count are never handed out, so a short file cannot masquerade as
    // data from the previous block.
    std::int32_t filled = kBufferSize;
    bool failed_ = false;
    std::uint8_t buffer[kBufferSize];
};
