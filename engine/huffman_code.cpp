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
// Decoding keeps the next bits in a 64-bit window, refilled a word at a
// time, and looks the next 14 bits up in two tables built once from the tree
// (16 K entries each, 80 KB in all). One look-up yields every whole code that
// fits in those bits, up to three: in a photograph mostly the low byte of a
// delta (about 9 bits) with its high byte (2 or 3 bits, nearly always 0x00 or
// 0xFF), in flat pictures three bytes at a time. Four look-ups follow each
// refill. The rare code longer than 14 bits continues bit by bit from the
// node reached. Each look-up waits for the one before, which tells where its
// bits start, so that chain sets the speed: a shift, a load from the
// first-level cache and the shift that consumes the bits.
#include "engine/huffman_code.h"

#include <cstring>
#include <new>

namespace {

// An entry: the bytes of up to three whole codes that fit in the table's
// bits, the first in the lowest byte, and how many codes in the top byte. A
// count of 0 means the next code is longer than the table, and the entry is
// then the node reached. The bits the codes take are in a table of their own.
constexpr std::uint32_t kEntryCountShift = 24;
constexpr std::uint32_t kMaxCodesPerEntry = 3;
// (Building the tables shifts a pattern by up to its own width in 32 bits.)
static_assert(HuffmanCode::kTableBits <= 16, "patterns of at most 16 bits");

// Look-ups between two refills: each takes at most kTableBits bits.
constexpr int kLookupsPerRefill = BitI::kRefillBits / HuffmanCode::kTableBits;
// Room a group of look-ups may write to: every look-up stores a whole word of
// bytes and then keeps as many as it decoded, so the common path has no
// branch on the count.
constexpr std::ptrdiff_t kGroupRoom = kMaxCodesPerEntry * (kLookupsPerRefill - 1) + 4;

// The container's two words are little-endian whatever the host's byte order.
std::uint32_t LoadLittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreEntry(std::uint8_t* out, std::uint32_t bytes) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, &bytes, sizeof bytes);
#else
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(bytes >> (8 * i));
#endif
}

}  // namespace

// The tables are allocated first: if memory runs out, std::bad_alloc leaves
// the constructor before there is a file to close, and the callers report it
// as out of memory.
HuffmanCode::HuffmanCode(const char* path, std::uint32_t expectedMagic) : tables(new Tables) {
    ownedFile = std::make_unique<FileSource>(path);
    if (!ownedFile->IsOpen()) return;
    file = ownedFile->Handle();
    source = ownedFile.get();
    ReadContainer(expectedMagic);
}

HuffmanCode::HuffmanCode(ByteSource& in, std::uint32_t expectedMagic)
    : tables(new Tables), source(&in) {
    ReadContainer(expectedMagic);
}

int HuffmanCode::SystemError() const {
    if (source) return source->systemError;
    return ownedFile ? ownedFile->systemError : 0;
}

void HuffmanCode::ReadContainer(std::uint32_t expectedMagic) {
    std::uint8_t head[rq6::kStreamOffset];
    std::uint32_t got = 0;
    if (!ReadFully(*source, head, rq6::kMagicSize, &got)) containerReadFailed = true;
    if (containerReadFailed || got != rq6::kMagicSize) {
        error = 1;
        return;
    }
    magic = LoadLittleEndian32(head);
    if (magic != expectedMagic) {
        error = 1;
        return;
    }
    // A file that ends here has no tree either.
    std::uint8_t* const extraBytes = head + rq6::kMagicSize;
    if (!ReadFully(*source, extraBytes, rq6::kExtraSize, &got)) containerReadFailed = true;
    if (containerReadFailed || got != rq6::kExtraSize) {
        error = 1;
        return;
    }
    extra = LoadLittleEndian32(extraBytes);

    try {
        bits = std::make_unique<BitI>(*source);
    } catch (...) {
        error = 1;
        return;
    }
    nextNode = rq6::kFirstInternalNode;
    root = ReadNode();
    if (bits->failed()) error = 1;
    if (!error) BuildTable();
}

HuffmanCode::~HuffmanCode() {
    bits.reset();
    ownedFile.reset();  // closes the file opened by path
}

