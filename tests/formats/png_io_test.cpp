// PNG in and out, checked against PNG files built and decoded by the tests'
// own codec, which shares no code with the library the tool uses.
#include "formats/png_io.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "engine/bitmap_headers.h"
#include "engine/conversion_status.h"
#include "engine/wp_convert.h"
#include "formats/png_row_output.h"
#include "gtest/gtest.h"
#include "tests/engine/test_support.h"
#include "tests/formats/format_checks.h"
#include "tests/formats/memory_cap.h"
#include "tests/formats/png_test_codec.h"
#include "tests/platform/file_faults.h"

namespace {

full::Result ReadBytesAsPng(const std::vector<std::uint8_t>& bytes, full::Picture* picture) {
    test::WriteRaw("in.png", bytes);
    return png_io::ReadPng("in.png", picture);
}

struct Kind {
    int colorType;
    int bitDepth;
};

// Every colour type at every depth PNG allows.
const Kind kKinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                       {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

TEST(PngRead, EveryColourTypeAndDepthBecomes16BitRgb) {
    std::mt19937 rng(6);
    for (const Kind& kind : kKinds) {
        for (const bool interlaced : {false, true}) {
            for (const auto& [w, h] :
                 {std::pair<std::uint32_t, std::uint32_t>{13, 7}, {1, 1}, {9, 10}}) {
                pngtest::Image image = test::RandomImage(w, h, kind.colorType, kind.bitDepth, rng);
                image.interlaced = interlaced;
                full::Picture picture;
                const full::Result r = ReadBytesAsPng(pngtest::Encode(image), &picture);
                const std::string what = "type " + std::to_string(kind.colorType) + " depth " +
                                         std::to_string(kind.bitDepth) + " " + std::to_string(w) +
                                         "x" + std::to_string(h) +
                                         (interlaced ? " interlaced" : "");
                ASSERT_TRUE(r) << what << ": " << r.message;
                EXPECT_EQ(picture.width, w) << what;
                EXPECT_EQ(picture.height, h) << what;
                EXPECT_EQ(picture.rgb, test::ExpectedRgb(image)) << what;
                EXPECT_EQ(picture.comment, "") << what;
            }
        }
    }
}

TEST(PngRead, CommentComesFromAnyKindOfTextChunk) {
    std::mt19937 rng(1);
    pngtest::Image image = test::RandomImage(3, 2, 2, 8, rng);
    const struct {
        pngtest::TextChunk chunk;
        std::string expected;
    } cases[] = {
        {{"tEXt", "Comment", "Caf\xe9 au lait"}, "Caf\xc3\xa9 au lait"},  // Latin-1 to UTF-8
        {{"zTXt", "Comment", "compressed note"}, "compressed note"},
        {{"iTXt", "Comment", "\xe5\xa4\x95\xe7\x84\xbc\xe3\x81\x91"},
         "\xe5\xa4\x95\xe7\x84\xbc\xe3\x81\x91"},
    };
    for (const auto& c : cases) {
        image.texts = {{"tEXt", "Title", "not the comment"}, c.chunk};
        full::Picture picture;
        ASSERT_TRUE(ReadBytesAsPng(pngtest::Encode(image), &picture)) << c.chunk.type;
        EXPECT_EQ(picture.comment, c.expected) << c.chunk.type;
    }
    image.texts = {{"tEXt", "Title", "only a title"}};
    full::Picture picture;
    ASSERT_TRUE(ReadBytesAsPng(pngtest::Encode(image), &picture));
    EXPECT_EQ(picture.comment, "");
}

// A valid picture's chunks, for building damaged ones: [0] is the signature,
// then one entry per chunk.
std::vector<std::vector<std::uint8_t>> SplitChunks(const std::vector<std::uint8_t>& file) {
    std::vector<std::vector<std::uint8_t>> parts{{file.begin(), file.begin() + 8}};
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t length =
            std::size_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        parts.emplace_back(file.begin() + at, file.begin() + at + 12 + length);
        at += 12 + length;
    }
    return parts;
}

std::vector<std::uint8_t> Join(const std::vector<std::vector<std::uint8_t>>& parts) {
    std::vector<std::uint8_t> file;
    for (const auto& p : parts) file.insert(file.end(), p.begin(), p.end());
    return file;
}

std::string TypeOf(const std::vector<std::uint8_t>& chunk) {
    return {chunk.begin() + 4, chunk.begin() + 8};
}

std::vector<std::uint8_t> Ihdr(std::uint32_t w, std::uint32_t h, int depth, int colorType) {
    std::vector<std::uint8_t> d;
    for (const std::uint32_t v : {w, h}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            d.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    d.insert(d.end(),
             {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colorType), 0, 0, 0});
    return pngtest::Chunk("IHDR", d);
}

class DamagedPng : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937 rng(3);
        image_ = test::RandomImage(40, 30, 2, 16, rng);
        parts_ = SplitChunks(pngtest::Encode(image_));
        ASSERT_EQ(TypeOf(parts_[1]), "IHDR");
        ASSERT_EQ(TypeOf(parts_.back()), "IEND");
    }

    // Reading must fail with status 6 and a message, taking no output.
    void ExpectRejected(const std::vector<std::uint8_t>& bytes,
                        const std::string& messagePart = "") {
        full::Picture picture;
        const full::Result r = ReadBytesAsPng(bytes, &picture);
        EXPECT_EQ(r.status, kStatusFormatError);
        EXPECT_FALSE(r.message.empty());
        if (!messagePart.empty()) {
            EXPECT_NE(r.message.find(messagePart), std::string::npos) << r.message;
        }
    }

    std::size_t FirstIdat() const {
        for (std::size_t i = 1; i < parts_.size(); ++i) {
            if (TypeOf(parts_[i]) == "IDAT") return i;
        }
        return 0;
    }

    pngtest::Image image_;
    std::vector<std::vector<std::uint8_t>> parts_;
};

