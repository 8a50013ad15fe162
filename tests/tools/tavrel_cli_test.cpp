// The tavrel command-line tool run as a user runs it: exit statuses, messages
// and what it leaves on disk.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <dirent.h>
#include <random>
#include <string>

#include "engine/conversion_status.h"
#include "engine/gamma_table.h"
#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"
#include "tests/tools/cli_runner.h"

namespace {

using test::CliRun;
using test::Listing;
using test::Slurp;
using test::Tavrel;

const test::Picture& Picture() {
    static const test::Picture p = [] {
        std::mt19937 rng(42);
        return test::RandomPicture(23, 17, rng);
    }();
    return p;
}

class TavrelCli : public ::testing::Test {
protected:
    void SetUp() override {
        std::system("rm -rf work && mkdir -p work/out");
        test::WritePicture("work/pic.rq6", Picture(), "hello");
    }
};

TEST_F(TavrelCli, ConvertsWithDefaultsIntoTheCurrentDirectory) {
    const CliRun r = Tavrel("convert work/pic.rq6");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(test::ReadBytes("pic.bmp"), test::ReferenceBmp(Picture(), 1.0, 23, 17, 24));
    std::remove("pic.bmp");
}

TEST_F(TavrelCli, SizeModeAndContrastReachTheConversion) {
    const CliRun r = Tavrel("convert work/pic.rq6 --size 31x9 --mode 4 --contrast 200 -o work/out/a.bmp");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(test::ReadBytes("work/out/a.bmp"),
              test::ReferenceBmp(Picture(), ContrastTable().exponent[200], 31, 9, 4));
    const CliRun e = Tavrel("convert work/pic.rq6 --size 5x5 --mode 9 --exponent 1.7 -o work/out/b.bmp");
    ASSERT_EQ(e.exit, 0) << e.err;
    EXPECT_EQ(test::ReadBytes("work/out/b.bmp"), test::ReferenceBmp(Picture(), 1.7, 5, 5, 9));
}

TEST_F(TavrelCli, SeveralInputsIntoAnOutputDirectory) {
    test::WritePicture("work/second.rq6", test::UniformPicture(4, 4, 1, 2, 3));
    const CliRun r = Tavrel("convert work/pic.rq6 work/second.rq6 --out-dir work/out --size 8x6 --mode 1");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"pic.bmp", "second.bmp"}));
}

TEST_F(TavrelCli, FailuresExitWithTheStatusAndItsMessage) {
    const CliRun missing = Tavrel("convert work/none.rq6 -o work/out/x.bmp");
    EXPECT_EQ(missing.exit, 2);
    EXPECT_NE(missing.err.find(StatusMessage(2)), std::string::npos) << missing.err;

    test::WriteRaw("work/bad.rq6", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0});
    const CliRun format = Tavrel("convert work/bad.rq6 -o work/out/x.bmp");
    EXPECT_EQ(format.exit, 6);
    EXPECT_NE(format.err.find(StatusMessage(6)), std::string::npos);

    const CliRun dir = Tavrel("convert work/pic.rq6 -o work/no-such-dir/x.bmp");
    EXPECT_EQ(dir.exit, 3);
    EXPECT_NE(dir.err.find(StatusMessage(3)), std::string::npos);
    EXPECT_TRUE(Listing("work/out").empty());
}

TEST_F(TavrelCli, AFailedConversionLeavesNoPartialFileAndKeepsTheOldOne) {
    auto bytes = test::ReadBytes("work/pic.rq6");
    bytes.resize(bytes.size() * 2 / 3);
    test::WriteRaw("work/cut.rq6", bytes);
    test::WriteRaw("work/out/cut.bmp", {'o', 'l', 'd'});
    const CliRun r = Tavrel("convert work/cut.rq6 --out-dir work/out");
    EXPECT_EQ(r.exit, 4);
    EXPECT_NE(r.err.find(StatusMessage(4)), std::string::npos);
    EXPECT_EQ(Slurp("work/out/cut.bmp"), "old");
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"cut.bmp"})) << "no temporary file left";
}

TEST_F(TavrelCli, FirstFailureDecidesTheExitStatusButTheRestIsConverted) {
    const CliRun r = Tavrel("convert work/none.rq6 work/pic.rq6 --out-dir work/out");
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"pic.bmp"}));
}

TEST_F(TavrelCli, ReadOnlyDirectoryCannotTakeTheOutput) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    chmod("work/out", 0555);
    const CliRun r = Tavrel("convert work/pic.rq6 --out-dir work/out");
    chmod("work/out", 0755);
    EXPECT_EQ(r.exit, 3);
}

TEST_F(TavrelCli, UsageErrorsExitWith64) {
    for (const char* args :
         {"", "frobnicate", "convert", "convert work/pic.rq6 --mode 3", "convert work/pic.rq6 --size 0x5",
          "convert work/pic.rq6 --size 40000x5", "convert work/pic.rq6 --size 12", "convert work/pic.rq6 --contrast 257",
          "convert work/pic.rq6 --contrast 1 --exponent 2", "convert work/pic.rq6 --exponent -1",
          "convert work/pic.rq6 work/pic.rq6 -o x.bmp", "convert work/pic.rq6 --bogus", "convert work/pic.rq6 -o",
          "info", "info a b", "sample-disc"}) {
        const CliRun r = Tavrel(args);
        EXPECT_EQ(r.exit, 64) << args;
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << args;
    }
    EXPECT_TRUE(Listing("work/out").empty());
}

TEST_F(TavrelCli, HelpDescribesEveryOption) {
    const CliRun r = Tavrel("--help");
    EXPECT_EQ(r.exit, 0);
    for (const char* word : {"convert", "info", "sample-disc", "-o", "--out-dir", "--size", "--mode",
                             "--contrast", "--exponent", "Exit status"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
}

TEST_F(TavrelCli, InfoShowsSizeCommentAndTree) {
    const CliRun r = Tavrel("info work/pic.rq6");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("23 x 17"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("hello"), std::string::npos);
    EXPECT_NE(r.out.find("internal nodes"), std::string::npos);
    EXPECT_NE(r.out.find("bfOffBits:       60"), std::string::npos);
    EXPECT_EQ(Tavrel("info work/none.rq6").exit, 2);
}

}  // namespace
