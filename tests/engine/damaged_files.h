// The damaged and hostile files of the engine's damaged-file suite, each with
// the status a whole conversion must end with. The plug-ins' suites take the
// same files: whatever loads a picture must refuse them too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/rq6_writer.h"
#include "tests/engine/test_support.h"

namespace test {

using Bytes = std::vector<std::uint8_t>;

// 5 x 3: an odd width, so every stored row ends in two fill bytes.
const Picture& SmallPicture();
// It as an RQ6 file with these header fields.
Bytes SmallFile(const rq6::PayloadFields& fields = {}, const std::string& comment = "damaged");
// It coded with a tree of `internalNodes` internal nodes in a chain (codes
// up to that many bits long).
Bytes ChainCoded(int internalNodes);

struct DamagedFile {
    const char* name;
    std::function<Bytes()> make;
    std::uint32_t status;  // how a whole conversion at 5 x 3 ends
    bool failsInBegin;     // or else Begin succeeds and a row fails
};

const std::vector<DamagedFile>& DamagedFiles();

}  // namespace test
