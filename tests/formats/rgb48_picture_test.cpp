// Whole pictures at full precision in 48-bit RGB, as the plug-ins hand them
// to their hosts. Damaged files: malformed_file_test holds this reader to
// the conversion job's statuses, file by file.
#include "formats/rgb48_picture.h"

#include <climits>
#include <random>
#include <vector>

#include "gtest/gtest.h"
#include "tests/engine/reference_conversion.h"
#include "tests/engine/test_support.h"

namespace {

std::uint16_t SampleAt(const std::uint8_t* pixels, std::size_t i) {
    return static_cast<std::uint16_t>(pixels[2 * i] | pixels[2 * i + 1] << 8);
}

TEST(Rgb48Picture, EverySampleTopRowFirstRedFirstLittleEndian) {
    std::mt19937 rng(48);
    const test::Picture p = test::RandomPicture(7, 4, rng);
    rq6::PayloadFields fields;
    fields.biXPelsPerMeter = 5906;  // 150 dpi
    fields.biYPelsPerMeter = -1;    // nonsense: the screen's 96
    const auto file = rq6::EncodeRq6(rq6::BuildPayload(7, 4, p.bgr, "comment", fields));
    MemorySource source(file.data(), file.size());
    rgb48::Picture picture;
    EXPECT_EQ(picture.Decode(), kStatusUnexpected);  // not opened
    rgb48::Picture fresh;
    ASSERT_EQ(fresh.Open(source), kStatusOk);
    EXPECT_EQ(fresh.Pixels(), nullptr);
    ASSERT_EQ(fresh.Decode(), kStatusOk);
    ASSERT_EQ(fresh.Decode(), kStatusOk);  // once; the source is not read again
    EXPECT_NEAR(fresh.DpiX(), 150.0124, 1e-9);  // 5906 x 0.0254
    EXPECT_EQ(fresh.DpiY(), 96.0);
    for (std::uint32_t top = 0; top < 4; ++top) {
        for (std::uint32_t x = 0; x < 7; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(SampleAt(fresh.Pixels(), (top * 7 + x) * 3 + c), p.At(x, 3 - top, 2 - c))
                    << x << "," << top << " channel " << c;
            }
        }
    }
}

TEST(Rgb48Picture, AScaledCopyIsTheAreaAverageOfThePictureInEachPart) {
    std::mt19937 rng(7);
    const test::Picture p = test::RandomPicture(23, 17, rng);
    test::WritePicture("scaled.rq6", p);
    const auto file = test::ReadBytes("scaled.rq6");
    // The reference conversion's 48-bit bitmap: rows bottom first, blue first.
    const auto bmp = test::ReferenceBmp(p, 1.0, 10, 7, 48);
    const rgb48::Rect parts[] = {{0, 0, 10, 7}, {3, 2, 4, 3}, {9, 6, 1, 1}, {0, 0, 10, 1}};
    for (const rgb48::Rect& part : parts) {
        const std::uint32_t stride = 6 * part.width + 5;
        std::vector<std::uint8_t> out(stride * part.height, 0xEE);
        MemorySource source(file.data(), file.size());
        ASSERT_EQ(rgb48::CopyScaled(source, 10, 7, part, stride, out.data()), kStatusOk);
        for (int y = 0; y < part.height; ++y) {
            const std::uint8_t* row = bmp.data() + 54 + 60 * (6 - (part.y + y));
            for (int x = 0; x < part.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const std::uint8_t* want = row + 6 * (part.x + x) + 2 * (2 - c);
                    const std::uint8_t* got = out.data() + y * stride + 6 * x + 2 * c;
                    ASSERT_TRUE(got[0] == want[0] && got[1] == want[1])
                        << "part " << part.x << "," << part.y << " pixel " << x << "," << y;
                }
            }
            EXPECT_EQ(out[y * stride + stride - 1], 0xEE);  // the gap after the part's row
        }
    }
    // A file cut in its rows fails as a conversion of it does.
    MemorySource cut(file.data(), file.size() / 2);
    std::vector<std::uint8_t> out(60 * 7);
    EXPECT_EQ(rgb48::CopyScaled(cut, 10, 7, {0, 0, 10, 7}, 60, out.data()), kStatusReadFailed);
}

TEST(Rgb48Picture, CopiesOnlyPartsInsideThePictureIntoBuffersLargeEnough) {
    using rgb48::CheckCopy;
    using rgb48::CopyCheck;
    struct Case {
        rgb48::Rect rect;
        std::uint32_t stride;
        std::uint64_t size;
        CopyCheck expected;
    } const cases[] = {
        {{0, 0, 7, 4}, 42, 168, CopyCheck::kOk},
        {{0, 0, 7, 4}, 50, 192, CopyCheck::kOk},  // the last row needs no whole stride
        {{0, 0, 7, 4}, 50, 191, CopyCheck::kBufferTooSmall},
        {{0, 0, 7, 4}, 41, 1000, CopyCheck::kStrideTooSmall},
        {{6, 3, 1, 1}, 6, 6, CopyCheck::kOk},
        {{3, 2, 0, 0}, 0, 0, CopyCheck::kOk},  // nothing asked, nothing needed
        {{-1, 0, 1, 1}, 6, 6, CopyCheck::kOutsidePicture},
        {{0, 0, 8, 1}, 48, 48, CopyCheck::kOutsidePicture},
        {{0, 4, 1, 1}, 6, 6, CopyCheck::kOutsidePicture},
        {{0, 0, 1, -1}, 6, 6, CopyCheck::kOutsidePicture},
        {{INT32_MAX, 0, 1, 1}, 6, 6, CopyCheck::kOutsidePicture},  // x + width would wrap
        {{0, 1, 1, INT32_MAX}, 6, 6, CopyCheck::kOutsidePicture},
        {{0, 0, 7, 4}, UINT32_MAX, UINT32_MAX, CopyCheck::kBufferTooSmall},  // 3 x 4 GB
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CheckCopy(7, 4, c.rect, c.stride, c.size), c.expected)
            << c.rect.x << "," << c.rect.y << " " << c.rect.width << "x" << c.rect.height;
    }
    // The largest picture in a 4 GB buffer: 6.4 GB needed, not a wrapped 2.1.
    EXPECT_EQ(CheckCopy(32767, 32767, {0, 0, 32767, 32767}, 6 * 32767, UINT32_MAX),
              CopyCheck::kBufferTooSmall);
}

}  // namespace
