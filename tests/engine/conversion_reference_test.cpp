// Whole conversions compared byte for byte with the plain reference.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/bitmap_headers.h"
#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

const std::uint32_t kModes[] = {1, 4, 5, 8, 9, 16, 24, 48};

// `picture` is what in.rq6 holds; with a crop, the job converts that part of
// it and must write what the reference writes for the part alone.
void ExpectSameAsReference(const test::Picture& picture, double exponent, std::uint32_t w,
                           std::uint32_t h, std::uint32_t mode, const test::Crop* crop = nullptr) {
    const SourceRect source =
        crop ? SourceRect{crop->left, crop->top, crop->width, crop->height} : SourceRect{};
    const auto expected =
        test::ReferenceBmp(crop ? test::Cropped(picture, *crop) : picture, exponent, w, h, mode);
    const std::string what = std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                             " -> " + std::to_string(w) + "x" + std::to_string(h) + " mode " +
                             std::to_string(mode) + " exponent " + std::to_string(exponent);
    // The rows any output is given: those of the reference bitmap. (A 16-bit
    // conversion has no bitmap of its own; its rows follow the same headers.)
    test::MemoryRows rows;
    const auto fromMemory =
        test::ConvertFromMemory(test::ReadBytes("in.rq6"), &rows, exponent, w, h, mode, source);
    ASSERT_EQ(fromMemory.status, 0u) << what;
    ASSERT_EQ(fromMemory.linesDone, h) << what;
    const std::size_t offBits = bmp::Get32(expected.data(), bmp::kBfOffBits);
    ASSERT_TRUE(std::equal(rows.rows.begin(), rows.rows.end(), expected.begin() + offBits,
                           expected.end()))
        << what;
    if (mode == kModeDeepColor) return;
    // And the whole file the bitmap writer makes of them.
    const auto result = test::Convert("in.rq6", "out.bmp", exponent, w, h, mode, source);
    ASSERT_EQ(result.status, 0u);
    ASSERT_EQ(result.linesDone, h);
    const auto actual = test::ReadBytes("out.bmp");
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i], expected[i]) << "byte " << i << " of " << what;
    }
}

TEST(ConversionMatchesReference, RandomPicturesAllModesAndShapes) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<std::uint32_t> side(1, 37);
    const double exponents[] = {1.0, 0.4, 2.5, 0.7937005259840998, 0.0001, 5000.0};
    for (int trial = 0; trial < 60; ++trial) {
        const test::Picture picture = test::RandomPicture(side(rng), side(rng), rng);
        test::WritePicture("in.rq6", picture);
        // Reduction, enlargement, mixed, equal and 1 x 1 outputs.
        const std::uint32_t w = trial % 10 == 0 ? 1 : trial % 10 == 1 ? picture.width : side(rng) + (trial % 3 == 0 ? 40 : 0);
        const std::uint32_t h = trial % 10 == 0 ? 1 : trial % 10 == 1 ? picture.height : side(rng);
        for (std::uint32_t mode : kModes) {
            ExpectSameAsReference(picture, exponents[trial % 6], w, h, mode);
        }
    }
}

TEST(ConversionMatchesReference, CoverRectGivesEveryHandWorkedCrop) {
    for (std::size_t i = 0; i < test::kCoverCaseCount; ++i) {
        const test::CoverCase& c = test::kCoverCases[i];
        const SourceRect r = CoverRect(c.size[0], c.size[1], c.size[2], c.size[3]);
        EXPECT_EQ((std::vector<std::uint32_t>{r.left, r.top, r.width, r.height}),
                  (std::vector<std::uint32_t>{c.crop.left, c.crop.top, c.crop.width, c.crop.height}))
            << c.size[0] << "x" << c.size[1] << " into " << c.size[2] << "x" << c.size[3];
    }
}

TEST(ConversionMatchesReference, CoverCropsConvertAsIfTheFileHeldOnlyTheCrop) {
    std::mt19937 rng(1207);
    std::uniform_int_distribution<std::uint32_t> side(1, 40);
    const double exponents[] = {1.0, 0.4, 2.5, 1.3};
    // {W, H, w, h}: portrait, ultrawide, slivers both ways, crops of one
    // pixel, proportions that agree exactly (no crop), odd differences.
    const std::uint32_t shapes[][4] = {
        {32, 24, 9, 16},  {32, 24, 21, 9}, {40, 30, 1, 37}, {40, 30, 37, 1},  {1, 30, 5, 3},
        {30, 1, 3, 5},    {2, 31, 40, 1},  {31, 2, 1, 40},  {32, 24, 64, 48}, {33, 24, 16, 12},
        {31, 24, 16, 12}, {24, 32, 3, 4},  {7, 5, 2, 3},    {5, 7, 3, 2},
    };
    int trial = 0;
    auto check = [&](std::uint32_t W, std::uint32_t H, std::uint32_t w, std::uint32_t h) {
        const test::Picture picture = test::RandomPicture(W, H, rng);
        test::WritePicture("in.rq6", picture);
        // The crop rule itself is checked against the hand-worked table
        // below; here the engine's crop of random sizes must convert right.
        const SourceRect rect = CoverRect(W, H, w, h);
        const test::Crop crop{rect.left, rect.top, rect.width, rect.height};
        for (std::uint32_t mode : kModes) {
            ExpectSameAsReference(picture, exponents[trial % 4], w, h, mode, &crop);
        }
        ++trial;
    };
    for (const auto& s : shapes) check(s[0], s[1], s[2], s[3]);
    for (int i = 0; i < 30; ++i) check(side(rng), side(rng), side(rng), side(rng));
}

TEST(ConversionMatchesReference, SmoothGradientThroughEveryMode) {
    // A gentle ramp exercises every quantiser level rather than noise.
    test::Picture p{67, 41, {}};
    for (std::uint32_t y = 0; y < p.height; ++y) {
        for (std::uint32_t x = 0; x < p.width; ++x) {
            p.bgr.push_back(static_cast<std::uint16_t>(x * 65535 / (p.width - 1)));
            p.bgr.push_back(static_cast<std::uint16_t>(y * 65535 / (p.height - 1)));
            p.bgr.push_back(static_cast<std::uint16_t>((x + y) * 65535 / (p.width + p.height - 2)));
        }
    }
    test::WritePicture("in.rq6", p);
    for (std::uint32_t mode : kModes) {
        ExpectSameAsReference(p, 1.0, 67, 41, mode);
        ExpectSameAsReference(p, 1.3, 40, 30, mode);
        ExpectSameAsReference(p, 0.6, 101, 77, mode);
    }
}

TEST(ConversionMatchesReference, ExtremeReductionWherePixelsCarryNoWeight) {
    // 600 input pixels into 2: each carries under one unit, many none.
    std::mt19937 rng(5);
    const test::Picture picture = test::RandomPicture(600, 3, rng);
    test::WritePicture("in.rq6", picture);
    ExpectSameAsReference(picture, 1.0, 2, 2, 24);
    ExpectSameAsReference(picture, 1.0, 1, 5, 9);
    const test::Picture tall = test::RandomPicture(2, 700, rng);
    test::WritePicture("in.rq6", tall);
    ExpectSameAsReference(tall, 1.0, 3, 2, 24);
}

}  // namespace
