// The tavrel command-line tool run as a user runs it: exit statuses, messages
// and what it leaves on disk.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>

#include "cli/failure_message.h"
#include "cli/messages.h"
#include "cli/option_table.h"
#include "engine/conversion_status.h"
#include "engine/gamma_table.h"
#include "gtest/gtest.h"
#include "tavrel_version.h"
#include "tests/cli/cli_runner.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

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

// The files the failure cases read: a picture cut in its rows, an RQ6 file
// cut inside its code tree, and pictures of other kinds.
void WriteBrokenInputs() {
    auto bytes = test::ReadBytes("work/pic.rq6");
    bytes.resize(bytes.size() * 2 / 3);
    test::WriteRaw("work/cut.rq6", bytes);
    test::WriteRaw("work/bad.rq6", {'R', 'Q', '6', '1', 0, 0, 0, 0});
    test::WriteRaw("work/riff.rq6", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0});
    test::WriteRaw("work/photo.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
    test::WriteRaw("work/photo.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'});
    test::WriteRaw("work/grey.pgm", {'P', '5', '\n', '1', ' ', '1', '\n', '9', '\n', 3});
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
    const CliRun r =
        Tavrel("convert work/pic.rq6 --size 31x9 --mode 4 --contrast 200 -o work/out/a.bmp");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(test::ReadBytes("work/out/a.bmp"),
              test::ReferenceBmp(Picture(), ContrastTable().exponent[200], 31, 9, 4));
    const CliRun e =
        Tavrel("convert work/pic.rq6 --size 5x5 --mode 9 --exponent 1.7 -o work/out/b.bmp");
    ASSERT_EQ(e.exit, 0) << e.err;
    EXPECT_EQ(test::ReadBytes("work/out/b.bmp"), test::ReferenceBmp(Picture(), 1.7, 5, 5, 9));
    // The same options written --name=value, and -o with its value attached.
    const CliRun joined =
        Tavrel("convert work/pic.rq6 --size=5x5 --mode=9 --exponent=1.7 -owork/out/c.bmp");
    ASSERT_EQ(joined.exit, 0) << joined.err;
    EXPECT_EQ(Slurp("work/out/c.bmp"), Slurp("work/out/b.bmp"));
}

TEST_F(TavrelCli, SeveralInputsIntoAnOutputDirectory) {
    test::WritePicture("work/second.rq6", test::UniformPicture(4, 4, 1, 2, 3));
    const CliRun r =
        Tavrel("convert work/pic.rq6 work/second.rq6 --out-dir work/out --size 8x6 --mode 1");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"pic.bmp", "second.bmp"}));
}

