// Output failures: a disk that fills up at the file header, the info header,
// the palette or any row gives status 5 exactly there, and the job then
// writes nothing more; an output that cannot be created gives status 3.
// The file layer of this suite stops writes after a byte budget
// (tests/platform/write_budget.h); on Linux /dev/full is tried as well.
#include <cstdio>
#include <random>
#include <string>

#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"
#include "tests/platform/write_budget.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using write_budget::ShortWrite;

constexpr std::uint32_t kWidth = 13;  // odd: rows end in fill bytes in most modes
constexpr std::uint32_t kHeight = 5;

const test::Picture& Picture() {
    static const test::Picture picture = [] {
        std::mt19937 rng(17);
        return test::RandomPicture(9, 7, rng);
    }();
    return picture;
}

std::uint32_t PaletteBytes(std::uint32_t mode) {
    switch (mode) {
        case kModeMono: return 2 * 4;
        case kModeSystem16:
        case kModeGray16: return 16 * 4;
        case kModeColor256:
        case kModeGray256: return 256 * 4;
        default: return 0;
    }
}

std::uint32_t Stride(std::uint32_t mode) {
    switch (mode) {
        case kModeMono: return 4;                 // 2 bytes of pixels
        case kModeSystem16:
        case kModeGray16: return 8;               // 7
        case kModeColor256:
        case kModeGray256: return 16;             // 13
        default: return 40;                       // 39
    }
}

std::uint32_t FileSize(std::uint32_t mode) {
    return bmp::kHeadersSize + PaletteBytes(mode) + Stride(mode) * kHeight;
}

struct Outcome {
    std::uint32_t begin = 0;
    std::uint32_t status = 0;
    std::uint32_t linesDone = 0;
    std::uint64_t written = 0;
    Bytes file;
};

// Converts the picture with writes limited to `budget` bytes.
Outcome ConvertWithBudget(std::uint32_t mode, std::uint64_t budget,
                          ShortWrite how = ShortWrite::kFails) {
    test::WritePicture("in.rq6", Picture());
    std::remove("out.bmp");
    Outcome o;
    {
        WPConvert job;
        write_budget::Limit(budget, how);
        o.begin = job.Begin("in.rq6", "out.bmp", 1.0, kWidth, kHeight, mode);
        std::uint32_t s = o.begin;
        if (s == 0) s = job.ConvertFirstLine();
        while (s == 0 && job.linesDone < job.height) s = job.ConvertNextLine();
        // A failed job stays failed and writes nothing more.
        const std::uint64_t before = write_budget::Written();
        EXPECT_EQ(job.ConvertNextLine(), s);
        EXPECT_EQ(job.ConvertFirstLine(), s);
        EXPECT_EQ(write_budget::Written(), before);
        o.status = job.status;
        o.linesDone = job.linesDone;
        o.written = write_budget::Written();
        write_budget::Unlimited();
    }
    o.file = test::ReadBytes("out.bmp");
    return o;
}

class WriteFailure : public ::testing::TestWithParam<std::uint32_t> {
protected:
    void TearDown() override { write_budget::Unlimited(); }
    std::uint32_t mode() const { return GetParam(); }
};

TEST_P(WriteFailure, TheWholeFileFitsItsExactSize) {
    // The budget is not off by one: a file of exactly the room left succeeds.
    const Outcome o = ConvertWithBudget(mode(), FileSize(mode()));
    EXPECT_EQ(o.status, kStatusOk);
    EXPECT_EQ(o.linesDone, kHeight);
    EXPECT_EQ(o.file, test::ReferenceBmp(Picture(), 1.0, kWidth, kHeight, mode()));
}

TEST_P(WriteFailure, AtTheFileHeader) {
    for (std::uint64_t budget : {0u, 1u, 13u}) {
        const Outcome o = ConvertWithBudget(mode(), budget);
        EXPECT_EQ(o.begin, kStatusWriteFailed) << budget;
        EXPECT_EQ(o.status, kStatusWriteFailed);
        EXPECT_EQ(o.linesDone, 0u);
        // The file stays, with what was written: whether to delete it is the caller's choice.
        EXPECT_EQ(o.file.size(), budget);
    }
}

