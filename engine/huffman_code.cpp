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

// Layout of a table entry: the bits taken by up to two whole codes (low
// bits, so that the shift that consumes them needs no masking), their two
// bytes, and how many bytes they yield. A count of 0 means the next code is
// longer than the table, and the byte fields then hold the node reached. Both
// bytes are always stored and the count says how many to keep, so the common
// path has no branch on it.
constexpr std::uint32_t kEntryLengthMask = 0x3F;
constexpr std::uint32_t kEntryBytesShift = 8;   // first byte, then second byte
constexpr std::uint32_t kEntryCountShift = 24;  // 0, 1 or 2
constexpr std::uint32_t kEntryNodeMask = 0x1FF;

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
        std::uint32_t bytes = 0, codes = 0, length = 0;
        std::int32_t node = root;
        for (std::uint32_t used = 1; used <= kTableBits && codes < 2; ++used) {
            const unsigned bit = (pattern >> (kTableBits - used)) & 1u;
            node = bit ? second[node] : first[node];
            if (node >= kFirstInternal) continue;
            bytes |= static_cast<std::uint32_t>(node) << (8 * codes++);
            length = used;
            node = root;
        }
        table[pattern] = codes == 0 ? static_cast<std::uint32_t>(node) << kEntryBytesShift
                                    : length | bytes << kEntryBytesShift | codes << kEntryCountShift;
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
    std::uint64_t window = in.Window();
    int available = in.Available();
    // While eight bytes of room remain, four look-ups (at most 48 bits, within
    // one refill) may each write two bytes.
    while (end - out >= 8) {
        in.Refill(window, available);
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t entry = table[window >> (64 - kTableBits)];
            const std::uint32_t codes = entry >> kEntryCountShift;
            if (codes == 0) {
                // A long code: finish it bit by bit from the node reached.
                in.SetWindow(window << kTableBits, available - kTableBits);
                *out++ = WalkFrom(static_cast<std::int32_t>((entry >> kEntryBytesShift) & kEntryNodeMask));
                window = in.Window();
                available = in.Available();
                break;
            }
            out[0] = static_cast<std::uint8_t>(entry >> kEntryBytesShift);
            out[1] = static_cast<std::uint8_t>(entry >> (kEntryBytesShift + 8));
            out += codes;
            const int length = static_cast<int>(entry & kEntryLengthMask);
            window <<= length;
            available -= length;
        }
        // Past the end of the file only zero bits remain; stop at once.
        if (available < 0 || in.failed()) {
            in.SetWindow(window, available);
            error = 1;
            return;
        }
    }
    in.SetWindow(window, available);
    // The last few bytes one code at a time.
    while (out != end) {
        *out++ = WalkFrom(root);
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