TEST_F(DamagedPng, EmptyFile) { ExpectRejected({}, "not a PNG"); }

TEST_F(DamagedPng, SignatureOnly) { ExpectRejected(parts_[0]); }

TEST_F(DamagedPng, WrongSignature) {
    auto bytes = Join(parts_);
    bytes[1] = 'Q';
    ExpectRejected(bytes, "not a PNG");
}

TEST_F(DamagedPng, CutInsideTheImageData) {
    const auto bytes = Join(parts_);
    for (const std::size_t keep :
         {std::size_t{20}, std::size_t{40}, bytes.size() / 2, bytes.size() - 13}) {
        ExpectRejected({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep)});
    }
}

TEST_F(DamagedPng, HeaderChecksumBroken) {
    parts_[1].back() ^= 0x01;
    ExpectRejected(Join(parts_));
}

TEST_F(DamagedPng, ImageDataChecksumBroken) {
    parts_[FirstIdat()].back() ^= 0x40;
    ExpectRejected(Join(parts_));
}

TEST_F(DamagedPng, CompressedDataCorrupt) {
    // Damage the deflate stream but keep the chunk checksum valid.
    auto& idat = parts_[FirstIdat()];
    std::vector<std::uint8_t> data(idat.begin() + 8, idat.end() - 4);
    for (std::size_t i = 2; i < data.size(); i += 3) data[i] ^= 0x5A;
    idat = pngtest::Chunk("IDAT", data);
    ExpectRejected(Join(parts_));
}

TEST_F(DamagedPng, TooLittleImageData) {
    pngtest::Image shorter = image_;
    shorter.height = 10;
    shorter.samples.resize(std::size_t{40} * 10 * 3);
    auto shortParts = SplitChunks(pngtest::Encode(shorter));
    shortParts[1] = parts_[1];  // still claims 30 rows
    ExpectRejected(Join(shortParts));
}

