// The tool's extract, pack and PNG conversion as a user runs them: files in,
// files out, exit statuses and messages. Every PNG the tests give the tool is
// built, and every one it writes is decoded, by the tests' own codec.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/conversion_status.h"
#include "engine/gamma_table.h"
#include "gtest/gtest.h"
#include "tests/cli/cli_runner.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"
#include "tests/formats/format_checks.h"
#include "tests/formats/png_test_codec.h"

namespace {

using test::CliRun;
using test::Listing;
using test::Tavrel;

// "夕焼け空" in UTF-8 (four characters, eight bytes in code page 932).
const char kCommentUtf8[] = "\xe5\xa4\x95\xe7\x84\xbc\xe3\x81\x91\xe7\xa9\xba";

pngtest::Image DecodedPng(const std::string& path) {
    pngtest::Image image;
    std::string error;
    EXPECT_TRUE(pngtest::Decode(test::ReadBytes(path), &image, &error)) << path << ": " << error;
    return image;
}

class ArchiveCli : public ::testing::Test {
protected:
    void SetUp() override { std::system("rm -rf work && mkdir -p work/out work/again"); }
};

TEST_F(ArchiveCli, SixteenBitPngPackedAndExtractedComesBackSampleIdentical) {
    std::mt19937 rng(31);
    // The largest is deflated in several bands on several threads, and packs
    // back into the very same RQ6 file.
    for (const auto& [w, h] :
         {std::pair<std::uint32_t, std::uint32_t>{13, 7}, {1, 1}, {31, 17}, {1001, 777}}) {
        pngtest::Image original = test::RandomImage(w, h, 2, 16, rng, 5);
        original.texts = {{"iTXt", "Comment", kCommentUtf8}};
        test::WriteRaw("work/in.png", pngtest::Encode(original));

        const CliRun pack = Tavrel("pack work/in.png -o work/pic.rq6");
        ASSERT_EQ(pack.exit, 0) << pack.err;
        EXPECT_NE(pack.out.find("work/pic.rq6"), std::string::npos) << pack.out;
        const CliRun extract = Tavrel("extract work/pic.rq6 -o work/back.png");
        ASSERT_EQ(extract.exit, 0) << extract.err;

        const pngtest::Image back = DecodedPng("work/back.png");
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, h);
        EXPECT_EQ(back.bitDepth, 16);
        EXPECT_EQ(back.colorType, 2);
        EXPECT_EQ(back.samples, original.samples) << w << "x" << h;
        ASSERT_EQ(back.texts.size(), 1u);
        EXPECT_EQ(back.texts[0].keyword, "Comment");
        EXPECT_EQ(back.texts[0].text, kCommentUtf8);
        ASSERT_EQ(Tavrel("pack work/back.png -o work/again.rq6").exit, 0);
        EXPECT_EQ(test::ReadBytes("work/again.rq6"), test::ReadBytes("work/pic.rq6"));
        // Another PNG checker, where there is one.
        if (std::system("command -v pngcheck >/dev/null") == 0) {
            EXPECT_EQ(std::system("pngcheck -q work/back.png"), 0) << w << "x" << h;
        }
    }
    // The comment was stored as the program shows it: code page 932.
    const CliRun info = Tavrel("info work/pic.rq6");
    EXPECT_NE(info.out.find(kCommentUtf8), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("comment bytes:   9"), std::string::npos) << "8 bytes and a terminator";
}

TEST_F(ArchiveCli, EightBitGreyPaletteAndAlphaInputsBecomeSixteenBitRgb) {
    std::mt19937 rng(32);
    const struct {
        int colorType, depth;
        bool interlaced;
    } kinds[] = {{2, 8, false}, {0, 8, true},  {0, 16, false}, {0, 2, false},
                 {3, 4, true},  {4, 8, false}, {6, 16, true},  {6, 8, false}};
    for (const auto& k : kinds) {
        pngtest::Image original = test::RandomImage(11, 6, k.colorType, k.depth, rng, 5);
        original.interlaced = k.interlaced;
        test::WriteRaw("work/in.png", pngtest::Encode(original));
        ASSERT_EQ(Tavrel("pack work/in.png -o work/pic.rq6").exit, 0)
            << k.colorType << "/" << k.depth;
        const CliRun extract = Tavrel("extract work/pic.rq6 -o work/back.png");
        ASSERT_EQ(extract.exit, 0) << extract.err;
        const pngtest::Image back = DecodedPng("work/back.png");
        EXPECT_EQ(back.samples, test::ExpectedRgb(original)) << k.colorType << "/" << k.depth;
    }
}

