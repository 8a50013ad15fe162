#include "formats/deflate_join.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace deflate_join {

namespace {

std::uint32_t Le16(const std::uint8_t* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }

// Bits a peek at the stream holds at least.
constexpr int kPeekBits = 57;

// Reads a raw deflate stream bit by bit, least significant bit first, as
// deflate packs them. The data must be followed by kSlack readable bytes.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), limit_(8 * std::uint64_t{size}) {}

    // At least kPeekBits bits from the position on.
    std::uint64_t Peek() const {
        std::uint64_t v;
        std::memcpy(&v, data_ + (pos_ >> 3), 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        v = __builtin_bswap64(v);
#endif
        return v >> (pos_ & 7);
    }
    std::uint32_t Take(int n) {
        const auto v = static_cast<std::uint32_t>(Peek() & ((std::uint64_t{1} << n) - 1));
        pos_ += static_cast<std::uint64_t>(n);
        return v;
    }
    void Skip(int n) { pos_ += static_cast<std::uint64_t>(n); }
    void AlignToByte() { pos_ = (pos_ + 7) & ~std::uint64_t{7}; }
    void SkipBytes(std::uint64_t n) { pos_ += 8 * n; }
    std::uint64_t Position() const { return pos_; }
    const std::uint8_t* BytePointer() const { return data_ + (pos_ >> 3); }
    // True while the reader has not run past the data (the slack excepted, at
    // most one peek's worth, which a check after every symbol catches).
    bool Within() const { return pos_ <= limit_; }

private:
    const std::uint8_t* data_;
    std::uint64_t limit_;
    std::uint64_t pos_ = 0;
};

// A canonical Huffman code as tables indexed by the next bits of the stream:
// codes of up to kDirectBits bits are found at once, longer ones through a
// second table for their first kDirectBits bits, so that the first table
// stays small enough for the processor's fastest cache. An entry is
// symbol << 8 | code length, kLink | start << 8 | length of the longest code
// behind it for a link, 0 where no code starts.
class Decoder {
public:
    bool Build(const std::uint8_t* lengths, int count) {
        int perLength[16] = {};
        for (int s = 0; s < count; ++s) ++perLength[lengths[s]];
        perLength[0] = 0;
        int longest = 0;
        int left = 1;
        for (int len = 1; len < 16; ++len) {
            left = 2 * left - perLength[len];
            if (left < 0) return false;  // more codes than the lengths allow
            if (perLength[len] != 0) longest = len;
        }
        int next[16] = {};
        for (int len = 1, code = 0; len < 16; ++len) {
            code = (code + perLength[len - 1]) << 1;
            next[len] = code;
        }
        direct_ = std::min(longest, kDirectBits);
        const std::size_t directSize = std::size_t{1} << direct_;
        const int second = longest - direct_;  // bits indexing a second-level table
        table_.assign(directSize, 0);
        for (int s = 0; s < count; ++s) {
            const int len = lengths[s];
            if (len == 0) continue;
            const int code = next[len]++;
            std::uint32_t reversed = 0;
            for (int i = 0; i < len; ++i) reversed |= static_cast<std::uint32_t>((code >> i) & 1) << (len - 1 - i);
            const std::uint32_t entry = static_cast<std::uint32_t>(s) << 8 | static_cast<std::uint32_t>(len);
            if (len <= direct_) {
                for (std::size_t k = reversed; k < directSize; k += std::size_t{1} << len) table_[k] = entry;
                continue;
            }
            const std::uint32_t head = reversed & static_cast<std::uint32_t>(directSize - 1);
            if (table_[head] == 0) {
                table_[head] = kLink | static_cast<std::uint32_t>(table_.size()) << 8 | static_cast<std::uint32_t>(longest);
                table_.resize(table_.size() + (std::size_t{1} << second), 0);
            }
            const std::size_t start = table_[head] >> 8 & 0x7FFFFF;
            for (std::size_t k = reversed >> direct_; k < (std::size_t{1} << second); k += std::size_t{1} << (len - direct_)) {
                table_[start + k] = entry;
            }
        }
        return true;
    }

    // The entry for the code at the start of `bits` (least significant bit
    // first): symbol << 8 | code length, or 0 where no code starts.
    std::uint32_t Lookup(std::uint64_t bits) const {
        std::uint32_t e = table_[bits & ((std::uint64_t{1} << direct_) - 1)];
        if (e & kLink) {
            const int second = static_cast<int>(e & 0xFF) - direct_;
            e = table_[(e >> 8 & 0x7FFFFF) + ((bits >> direct_) & ((std::uint64_t{1} << second) - 1))];
        }
        return e;
    }

