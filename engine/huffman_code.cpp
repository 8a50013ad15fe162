// The RQ6 bit stream
// ------------------
// After the 4-byte magic and a 4-byte little-endian value that nothing
// interprets, the file is one bit stream read most significant bit first.
// It opens with the code tree in pre-order: a 0 bit is a leaf followed by its
// 8-bit byte value; a 1 bit is an internal node followed by its first child
// (reached by a 0 bit when decoding) and then its second child (a 1 bit).
// The first payload code starts at the very next bit; codes are not aligned
// and nothing marks the end of the payload: the reader asks for as many bytes
// as it needs. A tree that is a single leaf decodes every byte to that value
// without consuming bits. At most 255 internal nodes are allowed, which also
// bounds the recursion that reads the tree and the length of any code.
//
// Decoding looks the next 12 bits up in a table built once from the tree:
// most codes of real pictures are short, so one look-up usually yields one or
// two whole bytes; longer codes continue bit by bit from the node reached.
#include "engine/huffman_code.h"

#include <cstring>
#include <new>

namespace {

// Layout of a table entry.
constexpr std::uint32_t kEntryFirstShift = 0;    // first byte, or the node
constexpr std::uint32_t kEntrySecondShift = 8;   // second byte
constexpr std::uint32_t kEntryFirstLength = 16;  // bits of the first code (4 bits)
constexpr std::uint32_t kEntryTotalLength = 20;  // bits of both codes (4 bits)
constexpr std::uint32_t kEntryCountShift = 24;   // whole codes: 0, 1 or 2

std::uint32_t Field(std::uint32_t entry, std::uint32_t shift, std::uint32_t mask) {
    return (entry >> shift) & mask;
}

}  // namespace

HuffmanCode::HuffmanCode(const char* path, std::uint32_t expectedMagic) {
    file = platform::OpenRead(path);
    if (file == platform::kInvalidFile) return;

    std::uint8_t head[8];
    std::uint32_t got = 0;
    if (!platform::Read(file, head, 4, &got) || got != 4) {
        error = 1;
        return;
    }
    magic = static_cast<std::uint32_t>(head[0]) | static_cast<std::uint32_t>(head[1]) << 8 |
            static_cast<std::uint32_t>(head[2]) << 16 | static_cast<std::uint32_t>(head[3]) << 24;
    if (magic != expectedMagic) {
        error = 1;
        return;
    }
    // A file that ends here has no tree either.
    if (!platform::Read(file, head + 4, 4, &got) || got != 4) {
        error = 1;
        return;
    }
    extra = static_cast<std::uint32_t>(head[4]) | static_cast<std::uint32_t>(head[5]) << 8 |
            static_cast<std::uint32_t>(head[6]) << 16 | static_cast<std::uint32_t>(head[7]) << 24;

    try {
        bits = std::make_unique<BitI>(file);
    } catch (...) {
        error = 1;
        return;
    }
    nextNode = kFirstInternal;
    root = ReadNode();
    if (bits->failed()) error = 1;
    if (!error) BuildTable();
}

HuffmanCode::~HuffmanCode() {
    bits.reset();
    if (file != platform::kInvalidFile) platform::Close(file);
}

std::int32_t HuffmanCode::ReadNode() {
    if (error) return -1;
    const unsigned isInternal = bits->ReadBit();
    if (!isInternal) {
        const auto leaf = static_cast<std::int32_t>(bits->ReadBits(8));
        // Running out of file inside the tree ends it at once instead of
        // growing it from zero bits.
        if (bits->failed()) {
            error = 1;
            return -1;
        }
        return leaf;
    }
    if (bits->failed()) {
        error = 1;
        return -1;
    }
    const std::int32_t n = nextNode++;
    if (n >= kNodeCount) {
        error = 1;
        return -1;
    }
    first[n] = ReadNode();
    second[n] = ReadNode();
    return n;
}

void HuffmanCode::BuildTable() {
    if (root < kFirstInternal) return;  // a single leaf needs no table
    for (std::uint32_t pattern = 0; pattern < (1u << kTableBits); ++pattern) {
        int used = 0;
        std::int32_t node = root;
        std::uint32_t entry = 0;
        std::uint32_t codes = 0;
        while (used < kTableBits) {
            const unsigned bit = (pattern >> (kTableBits - 1 - used)) & 1u;
            node = bit ? second[node] : first[node];
            ++used;
            if (node >= kFirstInternal) continue;
            if (codes == 0) {
                entry |= static_cast<std::uint32_t>(node) << kEntryFirstShift;
                entry |= static_cast<std::uint32_t>(used) << kEntryFirstLength;
            } else {
                entry |= static_cast<std::uint32_t>(node) << kEntrySecondShift;
            }
            entry = (entry & ~(0xFu << kEntryTotalLength)) |
                    static_cast<std::uint32_t>(used) << kEntryTotalLength;
            if (++codes == 2) break;
            node = root;
        }
        if (codes == 0) entry = static_cast<std::uint32_t>(node) << kEntryFirstShift;
        table[pattern] = entry | codes << kEntryCountShift;
    }
}

std::uint8_t HuffmanCode::WalkFrom(std::int32_t node) {
    while (node >= kFirstInternal) node = bits->ReadBit() ? second[node] : first[node];
    return static_cast<std::uint8_t>(node);
}

void HuffmanCode::Decode(std::uint8_t* out, std::uint32_t count) {
    if (error) return;
    if (root < kFirstInternal) {
        std::memset(out, root, count);
        return;
    }
    BitI& in = *bits;
    std::uint8_t* const end = out + count;
    while (out != end) {
        in.Refill();
        // Four look-ups of at most 12 bits each fit in one refill.
        for (int k = 0; k < 4 && out != end; ++k) {
            const std::uint32_t entry = table[in.Peek(kTableBits)];
            const std::uint32_t codes = entry >> kEntryCountShift;
            if (codes == 2 && end - out >= 2) {
                out[0] = static_cast<std::uint8_t>(entry);
                out[1] = static_cast<std::uint8_t>(entry >> kEntrySecondShift);
                out += 2;
                in.Consume(static_cast<int>(Field(entry, kEntryTotalLength, 0xF)));
            } else if (codes != 0) {
                *out++ = static_cast<std::uint8_t>(entry);
                in.Consume(static_cast<int>(Field(entry, kEntryFirstLength, 0xF)));
            } else {
                in.Consume(kTableBits);
                *out++ = WalkFrom(static_cast<std::int32_t>(Field(entry, kEntryFirstShift, 0x1FF)));
                break;
            }
        }
        // Past the end of the file only zero bits remain; stop at once.
        if (in.failed()) {
            error = 1;
            return;
        }
    }
}

void HuffmanCode::DecodeByWalking(std::uint8_t* out, std::uint32_t count) {
    if (error) return;
    for (std::uint32_t i = 0; i < count; ++i) {
        out[i] = WalkFrom(root);
        if (bits->failed()) {
            error = 1;
            return;
        }
    }
}