TEST_F(ArchiveCli, PpmAndPgmRoundTrips) {
    std::mt19937 rng(33);
    const test::Picture picture = test::RandomPicture(9, 5, rng);
    test::WritePicture("work/pic.rq6", picture, "hello");
    ASSERT_EQ(Tavrel("extract work/pic.rq6 -o work/pic.ppm").exit, 0);
    ASSERT_EQ(Tavrel("extract work/pic.rq6 --format ppm --out-dir work/out").exit, 0);
    EXPECT_EQ(test::ReadBytes("work/out/pic.ppm"), test::ReadBytes("work/pic.ppm"));
    // The header and the first sample: red of the top-left pixel, big-endian.
    const auto ppm = test::ReadBytes("work/pic.ppm");
    const std::string header = "P6\n9 5\n65535\n";
    ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + header.size()), header);
    EXPECT_EQ(ppm.size(), header.size() + 9 * 5 * 6);
    EXPECT_EQ(ppm[header.size()] << 8 | ppm[header.size() + 1], picture.At(0, 4, 2));

    // Packed again with the same comment, the picture is the same file.
    ASSERT_EQ(Tavrel("pack work/pic.ppm --comment hello -o work/again/pic.rq6").exit, 0);
    EXPECT_EQ(test::ReadBytes("work/again/pic.rq6"), test::ReadBytes("work/pic.rq6"));
    ASSERT_EQ(Tavrel("extract work/again/pic.rq6 -o work/again/pic.ppm").exit, 0);
    EXPECT_EQ(test::ReadBytes("work/again/pic.ppm"), ppm);

    // A grey map: every channel the same, 8 bits scaled by 257.
    std::vector<std::uint8_t> pgm = {'P', '5', ' ', '2',  ' ', '1', ' ',
                                     '2', '5', '5', '\n', 3,   200};
    test::WriteRaw("work/grey.pgm", pgm);
    ASSERT_EQ(Tavrel("pack work/grey.pgm -o work/grey.rq6").exit, 0);
    ASSERT_EQ(Tavrel("extract work/grey.rq6 -o work/grey.png").exit, 0);
    EXPECT_EQ(DecodedPng("work/grey.png").samples,
              (std::vector<std::uint16_t>{771, 771, 771, 51400, 51400, 51400}));
}

TEST_F(ArchiveCli, PackTakesThePngCommentUnlessToldOtherwise) {
    std::mt19937 rng(34);
    pngtest::Image image = test::RandomImage(3, 3, 2, 8, rng, 5);
    image.texts = {{"tEXt", "Comment", "from the file"}};
    test::WriteRaw("work/in.png", pngtest::Encode(image));
    const auto commentOf = [](const std::string& args) {
        EXPECT_EQ(Tavrel("pack work/in.png -o work/c.rq6 " + args).exit, 0) << args;
        const CliRun info = Tavrel("info work/c.rq6");
        const auto at = info.out.find("comment:");
        return info.out.substr(at + 17, info.out.find('\n', at) - at - 17);
    };
    EXPECT_EQ(commentOf(""), "from the file");
    EXPECT_EQ(commentOf(std::string("--comment '") + kCommentUtf8 + "'"), kCommentUtf8);
    EXPECT_EQ(commentOf("--comment ''"), "");
}

