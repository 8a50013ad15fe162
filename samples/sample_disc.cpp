#include "samples/sample_disc.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "engine/conversion_status.h"
#include "formats/rq6_writer.h"

namespace rq6 {

namespace {

// ---------------------------------------------------------------------------
// Deterministic helpers. The library's sin/exp may round differently from one
// platform to the next; the pictures must not, so the one periodic function
// needed comes from a table computed with a Taylor series.

constexpr int kTableSize = 4096;  // entries per full turn
constexpr double kPi = 3.14159265358979323846;

// sin(x) for |x| <= pi/2; 14 terms are far beyond double precision there.
double TaylorSine(double x) {
    double term = x;
    double sum = x;
    for (int k = 1; k < 14; ++k) {
        term = -term * x * x / ((2.0 * k) * (2.0 * k + 1.0));
        sum += term;
    }
    return sum;
}

const std::array<double, kTableSize>& SineTable() {
    static const std::array<double, kTableSize> table = [] {
        std::array<double, kTableSize> t{};
        const std::size_t quarter = kTableSize / 4;
        for (std::size_t i = 0; i <= quarter; ++i) {
            const double s = TaylorSine(kPi / 2.0 * static_cast<double>(i) / quarter);
            t[i] = s;
            t[2 * quarter - i] = s;
            if (i > 0) t[kTableSize - i] = -s;
            t[2 * quarter + i] = -s;
        }
        return t;
    }();
    return table;
}

// Sine of `turns` full turns (any real value).
double SineTurns(double turns) {
    const double scaled = turns * kTableSize;
    const auto index = static_cast<long long>(scaled >= 0 ? scaled + 0.5 : scaled - 0.5);
    return SineTable()[static_cast<std::size_t>(index & (kTableSize - 1))];
}

std::uint16_t ToSample(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return static_cast<std::uint16_t>(v + 0.5);
}

std::uint32_t Hash(std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0) {
    std::uint32_t h =
        a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

struct Rgb {
    double r = 0, g = 0, b = 0;  // 0..65535
};

Rgb Mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void Store(const Rgb& c, std::uint16_t* bgr) {
    bgr[0] = ToSample(c.b);
    bgr[1] = ToSample(c.g);
    bgr[2] = ToSample(c.r);
}

// Fully saturated colour for hue h in [0, 6): red, yellow, green, cyan, blue, magenta.
Rgb Hue(double h) {
    const int sector = std::min(5, static_cast<int>(h));
    const double f = h - sector;
    const double up = f * 65535.0;
    const double down = (1.0 - f) * 65535.0;
    switch (sector) {
        case 0:
            return {65535.0, up, 0.0};
        case 1:
            return {down, 65535.0, 0.0};
        case 2:
            return {0.0, 65535.0, up};
        case 3:
            return {0.0, down, 65535.0};
        case 4:
            return {up, 0.0, 65535.0};
        default:
            return {65535.0, 0.0, down};
    }
}

// Pixel centre as a fraction of a side: (i + 0.5) / n.
double Centre(std::uint32_t i, std::uint32_t n) { return (i + 0.5) / n; }

class Picture {
public:
    Picture(std::uint32_t width, std::uint32_t height) : w_(width), h_(height) {}
    virtual ~Picture() = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // Row `top` counted from the top of the picture.
    virtual void Row(std::uint32_t top, std::uint16_t* bgr) const = 0;

protected:
    std::uint32_t w_;
    std::uint32_t h_;
};

// ---------------------------------------------------------------------------
// 6: gradients. Six bands from the top: a full grey ramp, red, green and blue
// ramps, a grey ramp spanning only three 8-bit levels (smooth in 16 bits, hard
// steps in 8), and a two-dimensional dusk gradient that shows posterisation
// in 16-bit high colour and in palettes.
class Gradients : public Picture {
public:
    Gradients(std::uint32_t width, std::uint32_t height) : Picture(width, height), ramp_(width) {
        for (std::uint32_t x = 0; x < width; ++x) {
            ramp_[x] = width > 1 ? static_cast<double>(x) / (width - 1) : 0.0;
        }
    }

    void Row(std::uint32_t top, std::uint16_t* bgr) const override {
        const std::uint32_t band = static_cast<std::uint32_t>(std::uint64_t{top} * 6 / h_);
        const std::uint32_t bandTop =
            static_cast<std::uint32_t>((std::uint64_t{band} * h_ + 5) / 6);
        const std::uint32_t bandEnd =
            static_cast<std::uint32_t>((std::uint64_t{band + 1} * h_ + 5) / 6);
        const double inBand = bandEnd > bandTop ? Centre(top - bandTop, bandEnd - bandTop) : 0.5;
        for (std::uint32_t x = 0; x < w_; ++x) {
            const double u = ramp_[x];
            Rgb c;
            switch (band) {
                case 0:
                    c = {u * 65535.0, u * 65535.0, u * 65535.0};
                    break;
                case 1:
                    c = {u * 65535.0, 0.0, 0.0};
                    break;
                case 2:
                    c = {0.0, u * 65535.0, 0.0};
                    break;
                case 3:
                    c = {0.0, 0.0, u * 65535.0};
                    break;
                case 4: {
                    // 0x7E80..0x8180: three 8-bit levels across the whole width.
                    const double v = 0x7E80 + u * 0x300;
                    c = {v, v, v};
                    break;
                }
                default: {
                    const Rgb left = {0x0800, 0x1800, 0x5000};
                    const Rgb right = {0xF000, 0x9000, 0x3000};
                    const Rgb mixed = Mix(left, right, u);
                    const double shade = 1.0 - 0.6 * inBand;
                    c = {mixed.r * shade, mixed.g * shade, mixed.b * shade};
                    break;
                }
            }
            Store(c, bgr + 3 * x);
        }
    }

private:
    std::vector<double> ramp_;
};

// ---------------------------------------------------------------------------
// 7: fine detail. A zone plate fills the left square: its rings reach half a
// cycle per pixel at the edge midpoints and go beyond in the corners, so
// point-sampled scaling shows false rings where area averaging shows grey.
// To its right, bands of one-pixel patterns whose area average is known
// (lines, checkerboard, a flat 50 % grey to compare with, red/cyan columns,
// diagonal lines, and a horizontal chirp).
class Detail : public Picture {
public:
    Detail(std::uint32_t width, std::uint32_t height)
        : Picture(width, height), square_(std::min(width, height)), dx2_(width), chirp_(width) {
        for (std::uint32_t x = 0; x < width; ++x) {
            // Doubled coordinates keep pixel centres integral.
            const std::int64_t dx = 2 * std::int64_t{x} + 1 - square_;
            dx2_[x] = dx * dx;
            const std::uint32_t rel = x >= square_ ? x - square_ : 0;
            const std::uint32_t span = width > square_ ? width - square_ : 1;
            // Phase x^2 / (4 span) turns: frequency rises to 0.5 cycles per pixel.
            chirp_[x] = std::int32_t(std::uint64_t{rel} * rel * (kTableSize / 4) / span);
        }
    }

    void Row(std::uint32_t top, std::uint16_t* bgr) const override {
        const auto& sine = SineTable();
        const std::int64_t dy = 2 * std::int64_t{top} + 1 - square_;
        const std::int64_t dy2 = dy * dy;
        const std::uint32_t band = static_cast<std::uint32_t>(std::uint64_t{top} * 8 / h_);
        const std::int64_t quarter = kTableSize / 4;
        for (std::uint32_t x = 0; x < w_; ++x) {
            Rgb c;
            if (x < square_ && top < square_) {
                // Phase r^2 / (2 S) turns with r^2 = (dx^2 + dy^2) / 4 in doubled units;
                // the cosine is the sine a quarter turn on.
                const std::int64_t index = (dx2_[x] + dy2) * (kTableSize / 8) / square_ + quarter;
                const double v =
                    32768.0 + 32767.0 * sine[static_cast<std::size_t>(index & (kTableSize - 1))];
                c = {v, v, v};
            } else {
                if (Pattern(band, x, top, &c)) c = {65535.0, 65535.0, 65535.0};
            }
            Store(c, bgr + 3 * x);
        }
    }

private:
    // True for a white pixel; otherwise *c holds the colour (left black by the
    // black-and-white patterns).
    bool Pattern(std::uint32_t band, std::uint32_t x, std::uint32_t top, Rgb* c) const {
        switch (band) {
            case 0:
                return (x & 1) == 0;
            case 1:
                return (x & 2) == 0;
            case 2:
                return (top & 1) == 0;
            case 3:
                return ((x ^ top) & 1) == 0;
            case 4:
                *c = {32768.0, 32768.0, 32768.0};
                return false;
            case 5:
                *c = (x & 1) ? Rgb{0.0, 65535.0, 65535.0} : Rgb{65535.0, 0.0, 0.0};
                return false;
            case 6:
                return (x + top) % 3 == 0;
            default: {
                const double s =
                    SineTable()[static_cast<std::size_t>(chirp_[x] & (kTableSize - 1))];
                const double v = 32768.0 + 32767.0 * s;
                *c = {v, v, v};
                return false;
            }
        }
    }

    std::uint32_t square_;
    std::vector<std::int64_t> dx2_;
    std::vector<std::int32_t> chirp_;
};

// ---------------------------------------------------------------------------
// 8: saturated colours. The upper two thirds sweep the hue across the width,
// from white at the top through full saturation to black; below, two rows of
// eight patches hold exactly the 16 system colours, which a 16-colour
// conversion should reproduce without dithering.
class Colours : public Picture {
public:
    Colours(std::uint32_t width, std::uint32_t height) : Picture(width, height), hue_(width) {
        for (std::uint32_t x = 0; x < width; ++x) hue_[x] = Hue(6.0 * Centre(x, width));
    }

    void Row(std::uint32_t top, std::uint16_t* bgr) const override {
        const std::uint32_t sweepEnd = static_cast<std::uint32_t>(std::uint64_t{h_} * 2 / 3);
        if (top < sweepEnd) {
            const double v = Centre(top, sweepEnd);
            // c = white * a + hue * b
            const double a = v < 0.5 ? 65535.0 * (1.0 - 2.0 * v) : 0.0;
            const double b = v < 0.5 ? 2.0 * v : 2.0 * (1.0 - v);
            for (std::uint32_t x = 0; x < w_; ++x) {
                const Rgb& h = hue_[x];
                Store({a + b * h.r, a + b * h.g, a + b * h.b}, bgr + 3 * x);
            }
            return;
        }
        static const std::array<Rgb, 16> kPatches = {{
            {65535, 65535, 65535},
            {65535, 65535, 0},
            {0, 65535, 65535},
            {0, 65535, 0},
            {65535, 0, 65535},
            {65535, 0, 0},
            {0, 0, 65535},
            {0, 0, 0},
            {0xC0C0, 0xC0C0, 0xC0C0},
            {0x8080, 0x8080, 0},
            {0, 0x8080, 0x8080},
            {0, 0x8080, 0},
            {0x8080, 0, 0x8080},
            {0x8080, 0, 0},
            {0, 0, 0x8080},
            {0x8080, 0x8080, 0x8080},
        }};
        const std::uint32_t lower = top - sweepEnd >= (h_ - sweepEnd) / 2 ? 8 : 0;
        for (std::uint32_t x = 0; x < w_; ++x) {
            // Below 16: x * 8 / w_ is below 8.
            const auto patch = static_cast<std::size_t>(lower + std::uint64_t{x} * 8 / w_);
            Store(kPatches[patch], bgr + 3 * x);
        }
    }

private:
    std::vector<Rgb> hue_;
};

// ---------------------------------------------------------------------------
// 9: a night street. Nothing is brighter than about 8 % of full scale and the
// buildings differ from the sky by a few hundred steps, so a straight 8-bit
// conversion is nearly black while a contrast curve brings out the skyline,
// lit windows, the moon and stars from the 16-bit data.
class Night : public Picture {
public:
    Night(std::uint32_t width, std::uint32_t height)
        : Picture(width, height),
          roof_(width),
          shade_(width),
          windowColumn_(width),
          building_(width) {
        std::uint32_t x = 0;
        std::uint32_t id = 0;
        const std::uint32_t minWidth = std::max<std::uint32_t>(1, width / 40);
        const std::uint32_t spread = std::max<std::uint32_t>(1, width / 12 - minWidth + 1);
        while (x < width) {
            const std::uint32_t span = minWidth + Hash(id, 1) % spread;
            // Roof between 35 % and 72 % of the height from the top.
            const double roof = 0.35 + 0.37 * (Hash(id, 2) % 1000) / 1000.0;
            const double shade = 0x0200 + (Hash(id, 3) % 0x180);
            const std::uint32_t cell = std::max<std::uint32_t>(2, width / 160);
            for (std::uint32_t i = 0; i < span && x < width; ++i, ++x) {
                roof_[x] = static_cast<std::uint32_t>(roof * height);
                shade_[x] = shade;
                // Windows: the middle half of each cell, away from the walls.
                const std::uint32_t inCell = i % cell;
                windowColumn_[x] = (i >= cell && i + cell <= span && inCell >= cell / 4 &&
                                    inCell < cell - cell / 4)
                                       ? static_cast<std::int32_t>(i / cell)
                                       : -1;
                building_[x] = id;
            }
            ++id;
        }
    }

    void Row(std::uint32_t top, std::uint16_t* bgr) const override {
        const double v = Centre(top, h_);
        const std::uint32_t horizon = static_cast<std::uint32_t>(0.8 * h_);
        // The sky brightens a little towards the horizon's city glow.
        const Rgb skyTop = {0x0180, 0x0200, 0x0400};
        const Rgb skyLow = {0x0700, 0x0600, 0x0780};
        const Rgb sky = Mix(skyTop, skyLow, std::min(1.0, v / 0.8));
        const double moonX = 0.78 * w_;
        const double moonY = 0.18 * h_;
        const double moonR = 0.045 * h_;
        const double dy = top + 0.5 - moonY;
        const std::uint32_t cellH = std::max<std::uint32_t>(2, h_ / 80);
        const std::uint32_t inCellH = top % cellH;
        const bool windowRow = inCellH >= cellH / 4 && inCellH < cellH - cellH / 4;
        for (std::uint32_t x = 0; x < w_; ++x) {
            Rgb c;
            if (top >= horizon) {
                // Street: dark asphalt with a faint centre line.
                const double road = 0x0280 + 0x0100 * (v - 0.8) / 0.2;
                c = {road, road, road * 1.05};
                const std::uint32_t lineTop = static_cast<std::uint32_t>(0.9 * h_);
                if (top >= lineTop && top < lineTop + std::max<std::uint32_t>(1, h_ / 200) &&
                    (x / std::max<std::uint32_t>(1, w_ / 20)) % 2 == 0) {
                    c = {0x0A00, 0x0A00, 0x0900};
                }
            } else if (top >= roof_[x]) {
                const double s = shade_[x];
                c = {s, s * 0.95, s * 0.9};
                if (windowRow && windowColumn_[x] >= 0 && top >= roof_[x] + cellH) {
                    const std::uint32_t floor = (top - roof_[x]) / cellH;
                    const std::uint32_t lit =
                        Hash(building_[x], static_cast<std::uint32_t>(windowColumn_[x]), floor);
                    if (lit % 100 < 30) c = {0x1300, 0x0E00, 0x0900};
                }
            } else {
                c = sky;
                const double dx = x + 0.5 - moonX;
                const double d2 = dx * dx + dy * dy;
                if (d2 < moonR * moonR) {
                    // Slightly darker towards the limb.
                    const double limb = 1.0 - 0.25 * d2 / (moonR * moonR);
                    c = {0x1500 * limb, 0x1500 * limb, 0x1400 * limb};
                } else if (Hash(x, top, 9) % 20000 == 0) {
                    c = {0x1000, 0x1000, 0x1100};
                }
            }
            Store(c, bgr + 3 * x);
        }
    }

private:
    std::vector<std::uint32_t> roof_;
    std::vector<double> shade_;
    std::vector<std::int32_t> windowColumn_;
    std::vector<std::uint32_t> building_;
};

// ---------------------------------------------------------------------------
// 10: an evening landscape mixing everything: a sky gradient from deep blue to
// orange, the sun with a soft glow, hazy far hills, a lake mirroring the sky
// and grassy near hills with fine texture.
class Scene : public Picture {
public:
    Scene(std::uint32_t width, std::uint32_t height)
        : Picture(width, height), farTop_(width), nearTop_(width) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const double u = Centre(x, width);
            farTop_[x] =
                (0.50 + 0.05 * SineTurns(1.3 * u + 0.1) + 0.02 * SineTurns(4.7 * u)) * height;
            nearTop_[x] =
                (0.76 + 0.05 * SineTurns(0.8 * u + 0.6) + 0.015 * SineTurns(6.1 * u + 0.3)) *
                height;
        }
    }

