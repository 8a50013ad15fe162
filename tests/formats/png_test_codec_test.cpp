// Checks the test PNG codec. The reader is checked against files assembled
// here byte by byte with expectations worked out by hand from the filter
// rules; the writer is checked by walking its chunks and zlib stream
// directly, by decoding each interlace pass as a picture of its own, and,
// where the system has one, by an external decoder.
#include "tests/formats/png_test_codec.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using pngtest::Image;

struct Format {
    int colorType;
    int bitDepth;
};

// Every colour type and bit depth combination a PNG may use.
const std::vector<Format> kFormats = {{0, 1}, {0, 2},  {0, 4},  {0, 8}, {0, 16},
                                      {2, 8}, {2, 16}, {3, 1},  {3, 2}, {3, 4},
                                      {3, 8}, {4, 8},  {4, 16}, {6, 8}, {6, 16}};

std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) << 24 |
           static_cast<std::uint32_t>(b.at(at + 1)) << 16 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 8 | static_cast<std::uint32_t>(b.at(at + 3));
}

void AppendBe32(Bytes* out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<std::uint8_t>(v >> shift));
}

Bytes Concat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& p : pieces) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Zlib(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

// Inflates a whole zlib stream whose decompressed size is known.
Bytes Unzlib(const Bytes& data, std::size_t size) {
    Bytes out(size + 1);
    uLongf got = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &got, data.data(), static_cast<uLong>(data.size())), Z_OK);
    out.resize(got);
    return out;
}

struct RawChunk {
    std::string type;
    Bytes data;
    std::size_t offset;  // of the length field
};

// Splits a file into chunks without the codec, checking lengths and CRCs.
std::vector<RawChunk> Walk(const Bytes& file) {
    std::vector<RawChunk> chunks;
    EXPECT_GE(file.size(), 8u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), Bytes({137, 80, 78, 71, 13, 10, 26, 10}));
    std::size_t pos = 8;
    while (pos + 12 <= file.size()) {
        const std::uint32_t length = Be32(file, pos);
        if (pos + 12 + length > file.size()) break;
        RawChunk c;
        c.offset = pos;
        c.type.assign(file.begin() + pos + 4, file.begin() + pos + 8);
        c.data.assign(file.begin() + pos + 8, file.begin() + pos + 8 + length);
        const uLong crc = crc32(0, file.data() + pos + 4, length + 4);
        EXPECT_EQ(Be32(file, pos + 8 + length), static_cast<std::uint32_t>(crc)) << c.type;
        chunks.push_back(std::move(c));
        pos += 12 + length;
    }
    EXPECT_EQ(pos, file.size()) << "the chunks do not fill the file";
    return chunks;
}

Bytes JoinIdat(const std::vector<RawChunk>& chunks) {
    Bytes out;
    for (const RawChunk& c : chunks) {
        if (c.type == "IDAT") out.insert(out.end(), c.data.begin(), c.data.end());
    }
    return out;
}

std::size_t RowBytes(std::uint32_t width, const Format& f) {
    return (static_cast<std::size_t>(width) * pngtest::Channels(f.colorType) * f.bitDepth + 7) / 8;
}

Image RandomImage(std::mt19937* rng, std::uint32_t width, std::uint32_t height, Format f) {
    Image image;
    image.width = width;
    image.height = height;
    image.colorType = f.colorType;
    image.bitDepth = f.bitDepth;
    std::uniform_int_distribution<int> byte(0, 255);
    std::uint32_t maxSample = (1u << f.bitDepth) - 1;
    if (f.colorType == 3) {
        // Fewer entries than the depth allows, so an index beyond them would show.
        const std::uint32_t entries = f.bitDepth == 1 ? 2 : (1u << f.bitDepth) - 1;
        for (std::uint32_t i = 0; i < entries; ++i) {
            image.palette.push_back({static_cast<std::uint8_t>(byte(*rng)),
                                     static_cast<std::uint8_t>(byte(*rng)),
                                     static_cast<std::uint8_t>(byte(*rng))});
        }
        for (std::uint32_t i = 0; i < entries / 2; ++i) {
            image.paletteAlpha.push_back(static_cast<std::uint8_t>(byte(*rng)));
        }
        maxSample = entries - 1;
    }
    std::uniform_int_distribution<std::uint32_t> sample(0, maxSample);
    const std::size_t count =
        static_cast<std::size_t>(width) * height * pngtest::Channels(f.colorType);
    for (std::size_t i = 0; i < count; ++i) {
        image.samples.push_back(static_cast<std::uint16_t>(sample(*rng)));
    }
    return image;
}

