// Buffered, most-significant-bit-first bit input over a byte source.
//
// The source is read in blocks of kBufferSize bytes, one call per block. The next bits sit in a 64-bit
// window, most significant first, which Refill tops up a whole word at a time
// so that the decoder can look at up to 57 bits before it has to refill again.
// Past the end of the file, or of the bytes before a failed read, the window
// fills with zero bits; consuming any of them marks the input as overrun,
// which the decoder reports as a failure, since a well-formed file never
// needs bits beyond its end.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/byte_source.h"

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return __builtin_bswap64(word);
#else
    std::uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | p[i];
    return word;
#endif
}

class BitI {
public:
    static constexpr std::int32_t kBufferSize = 65536;
    // Bits Refill guarantees in the window unless the file ends first.
    static constexpr int kRefillBits = 56;

    // `source` is borrowed and must already be positioned where the bits start.
    explicit BitI(ByteSource& source);

    unsigned ReadBit() {
        if (available < 1) Refill();
        const auto bit = static_cast<unsigned>(window >> 63);
        Consume(1);
        return bit;
    }
    // The next n bits (1 ... 24) as a number, the first bit the most significant.
    unsigned ReadBits(int n) {
        if (available < n) Refill();
        const unsigned value = Peek(n);
        Consume(n);
        return value;
    }

    // Tops the window up to at least kRefillBits bits, or to the end of the file.
    void Refill() {
        if (available > kRefillBits) return;
        Cursor c = Take();
        if (CanRefillWord(c)) {
            RefillWord(c);
            Give(c);
            return;
        }
        RefillSlowly();
    }

    // The reading state, for a decoding loop to keep in local variables: the
    // stores of decoded bytes could otherwise alias the members and force
    // them through memory at every code. `next` and `blockEnd` point into the
    // current block: give the cursor back before anything else reads.
    struct Cursor {
        std::uint64_t window;
        int available;
        const std::uint8_t* next;      // the byte that starts at bit `available`
        const std::uint8_t* blockEnd;  // the end of the bytes read so far
    };
    Cursor Take() const { return {window, available, buffer + position, buffer + filled}; }
    void Give(const Cursor& c) {
        window = c.window;
        available = c.available;
        position = static_cast<std::int32_t>(c.next - buffer);
    }

    // Whether RefillWord may be used: a whole word left in the block, and no
    // bits consumed past the end of the file.
    static bool CanRefillWord(const Cursor& c) { return c.blockEnd - c.next >= 8 && c.available >= 0; }
    // The common refill: loads a word and keeps its whole bytes, after which
    // 56 ... 63 bits are valid. The bits of a partly taken byte are taken
    // again, at the same place, by the next refill; the window below its
    // valid bits only ever holds zeros or the file's own next bits, so OR-ing
    // them in again is harmless.
    static void RefillWord(Cursor& c) {
        c.window |= LoadBigEndian64(c.next) >> c.available;
        c.next += (63 - c.available) >> 3;
        c.available |= kRefillBits;
    }

    // The next k bits (1 ... 32) without consuming them.
    unsigned Peek(int k) const { return static_cast<unsigned>(window >> (64 - k)); }
    void Consume(int n) {
        window <<= n;
        available -= n;
    }

    // True once bits past the end of the input were consumed.
    bool failed() const { return available < 0; }
    // True once a read of the source failed (rather than reaching its end).
    bool readFailed() const { return readFailed_; }

private:
    void RefillSlowly();
    bool FillBuffer();

    ByteSource& source;
    std::uint64_t window = 0;
    // Real bits at the top of the window; negative once bits past the end of
    // the file have been consumed.
    int available = 0;
    std::int32_t position = kBufferSize;
    // Bytes of `buffer` that the last block read delivered.
    std::int32_t filled = kBufferSize;
    bool endOfFile = false;
    // After a failed read the source is not read again: where it stands is unknown.
    bool readFailed_ = false;
    std::uint8_t buffer[kBufferSize];
};