    void Row(std::uint32_t top, std::uint16_t* bgr) const override {
        const double t = top + 0.5;
        const double lake = 0.6 * h_;
        for (std::uint32_t x = 0; x < w_; ++x) {
            Rgb c;
            if (t >= nearTop_[x]) {
                // Grass: darker at the crest, per-pixel texture a few hundred steps deep.
                const double depth = std::min(1.0, (t - nearTop_[x]) / (0.25 * h_));
                const double grain = static_cast<double>(Hash(x, top, 10) % 1536) - 768.0;
                c = Mix({0x1000, 0x3000, 0x0C00}, {0x3800, 0x7800, 0x2000}, depth);
                c = {c.r + grain, c.g + grain, c.b + grain * 0.5};
            } else if (t >= lake) {
                // The lake mirrors the sky about its shore line, dimmed.
                const Rgb s = Sky(x + 0.5, 2.0 * lake - t);
                c = {s.r * 0.6, s.g * 0.65, s.b * 0.75};
            } else if (t >= farTop_[x]) {
                const double depth = std::min(1.0, (t - farTop_[x]) / (0.1 * h_));
                c = Mix({0x6000, 0x4800, 0x6800}, {0x3000, 0x3000, 0x4800}, depth);
            } else {
                c = Sky(x + 0.5, t);
            }
            Store(c, bgr + 3 * x);
        }
    }

private:
    Rgb Sky(double x, double t) const {
        const double v = std::max(0.0, std::min(1.0, t / (0.6 * h_)));
        Rgb c = v < 0.6 ? Mix({0x1000, 0x2000, 0x6000}, {0x9000, 0x7000, 0x9000}, v / 0.6)
                        : Mix({0x9000, 0x7000, 0x9000}, {0xFF00, 0xA000, 0x5000}, (v - 0.6) / 0.4);
        const double sunX = 0.68 * w_;
        const double sunY = 0.42 * h_;
        const double sunR = 0.04 * h_;
        const double dx = x - sunX;
        const double dy = t - sunY;
        const double d2 = dx * dx + dy * dy;
        if (d2 < sunR * sunR) return {65535.0, 0xF800, 0xE000};
        // A glow falling off like 1 / (1 + d^2): smooth, wide and cheap.
        const double glow = 1.0 / (1.0 + d2 / (4.0 * sunR * sunR));
        return {c.r + (65535.0 - c.r) * glow, c.g + (0xE000 - c.g) * glow * 0.8,
                c.b + (0xA000 - c.b) * glow * 0.4};
    }