Bytes Ihdr(std::uint32_t width, std::uint32_t height, int bitDepth, int colorType,
           int interlace = 0) {
    Bytes data;
    AppendBe32(&data, width);
    AppendBe32(&data, height);
    data.push_back(static_cast<std::uint8_t>(bitDepth));
    data.push_back(static_cast<std::uint8_t>(colorType));
    data.push_back(0);
    data.push_back(0);
    data.push_back(static_cast<std::uint8_t>(interlace));
    return pngtest::Chunk("IHDR", data);
}

// A file from hand-filtered rows: IHDR, `extra` chunks, one IDAT, IEND.
Bytes HandFile(std::uint32_t width, std::uint32_t height, int bitDepth, int colorType,
               const Bytes& raw, const Bytes& extra = {}) {
    return Concat({pngtest::Signature(), Ihdr(width, height, bitDepth, colorType), extra,
                   pngtest::Chunk("IDAT", Zlib(raw)), pngtest::Chunk("IEND", {})});
}

Image MustDecode(const Bytes& file) {
    Image image;
    std::string error;
    EXPECT_TRUE(pngtest::Decode(file, &image, &error)) << error;
    return image;
}

TEST(PngTestCodec, ChannelsPerColourType) {
    EXPECT_EQ(pngtest::Channels(0), 1);
    EXPECT_EQ(pngtest::Channels(2), 3);
    EXPECT_EQ(pngtest::Channels(3), 1);
    EXPECT_EQ(pngtest::Channels(4), 2);
    EXPECT_EQ(pngtest::Channels(6), 4);
    EXPECT_EQ(pngtest::Channels(1), 0);
    EXPECT_EQ(pngtest::Signature(), Bytes({137, 80, 78, 71, 13, 10, 26, 10}));
}

TEST(PngTestCodec, ChunkLayout) {
    const Bytes chunk = pngtest::Chunk("tEXt", {'a', 0, 'b'});
    ASSERT_EQ(chunk.size(), 15u);
    EXPECT_EQ(Be32(chunk, 0), 3u);
    EXPECT_EQ(std::string(chunk.begin() + 4, chunk.begin() + 8), "tEXt");
    EXPECT_EQ(Bytes(chunk.begin() + 8, chunk.begin() + 11), Bytes({'a', 0, 'b'}));
    EXPECT_EQ(Be32(chunk, 11), static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, 7)));
    // The CRC of an empty IEND is a well-known constant.
    EXPECT_EQ(Be32(pngtest::Chunk("IEND", {}), 8), 0xAE426082u);
}

// Reader on hand-made rows: Sub with a 3-byte pixel, Up with wrap-around.
TEST(PngTestCodec, DecodesSubAndUpRows) {
    const Image image = MustDecode(HandFile(2, 2, 8, 2,
                                            {1, 10, 20, 30, 5, 5, 5,  //
                                             2, 1, 1, 1, 250, 250, 250}));
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.colorType, 2);
    EXPECT_EQ(image.bitDepth, 8);
    EXPECT_FALSE(image.interlaced);
    EXPECT_EQ(image.samples,
              std::vector<std::uint16_t>({10, 20, 30, 15, 25, 35, 11, 21, 31, 9, 19, 29}));
}

// Average must add in more than 8 bits: (107 + 255) / 2 = 181, not (362 & 255) / 2.
TEST(PngTestCodec, DecodesAverageWithoutOverflow) {
    const Image image = MustDecode(HandFile(2, 2, 8, 0, {0, 200, 255, 3, 7, 100}));
    EXPECT_EQ(image.samples, std::vector<std::uint16_t>({200, 255, 107, 25}));
}