TEST_F(DamagedPng, NoImageData) { ExpectRejected(Join({parts_[0], parts_[1], parts_.back()})); }

TEST_F(DamagedPng, IllegalDepthForColourType) {
    parts_[1] = Ihdr(40, 30, 4, 2);
    ExpectRejected(Join(parts_));
}

TEST_F(DamagedPng, ZeroWidth) {
    parts_[1] = Ihdr(0, 30, 16, 2);
    ExpectRejected(Join(parts_));
}

TEST_F(DamagedPng, SideBeyondTheLimit) {
    parts_[1] = Ihdr(40000, 30, 16, 2);
    ExpectRejected(Join(parts_));
}

TEST_F(DamagedPng, AreaBeyondTheLimitIsRefusedBeforeAnyPixelMemory) {
    // 20000 x 20000 grey pixels would need 2.4 GB at 16-bit RGB; the reader
    // must refuse on the header alone. (The image data is long enough to
    // hold such a picture, so that only the area can be the reason.)
    parts_[1] = Ihdr(20000, 20000, 1, 0);
    parts_.insert(parts_.end() - 1, pngtest::Chunk("IDAT", std::vector<std::uint8_t>(60000)));
    ExpectRejected(Join(parts_), "megapixels");
}

TEST_F(DamagedPng, ImageDataFarTooShortForTheSizeIsRefusedBeforeAnyPixelMemory) {
    // 32767 x 4000 at 16-bit RGB: 786 MB of pixels claimed by a 7 KB file.
    parts_[1] = Ihdr(32767, 4000, 16, 2);
    const auto bytes = Join(parts_);
    ExpectRejected(bytes, "far too short");
    if (!test::kCanCapMemory) GTEST_SKIP() << "no memory cap under the sanitizers";
    test::WriteRaw("claims-786mb.png", bytes);
    EXPECT_EQ(test::RunWithMemoryCap(256,
                                     [] {
                                         full::Picture picture;
                                         return static_cast<int>(
                                             png_io::ReadPng("claims-786mb.png", &picture).status);
                                     }),
              static_cast<int>(kStatusFormatError));
}

TEST_F(DamagedPng, TextChunkClaimingGigabytesIsRefusedUnread) {
    // A chunk length of 0x6F6D6D65 (1.9 GB) in a file of a few hundred bytes:
    // the library would allocate it all before finding the file too short.
    std::vector<std::uint8_t> huge = {0x6F, 0x6D, 0x6D, 0x65, 't', 'E', 'X', 't', 'C', 'o', 'm'};
    parts_.insert(parts_.begin() + 2, huge);
    ExpectRejected(Join(parts_), "ends inside a chunk");
}

TEST_F(DamagedPng, TextChunkOfMoreThanSixteenMegabytes) {
    std::vector<std::uint8_t> text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
    text.resize(text.size() + (16u << 20), 'x');
    parts_.insert(parts_.begin() + 2, pngtest::Chunk("tEXt", text));
    ExpectRejected(Join(parts_), "too large");
}

TEST_F(DamagedPng, PaletteWithoutPlte) {
    std::mt19937 rng(4);
    pngtest::Image image = test::RandomImage(5, 5, 3, 8, rng);
    image.palette.clear();
    image.paletteAlpha.clear();
    ExpectRejected(pngtest::Encode(image));
}

TEST_F(DamagedPng, PaletteIndexBeyondThePalette) {
    std::mt19937 rng(5);
    pngtest::Image image = test::RandomImage(5, 5, 3, 8, rng);
    image.palette.resize(4);
    image.paletteAlpha.clear();
    for (auto& s : image.samples) s %= 4;
    full::Picture picture;
    ASSERT_TRUE(ReadBytesAsPng(pngtest::Encode(image), &picture)) << "the intact picture reads";
    image.samples[17] = 9;
    ExpectRejected(pngtest::Encode(image), "palette");
}