TEST_F(ArchiveCli, SeveralInputsIntoAnOutputDirectoryGetTheirOwnNames) {
    std::mt19937 rng(35);
    test::WritePicture("work/a.rq6", test::RandomPicture(4, 3, rng));
    test::WritePicture("work/b.rq6", test::RandomPicture(3, 4, rng));
    ASSERT_EQ(Tavrel("extract work/a.rq6 work/b.rq6 --out-dir work/out").exit, 0);
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"a.png", "b.png"}));
    ASSERT_EQ(Tavrel("pack work/out/a.png work/out/b.png --out-dir work/again").exit, 0);
    EXPECT_EQ(Listing("work/again"), (std::vector<std::string>{"a.rq6", "b.rq6"}));
}

TEST_F(ArchiveCli, DamagedInputsExitWithTheirStatusAndLeaveNothing) {
    std::mt19937 rng(36);
    auto png = pngtest::Encode(test::RandomImage(20, 20, 2, 8, rng, 5));
    test::WriteRaw("work/cut.png",
                   {png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)});
    test::WriteRaw("work/notes.txt", {'h', 'i', '\n'});
    test::WriteRaw("work/out/cut.rq6", {'o', 'l', 'd'});

    const CliRun cut = Tavrel("pack work/cut.png --out-dir work/out");
    EXPECT_EQ(cut.exit, 6);
    EXPECT_NE(cut.err.find("work/cut.png"), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find("damaged PNG"), std::string::npos) << cut.err;
    EXPECT_EQ(test::Slurp("work/out/cut.rq6"), "old") << "an existing file is kept";

    const CliRun text = Tavrel("pack work/notes.txt -o work/out/notes.rq6");
    EXPECT_EQ(text.exit, 6);
    EXPECT_EQ(text.err, "tavrel: work/notes.txt: not a PNG, PPM or PGM picture\n");
    const CliRun none = Tavrel("pack work/none.png -o work/out/none.rq6");
    EXPECT_EQ(none.exit, 2);
    EXPECT_EQ(none.err, "tavrel: cannot open work/none.png: No such file or directory\n");

    test::WritePicture("work/pic.rq6", test::RandomPicture(30, 30, rng));
    const auto rq6 = test::ReadBytes("work/pic.rq6");
    test::WriteRaw("work/cut.rq6",
                   {rq6.begin(), rq6.begin() + static_cast<std::ptrdiff_t>(rq6.size() / 2)});
    const CliRun extract = Tavrel("extract work/cut.rq6 --out-dir work/out");
    EXPECT_EQ(extract.exit, static_cast<int>(kStatusReadFailed));
    EXPECT_EQ(extract.err, "tavrel: cannot read work/cut.rq6: the picture ends early\n");
    EXPECT_EQ(Tavrel("extract work/none.rq6 --out-dir work/out").exit, 2);

    // A failure among several inputs: the others are still done, and the
    // exit status is the first failure's.
    const CliRun mixed =
        Tavrel("pack work/notes.txt work/none.png work/out/../cut.png --out-dir work/again");
    EXPECT_EQ(mixed.exit, 6);
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"cut.rq6"})) << "no partial files";
    EXPECT_TRUE(Listing("work/again").empty());
}

