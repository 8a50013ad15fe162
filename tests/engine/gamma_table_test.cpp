#include "engine/gamma_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

std::vector<int> Entries(const std::uint8_t* t) { return std::vector<int>(t, t + 256); }

TEST(ContrastTable, PositionsMapToExponentsFromPointFourToTwoPointFive) {
    const ContrastTable table;
    const std::pair<int, const char*> shown[] = {
        {0, "0.400"}, {64, "0.632"}, {128, "1.000"}, {192, "1.581"}, {256, "2.500"}};
    for (const auto& [position, text] : shown) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%1.3f", table.exponent[position]);
        EXPECT_EQ(std::string(buf), text) << position;
    }
    EXPECT_EQ(table.exponent[128], 1.0);
    for (int i = 1; i < ContrastTable::kPositions; ++i) {
        EXPECT_LT(table.exponent[i - 1], table.exponent[i]) << i;
    }
}

TEST(CGammaCB, IdentityCurveIsTruncatedLinear) {
    CGammaCB curve;
    const std::uint8_t* t = curve.Build(1.0, 0, 255, 0, 256);
    ASSERT_NE(t, nullptr);
    for (int k = 0; k < 256; ++k) EXPECT_EQ(t[k], 255 * k / 256) << k;
    EXPECT_EQ(t[255], 254);
}

TEST(CGammaCB, ExponentIsClampedIntoItsRange) {
    CGammaCB curve;
    for (double tiny : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN(), 0.0005}) {
        const auto t = Entries(curve.Build(tiny, 0, 255, 0, 256));
        EXPECT_EQ(t[0], 0);
        EXPECT_EQ(t[1], 253);
        EXPECT_EQ(t[2], 253);
        EXPECT_EQ(t[253], 254);
        EXPECT_EQ(t[255], 254);
        EXPECT_EQ(curve.lastExponent, 0.001);
    }
    const auto huge = Entries(curve.Build(5000.0, 0, 255, 0, 256));
    for (int k = 0; k < 255; ++k) EXPECT_EQ(huge[k], 0) << k;
    EXPECT_EQ(huge[255], 5);
    EXPECT_EQ(curve.lastExponent, 1000.0);
}

TEST(CGammaCB, LengthAndStartAreClamped) {
    CGammaCB curve;
    auto t = Entries(curve.Build(1.0, 0, 255, 0, 0));
    EXPECT_EQ(t[0], 0);
    for (int k = 1; k < 256; ++k) EXPECT_EQ(t[k], 255);

    t = Entries(curve.Build(1.0, 0, 255, 0, 4));
    EXPECT_EQ((std::vector<int>(t.begin(), t.begin() + 5)), (std::vector<int>{0, 63, 127, 191, 255}));
    EXPECT_EQ(t[255], 255);

    CGammaCB other;
    EXPECT_EQ(Entries(other.Build(1.0, 0, 255, 0, 300)), Entries(CGammaCB().Build(1.0, 0, 255, 0, 256)));

    t = Entries(curve.Build(1.0, 10, 200, 50, 20));  // start at or past length: length - 1
    for (int k = 0; k < 20; ++k) EXPECT_EQ(t[k], 10) << k;
    for (int k = 20; k < 256; ++k) EXPECT_EQ(t[k], 200) << k;
}

TEST(CGammaCB, HighBelowLowGivesAFallingCurve) {
    CGammaCB curve;
    const auto t = Entries(curve.Build(2.0, 255, 0, 0, 256));
    EXPECT_EQ(t[0], 255);
    EXPECT_EQ(t[253], 6);
    EXPECT_EQ(t[254], 4);
    EXPECT_EQ(t[255], 2);
}

TEST(CGammaCB, SameParametersLeaveTheTableAloneAndAnyChangeRefills) {
    CGammaCB curve;
    std::uint8_t* table = curve.table;
    ASSERT_EQ(curve.Build(1.0, 0, 255, 0, 256), table);
    table[100] = 77;  // a mark that only a rebuild removes
    curve.Build(1.0, 0, 255, 0, 256);
    EXPECT_EQ(table[100], 77);
    // Clamped parameters compare equal too.
    curve.Build(1.0, 0, 255, -5, 999);
    EXPECT_EQ(table[100], 77);

    const auto refills = [&](double e, std::uint8_t lo, std::uint8_t hi, int s, int len) {
        curve.Build(1.0, 0, 255, 0, 256);
        table[100] = 77;
        curve.Build(e, lo, hi, s, len);
        return table[100] != 77;
    };
    EXPECT_TRUE(refills(1.5, 0, 255, 0, 256));
    EXPECT_TRUE(refills(1.0, 1, 255, 0, 256));
    EXPECT_TRUE(refills(1.0, 0, 254, 0, 256));
    EXPECT_TRUE(refills(1.0, 0, 255, 1, 256));
    EXPECT_TRUE(refills(1.0, 0, 255, 0, 255));
}

TEST(CGammaCW, IdentityAndPowerCurvesOverTheFullRange) {
    CGammaCW curve;
    const std::uint16_t* t = curve.Build(1.0, 0, 65535, 0, 65536);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[32768], 32767);
    EXPECT_EQ(t[65533], 65532);
    EXPECT_EQ(t[65535], 65534);
    std::vector<std::uint16_t> linear(t, t + 65536);

    t = curve.Build(2.5, 0, 65535, 0, 65536);
    for (int k = 100; k < 65535; k += 97) {
        EXPECT_LT(t[k], linear[k]) << k;
        EXPECT_EQ(t[k], static_cast<std::uint16_t>(std::pow(k / 65536.0, 2.5) * 65535)) << k;
    }
    t = curve.Build(0.4, 0, 65535, 0, 65536);
    for (int k = 100; k < 65535; k += 97) EXPECT_GT(t[k], linear[k]) << k;
}

TEST(CGammaCW, FreshObjectBuildsWhateverTheParameters) {
    CGammaCW curve;
    EXPECT_EQ(curve.lastExponent, -1.0);
    EXPECT_EQ(curve.lastHigh, 65535);
    EXPECT_EQ(curve.lastLength, 65536);
    // The constructor's parameters match a default build except the exponent,
    // which never matches a clamped one, so the first build fills the table.
    std::fill(curve.table, curve.table + 65536, std::uint16_t{0xABCD});
    const std::uint16_t* t = curve.Build(1.0, 0, 65535, 0, 65536);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[1], 0);
    EXPECT_EQ(t[65535], 65534);
}

}  // namespace