// On the first row the row above counts as zeros for Up, Average and Paeth.
TEST(PngTestCodec, DecodesFirstRowAgainstZeros) {
    EXPECT_EQ(MustDecode(HandFile(2, 1, 8, 0, {2, 10, 20})).samples,
              std::vector<std::uint16_t>({10, 20}));
    EXPECT_EQ(MustDecode(HandFile(2, 1, 8, 0, {3, 10, 20})).samples,
              std::vector<std::uint16_t>({10, 25}));
    EXPECT_EQ(MustDecode(HandFile(2, 1, 8, 0, {4, 10, 20})).samples,
              std::vector<std::uint16_t>({10, 30}));
}

// Paeth rows whose ties decide the result: pb == pc picks b, pa == pc picks a.
TEST(PngTestCodec, DecodesPaethTies) {
    const Image image = MustDecode(HandFile(4, 2, 8, 0, {0, 10, 30, 0, 100, 4, 246, 60, 5, 250}));
    EXPECT_EQ(image.samples, std::vector<std::uint16_t>({10, 30, 0, 100, 0, 90, 95, 94}));
}

// Paeth and Sub on 16-bit samples step two bytes back, not one.
TEST(PngTestCodec, DecodesSixteenBitBigEndian) {
    const Image image =
        MustDecode(HandFile(2, 2, 16, 0, {1, 0x12, 0x34, 0x99, 0x99, 4, 1, 1, 0, 0}));
    EXPECT_EQ(image.samples, std::vector<std::uint16_t>({0x1234, 0xABCD, 0x1335, 0xABCD}));
    const Image rgb = MustDecode(HandFile(1, 1, 16, 2, {0, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01}));
    EXPECT_EQ(rgb.samples, std::vector<std::uint16_t>({0x1234, 0xABCD, 0x0001}));
}

TEST(PngTestCodec, DecodesSubByteDepths) {
    const Image bits = MustDecode(HandFile(10, 1, 1, 0, {0, 0xB3, 0x40}));
    EXPECT_EQ(bits.samples, std::vector<std::uint16_t>({1, 0, 1, 1, 0, 0, 1, 1, 0, 1}));
    const Image nibbles = MustDecode(HandFile(3, 1, 4, 0, {0, 0xA5, 0xF0}));
    EXPECT_EQ(nibbles.samples, std::vector<std::uint16_t>({10, 5, 15}));

    // 2-bit palette indices behind a Sub filter that works on whole bytes.
    const Bytes palette = pngtest::Chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const Bytes alpha = pngtest::Chunk("tRNS", {0, 128});
    const Image indexed =
        MustDecode(HandFile(5, 1, 2, 3, {1, 0x1B, 0x65}, Concat({palette, alpha})));
    EXPECT_EQ(indexed.samples, std::vector<std::uint16_t>({0, 1, 2, 3, 2}));
    using Rgb = std::array<std::uint8_t, 3>;
    EXPECT_EQ(indexed.palette,
              std::vector<Rgb>({Rgb{1, 2, 3}, Rgb{4, 5, 6}, Rgb{7, 8, 9}, Rgb{10, 11, 12}}));
    EXPECT_EQ(indexed.paletteAlpha, Bytes({0, 128}));
}

// IDAT split into one-byte chunks, with an unknown ancillary chunk before it.
TEST(PngTestCodec, DecodesSplitIdat) {
    const Bytes stream = Zlib({1, 10, 5, 4, 246, 250});
    Bytes file = Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0), pngtest::Chunk("prVt", {1, 2})});
    for (const std::uint8_t b : stream) {
        const Bytes chunk = pngtest::Chunk("IDAT", {b});
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    file = Concat({file, pngtest::Chunk("IEND", {})});
    // Row 1 Paeth: x=0 picks b=10 -> 0; x=1 a=0, b=15, c=10 -> p=5, picks a -> 250.
    EXPECT_EQ(MustDecode(file).samples, std::vector<std::uint16_t>({10, 15, 0, 250}));
}