TEST_F(ArchiveCli, ConvertToPngHasTheBitmapsPixelsAtItsDepth) {
    std::mt19937 rng(37);
    const test::Picture picture = test::RandomPicture(23, 17, rng);
    test::WritePicture("work/pic.rq6", picture);
    const struct {
        int mode, depth, type;
    } modes[] = {{1, 1, 3}, {4, 4, 3}, {5, 4, 3}, {8, 8, 3}, {9, 8, 3}, {16, 8, 2}, {24, 8, 2}};
    for (const auto& m : modes) {
        const std::string args =
            "convert work/pic.rq6 --size 31x9 --contrast 200 --mode " + std::to_string(m.mode);
        ASSERT_EQ(Tavrel(args + " --format png -o work/out/a.png").exit, 0) << m.mode;
        const pngtest::Image png = DecodedPng("work/out/a.png");
        EXPECT_EQ(png.bitDepth, m.depth) << m.mode;
        EXPECT_EQ(png.colorType, m.type) << m.mode;
        std::uint32_t w = 0, h = 0;
        const auto bitmap =
            test::ReferenceBmp(picture, ContrastTable().exponent[200], 31, 9, m.mode);
        EXPECT_EQ(test::PngRgb8(png), test::BitmapRgb(bitmap, &w, &h)) << m.mode;
    }
    // The name chooses PNG too, and --out-dir names the file .png.
    ASSERT_EQ(Tavrel("convert work/pic.rq6 --mode 8 -o work/out/b.PNG").exit, 0);
    EXPECT_EQ(DecodedPng("work/out/b.PNG").colorType, 3);
    ASSERT_EQ(Tavrel("convert work/pic.rq6 --format png --out-dir work/again").exit, 0);
    EXPECT_EQ(Listing("work/again"), (std::vector<std::string>{"pic.png"}));
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"a.png", "b.PNG"}))
        << "no bitmap left behind";
}

// The 16-bit samples of a 48-bit reference bitmap, top row first, red first.
std::vector<std::uint16_t> DeepRgb(const std::vector<std::uint8_t>& bitmap, std::uint32_t w,
                                   std::uint32_t h) {
    const std::size_t stride = (6 * w + 3) / 4 * 4;
    std::vector<std::uint16_t> rgb;
    for (std::uint32_t y = h; y-- > 0;) {
        for (std::uint32_t x = 0; x < w; ++x) {
            for (int c = 2; c >= 0; --c) {
                const std::uint8_t* p = &bitmap[54 + y * stride + 6 * x + 2 * c];
                rgb.push_back(static_cast<std::uint16_t>(p[0] | p[1] << 8));
            }
        }
    }
    return rgb;
}

// Cover converts the centred crop of the output's proportions exactly as the
// picture holding only the crop; mode 48 is the tone curve of the averaged
// samples as 16-bit PNG; stretch is what convert has always written.
TEST_F(ArchiveCli, CoverAndSixteenBitOutputsAreThePlainConversionOfTheCrop) {
    std::mt19937 rng(41);
    const test::Picture picture = test::RandomPicture(32, 24, rng);
    test::WritePicture("work/pic.rq6", picture);
    const struct {
        std::uint32_t w, h;
        const char* contrast;
        double exponent;
    } sizes[] = {{16, 9, "--contrast 40", ContrastTable().exponent[40]},
                 {9, 16, "--exponent 1.8", 1.8},
                 {43, 10, "", 1.0},
                 {1, 7, "--contrast 256", ContrastTable().exponent[256]},
                 {64, 48, "", 1.0}};
    for (const auto& z : sizes) {
        const std::string size = std::to_string(z.w) + "x" + std::to_string(z.h);
        const std::string args = "convert work/pic.rq6 --size " + size + " " + z.contrast;
        const test::Picture crop = test::Cropped(picture, test::ReferenceCoverCrop(32, 24, z.w, z.h));
        for (int mode : {1, 4, 5, 8, 9, 16, 24}) {
            const std::string m = " --mode " + std::to_string(mode);
            ASSERT_EQ(Tavrel(args + m + " --fit cover -o work/out/c.bmp").exit, 0) << size << m;
            EXPECT_EQ(test::ReadBytes("work/out/c.bmp"),
                      test::ReferenceBmp(crop, z.exponent, z.w, z.h, mode))
                << size << m;
            ASSERT_EQ(Tavrel(args + m + " --fit stretch -o work/out/s.bmp").exit, 0);
            ASSERT_EQ(Tavrel(args + m + " -o work/out/d.bmp").exit, 0);
            EXPECT_EQ(test::ReadBytes("work/out/s.bmp"), test::ReadBytes("work/out/d.bmp"));
            EXPECT_EQ(test::ReadBytes("work/out/d.bmp"),
                      test::ReferenceBmp(picture, z.exponent, z.w, z.h, mode));
        }
        for (const char* fit : {"stretch", "cover"}) {
            ASSERT_EQ(Tavrel(args + " --mode 48 --fit " + fit + " -o work/out/deep.png").exit, 0);
            const pngtest::Image png = DecodedPng("work/out/deep.png");
            EXPECT_EQ(png.bitDepth, 16);
            EXPECT_EQ(png.colorType, 2);
            const test::Picture& source = std::string(fit) == "cover" ? crop : picture;
            EXPECT_EQ(png.samples,
                      DeepRgb(test::ReferenceBmp(source, z.exponent, z.w, z.h, 48), z.w, z.h))
                << size << " " << fit;
        }
    }
    // Without a name, mode 48 makes a PNG.
    ASSERT_EQ(Tavrel("convert work/pic.rq6 --mode 48 --out-dir work/again").exit, 0);
    EXPECT_EQ(Listing("work/again"), (std::vector<std::string>{"pic.png"}));
}