    // The next symbol, or -1 where the stream holds no code.
    int Next(BitReader& in) const {
        const std::uint32_t e = Lookup(in.Peek());
        if (e == 0) return -1;
        in.Skip(static_cast<int>(e & 0xFF));
        return static_cast<int>(e >> 8);
    }

private:
    static constexpr int kDirectBits = 10;
    static constexpr std::uint32_t kLink = 0x80000000u;
    int direct_ = 0;
    std::vector<std::uint32_t> table_;
};

constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool ReadDynamicCodes(BitReader& in, Decoder* literals, Decoder* distances) {
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int literalCount = static_cast<int>(in.Take(5)) + 257;
    const int distanceCount = static_cast<int>(in.Take(5)) + 1;
    const int lengthCodeCount = static_cast<int>(in.Take(4)) + 4;
    std::uint8_t lengthLengths[19] = {};
    for (int i = 0; i < lengthCodeCount; ++i) lengthLengths[kOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
    Decoder lengthCode;
    if (!lengthCode.Build(lengthLengths, 19)) return false;
    std::uint8_t lengths[288 + 32] = {};
    const int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        const int s = lengthCode.Next(in);
        if (s < 0) return false;
        if (s < 16) {
            lengths[i++] = static_cast<std::uint8_t>(s);
            continue;
        }
        std::uint8_t value = 0;
        int repeat = 0;
        if (s == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(in.Take(2));
        } else if (s == 17) {
            repeat = 3 + static_cast<int>(in.Take(3));
        } else {
            repeat = 11 + static_cast<int>(in.Take(7));
        }
        if (i + repeat > total || !in.Within()) return false;
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }
    return lengths[256] != 0 && in.Within() && literals->Build(lengths, literalCount) &&
           distances->Build(lengths + literalCount, distanceCount);
}

const Decoder* FixedCodes(bool distances) {
    static const auto codes = [] {
        std::uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::uint8_t five[32];
        std::fill(five, five + 32, 5);
        std::array<Decoder, 2> d;
        d[0].Build(lengths, 288);
        d[1].Build(five, 32);
        return d;
    }();
    return &codes[distances ? 1 : 0];
}

}  // namespace

bool FindLastBlock(const std::uint8_t* data, std::size_t size, std::uint64_t* finalHeader,
                   std::uint64_t* end) {
    BitReader in(data, size);
    Decoder literals;
    Decoder distances;
    for (bool last = false; !last;) {
        *finalHeader = in.Position();
        last = in.Take(1) != 0;
        const std::uint32_t type = in.Take(2);
        if (type == 0) {
            in.AlignToByte();
            if (in.Position() / 8 + 4 > size) return false;
            // A stored block: its length and the length's complement, 16 bits
            // each, little-endian.
            const std::uint8_t* p = in.BytePointer();
            const std::uint32_t length = Le16(p);
            if ((length ^ Le16(p + 2)) != 0xFFFF) return false;
            in.SkipBytes(4 + std::uint64_t{length});
            if (!in.Within()) return false;
            continue;
        }
        const Decoder* lit = &literals;
        const Decoder* dist = &distances;
        if (type == 1) {
            lit = FixedCodes(false);
            dist = FixedCodes(true);
        } else if (type != 2 || !ReadDynamicCodes(in, &literals, &distances)) {
            return false;
        }
        // The symbols of a block: a word of the stream is kept in a register
        // and only read again when it runs short, which keeps the chain from
        // one code to the next short (this loop runs once per symbol).
        std::uint64_t word = in.Peek();
        int used = 0;  // bits of word consumed
        // Makes sure the word holds `bits` more bits; false when the stream
        // has run past its end (never read beyond the slack).
        const auto need = [&](int bits) {
            if (used + bits <= kPeekBits) return true;
            in.Skip(used);
            used = 0;
            if (!in.Within()) return false;
            word = in.Peek();
            return true;
        };
        for (;;) {
            if (!need(15)) return false;
            std::uint32_t e = lit->Lookup(word >> used);
            used += static_cast<int>(e & 0xFF);
            const std::uint32_t s = e >> 8;
            if (s < 256) {
                if (e == 0) return false;
                continue;
            }
            if (s == 256) break;
            if (s > 285) return false;
            used += kLengthExtra[s - 257];
            if (!need(15)) return false;
            e = dist->Lookup(word >> used);
            used += static_cast<int>(e & 0xFF);
            if (e == 0 || (e >> 8) > 29) return false;
            used += kDistanceExtra[e >> 8];
        }
        in.Skip(used);
        if (!in.Within()) return false;
    }
    *end = in.Position();
    return true;
}

bool MakeContinuable(std::uint8_t* data, std::size_t* size) {
    std::uint64_t finalHeader = 0;
    std::uint64_t end = 0;
    if (!FindLastBlock(data, *size, &finalHeader, &end)) return false;
    data[finalHeader >> 3] &= static_cast<std::uint8_t>(~(1u << (finalHeader & 7)));
    std::size_t bytes = static_cast<std::size_t>((end + 7) / 8);
    const int used = static_cast<int>(end & 7);  // bits of the last byte in use; 0 if all
    if (used != 0) data[bytes - 1] &= static_cast<std::uint8_t>((1u << used) - 1);
    // The stored block's header is three zero bits: in the unused bits of the
    // last byte when there are three, in a byte of its own otherwise.
    if (used == 0 || used > 5) data[bytes++] = 0;
    static const std::uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(data + bytes, kEmptyStored, 4);
    *size = bytes + 4;
    return true;
}

std::uint32_t CombineAdler32(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    constexpr std::uint32_t kBase = 65521;
    const auto remainder = static_cast<std::uint32_t>(secondLength % kBase);
    std::uint32_t sum1 = first & 0xFFFF;
    std::uint32_t sum2 = static_cast<std::uint32_t>((std::uint64_t{remainder} * sum1) % kBase);
    sum1 += (second & 0xFFFF) + kBase - 1;
    sum2 += (first >> 16) + (second >> 16) + kBase - remainder;
    sum1 %= kBase;
    sum2 %= kBase;
    return sum1 | sum2 << 16;
}

}  // namespace deflate_join
