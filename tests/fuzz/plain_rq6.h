// A second, deliberately plain reading of an RQ6 file held in memory, used as
// the fuzz targets' oracle: the code tree as nested calls over a bit index,
// every payload byte decoded by walking the tree, and the exact bit at which
// the file runs out. It shares no code with the engine's reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

class PlainRq6 {
public:
    // Reads the magic, the extra word and the tree.
    PlainRq6(const std::uint8_t* data, std::size_t size);

    // False when the magic is not "RQ61", the file ends before the tree does or
    // the tree has more than 255 internal nodes.
    bool TreeOk() const { return treeOk_; }
    int InternalNodes() const { return static_cast<int>(first_.size()); }
    std::uint32_t Extra() const { return extra_; }

    // Decodes the next payload byte; false (and nothing more, ever) once its
    // code needs a bit beyond the end of the file.
    bool Next(std::uint8_t* byte);

    // Decodes up to `count` bytes onto `out`; returns how many it got.
    std::size_t Take(std::size_t count, std::vector<std::uint8_t>* out);

private:
    int ReadTree();
    bool Bit(unsigned* bit);

    const std::uint8_t* data_;
    std::uint64_t bitCount_;
    std::uint64_t at_ = 0;  // bit index from the start of the file
    bool treeOk_ = false;
    bool ended_ = false;
    std::uint32_t extra_ = 0;
    int root_ = -1;
    std::vector<int> first_, second_;  // children of internal node 256 + k
};

}  // namespace fuzz