// A thumbnail is the full-colour conversion at the size fitted to -s:
// the longer side SIZE, the shorter one rounded, never enlarged.
TEST_F(ArchiveCli, ThumbnailIsTheFullColourConversionAtTheFittedSize) {
    std::mt19937 rng(38);
    const struct {
        std::uint32_t width, height;
        const char* option;
        std::uint32_t thumbWidth, thumbHeight;
    } cases[] = {
        {64, 48, "-s 16", 16, 12}, {48, 64, "-s16", 12, 16},
        {10, 5, "-s 4", 4, 2},     {10, 7, "-s 4", 4, 3},  // 2.8 rounds up
        {30, 1, "-s 10", 10, 1},                           // a third of a row is still a row
        {12, 12, "-s 12", 12, 12}, {10, 5, "", 10, 5},     // smaller than 256: as it is
        {300, 200, "", 256, 171},                          // 170.67 at the default 256
    };
    for (const auto& c : cases) {
        const std::string what =
            std::to_string(c.width) + "x" + std::to_string(c.height) + " " + c.option;
        const test::Picture picture = test::RandomPicture(c.width, c.height, rng);
        test::WritePicture("work/pic.rq6", picture);
        const CliRun r =
            Tavrel(std::string("thumbnail ") + c.option + " work/pic.rq6 work/out/t.png");
        ASSERT_EQ(r.exit, 0) << what << ": " << r.err;
        const pngtest::Image png = DecodedPng("work/out/t.png");
        EXPECT_EQ(png.width, c.thumbWidth) << what;
        EXPECT_EQ(png.height, c.thumbHeight) << what;
        EXPECT_EQ(png.colorType, 2) << what;
        EXPECT_EQ(png.bitDepth, 8) << what;
        std::uint32_t w = 0, h = 0;
        EXPECT_EQ(test::PngRgb8(png),
                  test::BitmapRgb(test::ReferenceBmp(picture, 1.0, c.thumbWidth, c.thumbHeight, 24),
                                  &w, &h))
            << what;
        const std::string size = std::to_string(c.thumbWidth) + "x" + std::to_string(c.thumbHeight);
        ASSERT_EQ(Tavrel("convert work/pic.rq6 --mode 24 --format png --size " + size +
                         " -o work/out/c.png")
                      .exit,
                  0);
        EXPECT_EQ(test::Slurp("work/out/t.png"), test::Slurp("work/out/c.png")) << what;
    }
    // 10 x 7 at 4 x 3 (2.8 rounded up): cover converts 9 of the 10 columns.
    const test::Picture picture = test::RandomPicture(10, 7, rng);
    test::WritePicture("work/pic.rq6", picture);
    ASSERT_EQ(Tavrel("thumbnail --fit cover -s 4 work/pic.rq6 work/out/t.png").exit, 0);
    std::uint32_t w = 0, h = 0;
    EXPECT_EQ(test::PngRgb8(DecodedPng("work/out/t.png")),
              test::BitmapRgb(test::ReferenceBmp(test::Cropped(picture, {0, 0, 9, 7}), 1.0, 4, 3, 24),
                              &w, &h));
}