TEST(PngRead, MissingFileIsStatusTwo) {
    full::Picture picture;
    EXPECT_EQ(png_io::ReadPng("no-such.png", &picture).status, kStatusInputNotOpened);
}

TEST(PngWrite, SixteenBitRgbWithTheCommentInTheRightChunk) {
    std::mt19937 rng(9);
    for (const std::string comment :
         {"", "plain ascii", "\xe6\x9c\x9d\xe7\x84\xbc\xe3\x81\x91 sky"}) {
        full::Picture picture;
        picture.width = 7;
        picture.height = 5;
        for (int i = 0; i < 7 * 5 * 3; ++i)
            picture.rgb.push_back(static_cast<std::uint16_t>(rng()));
        picture.comment = comment;
        ASSERT_TRUE(png_io::WritePng16("out.png", picture));

        pngtest::Image decoded;
        std::string error;
        ASSERT_TRUE(pngtest::Decode(test::ReadBytes("out.png"), &decoded, &error)) << error;
        EXPECT_EQ(decoded.width, 7u);
        EXPECT_EQ(decoded.height, 5u);
        EXPECT_EQ(decoded.colorType, 2);
        EXPECT_EQ(decoded.bitDepth, 16);
        EXPECT_EQ(decoded.samples, picture.rgb);
        if (comment.empty()) {
            EXPECT_TRUE(decoded.texts.empty());
        } else {
            ASSERT_EQ(decoded.texts.size(), 1u);
            EXPECT_EQ(decoded.texts[0].keyword, "Comment");
            // Plain text chunks are Latin-1, so only ASCII may go there.
            EXPECT_EQ(decoded.texts[0].type, comment == "plain ascii" ? "tEXt" : "iTXt");
            EXPECT_EQ(decoded.texts[0].text, comment);
        }
    }
}

// Pictures the encoder must deflate in every way it can: noise (stored
// blocks), gradients (long matches, the thorough level), a flat field and
// tiny rows (fixed codes), cut into bands as small as one row, so that many
// band joins fall at every bit position.
full::Picture TestPicture(std::uint32_t w, std::uint32_t h, int kind, std::mt19937& rng) {
    full::Picture p;
    p.width = w;
    p.height = h;
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            for (std::uint32_t c = 0; c < 3; ++c) {
                const std::uint32_t smooth = 97 * x + 131 * y + 4099 * c;
                p.rgb.push_back(static_cast<std::uint16_t>(
                    kind == 0 ? rng() : kind == 1 ? smooth : kind == 2 ? 0x1234 : smooth + rng() % 64));
            }
        }
    }
    return p;
}

TEST(PngWrite, BandsJoinIntoOneStreamThatEveryReaderTakes) {
    std::mt19937 rng(21);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {1, 37}, {41, 1}, {3, 3},
                                                             {61, 29}, {200, 13}, {257, 40}};
    for (const auto& [w, h] : sizes) {
        for (int kind = 0; kind < 4; ++kind) {
            full::Picture picture = TestPicture(w, h, kind, rng);
            picture.comment = kind == 1 ? "\xe5\x86\x99 gradient" : kind == 2 ? "flat" : "";
            for (const png_write::Options options :
                 {png_write::Options{}, png_write::Options{1, 3}, png_write::Options{700, 2},
                  png_write::Options{5000, 1}}) {
                const std::string what = std::to_string(w) + "x" + std::to_string(h) + " kind " +
                                         std::to_string(kind) + " band bytes " +
                                         std::to_string(options.bandBytes) + " threads " +
                                         std::to_string(options.threads);
                ASSERT_TRUE(png_io::WritePng16("out.png", picture, options)) << what;
                pngtest::Image decoded;
                std::string error;
                ASSERT_TRUE(pngtest::Decode(test::ReadBytes("out.png"), &decoded, &error))
                    << what << ": " << error;
                EXPECT_EQ(decoded.samples, picture.rgb) << what;
                full::Picture back;
                const full::Result read = png_io::ReadPng("out.png", &back);
                ASSERT_TRUE(read) << what << ": " << read.message;
                EXPECT_EQ(back.rgb, picture.rgb) << what;
                EXPECT_EQ(back.comment, picture.comment) << what;
            }
        }
    }
}

