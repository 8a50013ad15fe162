// The conversion job's statuses, lifecycle and handling of damaged pictures.
#include "engine/wp_convert.h"

#include <cstring>
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

// Writes the small picture with some header fields changed and returns the
// status of Begin, also checking that a failed Begin leaves no output file.
std::uint32_t BeginWith(const rq6::PayloadFields& fields, const std::string& comment = "c") {
    test::WritePicture("damaged.rq6", SmallPicture(), comment, fields);
    std::remove("damaged.bmp");
    WPConvert job;
    const std::uint32_t status = job.Begin("damaged.rq6", "damaged.bmp", 1.0, 8, 6, 24);
    if (status != 0 && status != 4) {
        EXPECT_FALSE(test::FileExists("damaged.bmp")) << status;
    }
    EXPECT_EQ(job.status, status);
    return status;
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

TEST(BeginStatus, WrongMagicAndEmptyFileAreFormatErrors) {
    test::WriteRaw("empty.rq6", {});
    WPConvert a;
    EXPECT_EQ(a.Begin("empty.rq6", "x.bmp", 1.0, 8, 6, 24), 6u);
    test::WriteRaw("magic.rq6", {'R', 'Q', '6', '0', 0, 0, 0, 0, 0x00});
    WPConvert b;
    EXPECT_EQ(b.Begin("magic.rq6", "x.bmp", 1.0, 8, 6, 24), 6u);
}

TEST(BeginStatus, HeaderTestRejectsOtherBitmaps) {
    rq6::PayloadFields bm;
    bm.bfType = 'B' | 'M' << 8;
    EXPECT_EQ(BeginWith(bm), 6u);
    rq6::PayloadFields bits24;
    bits24.biBitCount = 24;
    EXPECT_EQ(BeginWith(bits24), 6u);
    rq6::PayloadFields plain;
    plain.biCompression = 0;
    EXPECT_EQ(BeginWith(plain), 6u);
}

TEST(BeginStatus, ImpossibleSizesAreFormatErrorsBeforeAnythingIsAllocated) {
    for (std::int32_t bad : {0, -1, -7, 32768, 65535, 65536, 2147483647}) {
        rq6::PayloadFields w;
        w.biWidth = bad;
        EXPECT_EQ(BeginWith(w), 6u) << "width " << bad;
        rq6::PayloadFields h;
        h.biHeight = bad;
        EXPECT_EQ(BeginWith(h), 6u) << "height " << bad;
    }
    // Each side within its limit but too many pixels in all.
    rq6::PayloadFields area;
    area.biWidth = 32767;
    area.biHeight = 32767;
    EXPECT_EQ(BeginWith(area), 6u);
}

TEST(BeginStatus, CommentLengthBelowZeroOrBeyondReasonIsAFormatError) {
    for (std::uint32_t off : {0u, 53u, 54u + 65537u, 0xFFFFFFFFu}) {
        rq6::PayloadFields f;
        f.bfOffBits = off;
        EXPECT_EQ(BeginWith(f), 6u) << off;
    }
}

TEST(BeginStatus, RequestsTheJobCannotServeAreUnexpected) {
    test::WritePicture("ok.rq6", SmallPicture());
    std::remove("never.bmp");
    for (auto [w, h, mode] : {std::tuple{0u, 6u, 24u}, {8u, 0u, 24u}, {40000u, 6u, 24u}, {8u, 6u, 7u}}) {
        WPConvert job;
        EXPECT_EQ(job.Begin("ok.rq6", "never.bmp", 1.0, w, h, mode), 7u);
        EXPECT_EQ(job.ConvertFirstLine(), 7u);
    }
    EXPECT_FALSE(test::FileExists("never.bmp"));
}

TEST(Comment, EmptyWhenTheRowsFollowTheHeaders) {
    rq6::PayloadFields f;
    f.rawComment = "";
    test::WritePicture("nocomment.rq6", SmallPicture(), "", f);
    WPConvert job;
    ASSERT_EQ(job.Begin("nocomment.rq6", "out.bmp", 1.0, 9, 7, 24), 0u);
    EXPECT_EQ(Bytes(job.comment, job.comment + 128), Bytes(128, 0));
}

TEST(Comment, FullFieldWithoutTerminatorIsKeptWhole) {
    rq6::PayloadFields f;
    f.rawComment = std::string(128, 'k');
    test::WritePicture("full.rq6", SmallPicture(), "", f);
    WPConvert job;
    ASSERT_EQ(job.Begin("full.rq6", "out.bmp", 1.0, 9, 7, 24), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(job.comment), 128), std::string(128, 'k'));
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

// A file cut at `keep` bytes, and how far a conversion of it gets.
test::JobResult ConvertTruncated(const Bytes& whole, std::size_t keep) {
    test::WriteRaw("cut.rq6", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep)));
    return test::Convert("cut.rq6", "cut.bmp", 1.0, 9, 7, 24);
}

