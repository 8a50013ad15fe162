#include "tests/formats/format_checks.h"

#include <algorithm>
#include <stdexcept>

#include "engine/bitmap_headers.h"

namespace test {

pngtest::Image RandomImage(std::uint32_t width, std::uint32_t height, int colorType, int bitDepth,
                           std::mt19937& rng, std::uint32_t paletteColors) {
    pngtest::Image image;
    image.width = width;
    image.height = height;
    image.colorType = colorType;
    image.bitDepth = bitDepth;
    std::uint32_t values = 1u << bitDepth;
    if (colorType == 3) {
        values = std::min(values, paletteColors);
        const auto byte = [&rng] { return static_cast<std::uint8_t>(rng()); };
        for (std::uint32_t i = 0; i < values; ++i)
            image.palette.push_back({byte(), byte(), byte()});
        for (std::uint32_t i = 0; i < values / 2; ++i) image.paletteAlpha.push_back(byte());
    }
    const std::size_t count = std::size_t{width} * height * pngtest::Channels(colorType);
    for (std::size_t i = 0; i < count; ++i) {
        image.samples.push_back(static_cast<std::uint16_t>(rng() % values));
    }
    return image;
}

std::vector<std::uint16_t> ExpectedRgb(const pngtest::Image& image) {
    const int channels = pngtest::Channels(image.colorType);
    const std::uint32_t max = (1u << image.bitDepth) - 1;
    const auto scale = [&](std::uint32_t v) {
        return static_cast<std::uint16_t>(v * 65535u / max);
    };
    std::vector<std::uint16_t> rgb;
    for (std::size_t p = 0; p < std::size_t{image.width} * image.height; ++p) {
        const std::uint16_t* s = &image.samples[p * channels];
        switch (image.colorType) {
            case 0:
            case 4:
                rgb.insert(rgb.end(), 3, scale(s[0]));
                break;
            case 3:
                for (int c = 0; c < 3; ++c) rgb.push_back(257 * image.palette.at(s[0])[c]);
                break;
            default:
                for (int c = 0; c < 3; ++c) rgb.push_back(scale(s[c]));
        }
    }
    return rgb;
}

std::vector<std::uint8_t> BitmapRgb(const std::vector<std::uint8_t>& file, std::uint32_t* width,
                                    std::uint32_t* height) {
    if (file.size() < bmp::kHeadersSize) throw std::invalid_argument("not a bitmap");
    const std::uint8_t* ih = file.data() + bmp::kFileHeaderSize;
    *width = bmp::Get32(ih, bmp::kBiWidth);
    *height = bmp::Get32(ih, bmp::kBiHeight);
    const std::uint32_t bits = bmp::Get16(ih, bmp::kBiBitCount);
    const std::uint32_t stride = (*width * bits + 31) / 32 * 4;
    const std::uint8_t* palette = file.data() + bmp::kHeadersSize;
    const std::uint8_t* pixels = file.data() + bmp::Get32(file.data(), bmp::kBfOffBits);
    std::vector<std::uint8_t> rgb;
    for (std::uint32_t y = 0; y < *height; ++y) {
        const std::uint8_t* row = pixels + std::size_t{stride} * (*height - 1 - y);
        for (std::uint32_t x = 0; x < *width; ++x) {
            if (bits == 24) {
                rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
            } else {
                const std::uint32_t bit = x * bits;
                const std::uint32_t index =
                    (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                rgb.insert(rgb.end(),
                           {palette[4 * index + 2], palette[4 * index + 1], palette[4 * index]});
            }
        }
    }
    return rgb;
}

std::vector<std::uint8_t> PngRgb8(const pngtest::Image& png) {
    std::vector<std::uint8_t> rgb;
    for (std::size_t p = 0; p < std::size_t{png.width} * png.height; ++p) {
        if (png.colorType == 3) {
            const auto& color = png.palette.at(png.samples[p]);
            rgb.insert(rgb.end(), color.begin(), color.end());
        } else {
            for (int c = 0; c < 3; ++c)
                rgb.push_back(static_cast<std::uint8_t>(png.samples[3 * p + c]));
        }
    }
    return rgb;
}

}  // namespace test
