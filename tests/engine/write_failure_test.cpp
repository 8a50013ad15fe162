// File failures. A disk that fills up at the file header, the info header,
// the palette or any row gives status 5 exactly there, and the job then
// writes nothing more; an output that cannot be created gives status 3. A
// disc whose reads fail partway through a picture ends the job where a file
// cut at the same byte would end it, without a single made-up byte. The file
// layer of this suite stops writes after a byte budget and reads after a
// byte limit (tests/platform/file_faults.h); on Linux /dev/full is tried too.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "engine/picture_reader.h"
#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"
#include "tests/platform/file_faults.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using file_faults::ShortWrite;

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
        file_faults::LimitWrites(budget, how);
        o.begin = job.Begin("in.rq6", "out.bmp", 1.0, kWidth, kHeight, mode);
        std::uint32_t s = o.begin;
        if (s == 0) s = job.ConvertFirstLine();
        while (s == 0 && job.linesDone < job.height) s = job.ConvertNextLine();
        // A failed job stays failed and writes nothing more.
        const std::uint64_t before = file_faults::Written();
        EXPECT_EQ(job.ConvertNextLine(), s);
        EXPECT_EQ(job.ConvertFirstLine(), s);
        EXPECT_EQ(file_faults::Written(), before);
        o.status = job.status;
        o.linesDone = job.linesDone;
        o.written = file_faults::Written();
        file_faults::UnlimitedWrites();
    }
    o.file = test::ReadBytes("out.bmp");
    return o;
}

class WriteFailure : public ::testing::TestWithParam<std::uint32_t> {
protected:
    void TearDown() override { file_faults::UnlimitedWrites(); }
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

// ---------------------------------------------------------------------------
// Reads that fail partway, on a picture of several read blocks. Where each
// failure falls is worked out from the code (test::Classify), not from the
// engine: the job must end as it would on a file cut at that byte, with the
// read failure's status once the code tree is complete.

using test::Region;

constexpr std::uint32_t kBlock = BitI::kBufferSize;
constexpr std::uint32_t kDiscWidth = 224;  // 1344-byte stored rows
constexpr std::uint32_t kDiscHeight = 200;

const test::Picture& DiscPicture() {
    static const test::Picture picture = [] {
        std::mt19937 rng(64);
        return test::RandomPicture(kDiscWidth, kDiscHeight, rng);
    }();
    return picture;
}

const test::StreamLayout& DiscLayout() {
    static const test::StreamLayout layout =
        test::LayoutOf(DiscPicture(), "a picture on a scratched disc");
    return layout;
}

// The byte that holds the last bit of payload byte i: without it, that
// payload byte cannot be decoded.
std::size_t LastByteOf(std::size_t i) { return (DiscLayout().payloadEnd[i] - 1) / 8; }

struct ReadFault {
    const char* name;
    Region region;              // where the failing byte lies
    std::size_t (*readable)();  // bytes the reads deliver before they fail
};

const ReadFault kReadFaults[] = {
    {"InTheMagic", Region::kContainer, [] { return std::size_t{2}; }},
    {"InTheExtraWord", Region::kContainer, [] { return std::size_t{6}; }},
    {"AtTheTree", Region::kTree, [] { return std::size_t{8}; }},
    {"InTheTree", Region::kTree,
     [] { return static_cast<std::size_t>(DiscLayout().treeEnd / 16 + 4); }},
    {"InTheLastTreeByte", Region::kTree,
     [] { return static_cast<std::size_t>((DiscLayout().treeEnd - 1) / 8); }},
    {"InTheFileHeader", Region::kHeaders, [] { return LastByteOf(2); }},
    {"InTheInfoHeader", Region::kHeaders, [] { return LastByteOf(14 + 4); }},
    {"InTheComment", Region::kComment, [] { return LastByteOf(bmp::kHeadersSize + 10); }},
    {"InTheFirstRow", Region::kRows,
     [] {
         return LastByteOf(bmp::kHeadersSize + DiscLayout().commentLength +
                           DiscLayout().inStride / 2);
     }},
    // Around the ends of the engine's read blocks, which follow the 8-byte container.
    {"JustBeforeTheFirstBlockEnds", Region::kRows, [] { return std::size_t{8 + kBlock - 1}; }},
    {"AtTheFirstBlockEnd", Region::kRows, [] { return std::size_t{8 + kBlock}; }},
    {"JustAfterTheFirstBlockEnds", Region::kRows, [] { return std::size_t{8 + kBlock + 1}; }},
    {"MidFile", Region::kRows, [] { return DiscLayout().file.size() / 2; }},
    {"AtTheThirdBlockEnd", Region::kRows, [] { return std::size_t{8 + 3 * kBlock}; }},
    {"InTheLastByte", Region::kRows, [] { return DiscLayout().file.size() - 1; }},
    {"NowhereTheWholeFileReads", Region::kRows, [] { return DiscLayout().file.size(); }},
};

void PrintTo(const ReadFault& fault, std::ostream* os) { *os << fault.name; }

enum class Step { kBegin, kFirstLine, kNextLine };

struct ReadOutcome {
    std::uint32_t status = 0;
    Step failedIn = Step::kBegin;
    std::uint32_t linesDone = 0;
    bool outputExists = false;
    Bytes file;
};

ReadOutcome ConvertReadingAtMost(std::size_t readable, std::uint32_t mode) {
    std::remove("disc.bmp");
    ReadOutcome o;
    {
        WPConvert job;
        file_faults::LimitReads(readable);
        std::uint32_t s = job.Begin("disc.rq6", "disc.bmp", 1.0, kDiscWidth, kDiscHeight, mode);
        if (s == kStatusOk) {
            o.failedIn = Step::kFirstLine;
            s = job.ConvertFirstLine();
        }
        while (s == kStatusOk && job.linesDone < job.height) {
            o.failedIn = Step::kNextLine;
            s = job.ConvertNextLine();
        }
        // A failed job stays failed and writes nothing more.
        const std::uint64_t before = file_faults::Written();
        EXPECT_EQ(job.ConvertNextLine(), s);
        EXPECT_EQ(job.ConvertFirstLine(), s);
        EXPECT_EQ(file_faults::Written(), before);
        o.status = s;
        o.linesDone = job.linesDone;
        file_faults::UnlimitedReads();
    }
    o.outputExists = test::FileExists("disc.bmp");
    o.file = test::ReadBytes("disc.bmp");
    return o;
}

// The conversion of the intact file, per mode.
const Bytes& IntactBmp(std::uint32_t mode) {
    static std::map<std::uint32_t, Bytes> done;
    Bytes& bytes = done[mode];
    if (bytes.empty()) bytes = test::ConvertedBytes("disc.rq6", 1.0, kDiscWidth, kDiscHeight, mode);
    return bytes;
}

class ScratchedDiscTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::WriteRaw("disc.rq6", DiscLayout().file); }
    void TearDown() override { file_faults::UnlimitedReads(); }
};