    std::vector<double> farTop_;
    std::vector<double> nearTop_;
};

std::unique_ptr<Picture> MakePicture(int number, std::uint32_t width, std::uint32_t height) {
    switch (number) {
        case 6:
            return std::make_unique<Gradients>(width, height);
        case 7:
            return std::make_unique<Detail>(width, height);
        case 8:
            return std::make_unique<Colours>(width, height);
        case 9:
            return std::make_unique<Night>(width, height);
        case 10:
            return std::make_unique<Scene>(width, height);
        default:
            return nullptr;
    }
}

}  // namespace

void SampleRow(int number, std::uint32_t width, std::uint32_t height, std::uint32_t y,
               std::uint16_t* bgr) {
    const std::unique_ptr<Picture> picture = MakePicture(number, width, height);
    if (!picture || y >= height) {
        std::fill(bgr, bgr + std::size_t{3} * width, std::uint16_t{0});
        return;
    }
    picture->Row(height - 1 - y, bgr);
}

std::string SampleComment(int number) {
    switch (number) {
        case 6:  // グラデーション 16ビット階調
            return "\x83\x4F\x83\x89\x83\x66\x81\x5B\x83\x56\x83\x87\x83\x93\x20\x31\x36\x83\x72"
                   "\x83\x62\x83\x67\x8A\x4B\x92\xB2";
        case 7:  // 細部テスト ゾーンプレートと細線
            return "\x8D\xD7\x95\x94\x83\x65\x83\x58\x83\x67\x20\x83\x5D\x81\x5B\x83\x93\x83\x76"
                   "\x83\x8C\x81\x5B\x83\x67\x82\xC6\x8D\xD7\x90\xFC";
        case 8:  // 色見本 色相とカラーバー
            return "\x90\x46\x8C\xA9\x96\x7B\x20\x90\x46\x91\x8A\x82\xC6\x83\x4A\x83\x89\x81\x5B"
                   "\x83\x6F\x81\x5B";
        case 9:  // 夜の街 暗い場面
            return "\x96\xE9\x82\xCC\x8A\x58\x20\x88\xC3\x82\xA2\x8F\xEA\x96\xCA";
        case 10:  // 夕暮れの風景
            return "\x97\x5B\x95\xE9\x82\xEA\x82\xCC\x95\x97\x8C\x69";
        default:
            return std::string();
    }
}