// Every write that comes up short, whether the call admits it or not, and
// wherever in the file it falls, fails the whole write.
TEST(PngWrite, ShortWriteAnywhereIsAFailure) {
    std::mt19937 rng(22);
    full::Picture picture = TestPicture(150, 90, 3, rng);
    picture.comment = "short";
    const png_write::Options bands{20000, 2};  // several bands, several image data chunks
    ASSERT_TRUE(png_io::WritePng16("whole.png", picture, bands));
    const std::uint64_t size = test::ReadBytes("whole.png").size();
    for (const auto how : {file_faults::ShortWrite::kFails, file_faults::ShortWrite::kClaimsSuccess}) {
        for (const std::uint64_t budget : {std::uint64_t{0}, std::uint64_t{8}, std::uint64_t{40},
                                           size / 3, size / 2, size - 13, size - 1}) {
            file_faults::LimitWrites(budget, how);
            const full::Result r = png_io::WritePng16("out.png", picture, bands);
            file_faults::UnlimitedWrites();
            EXPECT_EQ(r.status, kStatusWriteFailed) << "budget " << budget;
        }
    }
    file_faults::LimitWrites(size);
    EXPECT_TRUE(png_io::WritePng16("out.png", picture, bands)) << "an exact fit is enough";
    file_faults::UnlimitedWrites();
}

TEST(PngWrite, UnwritablePlaceIsStatusThree) {
    full::Picture picture{1, 1, {1, 2, 3}, ""};
    EXPECT_EQ(png_io::WritePng16("no-such-dir/out.png", picture).status, kStatusOutputNotCreated);
}

// A conversion's rows written as PNG (not through a bitmap) hold the very
// pixels of the bitmap the same conversion writes, at the same depth.
TEST(ConversionPng, SamePixelsAtTheSameDepthInEveryMode) {
    std::mt19937 rng(12);
    test::WritePicture("pic.rq6", test::RandomPicture(37, 23, rng));
    const struct {
        std::uint32_t mode;
        int pngDepth;
        int pngType;
    } modes[] = {{1, 1, 3}, {4, 4, 3}, {5, 4, 3}, {8, 8, 3}, {9, 8, 3}, {16, 8, 2}, {24, 8, 2}};
    const auto convert = [](std::uint32_t mode, const char* path, int* systemError) {
        const platform::FileHandle file = platform::CreateWrite(path);
        png_io::PngRowOutput png(file);
        FileSource in("pic.rq6");
        WPConvert job;
        std::uint32_t s = job.Begin(in, png, 1.3, 33, 19, mode);
        if (s == 0) s = job.ConvertFirstLine();
        while (s == 0 && job.linesDone < job.height) s = job.ConvertNextLine();
        platform::Close(file);
        *systemError = png.systemError;
        return s;
    };
    for (const auto& m : modes) {
        // Odd widths exercise the partly used last byte of 1- and 4-bit rows.
        const auto bitmap = test::ConvertedBytes("pic.rq6", 1.3, 33, 19, m.mode);
        int systemError = -1;
        ASSERT_EQ(convert(m.mode, "out.png", &systemError), 0u) << m.mode;
        EXPECT_EQ(systemError, 0);
        // A disk that fills at the signature, a header or the image data.
        for (const std::uint64_t budget : {0, 20, 100}) {
            file_faults::LimitWrites(budget);
            EXPECT_EQ(convert(m.mode, "short.png", &systemError), kStatusWriteFailed) << m.mode;
            file_faults::UnlimitedWrites();
            EXPECT_EQ(systemError, ENOSPC) << "the reason comes with the failure";
        }
        pngtest::Image png;
        std::string error;
        ASSERT_TRUE(pngtest::Decode(test::ReadBytes("out.png"), &png, &error)) << error;
        EXPECT_EQ(png.bitDepth, m.pngDepth) << m.mode;
        EXPECT_EQ(png.colorType, m.pngType) << m.mode;

        std::uint32_t w = 0, h = 0;
        const auto expected = test::BitmapRgb(bitmap, &w, &h);
        ASSERT_EQ(png.width, w);
        ASSERT_EQ(png.height, h);
        EXPECT_EQ(test::PngRgb8(png), expected) << "mode " << m.mode;
    }
}

