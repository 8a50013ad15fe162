// Fuzz target over the RQ6 reader: the input is a whole RQ6 file. The reader
// must agree with the plain reading on the tree and on every byte it decodes,
// fail exactly when the file runs out, and leave buffers alone afterwards.
// How the payload is requested (the sizes of the Decode calls) is taken from
// the file's extra word, which nothing else interprets, so the fuzzer varies
// block boundaries without changing the picture.
#include <algorithm>
#include <cstring>

#include "engine/huffman_code.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/plain_rq6.h"

namespace {

// Request sizes, picked per call by one hex digit of the extra word: single
// bytes, the header sizes, and longer runs of up to 9000 bytes.
constexpr std::uint32_t kRequestSizes[16] = {1,  2,   3,   7,    14,   40,   54,   0,
                                             64, 255, 256, 1000, 4095, 4096, 4097, 9000};

// Beyond eight payload bytes per file byte a tree with two or more leaves has
// run out of bits; only a one-leaf tree could go on, so this bounds its work.
constexpr std::size_t kSlack = 8192;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::ScratchDir() + "/reader.rq6";
    fuzz::WriteFile(path, data, size);

    fuzz::PlainRq6 plain(data, size);
    HuffmanCode reader(path.c_str(), rq6::kMagic);
    FUZZ_CHECK(reader.file != platform::kInvalidFile);
    FUZZ_CHECK(reader.error == (plain.TreeOk() ? 0u : 1u));
    if (!plain.TreeOk()) {
        // An unusable reader writes nothing, whatever it is asked for.
        std::uint8_t probe[64];
        std::memset(probe, 0xA5, sizeof probe);
        reader.Decode(probe, sizeof probe);
        FUZZ_CHECK(std::all_of(probe, probe + sizeof probe, [](std::uint8_t b) { return b == 0xA5; }));
        FUZZ_CHECK(reader.error == 1);
        return 0;
    }
    FUZZ_CHECK(reader.InternalNodeCount() == plain.InternalNodes());
    FUZZ_CHECK(reader.extra == plain.Extra());

    const std::size_t limit = 8 * size + kSlack;
    std::vector<std::uint8_t> expected, got;
    std::size_t decoded = 0;
    for (unsigned call = 0; decoded < limit; ++call) {
        const std::uint32_t count = kRequestSizes[(plain.Extra() >> (4 * (call % 8))) & 15];
        expected.clear();
        const std::size_t available = plain.Take(count, &expected);
        got.assign(count + 1, 0xA5);  // one guard byte past the request
        reader.Decode(got.data(), count);
        FUZZ_CHECK(got[count] == 0xA5);
        // Every byte up to the one that ran out of file matches the plain reading.
        FUZZ_CHECK(std::equal(expected.begin(), expected.end(), got.begin()));
        if (available < count) {
            FUZZ_CHECK(reader.error == 1);
            // The failure sticks and later requests leave their buffers untouched.
            got.assign(count + 1, 0x5A);
            reader.Decode(got.data(), count);
            FUZZ_CHECK(std::all_of(got.begin(), got.end(), [](std::uint8_t b) { return b == 0x5A; }));
            FUZZ_CHECK(reader.error == 1);
            return 0;
        }
        FUZZ_CHECK(reader.error == 0);
        decoded += count;
        // Requests of nothing only, forever: nothing more to learn.
        if (plain.Extra() == 0x77777777u) return 0;
    }
    // Only a one-leaf tree decodes this far: it never needs a bit.
    FUZZ_CHECK(plain.InternalNodes() == 0);
    return 0;
}
