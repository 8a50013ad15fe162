#include "engine/resampler.h"

#include <random>
#include <vector>

#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"

namespace {

std::vector<int> List(std::uint32_t n, std::uint32_t m) {
    std::vector<std::uint16_t> list(n + m, 0xFFFF);
    BuildWeightList(n, m, list.data());
    return std::vector<int>(list.begin(), list.end());
}

TEST(WeightList, SmallCasesSpelledOut) {
    EXPECT_EQ(List(1, 1), (std::vector<int>{256, 0}));
    EXPECT_EQ(List(3, 1), (std::vector<int>{85, 86, 85, 0}));
    EXPECT_EQ(List(2, 3), (std::vector<int>{256, 128, 128, 256, 0}));
    EXPECT_EQ(List(1, 4), (std::vector<int>{256, 256, 256, 256, 0}));
    EXPECT_EQ(List(4, 4), (std::vector<int>{256, 0, 256, 0, 256, 0, 256, 0}));
}

TEST(WeightList, WholeFactorReductionTakesSixteenPixelsAtSixteen) {
    const auto list = List(3200, 200);
    ASSERT_EQ(list.size(), 3400u);
    // Per output pixel: 15 trailing entries of 16, a completing 16, then a trailing 0.
    for (std::size_t o = 0; o < 200; ++o) {
        for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(list[17 * o + k], 16);
        EXPECT_EQ(list[17 * o + 16], 0);
    }
}

TEST(WeightList, FractionalReductionSpreadsTheRemainder) {
    // 3200 -> 1024: q = 81, r = 2944, so 2944 input pixels carry 82 units.
    int heavy = 0;
    for (std::uint32_t i = 0; i < 3200; ++i) {
        std::uint32_t units = 0;
        for (std::uint32_t x = 0; x < 1024; ++x) units += test::ReferenceWeight(3200, 1024, i, x);
        ASSERT_TRUE(units == 81 || units == 82) << i;
        heavy += units == 82;
    }
    EXPECT_EQ(heavy, 2944);
}

// Reads a list back as a matrix of weights and checks it against the overlaps
// of the units each input pixel carries.
TEST(WeightList, AgreesWithIntervalOverlapsForManySizes) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<std::uint32_t> size(1, 600);
    for (int trial = 0; trial < 120; ++trial) {
        const std::uint32_t n = trial < 30 ? trial + 1 : size(rng);
        const std::uint32_t m = trial < 30 ? 31 - trial : size(rng);
        const auto list = List(n, m);
        ASSERT_EQ(list.back(), 0) << n << "->" << m;
        // Walk the list as the resampler does.
        std::size_t k = 0;
        std::uint32_t i = 0;
        for (std::uint32_t x = 0; x < m; ++x) {
            int rest = 256;
            std::vector<std::uint32_t> got(n, 0);
            for (;;) {
                got[i] += static_cast<std::uint32_t>(list[k]);
                rest -= list[k++];
                ASSERT_GE(rest, 0);
                if (rest == 0) break;
                ++i;
                ASSERT_LT(i, n);
            }
            for (std::uint32_t j = 0; j < n; ++j) {
                ASSERT_EQ(got[j], test::ReferenceWeight(n, m, j, x)) << n << "->" << m << " x=" << x << " i=" << j;
            }
        }
        // What is left unused are trailing zeros of pixels that carry nothing.
        for (; k < list.size(); ++k) EXPECT_EQ(list[k], 0) << n << "->" << m;
    }
}

}  // namespace
