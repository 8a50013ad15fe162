// Joining deflate streams: zlib makes the pieces and inflates the joins, so
// the walk is checked against another implementation of the format; the
// bit-exact cases are built by hand.
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "formats/deflate_join.h"
#include "gtest/gtest.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RawDeflate(const Bytes& data, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// The bytes a raw stream inflates to; *ended tells whether it reached its
// final block.
Bytes RawInflate(const Bytes& stream, bool* ended) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    Bytes out(1 << 20);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    *ended = inflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Room for MakeContinuable's five bytes and the walk's slack.
Bytes WithRoom(Bytes stream) {
    stream.resize(stream.size() + 5 + deflate_join::kSlack, 0);
    return stream;
}

Bytes Continuable(const Bytes& stream) {
    Bytes data = WithRoom(stream);
    std::size_t size = stream.size();
    EXPECT_TRUE(deflate_join::MakeContinuable(data.data(), &size));
    data.resize(size);
    return data;
}

// Deflate's bit order: fields least significant bit first, Huffman codes
// most significant bit first.
struct BitWriter {
    Bytes bytes;
    std::uint64_t bits = 0;
    void Put(std::uint32_t value, int n) {
        for (int i = 0; i < n; ++i, ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            bytes.back() = static_cast<std::uint8_t>(bytes.back() | ((value >> i) & 1) << (bits % 8));
        }
    }
    void PutCode(std::uint32_t code, int n) {
        for (int i = n - 1; i >= 0; --i) Put(code >> i, 1);
    }
    // Literals of the fixed code: 0 ... 143 in 8 bits from 0x30, 144 ... 255
    // in 9 bits from 0x190; the end of a block is 7 zero bits.
    void Literal(int v) { v < 144 ? PutCode(0x30 + v, 8) : PutCode(0x190 + v - 144, 9); }
    void EndOfBlock() { PutCode(0, 7); }
};

