// Damaged and hostile pictures: every file here is its own named case with
// the status the job must end with, and none of them may get further than it
// should. Files that fail in Begin must leave no output file and no work
// block behind; their dimensions are refused before anything is allocated.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// 5 x 3: an odd width, so every stored row ends in two fill bytes.
const test::Picture& SmallPicture() {
    static const test::Picture picture = [] {
        std::mt19937 rng(5);
        return test::RandomPicture(5, 3, rng);
    }();
    return picture;
}

Bytes SmallFile(const rq6::PayloadFields& fields = {}, const std::string& comment = "damaged") {
    const auto& p = SmallPicture();
    return rq6::EncodeRq6(rq6::BuildPayload(p.width, p.height, p.bgr, comment, fields));
}

Bytes Cut(Bytes bytes, std::size_t keep) {
    bytes.resize(keep);
    return bytes;
}

struct Outcome {
    std::uint32_t begin = 0;   // what Begin returned
    std::uint32_t status = 0;  // the job's status at the end
    std::uint32_t linesDone = 0;
    bool workAllocated = false;
    bool outputExists = false;
    std::size_t outputSize = 0;
};

// Runs a whole job on the file, converting to the picture's own size in full colour.
Outcome RunJob(const Bytes& file, const std::string& name) {
    const std::string in = name + ".rq6";
    const std::string out = name + ".bmp";
    test::WriteRaw(in, file);
    std::remove(out.c_str());
    Outcome o;
    {
        WPConvert job;
        o.begin = job.Begin(in.c_str(), out.c_str(), 1.0, 5, 3, kModeFullColor);
        o.workAllocated = job.work != nullptr;
        std::uint32_t s = o.begin;
        if (s == 0) s = job.ConvertFirstLine();
        while (s == 0 && job.linesDone < job.height) s = job.ConvertNextLine();
        // The failure sticks: further steps repeat it and write nothing.
        EXPECT_EQ(job.ConvertNextLine(), s);
        o.status = job.status;
        o.linesDone = job.linesDone;
    }
    o.outputExists = test::FileExists(out);
    if (o.outputExists) o.outputSize = test::ReadBytes(out).size();
    // The same bytes from memory end the same way, with the same rows.
    test::MemoryRows rows;
    const test::JobResult fromMemory =
        test::ConvertFromMemory(file, &rows, 1.0, 5, 3, kModeFullColor);
    EXPECT_EQ(fromMemory.status, o.status) << name;
    EXPECT_EQ(fromMemory.linesDone, o.linesDone) << name;
    EXPECT_EQ(rows.started, o.begin == kStatusOk) << name;
    if (o.outputExists && o.outputSize >= bmp::kHeadersSize) {
        const Bytes written = test::ReadBytes(out);
        EXPECT_EQ(Bytes(written.begin() + bmp::kHeadersSize, written.end()), rows.rows) << name;
    }
    return o;
}

// A failure in Begin: refused before the work block and the output file exist.
void ExpectRefusedInBegin(const Outcome& o, std::uint32_t status) {
    EXPECT_EQ(o.begin, status);
    EXPECT_EQ(o.status, status);
    EXPECT_FALSE(o.workAllocated);
    EXPECT_FALSE(o.outputExists);
    EXPECT_EQ(o.linesDone, 0u);
}

// Full-colour rows of the 5-pixel-wide output: 15 bytes and one fill byte.
constexpr std::size_t kOutStride = 16;

// ---------------------------------------------------------------------------
// A small picture cut at every byte. Where the cut falls is worked out from
// the code itself (test::LayoutOf).

using test::Region;

const test::StreamLayout& CutLayout() {
    static const test::StreamLayout layout =
        test::LayoutOf(SmallPicture(), "a comment of some length");
    return layout;
}

test::CutPoint Classify(std::size_t keep) { return test::Classify(CutLayout(), keep); }