bool WriteSampleDisc(const std::string& dir, SampleDiscFailure* failure) {
    const std::filesystem::path folder = std::filesystem::u8path(dir) / disc::kPictureFolder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        if (failure) *failure = {folder.u8string(), kStatusOutputNotCreated, ec};
        return false;
    }
    for (int number = disc::kFirstPicture; number <= disc::kLastPicture; ++number) {
        const std::string path = (folder / disc::PictureFileName(number)).u8string();
        const std::unique_ptr<Picture> picture = MakePicture(number, kSampleWidth, kSampleHeight);
        bool created = false;
        errno = 0;
        const bool ok = WriteRq6File(
            path.c_str(), kSampleWidth, kSampleHeight, SampleComment(number),
            [&](std::uint32_t y, std::uint16_t* bgr) { picture->Row(kSampleHeight - 1 - y, bgr); },
            {}, &created);
        if (!ok) {
            // The POSIX file layer leaves the failed call's error in errno,
            // and removing the partial file does not change it.
            const int error = errno;
            if (failure) {
                *failure = {path, created ? kStatusWriteFailed : kStatusOutputNotCreated,
                            error != 0 ? std::error_code(error, std::generic_category())
                                       : std::error_code()};
            }
            return false;
        }
    }
    return true;
}

}  // namespace rq6
