// Real disks that fill up or refuse writes: a tiny tmpfs, full or mounted
// read-only, under the job and under the tavrel tool. The suite makes its
// mounts in a mount namespace of its own, so nobody else sees them and they
// vanish with the process; where mounting is not allowed (not root, or a
// container without the right) every test is skipped with the reason.
// Besides, the tool on a scratched disc: a test build of it whose reads
// fail after a byte limit.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/conversion_status.h"
#include "engine/wp_convert.h"
#include "gtest/gtest.h"
#include "tests/cli/cli_runner.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

using test::CliRun;
using test::Listing;
using test::Slurp;
using test::Tavrel;

constexpr char kDisk[] = "disk";
constexpr long kPage = 4096;

const test::Picture& Picture() {
    static const test::Picture p = [] {
        std::mt19937 rng(8);
        return test::RandomPicture(23, 17, rng);
    }();
    return p;
}

class RealDisk : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (geteuid() != 0) {
            skip_ = "mounting a tmpfs needs root";
        } else if (unshare(CLONE_NEWNS) != 0) {
            skip_ = std::string("no mount namespace of our own: ") + std::strerror(errno);
        } else if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            skip_ = std::string("mounts cannot be made private: ") + std::strerror(errno);
        }
    }

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        std::system("rm -rf disk && mkdir disk");
        test::WritePicture("pic.rq6", Picture(), "hello");
    }

    void TearDown() override {
        if (mounted_) umount2(kDisk, MNT_DETACH);
    }

    // A tmpfs of `bytes` (whole pages) on disk/, read-only if asked. When
    // that is refused the test is skipped, and the caller returns.
    bool Mount(long bytes, bool readOnly = false) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
        if (mount("tavrel-test", kDisk, "tmpfs", flags, options.c_str()) != 0) {
            const int error = errno;
            [error] { GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(error); }();
            return false;
        }
        mounted_ = true;
        return true;
    }

    // Fills the disk to the last byte. Its assertions end only this helper,
    // so every caller wraps it in ASSERT_NO_FATAL_FAILURE.
    static void Fill(const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        char block[kPage] = {};
        while (::write(fd, block, sizeof block) > 0) {
        }
        const int writeError = errno;
        ::close(fd);
        ASSERT_EQ(writeError, ENOSPC);
    }

    static inline std::string skip_;
    bool mounted_ = false;
};

TEST_F(RealDisk, JobOnAFullDiskFailsAtTheFileHeader) {
    if (!Mount(2 * kPage)) return;
    ASSERT_NO_FATAL_FAILURE(Fill("disk/filler"));
    WPConvert job;
    EXPECT_EQ(job.Begin("pic.rq6", "disk/out.bmp", 1.0, 23, 17, kModeColor256), kStatusWriteFailed);
    EXPECT_EQ(job.ConvertFirstLine(), kStatusWriteFailed);
}

TEST_F(RealDisk, JobFailsAtTheRowThatDoesNotFit) {
    if (!Mount(2 * kPage)) return;
    // Full colour at 200 x 100: 600-byte rows after 54 bytes of headers.
    WPConvert job;
    ASSERT_EQ(job.Begin("pic.rq6", "disk/out.bmp", 1.0, 200, 100, kModeFullColor), kStatusOk);
    std::uint32_t status = job.ConvertFirstLine();
    while (status == kStatusOk && job.linesDone < job.height) status = job.ConvertNextLine();
    EXPECT_EQ(status, kStatusWriteFailed);
    EXPECT_EQ(job.linesDone, (2 * kPage - 54) / 600);
    EXPECT_EQ(job.ConvertNextLine(), kStatusWriteFailed);
}

TEST_F(RealDisk, ToolOnAFullDiskExitsFiveAndKeepsTheOldFile) {
    if (!Mount(2 * kPage)) return;
    test::WriteRaw("disk/pic.bmp", {'o', 'l', 'd'});
    ASSERT_NO_FATAL_FAILURE(Fill("disk/filler"));
    const CliRun r = Tavrel("convert pic.rq6 -o disk/pic.bmp");
    EXPECT_EQ(r.exit, 5);
    EXPECT_EQ(r.err, "tavrel: cannot write disk/pic.bmp: No space left on device\n");
    EXPECT_EQ(Slurp("disk/pic.bmp"), "old");
    EXPECT_EQ(Listing(kDisk), (std::vector<std::string>{"filler", "pic.bmp"})) << "no partial file";
}

TEST_F(RealDisk, ToolThatRunsOutOfRoomInTheRowsLeavesNoPartialFile) {
    if (!Mount(4 * kPage)) return;
    test::WriteRaw("disk/pic.bmp", {'o', 'l', 'd'});
    const CliRun r = Tavrel("convert pic.rq6 --size 200x100 --mode 24 -o disk/pic.bmp");
    EXPECT_EQ(r.exit, 5);
    EXPECT_EQ(r.err, "tavrel: cannot write disk/pic.bmp: No space left on device\n");
    EXPECT_EQ(Slurp("disk/pic.bmp"), "old");
    EXPECT_EQ(Listing(kDisk), (std::vector<std::string>{"pic.bmp"}));
    // With room enough the same conversion succeeds.
    const CliRun small = Tavrel("convert pic.rq6 --size 20x10 --mode 24 -o disk/pic.bmp");
    ASSERT_EQ(small.exit, 0) << small.err;
    EXPECT_EQ(test::ReadBytes("disk/pic.bmp"), test::ReferenceBmp(Picture(), 1.0, 20, 10, 24));
}