TEST(PngTestCodec, DecodeRejectsMalformedFiles) {
    const Bytes goodRaw = {1, 10, 5, 4, 3, 250};
    const Bytes good = HandFile(2, 2, 8, 0, goodRaw);
    const Bytes iend = pngtest::Chunk("IEND", {});
    const Bytes idat = pngtest::Chunk("IDAT", Zlib(goodRaw));
    const Bytes plte = pngtest::Chunk("PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9});
    Bytes badSignature = good;
    badSignature[1] = 'Q';
    Bytes trailingZlib = Zlib(goodRaw);
    trailingZlib.push_back(0);
    const Bytes badUtf8 = {'K', 0, 0, 0, 0, 0, 'a', 0xC3, 0x28};

    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"bad signature", badSignature},
        {"interlaced", Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0, 1), idat, iend})},
        {"filter type 5", HandFile(2, 2, 8, 0, {5, 10, 5, 4, 3, 250})},
        {"one byte short", HandFile(2, 2, 8, 0, {1, 10, 5, 4, 3})},
        {"one byte too many", HandFile(2, 2, 8, 0, {1, 10, 5, 4, 3, 250, 0})},
        {"missing IEND", Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0), idat})},
        {"data after IEND", Concat({good, {0}})},
        {"chunk after IEND", Concat({good, pngtest::Chunk("tEXt", {'a', 0})})},
        {"no IDAT", Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0), iend})},
        {"first chunk not IHDR", Concat({pngtest::Signature(), pngtest::Chunk("tEXt", {'a', 0}),
                                         Ihdr(2, 2, 8, 0), idat, iend})},
        {"two IHDR",
         Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0), Ihdr(2, 2, 8, 0), idat, iend})},
        {"zero width", HandFile(0, 2, 8, 0, {0, 0})},
        {"RGB at 4 bits", HandFile(1, 1, 4, 2, {0, 0, 0})},
        {"palette at 16 bits", HandFile(1, 1, 16, 3, {0, 0, 0}, plte)},
        {"colour type 5", HandFile(1, 1, 8, 5, {0, 0})},
        {"palette picture without PLTE", HandFile(2, 1, 8, 3, {0, 0, 1})},
        {"palette index beyond PLTE", HandFile(2, 1, 8, 3, {0, 0, 3}, plte)},
        {"PLTE in a grey picture", HandFile(2, 2, 8, 0, goodRaw, plte)},
        {"PLTE length not a multiple of 3",
         HandFile(2, 1, 8, 3, {0, 0, 1}, pngtest::Chunk("PLTE", {1, 2, 3, 4}))},
        {"tRNS longer than PLTE",
         HandFile(2, 1, 8, 3, {0, 0, 1}, Concat({plte, pngtest::Chunk("tRNS", {1, 2, 3, 4})}))},
        {"tRNS in RGBA", HandFile(1, 1, 8, 6, {0, 1, 2, 3, 4}, pngtest::Chunk("tRNS", {0, 0}))},
        {"unknown critical chunk", HandFile(2, 2, 8, 0, goodRaw, pngtest::Chunk("ABCD", {}))},
        {"IDAT not consecutive",
         Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0),
                 pngtest::Chunk("IDAT", Bytes(idat.begin() + 8, idat.begin() + 12)),
                 pngtest::Chunk("tEXt", {'a', 0}),
                 pngtest::Chunk("IDAT", Bytes(idat.begin() + 12, idat.end() - 4)), iend})},
        {"data after the zlib stream", Concat({pngtest::Signature(), Ihdr(2, 2, 8, 0),
                                               pngtest::Chunk("IDAT", trailingZlib), iend})},
        {"empty keyword", HandFile(2, 2, 8, 0, goodRaw, pngtest::Chunk("tEXt", {0, 'x'}))},
        {"unterminated keyword", HandFile(2, 2, 8, 0, goodRaw, pngtest::Chunk("tEXt", {'x'}))},
        {"iTXt text not UTF-8", HandFile(2, 2, 8, 0, goodRaw, pngtest::Chunk("iTXt", badUtf8))},
        {"zTXt not zlib",
         HandFile(2, 2, 8, 0, goodRaw, pngtest::Chunk("zTXt", {'K', 0, 0, 1, 2, 3}))},
    };
    Image image;
    std::string error;
    ASSERT_TRUE(pngtest::Decode(good, &image, &error)) << error;
    for (const auto& [name, file] : cases) {
        error.clear();
        EXPECT_FALSE(pngtest::Decode(file, &image, &error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

TEST(PngTestCodec, RoundTripsEveryFormat) {
    std::mt19937 rng(20240611);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {7, 5}, {1, 1}, {1, 9}, {17, 3}, {64, 70}};
    for (const Format& f : kFormats) {
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE("colour type " + std::to_string(f.colorType) + " depth " +
                         std::to_string(f.bitDepth) + " size " + std::to_string(width) + "x" +
                         std::to_string(height));
            const Image in = RandomImage(&rng, width, height, f);
            const Bytes file = pngtest::Encode(in);
            Image out;
            std::string error;
            ASSERT_TRUE(pngtest::Decode(file, &out, &error)) << error;
            EXPECT_EQ(out.width, width);
            EXPECT_EQ(out.height, height);
            EXPECT_EQ(out.colorType, f.colorType);
            EXPECT_EQ(out.bitDepth, f.bitDepth);
            EXPECT_FALSE(out.interlaced);
            EXPECT_EQ(out.samples, in.samples);
            EXPECT_EQ(out.palette, in.palette);
            EXPECT_EQ(out.paletteAlpha, in.paletteAlpha);
            EXPECT_TRUE(out.texts.empty());
        }
    }
}

// The writer's stream read without the codec: filter bytes cycle 0..4, the
// rows have the right length, and IDAT is split into pieces of at most 8 KiB.
TEST(PngTestCodec, EncoderCyclesFiltersAndSplitsIdat) {
    std::mt19937 rng(7);
    for (const auto& [width, height] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{64, 70}, {7, 5}}) {
        const Format f{6, 16};
        const Bytes file = pngtest::Encode(RandomImage(&rng, width, height, f));
        const std::vector<RawChunk> chunks = Walk(file);
        ASSERT_GE(chunks.size(), 4u);
        EXPECT_EQ(chunks.front().type, "IHDR");
        EXPECT_EQ(chunks.back().type, "IEND");
        int idatCount = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            if (chunks[i].type != "IDAT") continue;
            ++idatCount;
            EXPECT_LE(chunks[i].data.size(), 8192u);
            EXPECT_FALSE(chunks[i].data.empty());
            if (idatCount > 1) {
                EXPECT_EQ(chunks[i - 1].type, "IDAT");
            }
        }
        EXPECT_GE(idatCount, 2);
        if (width == 64) {
            EXPECT_GE(idatCount, 5);  // random 16-bit samples barely compress
        }
        const std::size_t rowBytes = RowBytes(width, f);
        const Bytes raw = Unzlib(JoinIdat(chunks), height * (rowBytes + 1));
        ASSERT_EQ(raw.size(), height * (rowBytes + 1));
        for (std::uint32_t y = 0; y < height; ++y) {
            EXPECT_EQ(raw[y * (rowBytes + 1)], y % 5) << "row " << y;
        }
    }
}

