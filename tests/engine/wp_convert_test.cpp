// The conversion job's statuses, lifecycle and handling of damaged pictures.
#include "engine/wp_convert.h"

#include <cstring>
#include <filesystem>
#include <random>

#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const test::Picture& SmallPicture() {
    static const test::Picture picture = [] {
        std::mt19937 rng(99);
        return test::RandomPicture(9, 7, rng);
    }();
    return picture;
}

TEST(ConversionStatus, MessagesOfTheTable) {
    EXPECT_STREQ(StatusMessage(0), "No Error.");
    EXPECT_STREQ(StatusMessage(1), "メモリが不足しています。");
    EXPECT_STREQ(StatusMessage(2),
                 "入力ファイルをオープンできませんでした。\nCD-Rが入っているか、或いは汚れていないか、\nチェックしてください。\n");
    EXPECT_STREQ(StatusMessage(3),
                 "出力ファイルを作成できませんでした。\nディスクの空き容量が充分にあるか、チェックしてください。");
    EXPECT_STREQ(StatusMessage(4),
                 "入力ファイルからの読み取りに失敗しました。\nCD-Rが汚れていないか、チェックしてください。");
    EXPECT_STREQ(StatusMessage(5), "出力ファイルへの書き込みに失敗しました。書き込みドライブを検査してください。");
    EXPECT_STREQ(StatusMessage(6), "入力ファイルのフォーマットエラーです。");
    EXPECT_STREQ(StatusMessage(7), "予期せぬエラーが発生しました。");
    EXPECT_STREQ(StatusMessage(12345), StatusMessage(7));
}

TEST(BeginStatus, MissingInputIsStatusTwoAndCreatesNothing) {
    std::remove("never.bmp");
    WPConvert job;
    EXPECT_EQ(job.Begin("missing.rq6", "never.bmp", 1.0, 8, 6, 24), 2u);
    EXPECT_FALSE(test::FileExists("never.bmp"));
    EXPECT_EQ(job.ConvertFirstLine(), 2u);
    EXPECT_EQ(job.ConvertNextLine(), 2u);
}

TEST(BeginStatus, RequestsTheJobCannotServeAreUnexpected) {
    test::WritePicture("ok.rq6", SmallPicture());
    std::remove("never.bmp");
    for (auto [w, h, mode] : {std::tuple{0u, 6u, 24u}, {8u, 0u, 24u}, {40000u, 6u, 24u}, {8u, 6u, 7u}}) {
        WPConvert job;
        EXPECT_EQ(job.Begin("ok.rq6", "never.bmp", 1.0, w, h, mode), 7u);
        EXPECT_EQ(job.ConvertFirstLine(), 7u);
    }
    // A 16-bit output too large for a bitmap's size fields, and parts that
    // reach past the picture's edges.
    const std::uint32_t width = SmallPicture().width, height = SmallPicture().height;
    for (auto [w, h, mode, rect] :
         {std::tuple{32767u, 32767u, 48u, SourceRect{}}, {8u, 6u, 24u, SourceRect{1, 0, width, 1}},
          {8u, 6u, 48u, SourceRect{0, height, 1, 1}}, {8u, 6u, 1u, SourceRect{0, 0, 1, height + 1}},
          {8u, 6u, 24u, SourceRect{0xFFFFFFFFu, 0, 2, 1}}}) {
        WPConvert job;
        job.source = rect;
        EXPECT_EQ(job.Begin("ok.rq6", "never.bmp", 1.0, w, h, mode), 7u) << w << "x" << h << " mode " << mode;
    }
    EXPECT_FALSE(test::FileExists("never.bmp"));
}

// Creating the output would empty the picture being read.
TEST(BeginStatus, AnOutputThatIsTheInputIsNotCreated) {
    test::WritePicture("own.rq6", SmallPicture());
    const Bytes bytes = test::ReadBytes("own.rq6");
    std::remove("own-link.bmp");
    std::filesystem::create_hard_link("own.rq6", "own-link.bmp");
    for (const char* out : {"own.rq6", "./own.rq6", "own-link.bmp"}) {
        WPConvert job;
        EXPECT_EQ(job.Begin("own.rq6", out, 1.0, 9, 7, 24), 3u) << out;
    }
    EXPECT_EQ(test::ReadBytes("own.rq6"), bytes);
}

TEST(Comment, EmptyWhenTheRowsFollowTheHeaders) {
    rq6::PayloadFields f;
    f.rawComment = "";
    test::WritePicture("nocomment.rq6", SmallPicture(), "", f);
    WPConvert job;
    ASSERT_EQ(job.Begin("nocomment.rq6", "out.bmp", 1.0, 9, 7, 24), 0u);
    EXPECT_EQ(Bytes(job.comment, job.comment + 128), Bytes(128, 0));
}