TEST_F(RealDisk, ReadOnlyFolderIsStatusThree) {
    if (!Mount(4 * kPage, /*readOnly=*/true)) return;
    {
        // (The job holds the picture open, unshared, until it is destroyed.)
        WPConvert job;
        EXPECT_EQ(job.Begin("pic.rq6", "disk/out.bmp", 1.0, 23, 17, kModeFullColor),
                  kStatusOutputNotCreated);
    }
    const CliRun r = Tavrel("convert pic.rq6 --out-dir disk");
    EXPECT_EQ(r.exit, 3);
    EXPECT_EQ(r.err, "tavrel: cannot create disk/pic.bmp: Read-only file system\n");
    EXPECT_TRUE(Listing(kDisk).empty());
}

TEST_F(RealDisk, ExtractAndPackThatRunOutOfRoomLeaveNoPartialFile) {
    if (!Mount(4 * kPage)) return;
    // Random samples do not compress: the PNG, the PPM and the packed RQ6
    // file of this picture are each larger than the disk.
    std::mt19937 rng(81);
    test::WritePicture("big.rq6", test::RandomPicture(100, 60, rng), "big");
    ASSERT_EQ(Tavrel("extract big.rq6 -o big.png").exit, 0);
    test::WriteRaw("disk/old.png", {'o', 'l', 'd'});

    // Each writer meets the full disk its own way (libpng, stdio, the RQ6
    // writer, which removes its file itself); the reason is the same.
    const struct {
        const char* args;
        const char* target;
    } cases[] = {
        {"extract big.rq6 -o disk/old.png", "disk/old.png"},
        {"extract big.rq6 --format ppm --out-dir disk", "disk/big.ppm"},
        {"pack big.png --out-dir disk", "disk/big.rq6"},
        {"convert big.rq6 --size 100x60 --format png -o disk/old.png", "disk/old.png"},
    };
    for (const auto& [args, target] : cases) {
        const CliRun r = Tavrel(args);
        EXPECT_EQ(r.exit, 5) << args;
        EXPECT_EQ(r.err, "tavrel: cannot write " + std::string(target) + ": No space left on device\n")
            << args;
        EXPECT_EQ(Slurp("disk/old.png"), "old") << args;
        EXPECT_EQ(Listing(kDisk), (std::vector<std::string>{"old.png"})) << args << ": no partial file";
    }
    // A small picture fits.
    test::WritePicture("small.rq6", test::RandomPicture(8, 8, rng), "small");
    const CliRun small = Tavrel("extract small.rq6 -o disk/old.png");
    ASSERT_EQ(small.exit, 0) << small.err;
}

// The picture is read from cd/, the outputs go to out/: after a failure
// out/ must hold exactly what it held before, no partial or temporary file.
class ScratchedDisc : public ::testing::Test {
protected:
    void SetUp() override {
        std::system("rm -rf cd out && mkdir cd out");
        std::mt19937 rng(44);
        picture_ = test::RandomPicture(120, 90, rng);  // about 65 KB of rows
        test::WritePicture("cd/pic.rq6", picture_, "scratched");
        size_ = test::ReadBytes("cd/pic.rq6").size();
    }

    test::Picture picture_;
    std::size_t size_ = 0;
};

TEST_F(ScratchedDisc, ConvertAndExtractExitFourAndLeaveNoFile) {
    test::WriteRaw("out/pic.bmp", {'o', 'l', 'd'});
    for (const char* args :
         {"convert cd/pic.rq6 --size 120x90 -o out/pic.bmp", "convert cd/pic.rq6 --out-dir out",
          "convert cd/pic.rq6 --size 60x45 --mode 8 --format png --out-dir out",
          "extract cd/pic.rq6 -o out/pic.png", "extract cd/pic.rq6 --format ppm --out-dir out"}) {
        const CliRun r = test::TavrelReadingAtMost(size_ / 2, args);
        EXPECT_EQ(r.exit, 4) << args;
        // Read again, the file fails at the same spot, with no reason the
        // system would give: it is the test's file layer that fails.
        EXPECT_EQ(r.err, "tavrel: cannot read cd/pic.rq6\n") << args;
        EXPECT_EQ(Listing("out"), (std::vector<std::string>{"pic.bmp"})) << args;
        EXPECT_EQ(Slurp("out/pic.bmp"), "old") << args;
    }
    EXPECT_EQ(Listing("cd"), (std::vector<std::string>{"pic.rq6"}));
}

TEST_F(ScratchedDisc, AReadLimitBeyondTheFileChangesNothingAndTheShippedToolHasNone) {
    // The failures above are the limit's: with the whole file readable the
    // test build converts and extracts as the tool does.
    const CliRun convert =
        test::TavrelReadingAtMost(size_, "convert cd/pic.rq6 --size 120x90 -o out/pic.bmp");
    ASSERT_EQ(convert.exit, 0) << convert.err;
    EXPECT_EQ(test::ReadBytes("out/pic.bmp"), test::ReferenceBmp(picture_, 1.0, 120, 90, 24));
    const CliRun extract =
        test::TavrelReadingAtMost(size_, "extract cd/pic.rq6 --format ppm -o out/pic.ppm");
    ASSERT_EQ(extract.exit, 0) << extract.err;
    ASSERT_EQ(Tavrel("extract cd/pic.rq6 --format ppm -o out/plain.ppm").exit, 0);
    EXPECT_EQ(Slurp("out/pic.ppm"), Slurp("out/plain.ppm"));

    ASSERT_EQ(setenv("TAVREL_TEST_READ_LIMIT", "100", 1), 0);
    const CliRun shipped = Tavrel("convert cd/pic.rq6 --size 120x90 -o out/shipped.bmp");
    unsetenv("TAVREL_TEST_READ_LIMIT");
    ASSERT_EQ(shipped.exit, 0) << shipped.err;
    EXPECT_EQ(Slurp("out/shipped.bmp"), Slurp("out/pic.bmp"));
}

}  // namespace
