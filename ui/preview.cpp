#include "ui/preview.h"

#include <initializer_list>

namespace preview {

namespace {

std::uint8_t* PixelPtr(std::uint8_t* bits, int x, int y) {
    return bits + static_cast<std::ptrdiff_t>(kHeight - 1 - y) * kStride + 3 * x;
}

void Fill(std::uint8_t* bits, int x0, int x1, int y0, int y1, Bgr c) {
    for (int y = y0; y <= y1; ++y) {
        std::uint8_t* p = PixelPtr(bits, x0, y);
        for (int x = x0; x <= x1; ++x, p += 3) {
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
        }
    }
}

}  // namespace

Bgr PixelAt(const std::uint8_t* bits, int x, int y) {
    const std::uint8_t* p = PixelPtr(const_cast<std::uint8_t*>(bits), x, y);
    return {p[0], p[1], p[2]};
}

void DrawBackground(std::uint8_t* bits) {
    constexpr int kMiddle = 271;
    Fill(bits, 0, kMiddle - 1, 0, kHeight - 1, {0, 0, 0});
    Fill(bits, kMiddle, kWidth - 1, 0, kHeight - 1, {255, 255, 255});
    // Markers on the top and bottom 16 rows of the ramp, just outside its ends:
    // a light one on black, a darker one on white.
    const Bgr light{255, 64, 255};
    const Bgr dark{192, 0, 192};
    for (int top : {kRampTop, kRampTop + kRampRows - 16}) {
        Fill(bits, kRampLeft - 2, kRampLeft - 1, top, top + 15, light);
        Fill(bits, kRampLeft + 512, kRampLeft + 513, top, top + 15, dark);
    }
}

void DrawRamp(std::uint8_t* bits, const std::uint8_t* table) {
    for (int y = kRampTop; y < kRampTop + kRampRows; ++y) {
        std::uint8_t* p = PixelPtr(bits, kRampLeft, y);
        for (int k = 0; k < 256; ++k) {
            const std::uint8_t v = table[k];
            for (int i = 0; i < 6; ++i) *p++ = v;
        }
    }
}

bool Renderer::Render(std::uint8_t* bits, const ContrastTable& contrast) {
    if (contrastPosition == renderedPosition || !curve) return false;
    const std::uint8_t* table = curve->Build(contrast.exponent[contrastPosition], 0, 255, 0, 256);
    if (table == nullptr) return false;
    DrawRamp(bits, table);
    renderedPosition = contrastPosition;
    return true;
}

}  // namespace preview
