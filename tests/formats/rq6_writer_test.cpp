// The writer is checked against the engine's reader and against expectations
// computed here independently: bit strings written out by hand, Huffman costs
// worked out on paper, and a payload parser that undoes the row coding.
#include "formats/rq6_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/huffman_code.h"
#include "tests/formats/rq6_test_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// "1010 0000" style strings to bytes, MSB first, zero padded.
Bytes FromBitString(const std::string& bits) {
    Bytes out;
    int n = 0;
    for (const char c : bits) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<std::uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

std::uint32_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8;
}

std::uint32_t Le32(const Bytes& b, std::size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

// Writes `file` and decodes `count` payload bytes with the engine's reader.
struct Decoded {
    std::uint32_t error = 0;
    std::uint32_t extra = 0;
    int internalNodes = 0;
    Bytes payload;
};

Decoded WriteAndDecode(const std::string& path, const Bytes& file, std::size_t count) {
    EXPECT_TRUE(rq6::WriteBytes(path.c_str(), file));
    Decoded d;
    HuffmanCode reader(path.c_str(), rq6::kMagic);
    EXPECT_NE(reader.file, platform::kInvalidFile);
    d.error = reader.error;
    d.extra = reader.extra;
    d.internalNodes = reader.InternalNodeCount();
    d.payload.resize(count);
    if (count > 0) reader.Decode(d.payload.data(), static_cast<std::uint32_t>(count));
    if (reader.error != 0) d.error = reader.error;
    return d;
}

// Headers, comment and samples recovered from a payload by undoing the row coding.
struct Picture {
    std::uint32_t bfType, bfSize, bfReserved1, bfReserved2, bfOffBits;
    std::uint32_t biSize, biWidth, biHeight, biPlanes, biBitCount, biCompression;
    std::uint32_t biSizeImage, biXPelsPerMeter, biYPelsPerMeter, biClrUsed, biClrImportant;
    std::string comment;
    std::vector<std::uint16_t> samples;  // bottom row first
    bool fillIsZero = true;
};

// With `withRows` false only the headers and comment are read (for headers
// that describe no real rows).
Picture Parse(const Bytes& p, bool withRows = true) {
    Picture pic;
    pic.bfType = Le16(p, 0);
    pic.bfSize = Le32(p, 2);
    pic.bfReserved1 = Le16(p, 6);
    pic.bfReserved2 = Le16(p, 8);
    pic.bfOffBits = Le32(p, 10);
    pic.biSize = Le32(p, 14);
    pic.biWidth = Le32(p, 18);
    pic.biHeight = Le32(p, 22);
    pic.biPlanes = Le16(p, 26);
    pic.biBitCount = Le16(p, 28);
    pic.biCompression = Le32(p, 30);
    pic.biSizeImage = Le32(p, 34);
    pic.biXPelsPerMeter = Le32(p, 38);
    pic.biYPelsPerMeter = Le32(p, 42);
    pic.biClrUsed = Le32(p, 46);
    pic.biClrImportant = Le32(p, 50);
    pic.comment.assign(p.begin() + 54, p.begin() + pic.bfOffBits);
    if (!withRows) return pic;

    const std::size_t n = 3 * std::size_t{pic.biWidth};
    const std::size_t stride = (2 * n + 3) / 4 * 4;
    for (std::uint32_t y = 0; y < pic.biHeight; ++y) {
        const std::size_t row = pic.bfOffBits + stride * y;
        for (std::size_t i = 0; i < n; ++i) {
            const auto d = static_cast<std::uint16_t>(Le16(p, row + 2 * i));
            std::uint16_t base = 0;
            if (y > 0) {
                base = pic.samples[pic.samples.size() - n];
            } else if (i >= 3) {
                base = pic.samples[pic.samples.size() - 3];
            }
            pic.samples.push_back(static_cast<std::uint16_t>(base + d));
        }
        for (std::size_t f = 2 * n; f < stride; ++f) pic.fillIsZero &= p.at(row + f) == 0;
    }
    return pic;
}

std::vector<std::uint16_t> RandomSamples(std::size_t count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint16_t> s(count);
    for (auto& v : s) v = static_cast<std::uint16_t>(rng());
    return s;
}

// Payload bytes with the given number of copies of each value, interleaved so
// that no value comes in one run.
Bytes PayloadFromCounts(const std::vector<std::pair<std::uint8_t, int>>& counts) {
    Bytes out;
    bool more = true;
    for (int round = 0; more; ++round) {
        more = false;
        for (const auto& [value, count] : counts) {
            if (round < count) {
                out.push_back(value);
                more = true;
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------

TEST(BitWriterTest, WritesMostSignificantBitFirstAndPadsWithZeros) {
    rq6::BitWriter w;
    w.Put(0b101, 3);
    w.Put(0xFFFF, 0);  // nothing
    w.Put(0xABCD, 16);
    w.PutBit(1);
    w.Put(0x8000000000000001ull, 64);
    w.Put(0x1FFFFFFFFull, 33);
    w.Put(0xF0, 4);  // only the low four bits (zeros) count
    EXPECT_EQ(w.BitCount(), 3u + 16 + 1 + 64 + 33 + 4);
    const std::string expected =
        "101"
        "1010101111001101"
        "1"
        "1" +
        std::string(62, '0') + "1" + std::string(33, '1') + "0000";
    EXPECT_EQ(w.Bytes(), FromBitString(expected));
}

TEST(BitWriterTest, DrainingKeepsTheUnfinishedByte) {
    rq6::BitWriter w;
    w.Put(0x1FF, 9);
    Bytes drained;
    w.TakeCompleteBytes(&drained);
    EXPECT_EQ(drained, Bytes{0xFF});
    EXPECT_EQ(w.BufferedBytes(), 0u);
    w.Put(0, 7);
    w.Put(0x3, 2);
    Bytes rest = w.Bytes();
    drained.insert(drained.end(), rest.begin(), rest.end());
    EXPECT_EQ(drained, FromBitString("111111111"
                                     "0000000"
                                     "11"));
}

// ---------------------------------------------------------------------------

TEST(TreeTest, SingleValuePayloadIsOneLeafAndNineBits) {
    const Bytes payload(1000, 0x41);
    const Bytes file = rq6::EncodeRq6(payload, 0x12345678);
    // "RQ61", the extra word, then 0 + 01000001 padded: 0x20 0x80.
    EXPECT_EQ(file, (Bytes{'R', 'Q', '6', '1', 0x78, 0x56, 0x34, 0x12, 0x20, 0x80}));
    const Decoded d = WriteAndDecode("single.rq6", file, payload.size());
    EXPECT_EQ(d.error, 0u);
    EXPECT_EQ(d.extra, 0x12345678u);
    EXPECT_EQ(d.internalNodes, 0);
    EXPECT_EQ(d.payload, payload);
}

TEST(TreeTest, EmptyPayloadGivesALeafOfZero) {
    EXPECT_EQ(rq6::EncodeRq6({}), (Bytes{'R', 'Q', '6', '1', 0, 0, 0, 0, 0x00, 0x00}));
}

// Huffman costs worked out by hand; the file must hold exactly the tree
// (9 bits per leaf, 1 per internal node) plus that many payload bits.
TEST(TreeTest, CodeIsOptimalForHandMadeHistograms) {
    struct Case {
        std::vector<std::pair<std::uint8_t, int>> counts;
        std::uint64_t cost;
    };
    std::vector<Case> cases = {
        // Lengths 4,4,3,3,3,1.
        {{{'a', 5}, {'b', 9}, {'c', 12}, {'d', 13}, {'e', 16}, {'f', 45}}, 224},
        // Halving counts: lengths 5,5,4,3,2,1.
        {{{0, 1}, {1, 1}, {2, 2}, {3, 4}, {4, 8}, {5, 16}}, 5 + 5 + 8 + 12 + 16 + 16},
        // Two values: one bit each.
        {{{7, 1000}, {200, 3}}, 1003},
        // Four equal counts: two bits each.
        {{{1, 10}, {2, 10}, {3, 10}, {4, 10}}, 80},
        // Fibonacci counts 1,1,2,3,5,8: lengths 5,5,4,3,2,1.
        {{{10, 1}, {11, 1}, {12, 2}, {13, 3}, {14, 5}, {15, 8}}, 5 + 5 + 8 + 9 + 10 + 8},
    };
    // All 256 values three times each: eight bits each.
    Case uniform;
    for (int v = 0; v < 256; ++v) uniform.counts.push_back({static_cast<std::uint8_t>(v), 3});
    uniform.cost = 256 * 3 * 8;
    cases.push_back(uniform);

    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index);
        const Bytes payload = PayloadFromCounts(c.counts);
        std::array<std::uint64_t, 256> histogram{};
        for (const std::uint8_t b : payload) ++histogram[b];
        const rq6::CodeTree tree = rq6::BuildOptimalTree(histogram);
        EXPECT_EQ(rq6::PayloadBitCount(payload, tree), c.cost);

        const std::uint64_t leaves = c.counts.size();
        EXPECT_EQ(tree.InternalNodeCount(), static_cast<int>(leaves - 1));
        const std::uint64_t bits = 10 * leaves - 1 + c.cost;
        const Bytes file = rq6::EncodeRq6(payload);
        EXPECT_EQ(file.size(), 8 + (bits + 7) / 8);
        // The padding bits at the end are zero.
        if (bits % 8 != 0) {
            EXPECT_EQ(file.back() & (0xFF >> (bits % 8)), 0);
        }

        const Decoded d =
            WriteAndDecode("optimal" + std::to_string(index) + ".rq6", file, payload.size());
        EXPECT_EQ(d.error, 0u);
        EXPECT_EQ(d.internalNodes, static_cast<int>(leaves - 1));
        EXPECT_EQ(d.payload, payload);
        ++index;
    }
}

TEST(TreeTest, ChainOf255NodesCodesTheDeepestValueIn255Bits) {
    const rq6::CodeTree chain = rq6::ChainTree(255);
    ASSERT_EQ(chain.InternalNodeCount(), 255);
    Bytes payload;
    for (int round = 0; round < 3; ++round) {
        for (int v = 255; v >= 0; --v) payload.push_back(static_cast<std::uint8_t>(v));
    }
    // Value v < 255 sits v + 1 levels down; 255 shares the deepest level.
    std::uint64_t expected = 0;
    for (int v = 0; v < 255; ++v) expected += 3 * static_cast<std::uint64_t>(v + 1);
    expected += 3 * 255;
    EXPECT_EQ(rq6::PayloadBitCount(payload, chain), expected);

    const Bytes file = rq6::EncodeRq6WithTree(payload, chain);
    EXPECT_EQ(file.size(), 8 + (255 + 256 * 9 + expected + 7) / 8);
    const Decoded d = WriteAndDecode("chain255.rq6", file, payload.size());
    EXPECT_EQ(d.error, 0u);
    EXPECT_EQ(d.internalNodes, 255);
    EXPECT_EQ(d.payload, payload);
}

TEST(TreeTest, ChainOf256NodesIsRejectedByTheReader) {
    const rq6::CodeTree chain = rq6::ChainTree(256);
    EXPECT_EQ(chain.InternalNodeCount(), 256);
    const Bytes file = rq6::EncodeRq6WithTree(Bytes{1, 2, 3}, chain);
    const Decoded d = WriteAndDecode("chain256.rq6", file, 3);
    EXPECT_NE(d.error, 0u);
}

TEST(TreeTest, RepeatedLeavesUseTheShortestCode) {
    // root -> (leaf 7, node -> (leaf 7, leaf 9)): 7 codes as "0", 9 as "11".
    rq6::CodeTree tree;
    tree.root = 256;
    tree.first = {7, 7};
    tree.second = {257, 9};
    const Bytes payload = {7, 9, 7, 7, 9};
    const Bytes file = rq6::EncodeRq6WithTree(payload, tree);
    const std::string treeBits =
        "1"
        "000000111"
        "1"
        "000000111"
        "000001001";
    const std::string payloadBits =
        "0"
        "11"
        "0"
        "0"
        "11";
    Bytes expected = {'R', 'Q', '6', '1', 0, 0, 0, 0};
    const Bytes stream = FromBitString(treeBits + payloadBits);
    expected.insert(expected.end(), stream.begin(), stream.end());
    EXPECT_EQ(file, expected);

    const Decoded d = WriteAndDecode("repeated.rq6", file, payload.size());
    EXPECT_EQ(d.error, 0u);
    EXPECT_EQ(d.payload, payload);
}

TEST(TreeTest, TreeWithoutALeafForAPayloadByteIsRefused) {
    EXPECT_THROW(rq6::EncodeRq6WithTree(Bytes{1, 2, 3}, rq6::ChainTree(2)), std::invalid_argument);
    rq6::CodeTree broken;
    broken.root = 256;
    broken.first = {300};
    broken.second = {1};
    EXPECT_THROW(rq6::EncodeRq6WithTree(Bytes{1}, broken), std::invalid_argument);
}

TEST(TreeTest, TreeOnlyAndTruncatedFilesForDamageTests) {
    const rq6::CodeTree chain = rq6::ChainTree(3);
    // An empty payload leaves just the tree: 3 + 4 x 9 = 39 bits in 5 bytes.
    const Bytes treeOnly = rq6::EncodeRq6WithTree({}, chain);
    EXPECT_EQ(treeOnly.size(), 8u + 5u);
    const Decoded whole = WriteAndDecode("tree_only.rq6", treeOnly, 0);
    EXPECT_EQ(whole.error, 0u);
    EXPECT_EQ(whole.internalNodes, 3);

    Bytes cut = treeOnly;
    cut.resize(10);
    const Decoded truncated = WriteAndDecode("tree_cut.rq6", cut, 0);
    EXPECT_NE(truncated.error, 0u);
}

// ---------------------------------------------------------------------------

TEST(PayloadTest, DefaultHeadersCommentAndRowsOfAnOddWidth) {
    const std::uint32_t width = 3;  // 18 bytes of samples, 2 fill bytes
    const std::uint32_t height = 2;
    const std::vector<std::uint16_t> samples = RandomSamples(3 * width * height, 1);
    const Bytes payload = rq6::BuildPayload(width, height, samples, "abc");
    ASSERT_EQ(payload.size(), 54u + 4u + 2u * 20u);
    EXPECT_EQ(payload[0], 'I');
    EXPECT_EQ(payload[1], 'F');

    const Picture pic = Parse(payload);
    EXPECT_EQ(pic.bfSize, 54u + 4u + 40u);
    EXPECT_EQ(pic.bfReserved1, 0u);
    EXPECT_EQ(pic.bfReserved2, 0u);
    EXPECT_EQ(pic.bfOffBits, 58u);
    EXPECT_EQ(pic.biSize, 40u);
    EXPECT_EQ(pic.biWidth, 3u);
    EXPECT_EQ(pic.biHeight, 2u);
    EXPECT_EQ(pic.biPlanes, 1u);
    EXPECT_EQ(pic.biBitCount, 48u);
    EXPECT_EQ(pic.biCompression, 1u);
    EXPECT_EQ(pic.biSizeImage, 40u);
    EXPECT_EQ(pic.biXPelsPerMeter, 3780u);
    EXPECT_EQ(pic.biYPelsPerMeter, 3780u);
    EXPECT_EQ(pic.biClrUsed, 0u);
    EXPECT_EQ(pic.biClrImportant, 0u);
    EXPECT_EQ(pic.comment, std::string("abc", 4));
    EXPECT_EQ(pic.samples, samples);
    EXPECT_TRUE(pic.fillIsZero);
}

TEST(PayloadTest, DifferencesWrapModulo65536) {
    // Row 0: (65535, 0, 1) then (0, 65535, 65535); row 1: (1, 65535, 0) then (65535, 1, 0).
    const std::vector<std::uint16_t> samples = {65535, 0,     1, 0,     65535, 65535,
                                                1,     65535, 0, 65535, 1,     0};
    const Bytes payload = rq6::BuildPayload(2, 2, samples, "");
    const std::size_t rows = 55;  // empty comment: just its terminator
    const Bytes expected = {
        0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00,  // first pixel as it is
        0x01, 0x00, 0xFF, 0xFF, 0xFE, 0xFF,  // 0-65535, 65535-0, 65535-1
        0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,  // 1-65535, 65535-0, 0-1
        0xFF, 0xFF, 0x02, 0x00, 0x01, 0x00,  // 65535-0, 1-65535, 0-65535
    };
    ASSERT_EQ(payload.size(), rows + expected.size());
    EXPECT_EQ(Bytes(payload.begin() + rows, payload.end()), expected);
    EXPECT_EQ(Parse(payload).samples, samples);
}

TEST(PayloadTest, EveryFieldCanBeOverridden) {
    rq6::PayloadFields f;
    f.bfType = 0x4D42;
    f.bfSize = 0xA1A2A3A4;
    f.bfReserved1 = 0xB1B2;
    f.bfReserved2 = 0xC1C2;
    f.bfOffBits = 0x0000003A;
    f.biSize = 0xD1D2D3D4;
    f.biWidth = -7;
    f.biHeight = 0x7FFFFFFF;
    f.biPlanes = 0xE1E2;
    f.biBitCount = 24;
    f.biCompression = 0;
    f.biSizeImage = 0xF1F2F3F4;
    f.biXPelsPerMeter = -1;
    f.biYPelsPerMeter = 0x01020304;
    f.biClrUsed = 0x11121314;
    f.biClrImportant = 0x21222324;
    const std::vector<std::uint16_t> samples = RandomSamples(3, 2);
    const Bytes payload = rq6::BuildPayload(1, 1, samples, "xyz", f);
    const Picture pic = Parse(payload, false);
    EXPECT_EQ(pic.bfType, 0x4D42u);
    EXPECT_EQ(pic.bfSize, 0xA1A2A3A4u);
    EXPECT_EQ(pic.bfReserved1, 0xB1B2u);
    EXPECT_EQ(pic.bfReserved2, 0xC1C2u);
    EXPECT_EQ(pic.bfOffBits, 0x3Au);
    EXPECT_EQ(pic.biSize, 0xD1D2D3D4u);
    EXPECT_EQ(pic.biWidth, 0xFFFFFFF9u);
    EXPECT_EQ(pic.biHeight, 0x7FFFFFFFu);
    EXPECT_EQ(pic.biPlanes, 0xE1E2u);
    EXPECT_EQ(pic.biBitCount, 24u);
    EXPECT_EQ(pic.biCompression, 0u);
    EXPECT_EQ(pic.biSizeImage, 0xF1F2F3F4u);
    EXPECT_EQ(pic.biXPelsPerMeter, 0xFFFFFFFFu);
    EXPECT_EQ(pic.biYPelsPerMeter, 0x01020304u);
    EXPECT_EQ(pic.biClrUsed, 0x11121314u);
    EXPECT_EQ(pic.biClrImportant, 0x21222324u);
    // The rows stored are still the one real row, whatever the headers say.
    EXPECT_EQ(payload.size(), 58u + 8u);
}

TEST(PayloadTest, RawCommentRegions) {
    const std::vector<std::uint16_t> samples = RandomSamples(3, 3);

    // 128 bytes with no terminator; bfOffBits follows the region by default.
    rq6::PayloadFields raw;
    raw.rawComment = std::string(128, 'k');
    Bytes payload = rq6::BuildPayload(1, 1, samples, "ignored", raw);
    Picture pic = Parse(payload);
    EXPECT_EQ(pic.bfOffBits, 54u + 128u);
    EXPECT_EQ(pic.comment, std::string(128, 'k'));
    EXPECT_EQ(pic.bfSize, 54u + 128u + 8u);
    EXPECT_EQ(pic.samples, samples);

    // An empty region: the rows start right after the headers.
    raw.rawComment = std::string();
    pic = Parse(rq6::BuildPayload(1, 1, samples, "ignored", raw));
    EXPECT_EQ(pic.bfOffBits, 54u);
    EXPECT_TRUE(pic.comment.empty());
    EXPECT_EQ(pic.samples, samples);

    // A region that disagrees with bfOffBits.
    raw.rawComment = std::string("abc\0", 4);
    raw.bfOffBits = 60;
    payload = rq6::BuildPayload(1, 1, samples, "", raw);
    EXPECT_EQ(Le32(payload, 10), 60u);
    EXPECT_EQ(payload.size(), 54u + 4u + 8u);
    EXPECT_EQ(Bytes(payload.begin() + 54, payload.begin() + 58), (Bytes{'a', 'b', 'c', 0}));
}

TEST(PayloadTest, TooFewSamplesAreRefused) {
    EXPECT_THROW(rq6::BuildPayload(2, 2, std::vector<std::uint16_t>(11), ""),
                 std::invalid_argument);
}

// ---------------------------------------------------------------------------

struct Size {
    std::uint32_t width, height;
};

TEST(RoundTripTest, PicturesSurviveEncodingAndTheReader) {
    const Size sizes[] = {{1, 1}, {2, 1}, {1, 5}, {3, 2}, {5, 7}, {17, 3}, {64, 9}};
    std::uint32_t seed = 10;
    for (const Size& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        const auto samples = RandomSamples(3 * std::size_t{s.width} * s.height, seed++);
        const Bytes payload = rq6::BuildPayload(s.width, s.height, samples, "round trip");
        const Decoded d =
            WriteAndDecode("round.rq6", rq6::EncodeRq6(payload, seed), payload.size());
        ASSERT_EQ(d.error, 0u);
        EXPECT_EQ(d.extra, seed);
        EXPECT_EQ(d.payload, payload);
        const Picture pic = Parse(d.payload);
        EXPECT_EQ(pic.biWidth, s.width);
        EXPECT_EQ(pic.biHeight, s.height);
        EXPECT_EQ(pic.comment, std::string("round trip", 11));
        EXPECT_EQ(pic.samples, samples);
        EXPECT_TRUE(pic.fillIsZero);
    }
}

TEST(RoundTripTest, FlatPictureCompressesToAlmostNothing) {
    // A flat grey picture codes as mostly zero differences.
    const std::uint32_t w = 100, h = 50;
    const std::vector<std::uint16_t> samples(3 * w * h, 0x1234);
    const Bytes payload = rq6::BuildPayload(w, h, samples, "");
    const Bytes file = rq6::EncodeRq6(payload);
    EXPECT_LT(file.size(), payload.size() / 6);
    const Decoded d = WriteAndDecode("flat.rq6", file, payload.size());
    EXPECT_EQ(d.payload, payload);
}

// ---------------------------------------------------------------------------

Bytes ReadWholeFile(const std::string& path) {
    Bytes out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return out;
}

TEST(StreamingTest, MatchesTheInMemoryPath) {
    struct Case {
        Size size;
        bool randomSamples;
    };
    // The last case codes to well over a megabyte, so the file is written in pieces.
    const Case cases[] = {{{1, 1}, true},   {{7, 5}, true},   {{1, 2}, true},
                         {{33, 20}, false}, {{600, 400}, true}, {{600, 401}, true}};
    rq6::PayloadFields fields;
    fields.biXPelsPerMeter = 2835;
    for (const Case& c : cases) {
        const std::uint32_t w = c.size.width, h = c.size.height;
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        std::vector<std::uint16_t> samples = RandomSamples(3 * std::size_t{w} * h, w);
        if (!c.randomSamples) {
            for (std::size_t i = 0; i < samples.size(); ++i) {
                samples[i] = static_cast<std::uint16_t>(i * 37 % 1000);
            }
        }
        std::vector<std::uint32_t> requested;
        const auto row = [&](std::uint32_t y, std::uint16_t* bgr) {
            requested.push_back(y);
            std::copy_n(samples.begin() + 3 * std::size_t{w} * y, 3 * std::size_t{w}, bgr);
        };
        ASSERT_TRUE(rq6::WriteRq6File("streamed.rq6", w, h, "streamed", row, fields));
        const Bytes expected = rq6::EncodeRq6(rq6::BuildPayload(w, h, samples, "streamed", fields));
        EXPECT_EQ(ReadWholeFile("streamed.rq6"), expected);
        // Two passes, each bottom to top.
        std::vector<std::uint32_t> order(h);
        std::iota(order.begin(), order.end(), 0u);
        std::vector<std::uint32_t> twice = order;
        twice.insert(twice.end(), order.begin(), order.end());
        EXPECT_EQ(requested, twice);
        // In two halves, the second coded on its own and joined at whatever
        // bit the first ends on: the same file. (Run one after the other
        // here; the tool runs them on two threads.)
        const auto inTurn = [](const std::function<void()>& a, const std::function<void()>& b) {
            b();
            a();
        };
        ASSERT_TRUE(rq6::WriteRq6File("halves.rq6", w, h, "streamed", row, fields, nullptr, inTurn));
        EXPECT_EQ(ReadWholeFile("halves.rq6"), expected);
    }
}

TEST(StreamingTest, UnwritablePathFails) {
    const auto row = [](std::uint32_t, std::uint16_t* bgr) { bgr[0] = bgr[1] = bgr[2] = 0; };
    EXPECT_FALSE(rq6::WriteRq6File("no_such_dir/x.rq6", 1, 1, "", row));
    EXPECT_FALSE(rq6::WriteBytes("no_such_dir/x.rq6", Bytes{1}));
}

}  // namespace