TEST_P(WriteFailure, AtTheInfoHeader) {
    for (std::uint64_t budget : {14u, 30u, 53u}) {
        const Outcome o = ConvertWithBudget(mode(), budget);
        EXPECT_EQ(o.begin, kStatusWriteFailed) << budget;
        EXPECT_EQ(o.file.size(), budget);
    }
}

TEST_P(WriteFailure, AtThePalette) {
    if (PaletteBytes(mode()) == 0) GTEST_SKIP() << "full-colour files have no palette";
    for (std::uint64_t budget : {54u, 55u, 54u + PaletteBytes(mode()) - 1}) {
        const Outcome o = ConvertWithBudget(mode(), budget);
        EXPECT_EQ(o.begin, kStatusWriteFailed) << budget;
        EXPECT_EQ(o.file.size(), budget);
    }
}

TEST_P(WriteFailure, AtEachRow) {
    const std::uint32_t start = bmp::kHeadersSize + PaletteBytes(mode());
    for (std::uint32_t row = 0; row < kHeight; ++row) {
        for (std::uint32_t into : {0u, 1u, Stride(mode()) - 1}) {
            const std::uint64_t budget = start + Stride(mode()) * row + into;
            const Outcome o = ConvertWithBudget(mode(), budget);
            EXPECT_EQ(o.begin, kStatusOk) << row;
            EXPECT_EQ(o.status, kStatusWriteFailed) << row << "+" << into;
            // The row that came up short is not counted.
            EXPECT_EQ(o.linesDone, row) << row << "+" << into;
            EXPECT_EQ(o.file.size(), budget);
        }
    }
}

TEST_P(WriteFailure, AShortWriteReportedAsSuccessIsStillAFailure) {
    // Only the count of bytes written matters, not what the call claims.
    const std::uint32_t start = bmp::kHeadersSize + PaletteBytes(mode());
    EXPECT_EQ(ConvertWithBudget(mode(), 20, ShortWrite::kClaimsSuccess).begin, kStatusWriteFailed);
    const Outcome o = ConvertWithBudget(mode(), start + Stride(mode()) + 1, ShortWrite::kClaimsSuccess);
    EXPECT_EQ(o.status, kStatusWriteFailed);
    EXPECT_EQ(o.linesDone, 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryMode, WriteFailure,
                         ::testing::Values(kModeMono, kModeSystem16, kModeGray16, kModeColor256,
                                           kModeGray256, kModeHighColor, kModeFullColor),
                         [](const ::testing::TestParamInfo<std::uint32_t>& p) {
                             return "Mode" + std::to_string(p.param);
                         });

TEST(OutputNotCreated, MissingFolderIsStatusThreeBeforeAnythingIsWritten) {
    test::WritePicture("in.rq6", Picture());
    WPConvert job;
    EXPECT_EQ(job.Begin("in.rq6", "no-such-folder/out.bmp", 1.0, 8, 6, 24), kStatusOutputNotCreated);
    EXPECT_EQ(job.ConvertFirstLine(), kStatusOutputNotCreated);
    EXPECT_EQ(job.linesDone, 0u);
}

TEST(OutputNotCreated, AFolderInsteadOfAFileIsStatusThree) {
    test::WritePicture("in.rq6", Picture());
    WPConvert job;
    EXPECT_EQ(job.Begin("in.rq6", ".", 1.0, 8, 6, 24), kStatusOutputNotCreated);
}

#ifdef __linux__
TEST(RealDisk, DevFullFailsAtTheFileHeader) {
    test::WritePicture("in.rq6", Picture());
    WPConvert job;
    EXPECT_EQ(job.Begin("in.rq6", "/dev/full", 1.0, 8, 6, 8), kStatusWriteFailed);
    EXPECT_EQ(job.ConvertFirstLine(), kStatusWriteFailed);
    EXPECT_EQ(job.linesDone, 0u);
}
#endif

}  // namespace
