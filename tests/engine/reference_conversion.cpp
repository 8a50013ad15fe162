#include "tests/engine/reference_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace test {

const std::uint8_t kExpectedDither[256] = {
    128, 192, 48,  240, 12,  204, 60,  124, 131, 195, 51,  243, 15,  207, 63,  127,
    128, 64,  176, 112, 140, 76,  188, 124, 131, 67,  179, 115, 143, 79,  191, 127,
    32,  224, 16,  208, 44,  236, 28,  220, 35,  227, 19,  211, 47,  239, 31,  223,
    160, 96,  144, 80,  172, 108, 156, 92,  163, 99,  147, 83,  175, 111, 159, 95,
    8,   200, 56,  248, 4,   196, 52,  244, 11,  203, 59,  251, 7,   199, 55,  247,
    136, 72,  184, 120, 132, 68,  180, 116, 139, 75,  187, 123, 135, 71,  183, 119,
    40,  232, 24,  216, 36,  228, 20,  212, 43,  235, 27,  219, 39,  231, 23,  215,
    168, 104, 152, 88,  164, 100, 148, 84,  171, 107, 155, 91,  167, 103, 151, 87,
    130, 194, 50,  242, 14,  206, 62,  126, 129, 193, 49,  241, 13,  205, 61,  125,
    130, 66,  178, 114, 142, 78,  190, 126, 129, 65,  177, 113, 141, 77,  189, 125,
    34,  226, 18,  210, 46,  238, 30,  222, 33,  225, 17,  209, 45,  237, 29,  221,
    162, 98,  146, 82,  174, 110, 158, 94,  161, 97,  145, 81,  173, 109, 157, 93,
    10,  202, 58,  250, 6,   198, 54,  246, 9,   201, 57,  249, 5,   197, 53,  245,
    138, 74,  186, 122, 134, 70,  182, 118, 137, 73,  185, 121, 133, 69,  181, 117,
    42,  234, 26,  218, 38,  230, 22,  214, 41,  233, 25,  217, 37,  229, 21,  213,
    170, 106, 154, 90,  166, 102, 150, 86,  169, 105, 153, 89,  165, 101, 149, 85,
};