class ReadFailure : public ScratchedDiscTest,
                    public ::testing::WithParamInterface<std::tuple<ReadFault, std::uint32_t>> {};

TEST_P(ReadFailure, EndsWhereTheGoodBytesEndAndMakesNothingUp) {
    const auto& [fault, mode] = GetParam();
    ASSERT_GT(DiscLayout().file.size(), 8 + 3 * kBlock) << "the picture spans several read blocks";
    const test::CutPoint cut = test::Classify(DiscLayout(), fault.readable());
    ASSERT_EQ(cut.region, fault.region) << "the case lies where its name says";
    const Bytes& intact = IntactBmp(mode);
    ASSERT_FALSE(intact.empty());

    const ReadOutcome o = ConvertReadingAtMost(cut.keep, mode);
    switch (cut.region) {
        case Region::kContainer:
        case Region::kTree:
        case Region::kHeaders:
        case Region::kComment:
            // Without a complete tree the file is no picture; after it, the
            // picture could not be read.
            EXPECT_EQ(o.status,
                      cut.region <= Region::kTree ? kStatusFormatError : kStatusReadFailed);
            EXPECT_EQ(o.failedIn, Step::kBegin);
            EXPECT_FALSE(o.outputExists);
            break;
        case Region::kRows: {
            const std::size_t start = bmp::kHeadersSize + PaletteBytes(mode);
            const std::size_t stride = (intact.size() - start) / kDiscHeight;
            EXPECT_EQ(o.linesDone, cut.row);
            if (cut.row == kDiscHeight) {
                EXPECT_EQ(o.status, kStatusOk);
            } else {
                EXPECT_EQ(o.status, kStatusReadFailed);
                EXPECT_EQ(o.failedIn, cut.row == 0 ? Step::kFirstLine : Step::kNextLine);
            }
            // Headers, palette and the rows done, each as the intact file gives it.
            ASSERT_EQ(o.file.size(), start + stride * o.linesDone);
            EXPECT_TRUE(std::equal(o.file.begin(), o.file.end(), intact.begin()));
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ScratchedDisc, ReadFailure,
    ::testing::Combine(::testing::ValuesIn(kReadFaults),
                       ::testing::Values(kModeFullColor, kModeColor256)),
    [](const ::testing::TestParamInfo<std::tuple<ReadFault, std::uint32_t>>& p) {
        return std::string(std::get<0>(p.param).name) + "_Mode" +
               std::to_string(std::get<1>(p.param));
    });

TEST_F(ScratchedDiscTest, PictureReaderStopsAtTheRowItCannotReadWithEveryRowBeforeItIntact) {
    const std::size_t readable = DiscLayout().file.size() / 2;
    const test::CutPoint cut = test::Classify(DiscLayout(), readable);
    ASSERT_EQ(cut.region, Region::kRows);
    PictureReader reader;
    file_faults::LimitReads(readable);
    ASSERT_EQ(reader.Open("disc.rq6"), kStatusOk);
    std::vector<std::uint16_t> bgr(3 * kDiscWidth);
    for (std::uint32_t y = 0; y < cut.row; ++y) {
        ASSERT_EQ(reader.ReadRow(bgr.data()), kStatusOk) << y;
        ASSERT_TRUE(
            std::equal(bgr.begin(), bgr.end(), DiscPicture().bgr.begin() + 3 * kDiscWidth * y))
            << y;
    }
    EXPECT_EQ(reader.ReadRow(bgr.data()), kStatusReadFailed);
    EXPECT_EQ(reader.ReadRow(bgr.data()), kStatusReadFailed);
    EXPECT_EQ(reader.rowsRead, cut.row);
}

// ---------------------------------------------------------------------------
// Sources other than files: a pipe hands out what it has, a few bytes or a
// block at a time, and may end or fail after any read. Wherever that is,
// the job ends as it would on a file cut at the same byte, keeps the rows
// before it, and says whether the input failed or ended.

class ChunkedSource final : public ByteSource {
public:
    ChunkedSource(const Bytes& bytes, std::size_t chunk, std::size_t stop, bool fails)
        : bytes_(bytes), chunk_(chunk), stop_(stop), fails_(fails) {}

    bool Read(void* buffer, std::uint32_t size, std::uint32_t* got) override {
        *got = 0;
        if (at_ == stop_) {
            if (!fails_) return true;
            systemError = EIO;
            return false;
        }
        const std::size_t n = std::min({std::size_t{size}, chunk_, stop_ - at_});
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), n, static_cast<std::uint8_t*>(buffer));
        at_ += n;
        *got = static_cast<std::uint32_t>(n);
        return true;
    }

private:
    const Bytes& bytes_;
    std::size_t chunk_, stop_, at_ = 0;
    bool fails_;
};