class TruncatedFile : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TruncatedFile, EndsWithTheStatusOfItsRegion) {
    const test::CutPoint cut = Classify(GetParam());
    ASSERT_LT(cut.keep, CutLayout().file.size());
    const Outcome o = RunJob(Cut(CutLayout().file, cut.keep), "cut");
    switch (cut.region) {
        case Region::kContainer:
        case Region::kTree:
            // The file is not an RQ6 picture at all.
            ExpectRefusedInBegin(o, kStatusFormatError);
            break;
        case Region::kHeaders:
        case Region::kComment:
            // A picture whose file ended early: a read failure.
            ExpectRefusedInBegin(o, kStatusReadFailed);
            break;
        case Region::kRows:
            // Every row before the missing one is written, and nothing after.
            EXPECT_EQ(o.begin, kStatusOk);
            EXPECT_EQ(o.status, kStatusReadFailed);
            EXPECT_EQ(o.linesDone, cut.row);
            EXPECT_EQ(o.outputSize, bmp::kHeadersSize + kOutStride * cut.row);
            break;
    }
}

std::string CutName(const ::testing::TestParamInfo<std::size_t>& info) {
    const test::CutPoint c = Classify(info.param);
    static const char* const names[] = {"Container", "Tree", "Headers", "Comment", "Row"};
    std::string name = "Byte" + std::to_string(c.keep) + "_" + names[static_cast<int>(c.region)];
    if (c.region == Region::kRows) name += std::to_string(c.row);
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryByte, TruncatedFile,
                         ::testing::Range<std::size_t>(0, CutLayout().file.size()), CutName);

TEST(TruncatedFileLayout, EveryRegionIsCut) {
    // The cuts above reach each region, or the suite proves less than it says.
    std::vector<int> seen(5, 0);
    for (std::size_t keep = 0; keep < CutLayout().file.size(); ++keep) {
        ++seen[static_cast<int>(Classify(keep).region)];
    }
    for (int count : seen) EXPECT_GT(count, 0);
    EXPECT_EQ(CutLayout().file, SmallFile({}, "a comment of some length"));
    // The whole file converts.
    EXPECT_EQ(RunJob(CutLayout().file, "whole").status, kStatusOk);
}