TEST_F(ArchiveCli, AFailedThumbnailLeavesNoFile) {
    std::mt19937 rng(39);
    test::WritePicture("work/pic.rq6", test::RandomPicture(40, 30, rng));
    const auto rq6 = test::ReadBytes("work/pic.rq6");
    test::WriteRaw("work/cut.rq6",
                   {rq6.begin(), rq6.begin() + static_cast<std::ptrdiff_t>(rq6.size() / 2)});
    const CliRun cut = Tavrel("thumbnail -s 8 work/cut.rq6 work/out/t.png");
    EXPECT_EQ(cut.exit, 4);
    EXPECT_EQ(cut.err, "tavrel: cannot read work/cut.rq6: the picture ends early\n");
    const CliRun nowhere = Tavrel("thumbnail work/pic.rq6 work/none/t.png");
    EXPECT_EQ(nowhere.exit, 3);
    EXPECT_EQ(nowhere.err, "tavrel: cannot create work/none/t.png: No such file or directory\n");
    EXPECT_TRUE(Listing("work/out").empty()) << "no thumbnail, no temporary file";
}

// What a standard picture given where an RQ6 picture belongs is, and how to
// make one of it.
TEST_F(ArchiveCli, APngOrPpmWhereAnRq6PictureBelongsIsNamed) {
    std::mt19937 rng(40);
    test::WriteRaw("work/in.png", pngtest::Encode(test::RandomImage(5, 4, 2, 8, rng)));
    test::WritePicture("work/pic.rq6", test::RandomPicture(5, 4, rng));
    ASSERT_EQ(Tavrel("extract work/pic.rq6 -o work/in.ppm").exit, 0);
    for (const char* args : {"convert work/in.png", "extract work/in.png --out-dir work/out",
                             "info work/in.png", "thumbnail work/in.png work/out/t.png"}) {
        const CliRun r = Tavrel(args);
        EXPECT_EQ(r.exit, 6) << args;
        EXPECT_EQ(
            r.err,
            "tavrel: work/in.png is a PNG picture, not an RQ6 file; 'tavrel pack work/in.png' "
            "makes one.\n")
            << args;
    }
    EXPECT_EQ(Tavrel("extract work/in.ppm --out-dir work/out").err,
              "tavrel: work/in.ppm is a PPM picture, not an RQ6 file; 'tavrel pack work/in.ppm' "
              "makes one.\n");
    // Done as told, the picture converts.
    ASSERT_EQ(Tavrel("pack work/in.png -o work/in.rq6").exit, 0);
    EXPECT_EQ(Tavrel("convert work/in.rq6 --out-dir work/out").exit, 0);
    EXPECT_EQ(Listing("work/out"), (std::vector<std::string>{"in.bmp"}));
}

// An output that is the command's own input, by its name, another spelling or
// a link, is refused before anything is written; the input keeps every byte.
TEST_F(ArchiveCli, NoCommandWritesOverItsOwnInput) {
    std::mt19937 rng(41);
    const test::Picture picture = test::RandomPicture(6, 5, rng);
    test::WritePicture("work/a.rq6", picture);
    test::WriteRaw("work/p.png", pngtest::Encode(test::RandomImage(6, 5, 2, 8, rng)));
    ASSERT_EQ(0, std::system("cd work && cp a.rq6 q.bmp && mkdir sub && cp a.rq6 sub/q.rq6 && "
                             "cp a.rq6 p.png q.bmp again/ && ln -s a.rq6 sym-a.rq6 && ln a.rq6 "
                             "hard-a.rq6 && ln -s p.png sym-p.png && ln p.png hard-p.png"));
    const std::pair<std::string, std::string> commands[] = {
        {"convert work/a.rq6 -o ", "a.rq6"},
        {"extract work/a.rq6 --format png -o ", "a.rq6"},
        {"pack work/p.png -o ", "p.png"},
        {"thumbnail work/a.rq6 ", "a.rq6"}};
    for (const auto& [command, name] : commands) {
        const std::string input = "work/" + name;
        for (const std::string& output :
             {input, "work/./" + name, "work/sym-" + name, "work/hard-" + name}) {
            SCOPED_TRACE(command + output);
            const CliRun r = Tavrel(command + output);
            const std::string is =
                output == input ? " is the input" : " is the same file as the input " + input;
            EXPECT_EQ(r.exit, 64);
            EXPECT_EQ(r.err, "tavrel: " + output + is + "; choose another output name\n");
            EXPECT_EQ(std::system(("cmp -s " + input + " work/again/" + name).c_str()), 0);
        }
    }
    // RQ6 file q.bmp would be its own output, then sub/q.rq6's; a.rq6 is still done.
    const CliRun several = Tavrel("convert work/q.bmp work/a.rq6 work/sub/q.rq6 --out-dir work");
    EXPECT_EQ(several.exit, 64);
    const std::string refused = "tavrel: work/q.bmp is the input; choose another output name\n";
    EXPECT_EQ(several.err, refused + refused);
    EXPECT_EQ(std::system("cmp -s work/q.bmp work/again/q.bmp"), 0);
    EXPECT_EQ(test::ReadBytes("work/a.bmp"), test::ReferenceBmp(picture, 1.0, 6, 5, 24));
}

