// Reduction of one row of averaged 16-bit samples to the output format, with
// the tone curve applied as each sample is quantised and a 16 x 16 ordered
// dither: each quantiser adds t/256 of its own step (t the matrix threshold)
// before truncating to a level.
#include "engine/pixel_formats.h"

#include "engine/color_mode.h"
#include "engine/palettes.h"

namespace {

// Luminance weights for blue, green and red; they sum to 65536.
constexpr std::uint32_t kLumaB = 7503;
constexpr std::uint32_t kLumaG = 38444;
constexpr std::uint32_t kLumaR = 19589;

// Mode 4: for each hue mask (bit 0 red, 1 green, 2 blue) the luminance A of its
// dark palette colour and the distance S to its bright one.
struct LevelPair {
    std::uint32_t a, s;
};
constexpr LevelPair kSystemColorLevels[8] = {
    {0, 32768},     {9795, 9794},   {19222, 19221}, {29017, 29015},
    {3752, 3751},   {13546, 13546}, {22974, 22972}, {49152, 16383},
};

// Mode 5: the sixteen grey levels are equal steps except the top one, which
// runs from 57344 to 65535 to match the palette's last step (224 to 255).
struct GrayStep {
    std::uint16_t base;
    std::uint8_t upper;
    std::uint8_t shift;
};
constexpr GrayStep MakeGrayStep(int k) {
    return k < 14 ? GrayStep{static_cast<std::uint16_t>(4096 * k), static_cast<std::uint8_t>(k + 1), 4}
                  : GrayStep{57344, 15, 5};
}
constexpr GrayStep kGray16Steps[16] = {
    MakeGrayStep(0),  MakeGrayStep(1),  MakeGrayStep(2),  MakeGrayStep(3),
    MakeGrayStep(4),  MakeGrayStep(5),  MakeGrayStep(6),  MakeGrayStep(7),
    MakeGrayStep(8),  MakeGrayStep(9),  MakeGrayStep(10), MakeGrayStep(11),
    MakeGrayStep(12), MakeGrayStep(13), MakeGrayStep(14), MakeGrayStep(15),
};

inline std::uint32_t Luma(const std::uint32_t* px) {
    return (kLumaB * (px[0] >> 16) + kLumaG * (px[1] >> 16) + kLumaR * (px[2] >> 16)) >> 16;
}

inline std::uint32_t MonoBit(std::uint32_t v, std::uint32_t t) { return (v + 256 * t) >> 16; }

inline std::uint8_t Gray16Level(std::uint32_t v, std::uint32_t t) {
    const GrayStep& s = kGray16Steps[v >> 12];
    const std::uint32_t d = ((t << s.shift) + (v - s.base) + 1) >> (s.shift + 8);
    return d ? s.upper : static_cast<std::uint8_t>(s.base >> 12);
}

inline std::uint8_t Gray256Level(std::uint32_t v, std::uint32_t t) {
    return static_cast<std::uint8_t>((t + v - (v >> 8)) >> 8);
}

// Mode 8's colour cube (palettes.h). A channel's step is full scale divided
// by its level count less one, truncated: 65535 / 9 = 7281 for green,
// 65535 / 7 = 9362 for red; blue's step is 2^15, so its level is a shift.
using palettes::kCubeBlueStride;
using palettes::kCubeFirstIndex;
using palettes::kCubeGreenStride;
constexpr std::uint32_t kCubeGreenStep = 65535 / (palettes::kCubeGreenLevels - 1);
constexpr std::uint32_t kCubeRedStep = 65535 / (palettes::kCubeRedLevels - 1);
constexpr int kCubeBlueShift = 15;
static_assert(kCubeGreenStep == 7281 && kCubeRedStep == 9362, "the cube's steps");
static_assert((palettes::kCubeBlueLevels - 1) << kCubeBlueShift == 65536, "blue's step");

inline std::uint8_t Color256Index(std::uint32_t b, std::uint32_t g, std::uint32_t r,
                                  std::uint32_t t) {
    // Each quantiser adds t/256 of its own step before truncating.
    const std::uint32_t bl = (b + (t << (kCubeBlueShift - 8))) >> kCubeBlueShift;
    const std::uint32_t gl = (g + ((kCubeGreenStep * t) >> 8)) / kCubeGreenStep;
    const std::uint32_t rl = (r + ((kCubeRedStep * t) >> 8)) / kCubeRedStep;
    return static_cast<std::uint8_t>(kCubeFirstIndex + kCubeBlueStride * bl +
                                     kCubeGreenStride * gl + rl);
}

inline std::uint8_t System16Index(std::uint32_t b, std::uint32_t g, std::uint32_t r,
                                  std::uint32_t t) {
    const std::uint32_t T = 256 * t;
    const std::uint32_t f = (r + T > 65535 ? 1u : 0u) | (g + T > 65535 ? 2u : 0u) |
                            (b + T > 65535 ? 4u : 0u);
    const std::uint32_t L = (kLumaR * r + kLumaG * g + kLumaB * b) >> 16;
    const LevelPair& p = kSystemColorLevels[f];
    if (L >= p.a) {
        const std::uint32_t l2 = (L - p.a) + ((p.s * T) >> 16);
        return static_cast<std::uint8_t>(l2 >= p.s ? f + 8 : f);
    }
    const std::uint32_t l2 = L + ((p.a * T) >> 16);
    return static_cast<std::uint8_t>(l2 >= p.a ? f : 0);
}

inline std::uint8_t High5(std::uint32_t v, std::uint32_t t) {
    const std::uint32_t k = v >> 12, d = ((v & 4095) + 16 * t + 1) >> 12;
    return static_cast<std::uint8_t>(16 * k + 15 * d);
}
inline std::uint8_t High6(std::uint32_t v, std::uint32_t t) {
    const std::uint32_t k = v >> 11, d = ((v & 2047) + 8 * t + 1) >> 11;
    return static_cast<std::uint8_t>(8 * k + 7 * d);
}

// Two pixels a byte, the left one in the high nibble; the left pixel's write
// also clears the low nibble, so an odd width leaves it zero.
inline void PutNibble(std::uint8_t* out, std::uint32_t x, std::uint8_t level) {
    if ((x & 1) == 0) {
        out[x >> 1] = static_cast<std::uint8_t>(level << 4);
    } else {
        out[x >> 1] = static_cast<std::uint8_t>(out[x >> 1] | level);
    }
}

}  // namespace