// Rows given bottom first make the same file, byte for byte, as rows taken
// top first: the same bands, filters, levels, joins and chunks, whatever the
// number of threads and however the bands and chunks fall (the chunks'
// checks are computed ahead, that of the stream's end last).
TEST(BottomUpWriter, WritesTheSameBytesAsTheTopDownWriter) {
    std::mt19937 rng(31);
    struct Shape {
        std::uint32_t w, h;
        int depth, type;
        std::size_t bandBytes;
        unsigned threads;
        std::size_t chunkBytes;
    };
    const Shape shapes[] = {{40, 30, 8, 2, 700, 3, 1 << 20}, {40, 30, 16, 2, 900, 1, 7},
                            {13, 1, 8, 2, 10, 2, 1},         {61, 17, 4, 3, 64, 2, 3},
                            {9, 50, 1, 3, 1, 4, 5},          {33, 19, 8, 3, 1 << 20, 2, 2},
                            {17, 29, 16, 2, 103, 8, 13},     {64, 40, 16, 2, 4000, 2, 101}};
    for (const Shape& shape : shapes) {
        png_write::Layout layout;
        layout.width = shape.w;
        layout.height = shape.h;
        layout.bitDepth = shape.depth;
        layout.colorType = shape.type;
        for (int i = 0; shape.type == 3 && i < (1 << shape.depth); ++i) {
            layout.palette.push_back({static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i),
                                      static_cast<std::uint8_t>(255 - i)});
        }
        const std::size_t rowBytes = png_write::RowBytes(layout);
        // Smooth rows and noisy ones, so that both compression levels occur.
        std::vector<std::uint8_t> pixels(rowBytes * shape.h);
        for (std::size_t k = 0; k < pixels.size(); ++k) {
            pixels[k] = static_cast<std::uint8_t>(k / rowBytes % 3 == 0 ? rng() : k / 7);
        }
        const png_write::Options options{shape.bandBytes, shape.threads, shape.chunkBytes};
        ASSERT_TRUE(png_write::Write(
            "top-down.png", layout,
            [&](std::uint32_t y, std::uint8_t* row) {
                std::copy_n(pixels.data() + rowBytes * y, rowBytes, row);
                return true;
            },
            options));
        const platform::FileHandle file = platform::CreateWrite("bottom-up.png");
        {
            png_write::BottomUpWriter writer(file, layout, options);
            ASSERT_EQ(writer.Start(), 0u);
            for (std::uint32_t y = shape.h; y-- > 0;) {
                ASSERT_EQ(writer.AddRow(pixels.data() + rowBytes * y), 0u) << y;
            }
            ASSERT_EQ(writer.Finish(), 0u);
        }
        platform::Close(file);
        const std::string what = std::to_string(shape.w) + "x" + std::to_string(shape.h) +
                                 " depth " + std::to_string(shape.depth) + " bands of " +
                                 std::to_string(shape.bandBytes) + " chunks of " +
                                 std::to_string(shape.chunkBytes);
        EXPECT_EQ(test::ReadBytes("bottom-up.png"), test::ReadBytes("top-down.png")) << what;
    }
}

}  // namespace