TEST_F(ArchiveCli, UsageErrorsAreOneLineAndWhereToLook) {
    test::WriteRaw("work/in.png",
                   pngtest::Encode(pngtest::Image{1, 1, 8, 0, false, {7}, {}, {}, {}}));
    const std::string tooLong(128, 'x');
    const struct {
        std::string args, message, command;
    } cases[] = {
        {"extract", "extract needs at least one input picture", "extract"},
        {"pack", "pack needs at least one input picture", "pack"},
        {"extract work/pic.rq6 -o work/a.bmp",
         "extract writes .png or .ppm files; name one, or give --format", "extract"},
        {"extract work/pic.rq6 --format bmp", "--format takes png or ppm", "extract"},
        {"extract work/pic.rq6 --size 3x3", "unknown option --size", "extract"},
        {"convert work/pic.rq6 --format ppm", "--format takes bmp or png", "convert"},
        {"convert work/pic.rq6 --fit fill", "--fit takes stretch or cover", "convert"},
        {"convert work/pic.rq6 --mode 48 -o a.bmp",
         "--mode 48 writes 16-bit PNG: name the output NAME.png or give --format png", "convert"},
        {"convert work/pic.rq6 --mode 48 --format bmp -o a.png",
         "--mode 48 writes 16-bit PNG: name the output NAME.png or give --format png", "convert"},
        {"convert work/pic.rq6 --mode 48 --size 30000x30000",
         "--mode 48 takes sizes up to 4 GB of samples; --size is larger", "convert"},
        {"pack work/in.png --mode 8", "unknown option --mode", "pack"},
        {"pack work/in.png --format png", "unknown option --format", "pack"},
        {"pack work/in.png --comment " + tooLong,
         "--comment is 128 bytes in code page 932; at most 127 are kept", "pack"},
        {"pack work/in.png --comment '\xe2\x9b\x84'",
         "--comment must be UTF-8 text made of characters code page 932 has", "pack"},
        {"pack work/in.png --comment", "--comment needs a value", "pack"},
        {"extract work/a.rq6 work/b.rq6 -o x.png",
         "-o names the output of a single picture; use --out-dir for several", "extract"},
    };
    for (const auto& c : cases) {
        const CliRun r = Tavrel(c.args);
        EXPECT_EQ(r.exit, 64) << c.args;
        EXPECT_EQ(r.err, test::UsageError(c.message, c.command)) << c.args;
    }
    EXPECT_TRUE(Listing("work/out").empty());
    // A comment that begins like an option is still the comment.
    ASSERT_EQ(Tavrel("pack work/in.png --comment -o -o work/c.rq6").exit, 0);
    EXPECT_NE(Tavrel("info work/c.rq6").out.find("comment:         -o\n"), std::string::npos);
}

}  // namespace