TEST(DeflateJoin, PiecesOfEveryBlockKindJoinIntoOneStream) {
    std::mt19937 rng(77);
    Bytes noise(70000), text;
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    for (int i = 0; text.size() < 90000; ++i) {
        const std::string line = "row " + std::to_string(i % 97) + " of the picture\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    const Bytes tiny = {'x'};
    const Bytes empty;
    const struct {
        const char* name;
        int level, strategy;
    } kinds[] = {{"stored", 0, Z_DEFAULT_STRATEGY},
                 {"fixed", 6, Z_FIXED},
                 {"dynamic", 9, Z_DEFAULT_STRATEGY},
                 {"huffman only", 6, Z_HUFFMAN_ONLY}};
    for (const auto& kind : kinds) {
        const Bytes* pieces[] = {&text, &noise, &tiny, &empty, &text};
        Bytes joined, whole;
        for (std::size_t i = 0; i < 5; ++i) {
            const Bytes stream = RawDeflate(*pieces[i], kind.level, kind.strategy);
            // The walk ends exactly in the stream's last byte.
            const Bytes room = WithRoom(stream);
            std::uint64_t header = 0, end = 0;
            ASSERT_TRUE(deflate_join::FindLastBlock(room.data(), stream.size(), &header, &end))
                << kind.name << " piece " << i;
            EXPECT_EQ((end + 7) / 8, stream.size()) << kind.name << " piece " << i;
            EXPECT_LT(header, end);
            const Bytes part = i < 4 ? Continuable(stream) : stream;
            joined.insert(joined.end(), part.begin(), part.end());
            whole.insert(whole.end(), pieces[i]->begin(), pieces[i]->end());
        }
        bool ended = false;
        EXPECT_TRUE(RawInflate(joined, &ended) == whole) << kind.name;
        EXPECT_TRUE(ended) << kind.name;
    }
}

TEST(DeflateJoin, AFinalBlockAtEveryBitOfAByte) {
    // A first block of k nine-bit literals takes 3 + 9k + 7 bits, so the
    // final block's header falls on bit (2 + k) mod 8 for k = 0 ... 7.
    for (int k = 0; k < 8; ++k) {
        BitWriter w;
        Bytes expected;
        w.Put(0, 1);  // not final
        w.Put(1, 2);  // fixed codes
        for (int i = 0; i < k; ++i) {
            w.Literal(200 + i);
            expected.push_back(static_cast<std::uint8_t>(200 + i));
        }
        w.EndOfBlock();
        const std::uint64_t finalHeader = w.bits;
        w.Put(1, 1);
        w.Put(1, 2);
        for (int v : {'A', 'B'}) {
            w.Literal(v);
            expected.push_back(static_cast<std::uint8_t>(v));
        }
        w.EndOfBlock();
        const std::uint64_t streamEnd = w.bits;

        const Bytes room = WithRoom(w.bytes);
        std::uint64_t header = 0, end = 0;
        ASSERT_TRUE(deflate_join::FindLastBlock(room.data(), w.bytes.size(), &header, &end)) << k;
        EXPECT_EQ(header, finalHeader) << k;
        EXPECT_EQ(header % 8, static_cast<std::uint64_t>((2 + k) % 8));
        EXPECT_EQ(end, streamEnd) << k;

        Bytes joined = Continuable(w.bytes);
        const Bytes next = RawDeflate({'x', 'y', 'z'}, 0, Z_DEFAULT_STRATEGY);
        joined.insert(joined.end(), next.begin(), next.end());
        expected.insert(expected.end(), {'x', 'y', 'z'});
        bool ended = false;
        EXPECT_TRUE(RawInflate(joined, &ended) == expected) << k;
        EXPECT_TRUE(ended) << k;
    }
}

Bytes FixedBlock(bool final, const std::vector<int>& literals) {
    BitWriter w;
    w.Put(final ? 1 : 0, 1);
    w.Put(1, 2);
    for (int v : literals) w.Literal(v);
    w.EndOfBlock();
    return w.bytes;
}

TEST(DeflateJoin, DamagedStreamsAreRefusedAndLeftAlone) {
    const Bytes good = RawDeflate(Bytes(5000, 'q'), 9, Z_DEFAULT_STRATEGY);
    BitWriter reserved;  // block type 3
    reserved.Put(1, 1);
    reserved.Put(3, 2);
    BitWriter badDistance;  // length symbol 257, then fixed distance code 30
    badDistance.Put(1, 1);
    badDistance.Put(1, 2);
    badDistance.Literal('a');
    badDistance.PutCode(1, 7);
    badDistance.PutCode(30, 5);
    badDistance.EndOfBlock();
    BitWriter badLength;  // literal/length symbol 286, which fixed codes reserve
    badLength.Put(1, 1);
    badLength.Put(1, 2);
    badLength.PutCode(0xC0 + 286 - 280, 8);
    badLength.EndOfBlock();
    const struct {
        const char* name;
        Bytes stream;
    } cases[] = {
        {"empty", {}},
        {"reserved block type", reserved.bytes},
        {"stored length check fails", {0x01, 0x03, 0x00, 0xFC, 0xFE, 'a', 'b', 'c'}},
        {"stored block longer than the data", {0x01, 0x09, 0x00, 0xF6, 0xFF, 'a', 'b', 'c'}},
        {"distance code 30", badDistance.bytes},
        {"length symbol 286", badLength.bytes},
        {"no final block", FixedBlock(false, {'a', 'b'})},
        {"cut short", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))},
        {"a continuable stream is not complete", Continuable(good)},
    };
    for (const auto& c : cases) {
        const Bytes room = WithRoom(c.stream);
        std::uint64_t header = 0, end = 0;
        EXPECT_FALSE(deflate_join::FindLastBlock(room.data(), c.stream.size(), &header, &end))
            << c.name;
        Bytes data = room;
        std::size_t size = c.stream.size();
        EXPECT_FALSE(deflate_join::MakeContinuable(data.data(), &size)) << c.name;
        EXPECT_EQ(size, c.stream.size()) << c.name;
        EXPECT_TRUE(data == room) << c.name;
    }
}

TEST(DeflateJoin, Adler32OfAJoinFromThePieces) {
    std::mt19937 rng(5);
    Bytes data(200000);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{65521},
                            std::size_t{65522}, std::size_t{150000}, data.size()}) {
        const auto a = static_cast<std::uint32_t>(adler32(1, data.data(), static_cast<uInt>(cut)));
        const auto b = static_cast<std::uint32_t>(
            adler32(1, data.data() + cut, static_cast<uInt>(data.size() - cut)));
        const auto whole = static_cast<std::uint32_t>(
            adler32(1, data.data(), static_cast<uInt>(data.size())));
        EXPECT_EQ(deflate_join::CombineAdler32(a, b, data.size() - cut), whole) << cut;
    }
}

}  // namespace