std::int32_t HuffmanCode::ReadNode() {
    if (error) return -1;
    const unsigned isInternal = bits->ReadBit();
    if (!isInternal) {
        const auto leaf = static_cast<std::int32_t>(bits->ReadBits(rq6::kLeafValueBits));
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
    if (n >= rq6::kNodeCount) {
        error = 1;
        return -1;
    }
    first[n] = ReadNode();
    second[n] = ReadNode();
    return n;
}

// Fills in, for every pattern of kTableBits bits, its first code alone: a
// code of `depth` bits is the first of every pattern that starts with
// `prefix`; a walk that reaches the table's depth on an internal node is a
// long code, recorded with that node.
void HuffmanCode::FillFirstCodes(std::int32_t node, std::uint32_t prefix, int depth) {
    if (node < rq6::kFirstInternalNode || depth == kTableBits) {
        const bool leaf = node < rq6::kFirstInternalNode;
        const std::uint32_t entry = static_cast<std::uint32_t>(node) | (leaf ? 1u << kEntryCountShift : 0);
        const std::uint32_t from = prefix << (kTableBits - depth);
        const std::uint32_t to = from + (1u << (kTableBits - depth));
        for (std::uint32_t pattern = from; pattern < to; ++pattern) {
            tables->lengths[pattern] = static_cast<std::uint8_t>(depth);
            tables->entries[pattern] = entry;
        }
        return;
    }
    FillFirstCodes(first[node], prefix << 1, depth + 1);
    FillFirstCodes(second[node], prefix << 1 | 1u, depth + 1);
}

void HuffmanCode::BuildTable() {
    if (root < rq6::kFirstInternalNode) return;  // a single leaf needs no table
    std::uint8_t* const lengths = tables->lengths;
    std::uint32_t* const entries = tables->entries;
    FillFirstCodes(root, 0, 0);
    // Then the codes that follow the first, while they fit. The bits after a
    // code of n bits, shifted up and padded with zeros, are another pattern;
    // its first code is a whole code of at most kTableBits - n bits exactly
    // when the real bits start with that code, since the walk sees the same
    // bits until then. Those first codes must stay readable while entries
    // grow, so until the last pass below an entry's top byte keeps the first
    // code's length and the count waits above the 6 bits of the length.
    constexpr std::uint32_t kPatternMask = (1u << kTableBits) - 1;
    constexpr std::uint32_t kBytesMask = (1u << kEntryCountShift) - 1;
    constexpr std::uint32_t kWaitingCountShift = 6;
    for (std::uint32_t pattern = 0; pattern <= kPatternMask; ++pattern) {
        if (entries[pattern] >> kEntryCountShift == 0) continue;  // a long code
        entries[pattern] = (entries[pattern] & kBytesMask) | std::uint32_t{lengths[pattern]} << kEntryCountShift;
    }
    for (std::uint32_t pattern = 0; pattern <= kPatternMask; ++pattern) {
        const std::uint32_t entry = entries[pattern];
        std::uint32_t used = entry >> kEntryCountShift;
        if (used == 0) continue;
        std::uint32_t bytes = entry & 0xFF, codes = 1;
        while (codes < kMaxCodesPerEntry) {
            const std::uint32_t next = entries[(pattern << used) & kPatternMask];
            const std::uint32_t length = next >> kEntryCountShift;
            if (length == 0 || used + length > kTableBits) break;
            bytes |= (next & 0xFF) << (8 * codes++);
            used += length;
        }
        entries[pattern] = bytes | (entry & ~kBytesMask);
        lengths[pattern] = static_cast<std::uint8_t>(used | codes << kWaitingCountShift);
    }
    for (std::uint32_t pattern = 0; pattern <= kPatternMask; ++pattern) {
        const std::uint32_t codes = lengths[pattern] >> kWaitingCountShift;
        if (codes == 0) continue;  // a long code: the node and the table's width
        entries[pattern] = (entries[pattern] & kBytesMask) | codes << kEntryCountShift;
        lengths[pattern] &= (1u << kWaitingCountShift) - 1;
    }
}

std::uint8_t HuffmanCode::WalkFrom(std::int32_t node) {
    while (node >= rq6::kFirstInternalNode) node = bits->ReadBit() ? second[node] : first[node];
    return static_cast<std::uint8_t>(node);
}

void HuffmanCode::Decode(std::uint8_t* out, std::uint32_t count) {
    if (error) return;
    if (root < rq6::kFirstInternalNode) {
        std::memset(out, root, count);
        return;
    }
    BitI& in = *bits;
    const std::uint8_t* const lengths = tables->lengths;
    const std::uint32_t* const entries = tables->entries;
    std::uint8_t* const end = out + count;
    BitI::Cursor c = in.Take();
    while (end - out >= kGroupRoom) {
        if (BitI::CanRefillWord(c)) {
            BitI::RefillWord(c);
        } else {
            in.Give(c);
            in.Refill();
            c = in.Take();
        }
        for (int k = 0; k < kLookupsPerRefill; ++k) {
            const auto pattern = static_cast<std::size_t>(c.window >> (64 - kTableBits));
            const std::uint32_t length = lengths[pattern];
            const std::uint32_t entry = entries[pattern];
            const std::uint32_t codes = entry >> kEntryCountShift;
            if (codes == 0) {
                // A long code: finish it bit by bit from the node reached.
                c.window <<= kTableBits;
                c.available -= kTableBits;
                in.Give(c);
                *out++ = WalkFrom(static_cast<std::int32_t>(entry));
                c = in.Take();
                break;
            }
            // The count lands in the fourth byte, which a later store or the
            // room left covers.
            StoreEntry(out, entry);
            out += codes;
            c.window <<= length;
            c.available -= static_cast<int>(length);
        }
        // Past the end of the file only zero bits remain; stop at once.
        if (c.available < 0) {
            in.Give(c);
            error = 1;
            return;
        }
    }
    in.Give(c);
    // The last few bytes one code at a time.
    while (out != end) {
        *out++ = WalkFrom(root);
        if (in.failed()) {
            error = 1;
            return;
        }
    }
}