TEST_F(ScratchedDiscTest, ASourceThatEndsOrFailsAfterAnyReadEndsWhereAFileCutThereWould) {
    const Bytes& file = DiscLayout().file;
    test::MemoryRows intact;
    ASSERT_EQ(test::ConvertFromMemory(file, &intact, 1.0, kDiscWidth, kDiscHeight, kModeFullColor)
                  .status,
              kStatusOk);
    // Reads of odd sizes, of the decoder's whole block and of more than it.
    for (const std::size_t chunk : {std::size_t{997}, std::size_t{kBlock}, std::size_t{kBlock + 3}}) {
        // Every read boundary (for the small reads, every seventh).
        const std::size_t step = chunk < 4096 ? 7 * chunk : chunk;
        std::vector<std::size_t> stops;
        for (std::size_t stop = 0; stop < file.size(); stop += step) stops.push_back(stop);
        stops.push_back(file.size());
        for (const std::size_t stop : stops) {
            const test::CutPoint cut = test::Classify(DiscLayout(), stop);
            for (const bool fails : {false, true}) {
                if (fails && stop == file.size()) continue;  // nothing left to fail on
                const std::string what = std::to_string(chunk) + "-byte reads, " +
                                         (fails ? "failing" : "ending") + " at byte " + std::to_string(stop);
                ChunkedSource source(file, chunk, stop, fails);
                test::MemoryRows rows;
                WPConvert job;
                std::uint32_t s = job.Begin(source, rows, 1.0, kDiscWidth, kDiscHeight, kModeFullColor);
                if (s == kStatusOk) s = job.ConvertFirstLine();
                while (s == kStatusOk && job.linesDone < job.height) s = job.ConvertNextLine();
                if (cut.region == Region::kRows && cut.row == kDiscHeight) {
                    EXPECT_EQ(s, kStatusOk) << what;
                } else {
                    EXPECT_EQ(s, cut.region <= Region::kTree ? kStatusFormatError : kStatusReadFailed) << what;
                }
                EXPECT_EQ(job.linesDone, cut.region == Region::kRows ? cut.row : 0u) << what;
                ASSERT_TRUE(std::equal(rows.rows.begin(), rows.rows.end(), intact.rows.begin())) << what;
                if (s == kStatusReadFailed) {
                    // Told apart, with the system's reason where there is one.
                    EXPECT_EQ(job.reader->InputFailed(), fails) << what;
                    EXPECT_EQ(job.reader->SystemError(), fails ? EIO : 0) << what;
                }
            }
        }
    }
}

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
