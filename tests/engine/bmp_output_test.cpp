// The output file's headers and palettes.
#include "engine/palettes.h"

#include <cstdio>

#include "engine/bitmap_headers.h"
#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/engine/test_support.h"

namespace {

struct Header {
    std::uint32_t fileSize, offBits, sizeImage;
    std::uint16_t bitCount;
};

Header ConvertAndReadHeader(std::uint32_t w, std::uint32_t h, std::uint32_t mode) {
    test::WritePicture("small.rq6", test::UniformPicture(4, 3, 100, 200, 300));
    EXPECT_EQ(test::Convert("small.rq6", "small.bmp", 1.0, w, h, mode).status, 0u);
    const auto b = test::ReadBytes("small.bmp");
    Header hd{bmp::Get32(b.data(), 2), bmp::Get32(b.data(), 10), bmp::Get32(b.data(), 34),
              bmp::Get16(b.data(), 28)};
    EXPECT_EQ(b.size(), hd.fileSize) << "the header's size is the size of the finished file";
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(bmp::Get32(b.data(), 18), w);
    EXPECT_EQ(bmp::Get32(b.data(), 22), h);
    EXPECT_EQ(bmp::Get32(b.data(), 30), 0u) << "uncompressed";
    return hd;
}

TEST(BmpHeaders, SizesAndOffsetsPerMode) {
    struct Case {
        std::uint32_t w, h, mode, stride, offBits;
        std::uint16_t bits;
    };
    const Case cases[] = {
        {200, 150, 1, 28, 62, 1},   {200, 150, 4, 100, 118, 4}, {200, 150, 5, 100, 118, 4},
        {204, 153, 4, 104, 118, 4}, {200, 150, 8, 200, 1078, 8}, {200, 150, 9, 200, 1078, 8},
        {200, 150, 16, 600, 54, 24}, {200, 150, 24, 600, 54, 24}, {1, 1, 24, 4, 54, 24},
        {1, 1, 1, 4, 62, 1},
    };
    for (const Case& c : cases) {
        const Header hd = ConvertAndReadHeader(c.w, c.h, c.mode);
        EXPECT_EQ(hd.offBits, c.offBits) << c.mode;
        EXPECT_EQ(hd.sizeImage, c.stride * c.h) << c.mode;
        EXPECT_EQ(hd.fileSize, c.offBits + c.stride * c.h) << c.mode;
        EXPECT_EQ(hd.bitCount, c.bits) << c.mode;
    }
}

TEST(BmpHeaders, LargestRealSizeInFullColour) {
    WPConvert job;
    test::WritePicture("small.rq6", test::UniformPicture(4, 3, 1, 2, 3));
    ASSERT_EQ(job.Begin("small.rq6", "large.bmp", 1.0, 3200, 2400, 24), 0u);
    EXPECT_EQ(job.outStride, 9600u);
    EXPECT_EQ(job.outFileSize, 9600u * 2400u + 54u);
}

TEST(BmpHeaders, FieldsTheConversionDoesNotDefineComeFromThePicture) {
    rq6::PayloadFields fields;
    fields.bfReserved1 = 0x1234;
    fields.bfReserved2 = 0xABCD;
    fields.biSize = 40;
    fields.biPlanes = 7;
    fields.biXPelsPerMeter = 2835;
    fields.biYPelsPerMeter = -5;
    fields.biClrUsed = 99;
    fields.biClrImportant = 42;
    test::WritePicture("fields.rq6", test::UniformPicture(5, 5, 1, 2, 3), "x", fields);
    ASSERT_EQ(test::Convert("fields.rq6", "fields.bmp", 1.0, 8, 6, 8).status, 0u);
    const auto b = test::ReadBytes("fields.bmp");
    EXPECT_EQ(bmp::Get16(b.data(), 6), 0x1234);
    EXPECT_EQ(bmp::Get16(b.data(), 8), 0xABCD);
    EXPECT_EQ(bmp::Get16(b.data(), 26), 7);
    EXPECT_EQ(bmp::GetSigned32(b.data(), 38), 2835);
    EXPECT_EQ(bmp::GetSigned32(b.data(), 42), -5);
    EXPECT_EQ(bmp::Get32(b.data(), 46), 99u);
    EXPECT_EQ(bmp::Get32(b.data(), 50), 42u);
}

TEST(Palettes, WrittenAfterTheHeadersExactly) {
    for (std::uint32_t mode : {1u, 4u, 5u, 8u, 9u}) {
        ConvertAndReadHeader(16, 12, mode);
        const auto b = test::ReadBytes("small.bmp");
        std::uint32_t size = 0;
        const std::uint8_t* palette = palettes::ForMode(mode, &size);
        ASSERT_EQ(std::vector<std::uint8_t>(b.begin() + 54, b.begin() + 54 + size),
                  std::vector<std::uint8_t>(palette, palette + size))
            << mode;
    }
}

// Entry i of a palette as red, green, blue.
std::vector<int> Rgb(const std::array<std::uint8_t, 1024>& p, int i) {
    return {p[4 * i + 2], p[4 * i + 1], p[4 * i], p[4 * i + 3]};
}

TEST(Palettes, ColourCubeAndSystemColours) {
    const auto& c = palettes::kColor256;
    EXPECT_EQ(Rgb(c, 16), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Rgb(c, 23), (std::vector<int>{255, 0, 0, 0}));
    EXPECT_EQ(Rgb(c, 24), (std::vector<int>{0, 28, 0, 0}));
    EXPECT_EQ(Rgb(c, 95), (std::vector<int>{255, 255, 0, 0}));
    EXPECT_EQ(Rgb(c, 96), (std::vector<int>{0, 0, 128, 0}));
    EXPECT_EQ(Rgb(c, 176), (std::vector<int>{0, 0, 255, 0}));
    EXPECT_EQ(Rgb(c, 255), (std::vector<int>{255, 255, 255, 0}));
    EXPECT_EQ(Rgb(c, 16 + 8 * 5 + 3), (std::vector<int>{109, 142, 0, 0}));
    // The first sixteen entries repeat the system colours: hue bits red 1,
    // green 2, blue 4; dark at 128, bright at 255; 7 light grey, 8 dark grey.
    for (int i = 0; i < 16; ++i) {
        for (int k = 0; k < 4; ++k) EXPECT_EQ(c[4 * i + k], palettes::kSystem16[4 * i + k]);
    }
    EXPECT_EQ(Rgb(c, 3), (std::vector<int>{128, 128, 0, 0}));
    EXPECT_EQ(Rgb(c, 7), (std::vector<int>{192, 192, 192, 0}));
    EXPECT_EQ(Rgb(c, 8), (std::vector<int>{128, 128, 128, 0}));
    EXPECT_EQ(Rgb(c, 12), (std::vector<int>{0, 0, 255, 0}));
    EXPECT_EQ(Rgb(c, 13), (std::vector<int>{255, 0, 255, 0}));
}

TEST(Palettes, GreysEndInWhite) {
    for (int i = 0; i < 15; ++i) EXPECT_EQ(palettes::kGray16[4 * i], 16 * i);
    EXPECT_EQ(palettes::kGray16[4 * 15], 255);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(palettes::kGray256[4 * i + 1], i);
    EXPECT_EQ(palettes::kMono, (std::array<std::uint8_t, 8>{0, 0, 0, 0, 255, 255, 255, 0}));
}

TEST(BmpOutput, ReplacesAnExistingFile) {
    test::WriteRaw("existing.bmp", std::vector<std::uint8_t>(100000, 0x55));
    test::WritePicture("small.rq6", test::UniformPicture(4, 3, 1, 2, 3));
    ASSERT_EQ(test::Convert("small.rq6", "existing.bmp", 1.0, 4, 3, 24).status, 0u);
    EXPECT_EQ(test::ReadBytes("existing.bmp").size(), 54u + 3 * 12u);
}

TEST(BmpOutput, MissingDirectoryCannotBeCreated) {
    test::WritePicture("small.rq6", test::UniformPicture(4, 3, 1, 2, 3));
    EXPECT_EQ(test::Convert("small.rq6", "no-such-dir/out.bmp", 1.0, 4, 3, 24).status, 3u);
    EXPECT_FALSE(test::FileExists("no-such-dir/out.bmp"));
}

#ifndef _WIN32
TEST(BmpOutput, FullDiskFailsAtTheHeader) {
    test::WritePicture("small.rq6", test::UniformPicture(4, 3, 1, 2, 3));
    WPConvert job;
    EXPECT_EQ(job.Begin("small.rq6", "/dev/full", 1.0, 4, 3, 8), 5u);
    EXPECT_EQ(job.ConvertFirstLine(), 5u);
    EXPECT_EQ(job.linesDone, 0u);
}
#endif

}  // namespace
