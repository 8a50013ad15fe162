#include "samples/sample_disc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/byte_source.h"
#include "engine/disc_pictures.h"
#include "engine/huffman_code.h"
#include "engine/picture_reader.h"
#include "formats/rq6_writer.h"

namespace {

using Samples = std::vector<std::uint16_t>;

Samples Render(int number, std::uint32_t width, std::uint32_t height) {
    Samples all(3 * std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        rq6::SampleRow(number, width, height, y, all.data() + 3 * std::size_t{width} * y);
    }
    return all;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    FileSource file(path.c_str());
    std::uint8_t block[1 << 16];
    std::uint32_t got = 0;
    while (file.Read(block, sizeof block, &got) && got > 0) bytes.insert(bytes.end(), block, block + got);
    return bytes;
}

Samples Row(int number, std::uint32_t width, std::uint32_t height, std::uint32_t y) {
    Samples row(3 * std::size_t{width});
    rq6::SampleRow(number, width, height, y, row.data());
    return row;
}

TEST(SampleDiscTest, PicturesAreDeterministicAndDistinct) {
    std::vector<Samples> pictures;
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        SCOPED_TRACE(n);
        const Samples first = Render(n, 61, 47);
        EXPECT_EQ(Render(n, 61, 47), first);
        for (const Samples& other : pictures) EXPECT_NE(first, other);
        pictures.push_back(first);
    }
    EXPECT_EQ(Row(11, 5, 5, 0), Samples(15, 0));
}

TEST(SampleDiscTest, GradientsNeedMoreThanEightBits) {
    const std::uint32_t w = rq6::kSampleWidth, h = rq6::kSampleHeight;
    // The top row: a full-range grey ramp with a level per column.
    const Samples top = Row(6, w, h, h - 1);
    const std::set<std::uint16_t> levels(top.begin(), top.end());
    EXPECT_GT(levels.size(), 3000u);
    EXPECT_EQ(*levels.begin(), 0);
    EXPECT_EQ(*levels.rbegin(), 65535);

    // Somewhere in the picture a row spans at most four 8-bit levels yet holds
    // hundreds of 16-bit ones: smooth here, hard steps at 8 bits.
    bool found = false;
    for (std::uint32_t y = 0; y < h && !found; y += 50) {
        const Samples row = Row(6, w, h, y);
        const std::set<std::uint16_t> fine(row.begin(), row.end());
        std::set<int> coarse;
        for (const std::uint16_t v : row) coarse.insert(v >> 8);
        found = fine.size() > 256 && coarse.size() <= 4;
    }
    EXPECT_TRUE(found);
}

TEST(SampleDiscTest, ColourPictureHoldsTheSixteenSystemColours) {
    const std::uint32_t w = 160, h = 120;
    const Samples all = Render(8, w, h);
    std::set<std::tuple<int, int, int>> colours;
    // The patches fill the bottom third.
    for (std::uint32_t y = 0; y < h / 3; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::size_t i = 3 * (std::size_t{w} * y + x);
            colours.insert({all[i + 2], all[i + 1], all[i]});
        }
    }
    EXPECT_EQ(colours.size(), 16u);
    for (const auto& [r, g, b] : colours) {
        for (const int c : {r, g, b}) {
            EXPECT_TRUE(c == 0 || c == 0x8080 || c == 0xC0C0 || c == 0xFFFF) << c;
        }
    }
    // The hue sweep above reaches full saturation: some pixel is pure red-ish.
    bool saturated = false;
    for (std::size_t i = 3 * std::size_t{w} * (h / 2); i < all.size(); i += 3) {
        saturated |= all[i + 2] > 0xF000 && all[i + 1] < 0x1000 && all[i] < 0x1000;
    }
    EXPECT_TRUE(saturated);
}

TEST(SampleDiscTest, NightSceneIsDarkButDetailed) {
    const Samples all = Render(9, 320, 240);
    const std::uint16_t brightest = *std::max_element(all.begin(), all.end());
    EXPECT_LT(brightest, 0x1800);  // under a tenth of full scale
    EXPECT_GT(brightest, 0x0800);  // but not black
    const std::set<std::uint16_t> levels(all.begin(), all.end());
    EXPECT_GT(levels.size(), 256u);
}

TEST(SampleDiscTest, DetailPictureSpansTheFullRange) {
    const Samples all = Render(7, 320, 240);
    const auto [lo, hi] = std::minmax_element(all.begin(), all.end());
    EXPECT_LT(*lo, 0x0100);
    EXPECT_GT(*hi, 0xFF00);
}