struct PassGeometry {
    std::uint32_t x0, y0, dx, dy;
};
const PassGeometry kPasses[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// Each pass of an interlaced file is cut out of the zlib stream and decoded
// as a picture of its own, then compared with the pixels the pass must hold.
TEST(PngTestCodec, EncoderInterlacesPassByPass) {
    std::mt19937 rng(99);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes = {
        {13, 11}, {3, 2}, {1, 1}, {9, 17}, {5, 1}};
    for (const Format& f : kFormats) {
        for (const auto& [width, height] : sizes) {
            SCOPED_TRACE("colour type " + std::to_string(f.colorType) + " depth " +
                         std::to_string(f.bitDepth) + " size " + std::to_string(width) + "x" +
                         std::to_string(height));
            Image in = RandomImage(&rng, width, height, f);
            in.interlaced = true;
            const Bytes file = pngtest::Encode(in);
            const std::vector<RawChunk> chunks = Walk(file);
            ASSERT_FALSE(chunks.empty());
            ASSERT_EQ(chunks[0].type, "IHDR");
            EXPECT_EQ(chunks[0].data.at(12), 1);

            // The codec's reader turns interlaced files down.
            Image out;
            std::string error;
            EXPECT_FALSE(pngtest::Decode(file, &out, &error));

            const int channels = pngtest::Channels(f.colorType);
            std::size_t total = 0;
            for (const PassGeometry& p : kPasses) {
                const std::uint32_t pw = width > p.x0 ? (width - p.x0 + p.dx - 1) / p.dx : 0;
                const std::uint32_t ph = height > p.y0 ? (height - p.y0 + p.dy - 1) / p.dy : 0;
                if (pw != 0 && ph != 0) total += ph * (RowBytes(pw, f) + 1);
            }
            const Bytes raw = Unzlib(JoinIdat(chunks), total);
            ASSERT_EQ(raw.size(), total);

            std::size_t at = 0;
            for (const PassGeometry& p : kPasses) {
                const std::uint32_t pw = width > p.x0 ? (width - p.x0 + p.dx - 1) / p.dx : 0;
                const std::uint32_t ph = height > p.y0 ? (height - p.y0 + p.dy - 1) / p.dy : 0;
                if (pw == 0 || ph == 0) continue;
                const std::size_t size = ph * (RowBytes(pw, f) + 1);
                const Bytes pass(raw.begin() + at, raw.begin() + at + size);
                for (std::uint32_t r = 0; r < ph; ++r) {
                    EXPECT_EQ(pass[r * (RowBytes(pw, f) + 1)], r % 5);
                }
                Bytes extra;
                if (f.colorType == 3) {
                    Bytes plte;
                    for (const auto& e : in.palette) plte.insert(plte.end(), e.begin(), e.end());
                    extra = pngtest::Chunk("PLTE", plte);
                }
                const Image sub =
                    MustDecode(HandFile(pw, ph, f.bitDepth, f.colorType, pass, extra));
                std::vector<std::uint16_t> expected;
                for (std::uint32_t y = p.y0; y < height; y += p.dy) {
                    for (std::uint32_t x = p.x0; x < width; x += p.dx) {
                        for (int c = 0; c < channels; ++c) {
                            expected.push_back(in.samples[(y * width + x) * channels + c]);
                        }
                    }
                }
                EXPECT_EQ(sub.samples, expected);
                at += size;
            }
            EXPECT_EQ(at, raw.size());
        }
    }
}

TEST(PngTestCodec, TextChunksRoundTrip) {
    std::mt19937 rng(3);
    Image in = RandomImage(&rng, 3, 2, {2, 8});
    const std::string longText(5000, 'z');
    in.texts = {{"tEXt", "Comment", "caf\xE9 au lait"},
                {"zTXt", "Description", "compressed caf\xE9"},
                {"iTXt", "Title",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e \xE2\x9C\x93"},
                {"tEXt", "Empty", ""},
                {"zTXt", "Long", longText},
                {"iTXt", "Author", ""}};
    const Bytes file = pngtest::Encode(in);

    // Layout read without the codec.
    bool idatSeen = false;
    std::size_t textIndex = 0;
    for (const RawChunk& c : Walk(file)) {
        if (c.type == "IDAT") idatSeen = true;
        if (c.type != "tEXt" && c.type != "zTXt" && c.type != "iTXt") continue;
        EXPECT_FALSE(idatSeen) << "text chunk after IDAT";
        ASSERT_LT(textIndex, in.texts.size());
        const pngtest::TextChunk& t = in.texts[textIndex++];
        EXPECT_EQ(c.type, t.type);
        const Bytes head = Concat({Bytes(t.keyword.begin(), t.keyword.end()), {0}});
        ASSERT_GE(c.data.size(), head.size());
        EXPECT_EQ(Bytes(c.data.begin(), c.data.begin() + head.size()), head);
        Bytes rest(c.data.begin() + head.size(), c.data.end());
        if (c.type == "tEXt") {
            EXPECT_EQ(std::string(rest.begin(), rest.end()), t.text);
            continue;
        }
        const std::size_t skip = c.type == "zTXt" ? 1 : 4;
        ASSERT_GE(rest.size(), skip);
        const Bytes fields(rest.begin(), rest.begin() + skip);
        EXPECT_EQ(fields, c.type == "zTXt" ? Bytes{0} : Bytes({1, 0, 0, 0}));
        const Bytes text = Unzlib(Bytes(rest.begin() + skip, rest.end()), t.text.size());
        EXPECT_EQ(std::string(text.begin(), text.end()), t.text);
    }
    EXPECT_EQ(textIndex, in.texts.size());
    EXPECT_LT(file.size(), 1000u) << "the long zTXt text was not compressed";

    const Image out = MustDecode(file);
    ASSERT_EQ(out.texts.size(), in.texts.size());
    for (std::size_t i = 0; i < in.texts.size(); ++i) {
        EXPECT_EQ(out.texts[i].type, in.texts[i].type) << i;
        EXPECT_EQ(out.texts[i].keyword, in.texts[i].keyword) << i;
        EXPECT_EQ(out.texts[i].text, in.texts[i].text) << i;
    }
    EXPECT_EQ(out.samples, in.samples);

    // Uncompressed iTXt with a language tag is read too.
    const Bytes plain = {'K', 0, 0, 0, 'd', 'e', 0, 'S', 0xC3, 0xBC, 0, 'x', 0xC3, 0xBC};
    const Image withPlain = MustDecode(HandFile(1, 1, 8, 0, {0, 0}, pngtest::Chunk("iTXt", plain)));
    ASSERT_EQ(withPlain.texts.size(), 1u);
    EXPECT_EQ(withPlain.texts[0].keyword, "K");
    EXPECT_EQ(withPlain.texts[0].text, "x\xC3\xBC");
}

Bytes FileWithEverything() {
    std::mt19937 rng(11);
    Image in = RandomImage(&rng, 6, 4, {3, 4});
    in.texts = {{"tEXt", "Comment", "hello"}, {"zTXt", "Note", "zipped"}, {"iTXt", "T", "u"}};
    return pngtest::Encode(in);
}

TEST(PngTestCodec, DecodeRejectsEveryDamagedCrc) {
    const Bytes file = FileWithEverything();
    Image image;
    std::string error;
    ASSERT_TRUE(pngtest::Decode(file, &image, &error)) << error;
    const std::vector<RawChunk> chunks = Walk(file);
    std::string types;
    for (const RawChunk& c : chunks) {
        if (types.size() < 4 || types.compare(types.size() - 4, 4, c.type) != 0) types += c.type;
    }
    ASSERT_EQ(types, "IHDRPLTEtRNStEXtzTXtiTXtIDATIEND");
    for (const RawChunk& c : chunks) {
        const std::size_t crcAt = c.offset + 8 + c.data.size();
        Bytes badCrc = file;
        badCrc[crcAt + 3] ^= 0x01;
        error.clear();
        EXPECT_FALSE(pngtest::Decode(badCrc, &image, &error)) << c.type << " CRC";
        EXPECT_NE(error.find("CRC"), std::string::npos) << error;

        // A damaged byte inside the chunk (its last one, or its type for IEND).
        Bytes badData = file;
        badData[c.data.empty() ? c.offset + 5 : crcAt - 1] ^= 0x10;
        error.clear();
        EXPECT_FALSE(pngtest::Decode(badData, &image, &error)) << c.type << " data";
        EXPECT_NE(error.find("CRC"), std::string::npos) << error;
    }
}

TEST(PngTestCodec, DecodeRejectsEveryTruncation) {
    const Bytes file = FileWithEverything();
    Image image;
    std::string error;
    ASSERT_TRUE(pngtest::Decode(file, &image, &error)) << error;
    for (std::size_t size = 0; size < file.size(); ++size) {
        error.clear();
        EXPECT_FALSE(pngtest::Decode(Bytes(file.begin(), file.begin() + size), &image, &error))
            << "accepted the first " << size << " of " << file.size() << " bytes";
        EXPECT_FALSE(error.empty());
    }
}

TEST(PngTestCodec, EncodeRefusesPixelsItCannotLayOut) {
    Image image;
    image.width = 2;
    image.height = 1;
    image.colorType = 0;
    image.bitDepth = 4;
    image.samples = {15, 0};
    EXPECT_NO_THROW(pngtest::Encode(image));
    image.samples = {16, 0};
    EXPECT_THROW(pngtest::Encode(image), std::invalid_argument);
    image.samples = {1, 2, 3};
    EXPECT_THROW(pngtest::Encode(image), std::invalid_argument);
    image.colorType = 2;
    image.samples = {1, 2, 3, 4, 5, 6};
    EXPECT_THROW(pngtest::Encode(image), std::invalid_argument);  // RGB at 4 bits
    image.colorType = 7;
    EXPECT_THROW(pngtest::Encode(image), std::invalid_argument);
    image.colorType = 0;
    image.bitDepth = 8;
    image.samples = {1, 2};
    image.texts = {{"xTXt", "K", "v"}};
    EXPECT_THROW(pngtest::Encode(image), std::invalid_argument);
}

// --- Comparison with an external decoder, when the system has one. ---

std::string ConvertTool() {
    for (const char* path : {"/usr/bin/convert", "/usr/local/bin/convert"}) {
        if (access(path, X_OK) == 0) return path;
    }
    return "";
}

struct Ppm {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint16_t> samples;
};

// Reads a binary P6 file with maxval 65535 (two big-endian bytes a sample).
bool ReadPpm16(const std::string& path, Ppm* ppm) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t pos = 0;
    auto skipSpace = [&]() {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            } else if (std::isspace(bytes[pos])) {
                ++pos;
            } else {
                break;
            }
        }
    };
    auto number = [&](std::uint32_t* value) {
        skipSpace();
        if (pos >= bytes.size() || !std::isdigit(bytes[pos])) return false;
        *value = 0;
        while (pos < bytes.size() && std::isdigit(bytes[pos]))
            *value = *value * 10 + (bytes[pos++] - '0');
        return true;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') return false;
    pos = 2;
    std::uint32_t maxval = 0;
    if (!number(&ppm->width) || !number(&ppm->height) || !number(&maxval)) return false;
    if (maxval != 65535 || pos >= bytes.size() || !std::isspace(bytes[pos])) return false;
    ++pos;
    const std::size_t count = std::size_t{ppm->width} * ppm->height * 3;
    if (bytes.size() - pos != count * 2) return false;
    ppm->samples.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        ppm->samples[i] =
            static_cast<std::uint16_t>(bytes[pos + 2 * i] << 8 | bytes[pos + 2 * i + 1]);
    }
    return true;
}