TEST(Comment, LongerCommentKeepsItsStartAndTheRowsStayInPlace) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
    test::WritePicture("in.rq6", SmallPicture(), text);
    {
        WPConvert job;
        ASSERT_EQ(job.Begin("in.rq6", "out.bmp", 1.0, 9, 7, 9), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(job.comment), 128), text.substr(0, 128));
        ASSERT_EQ(job.ConvertFirstLine(), 0u);
        while (job.linesDone < job.height) ASSERT_EQ(job.ConvertNextLine(), 0u);
    }
    EXPECT_EQ(test::ReadBytes("out.bmp"), test::ReferenceBmp(SmallPicture(), 1.0, 9, 7, 9));
}

TEST(Lifecycle, OneRowPerStepAndNothingAfterTheLast) {
    test::WritePicture("in.rq6", SmallPicture());
    {
        // A job that stops after Begin leaves the headers and the palette.
        WPConvert begun;
        ASSERT_EQ(begun.Begin("in.rq6", "begun.bmp", 1.0, 5, 3, 8), 0u);
        EXPECT_EQ(begun.linesDone, 0u);
    }
    EXPECT_EQ(test::ReadBytes("begun.bmp").size(), 54u + 1024u);
    WPConvert job;
    ASSERT_EQ(job.Begin("in.rq6", "out.bmp", 1.0, 5, 3, 8), 0u);
    ASSERT_EQ(job.ConvertFirstLine(), 0u);
    EXPECT_EQ(job.linesDone, 1u);
    ASSERT_EQ(job.ConvertNextLine(), 0u);
    ASSERT_EQ(job.ConvertNextLine(), 0u);
    EXPECT_EQ(job.linesDone, 3u);
    EXPECT_EQ(job.ConvertNextLine(), 0u);
    EXPECT_EQ(job.linesDone, 3u);
    EXPECT_EQ(job.outFileSize, 54u + 1024u + 8u * 3u);
}

TEST(Lifecycle, HeightOneIsCompleteAfterTheFirstLine) {
    test::WritePicture("in.rq6", SmallPicture());
    WPConvert job;
    ASSERT_EQ(job.Begin("in.rq6", "out.bmp", 1.0, 4, 1, 24), 0u);
    ASSERT_EQ(job.ConvertFirstLine(), 0u);
    EXPECT_EQ(job.linesDone, 1u);
    EXPECT_EQ(job.ConvertNextLine(), 0u);
    EXPECT_EQ(job.linesDone, 1u);
}

TEST(Lifecycle, StepsWithoutASuccessfulBeginDoNothing) {
    WPConvert job;
    EXPECT_NE(job.ConvertFirstLine(), 0u);
    EXPECT_EQ(job.linesDone, 0u);
    WPConvert other;
    EXPECT_NE(other.ConvertNextLine(), 0u);
}

TEST(WorkBlock, EveryViewIsAlignedWhateverTheSizes) {
    // Picture 9 x 7; output sides chosen so that the four sides add up to
    // every remainder modulo 4.
    test::WritePicture("in.rq6", SmallPicture());
    for (std::uint32_t width : {1u, 2u, 3u, 4u}) {
        WPConvert job;
        ASSERT_EQ(job.Begin("in.rq6", "out.bmp", 1.0, width, 5, 24), 0u);
        const auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
        EXPECT_EQ(at(job.resampler.hWeights) % 2, 0u) << width;
        EXPECT_EQ(at(job.resampler.vWeights) % 2, 0u) << width;
        EXPECT_EQ(at(job.row) % 2, 0u) << width;
        EXPECT_EQ(at(job.resampler.acc) % 4, 0u) << width;
        ASSERT_EQ(job.ConvertFirstLine(), 0u);
        while (job.linesDone < job.height) ASSERT_EQ(job.ConvertNextLine(), 0u);
    }
}

TEST(RowDecoding, DifferencesWrapAroundModulo65536) {
    // Samples chosen so that stored differences wrap both ways, along the
    // first row and between rows.
    test::Picture p{3, 2, {65535, 0, 1, 0, 65535, 65534, 1, 2, 65535,
                           0, 65535, 0, 65535, 1, 65535, 2, 0, 1}};
    test::WritePicture("wrap.rq6", p);
    ASSERT_EQ(test::Convert("wrap.rq6", "wrap.bmp", 1.0, 3, 2, 24).status, 0u);
    EXPECT_EQ(test::ReadBytes("wrap.bmp"), test::ReferenceBmp(p, 1.0, 3, 2, 24));
}

}  // namespace