void BuildDitherMatrix(std::uint8_t* matrix) {
    // A recursively built 16 x 16 order: each pass quadruples the matrix and
    // gives the four quadrants the offsets 0, 3, 2, 1.
    std::uint8_t (*m)[kDitherSize] = reinterpret_cast<std::uint8_t (*)[kDitherSize]>(matrix);
    m[0][0] = 0;
    for (std::uint32_t a = 1; a < kDitherSize; a *= 2) {
        for (std::uint32_t i = 0; i < a; ++i) {
            for (std::uint32_t j = 0; j < a; ++j) {
                m[i][j] = static_cast<std::uint8_t>(m[i][j] * 4);
                m[i][j + a] = static_cast<std::uint8_t>(m[i][j] + 3);
                m[i + a][j] = static_cast<std::uint8_t>(m[i][j] + 2);
                m[i + a][j + a] = static_cast<std::uint8_t>(m[i][j] + 1);
            }
        }
    }
    // Thresholds of 0..3 and 252..255 move to the middle, so that no threshold
    // is below 4 or above 251: the top of a tone curve, a little below full
    // scale, still reaches the top level, and the darkest values stay black.
    for (std::uint32_t k = 0; k < kDitherBytes; ++k) {
        if (matrix[k] < 4 || matrix[k] > 251) matrix[k] ^= 128;
    }
}

bool ReduceRow(std::uint32_t colorMode, const std::uint32_t* acc, std::uint32_t width,
               const std::uint16_t* curve, const std::uint8_t* thresholds, std::uint8_t* outRow) {
    const std::uint32_t* px = acc;
    std::uint8_t* out = outRow;

    switch (colorMode) {
        case kModeDeepColor:
            for (std::uint32_t i = 0; i < 3 * width; ++i, out += 2) {
                const std::uint16_t v = curve[px[i] >> 16];
                out[0] = static_cast<std::uint8_t>(v);
                out[1] = static_cast<std::uint8_t>(v >> 8);
            }
            break;
        case kModeFullColor:
            for (std::uint32_t i = 0; i < 3 * width; ++i) {
                out[i] = static_cast<std::uint8_t>(curve[px[i] >> 16] >> 8);
            }
            break;
        case kModeHighColor:
            for (std::uint32_t x = 0; x < width; ++x, px += 3, out += 3) {
                const std::uint32_t t = thresholds[x & kDitherMask];
                out[0] = High5(curve[px[0] >> 16], t);
                out[1] = High6(curve[px[1] >> 16], t);
                out[2] = High5(curve[px[2] >> 16], t);
            }
            break;
        case kModeGray256:
            for (std::uint32_t x = 0; x < width; ++x, px += 3) {
                out[x] = Gray256Level(curve[Luma(px)], thresholds[x & kDitherMask]);
            }
            break;
        case kModeColor256:
            for (std::uint32_t x = 0; x < width; ++x, px += 3) {
                out[x] = Color256Index(curve[px[0] >> 16], curve[px[1] >> 16],
                                       curve[px[2] >> 16], thresholds[x & kDitherMask]);
            }
            break;
        case kModeGray16:
            for (std::uint32_t x = 0; x < width; ++x, px += 3) {
                PutNibble(out, x, Gray16Level(curve[Luma(px)], thresholds[x & kDitherMask]));
            }
            break;
        case kModeSystem16:
            for (std::uint32_t x = 0; x < width; ++x, px += 3) {
                PutNibble(out, x, System16Index(curve[px[0] >> 16], curve[px[1] >> 16],
                                                curve[px[2] >> 16], thresholds[x & kDitherMask]));
            }
            break;
        case kModeMono: {
            std::uint32_t byte = 0;
            for (std::uint32_t x = 0; x < width; ++x, px += 3) {
                byte = (byte << 1) | MonoBit(curve[Luma(px)], thresholds[x & kDitherMask]);
                if ((x & 7) == 7) {
                    out[x >> 3] = static_cast<std::uint8_t>(byte);
                    byte = 0;
                }
            }
            // The pixels of a last partial byte stand in its high bits.
            if (width & 7) out[width >> 3] = static_cast<std::uint8_t>(byte << (8 - (width & 7)));
            break;
        }
        default:
            return false;
    }
    return true;
}
