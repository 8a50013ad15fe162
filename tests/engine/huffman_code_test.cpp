#include "engine/huffman_code.h"

#include <random>

#include "gtest/gtest.h"
#include "tests/engine/test_support.h"
#include "tests/formats/rq6_test_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A container around a raw bit stream, for trees and codes built by hand.
Bytes Container(const rq6::BitWriter& bits, std::uint32_t extra = 0) {
    Bytes file = {'R', 'Q', '6', '1'};
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(extra >> (8 * i)));
    const Bytes stream = bits.Bytes();
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

Bytes DecodeFile(const std::string& path, std::uint32_t count, std::uint32_t* error) {
    HuffmanCode code(path.c_str(), rq6::kMagic);
    Bytes out(count, 0xEE);
    code.Decode(out.data(), count);
    *error = code.error;
    return out;
}

TEST(HuffmanCodeOpen, MissingFileIsNotOpenedAndNotAnError) {
    HuffmanCode code("no-such-picture.rq6", rq6::kMagic);
    EXPECT_EQ(code.file, platform::kInvalidFile);
    EXPECT_EQ(code.error, 0u);
}

TEST(HuffmanCodeOpen, EmptyShortAndWrongMagicFilesAreUnusable) {
    for (const Bytes& content : {Bytes{}, Bytes{'R', 'Q', '6'}, Bytes{'R', 'Q', '6', '2', 0, 0, 0, 0, 0},
                                 Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0}}) {
        test::WriteRaw("bad.rq6", content);
        HuffmanCode code("bad.rq6", rq6::kMagic);
        EXPECT_NE(code.file, platform::kInvalidFile);
        EXPECT_EQ(code.error, 1u) << content.size();
    }
}

TEST(HuffmanCodeOpen, KeepsTheValueAfterTheMagic) {
    rq6::BitWriter bits;
    bits.PutBit(0);
    bits.Put(0x41, 8);
    test::WriteRaw("extra.rq6", Container(bits, 0xDEADBEEF));
    HuffmanCode code("extra.rq6", rq6::kMagic);
    EXPECT_EQ(code.error, 0u);
    EXPECT_EQ(code.extra, 0xDEADBEEFu);
    EXPECT_EQ(code.magic, rq6::kMagic);
}

TEST(HuffmanCodeOpen, FileEndingBeforeOrInsideTheTreeIsUnusable) {
    test::WriteRaw("no-tree.rq6", {'R', 'Q', '6', '1', 0, 0, 0, 0});
    EXPECT_EQ(HuffmanCode("no-tree.rq6", rq6::kMagic).error, 1u);
    test::WriteRaw("short-extra.rq6", {'R', 'Q', '6', '1', 0, 0});
    EXPECT_EQ(HuffmanCode("short-extra.rq6", rq6::kMagic).error, 1u);
    // An internal node whose second child never arrives.
    rq6::BitWriter bits;
    bits.PutBit(1);
    bits.PutBit(0);
    bits.Put(7, 8);
    Bytes file = Container(bits);  // 10 bits, padded: the padding reads as a leaf start
    file.pop_back();               // cut inside the first leaf's value
    test::WriteRaw("cut-tree.rq6", file);
    EXPECT_EQ(HuffmanCode("cut-tree.rq6", rq6::kMagic).error, 1u);
}

TEST(HuffmanCodeTree, SingleLeafDecodesEveryByteWithoutBits) {
    rq6::BitWriter bits;
    bits.PutBit(0);
    bits.Put(0x5A, 8);
    test::WriteRaw("leaf.rq6", Container(bits));  // 9 bits: the stream ends inside byte 2
    std::uint32_t error = 0;
    const Bytes out = DecodeFile("leaf.rq6", 100000, &error);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(out, Bytes(100000, 0x5A));
}

