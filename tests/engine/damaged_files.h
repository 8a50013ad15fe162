// Damaged and hostile RQ6 files, each named, with the status a conversion
// of it ends with: the damaged-file suite's table, which every reader of
// RQ6 files (the conversion job, the plug-ins) is held to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/engine/test_support.h"

namespace test {

using Bytes = std::vector<std::uint8_t>;

// 5 x 3: an odd width, so every stored row ends in two fill bytes.
const Picture& SmallPicture();
std::vector<std::uint8_t> SmallFile(const rq6::PayloadFields& fields = {},
                                    const std::string& comment = "damaged");
// The small picture coded with a chain of `internalNodes` internal nodes.
std::vector<std::uint8_t> ChainCoded(int internalNodes);

struct DamagedFile {
    const char* name;
    std::function<std::vector<std::uint8_t>()> make;
    std::uint32_t status;  // how a conversion ends
    bool failsInBegin;     // or else the headers read and a row fails
};
const std::vector<DamagedFile>& DamagedFiles();

// The small picture with a comment, to be cut at every byte; where each cut
// falls is worked out from the code (Classify).
const StreamLayout& CutLayout();

}  // namespace test