// Writes `png`, has the external tool turn it into a 16-bit PPM and reads that.
bool ExternalDecode(const std::string& tool, const Bytes& png, Ppm* ppm) {
    static int counter = 0;
    const std::string base = ::testing::TempDir() + "pngtest_" + std::to_string(getpid()) + "_" +
                             std::to_string(counter++);
    const std::string pngPath = base + ".png";
    const std::string ppmPath = base + ".ppm";
    {
        std::ofstream out(pngPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(png.data()),
                  static_cast<std::streamsize>(png.size()));
    }
    const std::string command =
        tool + " '" + pngPath + "' -depth 16 'PPM:" + ppmPath + "' 2>/dev/null";
    const int rc = std::system(command.c_str());
    const bool ok = rc == 0 && ReadPpm16(ppmPath, ppm);
    std::remove(pngPath.c_str());
    std::remove(ppmPath.c_str());
    return ok;
}

TEST(PngTestCodec, ExternalDecoderAgreesOnInterlacedSixteenBitRgb) {
    const std::string tool = ConvertTool();
    if (tool.empty()) GTEST_SKIP() << "no convert tool installed";
    std::mt19937 rng(16);
    for (const auto& [width, height] :
         std::vector<std::pair<std::uint32_t, std::uint32_t>>{{13, 11}, {3, 2}, {1, 1}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        Image in = RandomImage(&rng, width, height, {2, 16});
        in.interlaced = true;
        Ppm ppm;
        ASSERT_TRUE(ExternalDecode(tool, pngtest::Encode(in), &ppm));
        EXPECT_EQ(ppm.width, width);
        EXPECT_EQ(ppm.height, height);
        EXPECT_EQ(ppm.samples, in.samples);
    }
}

TEST(PngTestCodec, ExternalDecoderAgreesOnFourBitPalette) {
    const std::string tool = ConvertTool();
    if (tool.empty()) GTEST_SKIP() << "no convert tool installed";
    std::mt19937 rng(4);
    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "progressive");
        Image in = RandomImage(&rng, 9, 7, {3, 4});
        in.paletteAlpha.clear();  // the PPM has no alpha to compare
        in.interlaced = interlaced;
        std::vector<std::uint16_t> colours;
        for (const std::uint16_t index : in.samples) {
            for (const std::uint8_t v : in.palette.at(index)) colours.push_back(v * 257);
        }
        Ppm ppm;
        ASSERT_TRUE(ExternalDecode(tool, pngtest::Encode(in), &ppm));
        EXPECT_EQ(ppm.width, 9u);
        EXPECT_EQ(ppm.height, 7u);
        EXPECT_EQ(ppm.samples, colours);
    }
}

}  // namespace
