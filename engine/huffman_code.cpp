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
#include "engine/huffman_code.h"

#include <new>

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
    // A file that ends here has no tree; the tree read below fails on it.
    if (platform::Read(file, head + 4, 4, &got) && got == 4) {
        extra = static_cast<std::uint32_t>(head[4]) | static_cast<std::uint32_t>(head[5]) << 8 |
                static_cast<std::uint32_t>(head[6]) << 16 |
                static_cast<std::uint32_t>(head[7]) << 24;
    } else {
        error = 1;
        return;
    }

    try {
        bits = std::make_unique<BitI>(file);
    } catch (...) {
        error = 1;
        return;
    }
    nextNode = kFirstInternal;
    root = ReadNode();
    if (bits->failed()) error = 1;
}

HuffmanCode::~HuffmanCode() {
    bits.reset();
    if (file != platform::kInvalidFile) platform::Close(file);
}


std::int32_t HuffmanCode::ReadNode() {
    if (error) return -1;
    if (bits->ReadBit() == 0) {
        const auto leaf = static_cast<std::int32_t>(bits->ReadBits(8));
        // Running out of file inside the tree ends the tree at once instead of
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

void HuffmanCode::Decode(std::uint8_t* out, std::uint32_t count) {
    if (error) return;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t k = root;
        while (k >= kFirstInternal) k = bits->ReadBit() ? second[k] : first[k];
        out[i] = static_cast<std::uint8_t>(k);
        // Past the end of the file only zero bits remain; the rest of the
        // call would decode nothing real, so it stops there.
        if (bits->failed()) {
            error = 1;
            return;
        }
    }
}