TEST_F(TavrelCli, EachFailureIsOneLineWithTheFileAndWhy) {
    WriteBrokenInputs();
    const struct {
        const char* args;
        int exit;
        const char* err;
    } cases[] = {
        {"convert work/none.rq6 -o work/out/x.bmp", 2,
         "tavrel: cannot open work/none.rq6: No such file or directory\n"},
        {"info work/none.rq6", 2, "tavrel: cannot open work/none.rq6: No such file or directory\n"},
        {"convert work -o work/out/x.bmp", 2, "tavrel: cannot open work: Is a directory\n"},
        {"convert work/pic.rq6 -o work/no-such-dir/x.bmp", 3,
         "tavrel: cannot create work/no-such-dir/x.bmp: No such file or directory\n"},
        {"convert work/pic.rq6 --size 4x4 -o work/out", 3,
         "tavrel: cannot create work/out: Is a directory\n"},
        {"convert work/cut.rq6 --out-dir work/out", 4,
         "tavrel: cannot read work/cut.rq6: the picture ends early\n"},
        {"convert work/bad.rq6 -o work/out/x.bmp", 6,
         "tavrel: work/bad.rq6: a damaged RQ6 file, or a picture beyond the size limits\n"},
        {"info work/riff.rq6", 6, "tavrel: work/riff.rq6: not an RQ6 file\n"},
        {"convert work/photo.png --out-dir work/out", 6,
         "tavrel: work/photo.png is a PNG picture, not an RQ6 file; "
         "'tavrel pack work/photo.png' makes one.\n"},
        {"info work/grey.pgm", 6,
         "tavrel: work/grey.pgm is a PGM picture, not an RQ6 file; "
         "'tavrel pack work/grey.pgm' makes one.\n"},
        {"sample-disc work/pic.rq6", 3,
         "tavrel: cannot create work/pic.rq6/Extends: Not a directory\n"},
        {"convert work/photo.jpg --out-dir work/out", 6,
         "tavrel: work/photo.jpg is a JPEG picture, not an RQ6 file; "
         "'tavrel pack' makes one from a PNG, PPM or PGM picture.\n"},
    };
    for (const auto& c : cases) {
        const CliRun r = Tavrel(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    // A bitmap this tool wrote, given back to it.
    ASSERT_EQ(Tavrel("convert work/pic.rq6 -o work/pic.bmp").exit, 0);
    EXPECT_EQ(Tavrel("convert work/pic.bmp --out-dir work/out").err,
              "tavrel: work/pic.bmp is a BMP picture, not an RQ6 file; "
              "'tavrel pack' makes one from a PNG, PPM or PGM picture.\n");
    EXPECT_TRUE(Listing("work/out").empty());
}

// "-" reads standard input and writes standard output: each command makes
// the bytes it makes with files, and prints nothing else on standard output.
TEST_F(TavrelCli, DashIsStandardInputAndOutputForEveryCommand) {
    ASSERT_EQ(Tavrel("extract work/pic.rq6 -o work/pic.png").exit, 0);
    const struct {
        const char* piped;
        const char* withFiles;
        const char* file;
    } cases[] = {
        {"convert - -o - < work/pic.rq6", "convert work/pic.rq6 -o work/out/a.bmp", "work/out/a.bmp"},
        {"convert - -o - --format png --fit cover --size 19x10 --mode 8 < work/pic.rq6",
         "convert work/pic.rq6 -o work/out/a.png --fit cover --size 19x10 --mode 8", "work/out/a.png"},
        {"convert work/pic.rq6 -o - --mode 48 --format png", "convert work/pic.rq6 -o work/out/d.png --mode 48",
         "work/out/d.png"},
        {"convert - -o work/out/s.bmp --size 7x5 < work/pic.rq6", "convert work/pic.rq6 -o work/out/t.bmp --size 7x5",
         "work/out/t.bmp"},
        {"extract - -o - < work/pic.rq6", "extract work/pic.rq6 -o work/out/e.png", "work/out/e.png"},
        {"extract work/pic.rq6 -o - --format ppm", "extract work/pic.rq6 -o work/out/e.ppm", "work/out/e.ppm"},
        {"pack work/pic.png -o -", "pack work/pic.png -o work/out/p.rq6", "work/out/p.rq6"},
        {"thumbnail -s 9 - - < work/pic.rq6", "thumbnail -s 9 work/pic.rq6 work/out/t.png", "work/out/t.png"},
    };
    for (const auto& c : cases) {
        const CliRun piped = Tavrel(c.piped);
        ASSERT_EQ(piped.exit, 0) << c.piped << ": " << piped.err;
        ASSERT_EQ(Tavrel(c.withFiles).exit, 0) << c.withFiles;
        if (std::string(c.piped).find("-o -") != std::string::npos ||
            std::string(c.piped).find(" - - ") != std::string::npos) {
            EXPECT_EQ(piped.out, Slurp(c.file)) << c.piped;
        } else {
            EXPECT_EQ(Slurp("work/out/s.bmp"), Slurp(c.file)) << c.piped;
            EXPECT_EQ(piped.out, "standard input -> work/out/s.bmp (7 x 5, mode 24, 174 bytes)\n");
        }
        EXPECT_EQ(piped.err, "") << c.piped;
    }
    const CliRun info = Tavrel("info - < work/pic.rq6");
    ASSERT_EQ(info.exit, 0);
    std::string expected = Tavrel("info work/pic.rq6").out;
    expected.replace(expected.find("work/pic.rq6"), 12, "standard input");
    EXPECT_EQ(info.out, expected);
}

// A picture from standard input fails as the same file does, named for
// where it came from; standard output is named so too.
TEST_F(TavrelCli, ADeviceOrPipeAsOutputIsWrittenInPlaceAndStaysWhatItIs) {
    // A temporary renamed over a named pipe (or, as root, over /dev/null)
    // would replace it with a plain file. A pipe stands for both here: a
    // test that failed on /dev/null would break the machine.
    ASSERT_EQ(Tavrel("convert work/pic.rq6 --size 40x30 -o work/out/plain.bmp").exit, 0);
    ASSERT_EQ(::mkfifo("work/pipe.bmp", 0600), 0);
    const CliRun r = Tavrel(
        "convert work/pic.rq6 --size 40x30 -o work/pipe.bmp & timeout 20 cat work/pipe.bmp > work/read.bmp;"
        " wait $!");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_TRUE(test::ReadBytes("work/read.bmp") == test::ReadBytes("work/out/plain.bmp"));
    struct stat st;
    ASSERT_EQ(::stat("work/pipe.bmp", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"plain.bmp"})) << "no temporary";
}

TEST_F(TavrelCli, FailuresThroughPipesAreThoseOfTheFiles) {
    WriteBrokenInputs();
    const struct {
        const char* args;
        int exit;
        const char* err;
    } cases[] = {
        {"convert - -o work/out/x.bmp < work/cut.rq6", 4,
         "tavrel: cannot read standard input: the picture ends early\n"},
        {"convert - -o - --format png < work/cut.rq6", 4,
         "tavrel: cannot read standard input: the picture ends early\n"},
        {"extract - -o - < work/cut.rq6", 4, "tavrel: cannot read standard input: the picture ends early\n"},
        {"thumbnail - work/out/t.png < work/cut.rq6", 4,
         "tavrel: cannot read standard input: the picture ends early\n"},
        {"info - < work/bad.rq6", 6,
         "tavrel: standard input: a damaged RQ6 file, or a picture beyond the size limits\n"},
        {"convert - -o - < work/riff.rq6", 6, "tavrel: standard input: not an RQ6 file\n"},
        {"info - < work/photo.png", 6,
         "tavrel: standard input is a PNG picture, not an RQ6 file; 'tavrel pack' makes one from a "
         "PNG, PPM or PGM picture.\n"},
        {"info - < /dev/null", 6, "tavrel: standard input: not an RQ6 file\n"},
    };
    for (const auto& c : cases) {
        const CliRun r = Tavrel(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    // Standard output on a full disk, and a reader that goes away: the write
    // fails, with the system's reason.
    for (const char* args : {"convert work/pic.rq6 -o -", "convert work/pic.rq6 -o - --format png",
                             "extract - -o - < work/pic.rq6"}) {
        const CliRun r = test::TavrelWritingTo("/dev/full", args);
        EXPECT_EQ(r.exit, 5) << args;
        EXPECT_EQ(r.err, "tavrel: cannot write standard output: No space left on device\n") << args;
    }
    for (const char* format : {"bmp", "png"}) {
        const CliRun r = test::TavrelIntoAClosedPipe(
            std::string("convert work/pic.rq6 --size 3000x2000 -o - --format ") + format);
        EXPECT_EQ(r.exit, 5) << format;
        EXPECT_EQ(r.err, "tavrel: cannot write standard output: Broken pipe\n") << format;
    }
    EXPECT_TRUE(Listing("work/out").empty()) << "no file, no temporary";
    // The same files by name end with the same statuses.
    EXPECT_EQ(Tavrel("convert work/cut.rq6 -o work/out/x.bmp").exit, 4);
    EXPECT_EQ(Tavrel("info work/bad.rq6").exit, 6);
}

TEST_F(TavrelCli, StandardOutputOnATerminalIsRefusedBeforeAnythingIsRead) {
    ASSERT_EQ(Tavrel("extract work/pic.rq6 -o work/pic.png").exit, 0);
    for (const char* args : {"convert work/pic.rq6 -o -", "convert - -o - --format png",
                             "extract work/pic.rq6 -o -", "pack work/pic.png -o -",
                             "thumbnail work/pic.rq6 -"}) {
        const CliRun r = test::TavrelOnATerminal(args);
        EXPECT_EQ(r.exit, 64) << args;
        EXPECT_EQ(r.err, "tavrel: standard output is a terminal; send the picture to a file or a pipe\n")
            << args;
        EXPECT_EQ(r.out, "") << args << ": nothing reaches the terminal";
    }
    // Other output goes to a terminal as ever.
    const CliRun info = test::TavrelOnATerminal("info work/pic.rq6");
    EXPECT_EQ(info.exit, 0);
    EXPECT_NE(info.out.find("size:"), std::string::npos);
}

TEST_F(TavrelCli, UnderAJapaneseLocaleTheProgramsStatusTextsAreShown) {
    if (!test::HasLocale("ja_JP.utf8")) GTEST_SKIP() << "locale -a lists no ja_JP.utf8";
    WriteBrokenInputs();
    // The system's reason as the C library words it under that locale.
    std::setlocale(LC_ALL, "ja_JP.UTF-8");
    const std::string noFile = std::strerror(ENOENT);
    std::setlocale(LC_ALL, "C");

    const struct {
        const char* args;
        const char* path;
        std::uint32_t status;
    } cases[] = {
        {"convert work/none.rq6 -o work/out/x.bmp", "work/none.rq6", kStatusInputNotOpened},
        {"convert work/pic.rq6 -o work/no-such-dir/x.bmp", "work/no-such-dir/x.bmp",
         kStatusOutputNotCreated},
        {"extract work/cut.rq6 --out-dir work/out", "work/cut.rq6", kStatusReadFailed},
        {"info work/riff.rq6", "work/riff.rq6", kStatusFormatError},
        {"convert work/photo.png --out-dir work/out", "work/photo.png", kStatusFormatError},
        {"info - < work/riff.rq6", "標準入力", kStatusFormatError},
    };
    for (const auto& c : cases) {
        const CliRun r = test::TavrelWithLang("ja_JP.UTF-8", c.args);
        EXPECT_EQ(r.exit, static_cast<int>(c.status)) << c.args;
        std::string text = StatusMessage(c.status);
        if (text.back() != '\n') text += '\n';
        EXPECT_EQ(r.err.find("tavrel: " + std::string(c.path) + ":\n" + text), 0u)
            << c.args << ":\n"
            << r.err;
    }
    const CliRun missing = test::TavrelWithLang("ja_JP.UTF-8", "info work/none.rq6");
    EXPECT_NE(missing.err.find("\n" + noFile + "\n"), std::string::npos) << missing.err;
    const CliRun png = test::TavrelWithLang("ja_JP.UTF-8", "info work/photo.png");
    EXPECT_NE(png.err.find("'tavrel pack work/photo.png'"), std::string::npos) << png.err;
    EXPECT_EQ(png.err.find("not an RQ6"), std::string::npos) << png.err;

    const CliRun usage = test::TavrelWithLang("ja_JP.UTF-8", "convert");
    EXPECT_EQ(usage.exit, 64);
    EXPECT_EQ(usage.err.find("needs"), std::string::npos) << usage.err;
    EXPECT_NE(usage.err.find("'tavrel convert --help'"), std::string::npos) << usage.err;
}

// The catalogue against the program's table, for every status, including
// those the tool cannot be made to meet here (out of memory, unexpected).
TEST(FailureMessages, EveryStatusInEnglishAndInJapanese) {
    if (!test::HasLocale("ja_JP.utf8")) GTEST_SKIP() << "locale -a lists no ja_JP.utf8";
    const char* const saved = std::getenv("LC_ALL");
    for (std::uint32_t s = kStatusOutOfMemory; s <= kStatusUnexpected; ++s) {
        setenv("LC_ALL", "ja_JP.UTF-8", 1);
        msg::Init(TAVREL_LOCALE_BUILD_DIR);
        std::string text = StatusMessage(s);
        if (text.back() != '\n') text += '\n';
        EXPECT_EQ(command::FailureMessage("a.rq6", s), "tavrel: a.rq6:\n" + text) << s;
        EXPECT_EQ(command::FailureMessage("a.rq6", s, "why"), "tavrel: a.rq6:\n" + text + "why\n")
            << s;

        setenv("LC_ALL", "C.UTF-8", 1);
        msg::Init(TAVREL_LOCALE_BUILD_DIR);
        const std::string english = command::FailureMessage("a.rq6", s, "why");
        EXPECT_TRUE(english.compare(0, 8, "tavrel: ") == 0 &&
                    english.find('\n') + 1 == english.size() &&
                    english.find("a.rq6") != std::string::npos &&
                    english.compare(english.size() - 6, 6, ": why\n") == 0)
            << english;
    }
    if (saved) {
        setenv("LC_ALL", saved, 1);
    } else {
        unsetenv("LC_ALL");
    }
    std::setlocale(LC_ALL, "C");
}

TEST_F(TavrelCli, AFailedConversionLeavesNoPartialFileAndKeepsTheOldOne) {
    auto bytes = test::ReadBytes("work/pic.rq6");
    bytes.resize(bytes.size() * 2 / 3);
    test::WriteRaw("work/cut.rq6", bytes);
    test::WriteRaw("work/out/cut.bmp", {'o', 'l', 'd'});
    const CliRun r = Tavrel("convert work/cut.rq6 --out-dir work/out");
    EXPECT_EQ(r.exit, 4);
    EXPECT_EQ(Slurp("work/out/cut.bmp"), "old");
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"cut.bmp"}))
        << "no temporary file left";
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
    EXPECT_EQ(r.err, "tavrel: cannot create work/out/pic.bmp: Permission denied\n");
}

