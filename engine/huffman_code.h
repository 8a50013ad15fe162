// Reader of an RQ6 container: magic, a 32-bit value, and one static Huffman
// code tree followed by the codes of the payload bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/bit_input.h"
#include "engine/byte_source.h"
#include "engine/rq6_layout.h"
#include "platform/file_io.h"

class HuffmanCode {
public:
    // Bits resolved by one look-up of the decoding tables.
    static constexpr int kTableBits = 14;

    // Opens the file itself; `file` stays invalid when it cannot.
    HuffmanCode(const char* path, std::uint32_t expectedMagic);
    // Reads from `source` (borrowed; it must outlive the decoder), from where
    // it stands.
    HuffmanCode(ByteSource& source, std::uint32_t expectedMagic);
    ~HuffmanCode();
    HuffmanCode(const HuffmanCode&) = delete;
    HuffmanCode& operator=(const HuffmanCode&) = delete;

    // Writes `count` decoded bytes to `out`. Does nothing once `error` is set;
    // sets it when the file ends (or a read fails) before the bytes are complete.
    void Decode(std::uint8_t* out, std::uint32_t count);

    // Internal nodes read so far (the whole tree once construction succeeded).
    int InternalNodeCount() const { return nextNode - rq6::kFirstInternalNode; }

    // Whether the input could be opened at all (a source always is).
    bool Opened() const { return source != nullptr; }
    // What is read: the file opened by path, or the caller's source.
    ByteSource* Source() const { return source; }
    // After `error`: whether a read of the input failed, rather than the
    // input ending or holding no picture.
    bool ReadFailed() const { return containerReadFailed || (bits && bits->readFailed()); }
    // The system's code behind a failed open or read, 0 if none.
    int SystemError() const;

    // The file opened by path; invalid for a source, or when the open failed.
    platform::FileHandle file = platform::kInvalidFile;
    std::uint32_t error = 0;
    std::unique_ptr<BitI> bits;
    std::uint32_t magic = 0;
    // The children of each internal node, indexed by its number (only
    // kFirstInternalNode and above are used).
    std::int32_t first[rq6::kNodeCount] = {};
    std::int32_t second[rq6::kNodeCount] = {};
    std::int32_t nextNode = rq6::kFirstInternalNode;
    std::uint32_t extra = 0;
    std::int32_t root = -1;

private:
    void ReadContainer(std::uint32_t expectedMagic);
    std::int32_t ReadNode();
    void BuildTable();
    void FillFirstCodes(std::int32_t node, std::uint32_t prefix, int depth);
    std::uint8_t WalkFrom(std::int32_t node);

    // For every value of the next kTableBits bits, two tables: the bytes of
    // up to three whole codes that fit in those bits and how many (or, when
    // not even one fits, the node the tree walk reaches after them), and the
    // bits those codes take. Only the bits taken are on the path from one
    // look-up to the next, so they have a table of single bytes to
    // themselves, small enough to stay in the fastest cache, and it comes
    // first, where a look-up needs no offset added to its index.
    struct Tables {
        std::uint8_t lengths[1 << kTableBits];
        std::uint32_t entries[1 << kTableBits];
    };
    std::unique_ptr<Tables> tables;
    // The file opened by path, when there is one, and what is read.
    std::unique_ptr<FileSource> ownedFile;
    ByteSource* source = nullptr;
    bool containerReadFailed = false;
};
