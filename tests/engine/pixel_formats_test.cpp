// Colour reduction checked on uniform pictures whose averaged samples, and so
// tone values, are known exactly.
#include "engine/pixel_formats.h"

#include <array>
#include <map>
#include <set>

#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

// With exponent 1.0 the tone of sample s is trunc(s * 65535 / 65536); this is
// the sample whose tone is exactly `tone`.
std::uint16_t SampleForTone(std::uint32_t tone) {
    return static_cast<std::uint16_t>(tone == 0 ? 0 : tone + 1);
}

struct Bmp {
    std::vector<std::uint8_t> bytes;
    std::uint32_t offBits, stride;
    const std::uint8_t* Row(std::uint32_t y) const { return bytes.data() + offBits + y * stride; }
};

Bmp ConvertUniform(std::uint32_t w, std::uint32_t h, std::uint32_t mode, std::uint16_t b,
                   std::uint16_t g, std::uint16_t r) {
    test::WritePicture("uniform.rq6", test::UniformPicture(7, 5, b, g, r));
    const auto result = test::Convert("uniform.rq6", "uniform.bmp", 1.0, w, h, mode);
    EXPECT_EQ(result.status, 0u);
    Bmp bmp{test::ReadBytes("uniform.bmp"), 0, OutputStride(mode, w)};
    bmp.offBits = bmp.bytes[10] | bmp.bytes[11] << 8;
    EXPECT_EQ(bmp.bytes.size(), bmp.offBits + bmp.stride * h);
    return bmp;
}

// The palette index or level of pixel x in a row of a palette mode.
unsigned Pixel(const std::uint8_t* row, std::uint32_t x, std::uint32_t mode) {
    switch (mode) {
        case 1: return (row[x / 8] >> (7 - x % 8)) & 1;
        case 4:
        case 5: return x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
        default: return row[x];
    }
}

std::map<unsigned, int> Histogram(const Bmp& bmp, std::uint32_t w, std::uint32_t h, std::uint32_t mode) {
    std::map<unsigned, int> counts;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) ++counts[Pixel(bmp.Row(y), x, mode)];
    return counts;
}

TEST(DitherMatrix, MatchesTheOrderedThresholds) {
    std::uint8_t m[256];
    BuildDitherMatrix(m);
    for (int k = 0; k < 256; ++k) EXPECT_EQ(m[k], test::kExpectedDither[k]) << k;
    std::map<int, int> counts;
    for (int k = 0; k < 256; ++k) ++counts[m[k]];
    for (int v = 4; v <= 251; ++v) EXPECT_EQ(counts[v], v >= 124 && v <= 131 ? 2 : 1) << v;
}

TEST(PixelFormats, BlackGivesTheLowestLevelInEveryMode) {
    const std::map<std::uint32_t, unsigned> expected = {{1, 0}, {4, 0}, {5, 0}, {8, 16}, {9, 0}};
    for (const auto& [mode, index] : expected) {
        const Bmp bmp = ConvertUniform(32, 32, mode, 0, 0, 0);
        EXPECT_EQ(Histogram(bmp, 32, 32, mode), (std::map<unsigned, int>{{index, 1024}})) << mode;
    }
    for (std::uint32_t mode : {16u, 24u}) {
        const Bmp bmp = ConvertUniform(32, 32, mode, 0, 0, 0);
        for (std::uint32_t y = 0; y < 32; ++y)
            for (std::uint32_t i = 0; i < 96; ++i) ASSERT_EQ(bmp.Row(y)[i], 0) << mode;
    }
}

TEST(PixelFormats, WhiteReachesTheTopLevelDespiteTheCurveEndingBelowFullScale) {
    const std::map<std::uint32_t, unsigned> expected = {{1, 1}, {4, 15}, {5, 15}, {8, 255}, {9, 255}};
    for (const auto& [mode, index] : expected) {
        const Bmp bmp = ConvertUniform(32, 32, mode, 65535, 65535, 65535);
        EXPECT_EQ(Histogram(bmp, 32, 32, mode), (std::map<unsigned, int>{{index, 1024}})) << mode;
    }
    for (std::uint32_t mode : {16u, 24u}) {
        const Bmp bmp = ConvertUniform(32, 32, mode, 65535, 65535, 65535);
        for (std::uint32_t y = 0; y < 32; ++y)
            for (std::uint32_t i = 0; i < 96; ++i) ASSERT_EQ(bmp.Row(y)[i], 255) << mode;
    }
}

TEST(PixelFormats, MidGreySplitsBetweenNeighbouringLevels) {
    const std::uint16_t s = SampleForTone(32768);
    EXPECT_EQ(Histogram(ConvertUniform(32, 32, 1, s, s, s), 32, 32, 1),
              (std::map<unsigned, int>{{0, 512}, {1, 512}}));
    EXPECT_EQ(Histogram(ConvertUniform(32, 32, 9, s, s, s), 32, 32, 9),
              (std::map<unsigned, int>{{127, 512}, {128, 512}}));
    EXPECT_EQ(Histogram(ConvertUniform(32, 32, 4, s, s, s), 32, 32, 4),
              (std::map<unsigned, int>{{7, 512}, {8, 512}}));
    EXPECT_EQ(Histogram(ConvertUniform(32, 32, 5, s, s, s), 32, 32, 5),
              (std::map<unsigned, int>{{8, 1024}}));
    EXPECT_EQ(Histogram(ConvertUniform(32, 32, 8, s, s, s), 32, 32, 8),
              (std::map<unsigned, int>{{131, 512}, {140, 512}}));
}

