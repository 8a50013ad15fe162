// Full-precision RQ6 reading and writing: pictures built by the tests' RQ6
// writer read back sample for sample, comments converted, damage reported
// with a conversion's statuses.
#include "formats/full_picture.h"

#include <cstdio>
#include <random>
#include <string>

#include "engine/byte_source.h"
#include "engine/conversion_status.h"
#include "engine/picture_reader.h"
#include "gtest/gtest.h"
#include "tests/engine/test_support.h"
#include "tests/formats/memory_cap.h"

namespace {

// The test picture (bottom row first, blue first) as the tool holds it: top
// row first, red first.
std::vector<std::uint16_t> TopFirstRgb(const test::Picture& p) {
    std::vector<std::uint16_t> rgb;
    for (std::uint32_t y = p.height; y-- > 0;) {
        for (std::uint32_t x = 0; x < p.width; ++x) {
            for (int c = 2; c >= 0; --c) rgb.push_back(p.At(x, y, c));
        }
    }
    return rgb;
}

// The bytes of a file as a pipe gives them: no size known in advance.
class PipeOf final : public ByteSource {
public:
    explicit PipeOf(const std::string& path) : bytes_(test::ReadBytes(path)), memory_(bytes_.data(), bytes_.size()) {}
    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override {
        return memory_.Read(buffer, size < 1000 ? size : 1000, got);
    }

private:
    std::vector<std::uint8_t> bytes_;
    MemorySource memory_;
};

full::Result ReadFromPipe(const std::string& path, full::Picture* picture) {
    PipeOf pipe(path);
    PictureReader reader;
    if (const std::uint32_t s = reader.Open(pipe)) return {s, ""};
    std::string warning;
    return full::ReadRq6(reader, picture, &warning);
}

// "テスト画像" in code page 932 and in UTF-8.
const char kJapaneseCp932[] = "\x83\x65\x83\x58\x83\x67\x89\xe6\x91\x9c";
const char kJapaneseUtf8[] = "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe7\x94\xbb\xe5\x83\x8f";

TEST(FullPictureRead, SamplesTopRowFirstAndTheCommentInUtf8) {
    std::mt19937 rng(21);
    for (const auto& [w, h] :
         {std::pair<std::uint32_t, std::uint32_t>{1, 1}, {7, 3}, {3, 7}, {64, 5}}) {
        const test::Picture picture = test::RandomPicture(w, h, rng);
        test::WritePicture("pic.rq6", picture, kJapaneseCp932);
        full::Picture read;
        std::string warning;
        ASSERT_TRUE(full::ReadRq6("pic.rq6", &read, &warning)) << w << "x" << h;
        EXPECT_EQ(read.width, w);
        EXPECT_EQ(read.height, h);
        EXPECT_EQ(read.rgb, TopFirstRgb(picture));
        full::Picture piped;
        ASSERT_TRUE(ReadFromPipe("pic.rq6", &piped)) << w << "x" << h;
        EXPECT_EQ(piped.rgb, read.rgb) << "from a pipe, the rows arrive the same";
        EXPECT_EQ(read.comment, kJapaneseUtf8);
        EXPECT_EQ(warning, "");
    }
}

TEST(FullPictureRead, CommentsThatAreNotTextOrFillTheField) {
    const test::Picture picture = test::UniformPicture(2, 2, 1, 2, 3);
    full::Picture read;
    std::string warning;
    test::WritePicture("pic.rq6", picture, "ok\xff\x80");  // not code page 932
    ASSERT_TRUE(full::ReadRq6("pic.rq6", &read, &warning));
    EXPECT_EQ(read.comment, "ok\\xff\\x80");
    EXPECT_NE(warning.find("not valid"), std::string::npos);

    // 128 bytes with no terminator: all of them are the comment.
    rq6::PayloadFields fields;
    fields.rawComment = std::string(128, 'c');
    test::WritePicture("pic.rq6", picture, "", fields);
    ASSERT_TRUE(full::ReadRq6("pic.rq6", &read, &warning));
    EXPECT_EQ(read.comment, std::string(128, 'c'));
    EXPECT_EQ(read.rgb, TopFirstRgb(picture)) << "the rows are found after the comment";
}

TEST(FullPictureRead, DamageGivesTheConversionStatuses) {
    std::mt19937 rng(2);
    test::WritePicture("pic.rq6", test::RandomPicture(30, 20, rng));
    auto bytes = test::ReadBytes("pic.rq6");
    full::Picture read;
    std::string warning;
    EXPECT_EQ(full::ReadRq6("missing.rq6", &read, &warning).status, kStatusInputNotOpened);
    test::WriteRaw("cut.rq6",
                   {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)});
    const full::Result cut = full::ReadRq6("cut.rq6", &read, &warning);
    EXPECT_EQ(cut.status, kStatusReadFailed);
    rq6::PayloadFields fields;
    fields.biBitCount = 24;
    test::WritePicture("bad.rq6", test::UniformPicture(2, 2, 0, 0, 0), "x", fields);
    EXPECT_EQ(full::ReadRq6("bad.rq6", &read, &warning).status, kStatusFormatError);
}