TEST(TruncatedFileLayout, ACutInTheRowsOfALargerPictureStopsAtTheMissingRow) {
    // Scaled to another size, the job stops where the first missing input
    // row is needed; the step after that repeats the failure.
    std::mt19937 rng(1);
    const test::Picture picture = test::RandomPicture(64, 40, rng);
    Bytes whole = rq6::EncodeRq6(rq6::BuildPayload(64, 40, picture.bgr, ""));
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

// ---------------------------------------------------------------------------
// Named bad files.

struct BadFile {
    const char* name;
    std::function<Bytes()> make;
    std::uint32_t status;  // how the job ends
    bool failsInBegin;     // or else Begin succeeds and a row fails
};

Bytes Raw(std::initializer_list<std::uint8_t> bytes) { return Bytes(bytes); }

Bytes WithFields(std::function<void(rq6::PayloadFields&)> change) {
    rq6::PayloadFields f;
    change(f);
    return SmallFile(f);
}

// The container and a tree of only internal nodes: 1 bits until the file ends.
Bytes OnlyInternalNodes(std::size_t treeBytes) {
    Bytes b(8 + treeBytes, 0xFF);
    const char head[] = "RQ61";
    for (std::size_t i = 0; i < 8; ++i) b[i] = i < 4 ? static_cast<std::uint8_t>(head[i]) : 0;
    return b;
}

Bytes ChainCoded(int internalNodes) {
    const auto& p = SmallPicture();
    return rq6::EncodeRq6WithTree(rq6::BuildPayload(p.width, p.height, p.bgr, "deep"),
                                  rq6::ChainTree(internalNodes));
}

Bytes OneLeaf(int value) {
    rq6::CodeTree leaf;
    leaf.root = value;
    return rq6::EncodeRq6WithTree(Bytes(200, static_cast<std::uint8_t>(value)), leaf);
}

Bytes Width(std::int32_t v) {
    return WithFields([v](rq6::PayloadFields& f) { f.biWidth = v; });
}
Bytes Height(std::int32_t v) {
    return WithFields([v](rq6::PayloadFields& f) { f.biHeight = v; });
}
Bytes Area(std::int32_t w, std::int32_t h) {
    return WithFields([w, h](rq6::PayloadFields& f) {
        f.biWidth = w;
        f.biHeight = h;
    });
}
Bytes OffBits(std::uint32_t v) {
    return WithFields([v](rq6::PayloadFields& f) { f.bfOffBits = v; });
}

constexpr std::uint32_t kFormat = kStatusFormatError;
constexpr std::uint32_t kRead = kStatusReadFailed;

const BadFile kBadFiles[] = {
    // The container.
    {"EmptyFile", [] { return Bytes{}; }, kFormat, true},
    {"MagicOnly", [] { return Raw({'R', 'Q', '6', '1'}); }, kFormat, true},
    {"NoTree", [] { return Raw({'R', 'Q', '6', '1', 1, 2, 3, 4}); }, kFormat, true},
    {"WrongMagicRQ60", [] { auto b = SmallFile(); b[3] = '0'; return b; }, kFormat, true},
    {"WrongMagicLowerCase", [] { auto b = SmallFile(); b[0] = 'r'; b[1] = 'q'; return b; }, kFormat, true},
    {"BitmapFileInstead", [] { return Raw({'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 0x36, 0}); }, kFormat, true},
    // The code tree.
    {"InternalNode256", [] { return ChainCoded(256); }, kFormat, true},
    {"InternalNode300", [] { return ChainCoded(300); }, kFormat, true},
    {"LeavesNeverReachedWithinTheFile", [] { return OnlyInternalNodes(20); }, kFormat, true},
    {"LeavesNeverReachedBefore256Nodes", [] { return OnlyInternalNodes(64); }, kFormat, true},
    {"TreeEndsInsideALeafValue", [] { return Raw({'R', 'Q', '6', '1', 0, 0, 0, 0, 0x80}); }, kFormat, true},
    // A one-leaf tree decodes every byte to one value, so its headers can never say "IF".
    {"OneLeafTreeOfI", [] { return OneLeaf('I'); }, kFormat, true},
    {"OneLeafTreeOfZero", [] { return OneLeaf(0); }, kFormat, true},
    // Other kinds of bitmap.
    {"BfTypeBM", [] { return WithFields([](auto& f) { f.bfType = 'B' | 'M' << 8; }); }, kFormat, true},
    {"BiBitCount24", [] { return WithFields([](auto& f) { f.biBitCount = 24; }); }, kFormat, true},
    {"BiCompression0", [] { return WithFields([](auto& f) { f.biCompression = 0; }); }, kFormat, true},
    // Sizes: refused before the work block is allocated.
    {"Width0", [] { return Width(0); }, kFormat, true},
    {"WidthMinus1", [] { return Width(-1); }, kFormat, true},
    {"WidthMinus2147483648", [] { return Width(INT32_MIN); }, kFormat, true},
    {"Width32768", [] { return Width(32768); }, kFormat, true},
    {"Width65535", [] { return Width(65535); }, kFormat, true},
    {"Width65536", [] { return Width(65536); }, kFormat, true},
    {"Width2147483647", [] { return Width(INT32_MAX); }, kFormat, true},
    {"Height0", [] { return Height(0); }, kFormat, true},
    {"HeightMinus1", [] { return Height(-1); }, kFormat, true},
    {"HeightMinus2147483648", [] { return Height(INT32_MIN); }, kFormat, true},
    {"Height32768", [] { return Height(32768); }, kFormat, true},
    {"Height65535", [] { return Height(65535); }, kFormat, true},
    {"Height65536", [] { return Height(65536); }, kFormat, true},
    {"Height2147483647", [] { return Height(INT32_MAX); }, kFormat, true},
    {"AreaAboveTheCap32767x4097", [] { return Area(32767, 4097); }, kFormat, true},
    {"AreaAboveTheCap16384x8193", [] { return Area(16384, 8193); }, kFormat, true},
    {"SidesAtTheLimitButAreaAbove", [] { return Area(32767, 32767); }, kFormat, true},
    // Sizes within the limits. One pixel a side reads the start of the
    // stored rows as a whole picture; larger sizes than the file holds run
    // out of file at the first row.
    {"Width1", [] { return Width(1); }, kStatusOk, false},
    {"Height1", [] { return Height(1); }, kStatusOk, false},
    {"Width32767RowsMissing", [] { return Width(32767); }, kRead, false},
    {"Height32767RowsMissing", [] { return Height(32767); }, kRead, false},
    {"AreaExactlyAtTheCapRowsMissing", [] { return Area(16384, 8192); }, kRead, false},
    // Comment lengths.
    {"BfOffBits0", [] { return OffBits(0); }, kFormat, true},
    {"BfOffBits53", [] { return OffBits(53); }, kFormat, true},
    {"BfOffBitsBeyond64KB", [] { return OffBits(54 + 65537); }, kFormat, true},
    {"BfOffBitsMaximum", [] { return OffBits(0xFFFFFFFFu); }, kFormat, true},
    // Far beyond the comment actually stored: the rows are read as comment
    // until the file ends.
    {"BfOffBitsFarBeyondTheComment", [] { return OffBits(54 + 5000); }, kRead, true},
    {"BfOffBits64KBBeyondTheComment", [] { return OffBits(54 + 65536); }, kRead, true},
};

class BadFileTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadFileTest, EndsWithItsStatus) {
    const BadFile& bad = GetParam();
    const Outcome o = RunJob(bad.make(), bad.name);
    if (bad.failsInBegin) {
        ExpectRefusedInBegin(o, bad.status);
    } else {
        EXPECT_EQ(o.begin, kStatusOk);
        EXPECT_EQ(o.status, bad.status);
        if (bad.status == kStatusOk) {
            EXPECT_EQ(o.linesDone, 3u);
        } else {
            EXPECT_EQ(o.linesDone, 0u);
        }
        EXPECT_EQ(o.outputSize, bmp::kHeadersSize + kOutStride * o.linesDone);
    }
}

std::string BadFileName(const ::testing::TestParamInfo<BadFile>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Named, BadFileTest, ::testing::ValuesIn(kBadFiles), BadFileName);

// ---------------------------------------------------------------------------
// Unusual files that are still pictures.

TEST(UnusualButValid, Tree255InternalNodesIsAccepted) {
    const Outcome o = RunJob(ChainCoded(255), "deep255");
    EXPECT_EQ(o.status, kStatusOk);
    EXPECT_EQ(test::ReadBytes("deep255.bmp"), test::ReferenceBmp(SmallPicture(), 1.0, 5, 3, 24));
}

TEST(UnusualButValid, Width1AndHeight1) {
    const test::Picture dot = test::UniformPicture(1, 1, 100, 20000, 65535);
    test::WritePicture("dot.rq6", dot);
    EXPECT_EQ(test::Convert("dot.rq6", "dot.bmp", 1.0, 3, 2, 24).status, kStatusOk);
    EXPECT_EQ(test::ReadBytes("dot.bmp"), test::ReferenceBmp(dot, 1.0, 3, 2, 24));
}

TEST(UnusualButValid, Comment128BytesWithoutTerminatorIsKeptWhole) {
    rq6::PayloadFields f;
    f.rawComment = std::string(128, 'k');
    test::WritePicture("full.rq6", SmallPicture(), "", f);
    {
        WPConvert job;  // closes the output when it goes
        ASSERT_EQ(job.Begin("full.rq6", "full.bmp", 1.0, 5, 3, 24), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(job.comment), 128), std::string(128, 'k'));
        ASSERT_EQ(job.ConvertFirstLine(), 0u);
        while (job.linesDone < job.height) ASSERT_EQ(job.ConvertNextLine(), 0u);
    }
    EXPECT_EQ(test::ReadBytes("full.bmp"), test::ReferenceBmp(SmallPicture(), 1.0, 5, 3, 24));
}

TEST(UnusualButValid, CommentOfTheLargestLengthKeepsTheRowsInPlace) {
    std::string text(65536, 'x');
    text[0] = 'A';
    rq6::PayloadFields f;
    f.rawComment = text;
    test::WritePicture("longest.rq6", SmallPicture(), "", f);
    {
        WPConvert job;
        ASSERT_EQ(job.Begin("longest.rq6", "longest.bmp", 1.0, 5, 3, 24), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(job.comment), 128), text.substr(0, 128));
        ASSERT_EQ(job.ConvertFirstLine(), 0u);
        while (job.linesDone < job.height) ASSERT_EQ(job.ConvertNextLine(), 0u);
    }
    EXPECT_EQ(test::ReadBytes("longest.bmp"), test::ReferenceBmp(SmallPicture(), 1.0, 5, 3, 24));
}

}  // namespace