TEST(PixelFormats, MonoWhitePixelsAreThoseWithThresholdsOf128AndMore) {
    const std::uint16_t s = SampleForTone(32768);
    const Bmp bmp = ConvertUniform(16, 17, 1, s, s, s);
    for (std::uint32_t y = 0; y < 17; ++y) {
        for (std::uint32_t x = 0; x < 16; ++x) {
            EXPECT_EQ(Pixel(bmp.Row(y), x, 1), test::kExpectedDither[16 * (y % 16) + x] >= 128 ? 1u : 0u)
                << x << "," << y;
        }
    }
    // The 17th row written repeats the first.
    EXPECT_EQ(std::vector<std::uint8_t>(bmp.Row(16), bmp.Row(16) + 4),
              std::vector<std::uint8_t>(bmp.Row(0), bmp.Row(0) + 4));
    // Darkest and brightest tones that stay uniform.
    EXPECT_EQ(Histogram(ConvertUniform(16, 16, 1, SampleForTone(1279), SampleForTone(1279), SampleForTone(1279)), 16, 16, 1),
              (std::map<unsigned, int>{{0, 256}}));
    EXPECT_EQ(Histogram(ConvertUniform(16, 16, 1, SampleForTone(64512), SampleForTone(64512), SampleForTone(64512)), 16, 16, 1),
              (std::map<unsigned, int>{{1, 256}}));
}

TEST(PixelFormats, PureRedMapsToTheRedEntries) {
    const Bmp system = ConvertUniform(32, 32, 4, 0, 0, 65535);
    EXPECT_EQ(Histogram(system, 32, 32, 4), (std::map<unsigned, int>{{9, 1024}}));
    const Bmp color = ConvertUniform(32, 32, 8, 0, 0, 65535);
    EXPECT_EQ(Histogram(color, 32, 32, 8), (std::map<unsigned, int>{{23, 1024}}));
}

TEST(PixelFormats, HighColourUsesOnlyFiveAndSixBitLevels) {
    std::mt19937 rng(3);
    const test::Picture picture = test::RandomPicture(40, 40, rng);
    test::WritePicture("random.rq6", picture);
    ASSERT_EQ(test::Convert("random.rq6", "random.bmp", 1.0, 33, 29, 16).status, 0u);
    const auto bytes = test::ReadBytes("random.bmp");
    const std::uint32_t stride = OutputStride(16, 33);
    std::set<int> seen;
    for (std::uint32_t y = 0; y < 29; ++y) {
        for (std::uint32_t x = 0; x < 33; ++x) {
            const std::uint8_t* px = bytes.data() + 54 + y * stride + 3 * x;
            EXPECT_TRUE(px[0] % 16 == 0 || px[0] % 16 == 15);
            EXPECT_TRUE(px[1] % 8 == 0 || px[1] % 8 == 7);
            EXPECT_TRUE(px[2] % 16 == 0 || px[2] % 16 == 15);
            seen.insert(px[1]);
        }
        // 33 pixels make 99 bytes; the fill byte is zero.
        EXPECT_EQ(bytes[54 + y * stride + 99], 0);
    }
    EXPECT_GT(seen.size(), 20u);
}

TEST(PixelFormats, FullColourIgnoresTheMatrix) {
    const Bmp bmp = ConvertUniform(21, 18, 24, 1000, 30000, 60000);
    for (std::uint32_t y = 0; y < 18; ++y) {
        for (std::uint32_t x = 0; x < 21; ++x) {
            EXPECT_EQ(bmp.Row(y)[3 * x], test::ReferenceTone(1.0, 1000) >> 8);
            EXPECT_EQ(bmp.Row(y)[3 * x + 1], test::ReferenceTone(1.0, 30000) >> 8);
            EXPECT_EQ(bmp.Row(y)[3 * x + 2], test::ReferenceTone(1.0, 60000) >> 8);
        }
        EXPECT_EQ(bmp.Row(y)[63], 0);  // the fill byte of a width that is not a multiple of 4
    }
}

TEST(PixelFormats, MonoRowOf204PixelsPacksIntoHighBitsAndZeroFill) {
    const Bmp bmp = ConvertUniform(204, 3, 1, 65535, 65535, 65535);
    ASSERT_EQ(bmp.stride, 28u);
    for (std::uint32_t y = 0; y < 3; ++y) {
        for (int i = 0; i < 25; ++i) EXPECT_EQ(bmp.Row(y)[i], 0xFF);
        EXPECT_EQ(bmp.Row(y)[25], 0xF0);
        EXPECT_EQ(bmp.Row(y)[26], 0);
        EXPECT_EQ(bmp.Row(y)[27], 0);
    }
}

TEST(PixelFormats, OddWidthNibbleRowsEndInAZeroLowNibble) {
    const Bmp bmp = ConvertUniform(205, 2, 5, 65535, 65535, 65535);
    ASSERT_EQ(bmp.stride, 104u);
    EXPECT_EQ(bmp.Row(0)[101], 0xFF);
    EXPECT_EQ(bmp.Row(0)[102], 0xF0);
    EXPECT_EQ(bmp.Row(0)[103], 0);
}

}  // namespace
