// Binary PPM and PGM in and out, checked against files written byte by byte.
#include "formats/ppm_io.h"

#include <string>
#include <vector>

#include "engine/conversion_status.h"
#include "gtest/gtest.h"
#include "tests/engine/test_support.h"
#include "tests/formats/memory_cap.h"

namespace {

std::vector<std::uint8_t> Bytes(const std::string& header, std::vector<std::uint8_t> samples) {
    std::vector<std::uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), samples.begin(), samples.end());
    return file;
}

full::Result ReadPnmBytes(const std::vector<std::uint8_t>& bytes, full::Picture* picture) {
    test::WriteRaw("in.pnm", bytes);
    return ppm_io::ReadPnm("in.pnm", picture);
}

TEST(PnmRead, SixteenBitSamplesAreKeptAsTheyAre) {
    full::Picture p;
    // Big-endian samples: 0x0102, 0xFFFF, 0x0000 / 0x8000, 0x00FF, 0x1234.
    ASSERT_TRUE(ReadPnmBytes(
        Bytes("P6\n2 1\n65535\n", {1, 2, 255, 255, 0, 0, 128, 0, 0, 255, 0x12, 0x34}), &p));
    EXPECT_EQ(p.width, 2u);
    EXPECT_EQ(p.height, 1u);
    EXPECT_EQ(p.rgb, (std::vector<std::uint16_t>{0x0102, 0xFFFF, 0, 0x8000, 0x00FF, 0x1234}));
}

TEST(PnmRead, OtherMaximumValuesAreScaledToSixteenBits) {
    full::Picture p;
    ASSERT_TRUE(ReadPnmBytes(Bytes("P6 1 1 255 ", {0, 1, 255}), &p));
    EXPECT_EQ(p.rgb, (std::vector<std::uint16_t>{0, 257, 65535}));
    // maxval 1000 (two bytes a sample): 500 -> 32767.5 rounds to 32768, 1 -> 65.535 -> 66.
    ASSERT_TRUE(ReadPnmBytes(Bytes("P6\n1 1\n1000\n", {0x01, 0xF4, 0x00, 0x01, 0x03, 0xE8}), &p));
    EXPECT_EQ(p.rgb, (std::vector<std::uint16_t>{32768, 66, 65535}));
    ASSERT_TRUE(ReadPnmBytes(Bytes("P6\n1 1\n1\n", {1, 0, 1}), &p));
    EXPECT_EQ(p.rgb, (std::vector<std::uint16_t>{65535, 0, 65535}));
}

TEST(PnmRead, GreyIsRepeatedIntoAllThreeChannelsAndCommentsAreSkipped) {
    full::Picture p;
    ASSERT_TRUE(ReadPnmBytes(
        Bytes("P5\n# made by hand\n3 # width\n2\n# depth next\n255\n", {0, 128, 255, 1, 2, 3}),
        &p));
    EXPECT_EQ(p.width, 3u);
    EXPECT_EQ(p.height, 2u);
    const std::vector<std::uint16_t> expected = {0,     0,     0,     32896, 32896, 32896,
                                                 65535, 65535, 65535, 257,   257,   257,
                                                 514,   514,   514,   771,   771,   771};
    EXPECT_EQ(p.rgb, expected);
    EXPECT_EQ(p.comment, "") << "header comments are not the picture's comment";
}

TEST(PnmRead, DamagedFilesAreRefusedWithStatusSix) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"ascii pixmap", Bytes("P3\n1 1\n255\n0 0 0\n", {})},
        {"no height", Bytes("P6\n1\n", {})},
        {"letters for the width", Bytes("P6\nab 1\n255\n", {0, 0, 0})},
        {"maxval zero", Bytes("P6\n1 1\n0\n", {0, 0, 0})},
        {"maxval too large", Bytes("P6\n1 1\n65536\n", {0, 0, 0, 0, 0, 0})},
        {"zero width", Bytes("P6\n0 1\n255\n", {})},
        {"side beyond the limit", Bytes("P6\n40000 1\n255\n", {0, 0, 0})},
        {"area beyond the limit", Bytes("P5\n20000 20000\n255\n", {0})},
        {"absurd number", Bytes("P6\n99999999999999999999999 1\n255\n", {0})},
        {"cut in the samples", Bytes("P6\n2 2\n255\n", {1, 2, 3, 4, 5, 6, 7})},
        {"sample above maxval", Bytes("P6\n1 1\n100\n", {50, 101, 0})},
        {"no separator after maxval", Bytes("P6\n1 1\n255", {})},
    };
    for (const auto& c : cases) {
        full::Picture p;
        const full::Result r = ReadPnmBytes(c.bytes, &p);
        EXPECT_EQ(r.status, kStatusFormatError) << c.name;
        EXPECT_FALSE(r.message.empty()) << c.name;
    }
    full::Picture p;
    EXPECT_EQ(ppm_io::ReadPnm("missing.ppm", &p).status, kStatusInputNotOpened);
}

TEST(PnmRead, ShortFileClaimingALargePictureIsRefusedBeforeAnyPixelMemory) {
    test::WriteRaw("claims-768mb.ppm", Bytes("P6\n32767 4096\n65535\n", {1, 2, 3, 4, 5, 6}));
    full::Picture p;
    const full::Result r = ppm_io::ReadPnm("claims-768mb.ppm", &p);
    EXPECT_EQ(r.status, kStatusFormatError);
    EXPECT_NE(r.message.find("too short for a 32767 x 4096 picture"), std::string::npos)
        << r.message;
    if (!test::kCanCapMemory) GTEST_SKIP() << "no memory cap under the sanitizers";
    EXPECT_EQ(test::RunWithMemoryCap(256,
                                     [] {
                                         full::Picture picture;
                                         return static_cast<int>(
                                             ppm_io::ReadPnm("claims-768mb.ppm", &picture).status);
                                     }),
              static_cast<int>(kStatusFormatError));
}

TEST(PnmWrite, SixteenBitBigEndianPixmap) {
    const full::Picture p{2, 1, {0x0102, 0xFFFF, 0, 0x8000, 0x00FF, 0x1234}, "not stored"};
    ASSERT_TRUE(ppm_io::WritePpm16("out.ppm", p));
    EXPECT_EQ(test::ReadBytes("out.ppm"),
              Bytes("P6\n2 1\n65535\n", {1, 2, 255, 255, 0, 0, 128, 0, 0, 255, 0x12, 0x34}));
    full::Picture back;
    ASSERT_TRUE(ppm_io::ReadPnm("out.ppm", &back));
    EXPECT_EQ(back.rgb, p.rgb);
    EXPECT_EQ(ppm_io::WritePpm16("no-such-dir/out.ppm", p).status, kStatusOutputNotCreated);
}

}  // namespace
