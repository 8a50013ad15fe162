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
#include "formats/rgb48_picture.h"
#include "gtest/gtest.h"
#include "tests/engine/damaged_files.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

using test::ChainCoded;
using test::SmallFile;
using test::SmallPicture;

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
    // Decoded whole, as the plug-ins decode it: refused at the same point
    // with the same status.
    MemorySource source(file.data(), file.size());
    rgb48::Picture whole;
    EXPECT_EQ(whole.Open(source), o.begin) << name;
    EXPECT_EQ(whole.Decode(), o.status) << name;
    EXPECT_EQ(whole.Pixels() != nullptr, o.status == kStatusOk) << name;
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

using test::CutLayout;

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
// Named bad files (tests/engine/damaged_files.cpp).

class BadFileTest : public ::testing::TestWithParam<test::DamagedFile> {};

TEST_P(BadFileTest, EndsWithItsStatus) {
    const test::DamagedFile& bad = GetParam();
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

std::string BadFileName(const ::testing::TestParamInfo<test::DamagedFile>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Named, BadFileTest, ::testing::ValuesIn(test::DamagedFiles()),
                         BadFileName);

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