namespace {

// Start of input pixel i on the output axis, in 1/256ths of an output pixel:
// each pixel carries 256 m / n units rounded down, and the remainder is handed
// out one unit at a time where the running share n/2 + i r crosses a multiple
// of n.
std::uint64_t UnitStart(std::uint64_t n, std::uint64_t m, std::uint64_t i) {
    const std::uint64_t q = 256 * m / n, r = 256 * m % n;
    return q * i + (n / 2 + i * r) / n - (n / 2) / n;
}

std::vector<std::uint8_t> Palette(std::uint32_t mode) {
    std::vector<std::uint8_t> p;
    auto add = [&](int r, int g, int b) {
        p.insert(p.end(), {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                           static_cast<std::uint8_t>(r), 0});
    };
    const int system[16][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},   {128, 128, 0},
                               {0, 0, 128},     {128, 0, 128},   {0, 128, 128}, {192, 192, 192},
                               {128, 128, 128}, {255, 0, 0},     {0, 255, 0},   {255, 255, 0},
                               {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
    switch (mode) {
        case 1: add(0, 0, 0), add(255, 255, 255); break;
        case 4: for (auto& c : system) add(c[0], c[1], c[2]); break;
        case 5: for (int i = 0; i < 16; ++i) add(i == 15 ? 255 : 16 * i, i == 15 ? 255 : 16 * i, i == 15 ? 255 : 16 * i); break;
        case 8: {
            for (auto& c : system) add(c[0], c[1], c[2]);
            const int blue[3] = {0, 128, 255};
            const int green[10] = {0, 28, 57, 85, 113, 142, 170, 198, 227, 255};
            const int red[8] = {0, 36, 73, 109, 146, 182, 219, 255};
            for (int b = 0; b < 3; ++b)
                for (int g = 0; g < 10; ++g)
                    for (int r = 0; r < 8; ++r) add(red[r], green[g], blue[b]);
            break;
        }
        case 9: for (int i = 0; i < 256; ++i) add(i, i, i); break;
        default: break;
    }
    return p;
}

std::uint32_t BitsPerPixel(std::uint32_t mode) {
    return mode == 1 ? 1 : mode <= 5 ? 4 : mode <= 9 ? 8 : mode <= 24 ? 24 : 48;
}

std::uint32_t RowBytes(std::uint32_t mode, std::uint32_t w) {
    std::uint32_t bits = BitsPerPixel(mode);
    std::uint32_t bytes = (w * bits + 7) / 8;
    // 4-bit rows round the pixel count up to whole bytes the same way.
    return (bytes + 3) / 4 * 4;
}

void Put(std::vector<std::uint8_t>& f, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::uint32_t ReferenceWeight(std::uint32_t n, std::uint32_t m, std::uint32_t i, std::uint32_t x) {
    const std::uint64_t a = UnitStart(n, m, i), b = UnitStart(n, m, i + 1);
    const std::uint64_t lo = std::max<std::uint64_t>(a, 256ull * x);
    const std::uint64_t hi = std::min<std::uint64_t>(b, 256ull * (x + 1));
    return hi > lo ? static_cast<std::uint32_t>(hi - lo) : 0;
}

// Worked out by hand, not by a formula, so that a wrong crop rule in the
// engine cannot be copied here: {W, H, w, h} -> {left, top, width, height}.
// The sizes the conversion tests use, with portrait and ultrawide outputs,
// slivers both ways, outputs of the picture's own proportions (no crop), an
// odd pixel to split, half-way roundings, and the extremes 1 x 4000 and
// 4000 x 1.
const CoverCase kCoverCases[] = {
    {{32, 24, 9, 16}, {9, 0, 14, 24}},        // 13.5 columns round up to 14
    {{32, 24, 21, 9}, {0, 5, 32, 14}},        // 13.71 rows
    {{32, 24, 16, 9}, {0, 3, 32, 18}},        // exactly 18 rows
    {{32, 24, 43, 10}, {0, 8, 32, 7}},        // 7.44 rows
    {{32, 24, 1, 7}, {14, 0, 3, 24}},         // 3.43 columns
    {{32, 24, 64, 48}, {0, 0, 32, 24}},       // same proportions: no crop
    {{40, 30, 1, 37}, {19, 0, 1, 30}},        // one column
    {{40, 30, 37, 1}, {0, 14, 40, 1}},        // one row
    {{1, 30, 5, 3}, {0, 14, 1, 1}},
    {{30, 1, 3, 5}, {14, 0, 1, 1}},
    {{2, 31, 40, 1}, {0, 15, 2, 1}},          // 0.05 rows: at least one
    {{31, 2, 1, 40}, {15, 0, 1, 2}},          // 0.05 columns: at least one
    {{33, 24, 16, 12}, {0, 0, 32, 24}},       // one column to spare: the last one goes
    {{31, 24, 16, 12}, {0, 0, 31, 23}},       // 23.25 rows: the bottom one goes
    {{24, 32, 3, 4}, {0, 0, 24, 32}},
    {{7, 5, 2, 3}, {2, 0, 3, 5}},
    {{5, 7, 3, 2}, {0, 2, 5, 3}},
    {{1, 4000, 1920, 1080}, {0, 1999, 1, 1}},
    {{4000, 1, 1920, 1080}, {1999, 0, 2, 1}},
    {{4000, 1, 1, 4000}, {1999, 0, 1, 1}},
    {{1, 4000, 4000, 1}, {0, 1999, 1, 1}},
    {{640, 480, 1920, 1080}, {0, 60, 640, 360}},  // exactly 360 rows
    {{48, 36, 1920, 1080}, {0, 4, 48, 27}},
    {{48, 36, 1080, 1920}, {14, 0, 20, 36}},
    {{48, 36, 400, 300}, {0, 0, 48, 36}},
    {{48, 36, 301, 1000}, {18, 0, 11, 36}},
    {{48, 36, 3840, 2160}, {0, 4, 48, 27}},
    {{48, 36, 7680, 4319}, {0, 4, 48, 27}},
    {{48, 36, 200, 150}, {0, 0, 48, 36}},
};
const std::size_t kCoverCaseCount = sizeof kCoverCases / sizeof kCoverCases[0];

Crop ReferenceCoverCrop(std::uint32_t W, std::uint32_t H, std::uint32_t w, std::uint32_t h) {
    for (const CoverCase& c : kCoverCases) {
        if (c.size[0] == W && c.size[1] == H && c.size[2] == w && c.size[3] == h) return c.crop;
    }
    std::fprintf(stderr, "no hand-worked crop for %ux%u into %ux%u: add it to kCoverCases\n",
                 static_cast<unsigned>(W), static_cast<unsigned>(H), static_cast<unsigned>(w),
                 static_cast<unsigned>(h));
    std::abort();
}

Picture Cropped(const Picture& pic, const Crop& crop) {
    Picture out{crop.width, crop.height, {}};
    // Stored rows run bottom first, so the top row seen is the last stored.
    const std::uint32_t firstStored = pic.height - crop.top - crop.height;
    for (std::uint32_t y = 0; y < crop.height; ++y)
        for (std::uint32_t x = 0; x < crop.width; ++x)
            for (int c = 0; c < 3; ++c) out.bgr.push_back(pic.At(crop.left + x, firstStored + y, c));
    return out;
}

std::uint16_t ReferenceTone(double exponent, std::uint32_t sample) {
    if (!(exponent > 0.001)) exponent = 0.001;
    if (exponent >= 1000) exponent = 1000;
    if (sample == 0) return 0;
    return static_cast<std::uint16_t>(std::pow(sample / 65536.0, exponent) * 65535);
}

std::vector<std::uint8_t> ReferenceBmp(const Picture& pic, double exponent, std::uint32_t width,
                                       std::uint32_t height, std::uint32_t mode) {
    std::vector<std::uint16_t> tone(65536);
    for (std::uint32_t s = 0; s < 65536; ++s) tone[s] = ReferenceTone(exponent, s);

    const std::vector<std::uint8_t> palette = Palette(mode);
    const std::uint32_t stride = RowBytes(mode, width);
    const std::uint32_t offBits = 54 + static_cast<std::uint32_t>(palette.size());
    std::vector<std::uint8_t> f;
    f.push_back('B'), f.push_back('M');
    Put(f, offBits + stride * height, 4);
    Put(f, 0, 4);
    Put(f, offBits, 4);
    Put(f, 40, 4), Put(f, width, 4), Put(f, height, 4), Put(f, 1, 2);
    Put(f, BitsPerPixel(mode), 2);
    Put(f, 0, 4), Put(f, stride * height, 4), Put(f, 3780, 4), Put(f, 3780, 4);
    Put(f, 0, 4), Put(f, 0, 4);
    f.insert(f.end(), palette.begin(), palette.end());

    // Weights of each axis, as overlaps.
    std::vector<std::vector<std::uint32_t>> wh(width), wv(height);
    for (std::uint32_t x = 0; x < width; ++x)
        for (std::uint32_t i = 0; i < pic.width; ++i) wh[x].push_back(ReferenceWeight(pic.width, width, i, x));
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t j = 0; j < pic.height; ++j) wv[y].push_back(ReferenceWeight(pic.height, height, j, y));

    for (std::uint32_t y = 0; y < height; ++y) {
        std::vector<std::uint8_t> row(stride, 0);
        const std::uint32_t* thresholds = nullptr;
        std::uint32_t trow[16];
        for (int k = 0; k < 16; ++k) trow[k] = kExpectedDither[16 * (y % 16) + k];
        thresholds = trow;
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint64_t sum[3] = {0, 0, 0};
            for (std::uint32_t j = 0; j < pic.height; ++j) {
                if (!wv[y][j]) continue;
                for (std::uint32_t i = 0; i < pic.width; ++i) {
                    const std::uint64_t w = std::uint64_t{wh[x][i]} * wv[y][j];
                    for (int c = 0; c < 3; ++c) sum[c] += w * pic.At(i, j, c);
                }
            }
            std::uint32_t avg[3];
            for (int c = 0; c < 3; ++c) {
                if (sum[c] > 0xFFFFFFFFull) throw std::logic_error("sum exceeds 32 bits");
                avg[c] = static_cast<std::uint32_t>(sum[c] >> 16);
            }
            const std::uint32_t b = tone[avg[0]], g = tone[avg[1]], r = tone[avg[2]];
            const std::uint32_t luma = (7503 * avg[0] + 38444 * avg[1] + 19589 * avg[2]) >> 16;
            const std::uint32_t v = tone[luma];
            const std::uint32_t t = thresholds[x % 16];
            switch (mode) {
                case 48:
                    for (int c = 0; c < 3; ++c) {
                        const std::uint32_t s = tone[avg[c]];
                        row[6 * x + 2 * c] = static_cast<std::uint8_t>(s & 255);
                        row[6 * x + 2 * c + 1] = static_cast<std::uint8_t>(s >> 8);
                    }
                    break;
                case 24:
                    row[3 * x] = static_cast<std::uint8_t>(b >> 8);
                    row[3 * x + 1] = static_cast<std::uint8_t>(g >> 8);
                    row[3 * x + 2] = static_cast<std::uint8_t>(r >> 8);
                    break;
                case 16: {
                    auto five = [&](std::uint32_t c) { return 16 * (c / 4096) + ((c % 4096 + 16 * t + 1) >= 4096 ? 15 : 0); };
                    auto six = [&](std::uint32_t c) { return 8 * (c / 2048) + ((c % 2048 + 8 * t + 1) >= 2048 ? 7 : 0); };
                    row[3 * x] = static_cast<std::uint8_t>(five(b));
                    row[3 * x + 1] = static_cast<std::uint8_t>(six(g));
                    row[3 * x + 2] = static_cast<std::uint8_t>(five(r));
                    break;
                }
                case 9:
                    row[x] = static_cast<std::uint8_t>((t + v - v / 256) / 256);
                    break;
                case 8: {
                    const std::uint32_t bl = (b + 128 * t) / 32768;
                    const std::uint32_t gl = (g + 7281 * t / 256) / 7281;
                    const std::uint32_t rl = (r + 9362 * t / 256) / 9362;
                    row[x] = static_cast<std::uint8_t>(16 + 80 * bl + 8 * gl + rl);
                    break;
                }
                case 5: {
                    std::uint32_t level;
                    if (v < 57344) {
                        level = v / 4096 + ((v % 4096 + 16 * t + 1) >= 4096 ? 1 : 0);
                    } else {
                        level = 14 + ((v - 57344 + 32 * t + 1) >= 8192 ? 1 : 0);
                    }
                    row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 ? level : level << 4));
                    break;
                }
                case 4: {
                    // Luminance of each palette colour on the 16-bit scale, dark and bright.
                    static const std::uint32_t dark[8] = {0, 9795, 19222, 29017, 3752, 13546, 22974, 49152};
                    static const std::uint32_t span[8] = {32768, 9794, 19221, 29015, 3751, 13546, 22972, 16383};
                    const std::uint32_t T = 256 * t;
                    const std::uint32_t hue = (r + T >= 65536 ? 1 : 0) + (g + T >= 65536 ? 2 : 0) + (b + T >= 65536 ? 4 : 0);
                    const std::uint32_t L = (19589 * r + 38444 * g + 7503 * b) >> 16;
                    std::uint32_t index;
                    if (L >= dark[hue]) {
                        index = (L - dark[hue]) + ((span[hue] * T) >> 16) >= span[hue] ? hue + 8 : hue;
                    } else {
                        index = L + ((dark[hue] * T) >> 16) >= dark[hue] ? hue : 0;
                    }
                    row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 ? index : index << 4));
                    break;
                }
                case 1:
                    if (v + 256 * t >= 65536) row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
                    break;
            }
        }
        f.insert(f.end(), row.begin(), row.end());
    }
    return f;
}

}  // namespace test