TEST(SampleDiscTest, CommentsAreShortCodePage932Text) {
    std::set<std::string> seen;
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        SCOPED_TRACE(n);
        const std::string c = rq6::SampleComment(n);
        EXPECT_FALSE(c.empty());
        EXPECT_LT(c.size(), 127u);
        EXPECT_TRUE(seen.insert(c).second);
        int doubleByte = 0;
        for (std::size_t i = 0; i < c.size(); ++i) {
            const auto lead = static_cast<unsigned char>(c[i]);
            ASSERT_NE(lead, 0);
            if (lead < 0x80) continue;
            // Lead bytes 81-9F and E0-FC, trail bytes 40-FC without 7F.
            ASSERT_TRUE((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) << i;
            ASSERT_LT(i + 1, c.size());
            const auto trail = static_cast<unsigned char>(c[++i]);
            EXPECT_TRUE(trail >= 0x40 && trail <= 0xFC && trail != 0x7F) << i;
            ++doubleByte;
        }
        EXPECT_GE(doubleByte, 3);
    }
    EXPECT_TRUE(rq6::SampleComment(5).empty());
    EXPECT_EQ(disc::PictureFileName(6), "Sg006.rq6");
    EXPECT_EQ(disc::PictureFileName(10), "Sg010.rq6");
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Writes the full-size disc and reads back the start of every picture.
TEST(SampleDiscTest, DiscFilesDecodeToTheSampleRows) {
    const std::uint32_t w = rq6::kSampleWidth, h = rq6::kSampleHeight;
    rq6::SampleDiscFailure failure;
    ASSERT_TRUE(rq6::WriteSampleDisc("disc", &failure)) << failure.path;
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        SCOPED_TRACE(n);
        const std::string path = "disc/Extends/" + disc::PictureFileName(n);
        HuffmanCode reader(path.c_str(), rq6::kMagic);
        ASSERT_NE(reader.file, platform::kInvalidFile);
        ASSERT_EQ(reader.error, 0u);

        const std::string comment = rq6::SampleComment(n) + '\0';
        const std::size_t stride = rq6::StoredRowStride(w);
        std::vector<std::uint8_t> head(54 + comment.size() + 2 * stride);
        reader.Decode(head.data(), static_cast<std::uint32_t>(head.size()));
        ASSERT_EQ(reader.error, 0u);
        EXPECT_EQ(head[0], 'I');
        EXPECT_EQ(head[1], 'F');
        EXPECT_EQ(Le32(head, 10), 54u + comment.size());
        EXPECT_EQ(Le32(head, 18), w);
        EXPECT_EQ(Le32(head, 22), h);
        EXPECT_EQ(std::string(head.begin() + 54, head.begin() + 54 + comment.size()), comment);

        // Undo the coding of the two bottom rows.
        const std::uint8_t* rows = head.data() + 54 + comment.size();
        Samples bottom(3 * w), next(3 * w);
        for (std::size_t i = 0; i < bottom.size(); ++i) {
            const auto d = static_cast<std::uint16_t>(rows[2 * i] | rows[2 * i + 1] << 8);
            bottom[i] = static_cast<std::uint16_t>((i < 3 ? 0 : bottom[i - 3]) + d);
            const std::uint8_t* up = rows + stride + 2 * i;
            next[i] = static_cast<std::uint16_t>(bottom[i] + (up[0] | up[1] << 8));
        }
        EXPECT_EQ(bottom, Row(n, w, h, 0));
        EXPECT_EQ(next, Row(n, w, h, 1));
    }
    // Each picture from the file's bytes in memory gives every row the file
    // gives, and ends the same way.
    for (int n = disc::kFirstPicture; n <= disc::kLastPicture; ++n) {
        SCOPED_TRACE(n);
        const std::string path = "disc/Extends/" + disc::PictureFileName(n);
        const std::vector<std::uint8_t> bytes = ReadAll(path);
        MemorySource memory(bytes.data(), bytes.size());
        PictureReader fromMemory;
        PictureReader fromFile;
        ASSERT_EQ(fromMemory.Open(memory), 0u);
        ASSERT_EQ(fromFile.Open(path.c_str()), 0u);
        ASSERT_EQ(fromMemory.Height(), h);
        for (std::uint32_t y = 0; y < h; ++y) {
            ASSERT_EQ(fromMemory.NextRow(), 0u) << y;
            ASSERT_EQ(fromFile.NextRow(), 0u) << y;
            ASSERT_TRUE(std::equal(fromMemory.Row(), fromMemory.Row() + 3 * w, fromFile.Row())) << y;
            if (y < 2) {
                EXPECT_TRUE(std::equal(fromMemory.Row(), fromMemory.Row() + 3 * w, Row(n, w, h, y).begin()));
            }
        }
        EXPECT_EQ(fromMemory.NextRow(), fromFile.NextRow()) << "no row beyond the last";
    }
    std::filesystem::remove_all("disc");
}

}  // namespace
