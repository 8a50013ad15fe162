// Whole RQ6 files in memory for the tests, built from the writer's pieces:
// payloads with any header fields, coded with an optimal tree or with a
// hand-made one (a chain deeper than a reader allows, repeated leaves).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/rq6_writer.h"

namespace rq6 {

// A degenerate tree with `internalNodes` internal nodes (at least 1): node k
// has the leaf (k mod 256) as its first child and the next node as its second
// child; the last node's second child is the leaf (internalNodes mod 256).
// The deepest codes are `internalNodes` bits long; beyond 255 nodes leaf values
// repeat and the tree is one a reader must refuse.
CodeTree ChainTree(int internalNodes);

// Total bits the payload costs under the tree (tree bits excluded). Throws
// std::invalid_argument when the tree has no leaf for a payload byte.
std::uint64_t PayloadBitCount(const std::vector<std::uint8_t>& payload, const CodeTree& tree);

// The decoded payload of a picture. `bgrRowsBottomFirst` holds 3 x width
// samples (blue, green, red) per row for `height` rows, the bottom row first;
// exactly those rows are stored whatever the header fields claim.
std::vector<std::uint8_t> BuildPayload(std::uint32_t width, std::uint32_t height,
                                       const std::vector<std::uint16_t>& bgrRowsBottomFirst,
                                       const std::string& comment,
                                       const PayloadFields& fields = {});

// A complete file coded with an optimal tree for the payload: the bytes the
// streaming writer writes for the same picture, with `extra` after the magic.
std::vector<std::uint8_t> EncodeRq6(const std::vector<std::uint8_t>& payload,
                                    std::uint32_t extra = 0);

// A complete file coded with the caller's tree. Where a value has several
// leaves the shortest code is used. An empty payload gives a file holding the
// tree only. Throws std::invalid_argument when a payload byte has no leaf.
std::vector<std::uint8_t> EncodeRq6WithTree(const std::vector<std::uint8_t>& payload,
                                            const CodeTree& tree, std::uint32_t extra = 0);

// Writes bytes to a new file through the platform layer; false on failure
// (a partly written file is removed).
bool WriteBytes(const char* utf8Path, const std::vector<std::uint8_t>& bytes);

}  // namespace rq6