TEST_F(TavrelCli, UsageErrorsAreOneLineAndWhereToLook) {
    const struct {
        std::string args, message, command;
    } cases[] = {
        {"", "no command given", ""},
        {"frobnicate", "unknown command frobnicate", ""},
        {"--bogus", "unknown option --bogus", ""},
        {"help frobnicate", "unknown command frobnicate", ""},
        {"convert", "convert needs at least one input picture", "convert"},
        {"convert work/pic.rq6 --mode 3", "--mode takes 1, 4, 5, 8, 9, 16, 24 or 48", "convert"},
        // Standard input has no name to name an output after, and is read once.
        {"convert - < work/pic.rq6",
         "a picture from standard input needs -o NAME, or -o - for standard output", "convert"},
        {"extract - --out-dir work/out",
         "a picture from standard input needs -o NAME, or -o - for standard output", "extract"},
        {"convert - - --out-dir work/out", "standard input (-) can be read only once", "convert"},
        {"pack - -o work/out/a.rq6", "pack reads picture files, not standard input", "pack"},
        {"wallpaper - --size 8x6", "wallpaper reads a picture file, not standard input", "wallpaper"},
        {"convert work/pic.rq6 --size 0x5", "--size takes WIDTHxHEIGHT, each 1 to 32767",
         "convert"},
        {"convert work/pic.rq6 --size 40000x5", "--size takes WIDTHxHEIGHT, each 1 to 32767",
         "convert"},
        {"convert work/pic.rq6 --size 12", "--size takes WIDTHxHEIGHT, each 1 to 32767", "convert"},
        {"convert work/pic.rq6 --size=", "--size takes WIDTHxHEIGHT, each 1 to 32767", "convert"},
        {"convert work/pic.rq6 --contrast 257", "--contrast takes a position from 0 to 256",
         "convert"},
        {"convert work/pic.rq6 --contrast 1 --exponent 2",
         "--contrast and --exponent exclude each other", "convert"},
        {"convert work/pic.rq6 --exponent -1", "--exponent takes a positive number", "convert"},
        {"convert work/pic.rq6 work/pic.rq6 -o x.bmp",
         "-o names the output of a single picture; use --out-dir for several", "convert"},
        {"convert work/pic.rq6 --bogus", "unknown option --bogus", "convert"},
        {"convert work/pic.rq6 --bogus=1", "unknown option --bogus=1", "convert"},
        {"convert work/pic.rq6 -s 5", "unknown option -s", "convert"},
        {"convert work/pic.rq6 -o", "-o needs a value", "convert"},
        {"convert -- ", "convert needs at least one input picture", "convert"},
        {"info", "info takes exactly one picture", "info"},
        {"info a b", "info takes exactly one picture", "info"},
        {"info -x", "unknown option -x", "info"},
        {"sample-disc", "sample-disc takes exactly one directory", "sample-disc"},
        {"thumbnail", "thumbnail takes one input picture and one output file", "thumbnail"},
        {"thumbnail work/pic.rq6", "thumbnail takes one input picture and one output file",
         "thumbnail"},
        {"thumbnail a b c", "thumbnail takes one input picture and one output file", "thumbnail"},
        {"thumbnail -s 0 a b", "-s takes a size from 1 to 32767", "thumbnail"},
        {"thumbnail -s 32768 a b", "-s takes a size from 1 to 32767", "thumbnail"},
        {"thumbnail -s x a b", "-s takes a size from 1 to 32767", "thumbnail"},
        {"thumbnail a b -s", "-s needs a value", "thumbnail"},
        {"thumbnail --size 9 a b", "unknown option --size", "thumbnail"},
        {"wallpaper", "wallpaper takes exactly one picture", "wallpaper"},
        {"wallpaper a.rq6 b.rq6 --no-set", "wallpaper takes exactly one picture", "wallpaper"},
        {"wallpaper work/pic.rq6 -o x.png", "unknown option -o", "wallpaper"},
        {"wallpaper work/pic.rq6 --fit stretch", "unknown option --fit", "wallpaper"},
        {"wallpaper work/pic.rq6 --no-set=1", "unknown option --no-set=1", "wallpaper"},
        {"wallpaper work/pic.rq6 --mode 3", "--mode takes 1, 4, 5, 8, 9, 16, 24 or 48",
         "wallpaper"},
        {"wallpaper work/pic.rq6 --mode 48 --size 30000x30000",
         "--mode 48 takes sizes up to 4 GB of samples; --size is larger", "wallpaper"},
        {"convert work/pic.rq6 --no-set", "unknown option --no-set", "convert"},
    };
    for (const auto& c : cases) {
        const CliRun r = Tavrel(c.args);
        EXPECT_EQ(r.exit, 64) << c.args;
        EXPECT_EQ(r.err, test::UsageError(c.message, c.command)) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_TRUE(Listing("work/out").empty());
}

TEST_F(TavrelCli, EveryCommandHasItsOwnHelp) {
    const struct {
        const char* command;
        std::vector<std::string> words;
    } commands[] = {
        {"convert",
         {"IN.rq6...", "-o OUT.bmp|OUT.png", "--out-dir DIR", "--size WxH", "--mode M",
          "--contrast P", "--exponent X", "--format F", "default 24", "default 128", "--fit F",
          "48  16-bit"}},
        {"extract", {"IN.rq6...", "-o OUT.png|OUT.ppm", "--out-dir DIR", "--format F", "65535"}},
        {"pack",
         {"IN.png|IN.ppm|IN.pgm...", "-o OUT.rq6", "--out-dir DIR", "--comment TEXT", "127 bytes"}},
        {"info", {"IN.rq6"}},
        {"thumbnail", {"[-s SIZE] [--fit F] IN.rq6 OUT.png", "-s SIZE", "--fit F", "default 256", "1 to 32767"}},
        {"sample-disc", {"DIR", "Sg006.rq6"}},
        {"wallpaper",
         {"IN.rq6", "--size WxH", "--mode M", "--contrast P", "--exponent X", "--no-set",
          "default 24", "XDG_CURRENT_DESKTOP", "backgrounds/tavrel/NAME-WxH.png", " 69"}},
    };
    for (const auto& c : commands) {
        const std::string name = c.command;
        const CliRun help = Tavrel(name + " --help");
        EXPECT_EQ(help.exit, 0) << name;
        EXPECT_EQ(help.err, "") << name;
        EXPECT_EQ(help.out.rfind("Usage: tavrel " + name + " ", 0), 0u) << help.out;
        for (const auto& word : c.words)
            EXPECT_NE(help.out.find(word), std::string::npos) << name << ": " << word;
        EXPECT_NE(help.out.find("-h, --help"), std::string::npos) << name;
        // -h, "help COMMAND" and --help after other arguments say the same.
        EXPECT_EQ(Tavrel(name + " -h").out, help.out) << name;
        EXPECT_EQ(Tavrel("help " + name).out, help.out) << name;
        EXPECT_EQ(Tavrel(name + " work/pic.rq6 --help").out, help.out) << name;
        // Limits are filled in, in the translation too, and every line
        // keeps to 80 columns.
        for (const char* lang : {"C.UTF-8", "ja_JP.UTF-8"}) {
            const std::string text = test::TavrelWithLang(lang, name + " --help").out;
            EXPECT_EQ(text.find('{'), std::string::npos) << lang << " " << name;
            std::size_t columns = 0;
            for (const unsigned char byte : text) {
                // A character of the translation takes two columns.
                columns = byte == '\n' ? 0 : columns + (byte < 0x80 ? 1 : (byte & 0xC0) == 0xC0 ? 2 : 0);
                EXPECT_LE(columns, 80u) << lang << " " << name;
            }
        }
    }
    const CliRun overview = Tavrel("--help");
    EXPECT_EQ(overview.exit, 0);
    EXPECT_EQ(overview.out.rfind("Usage: tavrel COMMAND", 0), 0u) << overview.out;
    for (const auto& c : commands)
        EXPECT_NE(overview.out.find(std::string("\n  ") + c.command + " "), std::string::npos)
            << c.command;
    for (const char* word :
         {"--version", "COMMAND --help", "Exit status", "\n  64  ", "\n  69  "}) {
        EXPECT_NE(overview.out.find(word), std::string::npos) << word;
    }
    for (int status = 0; status <= 7; ++status) {
        EXPECT_NE(overview.out.find("\n  " + std::to_string(status) + "   "), std::string::npos)
            << status;
    }
    EXPECT_EQ(overview.out.find("--out-dir"), std::string::npos) << "options are the commands' own";
    EXPECT_EQ(Tavrel("-h").out, overview.out);
    EXPECT_EQ(Tavrel("help").out, overview.out);
}

// The manual is written by hand: every command and every option the parser
// takes must be in it, in roff's spelling ("\-\-out\-dir").
TEST(ManualPage, NamesEveryCommandAndOption) {
    const std::string page = Slurp(TAVREL_SOURCE_DIR "/packaging/tavrel.1.in");
    ASSERT_FALSE(page.empty());
    const auto roff = [](std::string word) {
        for (std::size_t at = word.find('-'); at != std::string::npos; at = word.find('-', at + 2))
            word.replace(at, 1, "\\-");
        return word;
    };
    for (const cli::CommandEntry& c : cli::AllCommands()) {
        if (*c.name) {
            EXPECT_NE(page.find(roff(c.name)), std::string::npos) << c.name;
        }
    }
    for (const cli::OptionEntry& o : cli::AllOptions()) {
        for (const char* spelling : {o.shortName, o.longName}) {
            if (spelling != nullptr) {
                EXPECT_NE(page.find(roff(spelling)), std::string::npos) << spelling;
            }
        }
    }
}

TEST_F(TavrelCli, VersionNamesTheReleaseAndTheRevision) {
    const CliRun r = Tavrel("--version");
    EXPECT_EQ(r.exit, 0);
    const std::string revision = TAVREL_REVISION;
    EXPECT_EQ(r.out, std::string("tavrel ") + TAVREL_VERSION +
                         (revision.empty() ? "" : " (git " + revision + ")") +
                         "\nCopyright (C) 2024 the Tavrel authors. MIT License.\n");
    EXPECT_TRUE(
        std::regex_match(r.out.substr(0, r.out.find('\n')),
                         std::regex(R"(tavrel \d+\.\d+\.\d+( \(git [0-9a-f]{12}(-dirty)?\))?)")))
        << r.out;
}

TEST_F(TavrelCli, DoubleDashEndsTheOptions) {
    test::WritePicture("-dash.rq6", Picture(), "dash");
    const CliRun convert = Tavrel("convert --size 5x4 -o work/out/d.bmp -- -dash.rq6");
    ASSERT_EQ(convert.exit, 0) << convert.err;
    EXPECT_EQ(test::ReadBytes("work/out/d.bmp"), test::ReferenceBmp(Picture(), 1.0, 5, 4, 24));
    const CliRun info = Tavrel("info -- -dash.rq6");
    ASSERT_EQ(info.exit, 0) << info.err;
    EXPECT_NE(info.out.find("comment:         dash"), std::string::npos) << info.out;
    // After "--", "--help" is a file name like any other.
    const CliRun help = Tavrel("convert --out-dir work/out -- --help");
    EXPECT_EQ(help.exit, 2);
    EXPECT_EQ(help.err, "tavrel: cannot open --help: No such file or directory\n");
    std::remove("-dash.rq6");
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