TEST(FullPictureRead, SmallFileClaimingALargePictureFailsBeforeTakingItsMemory) {
    // The header claims 32767 x 4096 (768 MB at full precision); the file
    // holds 2 x 2 pixels.
    rq6::PayloadFields fields;
    fields.biWidth = 32767;
    fields.biHeight = 4096;
    test::WritePicture("claims-768mb.rq6", test::UniformPicture(2, 2, 1, 2, 3), "x", fields);
    full::Picture read;
    std::string warning;
    EXPECT_EQ(full::ReadRq6("claims-768mb.rq6", &read, &warning).status, kStatusReadFailed);
    // Through a pipe, whose size is not known: the memory grows with the rows
    // that arrive, and the picture ends as early.
    EXPECT_EQ(ReadFromPipe("claims-768mb.rq6", &read).status, kStatusReadFailed);
    if (!test::kCanCapMemory) GTEST_SKIP() << "no memory cap under the sanitizers";
    EXPECT_EQ(test::RunWithMemoryCap(
                  256,
                  [] {
                      full::Picture picture;
                      std::string ignored;
                      return static_cast<int>(
                          full::ReadRq6("claims-768mb.rq6", &picture, &ignored).status);
                  }),
              static_cast<int>(kStatusReadFailed));
    EXPECT_EQ(test::RunWithMemoryCap(
                  256,
                  [] {
                      full::Picture picture;
                      return static_cast<int>(ReadFromPipe("claims-768mb.rq6", &picture).status);
                  }),
              static_cast<int>(kStatusReadFailed));
}

TEST(FullPictureWrite, WrittenPicturesReadBackExactly) {
    std::mt19937 rng(5);
    for (const auto& [w, h] : {std::pair<std::uint32_t, std::uint32_t>{1, 1}, {5, 9}, {33, 2}}) {
        full::Picture p;
        p.width = w;
        p.height = h;
        for (std::size_t i = 0; i < 3u * w * h; ++i)
            p.rgb.push_back(static_cast<std::uint16_t>(rng()));
        const std::string longest(full::kMaxCommentBytes, 'L');
        ASSERT_TRUE(full::WriteRq6("w.rq6", p, longest));
        full::Picture back;
        std::string warning;
        ASSERT_TRUE(full::ReadRq6("w.rq6", &back, &warning));
        EXPECT_EQ(back.rgb, p.rgb);
        EXPECT_EQ(back.comment, longest);
    }
}

TEST(FullPictureWrite, RefusesWhatCannotBeStored) {
    full::Picture p{2, 2, std::vector<std::uint16_t>(12, 7), ""};
    std::remove("refused.rq6");
    EXPECT_EQ(full::WriteRq6("refused.rq6", p, std::string(full::kMaxCommentBytes + 1, 'x')).status,
              kStatusUnexpected);
    full::Picture wrongSize{2, 2, std::vector<std::uint16_t>(11, 7), ""};
    EXPECT_EQ(full::WriteRq6("refused.rq6", wrongSize, "").status, kStatusUnexpected);
    EXPECT_FALSE(test::FileExists("refused.rq6"));
    EXPECT_EQ(full::WriteRq6("no-such-dir/w.rq6", p, "").status, kStatusOutputNotCreated);
}

TEST(StoredComment, CutAtACharacterBoundaryOrDroppedWhenNotRepresentable) {
    std::string warning;
    EXPECT_EQ(full::StoredComment(kJapaneseUtf8, &warning), kJapaneseCp932);
    EXPECT_EQ(warning, "");

    // 70 two-byte characters are 140 bytes; 63 of them fit in 127 bytes.
    std::string many;
    for (int i = 0; i < 70; ++i) many += "\xe3\x81\x82";  // "あ", 0x82 0xA0
    const std::string cut = full::StoredComment(many, &warning);
    ASSERT_EQ(cut.size(), 126u);
    for (std::size_t i = 0; i < cut.size(); i += 2) {
        EXPECT_EQ(cut.substr(i, 2), "\x82\xa0") << i;
    }
    EXPECT_NE(warning.find("126"), std::string::npos) << warning;

    // A single-byte character may fill the last byte.
    EXPECT_EQ(full::StoredComment("x" + many, &warning).size(), 127u);

    EXPECT_EQ(full::StoredComment("snow \xe2\x9b\x84", &warning), "");  // no such character
    EXPECT_NE(warning.find("lacks"), std::string::npos);
}

}  // namespace