TEST(HuffmanCodeTree, LeafValuesStraddleByteBoundariesAndCodesFollowWithoutAlignment) {
    // Tree 1 0 'A' 1 0 'B' 0 'C': codes A = 0, B = 10, C = 11. The value of A
    // starts at bit 2 and ends in the second byte.
    rq6::BitWriter bits;
    bits.PutBit(1);
    bits.PutBit(0), bits.Put('A', 8);
    bits.PutBit(1);
    bits.PutBit(0), bits.Put('B', 8);
    bits.PutBit(0), bits.Put('C', 8);
    // Payload C A B B A C, right after the 30 tree bits.
    for (unsigned code : {3u, 0u, 2u, 2u, 0u, 3u}) bits.Put(code, code ? 2 : 1);
    test::WriteRaw("hand.rq6", Container(bits));
    HuffmanCode code("hand.rq6", rq6::kMagic);
    ASSERT_EQ(code.error, 0u);
    EXPECT_EQ(code.InternalNodeCount(), 2);
    Bytes out(6);
    code.Decode(out.data(), 6);
    EXPECT_EQ(std::string(out.begin(), out.end()), "CABBAC");
    EXPECT_EQ(code.error, 0u);
}

TEST(HuffmanCodeTree, DeepestAllowedTreeIsAcceptedAndOneNodeMoreIsNot) {
    Bytes payload;
    for (int i = 0; i < 1000; ++i) payload.push_back(static_cast<std::uint8_t>((i * 37) % 256));
    const Bytes deep = rq6::EncodeRq6WithTree(payload, rq6::ChainTree(255));
    test::WriteRaw("deep.rq6", deep);
    std::uint32_t error = 0;
    EXPECT_EQ(DecodeFile("deep.rq6", 1000, &error), payload);
    EXPECT_EQ(error, 0u);

    test::WriteRaw("too-deep.rq6", rq6::EncodeRq6WithTree({1, 2, 3}, rq6::ChainTree(256)));
    HuffmanCode code("too-deep.rq6", rq6::kMagic);
    EXPECT_EQ(code.error, 1u);
    Bytes out(3, 0xEE);
    code.Decode(out.data(), 3);
    EXPECT_EQ(out, Bytes(3, 0xEE)) << "an unusable decoder leaves the buffer alone";
}

TEST(HuffmanCodeDecode, RoundTripsAcrossSeveralBufferRefills) {
    std::mt19937 rng(7);
    std::geometric_distribution<int> skewed(0.05);
    Bytes payload(240000);
    for (auto& b : payload) b = static_cast<std::uint8_t>(skewed(rng) % 256);
    const Bytes file = rq6::EncodeRq6(payload);
    ASSERT_GT(file.size(), 2u * BitI::kBufferSize) << "the stream must span several refills";
    test::WriteRaw("big.rq6", file);

    HuffmanCode code("big.rq6", rq6::kMagic);
    Bytes out;
    // Odd-sized calls, including empty ones, in stream order.
    const std::uint32_t sizes[] = {0, 1, 997, 4095, 0, 4096, 4097, 13};
    for (std::size_t step = 0; out.size() < payload.size(); ++step) {
        const std::uint32_t n = std::min<std::uint32_t>(
            sizes[step % 8], static_cast<std::uint32_t>(payload.size() - out.size()));
        const std::size_t before = out.size();
        out.resize(before + n);
        code.Decode(out.data() + before, n);
    }
    EXPECT_EQ(out, payload);
    EXPECT_EQ(code.error, 0u);
}

