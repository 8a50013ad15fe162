// The contrast preview picture: background, markers and the ramp through the
// tone curve, checked pixel by pixel.
#include "ui/preview.h"

#include <cmath>
#include <stdexcept>
#include <vector>

#include "gtest/gtest.h"

namespace {

using preview::Bgr;

bool Same(Bgr a, Bgr b) { return a.b == b.b && a.g == b.g && a.r == b.r; }

struct Picture {
    std::vector<std::uint8_t> bits = std::vector<std::uint8_t>(preview::kImageSize, 0x5A);
    Bgr At(int x, int y) const { return preview::PixelAt(bits.data(), x, y); }
    // The grey level of ramp step k (both columns and all rows must agree).
    int Step(int k) const {
        const Bgr first = At(15 + 2 * k, 14);
        for (int y = 14; y <= 77; ++y) {
            for (int x : {15 + 2 * k, 16 + 2 * k}) {
                const Bgr p = At(x, y);
                if (!Same(p, first) || p.r != p.g || p.g != p.b) return -1;
            }
        }
        return first.r;
    }
};

TEST(PreviewPicture, StoredBottomUpWithPaddedRows) {
    Picture p;
    preview::DrawBackground(p.bits.data());
    // Top-left pixel (black half) is in the last stored row; top-right white.
    EXPECT_EQ(p.bits[static_cast<std::size_t>(92) * 1632], 0);
    EXPECT_EQ(p.bits[static_cast<std::size_t>(92) * 1632 + 3 * 542], 255);
    // The padding byte at the end of each row is not drawn over.
    EXPECT_EQ(p.bits[1631], 0x5A);
}

TEST(PreviewPicture, BackgroundHalvesAndMarkers) {
    Picture p;
    preview::DrawBackground(p.bits.data());
    const Bgr black{0, 0, 0}, white{255, 255, 255};
    const Bgr light{255, 64, 255}, dark{192, 0, 192};  // blue, green, red
    for (int y = 0; y < 93; ++y) {
        for (int x = 0; x < 543; ++x) {
            const bool markerRow = (y >= 14 && y <= 29) || (y >= 62 && y <= 77);
            Bgr want = x <= 270 ? black : white;
            if (markerRow && (x == 13 || x == 14)) want = light;
            if (markerRow && (x == 527 || x == 528)) want = dark;
            ASSERT_TRUE(Same(p.At(x, y), want)) << x << "," << y;
        }
    }
}

TEST(PreviewPicture, RampAtTheMiddlePositionIsTheIdentityCurve) {
    Picture p;
    preview::DrawBackground(p.bits.data());
    preview::Renderer r;
    ASSERT_EQ(r.Create([] { return std::make_unique<CGammaCB>(); }), preview::Renderer::Init::kOk);
    const ContrastTable table;
    EXPECT_TRUE(r.Render(p.bits.data(), table));  // never drawn before: draws 128
    EXPECT_EQ(r.renderedPosition, 128);
    // trunc(255 k / 256): 0, 0, 1, 2 ... 252, 253, 254.
    for (int k = 0; k < 256; ++k) EXPECT_EQ(p.Step(k), 255 * k / 256) << k;
    // Outside the band the background is untouched.
    EXPECT_TRUE(Same(p.At(15, 13), Bgr{0, 0, 0}));
    EXPECT_TRUE(Same(p.At(526, 78), Bgr{255, 255, 255}));
    EXPECT_TRUE(Same(p.At(14, 20), Bgr{255, 64, 255}));
    EXPECT_TRUE(Same(p.At(527, 70), Bgr{192, 0, 192}));
}

TEST(PreviewPicture, RampAtTheEndsOfTheTrackbar) {
    Picture p;
    preview::Renderer r;
    ASSERT_EQ(r.Create([] { return std::make_unique<CGammaCB>(); }), preview::Renderer::Init::kOk);
    const ContrastTable table;

    r.contrastPosition = 0;  // exponent 0.4, brighter
    ASSERT_TRUE(r.Render(p.bits.data(), table));
    EXPECT_EQ(p.Step(0), 0);
    EXPECT_EQ(p.Step(1), 27);
    EXPECT_EQ(p.Step(2), 36);
    EXPECT_EQ(p.Step(3), 43);
    EXPECT_EQ(p.Step(252), 253);
    EXPECT_EQ(p.Step(253), 253);
    EXPECT_EQ(p.Step(254), 254);
    EXPECT_EQ(p.Step(255), 254);

    r.contrastPosition = 256;  // exponent 2.5, darker
    ASSERT_TRUE(r.Render(p.bits.data(), table));
    EXPECT_EQ(p.Step(0), 0);
    EXPECT_EQ(p.Step(1), 0);
    EXPECT_EQ(p.Step(252), 245);
    EXPECT_EQ(p.Step(253), 247);
    EXPECT_EQ(p.Step(254), 250);
    EXPECT_EQ(p.Step(255), 252);

    // Every position: within one level of the curve evaluated directly (the
    // table sums its fractions step by step, which may differ in the last bit).
    for (int pos = 0; pos <= 256; pos += 8) {
        r.contrastPosition = pos;
        r.Render(p.bits.data(), table);
        for (int k = 0; k < 256; ++k) {
            const double direct = std::pow(k / 256.0, table.exponent[pos]) * 255.0;
            EXPECT_NEAR(p.Step(k), std::floor(direct), 1.0) << pos << " " << k;
        }
    }
}

TEST(PreviewPicture, AnUnchangedPositionIsNotRedrawn) {
    Picture p;
    preview::Renderer r;
    ASSERT_EQ(r.Create([] { return std::make_unique<CGammaCB>(); }), preview::Renderer::Init::kOk);
    const ContrastTable table;
    r.contrastPosition = 40;
    EXPECT_TRUE(r.Render(p.bits.data(), table));
    std::uint8_t& inBand = p.bits[static_cast<std::size_t>(50) * 1632 + 3 * 100];
    inBand = 77;  // a scribble that only a redraw removes
    EXPECT_FALSE(r.Render(p.bits.data(), table));
    EXPECT_EQ(inBand, 77);
    r.contrastPosition = 41;
    EXPECT_TRUE(r.Render(p.bits.data(), table));
    EXPECT_NE(inBand, 77);
}

TEST(PreviewPicture, CreationFailuresAreTold) {
    using Init = preview::Renderer::Init;
    preview::Renderer a;
    EXPECT_EQ(a.Create([]() -> std::unique_ptr<CGammaCB> { throw std::bad_alloc(); }),
              Init::kNoMemory);
    EXPECT_EQ(a.curve, nullptr);
    preview::Renderer b;
    EXPECT_EQ(b.Create([]() -> std::unique_ptr<CGammaCB> { throw std::runtime_error("x"); }),
              Init::kUnexpected);
    // An object whose table could not be allocated draws nothing.
    preview::Renderer c;
    EXPECT_EQ(c.Create([] {
        auto curve = std::make_unique<CGammaCB>();
        delete[] curve->table;
        curve->table = nullptr;
        return curve;
    }),
              Init::kNoMemory);
    Picture p;
    const ContrastTable table;
    EXPECT_FALSE(c.Render(p.bits.data(), table));
    EXPECT_EQ(c.renderedPosition, -1);
}

}  // namespace