TEST(TruncatedFile, EveryCutEndsInAStatusAndNeverInStaleData) {
    const auto payload = rq6::BuildPayload(SmallPicture().width, SmallPicture().height, SmallPicture().bgr, "comment");
    const Bytes whole = rq6::EncodeRq6(payload);
    ASSERT_EQ(ConvertTruncated(whole, whole.size()).status, 0u);
    for (std::size_t keep = 0; keep < whole.size(); ++keep) {
        const auto result = ConvertTruncated(whole, keep);
        // Cuts in the container or the tree are format errors, later cuts read errors.
        EXPECT_TRUE(result.status == 4 || result.status == 6) << keep << ": " << result.status;
        if (keep < 9) {
            EXPECT_EQ(result.status, 6u) << keep;
        }
        EXPECT_LT(result.linesDone, 7u) << keep;
    }
}

TEST(TruncatedFile, CutInTheRowsFailsAtTheRowThatIsMissing) {
    // A one-leaf code would never run out; a random picture needs every bit.
    std::mt19937 rng(1);
    const test::Picture picture = test::RandomPicture(64, 40, rng);
    const auto payload = rq6::BuildPayload(64, 40, picture.bgr, "");
    Bytes whole = rq6::EncodeRq6(payload);
    whole.resize(whole.size() / 2);
    test::WriteRaw("half.rq6", whole);
    WPConvert job;
    ASSERT_EQ(job.Begin("half.rq6", "half.bmp", 1.0, 64, 40, 24), 0u);
    std::uint32_t status = job.ConvertFirstLine();
    while (status == 0 && job.linesDone < job.height) status = job.ConvertNextLine();
    EXPECT_EQ(status, 4u);
    EXPECT_GT(job.linesDone, 10u);
    EXPECT_LT(job.linesDone, 30u);
    const std::uint32_t done = job.linesDone;
    EXPECT_EQ(job.ConvertNextLine(), 4u);
    EXPECT_EQ(job.linesDone, done);
}

TEST(WorkBlock, EveryViewIsAlignedWhateverTheSizes) {
    // Picture 9 x 7; output sides chosen so that the four sides add up to
    // every remainder modulo 4.
    test::WritePicture("in.rq6", SmallPicture());
    for (std::uint32_t width : {1u, 2u, 3u, 4u}) {
        WPConvert job;
        ASSERT_EQ(job.Begin("in.rq6", "out.bmp", 1.0, width, 5, 24), 0u);
        const auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
        EXPECT_EQ(at(job.hWeights) % 2, 0u) << width;
        EXPECT_EQ(at(job.vWeights) % 2, 0u) << width;
        EXPECT_EQ(at(job.row) % 2, 0u) << width;
        EXPECT_EQ(at(job.delta) % 2, 0u) << width;
        EXPECT_EQ(at(job.acc) % 4, 0u) << width;
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