TEST(HuffmanCodeDecode, RunningOutOfFileSetsTheErrorInsteadOfInventingBytes) {
    Bytes payload(20000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    Bytes file = rq6::EncodeRq6(payload);
    file.resize(file.size() / 2);
    test::WriteRaw("half.rq6", file);
    HuffmanCode code("half.rq6", rq6::kMagic);
    ASSERT_EQ(code.error, 0u);
    Bytes out(payload.size());
    code.Decode(out.data(), 5000);
    EXPECT_EQ(code.error, 0u) << "the first part is still in the file";
    code.Decode(out.data() + 5000, 15000);
    EXPECT_EQ(code.error, 1u);
}

TEST(HuffmanCodeDecode, LastCodeEndingOnTheLastBitNeedsNoMoreFile) {
    // A payload whose codes fill the file exactly: two symbols of one bit each
    // after a 19-bit tree, 24 - 19 = 5 codes; ask for exactly those.
    rq6::BitWriter bits;
    bits.PutBit(1);
    bits.PutBit(0), bits.Put('x', 8);
    bits.PutBit(0), bits.Put('y', 8);
    for (unsigned b : {1u, 0u, 0u, 1u, 1u}) bits.PutBit(b);
    ASSERT_EQ(bits.BitCount() % 8, 0u);
    test::WriteRaw("exact.rq6", Container(bits));
    std::uint32_t error = 0;
    const Bytes out = DecodeFile("exact.rq6", 5, &error);
    EXPECT_EQ(std::string(out.begin(), out.end()), "yxxyy");
    EXPECT_EQ(error, 0u);
    DecodeFile("exact.rq6", 6, &error);
    EXPECT_EQ(error, 1u) << "a sixth code would need bits past the end";
}

TEST(BitInput, BitsAndBytesShareOnePositionAcrossRefills) {
    constexpr std::size_t kBlock = BitI::kBufferSize;
    Bytes content(kBlock + 10);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 13 + 5);
    test::WriteRaw("bits.bin", content);
    FileSource f("bits.bin");
    ASSERT_TRUE(f.IsOpen());
    {
        BitI bits(f);
        // Three single bits, then 8 bits straddling into the second byte.
        unsigned first3 = 0;
        for (int i = 0; i < 3; ++i) first3 = first3 << 1 | bits.ReadBit();
        EXPECT_EQ(first3, static_cast<unsigned>(content[0] >> 5));
        const unsigned straddle = bits.ReadBits(8);
        EXPECT_EQ(straddle, static_cast<unsigned>(((content[0] & 0x1F) << 3) | (content[1] >> 5)));
        // Finish byte 1, read on to the last byte of the first block, then
        // cross into the second.
        for (int i = 0; i < 5; ++i) bits.ReadBit();
        for (std::size_t i = 2; i < kBlock - 1; ++i) EXPECT_EQ(bits.ReadBits(8), content[i]) << i;
        EXPECT_EQ(bits.ReadBits(8), content[kBlock - 1]);
        EXPECT_EQ(bits.ReadBits(8), content[kBlock]) << "the first byte of the second block";
        EXPECT_FALSE(bits.failed());
    }
}

}  // namespace

namespace {

// The plain form of the code: a bit at a time from the root to a leaf, the
// way the tree is defined; the table-driven decoder is checked against it.
void DecodeByWalking(HuffmanCode& code, std::uint8_t* out, std::uint32_t count) {
    if (code.error) return;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::int32_t node = code.root;
        while (node >= rq6::kFirstInternalNode) {
            node = code.bits->ReadBit() ? code.second[node] : code.first[node];
        }
        out[i] = static_cast<std::uint8_t>(node);
        if (code.bits->failed()) {
            code.error = 1;
            return;
        }
    }
}

// Decodes `file` twice, with the table and by walking the tree, in the same
// sequence of call sizes, and checks that both give the same bytes and the
// same error flag after every call.
void ExpectTableMatchesWalk(const Bytes& file, std::uint32_t total, std::mt19937& rng,
                            const std::string& what) {
    test::WriteRaw("a.rq6", file);
    test::WriteRaw("b.rq6", file);
    HuffmanCode fast("a.rq6", rq6::kMagic);
    HuffmanCode slow("b.rq6", rq6::kMagic);
    ASSERT_EQ(fast.error, slow.error) << what;
    std::uniform_int_distribution<std::uint32_t> size(0, 700);
    std::uint32_t done = 0;
    while (done < total && !slow.error) {
        const std::uint32_t n = std::min(size(rng), total - done);
        Bytes a(n, 0), b(n, 0);
        fast.Decode(a.data(), n);
        DecodeByWalking(slow, b.data(), n);
        ASSERT_EQ(fast.error, slow.error) << what << " after " << done << " + " << n;
        if (!slow.error) {
            ASSERT_EQ(a, b) << what << " at " << done;
        }
        done += n;
    }
}

TEST(HuffmanTable, AgreesWithTheTreeWalkOnManyTrees) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 120; ++trial) {
        // Skewed, flat and very uneven byte distributions give trees from a
        // few levels deep to dozens.
        Bytes payload(3000 + trial * 37);
        const int kind = trial % 4;
        std::geometric_distribution<int> skewed(0.02 + 0.1 * (trial % 5));
        std::uniform_int_distribution<int> flat(0, trial % 3 == 0 ? 255 : 15 + trial);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            int v = kind == 0 ? skewed(rng) : kind == 1 ? flat(rng) : kind == 2 ? skewed(rng) * 3 : 0;
            if (kind == 3) {
                // Fibonacci-like counts make the deepest optimal trees.
                const int r = static_cast<int>(rng() % 1000000);
                v = 0;
                for (int limit = 500000; r < limit && v < 40; limit = limit * 618 / 1000) ++v;
            }
            payload[i] = static_cast<std::uint8_t>(v % 256);
        }
        const Bytes file = rq6::EncodeRq6(payload);
        ExpectTableMatchesWalk(file, static_cast<std::uint32_t>(payload.size()), rng,
                               "trial " + std::to_string(trial));
        // The same file cut short: both must notice at the same call.
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 2 / 3));
        ExpectTableMatchesWalk(cut, static_cast<std::uint32_t>(payload.size()), rng,
                               "cut trial " + std::to_string(trial));
    }
}

TEST(HuffmanTable, AgreesWithTheTreeWalkOnChainTreesOfEveryDepth) {
    std::mt19937 rng(77);
    for (int nodes = 1; nodes <= 255; nodes += (nodes < 20 ? 1 : 17)) {
        Bytes payload(2000);
        // Byte values that the chain holds: 0 .. nodes (mod 256).
        std::uniform_int_distribution<int> value(0, nodes);
        for (auto& b : payload) b = static_cast<std::uint8_t>(value(rng) % 256);
        const Bytes file = rq6::EncodeRq6WithTree(payload, rq6::ChainTree(nodes));
        ExpectTableMatchesWalk(file, 2000, rng, "chain " + std::to_string(nodes));
        ExpectTableMatchesWalk(Bytes(file.begin(), file.end() - 1), 2000, rng,
                               "cut chain " + std::to_string(nodes));
    }
}

TEST(HuffmanTable, AgreesWithTheTreeWalkWhenTheFileEndsInsideALookUpOfSeveralCodes) {
    // Equally frequent values give codes of one length: 1, 2 and 3 bits make
    // look-ups of several codes, 7 bits two codes that fill a look-up
    // exactly. Every cut of the last bytes ends the file inside such a
    // look-up at a different code.
    std::mt19937 rng(99);
    for (int values : {2, 4, 8, 128}) {
        Bytes payload(5000);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng() % static_cast<unsigned>(values));
        const Bytes file = rq6::EncodeRq6(payload);
        for (std::size_t cut = 0; cut <= 6; ++cut) {
            ExpectTableMatchesWalk(Bytes(file.begin(), file.end() - static_cast<std::ptrdiff_t>(cut)), 5000,
                                   rng, std::to_string(values) + " values, cut " + std::to_string(cut));
        }
    }
}

TEST(HuffmanTable, SingleLeafNeedsNoBitsEitherWay) {
    std::mt19937 rng(5);
    const Bytes file = rq6::EncodeRq6(Bytes(5000, 0x33));
    ASSERT_EQ(file.size(), 8u + 2u) << "9 bits of tree, nothing else";
    ExpectTableMatchesWalk(file, 5000, rng, "single leaf");
}

}  // namespace
